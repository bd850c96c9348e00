#include "Services.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <mutex>

#include "platform/Text.h"

namespace trd::shared {
namespace {

class StderrDialogs final : public Dialogs {
 public:
  MsgAnswer Show(std::string_view text, MsgType type, MsgButtons buttons) override {
    std::cerr << text << "\n";
    return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
  }
};

class NoBusyIndicator final : public BusyIndicator {
 public:
  void Show(void*, ShowAviKind) override {}
  void Hide() override {}
};

std::mutex g_mutex;
std::shared_ptr<Dialogs> g_dialogs = std::make_shared<StderrDialogs>();
std::shared_ptr<BusyIndicator> g_busy = std::make_shared<NoBusyIndicator>();
std::atomic<void*> g_main_window{nullptr};
std::atomic<ReportFailure> g_report{ReportFailure::Silent};

struct Address {
  std::string host;
  int port;
};

Address ParseServer() {
  const char* env = std::getenv("TRD_SERVER");
  if (!env || !*env) return {"127.0.0.1", kDefaultPort};
  std::string_view s = env;
  if (s.substr(0, 7) == "http://") s.remove_prefix(7);
  while (!s.empty() && s.back() == '/') s.remove_suffix(1);
  auto colon = s.rfind(':');
  std::string host(colon == std::string_view::npos ? s : s.substr(0, colon));
  int port = 80;
  if (colon != std::string_view::npos) {
    std::string_view p = s.substr(colon + 1);
    port = 0;
    for (char c : p) {
      if (c < '0' || c > '9' || port > 65535) throw Error(std::string("TRD_SERVER is not http://host:port: ") + env);
      port = port * 10 + (c - '0');
    }
    if (p.empty() || port == 0 || port > 65535) throw Error(std::string("TRD_SERVER has no valid port: ") + env);
  }
  if (host.empty()) throw Error(std::string("TRD_SERVER has no host: ") + env);
  return {host, port};
}

}  // namespace

void SetDialogs(std::shared_ptr<Dialogs> dialogs) {
  std::lock_guard lock(g_mutex);
  g_dialogs = dialogs ? std::move(dialogs) : std::make_shared<StderrDialogs>();
}

Dialogs& GetDialogs() {
  std::lock_guard lock(g_mutex);
  return *g_dialogs;
}

void MensErro(std::string_view text, bool) {
  GetDialogs().Show(text, MsgType::Error, MsgButtons::Ok);
  throw Abort();
}

void SetResultCheckReporting(ReportFailure mode) { g_report = mode; }
ReportFailure ResultCheckReporting() { return g_report; }

const Value& CheckResultServ(const Value& result, bool, int) {
  if (const auto* f = std::get_if<ServerFailure>(&result)) {
    if (g_report == ReportFailure::Show)
      GetDialogs().Show(f->message, MsgType::Error, MsgButtons::Ok);
    throw ServerFailureError(f->message);
  }
  return result;
}

void SetBusyIndicator(std::shared_ptr<BusyIndicator> indicator) {
  std::lock_guard lock(g_mutex);
  g_busy = indicator ? std::move(indicator) : std::make_shared<NoBusyIndicator>();
}

BusyIndicator& GetBusyIndicator() {
  std::lock_guard lock(g_mutex);
  return *g_busy;
}

void SetMainWindow(void* window) { g_main_window = window; }
void* MainWindow() { return g_main_window; }

void ActiveShowAvi(void* window, ShowAviKind kind) { GetBusyIndicator().Show(window, kind); }
void DeactiveShowAvi() { GetBusyIndicator().Hide(); }

BusyGuard::BusyGuard(HideBusy when) : when_(when), exceptions_(std::uncaught_exceptions()) {}

BusyGuard::BusyGuard(ShowAviKind kind) : BusyGuard(HideBusy::Always) {
  ActiveShowAvi(MainWindow(), kind);  // the delegated constructor is done: a throw here runs ~BusyGuard
}

BusyGuard::~BusyGuard() {
  if (when_ == HideBusy::Always || std::uncaught_exceptions() > exceptions_) DeactiveShowAvi();
}

bool EmptyString(std::string_view s) { return s.empty(); }
std::string RTrim(std::string_view s) { return std::string(text::TrimTrailingBlanks(s)); }
std::string Right(std::string_view s, int n) {
  return n <= 0 ? std::string() : std::string(text::Right(s, std::size_t(n)));
}

std::string WebURL() { return ParseServer().host; }
int WebPort() { return ParseServer().port; }

}  // namespace trd::shared
