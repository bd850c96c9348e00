#include "Services.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>

#include "Causes.h"
#include "platform/Text.h"

namespace trd::shared {
namespace {

class StderrSink final : public Dialogs {
 public:
  MsgAnswer Show(std::string_view text, MsgType type, MsgButtons buttons) override {
    std::cerr << text << "\n";
    return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
  }
};

class NoIndicator final : public BusyIndicator {
 public:
  void Show(void*, ShowAviKind) override {}
  void Hide() override {}
};

}  // namespace

// HeldBusy's stand-in for the indicator.
class HeldBusy::Held final : public BusyIndicator {
 public:
  explicit Held(std::shared_ptr<BusyIndicator> indicator) : indicator_(std::move(indicator)) {}
  void Show(void* window, ShowAviKind kind) override {
    if (shown_ == kind) return;
    indicator_->Show(window, kind);
    shown_ = kind;
  }
  void Hide() override {}
  void Release() {
    if (shown_) indicator_->Hide();
  }

 private:
  std::shared_ptr<BusyIndicator> indicator_;
  std::optional<ShowAviKind> shown_;
};

HeldBusy::HeldBusy(Services& services)
    : services_(services), indicator_(services.busy), held_(std::make_shared<Held>(indicator_)) {
  services_.busy = held_;
}

HeldBusy::~HeldBusy() {
  services_.busy = indicator_;
  try {
    held_->Release();
  } catch (...) {  // hiding is best effort on the way out
  }
}

std::shared_ptr<Dialogs> StderrDialogs() { return std::make_shared<StderrSink>(); }
std::shared_ptr<BusyIndicator> NoBusyIndicator() { return std::make_shared<NoIndicator>(); }

void Services::MensErro(std::string_view text, bool) const {
  dialogs->Show(text, MsgType::Error, MsgButtons::Ok);
  throw Abort();
}

const Value& Services::CheckResultServ(const Value& result, bool, int) const {
  if (const auto* f = std::get_if<ServerFailure>(&result)) {
    if (result_check == ReportFailure::Show)
      dialogs->Show(ErrorMessage(ServerFailureError(f->message)), MsgType::Error, MsgButtons::Ok);
    protocol::RaiseFailure(*f);
  }
  return result;
}

void Services::ActiveShowAvi(ShowAviKind kind) const { busy->Show(main_window, kind); }
void Services::DeactiveShowAvi() const { busy->Hide(); }

BusyGuard::BusyGuard(const Services& services, HideBusy when)
    : services_(services), when_(when), exceptions_(std::uncaught_exceptions()) {}

BusyGuard::BusyGuard(const Services& services, ShowAviKind kind) : BusyGuard(services, HideBusy::Always) {
  services_.ActiveShowAvi(kind);  // the delegated constructor is done: a throw here runs ~BusyGuard
}

BusyGuard::~BusyGuard() {
  const bool failing = std::uncaught_exceptions() > exceptions_;
  if (when_ == HideBusy::Always || (when_ == HideBusy::OnFailure && failing)) services_.DeactiveShowAvi();
}

bool EmptyString(std::string_view s) { return s.empty(); }
std::string RTrim(std::string_view s) { return std::string(text::TrimTrailingBlanks(s)); }

std::optional<Endpoint> ServerSetting() {
  const char* env = std::getenv("TRD_SERVER");
  if (!env || !*env) return std::nullopt;
  try {
    return ParseServerAddress(env);
  } catch (const Error& e) {
    throw Error(std::string("TRD_SERVER: ") + e.what());
  }
}

Endpoint ServerFromEnvironment() { return ServerSetting().value_or(Endpoint{"127.0.0.1", kDefaultPort}); }

}  // namespace trd::shared
