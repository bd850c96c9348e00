// The import run: what the import button of the harvesting screen does once
// the duplicate gate has passed, and what `trd harvest` does with the same
// code. Qt-free; the caller lends the store with its services (dialogs, busy
// indicator, result check), a RunHost for progress, status, events and the
// Running state, and the cancel flag.
//
// ReadSelection reads the selected files in list order:
//   - an unknown language (store/Languages.h) is refused first: the language
//     box gets the focus and MensErro "Idi_Inv" raises shared::Abort;
//   - the question "CONF_SUBS" follows; any answer but Yes reads nothing
//     (Outcome::Declined);
//   - each file is read by its extension (ASCII case ignored): ".DFM" as form
//     text scanned under its program code, ".QR2" by the report importer;
//     other files are passed over. The cancel flag is tested before each
//     file, by the scanner before each line, and inside a report before each
//     text only with ReportCancel::BeforeNextText (the command line; the
//     screen reads a report to its end);
//   - the first failure ends the loop; the result check stays silent
//     meanwhile, so that the failure is reported once, by the closing
//     message: "sucessoGeral", "Erro_Import" (path and cause) or "Imp_Canc",
//     with the run's summary as details. A failure shown by MensErro gets
//     no second dialog.
// Progress: maximum 0 before the question, then the number of files;
// position 0 at the start, i + 1 after file i (then pending events run), 0
// after the closing message. The staging tables of new records (cdsPropRel,
// cdsPropProp) are open for the run and emptied after every file; the
// Running state is entered before the first file and left before the
// closing message, on every way out.
//
// StampVersion reads the version record (GetVersao) and posts today's date
// in DTGERARQTRAD; the post sends itself and a failure propagates.
// ImportRun is both, as the import button does: the version is stamped after
// a No too.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTimeText.h"
#include "report/ReportImport.h"
#include "shared/Messages.h"
#include "store/DryRun.h"
#include "store/Store.h"

namespace trd::run {

enum class FileKind { Form, Report, Other };
// By the extension of the file name (after the last "/" or "\").
FileKind KindOf(std::string_view path);

enum class Outcome { Completed, Failed, Cancelled, Declined };

// What one run did. Files: read + not read + failed = selected; a form file
// cut short by a cancel counts as read, a report file that is not a report
// and any file after the end of the loop as not read.
struct Summary {
  Outcome outcome = Outcome::Declined;
  int files_selected = 0;
  int files_read = 0;
  int files_not_read = 0;
  int files_failed = 0;
  store::RunStats stats;  // the server's answers during the loop
  std::chrono::milliseconds elapsed{0};  // preparation to the end of the loop
  std::string failed_file;  // path of the file that ended the loop
  std::string failure;      // its cause, without the path
};

// The summary as lines of Portuguese text ("Arquivos lidos: 3", ...), offered
// as the closing message's details and printed by the command line.
std::string SummaryText(const Summary& summary);

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
  // The scanners' status line.
  virtual void Status(const std::string& line) {}
  // Lets pending user events run (a cancel button may set the flag here).
  virtual void ProcessEvents() {}
};

// How the texts of a run reach the table:
//   PerText  the record rule text by text, each step its own call (the
//            screen's way, the reference);
//   Batch    a file's texts gathered while it is read and sent in one call
//            when it is done (store/RecordBatch.h); a file that fails while
//            it is read sends nothing, and a file cut short by the cancel
//            flag sends the texts read before it;
//   DryRun   only look-ups: the question CONF_SUBS is not put, nothing is
//            written, and every text's outcome goes to `dry_run_notes`
//            (store/DryRun.h); the counters come out as a real run's.
enum class RecordPath { PerText, Batch, DryRun };

// What the cancel flag does to the report file being read.
enum class ReportCancel { ReadToEnd, BeforeNextText };

// Everything a run reads. Referenced objects must outlive the call.
struct RunRequest {
  store::Store& store;                // connections open, cdsIdiLeDfm loaded
  const shared::TMessages& messages;  // keys of RunMessages(), the screen's own texts
  std::vector<std::string> paths;     // the selected files, in list order
  std::string language_box_text;      // "POR-Português"
  std::string language;               // the record language, e.g. "POR"
  const bool& cancel;                 // set by the host, read before each file and line
  const DateTimeText& dates;
  report::ReportImporter& reports;  // keeps the report loaded last
  ReportCancel report_cancel = ReportCancel::ReadToEnd;
  RecordPath record_path = RecordPath::PerText;
  store::DryRun::Observer dry_run_notes = {};  // DryRun only; may be empty
};

// The run's messages (Idi_Inv, CONF_SUBS, sucessoGeral, Erro_Import with two
// %s for path and cause, Imp_Canc) and the duplicate warning ARQ_DUP: the
// one place their texts are written. The screens' tables take these entries
// from here; callers without a table of their own use it as it is.
const shared::TMessages& RunMessages();

Summary ReadSelection(const RunRequest& request, RunHost& host);
void StampVersion(store::Store& store);
// Both, as the import button does; the version is stamped after a No too.
Summary ImportRun(const RunRequest& request, RunHost& host);

}  // namespace trd::run
