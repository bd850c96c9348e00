// Creation of translation property records from the scanner's readers. One
// sequence of server calls serves single texts, string-list entries and
// collection item texts; they differ only in the number, the status line and
// two tests (see the options).
//
// The sequence, with its order fixed by the server's expectations:
//   1. GetPropried (key + value) into cdsPropried; busy indicator off after
//      success and failure alike. A row means the text is stored already.
//   2. TestaValorProp, then (list entries only) the emptiness test.
//   3. The program code is upper-cased in place.
//   4. GetVerProp (key) into cdsVerificaProp; its first row, if any, is
//      deleted (the delete sends itself to the server).
//   5. Status line; a row inserted into cdsPropProp and posted (the post
//      sends itself).
//   6. GetUpdRelDfm (source text) into cdsUpdRelDfm; when it holds a row,
//      UpdateRelDfm copies that translation into the new record.
// Values are cut to their first 4000 characters; the value looked up by
// GetPropried is also stripped of trailing blanks.
#pragma once

#include <string_view>

#include "FormScanner.h"

namespace trd::extract {

enum class StoredNotice { StatusAndEvents, Silent };  // what happens when the text is stored
enum class EmptyText { Record, Skip };
enum class StatusText { WholeValue, First30Characters };

struct RecordOptions {
  int number = 0;  // NRVALORPROP, and its decimal text in the look-ups
  StoredNotice stored = StoredNotice::Silent;
  EmptyText empty = EmptyText::Record;
  StatusText status = StatusText::WholeValue;
};

// Runs the sequence for `text` under the key held by the context (program
// code, form name, component name, property name) and the run's language.
void CreateRecord(ScannerContext& ctx, std::string_view text, const RecordOptions& options);

}  // namespace trd::extract
