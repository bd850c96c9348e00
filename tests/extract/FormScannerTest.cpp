// The form-file scanner against the real translation server: which texts of a
// form become records, under which key, and the server calls that make them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ScanFixture.h"
#include "platform/Errors.h"
#include "protocol/Methods.h"
#include "shared/Services.h"

namespace trd::extract {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Lines;
using testing::ScanTest;

std::string Text(const Value& v) { return std::get<std::string>(v); }

TEST(ComponentTracking, HeadersNamesAndClassNames) {
  EXPECT_EQ(IsObjectHeader("object btnOk: TButton"), HeaderKind::Object);
  EXPECT_EQ(IsObjectHeader("OBJECT x: T"), HeaderKind::Object);
  EXPECT_EQ(IsObjectHeader("ObjectMenuItem = mniArquivo"), HeaderKind::Object);
  EXPECT_EQ(IsObjectHeader("inherited lblTitulo: TLabel [2]"), HeaderKind::Inherited);
  EXPECT_EQ(IsObjectHeader("inline fraDados: TfraDados"), HeaderKind::None);
  EXPECT_EQ(IsObjectHeader("Caption = 'object'"), HeaderKind::None);

  EXPECT_EQ(ReadClassName("object btnOk: TButton"), "TButton");
  EXPECT_EQ(ReadClassName("inherited lblTitulo: TLabel [2]"), "TLabel [2]");
  EXPECT_EQ(ReadClassName("Caption = 'Abrir object: dados'"), "dados'");
  EXPECT_EQ(ReadClassName("object TPage"), "object TPage");

  EXPECT_TRUE(IsCollectionProperty("columns", "<"));
  EXPECT_FALSE(IsCollectionProperty("Columns", "<>"));
  EXPECT_FALSE(IsCollectionProperty("Bands", "<"));
}

TEST(ComponentTracking, StackHeaderNameAndPageFlag) {
  struct NoSink final : protocol::TextSink {
    void Take(const protocol::FoundText&, protocol::TextWatcher&) override {}
  } sink;
  bool cancel = false;
  DateTimeText dates;
  ScanEnvironment env{sink, cancel, "POR", dates, {}, {}};
  std::vector<std::string> none;
  ScannerContext ctx(env, none, "X");

  TrackComponent("object nbkPaginas: TNotebook", ctx);
  TrackComponent("object TPage", ctx);
  EXPECT_THAT(ctx.component_stack, ElementsAre("NBKPAGINAS", "NBKPAGINAS"));
  EXPECT_TRUE(ctx.page);
  TrackComponent("inherited edtNome: TEdit [1]", ctx);
  EXPECT_FALSE(ctx.page);
  EXPECT_EQ(ctx.header_name, "EDTNOME");
  TrackComponent("END", ctx);
  TrackComponent("end", ctx);
  TrackComponent("object TPanel", ctx);  // no name: an empty entry
  EXPECT_THAT(ctx.component_stack, ElementsAre("NBKPAGINAS", ""));
  EXPECT_EQ(ctx.header_name, "");
  TrackComponent("end", ctx);
  TrackComponent("end", ctx);
  TrackComponent("end", ctx);  // one too many: nothing happens
  EXPECT_THAT(ctx.component_stack, IsEmpty());
  TrackComponent("object TTabPage", ctx);  // page on an empty stack keeps the empty name
  EXPECT_THAT(ctx.component_stack, ElementsAre(""));
  EXPECT_TRUE(ctx.page);
}

TEST(ProgramCode, FileNameUpToItsFirstDot) {
  EXPECT_EQ(protocol::ProgramCode("Cadastro.Clientes.dfm"), "Cadastro");
  EXPECT_EQ(protocol::ProgramCode("C:\\Src\\Cli\\Trd00500.dfm"), "Trd00500");
  EXPECT_EQ(protocol::ProgramCode("/src/cli/frmPrincipal.DFM"), "frmPrincipal");
  EXPECT_EQ(protocol::ProgramCode("SemExtensao"), "SemExtensao");
}

TEST_F(ScanTest, NestedComponentsShareTheFormName) {
  Scan(R"(object frmCadastro: TfrmCadastro
  Left = 10
  Caption = 'Cadastro de clientes'
  object pnlDados: TPanel
    object btnSalvar: TButton
      Caption = 'Salvar'
      Hint = 'Salva o registro'
    end
    object Label1: TLabel
      Caption = 'Label1'
    end
  end
end)");
  EXPECT_THAT(Summary(),
              ElementsAre("FRMCADASTRO/Caption/0=Cadastro de clientes",
                          "BTNSALVAR/Caption/0=Salvar", "BTNSALVAR/Hint/0=Salva o registro"));
  for (const auto& r : Records()) {
    EXPECT_EQ(r.program, "CADASTRO");
    EXPECT_EQ(r.form, "FRMCADASTRO");
    EXPECT_EQ(r.state, "N");
    EXPECT_EQ(r.source, r.value);
    EXPECT_EQ(r.language, "POR");
  }
  // Each new text: look-up by value, by key, the post, the translation look-up.
  std::vector<std::string> methods = Methods();
  ASSERT_EQ(methods.size(), 12u);
  EXPECT_THAT(std::vector<std::string>(methods.begin(), methods.begin() + 4),
              ElementsAre("GetPropried", "GetVerProp", "SetPropried", "GetUpdRelDfm"));
  std::vector<std::string> first;
  for (const Value& v : ArgsOf("GetPropried")) first.push_back(Text(v));
  EXPECT_THAT(first, ElementsAre("CADASTRO", "FRMCADASTRO", "FRMCADASTRO", "Caption", "0",
                                 "Cadastro de clientes", "POR"));
  EXPECT_EQ(status.at(1), "CADASTRO - FRMCADASTRO - BTNSALVAR - Caption - Salvar");
  EXPECT_EQ(events, 3) << "pending events run once per text, new ones too (a cancel answers at once)";
}

TEST_F(ScanTest, WholeFormWithPagesGridAndMenu) {
  Scan(R"(object frmClientes: TfrmClientes
  Left = 200
  Caption = 'Clientes'
  Menu = mnuPrincipal
  object pgcDados: TPageControl
    ActivePage = tbsGeral
    object tbsGeral: TTabSheet
      Caption = 'Geral'
      object lblNome: TLabel
        Caption = 'Nome:'
        FocusControl = edtNome
      end
      object edtNome: TEdit
        Hint = 'Nome completo do cliente'
        Text = ''
      end
    end
    object tbsObs: TTabSheet
      Caption = 'Observa'#231#245'es'
      object memObs: TMemo
        Lines.Strings = (
          'Primeira linha'
          '')
      end
    end
  end
  object nbkAjuda: TNotebook
    object TPage
      Left = 0
      Caption = 'Ajuda'
      object lblAjuda: TLabel
        Caption = 'Pressione F1'
      end
    end
  end
  object dbgClientes: TDBGrid
    Columns = <
      item
        FieldName = 'NOME'
        Title.Caption = 'Nome'
      end
      item
        FieldName = 'CIDADE'
        Title.Caption = 'Cidade'
      end>
  end
  object stbStatus: TStatusBar
    Panels = <
      item
        Text = 'Pronto'
        Width = 100
      end
      item
        Width = 50
      end>
  end
  object mnuPrincipal: TMainMenu
    object mniArquivo: TMenuItem
      Caption = '&Arquivo'
      object mniSair: TMenuItem
        Caption = 'Sai&r'
        Hint = 'Encerra o sistema'
        ShortCut = 32883
      end
    end
  end
  object lblCodTela: TLabel
    Caption = 'CLI00100'
  end
end)",
       protocol::ProgramCode("C:\\Fontes\\Clientes.Cadastro.dfm"));
  EXPECT_THAT(
      Summary(),
      ElementsAre("FRMCLIENTES/Caption/0=Clientes", "TBSGERAL/Caption/0=Geral",
                  "LBLNOME/Caption/0=Nome:", "EDTNOME/Hint/0=Nome completo do cliente",
                  "EDTNOME/Text/0=", "TBSOBS/Caption/0=Observações",
                  "MEMOBS/Lines.Strings/0=Primeira linha", "LBLAJUDA/Caption/0=Pressione F1",
                  "DBGCLIENTES.0/Columns.Title.Caption/0=Nome",
                  "DBGCLIENTES.1/Columns.Title.Caption/0=Cidade",
                  "STBSTATUS.0/Panels.Text/0=Pronto", "MNIARQUIVO/Caption/0=&Arquivo",
                  "MNISAIR/Caption/0=Sai&r"));
  for (const auto& r : Records()) {
    EXPECT_EQ(r.program, "CLIENTES");
    EXPECT_EQ(r.form, "FRMCLIENTES");
  }
}

TEST_F(ScanTest, TextAlreadyStoredIsOnlyLookedUp) {
  const char* form = "object frmA: TForm\n  Caption = 'Salvar'\n  Hint = 'Dica'\nend";
  Scan(form);
  calls.clear();
  status.clear();
  Scan(form);
  EXPECT_THAT(Methods(), ElementsAre("GetPropried", "GetPropried"));
  // The program code is shown as given until a record of the file is created.
  EXPECT_THAT(status, ElementsAre("Cadastro - FRMA - FRMA - Caption - Salvar",
                                  "Cadastro - FRMA - FRMA - Hint - Dica"));
  EXPECT_EQ(events, 4);  // once per text, in both scans
  EXPECT_EQ(Records().size(), 2u);
}

TEST_F(ScanTest, AnotherValueOfTheKeyReplacesTheRecord) {
  Scan("object frmA: TForm\n  Caption = 'Salvar'\nend");
  calls.clear();
  Scan("object frmA: TForm\n  Caption = 'Gravar'\nend");
  EXPECT_THAT(Methods(), ElementsAre("GetPropried", "GetVerProp", "SetVerProp", "SetPropried",
                                     "GetUpdRelDfm"));
  const auto& deleted = std::get<ChangeSet>(ArgsOf("SetVerProp").at(0));
  ASSERT_EQ(deleted.changes.size(), 1u);
  EXPECT_EQ(deleted.changes[0].kind, ChangeKind::Delete);
  EXPECT_THAT(Summary(), ElementsAre("FRMA/Caption/0=Gravar"));
}

TEST_F(ScanTest, TranslationOfTheSameSourceTextIsCopied) {
  Scan("object frmA: TForm\n  Caption = 'Salvar'\nend", "ProgA");
  service->Call(protocol::kModuleTranslations, "UpdateRelDfm",
                std::vector<Value>{std::string("PROGA"), std::string("FRMA"), std::string("FRMA"),
                                   std::string("Caption"), std::int64_t(0), std::string("POR"),
                                   std::string("Gravar"), std::string("T"), DateTime::Now()});
  calls.clear();
  Scan("object frmB: TForm\n  object btnOk: TButton\n    Caption = 'Salvar'\n  end\nend", "ProgB");
  EXPECT_THAT(Methods(), ElementsAre("GetPropried", "GetVerProp", "SetPropried", "GetUpdRelDfm",
                                     "UpdateRelDfm"));
  const auto& args = ArgsOf("UpdateRelDfm");
  ASSERT_EQ(args.size(), 9u);
  EXPECT_EQ(Text(args[0]), "PROGB");
  EXPECT_EQ(Text(args[2]), "BTNOK");
  EXPECT_EQ(std::get<std::int64_t>(args[4]), 0);
  EXPECT_EQ(Text(args[6]), "Gravar");
  EXPECT_EQ(Text(args[7]), "T");
  EXPECT_TRUE(std::holds_alternative<DateTime>(args[8]));
  auto recs = Records();
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[1].value, "Gravar");
  EXPECT_EQ(recs[1].source, "Salvar");
  EXPECT_EQ(recs[1].state, "T");
}

TEST_F(ScanTest, ValuesAreCutAndLookedUpWithoutTrailingBlanks) {
  std::string long_value;
  for (int i = 0; i < 4001; ++i) long_value += "\xC3\xA9";  // 4001 characters, 8002 bytes
  Scan("object frmA: TForm\n  Caption = 'Salvar  '\n  Hint = '" + long_value + "'\nend");
  EXPECT_EQ(Text(ArgsOf("GetPropried", 0).at(5)), "Salvar");
  auto recs = Records();
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].value, "Salvar  ");
  EXPECT_EQ(recs[1].value.size(), 8000u);
  EXPECT_EQ(recs[1].source, recs[1].value);
  EXPECT_EQ(Text(ArgsOf("GetUpdRelDfm", 1).at(0)).size(), 8000u);
}

TEST_F(ScanTest, OddLinesKeepTheirRules) {
  Scan(R"(object frmA: TForm
  Caption = ''
  Hint = ''
  object nbkPaginas: TNotebook
    object TPage
      Caption = 'Default'
      Items.Strings = (
        'Primeira')
      object edtNome: TEdit
        caption = ''
        Text = 'Nome'
      end
    end
  end
  object TPanel
    Caption = 'Sem nome'
  end
  object pnlB: TPanel
    inline fraC: TfraC
      Caption = 'Quadro'
    end
    Caption = 'Depois do quadro'
  end
  object btnA: TButton
    ObjectMenuItem = mniArquivo
    Caption = 'Depois do menu'
  end
  Caption = 'Fora do botao'
  object lblCodTela: TLabel
    Caption = 'TRD00500'
  end
  object LblCodRel: TLabel
    Hint = 'Relatorio'
  end
end)");
  EXPECT_THAT(Summary(), ElementsAre(
                             // "Hint = ''" and "caption = ''" are read like any other value
                             "FRMA/Hint/0=",
                             // page flag: the page's caption is left, its list is taken
                             "NBKPAGINAS/Items.Strings/0=Primeira",
                             "EDTNOME/caption/0=", "EDTNOME/Text/0=Nome",
                             // "inline" pushes nothing, but its "end" pops the panel
                             "PNLB/Caption/0=Quadro", "FRMA/Caption/0=Depois do quadro",
                             // "ObjectMenuItem" pushed an empty name, which the button's "end"
                             // removed: the button stays open
                             "BTNA/Caption/0=Fora do botao"));
  // The exact line "Caption = ''" is never looked up.
  for (const auto& c : calls) {
    if (c.method == "GetPropried") {
      EXPECT_FALSE(Text(c.args.at(3)) == "Caption" && Text(c.args.at(5)).empty());
    }
  }
}

TEST_F(ScanTest, CollectionWithAnotherNameIsReadLineByLine) {
  Scan(R"(object frmA: TForm
  object cbrBarra: TCoolBar
    Bands = <
      item
        Text = 'Primeira'
      end
      item
        Text = 'Outro'
      end>
  end
end)");
  EXPECT_THAT(Summary(), ElementsAre("CBRBARRA/Text/0=Primeira", "FRMA/Text/0=Outro"));
}

TEST_F(ScanTest, MenuItemHintsAreLookedUpButNotRecorded) {
  Scan(R"(object frmA: TForm
  object mniSair: TMenuItem
    Caption = 'Sair'
    Hint = 'Fecha a janela'
  end
  object mniAbrir: TMenuItem
    Caption = 'Abrir object: dados'
    Hint = 'Abre um arquivo'
  end
end)");
  EXPECT_THAT(Summary(),
              ElementsAre("MNISAIR/Caption/0=Sair", "MNIABRIR/Caption/0=Abrir object: dados",
                          "MNIABRIR/Hint/0=Abre um arquivo"));
  // The menu item's hint is looked up by value, and there it ends.
  EXPECT_EQ(Text(ArgsOf("GetPropried", 1).at(2)), "MNISAIR");
  EXPECT_EQ(Text(ArgsOf("GetPropried", 1).at(3)), "Hint");
  for (const auto& c : calls) {
    if (c.method == "GetVerProp") {
      EXPECT_FALSE(Text(c.args.at(2)) == "MNISAIR" && Text(c.args.at(3)) == "Hint");
    }
  }
}

TEST_F(ScanTest, InheritedHeadersDoNotChangeTheClassName) {
  Scan(R"(inherited frmA: TfrmBase
  inherited mniSair: TMenuItem
    Hint = 'Fecha'
  end
end)");
  EXPECT_THAT(Summary(), ElementsAre("MNISAIR/Hint/0=Fecha"));
}

TEST_F(ScanTest, CaptionEqualToItsOwnerIsReadAsAList) {
  // The caption equals the panel's name but not the latest header's: the
  // following lines are read as list entries up to one ending in ")".
  Scan(R"(object frmA: TForm
  object pnlA: TPanel
    object lblB: TLabel
      Caption = 'Rotulo'
    end
    Caption = 'PNLA'
    Hint = 'Dica'
    Items.Strings = (
      'Um')
    Width = 10
  end
end)");
  EXPECT_THAT(Summary(), ElementsAre("LBLB/Caption/0=Rotulo", "PNLA/Caption/0=Hint = Dica",
                                     "PNLA/Caption/1=Items.Strings = (", "PNLA/Caption/2=Um"));
}

TEST_F(ScanTest, CancelStopsBeforeTheNextLine) {
  cancel = true;
  Scan("object frmA: TForm\n  Caption = 'Salvar'\nend");
  EXPECT_THAT(calls, IsEmpty());

  cancel = false;
  const char* form = "object frmA: TForm\n  Caption = 'Um'\n  Hint = 'Dois'\nend";
  Scan(form);
  calls.clear();
  on_events = [this] { cancel = true; };  // the user presses cancel while the screen repaints
  Scan(form);
  EXPECT_THAT(Methods(), ElementsAre("GetPropried"));
}

TEST_F(ScanTest, FailureLeavesImportAndKeepsWhatWasStored) {
  fail_method = "GetPropried";
  fail_on_call = 2;
  struct Busy : shared::BusyIndicator {
    int hides = 0;
    void Show(void*, shared::ShowAviKind) override {}
    void Hide() override { ++hides; }
  };
  auto busy = std::make_shared<Busy>();
  services.busy = busy;
  EXPECT_THROW(Scan("object frmA: TForm\n  Caption = 'Um'\n  Hint = 'Dois'\n  Text = 'Tres'\nend"),
               shared::ServerFailureError);
  EXPECT_THAT(Summary(), ElementsAre("FRMA/Caption/0=Um"));
  EXPECT_EQ(Methods().back(), "GetPropried");
  // The busy indicator is switched off after each look-up by value, the
  // failed one included (and by the post's transfer).
  EXPECT_EQ(busy->hides, 3);
}

TEST_F(ScanTest, FailedPostIsUndoneAndStopsTheScan) {
  fail_method = "SetPropried";
  EXPECT_THROW(Scan("object frmA: TForm\n  Caption = 'Um'\n  Hint = 'Dois'\nend"),
               shared::ServerFailureError);
  EXPECT_THAT(Records(), IsEmpty());
  EXPECT_EQ(store.cdsPropProp.RecordCount(), 0);
  EXPECT_EQ(Methods().back(), "SetPropried");
}

TEST_F(ScanTest, ValueRunningPastTheEndIsAFormatError) {
  try {
    Scan("object frmA: TForm\n  Caption = 'Um'\n  Hint =");
    FAIL() << "expected FormatError";
  } catch (const FormatError& e) {
    EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos) << e.what();
  }
  EXPECT_THAT(Summary(), ElementsAre("FRMA/Caption/0=Um"));
}

}  // namespace
}  // namespace trd::extract
