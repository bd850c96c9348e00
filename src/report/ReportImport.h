// Report-file extraction: reads one report file and hands the texts of its
// elements to the sink it is given (protocol/FoundText.h), under their
// record keys for the run's language; what becomes of them is the sink's
// business (for a run: the record rule on the translation server).
//
// ImportRel(path):
//   1. Language check: when the caller found the language box text unknown
//      (ReportRun::language_check; the import run checks it against the
//      language list before it reads anything), the language box gets the
//      focus and MensErro shows "Idi_Inv", which raises shared::Abort:
//      nothing is opened.
//   2. Signature: the file's first two bytes (read and closed again) must be
//      kReportFileID. A file that cannot be opened or is not a regular file
//      raises Error (platform/SourceFile.h). A shorter
//      file or another signature is not a report: nothing is loaded or
//      recorded, "Nao_Import" is shown once (confirmation, OK) with %s
//      replaced by the file name, and NotAReport is returned.
//   3. The loader loads the file (its errors pass on), then every component
//      it lists (the design report first) is walked once, in order:
//        one-text kinds  -> StoreReportValue(number 0, the text)
//        line kinds      -> StoreReportValue(number j, line j) for each line
//        expressions     -> the same, each line taken after its first "|"
//        other classes   -> nothing
//      An element without a name gets "__" + its own class name + the
//      unnamed-element counter, anew for every text (so each line of an
//      unnamed memo has its own name); the counter starts at 0 per call.
//   Every text is handed on, the empty one included; no
//   cancel flag is read (unless the caller lends stop_requested, below).
//
// StoreReportValue(path, element, number, property, text): hands one text to
// the sink under the key of program code (the file name up to its first "."
// upper-cased), "QrDesign", the element, the property and the number, as a
// report file's text: no text is declined, and no translation is looked up
// for a text longer than kMaxValueLength (no stored source text can equal
// it). The status line and the pending events come at every step the sink
// tells (a sink that tells none: the events once it took the text). Status
// line: the file name up to its first "." as written, element, property,
// number and the whole text joined by " - ", then " ...".
//
// Failures of the sink (the server's, a transfer's) pass on at once; texts
// it took before stay with it and the rest of the report is not read.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "ReportLoader.h"
#include "protocol/FoundText.h"
#include "shared/Messages.h"
#include "shared/Services.h"

namespace trd::report {

using shared::EventPump;
using shared::StatusSink;

// The form name of every report record.
inline constexpr std::string_view kReportFormName = "QrDesign";

// Message entries of report extraction ("key|text"): Nao_Import, whose %s
// stands for the file name. Keys missing from the screen's table are taken
// from here.
const shared::TMessages& ReportMessages();

// Whether the run's language box text names a language of the server's list.
enum class LanguageCheck { Known, Unknown };

// What the caller (the screen, the command line, a test) lends to one
// ImportRel call. Referenced objects must outlive the call.
struct ReportRun {
  protocol::TextSink& sink;           // where the texts go
  const shared::Services& services;   // dialogs (Nao_Import), MensErro (Idi_Inv)
  const shared::TMessages& messages;  // the screen's table (Idi_Inv)
  LanguageCheck language_check;       // of cbbIdioma's text, e.g. "POR-Português"
  std::string language;               // stIdiLeDfm: the three-character code
  StatusSink status;                  // may be empty
  EventPump process_events;           // may be empty
  EventPump focus_language_box;       // may be empty
  // May be empty (a report is then read to its end whatever the cancel flag
  // says). When set, it is asked before every text and true ends the walk
  // there: the screen's cancel button, the command line's Ctrl-C.
  std::function<bool()> stop_requested = {};
};

enum class ReportOutcome { Read, NotAReport };

// The report import of one screen: holds the loader with its design report,
// which keeps the report loaded last until the next load.
class ReportImporter {
 public:
  // Reads the report file at `path` (a full path of any length).
  ReportOutcome ImportRel(const ReportRun& run, std::string_view path);

  const ReportLoader& Loader() const { return loader_; }

 private:
  ReportLoader loader_;
};

// One text of an element (above); `number` is the item number.
void StoreReportValue(const ReportRun& run, std::string_view path, std::string_view element,
                      int number, std::string_view property, std::string_view text);

}  // namespace trd::report
