// Pages of other origins against `trd serve` in a browser (headless Chromium,
// tests/support/HeadlessChromium.h): a hostile page served from another port
// of the same host and from another host name posts writes to the server as
// soon as it loads (a text/plain form, fetches with and without CORS), once
// against a server without a token and once against one the browser signed
// in to (its session cookie rides along on same-site requests). Nothing may
// be written. Skipped, with the reason, where chromium is not installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "Fixture.h"
#include "support/HeadlessChromium.h"
#include "support/ServerProcess.h"
#include "support/StoredRecords.h"
#include "support/TempTree.h"

namespace trd::server::testing {
namespace {

using json = nlohmann::json;
using test::HeadlessChromium;
using test::ServerProcess;
using test::ServerProcessOptions;
using test::TempTree;

// The insert of a record whose component names the way it was sent; its
// text holds a "=" so that a text/plain form can carry it (name=value).
std::string InsertOf(const std::string& component) {
  Rec r;
  r.component = component;
  r.value = r.source = "a=b";
  return wire::EncodeRequest({std::string(kDfm), "SetPropried", {Changes({Insert(r)})}});
}

// A page that, as it loads, sends a write to `target` each way a page of
// another origin can without the server's consent, then submits a form.
std::string HostilePage(const std::string& target) {
  const std::string form = InsertOf("FORMULARIO");
  const std::size_t eq = form.find('=');
  return "<!doctype html><html><body><script>\n"
         "const target = " + json(target + "/call").dump() + ";\n"
         "const send = (body, init) => fetch(target, Object.assign({method: 'POST', credentials: 'include', body},"
         " init)).catch(() => null);\n"
         "Promise.all([\n"
         "  send(" + json(InsertOf("FETCHSIMPLES")).dump() + ", {mode: 'no-cors'}),\n"
         "  send(" + json(InsertOf("FETCHTEXTO")).dump() + ", {mode: 'no-cors', headers: {'Content-Type': 'text/plain'}}),\n"
         "  send(" + json(InsertOf("FETCHJSON")).dump() + ", {headers: {'Content-Type': 'application/json'}}),\n"
         "]).then(() => {\n"
         "  const f = document.createElement('form');\n"
         "  f.method = 'POST'; f.action = target; f.enctype = 'text/plain';\n"
         "  const i = document.createElement('input');\n"
         "  i.type = 'hidden'; i.name = " + json(form.substr(0, eq)).dump() + "; i.value = " +
         json(form.substr(eq + 1)).dump() + ";\n"
         "  f.appendChild(i); document.body.appendChild(f); f.submit();\n"
         "});\n"
         "</script></body></html>";
}

enum class Token { None, SignedIn };

class CrossSite : public ::testing::TestWithParam<Token> {
 protected:
  void SetUp() override {
    browser_ = HeadlessChromium::Start();
    if (!browser_) GTEST_SKIP() << HeadlessChromium::kMissing;
    ServerProcessOptions options;
    options.db = db_;
    if (GetParam() == Token::SignedIn) {
      const std::string file = dir_.Write("token", std::string(kToken) + "\n");
      std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
      options.extra_args = {"--token-file", file};
    }
    server_.emplace(options);
    hostile_port_ = hostile_.bind_to_any_port("127.0.0.1");
    hostile_.Get("/", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(HostilePage(server_->Url()), "text/html");
    });
    hostile_thread_ = std::thread([this] { hostile_.listen_after_bind(); });
  }

  void TearDown() override {
    hostile_.stop();
    if (hostile_thread_.joinable()) hostile_thread_.join();
  }

  // Loads the hostile page and waits until its form has been answered.
  void Visit(const std::string& host) {
    const std::string url = "http://" + host + ":" + std::to_string(hostile_port_) + "/";
    browser_->Navigate(url);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      try {
        if (browser_->Evaluate("location.pathname === '/call' && document.readyState === 'complete'") == true)
          return;
      } catch (const std::runtime_error&) {  // the page was being replaced
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    FAIL() << "the hostile page's form was not answered";
  }

  std::vector<std::string> Stored() {
    std::vector<std::string> components;
    for (const auto& r : test::ReadRecords(db_)) components.push_back(r.key);
    return components;
  }

  static constexpr std::string_view kToken = "segredo-da-equipe";
  TempTree dir_{"trd-cross-site"};
  std::string db_ = dir_.Path("trd.sqlite");
  std::unique_ptr<HeadlessChromium> browser_;
  std::optional<ServerProcess> server_;
  httplib::Server hostile_;
  int hostile_port_ = 0;
  std::thread hostile_thread_;
};

TEST_P(CrossSite, APageOfAnotherOriginWritesNothing) {
  if (GetParam() == Token::SignedIn) {
    browser_->Navigate(server_->Url() + "/");
    browser_->EvaluateAndWait("document.querySelector('input[name=token]').value = " + json(kToken).dump() +
                              "; document.querySelector('form').submit()");
    ASSERT_EQ(browser_->Evaluate("document.querySelectorAll('table').length > 0"), true) << browser_->Text();
  }

  // Another port of the server's host (same site: SameSite cookies go
  // along), then another host name.
  Visit("127.0.0.1");
  EXPECT_THAT(browser_->Text(), ::testing::HasSubstr("another site"));
  Visit("localhost");
  EXPECT_THAT(Stored(), ::testing::IsEmpty());

  // The form's bytes are a write the server takes from a client of its own.
  const std::string form = InsertOf("FORMULARIO");
  httplib::Client own(server_->Host(), server_->Port());
  httplib::Headers headers;
  if (GetParam() == Token::SignedIn) headers.emplace("X-Trd-Token", kToken);
  auto direct = own.Post("/call", headers, form + "\r\n", "application/json");
  ASSERT_TRUE(direct);
  EXPECT_EQ(direct->status, 200) << direct->body;
  EXPECT_THAT(Stored(), ::testing::ElementsAre(::testing::HasSubstr("FORMULARIO")));
}

INSTANTIATE_TEST_SUITE_P(Token, CrossSite, ::testing::Values(Token::None, Token::SignedIn),
                         [](const auto& info) { return info.param == Token::None ? "None" : "SignedIn"; });

}  // namespace
}  // namespace trd::server::testing
