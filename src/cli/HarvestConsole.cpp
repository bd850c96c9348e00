#include "HarvestConsole.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <iostream>
#include <sstream>

#include "platform/Path.h"
#include "platform/Text.h"

namespace trd::cli {
namespace {

std::size_t TerminalWidth() {
  winsize w{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &w) == 0 && w.ws_col > 20) return w.ws_col;
  return 80;
}

}  // namespace

Console::Console(const store::Store& store, bool yes, std::string_view prefix)
    : store_(store),
      yes_(yes),
      prefix_(prefix),
      display_(isatty(STDERR_FILENO) ? Display::Bar : Display::Lines),
      interactive_(isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {}

shared::MsgAnswer Console::Show(std::string_view text, shared::MsgType, shared::MsgButtons buttons) {
  ClearBar();
  if (buttons == shared::MsgButtons::Ok) {
    std::cerr << prefix_ << text << std::endl;
    return shared::MsgAnswer::Ok;
  }
  if (yes_) {
    std::cerr << text << " [s/N] s (--yes)" << std::endl;
    return shared::MsgAnswer::Yes;
  }
  if (!interactive_) {
    std::cerr << text << std::endl;
    throw QuestionRefused("no terminal to answer on; pass --yes to answer Yes");
  }
  std::cerr << text << " [s/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return shared::MsgAnswer::No;
  answer = text::UpperAscii(text::Trim(answer));
  bool agreed = answer == "S" || answer == "SIM" || answer == "Y" || answer == "YES";
  return agreed ? shared::MsgAnswer::Yes : shared::MsgAnswer::No;
}

void Console::SetProgressPosition(int position) {
  Poll();
  if (position == 0 || position == done_) return;
  done_ = position;
  if (display_ == Display::Bar) {
    DrawBar();
  } else {
    // One write a line: standard error is unbuffered, and a reader stamps
    // each line as it arrives.
    const store::RunStats& s = store_.stats;
    std::ostringstream line;
    line << "[" << done_ << "/" << total_ << "] " << text::PathText(current_) << ": vistos " << s.texts_seen
         << ", novos " << s.created << ", substituídos " << s.replaced << ", reaproveitados " << s.translations_reused
         << '\n';
    std::cerr << line.view() << std::flush;
  }
}

void Console::LeaveRunning() {
  Poll();
  interrupts_.reset();
  ClearBar();
}

void Console::FileStarting(int, const std::string& path, run::FileKind) {
  Poll();
  current_ = path;
  if (display_ == Display::Bar) DrawBar();
}

void Console::ProcessEvents() {
  Poll();
  if (display_ == Display::Bar && Clock::now() - drawn_ > std::chrono::milliseconds(100)) DrawBar();
}

void Console::DrawBar() {
  constexpr int kCells = 24;
  const int filled = total_ > 0 ? done_ * kCells / total_ : 0;
  const store::RunStats& s = store_.stats;
  std::string line = "[" + std::string(std::size_t(filled), '#') + std::string(std::size_t(kCells - filled), '-') +
                     "] " + std::to_string(done_) + "/" + std::to_string(total_) + "  vistos " +
                     std::to_string(s.texts_seen) + " novos " + std::to_string(s.created) + " subst. " +
                     std::to_string(s.replaced) + " trad. " + std::to_string(s.translations_reused) + "  " +
                     text::PathText(FileName(current_));
  std::cerr << '\r' << text::Left(line, TerminalWidth() - 1) << "\x1b[K" << std::flush;
  bar_shown_ = true;
  drawn_ = Clock::now();
}

void Console::ClearBar() {
  if (!bar_shown_) return;
  std::cerr << "\r\x1b[K" << std::flush;
  bar_shown_ = false;
}

}  // namespace trd::cli
