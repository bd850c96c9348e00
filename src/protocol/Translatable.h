// Which records a translator can be given. A record is translatable when its
// source text is not empty and some exchange file carries it: well-formed
// UTF-8 without U+0000 or U+0004, the characters neither PO nor XLIFF
// carries (exchange/Carriage.h holds what each format carries, and takes
// these from here). The exchange files leave the other records out, so the
// coverage (GetCobertura, `trd status`, the progress page) counts them apart
// ("não traduzíveis") and a language whose translatable records are all
// translated stands at 100%.
#pragma once

#include <string_view>

namespace trd::protocol {

// U+0000 and U+0004: no exchange file carries them.
constexpr bool NoExchangeFileCarries(char32_t c) { return c == 0 || c == 4; }

// Whether a record of `source` can be translated through an exchange file.
bool Translatable(std::string_view source);

}  // namespace trd::protocol
