// Checks of a page as a user meets it, for the browser tests of any page
// (tests/support/HeadlessChromium.h):
//
//   AxeViolations(browser)    what the accessibility checker axe-core finds
//                             on the page shown: one line per rule broken
//                             ("color-contrast (serious): 1 × #idiomas a"),
//                             empty when none
//   SidewaysOverflow(browser) by how many CSS pixels the document is wider
//                             than its window (0: no horizontal scroll)
//
//   auto axe = trd::test::Axe::Load();
//   if (!axe) GTEST_SKIP() << trd::test::Axe::kMissing;
//   EXPECT_THAT(AxeViolations(browser, *axe), IsEmpty());
//
// axe-core is the npm package scripts/fetch-axe puts in a cache directory
// (`make test` runs it): $TRD_AXE_DIR/axe.min.js, else
// ~/.cache/trd/axe-core-VERSION/axe.min.js ($XDG_CACHE_HOME for ~/.cache).
// The script goes into the page through the DevTools protocol
// (Runtime.evaluate), which the page's Content-Security-Policy does not
// bind; the page's own scripts stay under the policy.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "HeadlessChromium.h"

namespace trd::test {

struct Axe {
  static constexpr const char* kVersion = "4.14.1";  // as scripts/fetch-axe pins it
  static constexpr const char* kMissing =
      "axe-core is not installed (scripts/fetch-axe installs it with npm; `make test` runs it)";

  std::string source;  // axe.min.js

  static std::filesystem::path Path() {
    if (const char* dir = std::getenv("TRD_AXE_DIR"); dir && *dir) return std::filesystem::path(dir) / "axe.min.js";
    std::filesystem::path cache;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) cache = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) cache = std::filesystem::path(home) / ".cache";
    else return {};
    return cache / "trd" / (std::string("axe-core-") + kVersion) / "axe.min.js";
  }

  // The checker, or none when it was not installed.
  static std::optional<Axe> Load() {
    std::ifstream in(Path(), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str().empty()) return std::nullopt;
    return Axe{text.str()};
  }
};

// The rules of the WCAG 2.x levels A and AA and axe's best practices that
// the page shown breaks, one line each: the rule, its impact, how many
// nodes, and the first node's selector.
inline std::vector<std::string> AxeViolations(HeadlessChromium& browser, const Axe& axe) {
  if (!browser.Evaluate("typeof axe === 'object'").get<bool>()) browser.Evaluate(axe.source + "\n;true");
  const nlohmann::json found = browser.Evaluate(
      "axe.run(document, {resultTypes: ['violations']}).then(r => r.violations.map(v => v.id + ' (' + v.impact + "
      "'): ' + v.nodes.length + ' × ' + (v.nodes.length ? v.nodes[0].target.join(' ') + ' — ' + "
      "v.nodes[0].failureSummary.replace(/\\s+/g, ' ') : '')))");
  std::vector<std::string> out;
  for (const auto& v : found) out.push_back(v.get<std::string>());
  return out;
}

// How many CSS pixels the document is wider than the window.
inline int SidewaysOverflow(HeadlessChromium& browser) {
  return browser.Evaluate("Math.max(0, document.documentElement.scrollWidth - window.innerWidth)").get<int>();
}

}  // namespace trd::test
