// What each format can carry. A text is written byte for byte or not at all:
//   - both formats: well-formed UTF-8 without NUL;
//   - PO: no U+0004 (gettext's context separator; a file holding it does
//     not read back); every other control character is carried. What PO
//     cannot carry no format does (protocol/Translatable.h);
//   - XLIFF: only characters XML 1.0 allows: tab, LF, CR and U+0020 and up,
//     without U+FFFE and U+FFFF. CR is written as &#13; so that it survives
//     XML's line-end normalisation.
// A unit with a text the format cannot carry is left out of the file and
// reported (WriteSummary::left_out) with the reason Uncarried gives.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Exchange.h"

namespace trd::exchange {

// Why `format` cannot carry `text` ("holds U+0001 at character 4"); nullopt
// when it can.
std::optional<std::string> Uncarried(std::string_view text, Format format);

inline bool Carried(std::string_view text, Format format) { return !Uncarried(text, format); }

// Whether a writer of `format` writes `unit`. Units with an empty source are
// not written and counted; units the format cannot carry are not written and
// reported; both in `summary`.
bool Admit(const Unit& unit, Format format, WriteSummary& summary);

}  // namespace trd::exchange
