// Text compared as a reader compares it: letter case and accents aside, in
// every script ICU knows ("DESCRIÇÃO", "Descrição" and "descricao" are one
// text; "ΆΛΦΑ" and "άλφα" too).
//
// The folding: canonical decomposition (NFD), then the combining diacritical
// marks removed (the blocks of kFoldedMarks: accents, cedillas, tildes, the
// marks Latin, Greek and Cyrillic letters carry; the vowel signs of other
// scripts are letters of their words and stay), then lower case by ICU's
// root rules. Both backends fold alike, with the same ICU: SQLite through
// the function kFoldFunction each connection registers, PostgreSQL through
// its own normalize(), regexp_replace() and lower() under the ICU collation
// "und-x-icu" (a database of encoding UTF8, a server built with ICU, as
// Debian's is). FoldedColumn() writes the expression for either.
#pragma once

#include <string>
#include <string_view>

#include "Database.h"

struct sqlite3;

namespace trd::server {

// The code point ranges folding removes (after NFD): Combining Diacritical
// Marks, their Extended and Supplement blocks, the marks for symbols and the
// half marks.
struct CodeRange {
  char32_t first, last;
};
inline constexpr CodeRange kFoldedMarks[] = {
    {0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x20D0, 0x20FF}, {0xFE20, 0xFE2F}};

// The SQL function a SQLite connection folds a text with (one argument; null
// gives null).
inline constexpr std::string_view kFoldFunction = "trd_dobrado";

// `text` (UTF-8) folded; invalid UTF-8 sequences come out as U+FFFD.
std::string FoldedText(std::string_view text);

// The SQL expression of `column` folded, for `backend`.
std::string FoldedColumn(Backend backend, std::string_view column);

// Registers kFoldFunction on a SQLite connection; throws StorageError when
// SQLite refuses.
void RegisterFoldFunction(sqlite3* connection);

}  // namespace trd::server
