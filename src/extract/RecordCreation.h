// The texts of form files as the scanner hands them to its sink
// (protocol/FoundText.h), for single texts, string-list entries and
// collection item texts alike. They differ only in the number, the status
// line and whether an empty entry is declined (the options). A text is
// declined when TestaValorProp rejects it or, with EmptyText::Skip, when it
// is empty; a translation is always looked up for a new record.
//
// What the scanner shows follows the record rule's steps as the sink tells
// them: once a text is known to become a record (stored meanwhile, or about
// to be created) the program code of the scanner's context is upper-cased in
// place, so that from then on the status line shows the code as the records
// hold it. The status line (program code, form, component, property and the
// text, or its first 30 characters and " ...") is shown before a record is
// created, when a text turns out stored meanwhile, and, with
// StoredNotice::Status, for a text stored already; on the batch path, for
// every text gathered that the scanner did not decline (its outcome comes
// later; the code is shown as the file name writes it). The event pump runs
// once for every text, whatever becomes of it, before anything of it is sent
// (a sink that tells no step: once it took the text).
#pragma once

#include <string_view>

#include "FormScanner.h"

namespace trd::extract {

enum class StoredNotice { Status, Silent };  // whether a stored text is shown
enum class EmptyText { Record, Skip };
enum class StatusText { WholeValue, First30Characters };

struct RecordOptions {
  int number = 0;  // NRVALORPROP, and its decimal text in the look-ups
  StoredNotice stored = StoredNotice::Silent;
  EmptyText empty = EmptyText::Record;
  StatusText status = StatusText::WholeValue;
};

// Hands `text` to the sink under the key held by the context (program code
// upper-cased, form name, component name, property name, options.number) and
// the run's language.
void CreateRecord(ScannerContext& ctx, std::string_view text, const RecordOptions& options);

}  // namespace trd::extract
