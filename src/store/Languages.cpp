#include "Languages.h"

#include "platform/Text.h"

namespace trd::store {

std::string LanguageItem(const DataSet& languages) {
  return languages.AsString("IDIDIOMA") + "-" + languages.AsString("DSIDIOMA");
}

std::string LanguageCode(std::string_view box_text) { return std::string(text::Left(box_text, 3)); }

LanguageCheck CheckLanguage(DataSet& languages, std::string_view box_text) {
  if (!languages.Active()) return LanguageCheck::Unknown;
  const std::string description(box_text.substr(text::Left(box_text, 4).size()));
  return languages.Locate({"IDIDIOMA", "DSIDIOMA"}, {LanguageCode(box_text), description}, LocateCase::Insensitive)
             ? LanguageCheck::Known
             : LanguageCheck::Unknown;
}

std::string BoxTextForCode(DataSet& languages, std::string_view code) {
  if (text::Length(code) == 3) {
    for (languages.First(); !languages.Eof(); languages.Next())
      if (text::EqualsIgnoreCase(languages.AsString("IDIDIOMA"), code)) return LanguageItem(languages);
  }
  return std::string(code);
}

}  // namespace trd::store
