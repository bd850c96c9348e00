// The screen of `trd harvest` on a terminal, or on none: its dialogs and its
// progress, on standard error.
//
//   - Messages are printed (with the dry run's prefix, when given). The
//     question is answered Yes by --yes; on a terminal the user answers (s,
//     sim, y or yes for Yes, anything else No); otherwise QuestionRefused is
//     raised, so that nothing is read or stamped.
//   - Progress: on a terminal a bar redrawn in place (files done of all, the
//     counters of the run so far, the current file), else one plain line per
//     file done.
//   - The cancel flag of the run: set once Ctrl-C came (HarvestInterrupt.h),
//     looked at whenever the run reports progress or lets events run.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "HarvestInterrupt.h"
#include "platform/Errors.h"
#include "run/ImportRun.h"
#include "shared/Services.h"
#include "store/Store.h"

namespace trd::cli {

// The question could not be put to anybody.
class QuestionRefused : public Error {
 public:
  using Error::Error;
};

class Console final : public shared::Dialogs, public run::RunHost {
 public:
  // `store` gives the counters the progress shows; `prefix` starts every
  // message.
  Console(const store::Store& store, bool yes, std::string_view prefix);

  bool cancel = false;

  shared::MsgAnswer Show(std::string_view text, shared::MsgType type, shared::MsgButtons buttons) override;

  void SetProgressMax(int max) override { total_ = max; }
  void SetProgressPosition(int position) override;
  void EnterRunning() override { interrupts_.emplace(); }
  void LeaveRunning() override;
  void FileStarting(int, const std::string& path, run::FileKind) override;
  // The bar shows the file, not the text: no status line is built.
  bool ShowsStatus() const override { return false; }
  // Called for every text: polls for Ctrl-C and redraws the bar now and then
  // while a long file is read.
  void ProcessEvents() override;

 private:
  enum class Display { Bar, Lines };
  using Clock = std::chrono::steady_clock;

  void Poll() {
    if (Interrupted()) cancel = true;
  }
  void DrawBar();
  void ClearBar();

  const store::Store& store_;
  const bool yes_;
  const std::string prefix_;
  const Display display_;
  const bool interactive_;
  int total_ = 0;
  int done_ = 0;
  std::string current_;
  bool bar_shown_ = false;
  Clock::time_point drawn_{};
  std::optional<InterruptScope> interrupts_;
};

}  // namespace trd::cli
