// Language tags of the translation table's three-letter language codes, as
// exchange files name languages (PO "Language:", XLIFF source-language and
// target-language).
//
//   code  XLIFF (BCP 47)  PO
//   POR   pt-BR           pt_BR
//   ENG   en              en
//   ESP   es              es
//   any other code XYZ:   x-xyz (a private-use tag; it reads back as XYZ)
//
// The source texts of the table are the forms' own texts, written in
// Brazilian Portuguese: kSourceLanguage is the source language of every file
// unless the caller names another. docs/exchange.md lists the table.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trd::exchange {

enum class TagStyle {
  Bcp47,  // "pt-BR": XLIFF
  Posix,  // "pt_BR": PO
};

inline constexpr std::string_view kSourceLanguage = "POR";

// The tag of a language code (compared ignoring ASCII case).
std::string LanguageTag(std::string_view code, TagStyle style);

// The language code a tag names, in either style and any letter case
// ("pt_BR", "pt-br", "x-xyz"); nullopt for a tag no code maps to ("de").
std::optional<std::string> LanguageCode(std::string_view tag);

}  // namespace trd::exchange
