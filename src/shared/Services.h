// Adapter to the client's shared component library: the few services the
// screens and the engine use. User-facing parts (dialogs, the busy indicator)
// go through replaceable sinks so that the screen shows real widgets, the
// command line prints, and tests answer without a person.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Errors.h"
#include "platform/Value.h"

namespace trd::shared {

// ---- Dialogs ---------------------------------------------------------------

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

// The process-wide dialog sink; the default writes to standard error and
// answers Ok (and No to questions). Not owned by the caller after Set.
void SetDialogs(std::shared_ptr<Dialogs> dialogs);
Dialogs& GetDialogs();

// Raised by MensErro after its message was shown: ends the calling handler
// silently (the screen's event loop swallows it).
class Abort : public Error {
 public:
  Abort() : Error("operation aborted") {}
};

// Shows `text` as an error and ends the calling handler (throws Abort).
[[noreturn]] void MensErro(std::string_view text, bool flag = true);

// ---- Result check ----------------------------------------------------------

// Raised by the result check for a failure the server answered.
class ServerFailureError : public ServerError {
 public:
  explicit ServerFailureError(const std::string& msg) : ServerError(msg) {}
};

enum class ReportFailure { Silent, Show };
// Sets whether CheckResultServ shows a failure in a dialog before raising it
// (the screen: Show; the command line and tests: Silent).
void SetResultCheckReporting(ReportFailure mode);
ReportFailure ResultCheckReporting();

// Returns the payload of a successful result. A ServerFailure result is
// reported and raised as ServerFailureError carrying the server's message.
// `flag` and `n` are kept for the callers' sake: true and 0 everywhere.
const Value& CheckResultServ(const Value& result, bool flag = true, int n = 0);

// ---- Busy indicator --------------------------------------------------------

// Kinds of animation of the client's TShowAvi; this system uses 0, 1 and 6.
enum class ShowAviKind { Search = 0, Transfer = 1, Process = 6 };

class BusyIndicator {
 public:
  virtual ~BusyIndicator() = default;
  virtual void Show(void* window, ShowAviKind kind) = 0;
  virtual void Hide() = 0;  // harmless when nothing is shown
};

void SetBusyIndicator(std::shared_ptr<BusyIndicator> indicator);
BusyIndicator& GetBusyIndicator();
// The host's main window, handed to ActiveShowAvi by callers that have none
// of their own.
void SetMainWindow(void* window);
void* MainWindow();

void ActiveShowAvi(void* window, ShowAviKind kind);
void DeactiveShowAvi();

// Hides the busy indicator when the scope ends: on every way out, or only
// when an exception leaves the scope.
enum class HideBusy { Always, OnFailure };
class BusyGuard {
 public:
  explicit BusyGuard(HideBusy when = HideBusy::Always);
  // Shows the indicator of `kind` over the main window first; hides it on
  // every way out, a failure to show it included.
  explicit BusyGuard(ShowAviKind kind);
  ~BusyGuard();
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;

 private:
  HideBusy when_;
  int exceptions_;  // uncaught at construction
};

// ---- Text helpers ----------------------------------------------------------

// True for the empty text only (a text of blanks is not empty).
bool EmptyString(std::string_view s);
// The text without trailing blanks.
std::string RTrim(std::string_view s);
// The last n characters (the whole text when shorter).
std::string Right(std::string_view s, int n);

// ---- Server address --------------------------------------------------------

// Host and port of the translation server: from TRD_SERVER
// ("http://host:port" or "host:port") when set, else the local default
// 127.0.0.1:8211. A malformed TRD_SERVER raises Error.
std::string WebURL();
int WebPort();
constexpr int kDefaultPort = 8211;

}  // namespace trd::shared
