// Report-file extraction: reads one report file and turns the texts of its
// elements into translation property records for the run's language.
//
// ImportRel(path):
//   1. Language check: the language box text is "code-description"; its first
//      three characters and its characters from the fifth on must match a row
//      of cdsIdiLeDfm over IDIDIOMA;DSIDIOMA, ignoring ASCII case. If none
//      does, the language box gets the focus and MensErro shows "Idi_Inv",
//      which raises shared::Abort: nothing is opened.
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
//   Every text is recorded when not stored yet, the empty one included; no
//   cancel flag is read (unless the caller lends stop_requested, below).
//
// StoreReportValue(path, element, number, property, text): the record rule
// (store/RecordRule.h) for one text, under the key of program code (the file
// name up to its first "." upper-cased), "QrDesign", the element, the
// property and the number, on the report files' staging tables: no text is
// declined, the translation look-up gets the whole text (none for a text
// longer than kMaxValueLength, store/StagingChannel.h), UpdateRelDfm the
// number and the time as text (the locale's default format), and the busy
// indicator goes off after each look-up and when a translation step fails.
// The status line and the pending events come at every step the rule tells.
// Status line: the file name up to its first "." as written, element,
// property, number and the whole text joined by " - ", then " ...".
//
// Failures of the server or of a transfer pass on at once; records created
// before stay stored and the rest of the report is not read.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "ReportLoader.h"
#include "platform/DateTimeText.h"
#include "shared/Messages.h"
#include "store/Store.h"

namespace trd::report {

using shared::EventPump;
using shared::StatusSink;

// The form name of every report record.
inline constexpr std::string_view kReportFormName = "QrDesign";

// Message entries of report extraction ("key|text"): Nao_Import, whose %s
// stands for the file name. Keys missing from the screen's table are taken
// from here.
const shared::TMessages& ReportMessages();

// What the caller (the screen, the command line, a test) lends to one
// ImportRel call. Referenced objects must outlive the call. cdsIdiLeDfm must
// hold the language list and cdsPropRel must be open (CreateDataSet); the
// import run does both.
struct ReportRun {
  store::Store& store;
  const shared::TMessages& messages;  // the screen's table (Idi_Inv)
  std::string language_box_text;      // cbbIdioma's text, e.g. "POR-Português"
  std::string language;               // stIdiLeDfm: the three-character code
  const DateTimeText& dates;          // regional settings for the time text
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
