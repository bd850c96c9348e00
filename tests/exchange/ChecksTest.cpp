// The translation checks: each catches what breaks a screen or a message,
// and leaves alone what only looks different.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ExchangeFixture.h"
#include "exchange/Checks.h"

namespace trd::exchange {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Key;

std::vector<CheckKind> Kinds(std::string_view source, std::string_view translation) {
  std::vector<CheckKind> out;
  for (const Issue& i : CheckTranslation(source, translation)) out.push_back(i.kind);
  return out;
}

TEST(Checks, PlaceholdersMustFillTheSameArguments) {
  EXPECT_THAT(Kinds("%s de %d", "%s of %d"), IsEmpty());
  EXPECT_THAT(Kinds("%0:s de %1:d", "%1:d of %0:s"), IsEmpty());  // indexed: order free
  EXPECT_THAT(Kinds("%5.2f%% pago", "%.1f%% paid"), IsEmpty());   // width and precision free
  EXPECT_THAT(Kinds("{0} de {1:N2}", "{1:N2} of {0}"), IsEmpty());
  EXPECT_THAT(Kinds("50% off, {{literal}}", "50% desconto, {{literal}}"), IsEmpty());
  EXPECT_THAT(Kinds("%s de %d", "%d of %s"), ElementsAre(CheckKind::Placeholders));  // swaps the arguments
  EXPECT_THAT(Kinds("Arquivo %s", "File"), ElementsAre(CheckKind::Placeholders));
  EXPECT_THAT(Kinds("Arquivo %s", "File %S"), IsEmpty());  // type letters in any case
  EXPECT_THAT(Kinds("Total %*d", "Total %d"), ElementsAre(CheckKind::Placeholders));
  EXPECT_THAT(Kinds("{0} itens", "{1} items"), ElementsAre(CheckKind::Placeholders));
  auto issues = CheckTranslation("%s de %d", "%d of %s");
  EXPECT_EQ(issues[0].detail, "placeholders %s, %d in the source; %d, %s in the translation");
}

TEST(Checks, AcceleratorsBlanksAndLineBreaks) {
  EXPECT_THAT(Kinds("&Salvar", "&Save"), IsEmpty());
  EXPECT_THAT(Kinds("Tom && Jerry", "Tom && Jerry e &Cia"), ElementsAre(CheckKind::Accelerators));
  EXPECT_THAT(Kinds("&Salvar", "Save"), ElementsAre(CheckKind::Accelerators));
  EXPECT_THAT(Kinds("Salvar && sair", "Save and exit"), IsEmpty());

  EXPECT_THAT(Kinds("  Nome:", "  Name:"), IsEmpty());
  EXPECT_THAT(Kinds("Nome: ", "Name:"), ElementsAre(CheckKind::Blanks));
  EXPECT_THAT(Kinds("\tNome", " Name"), ElementsAre(CheckKind::Blanks));
  EXPECT_EQ(
      CheckTranslation(" Nome ", "Name")[0].detail,
      "leading blanks \" \" in the source, \"\" in the translation; trailing blanks \" \" in the source, "
      "\"\" in the translation");

  EXPECT_THAT(Kinds("Linha 1\r\nLinha 2", "Line 1\nLine 2"), IsEmpty());  // one break each
  EXPECT_THAT(Kinds("Linha 1\r\nLinha 2", "Line 1\n\nLine 2"), ElementsAre(CheckKind::LineBreaks));
  EXPECT_THAT(Kinds("Uma linha", "One\rline"), ElementsAre(CheckKind::LineBreaks));
}

TEST(Checks, AnIdenticalTranslationIsANoticeOnlyWhereTheSourceHasALetter) {
  EXPECT_THAT(Kinds("Status", "Status"), ElementsAre(CheckKind::Identical));
  EXPECT_THAT(Kinds("Ação", "Ação"), ElementsAre(CheckKind::Identical));
  EXPECT_THAT(Kinds("-", "-"), IsEmpty());
  EXPECT_THAT(Kinds("%d / %d", "%d / %d"), IsEmpty());
  EXPECT_EQ(SeverityOf(CheckKind::Identical), Severity::Notice);
  EXPECT_FALSE(HasErrors(CheckSourceText("Status", {{Key("A"), "Status"}})));
}

TEST(Checks, OneSourceTextWithSeveralTranslationsNamesEveryRecord) {
  std::vector<TranslatedRecord> records = {
      {Key("A"), "Save"}, {Key("B"), "Store"}, {Key("C"), "Save"}, {Key("D"), "Save "}};
  std::vector<Finding> findings = CheckSourceText("Salvar", records);
  ASSERT_EQ(findings.size(), 2u);
  // The trailing blank of one translation, for the one record holding it.
  EXPECT_EQ(findings[0].kind, CheckKind::Blanks);
  EXPECT_EQ(findings[0].translations, std::vector<std::string>{"Save "});
  EXPECT_EQ(findings[0].keys, std::vector<protocol::RecordKey>{Key("D")});
  EXPECT_EQ(findings[1].kind, CheckKind::Inconsistent);
  EXPECT_EQ(findings[1].translations, (std::vector<std::string>{"Save", "Store", "Save "}));
  EXPECT_EQ(findings[1].keys, (std::vector<protocol::RecordKey>{Key("A"), Key("C"), Key("B"), Key("D")}));
  EXPECT_TRUE(HasErrors(findings));
  EXPECT_THAT(CheckSourceText("Salvar", {{Key("A"), "Save"}, {Key("B"), "Save"}}), IsEmpty());
}

}  // namespace
}  // namespace trd::exchange
