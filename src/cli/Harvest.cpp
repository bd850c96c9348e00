// trd harvest DIR --lang CODE [--server URL | --db URL] [--yes]
//                 [--allow-duplicates] [--json] [--per-text | --dry-run] [--list-vanished]
//
// The harvesting screen's job without a display, with the screen's code:
//   1. Discovery of the six source subtrees of DIR (run/FileDiscovery.h);
//      every file is moved into the selection (run/SelectionLists.h),
//      which orders it and records duplicated file names.
//   2. Duplicate gate: with duplicates and without --allow-duplicates, the
//      warning "ARQ_DUP" and the pairs go to standard error; exit status 3.
//   3. The server: --server URL talks to a running `trd serve`; --db URL runs
//      the server in this process on that database; with neither, TRD_SERVER
//      when set, else --db var/trd.sqlite.
//   4. The language list (GetIdiLeDfm). CODE names a language by its code
//      (ASCII case ignored) or is a whole "code-description" text; the run's
//      language check fails with "Idioma inválido." and exit status 2.
//   5. The question "CONF_SUBS": --yes answers Yes; on a terminal the user
//      answers (s, sim, y or yes for Yes); otherwise the command refuses,
//      exit status 4, before anything is read or stamped.
//   6. The run (run/ImportRun.h), with a progress bar on standard error when
//      it is a terminal (files done of all, current file, counters), else one
//      plain line per file. Ctrl-C is the cancel button: the form or report
//      file being read stops at its next text (the screen reads a report to
//      its end) and no later file is read. Whatever cannot stop there (a
//      server that does not answer, a long conversion) is cut short: the
//      process ends within a second of the first Ctrl-C (CancelWatchdog),
//      status 130; a second Ctrl-C ends it at once.
//   7. The closing message (standard error), the version stamp, then the
//      summary on standard output: lines of text, or one JSON object. It
//      counts the vanished texts (cli/Vanished.h), listed with
//      --list-vanished.
// Record paths (run::RecordPath): by default each file's texts go to the
// server in one call (the batch method); --per-text makes the calls the
// screen makes, text by text. --dry-run writes nothing and stamps nothing: no
// question is put, only look-ups are sent, the messages on standard error
// start with "Simulação, nada foi gravado: ", and with --json every text's
// outcome is one JSON line on standard output before the summary:
//   {"program":..,"form":..,"component":..,"property":..,"number":..,
//    "text":..,"outcome":"created"|"replaced"|"stored_already"|
//    "stored_meanwhile"|"skipped", "translation_reused":bool,
//    "old_text":.. (replaced), "translation":.. (reused)}
// Exit status: 0 the run went through its list, or the answer was No; 1 the
// run ended by an error, the version could not be stamped, or the server
// failed; 2 unknown language; 3 duplicates; 4 question refused; 130
// cancelled.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "ServerChoice.h"
#include "Vanished.h"
#include "platform/DateTimeText.h"
#include "platform/Endpoint.h"
#include "platform/Errors.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "protocol/Methods.h"
#include "report/ReportImport.h"
#include "run/ImportRun.h"
#include "run/SelectionLists.h"
#include "shared/Services.h"
#include "store/Languages.h"
#include "store/Store.h"

namespace trd::cli {
namespace {

using Clock = std::chrono::steady_clock;

enum ExitStatus {
  kDone = 0,
  kFailed = 1,
  kUnknownLanguage = 2,
  kDuplicates = 3,
  kQuestionRefused = 4,
  kCancelled = 130,
};

struct HarvestOptions {
  std::string directory;
  std::string language;
  ServerOptions servers;
  bool yes = false;
  bool allow_duplicates = false;
  bool json = false;
  bool per_text = false;
  bool dry_run = false;
  bool list_vanished = false;
};

// What standard error says first in a dry run.
constexpr std::string_view kDryRunPrefix = "Simulação, nada foi gravado: ";

// The question could not be put to anybody.
class QuestionRefused : public Error {
 public:
  using Error::Error;
};

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

// Ends the process kCancelGrace after the first Ctrl-C unless the command is
// over by then. The run itself stops soon after a Ctrl-C (a form or report
// file at its next text, no later file); the watchdog covers what cannot
// stop there: a server that does not answer (a look-up waits up to the read
// timeout), a long conversion, a version stamp that hangs. Ending there
// leaves nothing half-applied: the server applies every change whole or not
// at all, and an in-process SQLite database rolls an unfinished transaction
// back when it is next opened. Exit status 130, as for a cancelled run.
class CancelWatchdog {
 public:
  static constexpr std::chrono::milliseconds kCancelGrace{800};

  CancelWatchdog() {
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
  ~CancelWatchdog() {
    g_watchdog_fd = -1;
    const char done = 'd';
    [[maybe_unused]] ssize_t n = write(fds_[1], &done, 1);
    thread_.join();
    close(fds_[0]);
    close(fds_[1]);
  }
  CancelWatchdog(const CancelWatchdog&) = delete;
  CancelWatchdog& operator=(const CancelWatchdog&) = delete;

 private:
  // The next byte of the pipe: 'i' a Ctrl-C, 'd' done; 0 when `timeout`
  // (negative: none) passed first.
  char Next(int timeout_ms) {
    pollfd p{fds_[0], POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return 0;
    char c = 0;
    return read(fds_[0], &c, 1) == 1 ? c : 0;
  }

  void Watch() {
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

  [[noreturn]] static void Expire() {
    static constexpr char kMessage[] =
        "\ntrd harvest: cancelled: the run did not stop within a second of Ctrl-C and ends here; every "
        "change the server received is applied whole or not at all: run the harvest again to complete it\n";
    [[maybe_unused]] ssize_t n = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    _exit(kCancelled);
  }

  int fds_[2] = {-1, -1};
  std::thread thread_;
};

// Ctrl-C sets g_interrupted while the scope lives; the first one restores the
// previous action (SA_RESETHAND), so a second one ends the process.
class InterruptScope {
 public:
  InterruptScope() {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, &saved_);
  }
  ~InterruptScope() { sigaction(SIGINT, &saved_, nullptr); }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  struct sigaction saved_ {};
};

enum class Display { Bar, Lines };

// Dialogs and progress on standard error; the run's cancel flag.
class Console final : public shared::Dialogs, public run::RunHost {
 public:
  Console(const store::Store& store, bool yes, std::string_view prefix)
      : store_(store),
        yes_(yes),
        prefix_(prefix),
        display_(isatty(STDERR_FILENO) ? Display::Bar : Display::Lines),
        interactive_(isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {}

  bool cancel = false;

  shared::MsgAnswer Show(std::string_view text, shared::MsgType type, shared::MsgButtons buttons) override {
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

  void SetProgressMax(int max) override { total_ = max; }
  void SetProgressPosition(int position) override {
    Poll();
    if (position == 0 || position == done_) return;
    done_ = position;
    if (display_ == Display::Bar) {
      DrawBar();
    } else {
      const store::RunStats& s = store_.stats;
      std::cerr << "[" << done_ << "/" << total_ << "] " << text::PathText(current_) << ": vistos " << s.texts_seen
                << ", novos " << s.created << ", substituídos " << s.replaced << ", reaproveitados "
                << s.translations_reused << std::endl;
    }
  }
  void EnterRunning() override { interrupts_.emplace(); }
  void LeaveRunning() override {
    Poll();
    interrupts_.reset();
    ClearBar();
  }
  void FileStarting(int, const std::string& path, run::FileKind) override {
    Poll();
    current_ = path;
    if (display_ == Display::Bar) DrawBar();
  }
  void Status(const std::string&) override {
    Poll();
    if (display_ == Display::Bar && Clock::now() - drawn_ > std::chrono::milliseconds(100)) DrawBar();
  }
  void ProcessEvents() override { Poll(); }

 private:
  void Poll() {
    if (g_interrupted) cancel = true;
  }

  static std::size_t TerminalWidth() {
    winsize w{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &w) == 0 && w.ws_col > 20) return w.ws_col;
    return 80;
  }

  void DrawBar() {
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

  void ClearBar() {
    if (!bar_shown_) return;
    std::cerr << "\r\x1b[K" << std::flush;
    bar_shown_ = false;
  }

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

const char* OutcomeName(run::Outcome outcome) {
  switch (outcome) {
    case run::Outcome::Completed: return "completed";
    case run::Outcome::Failed: return "failed";
    case run::Outcome::Cancelled: return "cancelled";
    case run::Outcome::Declined: return "declined";
  }
  return "";
}

struct Stamp {
  bool done = false;
  bool skipped = false;  // a dry run stamps nothing
  std::string error;
};

void PrintSummary(const run::Summary& s, const Stamp& stamp, const Vanished& vanished, bool list_vanished,
                  bool json) {
  if (!json) {
    std::cout << run::SummaryText(s);
    PrintVanished(std::cout, vanished, list_vanished);
    if (!stamp.done && !stamp.skipped) std::cout << "Versão não gravada: " << stamp.error << "\n";
    std::cout.flush();
    return;
  }
  nlohmann::ordered_json j;
  j["outcome"] = OutcomeName(s.outcome);
  j["files_selected"] = s.files_selected;
  j["files_read"] = s.files_read;
  j["files_not_read"] = s.files_not_read;
  j["files_failed"] = s.files_failed;
  j["texts_seen"] = s.stats.texts_seen;
  j["already_stored"] = s.stats.already_stored;
  j["new"] = s.stats.created;
  j["replaced"] = s.stats.replaced;
  j["translations_reused"] = s.stats.translations_reused;
  j["skipped"] = s.stats.skipped;
  j["elapsed_seconds"] = double(s.elapsed.count()) / 1000.0;
  j["version_stamped"] = stamp.done;
  AddVanished(j, vanished, list_vanished);
  if (stamp.skipped) j["dry_run"] = true;
  if (!s.failed_file.empty()) {
    j["failed_file"] = text::PathText(s.failed_file);
    j["error"] = s.failure;
  }
  if (!stamp.done && !stamp.skipped) j["stamp_error"] = stamp.error;
  std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << std::endl;
}

// One JSON line per text of a dry run.
void PrintDryRunNote(const store::DryRunNote& n) {
  nlohmann::ordered_json j;
  j["program"] = n.key.program;
  j["form"] = n.key.form;
  j["component"] = n.key.component;
  j["property"] = n.key.property;
  j["number"] = n.key.number;
  j["text"] = n.text;
  j["outcome"] = store::OutcomeName(n.result.outcome);
  j["translation_reused"] = n.result.translation == store::TranslationReuse::Reused;
  if (n.result.outcome == store::RecordOutcome::Replaced && n.held) j["old_text"] = *n.held;
  if (n.translation) j["translation"] = *n.translation;
  std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

int ExitStatusOf(const run::Summary& s, const Stamp& stamp) {
  switch (s.outcome) {
    case run::Outcome::Failed: return kFailed;
    case run::Outcome::Cancelled: return kCancelled;
    case run::Outcome::Completed:
    case run::Outcome::Declined: break;
  }
  return stamp.done || stamp.skipped ? kDone : kFailed;
}

int RunHarvest(const HarvestOptions& options) {
  run::TreeSelection selection = run::SelectSourceTree(options.directory);
  if (selection.paths.empty()) {
    std::cerr << "trd harvest: no form or report files in the source subtrees of " << options.directory << "\n";
    return kFailed;
  }
  if (run::CheckDuplicates(selection.duplicates) == run::DuplicateGate::Closed && !options.allow_duplicates) {
    std::cerr << run::RunMessages().Msg("ARQ_DUP") << "\n";
    for (std::size_t i = 0; i < selection.duplicates.size(); ++i)
      std::cerr << (i % 2 ? "    " : "  ") << text::PathText(selection.duplicates[i]) << "\n";
    return kDuplicates;
  }

  const ServerChoice server(options.servers);
  shared::Services services;
  SeenKeys seen;  // the keys the run looks up, for the vanished texts
  store::Store store(services, seen.Observe(server.Transports()));
  auto console = std::make_shared<Console>(store, options.yes, options.dry_run ? kDryRunPrefix : "");
  services.dialogs = console;
  store.OpenConnections(server.Address());
  store::Lookup(services, store.cdsIdiLeDfm, store.NetTradRelDfm, protocol::kGetIdiLeDfm, {});

  const std::string box = store::BoxTextForCode(store.cdsIdiLeDfm, options.language);
  report::ReportImporter reports;
  const DateTimeText dates;
  const std::string language = store::LanguageCode(box);
  const run::RecordPath path = options.dry_run    ? run::RecordPath::DryRun
                               : options.per_text ? run::RecordPath::PerText
                                                  : run::RecordPath::Batch;
  const std::unique_ptr<store::TextChannel> channel =
      run::MakeChannel(path, store, language, dates, options.dry_run && options.json ? PrintDryRunNote : nullptr);
  run::RunRequest request{store,
                          *channel,
                          run::RunMessages(),
                          std::move(selection.paths),
                          box,
                          language,
                          console->cancel,
                          dates,
                          reports,
                          run::ReportCancel::BeforeNextText};
  run::Summary summary;
  Stamp stamp;
  Vanished vanished;
  {
    CancelWatchdog watchdog;
    try {
      summary = run::ReadSelection(request, *console);
    } catch (const shared::Abort&) {
      return kUnknownLanguage;  // "Idioma inválido." is shown
    } catch (const QuestionRefused& e) {
      std::cerr << "trd harvest: " << e.what() << "\n";
      return kQuestionRefused;
    }

    try {
      if (options.dry_run) {
        stamp.skipped = true;
      } else {
        run::StampVersion(store);
        stamp.done = true;
      }
    } catch (const std::exception& e) {
      stamp.error = e.what();
      std::cerr << "trd harvest: the version could not be stamped: " << stamp.error << "\n";
    }
    try {
      vanished = FindVanished(server, seen, summary, request.paths, request.language, options.list_vanished);
    } catch (const std::exception& e) {
      vanished.why_not = e.what();
    }
    store.CloseConnections();
  }
  PrintSummary(summary, stamp, vanished, options.list_vanished, options.json);
  return ExitStatusOf(summary, stamp);
}

}  // namespace

void AddHarvest(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<HarvestOptions>();
  CLI::App* cmd = app.add_subcommand(
      "harvest", "read every form and report file of a source tree into the translation server");
  cmd->add_option("DIR", options->directory, "source directory (its Cli/Src, Rel, Cli/Std/... subtrees are read)")
      ->required()
      ->check(CLI::ExistingDirectory);
  cmd->add_option("--lang", options->language, "language of the records: a code such as POR")->required();
  AddServerOptions(cmd, options->servers);
  cmd->add_flag("--yes", options->yes, "answer Yes to the confirmation question");
  cmd->add_flag("--allow-duplicates", options->allow_duplicates, "read files that share a name too");
  cmd->add_flag("--json", options->json, "print the summary as one JSON object (and, with --dry-run, a line per text)");
  auto* per_text = cmd->add_flag("--per-text", options->per_text,
                                 "send each text's look-ups and changes as calls of their own, as the screen does "
                                 "(default: one call per file)");
  cmd->add_flag("--dry-run", options->dry_run,
                "write and stamp nothing: read every file, ask the server only look-ups and tell what a real run "
                "would do")
      ->excludes(per_text);
  cmd->add_flag("--list-vanished", options->list_vanished,
                "list the records whose text is gone from files read in full (never deleted)");
  cmd->footer(
      "Without --server or --db: TRD_SERVER when set, else --db var/trd.sqlite. Exit status: 0 done (or answered "
      "No), 1 error, 2 unknown language, 3 duplicated files, 4 question refused (no terminal, no --yes), 130 "
      "cancelled (Ctrl-C).");
  cmd->callback([options, &exit_code] {
    try {
      exit_code = RunHarvest(*options);
    } catch (const std::exception& e) {
      std::cerr << "trd harvest: " << e.what() << "\n";
      exit_code = kFailed;
    }
  });
}

}  // namespace trd::cli
