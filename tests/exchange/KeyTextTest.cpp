// The key text and language tags: what files name records and languages by.
#include <gtest/gtest.h>

#include "ExchangeFixture.h"
#include "exchange/KeyText.h"
#include "exchange/Language.h"

namespace trd::exchange {
namespace {

TEST(KeyText, ReadsBackToTheSameKeyWithoutBlanksOrColons) {
  std::vector<protocol::RecordKey> keys = {
      {"CADCLI", "FRMCADCLI", "BTNSALVAR", "Caption", 0, "ENG"},
      {"MEU PROGRAMA", "frm/Cad:1", "Açúcar.3", "Lines.Strings", 12, "POR"},
      {"P%20", "", "%", "x\ty\nz", -1.5, "E"},
      {"A", "B", "C", "D", 1e20, ""},
  };
  for (const protocol::RecordKey& key : keys) {
    std::string text = KeyText(key);
    EXPECT_EQ(text.find_first_of(" \t\r\n:\"<>&"), std::string::npos) << text;
    EXPECT_EQ(ParseKeyText(text), key) << text;
  }
  EXPECT_EQ(KeyText(keys[0]), "CADCLI/FRMCADCLI/BTNSALVAR/Caption/0/ENG");
  EXPECT_EQ(KeyText(keys[1]), "MEU%20PROGRAMA/frm%2FCad%3A1/A%C3%A7%C3%BAcar.3/Lines.Strings/12/POR");
}

TEST(KeyText, RefusesWhatIsNotAKeyText) {
  for (const char* text :
       {"", "src/main.c:12", "A/B/C/D/0", "A/B/C/D/0/E/F", "A/B/C/D/x/ENG", "A/B/C/D/1.5x/ENG",
        "A/B/C/D//ENG", "A B/B/C/D/0/ENG", "A%2/B/C/D/0/ENG", "A%zz/B/C/D/0/ENG", "A%FF/B/C/D/0/ENG"})
    EXPECT_EQ(ParseKeyText(text), std::nullopt) << text;
}

TEST(Language, TagsOfTheTableCodesAndBack) {
  EXPECT_EQ(LanguageTag("POR", TagStyle::Posix), "pt_BR");
  EXPECT_EQ(LanguageTag("POR", TagStyle::Bcp47), "pt-BR");
  EXPECT_EQ(LanguageTag("eng", TagStyle::Bcp47), "en");
  EXPECT_EQ(LanguageTag("ESP", TagStyle::Posix), "es");
  EXPECT_EQ(LanguageTag("ALE", TagStyle::Bcp47), "x-ale");
  for (const char* code : {"POR", "ENG", "ESP", "ALE"})
    for (TagStyle style : {TagStyle::Posix, TagStyle::Bcp47})
      EXPECT_EQ(LanguageCode(LanguageTag(code, style)), code);
  EXPECT_EQ(LanguageCode("PT-br"), "POR");
  EXPECT_EQ(LanguageCode("de"), std::nullopt);
  EXPECT_EQ(LanguageCode("pt"), std::nullopt);
}

}  // namespace
}  // namespace trd::exchange
