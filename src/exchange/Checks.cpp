#include "Checks.h"

#include <algorithm>

#include "Diagnostics.h"
#include "Placeholders.h"

namespace trd::exchange {
namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

std::string_view LeadingBlanks(std::string_view s) {
  std::size_t n = 0;
  while (n < s.size() && Blank(s[n])) ++n;
  return s.substr(0, n);
}

std::string_view TrailingBlanks(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && Blank(s[n - 1])) --n;
  return s.substr(n);
}

std::size_t LineBreaks(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') {
      ++n;
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else if (s[i] == '\n') {
      ++n;
    }
  }
  return n;
}

// A letter outside the placeholders: an ASCII letter or any character beyond
// ASCII.
bool HasLetter(std::string_view s, const std::vector<Placeholder>& placeholders) {
  auto p = placeholders.begin();
  for (std::size_t i = 0; i < s.size(); ++i) {
    while (p != placeholders.end() && p->at + p->written.size() <= i) ++p;
    if (p != placeholders.end() && p->at <= i) continue;
    auto b = static_cast<unsigned char>(s[i]);
    if (b >= 0x80 || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z')) return true;
  }
  return false;
}

std::vector<std::string> Arguments(const std::vector<Placeholder>& ps) {
  std::vector<std::string> out;
  for (const Placeholder& p : ps) out.push_back(p.argument);
  std::sort(out.begin(), out.end());
  return out;
}

std::string Written(const std::vector<Placeholder>& ps) {
  if (ps.empty()) return "none";
  std::string out;
  for (std::size_t i = 0; i < ps.size(); ++i) {
    if (i > 0 && ps[i].written == ps[i - 1].written && ps[i].written.find('*') != std::string::npos) continue;
    if (!out.empty()) out += ", ";
    out += ps[i].written;
  }
  return out;
}

std::string Counted(std::size_t source, std::size_t translation) {
  return std::to_string(source) + " in the source, " + std::to_string(translation) + " in the translation";
}

}  // namespace

Severity SeverityOf(CheckKind kind) {
  return kind == CheckKind::Identical ? Severity::Notice : Severity::Error;
}

std::string_view CheckName(CheckKind kind) {
  switch (kind) {
    case CheckKind::Placeholders:
      return "placeholders";
    case CheckKind::Accelerators:
      return "accelerators";
    case CheckKind::Blanks:
      return "blanks";
    case CheckKind::LineBreaks:
      return "line-breaks";
    case CheckKind::Identical:
      return "identical";
    case CheckKind::Inconsistent:
      break;
  }
  return "inconsistent";
}

std::vector<Issue> CheckTranslation(std::string_view source, std::string_view translation) {
  std::vector<Issue> out;
  auto ps = Placeholders(source);
  auto pt = Placeholders(translation);
  if (Arguments(ps) != Arguments(pt))
    out.push_back({CheckKind::Placeholders,
                   "placeholders " + Written(ps) + " in the source; " + Written(pt) + " in the translation"});
  if (std::size_t as = Accelerators(source), at = Accelerators(translation); as != at)
    out.push_back({CheckKind::Accelerators, "accelerators: " + Counted(as, at)});
  std::string blanks;
  if (LeadingBlanks(source) != LeadingBlanks(translation))
    blanks = "leading blanks " + Quoted(LeadingBlanks(source)) + " in the source, " +
             Quoted(LeadingBlanks(translation)) + " in the translation";
  if (TrailingBlanks(source) != TrailingBlanks(translation))
    blanks += (blanks.empty() ? "" : "; ") + std::string("trailing blanks ") +
              Quoted(TrailingBlanks(source)) + " in the source, " + Quoted(TrailingBlanks(translation)) +
              " in the translation";
  if (!blanks.empty()) out.push_back({CheckKind::Blanks, blanks});
  if (std::size_t ls = LineBreaks(source), lt = LineBreaks(translation); ls != lt)
    out.push_back({CheckKind::LineBreaks, "line breaks: " + Counted(ls, lt)});
  if (source == translation && HasLetter(source, ps))
    out.push_back({CheckKind::Identical, "the translation is the source text"});
  return out;
}

std::vector<Finding> CheckSourceText(std::string_view source, const std::vector<TranslatedRecord>& records) {
  // The distinct translations with their keys, the most held first.
  std::vector<std::pair<std::string, std::vector<protocol::RecordKey>>> groups;
  for (const TranslatedRecord& r : records) {
    auto g =
        std::find_if(groups.begin(), groups.end(), [&](const auto& x) { return x.first == r.translation; });
    if (g == groups.end()) g = groups.insert(groups.end(), {r.translation, {}});
    g->second.push_back(r.key);
  }
  std::stable_sort(groups.begin(), groups.end(),
                   [](const auto& a, const auto& b) { return a.second.size() > b.second.size(); });
  std::vector<Finding> out;
  for (const auto& [translation, keys] : groups)
    for (Issue& issue : CheckTranslation(source, translation))
      out.push_back({issue.kind, std::string(source), {translation}, keys, {keys.size()}, std::move(issue.detail)});
  if (groups.size() > 1) {
    Finding f{CheckKind::Inconsistent, std::string(source), {}, {}, {}, {}};
    for (const auto& [translation, keys] : groups) {
      f.translations.push_back(translation);
      f.keys.insert(f.keys.end(), keys.begin(), keys.end());
      f.held.push_back(keys.size());
    }
    f.detail = std::to_string(groups.size()) + " different translations";
    out.push_back(std::move(f));
  }
  return out;
}

bool HasErrors(const std::vector<Finding>& findings) {
  return std::any_of(findings.begin(), findings.end(),
                     [](const Finding& f) { return SeverityOf(f.kind) == Severity::Error; });
}

}  // namespace trd::exchange
