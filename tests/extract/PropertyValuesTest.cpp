// The value reader: property lines, string expressions, values over several
// lines, and the tests that decide whether a value is translated.
#include <gtest/gtest.h>

#include "ScanFixture.h"
#include "extract/PropertyValues.h"
#include "platform/Errors.h"

namespace trd::extract {
namespace {

using testing::Lines;

// Reads the property line at `index` of `text`; returns name and value and
// leaves `index` on the last line consumed.
PropertyLine Read(std::string_view text, std::size_t& index) {
  static std::vector<std::string> lines;
  lines = Lines(text);
  return ReadPropertyLine(lines[index], lines, index);
}

PropertyLine Read(std::string_view text) {
  std::size_t index = 0;
  return Read(text, index);
}

TEST(ReadPropertyLine, SplitsNameAndValue) {
  EXPECT_EQ(Read("Caption = 'Salvar'").name, "Caption");
  EXPECT_EQ(Read("Caption = 'Salvar'").value, "Salvar");
  EXPECT_EQ(Read("Title.Caption = 'Nome'").name, "Title.Caption");
  EXPECT_EQ(Read("Left = 10").value, "10");
  EXPECT_EQ(Read("Align = alClient").value, "alClient");
  EXPECT_EQ(Read("Items.Strings = (").value, "(");
  EXPECT_EQ(Read("Columns = <").value, "<");
  EXPECT_EQ(Read("Caption = ''").value, "");
  // Blanks inside the quotes are kept at both ends.
  EXPECT_EQ(Read("Caption = '  Salvar  '").value, "  Salvar  ");
}

TEST(ReadPropertyLine, LinesWithoutAssignmentGiveNothing) {
  PropertyLine header = Read("object btnOk: TButton");
  EXPECT_EQ(header.name, "");
  EXPECT_EQ(header.value, "");
  EXPECT_EQ(Read("end").name, "");
  EXPECT_EQ(Read("Caption='x'").name, "");  // no blank before "="
}

TEST(StringExpressions, DecodeAsTheFormShowsThem) {
  EXPECT_EQ(Read("Caption = 'Linha 1'#13#10'Linha 2'").value, "Linha 1\r\nLinha 2");
  EXPECT_EQ(Read("Caption = 'D'#39'agua'").value, "D'agua");
  EXPECT_EQ(Read("Caption = 'Don''t'").value, "Don't");
  EXPECT_EQ(Read("Caption = ''''").value, "'");
  EXPECT_EQ(Read("Caption = 'Item 1#2'").value, "Item 1#2");
  EXPECT_EQ(Read("Caption = 'Nr.#A'").value, "Nr.#A");
  EXPECT_EQ(Read("Caption = '#Total'").value, "#Total");
  EXPECT_EQ(Read("Caption = 'Caf'#233").value, "Caf\xC3\xA9");
  EXPECT_EQ(Read("Caption = 'Configura'#231#245'es'").value,
            "Configura\xC3\xA7\xC3\xB5"
            "es");
  EXPECT_EQ(Read("Caption = #1060#1072").value, "\xD0\xA4\xD0\xB0");  // Cyrillic
  EXPECT_EQ(Read("Caption = 'R$ 10,00'").value, "R$ 10,00");
  // Raw UTF-8 inside the quotes passes through.
  EXPECT_EQ(Read("Caption = 'A\xC3\xA7\xC3\xA3o'").value, "A\xC3\xA7\xC3\xA3o");
}

TEST(StringExpressions, OddCodes) {
  // A "#" outside the quotes without a digit is dropped.
  EXPECT_EQ(DecodeString("#'abc'"), "abc");
  EXPECT_EQ(DecodeString("'a'#"), "a");
  // A surrogate pair written as two codes is one character.
  EXPECT_EQ(DecodeString("#55357#56832"), "\xF0\x9F\x98\x80");
  // Lone surrogates and codes beyond Unicode become U+FFFD.
  EXPECT_EQ(DecodeString("#55357'x'"), "\xEF\xBF\xBDx");
  EXPECT_EQ(DecodeString("#56832"), "\xEF\xBF\xBD");
  EXPECT_EQ(DecodeString("#99999999999999"), "\xEF\xBF\xBD");
  // A quote left open runs to the end.
  EXPECT_EQ(DecodeString("'aberto"), "aberto");
  // A pair split over two pieces is still one character.
  StringDecoder d;
  d.Add("'a'#55357");
  d.Add("#56832'b'");
  EXPECT_EQ(d.Take(),
            "a\xF0\x9F\x98\x80"
            "b");
}

TEST(ReadPropertyLine, ValueOnTheFollowingLines) {
  std::size_t index = 0;
  PropertyLine p = Read(
      "Hint =\n"
      "'Primeira parte do texto ' +\n"
      "'segunda parte.'\n"
      "Left = 1",
      index);
  EXPECT_EQ(p.name, "Hint");
  EXPECT_EQ(p.value, "Primeira parte do texto segunda parte.");
  EXPECT_EQ(index, 2u);
}

TEST(ReadPropertyLine, LastPieceIsKeptWhole) {
  std::size_t index = 0;
  EXPECT_EQ(Read("Hint =\n'Primeira parte do texto ' +\n'fim. Outra frase'", index).value,
            "Primeira parte do texto fim. Outra frase");
  index = 0;
  EXPECT_EQ(Read("Hint =\n'Conta: ' +\n'1 + 1'", index).value, "Conta: 1 + 1");
  // A value announced by "=" on a single next line.
  index = 0;
  EXPECT_EQ(Read("Hint =\n'Sozinho'\nLeft = 1", index).value, "Sozinho");
  EXPECT_EQ(index, 1u);
}

TEST(ReadPropertyLine, ContinuationFromThePropertyLine) {
  std::size_t index = 0;
  PropertyLine p = Read(
      "Caption = 'abc' +\n"
      "#13#10'def' +\n"
      "'ghi'\n"
      "Left = 1",
      index);
  EXPECT_EQ(p.value, "abc\r\ndefghi");
  EXPECT_EQ(index, 2u);
  // Pieces are decoded one by one: the quotes where they meet never read as
  // a doubled quote.
  index = 0;
  EXPECT_EQ(Read("Caption = 'a' +\n'b'", index).value, "ab");
}

TEST(ReadPropertyLine, StrayContinuationLinesAreConsumed) {
  // A continuation line met outside a value has no name, but still takes the
  // lines it announces.
  std::size_t index = 0;
  PropertyLine p = Read("'abc' +\n'def' +\n'ghi'\nLeft = 1", index);
  EXPECT_EQ(p.name, "");
  EXPECT_EQ(index, 2u);
}

TEST(ReadPropertyLine, ValuePastTheLastLineIsAnError) {
  std::size_t index = 1;
  try {
    Read("object a: TForm\nHint =", index);
    FAIL() << "expected FormatError";
  } catch (const FormatError& e) {
    EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("Hint"), std::string::npos) << e.what();
  }
  index = 0;
  EXPECT_THROW(Read("Caption = 'a' +\n'b' +", index), FormatError);
}

TEST(IsSimpleTextProperty, NamesAndUntranslatableValues) {
  DateTimeText dates;
  EXPECT_TRUE(IsSimpleTextProperty("BTNSALVAR", "Caption", "Salvar", dates));
  EXPECT_TRUE(IsSimpleTextProperty("BTNSALVAR", "caption", "Salvar", dates));
  EXPECT_TRUE(IsSimpleTextProperty("GRID", "Title.Caption", "Nome", dates));
  EXPECT_TRUE(IsSimpleTextProperty("EDT", "EmptyError", "Informe", dates));
  EXPECT_FALSE(IsSimpleTextProperty("BTNSALVAR", "Width", "Salvar", dates));
  EXPECT_FALSE(IsSimpleTextProperty("BTNSALVAR", "Lines.Strings", "Salvar", dates));
  EXPECT_FALSE(IsSimpleTextProperty("LABEL1", "Caption", "Label1", dates));
  EXPECT_FALSE(IsSimpleTextProperty("", "Caption", "Salvar", dates));
  EXPECT_FALSE(IsSimpleTextProperty("LBL", "Caption", "-", dates));
  EXPECT_FALSE(IsSimpleTextProperty("LBL", "Caption", " ", dates));
  EXPECT_FALSE(IsSimpleTextProperty("LBL", "Caption", "10:30", dates));
  EXPECT_FALSE(IsSimpleTextProperty("LBL", "Caption", "12/05/2003", dates));
  EXPECT_TRUE(IsSimpleTextProperty("LBL", "Caption", "", dates));
  EXPECT_TRUE(IsSimpleTextProperty("LBL", "Caption", "  ", dates));
}

TEST(IsStringListProperty, HeaderNameAndValue) {
  DateTimeText dates;
  EXPECT_TRUE(IsStringListProperty("Items.Strings", "CBBTIPO", "(", dates));
  EXPECT_TRUE(IsStringListProperty("picklist.strings", "DBG", "(", dates));
  EXPECT_TRUE(IsStringListProperty("Lines.Nodes", "TRV", "(", dates));
  EXPECT_TRUE(IsStringListProperty("Caption", "LBLB", "PNLA", dates));
  EXPECT_FALSE(IsStringListProperty("Hint", "LBLB", "PNLA", dates));
  EXPECT_FALSE(IsStringListProperty("Items.Strings", "", "(", dates));
  EXPECT_FALSE(IsStringListProperty("Caption", "PNLA", "pnla", dates));
  EXPECT_FALSE(IsStringListProperty("Items.Strings", "CBB", "-", dates));
  EXPECT_FALSE(IsStringListProperty("Items.Strings", "CBB", " ", dates));
  EXPECT_FALSE(IsStringListProperty("Items.Strings", "CBB", "10", dates));  // an hour
  EXPECT_FALSE(IsStringListProperty("Columns", "DBG", "<", dates));
}

TEST(TestaValorProp, WordCharactersAndMenuHints) {
  for (const char* v : {"123", "(12)", "...", " ", "-", "$ 10,00 %", "[1]|_@"})
    EXPECT_FALSE(TestaValorProp(v, "C", "TLabel", "Caption")) << v;
  for (const char* v : {"A1", "", "\xC3\xA9", "1 a", "'", "^", "~", "{", "\r\n"})
    EXPECT_TRUE(TestaValorProp(v, "C", "TLabel", "Caption")) << v;
  EXPECT_FALSE(TestaValorProp("Fecha a janela", "MNISAIR", "TMenuItem", "Hint"));
  EXPECT_FALSE(TestaValorProp("Fecha a janela", "MNISAIR", "tmenuitem", "hint"));
  EXPECT_TRUE(TestaValorProp("Fecha a janela", "MNISAIR", "TMenuItem [3]", "Hint"));
  EXPECT_TRUE(TestaValorProp("Sair", "MNISAIR", "TMenuItem", "Caption"));
}

}  // namespace
}  // namespace trd::extract
