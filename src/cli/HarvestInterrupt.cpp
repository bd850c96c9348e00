#include "HarvestInterrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/Errors.h"

namespace trd::cli {
namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_interrupted = 0;
volatile sig_atomic_t g_watchdog_fd = -1;  // write end of the watchdog's pipe, or -1

extern "C" void OnInterrupt(int) {
  const int saved_errno = errno;
  g_interrupted = 1;
  if (const int fd = g_watchdog_fd; fd >= 0) {
    const char wake = 'i';
    [[maybe_unused]] ssize_t n = write(fd, &wake, 1);
  }
  errno = saved_errno;
}

}  // namespace

bool Interrupted() { return g_interrupted != 0; }

InterruptScope::InterruptScope() {
  g_interrupted = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGINT, &action, &saved_);
}

InterruptScope::~InterruptScope() { sigaction(SIGINT, &saved_, nullptr); }

CancelWatchdog::CancelWatchdog() {
  if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) throw Error(std::string("cannot make a pipe: ") + std::strerror(errno));
  // The watchdog thread does not take SIGINT: the handler then runs on the
  // main thread, which alone closes the pipe (after clearing g_watchdog_fd).
  sigset_t block, saved;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  pthread_sigmask(SIG_BLOCK, &block, &saved);
  thread_ = std::thread([this] { Watch(); });
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  g_watchdog_fd = fds_[1];
}

CancelWatchdog::~CancelWatchdog() {
  g_watchdog_fd = -1;
  const char done = 'd';
  [[maybe_unused]] ssize_t n = write(fds_[1], &done, 1);
  thread_.join();
  close(fds_[0]);
  close(fds_[1]);
}

// The next byte of the pipe: 'i' a Ctrl-C, 'd' done; 0 when `timeout_ms`
// (negative: none) passed first.
char CancelWatchdog::Next(int timeout_ms) {
  pollfd p{fds_[0], POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return 0;
  char c = 0;
  return read(fds_[0], &c, 1) == 1 ? c : 0;
}

void CancelWatchdog::Watch() {
  char c;
  while ((c = Next(-1)) != 'i')
    if (c == 'd') return;
  const auto deadline = Clock::now() + kCancelGrace;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) Expire();
    if (Next(int(left.count()) + 1) == 'd') return;
  }
}

void CancelWatchdog::Expire() {
  static constexpr char kMessage[] =
      "\ntrd harvest: cancelled: the run did not stop within a second of Ctrl-C and ends here; every "
      "change the server received is applied whole or not at all: run the harvest again to complete it\n";
  [[maybe_unused]] ssize_t n = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  _exit(kCancelledStatus);
}

}  // namespace trd::cli
