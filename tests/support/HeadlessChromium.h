// A headless Chromium driven over its DevTools protocol, for tests that look
// at a page as a browser shows it: navigate, read the DOM through
// expressions, submit forms, keep cookies, take a screenshot.
//
//   auto browser = trd::test::HeadlessChromium::Start();   // null: no chromium
//   if (!browser) GTEST_SKIP() << trd::test::HeadlessChromium::kMissing;
//   browser->Navigate("http://127.0.0.1:8211/");
//   nlohmann::json n = browser->Evaluate("document.querySelectorAll('tr').length");
//
// The browser runs in its own process group with a private profile in a
// temporary directory (cookies live there for the object's life); the
// destructor kills the group and removes the profile. It listens for the
// protocol on a loopback port it picks itself (announced in the profile's
// DevToolsActivePort file); the test talks to one page target, attached
// with a flat session, over a WebSocket (Boost.Beast). Every wait is
// bounded (std::runtime_error when it runs out).
//
// Expressions run through Runtime.evaluate, which the page's
// Content-Security-Policy does not bind: a test reads and acts on the page
// as a user would, while the page's own scripts stay under the policy.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "TempTree.h"

extern char** environ;

namespace trd::test {

class HeadlessChromium {
 public:
  static constexpr const char* kMissing =
      "chromium is not installed (Debian package chromium; scripts/install-deps installs it)";

  // The chromium executable: $TRD_CHROMIUM, else chromium or chromium-browser
  // on the PATH; empty when there is none.
  static std::string Executable() {
    if (const char* e = std::getenv("TRD_CHROMIUM"); e && *e) return e;
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
      for (const char* name : {"chromium", "chromium-browser"}) {
        auto candidate = std::filesystem::path(dir) / name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
      }
    return {};
  }

  // Starts a browser with a `width` x `height` window; null when chromium
  // is not installed. Throws std::runtime_error when it does not come up.
  static std::unique_ptr<HeadlessChromium> Start(int width = 1280, int height = 900) {
    std::string exe = Executable();
    if (exe.empty()) return nullptr;
    return std::make_unique<HeadlessChromium>(exe, width, height);
  }

  HeadlessChromium(const std::string& exe, int width, int height) : profile_(std::make_unique<TempTree>("trd-chromium")) {
    Spawn(exe, width, height);
    try {
      Connect(width, height);
    } catch (...) {
      Kill();
      throw;
    }
  }
  ~HeadlessChromium() { Kill(); }
  HeadlessChromium(const HeadlessChromium&) = delete;
  HeadlessChromium& operator=(const HeadlessChromium&) = delete;

  // Loads `url` and waits for its load event.
  void Navigate(const std::string& url) {
    events_.clear();
    nlohmann::json r = Command("Page.navigate", {{"url", url}});
    if (r.contains("errorText") && !r["errorText"].get<std::string>().empty())
      throw std::runtime_error("HeadlessChromium: cannot load " + url + ": " + r["errorText"].get<std::string>());
    WaitForEvent("Page.loadEventFired");
  }

  // Runs `expression` in the page and returns its value (JSON-serialisable
  // values only). Throws std::runtime_error when it throws.
  nlohmann::json Evaluate(const std::string& expression) {
    nlohmann::json r = Command("Runtime.evaluate",
                               {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}});
    if (r.contains("exceptionDetails"))
      throw std::runtime_error("HeadlessChromium: " + expression + " threw " + r["exceptionDetails"].dump());
    const nlohmann::json& result = r["result"];
    return result.contains("value") ? result["value"] : nlohmann::json();
  }

  // Runs `expression`, which starts a navigation (a form's submission, a
  // click on a link), and waits for the new page's load event.
  void EvaluateAndWait(const std::string& expression) {
    events_.clear();
    Evaluate(expression);
    WaitForEvent("Page.loadEventFired");
  }

  // Gives the page a `width` x `height` window (CSS pixels) from now on; the
  // page shown lays itself out again.
  void Resize(int width, int height) {
    Command("Emulation.setDeviceMetricsOverride",
            {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}});
  }

  // The page's text as the user reads it (innerText of the body).
  std::string Text() { return Evaluate("document.body ? document.body.innerText : ''").get<std::string>(); }

  // Writes a PNG of the whole page (beyond the window when it is taller).
  void Screenshot(const std::string& path) {
    nlohmann::json r = Command("Page.captureScreenshot", {{"format", "png"}, {"captureBeyondViewport", true}});
    std::ofstream out(path, std::ios::binary);
    out << Base64Decoded(r["data"].get<std::string>());
    if (!out.flush()) throw std::runtime_error("HeadlessChromium: cannot write " + path);
  }

  // Whether a JavaScript dialog (alert, confirm, prompt) opened since the
  // last navigation: the trace of a script that should not have run.
  bool DialogOpened() {
    Drain();
    for (const auto& e : events_)
      if (e.value("method", "") == "Page.javascriptDialogOpening") return true;
    return false;
  }

 private:
  using tcp = boost::asio::ip::tcp;
  static constexpr auto kTimeout = std::chrono::seconds(30);

  void Spawn(const std::string& exe, int width, int height) {
    std::vector<std::string> args{exe,
                                  "--headless=new",
                                  "--no-sandbox",  // tests may run as root, where the sandbox refuses to start
                                  "--disable-gpu",
                                  "--disable-dev-shm-usage",
                                  "--no-first-run",
                                  "--no-default-browser-check",
                                  "--disable-extensions",
                                  "--disable-background-networking",
                                  "--disable-component-update",
                                  "--disable-sync",
                                  "--hide-scrollbars",
                                  "--force-device-scale-factor=1",
                                  "--lang=pt-BR",
                                  "--window-size=" + std::to_string(width) + "," + std::to_string(height),
                                  "--remote-debugging-address=127.0.0.1",
                                  "--remote-debugging-port=0",
                                  "--user-data-dir=" + profile_->Path("profile"),
                                  "about:blank"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const std::string log = profile_->Path("chromium.log");
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);  // its own group: Kill() takes the renderers too
    const int rc = posix_spawn(&pid_, exe.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      pid_ = -1;
      throw std::runtime_error("HeadlessChromium: cannot start " + exe);
    }
  }

  // Reads the port from DevToolsActivePort, opens the WebSocket to the
  // browser, makes a page target and attaches to it.
  void Connect(int width, int height) {
    const std::filesystem::path port_file = profile_->Path("profile/DevToolsActivePort");
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    std::string port, path;
    while (true) {
      std::ifstream in(port_file);
      if (in && std::getline(in, port) && std::getline(in, path) && !port.empty() && !path.empty()) break;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        throw std::runtime_error("HeadlessChromium: chromium ended at start: " + Log());
      }
      if (std::chrono::steady_clock::now() > deadline)
        throw std::runtime_error("HeadlessChromium: chromium did not open its DevTools port: " + Log());
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    tcp::resolver resolver(io_);
    auto endpoints = resolver.resolve("127.0.0.1", port);
    boost::asio::connect(ws_.next_layer(), endpoints);
    ws_.set_option(boost::beast::websocket::stream_base::decorator(
        [](boost::beast::websocket::request_type&) {}));
    ws_.read_message_max(64 << 20);  // screenshots of long pages
    ws_.handshake("127.0.0.1:" + port, path);

    const std::string target = Command("Target.createTarget", {{"url", "about:blank"}}, {})["targetId"];
    session_ = Command("Target.attachToTarget", {{"targetId", target}, {"flatten", true}}, {})["sessionId"];
    Command("Page.enable", nlohmann::json::object());
    Command("Runtime.enable", nlohmann::json::object());
    Command("Emulation.setDeviceMetricsOverride",
            {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}});
  }

  // Sends a command to the page's session (or, `session` given, to that
  // one; "" for the browser) and returns its result.
  nlohmann::json Command(const std::string& method, const nlohmann::json& params) {
    return Command(method, params, session_);
  }
  nlohmann::json Command(const std::string& method, const nlohmann::json& params, const std::string& session) {
    const int id = ++last_id_;
    nlohmann::json message = {{"id", id}, {"method", method}, {"params", params}};
    if (!session.empty()) message["sessionId"] = session;
    ws_.text(true);
    ws_.write(boost::asio::buffer(message.dump()));
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    while (true) {
      nlohmann::json in = Read(deadline, method);
      if (in.contains("id") && in["id"] == id) {
        if (in.contains("error")) throw std::runtime_error("HeadlessChromium: " + method + ": " + in["error"].dump());
        return in["result"];
      }
      if (in.contains("method")) events_.push_back(std::move(in));
    }
  }

  void WaitForEvent(const std::string& name) {
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    while (true) {
      for (const auto& e : events_)
        if (e.value("method", "") == name) return;
      nlohmann::json in = Read(deadline, name);
      if (in.contains("method")) events_.push_back(std::move(in));
    }
  }

  // Takes the events already sent without waiting for more.
  void Drain() {
    while (true) {
      try {
        nlohmann::json in = Read(std::chrono::steady_clock::now() + std::chrono::milliseconds(200), "events");
        if (in.contains("method")) events_.push_back(std::move(in));
      } catch (const std::runtime_error&) {
        return;
      }
    }
  }

  // One message, by `deadline` (std::runtime_error naming `what` after it).
  nlohmann::json Read(std::chrono::steady_clock::time_point deadline, const std::string& what) {
    boost::beast::flat_buffer buffer;
    boost::beast::error_code result = boost::asio::error::would_block;
    ws_.async_read(buffer, [&](boost::beast::error_code ec, std::size_t) { result = ec; });
    io_.restart();
    io_.run_until(deadline);
    if (result == boost::asio::error::would_block) {
      // Cancelling the read would leave the WebSocket unusable; close it: a
      // test that timed out is over.
      boost::beast::error_code ignored;
      ws_.next_layer().close(ignored);
      io_.restart();
      io_.run();
      throw std::runtime_error("HeadlessChromium: no answer for " + what + " in time");
    }
    if (result) throw std::runtime_error("HeadlessChromium: reading the DevTools socket: " + result.message());
    return nlohmann::json::parse(boost::beast::buffers_to_string(buffer.data()));
  }

  std::string Log() {
    std::ifstream in(profile_->Path("chromium.log"));
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
  }

  void Kill() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  static std::string Base64Decoded(const std::string& in) {
    std::string out;
    int value = 0, bits = -8;
    for (const unsigned char c : in) {
      int d;
      if (c >= 'A' && c <= 'Z') d = c - 'A';
      else if (c >= 'a' && c <= 'z') d = c - 'a' + 26;
      else if (c >= '0' && c <= '9') d = c - '0' + 52;
      else if (c == '+') d = 62;
      else if (c == '/') d = 63;
      else break;
      value = ((value << 6) | d) & 0xFFFFFF;
      bits += 6;
      if (bits >= 0) {
        out += char((value >> bits) & 0xFF);
        bits -= 8;
      }
    }
    return out;
  }

  std::unique_ptr<TempTree> profile_;
  pid_t pid_ = -1;
  boost::asio::io_context io_;
  boost::beast::websocket::stream<tcp::socket> ws_{io_};
  std::string session_;
  int last_id_ = 0;
  std::deque<nlohmann::json> events_;
};

}  // namespace trd::test
