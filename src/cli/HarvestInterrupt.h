// Ctrl-C during `trd harvest`: the cancel button of a run without a display.
//
// InterruptScope makes Ctrl-C set a flag (Interrupted()) for as long as it
// lives; the run polls it and stops soon after (a form or report file at its
// next text, no later file). The first Ctrl-C restores the previous action,
// so a second one ends the process at once.
//
// CancelWatchdog covers what cannot stop there: a server that does not
// answer (a look-up waits up to the read timeout), a long conversion, a
// version stamp that hangs. It ends the process kCancelGrace after the first
// Ctrl-C unless the command is over by then, with exit status 130 as for a
// cancelled run. Ending there leaves nothing half-applied: the server applies
// every change whole or not at all, and an in-process SQLite database rolls
// an unfinished transaction back when it is next opened.
#pragma once

#include <signal.h>

#include <chrono>
#include <thread>

namespace trd::cli {

// The exit status of a cancelled command.
inline constexpr int kCancelledStatus = 130;

// Whether Ctrl-C came since the latest InterruptScope was entered.
bool Interrupted();

class InterruptScope {
 public:
  InterruptScope();
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  struct sigaction saved_ {};
};

class CancelWatchdog {
 public:
  static constexpr std::chrono::milliseconds kCancelGrace{800};

  CancelWatchdog();
  ~CancelWatchdog();
  CancelWatchdog(const CancelWatchdog&) = delete;
  CancelWatchdog& operator=(const CancelWatchdog&) = delete;

 private:
  char Next(int timeout_ms);
  void Watch();
  [[noreturn]] static void Expire();

  int fds_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace trd::cli
