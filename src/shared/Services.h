// Adapter to the client's shared component library: the few services the
// screens and the engine use. What they show the user goes through sinks
// (dialogs, the busy indicator) held by a Services object that the caller
// owns and hands down: the screen module holds real widgets, the command
// line prints, tests answer without a person.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Endpoint.h"
#include "platform/Errors.h"
#include "platform/Value.h"
#include "protocol/Failures.h"

namespace trd::shared {

// ---- Sinks -----------------------------------------------------------------

enum class MsgType { Warning, Error, Information, Confirmation };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Shows a modal message and returns the button pressed.
  virtual MsgAnswer Show(std::string_view text, MsgType type, MsgButtons buttons) = 0;
  // The same with further text the user may unfold (a run's summary under
  // its closing message). Sinks that cannot offer it show the message alone.
  virtual MsgAnswer ShowDetailed(std::string_view text, std::string_view details, MsgType type,
                                 MsgButtons buttons) {
    return Show(text, type, buttons);
  }
};

// Writes to standard error and answers Ok (No to a question).
std::shared_ptr<Dialogs> StderrDialogs();

// Kinds of animation of the client's busy indicator; this system uses 0, 1
// and 6.
enum class ShowAviKind { Search = 0, Transfer = 1, Process = 6 };

class BusyIndicator {
 public:
  virtual ~BusyIndicator() = default;
  virtual void Show(void* window, ShowAviKind kind) = 0;
  virtual void Hide() = 0;  // harmless when nothing is shown
};

// Shows nothing.
std::shared_ptr<BusyIndicator> NoBusyIndicator();

// What a screen lends to the code reading its files: the status line, and
// the processing of pending screen events.
using StatusSink = std::function<void(const std::string&)>;
using EventPump = std::function<void()>;

// Raised by MensErro after its message was shown: ends the calling handler
// silently (the screen's event loop swallows it).
class Abort : public Error {
 public:
  Abort() : Error("operation aborted") {}
};

// Raised by the result check for a failure the server answered: of the type
// its code names (protocol/Failures.h).
using protocol::ServerFailureError;

// Whether the result check shows a failure in a dialog before raising it
// (the screen: Show; the command line and tests: Silent).
enum class ReportFailure { Silent, Show };

// ---- The services ----------------------------------------------------------

// The library's services on one set of sinks. Not thread-safe; one per
// screen module, command or test.
struct Services {
  std::shared_ptr<Dialogs> dialogs = StderrDialogs();
  std::shared_ptr<BusyIndicator> busy = NoBusyIndicator();
  void* main_window = nullptr;  // the host's main window, under the busy indicator
  ReportFailure result_check = ReportFailure::Silent;

  // Shows `text` as an error and ends the calling handler (throws Abort).
  [[noreturn]] void MensErro(std::string_view text, bool flag = true) const;

  // Returns the payload of a successful result. A ServerFailure result is
  // reported (see result_check; the dialog puts the Portuguese cause before
  // the server's message, shared/Causes.h) and raised as the exception of
  // its code (protocol::RaiseFailure: a ServerFailureError carrying the
  // server's message). `flag` and `n` are kept for the callers' sake:
  // true and 0 everywhere.
  const Value& CheckResultServ(const Value& result, bool flag = true, int n = 0) const;

  // The busy indicator of `kind` over the main window, and off again.
  void ActiveShowAvi(ShowAviKind kind) const;
  void DeactiveShowAvi() const;
};

// Hides the busy indicator when the scope ends: on every way out, only when
// an exception leaves the scope, or not at all (for a caller that decides
// at run time).
enum class HideBusy { Always, OnFailure, Never };
class BusyGuard {
 public:
  explicit BusyGuard(const Services& services, HideBusy when = HideBusy::Always);
  // Shows the indicator of `kind` over the main window first; hides it on
  // every way out, a failure to show it included.
  BusyGuard(const Services& services, ShowAviKind kind);
  ~BusyGuard();
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;

 private:
  const Services& services_;
  HideBusy when_;
  int exceptions_;  // uncaught at construction
};

// Keeps the result check silent for the scope (the caller reports the
// failure itself, once) and restores it on every way out.
class QuietResultCheck {
 public:
  explicit QuietResultCheck(Services& services) : services_(services), saved_(services.result_check) {
    services_.result_check = ReportFailure::Silent;
  }
  ~QuietResultCheck() { services_.result_check = saved_; }
  QuietResultCheck(const QuietResultCheck&) = delete;
  QuietResultCheck& operator=(const QuietResultCheck&) = delete;

 private:
  Services& services_;
  ReportFailure saved_;
};

// Keeps the busy indicator up for the scope (a screen's run, which makes a
// call per file or part): from the first Show on, a Show of the kind shown
// and every Hide do nothing, so that the indicator is not put up and taken
// down, repainting the window each time, for every call; a Show of another
// kind changes it. The scope's end hides it (when it was shown) and puts the
// indicator back on every way out.
class HeldBusy {
 public:
  explicit HeldBusy(Services& services);
  ~HeldBusy();
  HeldBusy(const HeldBusy&) = delete;
  HeldBusy& operator=(const HeldBusy&) = delete;

 private:
  class Held;
  Services& services_;
  std::shared_ptr<BusyIndicator> indicator_;
  std::shared_ptr<Held> held_;
};

// ---- Text helpers ----------------------------------------------------------

// True for the empty text only (a text of blanks is not empty).
bool EmptyString(std::string_view s);
// The text without trailing blanks.
std::string RTrim(std::string_view s);

// ---- Server address --------------------------------------------------------

using trd::kDefaultPort;

// The translation server's address as the user set it in TRD_SERVER
// ("http://host:port", "host:port", or "host" for kDefaultPort); nullopt
// when TRD_SERVER is unset or empty. Read by the program's edges (the screen
// as it opens its connections, the command line) and handed down. A
// malformed TRD_SERVER raises Error naming it.
std::optional<Endpoint> ServerSetting();
// ServerSetting(), else 127.0.0.1:8211.
Endpoint ServerFromEnvironment();

}  // namespace trd::shared
