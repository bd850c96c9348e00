// The import run: what the import button of the harvesting screen does once
// the duplicate gate has passed, and what `trd harvest` does with the same
// code. Qt-free; the caller lends the store with its services (dialogs, busy
// indicator, result check), the channel its texts take to the table
// (store/TextChannels.h), a RunHost for progress, status, events and the
// Running state, and the cancel flag.
//
// ReadSelection reads the selected files in list order:
//   - an unknown language (store/Languages.h) is refused first: the language
//     box gets the focus and MensErro "Idi_Inv" raises shared::Abort;
//   - the question "CONF_SUBS" follows, unless the channel writes nothing (a
//     dry run); any answer but Yes reads nothing (Outcome::Declined);
//   - each file is read by its extension (ASCII case ignored): ".DFM" as form
//     text scanned under its program code, ".QR2" by the report importer;
//     other files are passed over. The scanners hand the texts to the
//     channel, which is told when each file is done (or failed). The cancel
//     flag is tested before each file, by the scanner before each line, and
//     inside a report before each text only with ReportCancel::BeforeNextText
//     (the screen and the command line ask for it); the scanners let pending
//     events run once per text;
//   - the first failure ends the loop, unless the request says
//     FileFailure::NextFile: then a file that fails while it is read or
//     stored is counted, its texts dropped by the channel (on the batch path
//     none of the file is stored; the per-text path keeps what it sent
//     before the fault), and the loop goes on with the next file; only an
//     unreachable server or a failure shown by MensErro still ends it. The
//     result check stays silent meanwhile, so that failures are reported
//     once, by the closing message: "sucessoGeral", "Erro_Import" (path and
//     cause: the Portuguese cause with the technical detail,
//     shared/Causes.h), "Erro_Arquivos" (several files failed and the run
//     went on: their number) or "Imp_Canc", with the run's summary as
//     details. A failure shown by MensErro gets no second dialog;
//   - a channel may hold files done until a later call (the batch path
//     gathers several into one): a file counts as read, and a failure in
//     storing it counts, when the channel settles it, in list order; the
//     files held go out before a file that failed while read is counted
//     and when the loop ends (also on a cancel), and are dropped unsent
//     when a failure ends the run.
// Progress: maximum 0 before the question, then the number of files;
// position 0 at the start, i + 1 after file i (then pending events run), 0
// after the closing message. Within a form file, for a host that asks
// (RunHost::ProgressBy), the texts taken so far of the file's texts, counted
// by a scan of its own before the file is read (a file that fails that scan
// sends nothing): TextsRead(0, total) before the first text, then after each
// text the channel took. The Running state is entered before the first file
// and left before the closing message, on every way out.
//
// StampVersion reads the version record (GetVersao), posts today's date in
// DTGERARQTRAD and sends it; a failure propagates.
// ImportRun is both, as the import button does: the version is stamped after
// a No too, but not when there is no file to read (nothing is asked, read or
// shown) nor after a run that failed because the translation server could
// not be reached (the closing message has said so once; the stamp could
// only fail again).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "PathList.h"
#include "platform/DateTimeText.h"
#include "report/ReportImport.h"
#include "shared/Messages.h"
#include "store/Store.h"
#include "store/TextChannels.h"

namespace trd::run {

enum class FileKind { Form, Report, Other };
// By the extension of the file name (after the last "/" or "\").
FileKind KindOf(std::string_view path);

enum class Outcome { Completed, Failed, Cancelled, Declined };

// A file that failed, and its cause as shown (shared/Causes.h), without the
// path.
struct FileFailure {
  std::string path;
  std::string cause;
};

// What one run did. Files: read + not read + failed = selected; a form file
// cut short by a cancel counts as read, a report file that is not a report
// and any file after the end of the loop as not read. Files the caller left
// out before the run (run/WidthGate.h) are not selected; it counts them in
// files_left_out.
struct Summary {
  Outcome outcome = Outcome::Declined;
  int files_selected = 0;
  int files_read = 0;
  int files_not_read = 0;
  int files_failed = 0;
  store::RunStats stats;  // the server's answers during the loop
  std::chrono::milliseconds elapsed{0};  // preparation to the end of the loop
  int files_left_out = 0;  // set by the caller: files whose names no record can hold
  std::string failed_file;  // path of the first file that failed
  std::string failure;      // its cause as shown (shared/Causes.h), without the path
  std::vector<FileFailure> failures;  // every file that failed, in list order
  bool server_unreachable = false;  // the failure was the transport's (ConnectionError)
};

// The summary as lines of Portuguese text ("Arquivos lidos: 3", ...; the
// texts add up: "Textos vistos" = "Já gravados" + "Novos" (keys that had no
// record) + "Substituídos" + "Ignorados (não traduzíveis ou vazios)"), then,
// when there are any, the files left out and every failed file with its
// cause; offered as the closing message's details and printed by the
// command line.
std::string SummaryText(const Summary& summary);

// How far a host's progress goes: whole files, or the texts within a form
// file too.
enum class ProgressUnit { Files, Texts };

// The caller's side of a run. Every method may be left as it is.
class RunHost {
 public:
  virtual ~RunHost() = default;
  virtual void FocusLanguageBox() {}
  virtual void SetProgressMax(int max) {}
  virtual void SetProgressPosition(int position) {}
  // The Running state: entered at preparation, left first thing in the
  // closing (on an error path out of the run too).
  virtual void EnterRunning() {}
  virtual void LeaveRunning() {}
  // Called before the file at `index` of the list is looked at.
  virtual void FileStarting(int index, const std::string& path, FileKind kind) {}
  // With ProgressUnit::Texts: `read` of the `total` texts of the form file
  // being read have been taken (above). Called once per text: keep it cheap.
  virtual ProgressUnit ProgressBy() const { return ProgressUnit::Files; }
  virtual void TextsRead(int read, int total) {}
  // The scanners' status line, a text of every text read: built only for a
  // host that shows it (ShowsStatus); ProcessEvents follows each one anyway.
  virtual bool ShowsStatus() const { return true; }
  virtual void Status(const std::string& line) {}
  // Lets pending user events run (a cancel button may set the flag here).
  virtual void ProcessEvents() {}
};

// The record paths by name, for callers that choose one from an option
// (`trd harvest`, tests): text by text, a file's texts in one call, each
// text in one call, or a dry run (store/TextChannels.h). A file that fails while it is read sends
// nothing on the batch path, and a file cut short by the cancel flag sends
// the texts read before it. The batch path reads the next files while a
// call is out (store::Sending::Ahead): a harvest's reading and the server's
// storing overlap.
enum class RecordPath { PerText, Batch, TextCall, DryRun };

// The channel of `path` for a run of `language` (the record language);
// `dry_run_notes` takes the dry run's outcome per text (may be empty).
std::unique_ptr<store::TextChannel> MakeChannel(RecordPath path, store::Store& store, const std::string& language,
                                                const DateTimeText& dates, store::DryRun::Observer dry_run_notes = {});

// What the cancel flag does to the report file being read.
enum class ReportCancel { ReadToEnd, BeforeNextText };

// What a file that fails does to the run: end it, or let it go on with the
// next file (`trd harvest --keep-going`).
enum class FileFailurePolicy { EndRun, NextFile };

// Everything a run reads. Referenced objects must outlive the call.
struct RunRequest {
  store::Store& store;                // connections open, cdsIdiLeDfm loaded
  store::TextChannel& channel;        // how the texts reach the table
  const shared::TMessages& messages;  // keys of RunMessages(), the screen's own texts
  PathList paths;                     // the selected files, in list order
  std::string language_box_text;      // "POR-Português"
  std::string language;               // the record language, e.g. "POR"
  const bool& cancel;                 // set by the host, read before each file and line
  const DateTimeText& dates;
  report::ReportImporter& reports;  // keeps the report loaded last
  ReportCancel report_cancel = ReportCancel::ReadToEnd;
  FileFailurePolicy on_failure = FileFailurePolicy::EndRun;
};

// The run's messages (Idi_Inv, CONF_SUBS, sucessoGeral, Erro_Import with two
// %s for path and cause, Erro_Arquivos with one %s for the number, Imp_Canc), the duplicate warning ARQ_DUP and the
// width gate's ARQ_LARGO and question ARQ_LARGO_CONT (run/WidthGate.h): the
// one place their texts are written. The screens' tables take these entries
// from here; callers without a table of their own use it as it is.
const shared::TMessages& RunMessages();

Summary ReadSelection(const RunRequest& request, RunHost& host);
void StampVersion(store::Store& store);
// Both, as the import button does; the version is stamped after a No too.
Summary ImportRun(const RunRequest& request, RunHost& host);

}  // namespace trd::run
