// Every text survives writing and reading byte for byte in both formats,
// with its state, keys and context; the files pass msgfmt and xmllint; texts
// a format cannot carry are left out and reported, never written damaged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "ExchangeFixture.h"
#include "exchange/KeyText.h"
#include "exchange/Po.h"
#include "support/ChildProcess.h"

namespace trd::exchange {
namespace {

using ::testing::HasSubstr;
using testing::Header;
using testing::Key;
using testing::Slurp;
using testing::WriteUnits;

struct Case {
  const char* name;
  std::string source;
  std::optional<std::string> translation;
};

// The texts translators' files must carry exactly.
std::vector<Case> Texts() {
  std::string long_text;
  while (long_text.size() < 4000)
    long_text += "Ação número " + std::to_string(long_text.size()) + " & mais; ";
  long_text.resize(4000);
  return {
      {"accents", "Não há códigos à vista", "No codes in sight"},
      {"lf", "Linha 1\nLinha 2", "Line 1\nLine 2"},
      {"cr", "Linha 1\rLinha 2", "Line 1\rLine 2"},
      {"crlf", "Linha 1\r\nLinha 2\r\n", "Line 1\r\nLine 2\r\n"},
      {"leading line break", "\nTotal", "\nTotal"},
      {"tabs", "Nome:\tValor\t", "Name:\tValue\t"},
      {"quotes", "Diga \"sim\" ou 'não'", "Say \"yes\" or 'no'"},
      {"backslashes", "C:\\Dados\\novo\\n.txt \\", "C:\\Data\\new\\n.txt \\"},
      {"accelerators", "&Salvar && &Fechar", "&Save && &Close"},
      {"placeholders", "%s de %d registros (%0:s, %-5.2f, {0}) 100%",
       "%s of %d records (%0:s, %-5.2f, {0}) 100%"},
      {"blanks at both ends", "  Nome  ", "  Name  "},
      {"markup", "<b>&amp;</b> ]]> <?x?> <!-- -->", "<b>&amp;</b> ]]> <?x?> <!-- -->"},
      {"4000 characters", long_text, "x" + long_text.substr(1)},
      {"empty translation", "Nome", ""},
      {"no translation", "Endereço", std::nullopt},
      {"non-BMP", "Emoji 😀 日本語", "Emoji 😀 日本語"},
  };
}

std::vector<Unit> PerText() {
  std::vector<Unit> units;
  int n = 0;
  for (const Case& c : Texts()) {
    std::vector<std::string> translations;
    if (c.translation) translations.push_back(*c.translation);
    units.push_back(
        UnitForText(c.source, {Key("C" + std::to_string(n)), Key("D" + std::to_string(n), 2)}, translations));
    ++n;
  }
  return units;
}

std::vector<Unit> PerKey() {
  std::vector<Unit> units;
  int n = 0;
  for (const Case& c : Texts())
    units.push_back(UnitForRecord(Key("E" + std::to_string(n++)), c.source, c.translation));
  // Awkward keys: blanks, slashes, colons, accents, fractions, negatives.
  units.push_back(
      UnitForRecord({"MEU PROGRAMA", "frm/Cad:1", "Açúcar.3", "Lines.Strings", -1, "ENG"}, "a", "b"));
  units.push_back(UnitForRecord({"P%20", "", "%", "x y\tz", 1e20, "ENG"}, "c", std::nullopt));
  return units;
}

class RoundTrip : public ::testing::TestWithParam<Format> {
 protected:
  test::TempTree dir_{"trd-exchange"};
};

TEST_P(RoundTrip, EveryTextStateKeyAndContextReadsBackExactly) {
  for (const auto& [shape, units] : {std::pair("per text", PerText()), std::pair("per key", PerKey())}) {
    WriteSummary summary;
    std::string path = WriteUnits(dir_, "units", GetParam(), units, &summary);
    EXPECT_EQ(summary.written, units.size()) << shape;
    EXPECT_TRUE(summary.left_out.empty()) << shape;
    ExchangeFile file = ReadFile(path);
    EXPECT_EQ(file.info.format, GetParam());
    EXPECT_EQ(file.info.language, "ENG");
    ASSERT_EQ(file.units.size(), units.size()) << shape;
    for (std::size_t i = 0; i < units.size(); ++i) {
      const Unit& read = file.units[i];
      SCOPED_TRACE(std::string(shape) + ": " + (i < Texts().size() ? Texts()[i].name : "awkward key"));
      EXPECT_EQ(read.source, units[i].source);
      EXPECT_EQ(read.translation, units[i].translation);
      EXPECT_EQ(read.state, units[i].state);
      EXPECT_EQ(read.keys, units[i].keys);
      EXPECT_EQ(read.context, units[i].context);
      EXPECT_EQ(read.id, units[i].id);
      EXPECT_EQ(Importable(read), units[i].translation.has_value());
    }
  }
}

TEST_P(RoundTrip, ReviewAndSuggestionStatesAreNeverImported) {
  Unit review = UnitForText("Salvar", {Key("A")}, {"Save", "Store"});  // two translations in the table
  ASSERT_EQ(review.state, State::NeedsReview);
  Unit empty_review = UnitForText("Abrir", {Key("B")}, {"", "Open"});
  std::string path = WriteUnits(dir_, "review", GetParam(), {review, empty_review});
  ExchangeFile file = ReadFile(path);
  ASSERT_EQ(file.units.size(), 2u);
  EXPECT_EQ(file.units[0].state, State::NeedsReview);
  EXPECT_EQ(file.units[0].translation, "Save");
  // An empty text under review is no translation.
  EXPECT_NE(file.units[1].state, State::Translated);
  EXPECT_EQ(file.units[1].translation, std::nullopt);
  EXPECT_FALSE(Importable(file.units[0]));
  EXPECT_FALSE(Importable(file.units[1]));
}

TEST_P(RoundTrip, UncarriableTextsAreLeftOutAndEmptySourcesCounted) {
  std::vector<Unit> units = {
      UnitForText("antes", {Key("A")}, {"before"}),
      UnitForText(std::string("nul\0x", 5), {Key("B")}, {"y"}),
      UnitForText("eot\x04x", {Key("C")}, {"y"}),
      UnitForText("bell\x07x", {Key("D")}, {"y"}),
      UnitForText("bad \xC3 utf-8", {Key("E")}, {"y"}),
      UnitForText("", {Key("F")}, {}),
      UnitForText("depois", {Key("G")}, {"after"}),
  };
  WriteSummary summary;
  std::string path = WriteUnits(dir_, "odd", GetParam(), units, &summary);
  EXPECT_EQ(summary.empty_sources, 1u);
  std::vector<std::string> left_out;
  for (const LeftOut& l : summary.left_out) left_out.push_back(l.id);
  // PO carries every control character but NUL and U+0004; XML 1.0 none
  // but tab, LF and CR.
  std::vector<std::string> expected = {units[1].id, units[2].id};
  if (GetParam() == Format::Xliff) expected.push_back(units[3].id);
  expected.push_back(units[4].id);
  EXPECT_EQ(left_out, expected);
  EXPECT_THAT(summary.left_out.back().reason, HasSubstr("UTF-8"));

  std::vector<std::string> sources;
  for (const Unit& u : ReadFile(path).units) sources.push_back(u.source);
  std::vector<std::string> kept = {"antes"};
  if (GetParam() == Format::Po) kept.push_back("bell\x07x");
  kept.push_back("depois");
  EXPECT_EQ(sources, kept);
  EXPECT_EQ(summary.written, kept.size());
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip, ::testing::Values(Format::Po, Format::Xliff),
                         [](const auto& info) { return std::string(FormatName(info.param)); });

int RunTool(std::vector<std::string> args, std::string* output) {
  test::ChildProcess child(std::move(args));
  int status = child.Wait();
  *output = child.Out() + child.Err();
  return status;
}

TEST(PoFile, PassesMsgfmtCheckAndMarksWhatMsgfmtRefusesFuzzy) {
  test::TempTree dir("trd-exchange");
  std::vector<Unit> units = PerText();
  // msgfmt refuses a translation whose line breaks at either end differ from
  // its source's; the table may hold one all the same.
  units.push_back(UnitForText("\nInício", {Key("N1")}, {"Start"}));
  units.push_back(UnitForText("Fim\n", {Key("N2")}, {"End"}));
  for (Unit& u : PerKey()) units.push_back(std::move(u));
  std::string path = WriteUnits(dir, "eng.po", Format::Po, units);

  std::string output;
  EXPECT_EQ(RunTool({TRD_MSGFMT, "--check-format", "--check-header", "-o", "/dev/null", path}, &output), 0)
      << output;
  EXPECT_THAT(Slurp(path), HasSubstr("\"Language: en\\n\""));

  std::vector<Unit> read = ReadFile(path).units;
  ASSERT_EQ(read.size(), units.size());
  for (std::size_t i : {PerText().size(), PerText().size() + 1}) {
    EXPECT_EQ(read[i].state, State::NeedsReview) << read[i].source;
    EXPECT_EQ(read[i].translation, units[i].translation);
  }
}

TEST(PoFile, BigExportsGoOutInPagesUnderOneHeader) {
  test::TempTree dir("trd-exchange");
  std::string path = dir.Path("pages.po");
  std::vector<Unit> units;
  for (int i = 0; i < 7; ++i) units.push_back(UnitForText("Texto " + std::to_string(i), {Key("C")}, {}));
  {
    std::ofstream out(path, std::ios::binary);
    PoWriter writer(out, Header(), path, 3);
    for (const Unit& u : units) writer.Add(u);
    EXPECT_EQ(writer.Finish().written, 7u);
  }
  std::string text = Slurp(path);
  EXPECT_EQ(text.find("msgid \"\""), text.rfind("msgid \"\""));  // one header
  std::string output;
  EXPECT_EQ(RunTool({TRD_MSGFMT, "--check-format", "--check-header", "-o", "/dev/null", path}, &output), 0)
      << output;
  std::vector<Unit> read = ReadFile(path).units;
  ASSERT_EQ(read.size(), units.size());
  for (std::size_t i = 0; i < units.size(); ++i) EXPECT_EQ(read[i].source, units[i].source);
}

TEST(XliffFile, IsWellFormedForXmllintAndKeepsCarriageReturnsEscaped) {
  test::TempTree dir("trd-exchange");
  std::vector<Unit> units = PerText();
  for (Unit& u : PerKey()) units.push_back(std::move(u));
  std::string path = WriteUnits(dir, "eng.xlf", Format::Xliff, units);
  std::string output;
  EXPECT_EQ(RunTool({TRD_XMLLINT, "--noout", "--nonet", path}, &output), 0) << output;
  std::string text = Slurp(path);
  EXPECT_THAT(text, HasSubstr("Linha 1&#13;\nLinha 2"));
  EXPECT_THAT(text, HasSubstr("source-language=\"pt-BR\" target-language=\"en\""));
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

}  // namespace
}  // namespace trd::exchange
