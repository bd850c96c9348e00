// String lists, message tables and collections: one record per entry or item
// text, numbered and named as the translation table keys them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ScanFixture.h"
#include "platform/Errors.h"
#include "protocol/Methods.h"

namespace trd::extract {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::ScanTest;

std::string Text(const Value& v) { return std::get<std::string>(v); }

// A form holding one component with the given property lines.
std::string Form(std::string_view component, std::string_view body) {
  return "object frmA: TForm\n  object " + std::string(component) + "\n" + std::string(body) +
         "\n  end\nend";
}

TEST_F(ScanTest, MessageTableKeepsOnlyTheTexts) {
  Scan(Form("msgPadrao: TMessages",
            "    Messages.Strings = (\n"
            "      'Sair|Sair'\n"
            "      'sucesso|A importa'#231#227'o foi realizada com sucesso!'\n"
            "      'chave=valor')"));
  EXPECT_THAT(Summary(),
              ElementsAre("MSGPADRAO/Messages.Strings/0=Sair",
                          "MSGPADRAO/Messages.Strings/1=A importação foi realizada com sucesso!",
                          "MSGPADRAO/Messages.Strings/2=chave=valor"));
  EXPECT_EQ(Text(ArgsOf("GetPropried", 1).at(4)), "1");
  EXPECT_EQ(ArgsOf("GetPropried", 1).size(), 7u);
  EXPECT_EQ(Text(ArgsOf("GetVerProp", 1).at(4)), "1");
  EXPECT_EQ(status.at(1),
            "CADASTRO - FRMA - MSGPADRAO - Messages.Strings - A importação foi realizada com ...");
}

TEST_F(ScanTest, KeySplitDependsOnTheList) {
  Scan(Form("rlLoader: TReportLoader",
            "    RuntimeMessages.Strings = (\n"
            "      'Invalid value=Valor inv'#225'lido!'\n"
            "      'Sem chave')\n"
            "    Lines.Strings = (\n"
            "      'A|B'\n"
            "      'x=y')"));
  EXPECT_THAT(Summary(), ElementsAre("RLLOADER/RuntimeMessages.Strings/0=Valor inválido!",
                                     "RLLOADER/RuntimeMessages.Strings/1=Sem chave",
                                     "RLLOADER/Lines.Strings/0=B", "RLLOADER/Lines.Strings/1=x=y"));
}

TEST_F(ScanTest, EntriesDecodeAsTheFormShowsThem) {
  Scan(R"(object frmA: TForm
  object memA: TMemo
    Lines.Strings = (
      'Linha 1'#13#10'Linha 2'
      'Don''t'
      '#Total'
      'Nr 5#2'
      'Caf'#233
      'A '#39'|'#39' B'
      'Total (R$)')
  end
  object dbgA: TDBGrid
    Columns = <
      item
        PickList.Strings = (
          'Linha 1'#13#10'Linha 2'
          'Sim|N'#227'o')
      end>
  end
end)");
  EXPECT_THAT(Summary(), ElementsAre("MEMA/Lines.Strings/0=Linha 1\r\nLinha 2",
                                     "MEMA/Lines.Strings/1=Don't", "MEMA/Lines.Strings/2=#Total",
                                     "MEMA/Lines.Strings/3=Nr 5#2", "MEMA/Lines.Strings/4=Café",
                                     // the split comes after decoding
                                     "MEMA/Lines.Strings/5=' B", "MEMA/Lines.Strings/6=Total (R$)",
                                     "DBGA.0/PickList.Strings/0=Linha 1\r\nLinha 2",
                                     "DBGA.0/PickList.Strings/1=Não"));
}

TEST_F(ScanTest, EntriesOverSeveralLinesAndNumbering) {
  Scan(Form("cbbTipo: TComboBox",
            "    Items.Strings = (\n"
            "\n"
            "      'Primeira ' +\n"
            "      'segunda ' +\n"
            "      'terceira'\n"
            "      '123'\n"
            "      ''\n"
            "      '1 + 1 = dois' +\n"
            "      ' e mais')\n"
            "    Hint = 'Depois'"));
  EXPECT_THAT(Summary(),
              ElementsAre("CBBTIPO/Items.Strings/0=Primeira segunda terceira",
                          "CBBTIPO/Items.Strings/3=1 + 1 = dois e mais", "CBBTIPO/Hint/0=Depois"));
  // '123' and '' take numbers 1 and 2 and are looked up, but not recorded;
  // an empty line takes no number.
  std::vector<std::string> numbers;
  for (const auto& c : calls)
    if (c.method == "GetPropried") numbers.push_back(Text(c.args.at(4)) + ":" + Text(c.args.at(5)));
  EXPECT_THAT(numbers, ElementsAre("0:Primeira segunda terceira", "1:123",
                                   "2:", "3:1 + 1 = dois e mais", "0:Depois"));
}

TEST_F(ScanTest, StatusOfAListEntryShowsItsFirst30Characters) {
  Scan(Form("memA: TMemo", "    Lines.Strings = (\n      'Curta')"));
  EXPECT_THAT(status, ElementsAre("CADASTRO - FRMA - MEMA - Lines.Strings - Curta ..."));
}

TEST_F(ScanTest, GridColumnsNamedByItem) {
  Scan(R"(object frmA: TForm
  object dbgClientes: TDBGrid
    Columns = <
      item
        Expanded = False
        FieldName = 'NOME'
        Title.Caption = 'Nome'
        Width = 120
      end
      item
        PickList.Strings = (
          'Ativo'
          'Inativo')
        Title.Caption = 'Situa'#231#227'o'
      end>
    Hint = 'Clientes'
  end
end)");
  EXPECT_THAT(Summary(), ElementsAre("DBGCLIENTES.0/Columns.Title.Caption/0=Nome",
                                     "DBGCLIENTES.1/PickList.Strings/0=Ativo",
                                     "DBGCLIENTES.1/PickList.Strings/1=Inativo",
                                     "DBGCLIENTES.1/Columns.Title.Caption/0=Situação",
                                     "DBGCLIENTES/Hint/0=Clientes"));
  // An item text shows its whole value.
  EXPECT_EQ(status.at(0), "CADASTRO - FRMA - DBGCLIENTES.0 - Columns.Title.Caption - Nome");
}

TEST_F(ScanTest, ItemCounterCountsEveryLineHoldingItem) {
  Scan(R"(object frmA: TForm
  object hdrA: THeaderControl
    Sections = <
      item
        Text = 'Subitem'
        Width = 80
      end
      item
        Text = 'Cidade'
      END>
    Hint = 'Cabecalho'
  end
end)");
  EXPECT_THAT(Summary(), ElementsAre("HDRA.0/Sections.Text/0=Subitem",
                                     "HDRA.2/Sections.Text/0=Cidade", "HDRA/Hint/0=Cabecalho"));
}

TEST_F(ScanTest, StoredItemTextsAreSilent) {
  const char* form = R"(object frmA: TForm
  object stbA: TStatusBar
    Panels = <
      item
        Text = 'Pronto'
      end>
    SimpleText = 'Barra'
  end
end)";
  Scan(form);
  calls.clear();
  status.clear();
  Scan(form);
  EXPECT_THAT(Methods(), ElementsAre("GetPropried", "GetPropried"));
  EXPECT_THAT(status, ElementsAre("Cadastro - FRMA - STBA - SimpleText - Barra"));
  EXPECT_EQ(events, 4);  // silent, but pending events still run once per text, in both scans
}

TEST_F(ScanTest, ReadersStopWhenCancelled) {
  on_status = [this] { cancel = true; };
  Scan(Form("memA: TMemo", "    Lines.Strings = (\n      'Um'\n      'Dois'\n      'Tres')"));
  EXPECT_THAT(Summary(), ElementsAre("MEMA/Lines.Strings/0=Um"));

  cancel = false;
  calls.clear();
  Scan(R"(object frmB: TForm
  object dbgA: TDBGrid
    Columns = <
      item
        Title.Caption = 'Um'
      end
      item
        Title.Caption = 'Dois'
      end>
  end
end)");
  EXPECT_EQ(Summary().back(), "DBGA.0/Columns.Title.Caption/0=Um");
  EXPECT_EQ(Methods().size(), 4u);
}

TEST_F(ScanTest, UnclosedListsAndCollectionsEndWithTheLines) {
  Scan("object frmA: TForm\n  object memA: TMemo\n    Lines.Strings = (\n      'Um'\n      'Dois'");
  EXPECT_THAT(Summary(), ElementsAre("MEMA/Lines.Strings/0=Um", "MEMA/Lines.Strings/1=Dois"));

  Scan(
      "object frmB: TForm\n  object dbgA: TDBGrid\n    Columns = <\n      item\n"
      "        Title.Caption = 'Nome'\n      end");
  EXPECT_EQ(Summary().back(), "DBGA.0/Columns.Title.Caption/0=Nome");

  Scan("object frmC: TForm\n  object dbgA: TDBGrid\n    Columns = <");
  Scan("object frmD: TForm\n  object memA: TMemo\n    Lines.Strings = (");
  EXPECT_EQ(Records().size(), 3u);
}

TEST_F(ScanTest, EntryContinuedPastTheEndIsAFormatError) {
  try {
    Scan(
        "object frmA: TForm\n  object memA: TMemo\n    Lines.Strings = (\n      'Um'\n      'Dois' "
        "+");
    FAIL() << "expected FormatError";
  } catch (const FormatError& e) {
    EXPECT_NE(std::string(e.what()).find("line 5"), std::string::npos) << e.what();
  }
  EXPECT_THAT(Summary(), ElementsAre("MEMA/Lines.Strings/0=Um"));
}

TEST_F(ScanTest, ListReplacedEntryAndCopiedTranslation) {
  Scan(Form("cbbA: TComboBox", "    Items.Strings = (\n      'Sim'\n      'Talvez')"), "ProgA");
  service->Call(
      protocol::kModuleTranslations, "UpdateRelDfm",
      std::vector<Value>{std::string("PROGA"), std::string("FRMA"), std::string("CBBA"),
                         std::string("Items.Strings"), std::int64_t(0), std::string("POR"),
                         std::string("Yes"), std::string("T"), DateTime::Now()});
  calls.clear();
  // Same file with the second entry changed; a new file with the first entry.
  Scan(Form("cbbA: TComboBox", "    Items.Strings = (\n      'Sim'\n      'Nunca')"), "ProgA");
  EXPECT_THAT(Methods(), ElementsAre("GetPropried", "GetPropried", "GetVerProp", "SetVerProp",
                                     "SetPropried", "GetUpdRelDfm"));
  calls.clear();
  Scan(Form("cbbB: TComboBox", "    Items.Strings = (\n      'Sim')"), "ProgB");
  EXPECT_THAT(Methods(), ElementsAre("GetPropried", "GetVerProp", "SetPropried", "GetUpdRelDfm",
                                     "UpdateRelDfm"));
  EXPECT_EQ(std::get<std::int64_t>(ArgsOf("UpdateRelDfm").at(4)), 0);
  EXPECT_THAT(Summary(), ElementsAre("CBBA/Items.Strings/0=Yes", "CBBA/Items.Strings/1=Nunca",
                                     "CBBB/Items.Strings/0=Yes"));
}

}  // namespace
}  // namespace trd::extract
