// trd harvest DIR --lang CODE [--server URL | --db URL] [--yes]
//                 [--allow-duplicates] [--skip-unstorable] [--keep-going]
//                 [--json] [--per-text | --one-call-per-text | --dry-run]
//                 [--list-vanished]
//
// The harvesting screen's job without a display, with the screen's code:
//   1. Discovery of the six source subtrees of DIR (run/FileDiscovery.h);
//      every file is moved into the selection (run/SelectionLists.h),
//      which orders it and records duplicated file names.
//   2. Duplicate gate: with duplicates and without --allow-duplicates, the
//      warning "ARQ_DUP" and the pairs go to standard error; exit status 3.
//   2b. Width gate (run/WidthGate.h): files whose program code is wider
//      than its column are listed on standard error ("ARQ_LARGO", then each
//      path with the reason and what to do); without --skip-unstorable the
//      command ends there with exit status 5, with it the run goes on
//      without them and the summary counts them.
//   3. The server: --server URL talks to a running `trd serve`; --db URL runs
//      the server in this process on that database; with neither, TRD_SERVER
//      when set, else --db var/trd.sqlite.
//   4. The language list (GetIdiLeDfm). CODE names a language by its code
//      (ASCII case ignored) or is a whole "code-description" text; the run's
//      language check fails with "Idioma inválido." and exit status 2.
//   5. The question "CONF_SUBS": --yes answers Yes; on a terminal the user
//      answers (s, sim, y or yes for Yes); otherwise the command refuses,
//      exit status 4, before anything is read or stamped.
//   6. The run (run/ImportRun.h), with its progress on standard error
//      (cli/HarvestConsole.h). Ctrl-C is the cancel button: the form or
//      report file being read stops at its next text and no later file is
//      read; whatever cannot stop there is cut short within a second, status
//      130 (cli/HarvestInterrupt.h).
//   7. The closing message (standard error), the version stamp, then the
//      summary on standard output, lines of text or one JSON object
//      (cli/HarvestSummary.h), with the vanished texts (cli/Vanished.h).
// Record paths (the run's channel, store/TextChannels.h): by default whole
// files' texts go to the server in one call (the batch method, several
// files a call as its answer time allows); --per-text makes the calls text
// by text, the rule's steps each its own call (the reference the others are
// held to); --one-call-per-text sends each text alone to the batch method,
// the server running its whole rule (one round trip a text; a server without
// the method gets the steps as --per-text sends them). --dry-run writes nothing
// and stamps nothing: no question is put, only look-ups are sent, the
// messages on standard error start with "Simulação, nada foi gravado: ", and
// with --json every text's outcome is one JSON line before the summary.
// --keep-going: a file that fails while it is read or stored (a name wider
// than its column, a damaged file) is reported and the run goes on with the
// next file; that file's texts are not stored (the batch path stores a
// file's texts with one call, kept or refused as a whole: a call of several
// files that fails is sent again file by file). The summary lists every
// failed file with its cause. An unreachable server still ends the run. Not
// with --per-text, whose calls cannot take back the texts sent before the
// fault, nor with --one-call-per-text, likewise.
// Exit status: 0 the run went through its list, or the answer was No; 1 the
// run ended by an error or a file failed, the version could not be stamped,
// or the server failed; 2 unknown language; 3 duplicates; 4 question
// refused; 5 files whose names no record can hold (without
// --skip-unstorable); 130 cancelled.
#include <chrono>
#include <iostream>
#include <memory>
#include <string>

#include "Commands.h"
#include "HarvestConsole.h"
#include "HarvestInterrupt.h"
#include "HarvestSummary.h"
#include "ServerChoice.h"
#include "Vanished.h"
#include "platform/DateTimeText.h"
#include "platform/Text.h"
#include "protocol/Methods.h"
#include "report/ReportImport.h"
#include "run/ImportRun.h"
#include "run/SelectionLists.h"
#include "run/WidthGate.h"
#include "shared/Services.h"
#include "store/Languages.h"
#include "store/Store.h"

namespace trd::cli {
namespace {

enum ExitStatus {
  kDone = 0,
  kFailed,
  kUnknownLanguage,
  kDuplicates,
  kQuestionRefused,
  kUnstorable,
  kCancelled = kCancelledStatus
};

struct HarvestOptions {
  std::string directory;
  std::string language;
  ServerOptions servers;
  bool yes = false;
  bool allow_duplicates = false;
  bool skip_unstorable = false;
  bool keep_going = false;
  bool json = false;
  bool per_text = false;
  bool one_call_per_text = false;
  bool dry_run = false;
  bool list_vanished = false;
};

// What standard error says first in a dry run.
constexpr std::string_view kDryRunPrefix = "Simulação, nada foi gravado: ";

int ExitStatusOf(const run::Summary& s, const Stamp& stamp) {
  switch (s.outcome) {
    case run::Outcome::Failed: return kFailed;
    case run::Outcome::Cancelled: return kCancelled;
    case run::Outcome::Completed:
    case run::Outcome::Declined: break;
  }
  return stamp.done || stamp.skipped ? kDone : kFailed;
}

// The version stamp after a run; a dry run stamps nothing.
Stamp StampAfter(store::Store& store, bool dry_run) {
  Stamp stamp;
  stamp.skipped = dry_run;
  try {
    if (!dry_run) run::StampVersion(store);
    stamp.done = !dry_run;
  } catch (const std::exception& e) {
    stamp.error = e.what();
    std::cerr << "trd harvest: the version could not be stamped: " << stamp.error << "\n";
  }
  return stamp;
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
  const std::vector<run::UnstorableFile> unstorable = run::FindUnstorable(selection.paths);
  if (run::CheckWidths(unstorable) == run::WidthGate::Closed) {
    std::cerr << run::RunMessages().Msg("ARQ_LARGO") << "\n";
    for (const run::UnstorableFile& f : unstorable)
      std::cerr << "  " << text::PathText(f.path) << ": " << f.reason << "\n";
    if (!options.skip_unstorable) {
      std::cerr << "trd harvest: nada foi lido; renomeie esses arquivos ou use --skip-unstorable para importar os "
                   "demais sem eles\n";
      return kUnstorable;
    }
    selection.paths = run::WithoutUnstorable(selection.paths, unstorable);
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
                               : options.one_call_per_text ? run::RecordPath::TextCall
                                                           : run::RecordPath::Batch;
  const std::unique_ptr<store::TextChannel> channel =
      run::MakeChannel(path, store, language, dates, options.dry_run && options.json ? PrintDryRunNote : nullptr);
  run::RunRequest request{store, *channel, run::RunMessages(), std::move(selection.paths), box,   language,
                          console->cancel, dates, reports, run::ReportCancel::BeforeNextText,
                          options.keep_going ? run::FileFailurePolicy::NextFile : run::FileFailurePolicy::EndRun};
  run::Summary summary;
  Stamp stamp;
  Vanished vanished;
  {  // the watchdog's scope: the run, the stamp, the vanished texts
    CancelWatchdog watchdog;
    // elapsed_seconds is the whole run's: files, stamp and vanished texts.
    const auto started = std::chrono::steady_clock::now();
    try {
      summary = run::ReadSelection(request, *console);
      summary.files_left_out = int(unstorable.size());
    } catch (const shared::Abort&) {
      return kUnknownLanguage;  // "Idioma inválido." is shown
    } catch (const QuestionRefused& e) {
      std::cerr << "trd harvest: " << e.what() << "\n";
      return kQuestionRefused;
    }

    stamp = StampAfter(store, options.dry_run);
    const auto looking = std::chrono::steady_clock::now();
    try {
      vanished = FindVanished(server, seen, summary, request.paths, request.language, options.list_vanished);
    } catch (const std::exception& e) {
      vanished.why_not = e.what();
    }
    const auto done = std::chrono::steady_clock::now();
    vanished.seconds = std::chrono::duration<double>(done - looking).count();
    summary.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(done - started);
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
  cmd->add_flag("--skip-unstorable", options->skip_unstorable,
                "go on without the files whose names are too long for the translation table (listed on standard "
                "error; counted in the summary)");
  cmd->add_flag("--json", options->json, "print the summary as one JSON object (and, with --dry-run, a line per text)");
  auto* per_text = cmd->add_flag("--per-text", options->per_text,
                                 "send each text's look-ups and changes as calls of their own "
                                 "(default: whole files' texts in one call)");
  auto* one_call = cmd->add_flag("--one-call-per-text", options->one_call_per_text,
                                 "send each text alone, its look-ups and change answered in one call")
                       ->excludes(per_text);
  cmd->add_flag("--dry-run", options->dry_run,
                "write and stamp nothing: read every file, ask the server only look-ups and tell what a real run "
                "would do")
      ->excludes(per_text)
      ->excludes(one_call);
  cmd->add_flag("--keep-going", options->keep_going,
                "go on past a file that fails (none of its texts is stored); the summary lists every failed file")
      ->excludes(per_text)
      ->excludes(one_call);
  cmd->add_flag("--list-vanished", options->list_vanished,
                "list the records whose text is gone from files read in full (never deleted)");
  cmd->footer(
      "Without --server or --db: TRD_SERVER when set, else --db var/trd.sqlite. Exit status: 0 done (or answered "
      "No), 1 error (or a file failed), 2 unknown language, 3 duplicated files, 4 question refused (no terminal, "
      "no --yes), 5 file names too long for the translation table (without --skip-unstorable), 130 cancelled "
      "(Ctrl-C).");
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
