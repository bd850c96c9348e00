// The language list (cdsIdiLeDfm: IDIDIOMA, DSIDIOMA, IDIPROP, as GetIdiLeDfm
// returns it) and the language box, whose items and text are
// "code-description" ("POR-Português"); the code is the first three
// characters of the text.
#pragma once

#include <string>
#include <string_view>

#include "platform/DataSet.h"

namespace trd::store {

// The box item of the current row of `languages`.
std::string LanguageItem(const DataSet& languages);

// The language code of a box text: its first three characters.
std::string LanguageCode(std::string_view box_text);

// Whether a box text names a language of the list: its first three
// characters and its characters from the fifth on match a row's IDIDIOMA
// and DSIDIOMA, ASCII case ignored. Unknown when the list is not loaded.
enum class LanguageCheck { Known, Unknown };
LanguageCheck CheckLanguage(DataSet& languages, std::string_view box_text);

// The box item of the language whose code is `code` (ASCII case ignored),
// else `code` itself (which CheckLanguage then judges).
std::string BoxTextForCode(DataSet& languages, std::string_view code);

}  // namespace trd::store
