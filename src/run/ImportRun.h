// The import run: what the import button of the harvesting screen does once
// the duplicate gate has passed, and what `trd harvest` does with the same
// code. Qt-free; the caller lends the store with its services (dialogs, busy
// indicator, result check), progress, status, event processing and the
// cancel flag.
//
// ImportRun = ReadSelection, then StampVersion.
//
// ReadSelection:
//   1. Language check (store/Languages.h) of the language box text against
//      store.cdsIdiLeDfm. An unknown language: FocusLanguageBox, then
//      MensErro "Idi_Inv", which raises shared::Abort. Nothing has changed
//      then.
//   2. Progress maximum 0; the question "CONF_SUBS" (Yes/No). Any answer but
//      Yes: nothing is read, the result is Outcome::Declined.
//   3. Preparation: cdsPropRel, then cdsPropProp created empty; the run's
//      statistics reset; progress maximum = number of paths; EnterRunning;
//      progress position 0.
//   4. The file loop, in list order. Before each file the cancel flag is
//      tested: once set, the loop stops there (no later file is opened).
//      ".DFM" (extension after the last ".", ASCII case ignored): the file is
//      converted to form text and scanned with the program code (file name up
//      to its first "."); the scanner itself stops at its next line when the
//      flag is set. ".QR2": read with the report importer, to its end whatever
//      the flag says. Other files are counted, not read. After every file:
//      progress position, ProcessEvents.
//      The first error ends the loop; later files are not read. While the
//      loop runs the shared result check stays silent (the run reports the
//      failure itself, once); the previous reporting mode is restored after.
//   5. Closing, whatever ended the loop: LeaveRunning (the host clears the
//      status line and the cancel flag and enables the import button); one
//      closing message with the run's summary as its details:
//        completed  "sucessoGeral" (confirmation, OK)
//        error      "Erro_Import" with the file's path and the cause (error)
//        cancelled  "Imp_Canc" (information)
//      except that a failure already shown by MensErro gets no second dialog;
//      progress position 0; cdsPropProp, then cdsPropRel closed.
//
// StampVersion: GetVersao on NetTradRelDfm into cdsVersao (busy indicator
// off on both paths; failures propagate), then the version row (a new one
// when the packet is empty) gets today's date in DTGERARQTRAD and is posted;
// the post sends itself (cdsVersaoAfterPost) and a failed send propagates.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTimeText.h"
#include "report/ReportImport.h"
#include "shared/Messages.h"
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
};

// The run's messages (Idi_Inv, CONF_SUBS, sucessoGeral, Erro_Import with two
// %s for path and cause, Imp_Canc) and the duplicate warning ARQ_DUP, for
// callers without a message table of their own.
const shared::TMessages& RunMessages();

Summary ReadSelection(const RunRequest& request, RunHost& host);
void StampVersion(store::Store& store);
// Both, as the import button does; the version is stamped after a No too.
Summary ImportRun(const RunRequest& request, RunHost& host);

}  // namespace trd::run
