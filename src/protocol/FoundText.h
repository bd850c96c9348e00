// A text a scanner found in a form or report file, on its way to the
// translation table, and the sink the scanners hand their texts to. The
// scanners (extract/FormScanner.h, report/ReportImport.h) know nothing else
// of where a text goes: a sink may run the record rule at once over the
// server's calls, gather a file's texts for the batch method (whose request
// row holds exactly a found text: protocol/RecordBatch.h), simulate, or keep
// the texts in memory (`trd extract`, the tests). The path from file to
// table: docs/architecture.md.
#pragma once

#include <string_view>

#include "Record.h"
#include "RecordBatch.h"

namespace trd::protocol {

// The kind of file a text comes from: the look-up and change calls of form
// and report files differ in a few arguments (store/StagingChannel.h).
enum class TextSource { Form, Report };

struct FoundText {
  RecordKey key;              // the program code upper-cased
  std::string_view text;      // as read; a record holds its first kMaxValueLength characters
  Declined declined;          // the scanner declines it (not worth translating, an empty entry)
  TranslationLookUp look_up;  // a translation of it is looked up for a new record
  TextSource source;
};

// Where the record rule has got with a text (store/RecordRule.h).
enum class TextStep {
  StoredAlready,    // the key holds the text: nothing changes
  Skipped,          // declined: nothing changes
  StoredMeanwhile,  // another client stored it since the first look-up
  Creating,         // about to insert it (after the delete of an older text, if any)
  Gathered,         // kept for a later call, or sent whole: its outcome is not known yet
};

// The scanner's side of one text: what it shows at each step (a status
// line) and the pending events it lets run (a cancel button).
class TextWatcher {
 public:
  virtual ~TextWatcher() = default;
  virtual void Reached(TextStep step) = 0;
};

class TextSink {
 public:
  virtual ~TextSink() = default;
  // Takes one text. A sink that runs the record rule at once tells `watcher`
  // each step that ends the rule or comes before an insert, before anything
  // of the text is sent; a sink that keeps the text for a later call, or
  // sends it alone for the server to run the whole rule, tells Gathered
  // once it has it; a sink that only keeps texts in memory (`trd
  // extract`, tests) tells nothing.
  // Failures (the server's, the transport's, a value too wide) pass on to
  // the scanner, which stops there.
  virtual void Take(const FoundText& text, TextWatcher& watcher) = 0;
};

}  // namespace trd::protocol
