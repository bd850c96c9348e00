// Report import against the real translation server: what is recorded for
// each element kind, the generated names, the order of the server calls, the
// long texts, files that are no reports, and failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "ReportFixture.h"
#include "platform/Errors.h"
#include "platform/Text.h"

namespace trd::report::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST_F(ImportTest, FilesWithoutTheSignatureAreReportedOnceAndTheRunGoesOn) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {{"text file", "object rptVendas: TDesignQuickReport\nend\n"},
                        {"empty file", ""},
                        {"one byte", std::string("\x51", 1)}};
  const std::string next = dir.WriteReport(
      "Rel/Compras.qr2", Report("object lblA: TQRLabel\n Caption = 'Compras'\n end"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dialogs->shown.clear();
    calls.clear();
    std::string bad = dir.Write("Rel/Vendas.qr2", c.bytes);
    // The run's file loop: the bad file, then the next selected one.
    EXPECT_EQ(Import(bad), ReportOutcome::NotAReport);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(Import(next), ReportOutcome::Read);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text,
              "O arquivo Vendas.qr2 não é um relatório válido e não foi importado.");
    EXPECT_EQ(dialogs->shown[0].type, shared::MsgType::Confirmation);
    EXPECT_EQ(dialogs->shown[0].buttons, shared::MsgButtons::Ok);
    EXPECT_TRUE(Records("VENDAS").empty());
    EXPECT_THAT(Summary("COMPRAS"), Contains("lblA/TQRLabel/0=Compras"));
  }
}

TEST_F(ImportTest, ALabelIsRecordedUnderTheProgramCodeWithItsNameAsWritten) {
  std::string path =
      dir.WriteReport("Rel/Vendas.Mensal.qr2",
                      Report("object lblTitulo: TQRLabel\n Caption = 'Relatório de Vendas'\n end",
                             "'Vendas do mês'"));
  EXPECT_EQ(Import(path), ReportOutcome::Read);

  std::vector<Stored> r = Records();
  ASSERT_EQ(r.size(), 2u);
  // The design report's title comes first.
  EXPECT_EQ(r[0].component, "QuickReport");
  EXPECT_EQ(r[0].property, "TDesignQuickReport");
  EXPECT_EQ(r[0].value, "Vendas do mês");
  const Stored& label = r[1];
  EXPECT_EQ(label.program, "VENDAS");
  EXPECT_EQ(label.form, "QrDesign");
  EXPECT_EQ(label.component, "lblTitulo");
  EXPECT_EQ(label.property, "TQRLabel");
  EXPECT_EQ(label.number, 0);
  EXPECT_EQ(label.state, "N");
  EXPECT_EQ(label.value, "Relatório de Vendas");
  EXPECT_EQ(label.source, "Relatório de Vendas");
  EXPECT_EQ(label.language, "POR");

  EXPECT_THAT(status,
              ElementsAre("Vendas - QuickReport - TDesignQuickReport - 0 - Vendas do mês ...",
                          "Vendas - lblTitulo - TQRLabel - 0 - Relatório de Vendas ..."));
  EXPECT_EQ(events, 2);
}

TEST_F(ImportTest, LinesAndUnnamedElementsGetNumbersAndGeneratedNames) {
  std::string path = dir.WriteReport("Vendas.qr2", Report(R"(
    object memObs: TQRMemo
      Lines.Strings = ('Primeira' 'Segunda' 'Terceira')
    end
    object TQRShape
    end
    object TQRLabel
      Caption = 'Total'
    end
    object TQRMemo
      Lines.Strings = ('Linha um' 'Linha dois')
    end
    object TQRDesignLabel
      Caption = 'Derivado'
    end
    object rtxAviso: TQRRichText
      Lines.Strings = ('Aviso')
    end
    object TQRSysData
      Text = 'Página '
    end)"));
  Import(path);
  EXPECT_THAT(
      Summary("VENDAS"),
      ElementsAre("QuickReport/TDesignQuickReport/0=Relatório", "memObs/TQRMemo/0=Primeira",
                  "memObs/TQRMemo/1=Segunda", "memObs/TQRMemo/2=Terceira",
                  "__TQRLabel0/TQRLabel/0=Total", "__TQRMemo1/TQRMemo/0=Linha um",
                  "__TQRMemo2/TQRMemo/1=Linha dois", "__TQRDesignLabel3/TQRLabel/0=Derivado",
                  "rtxAviso/TQRRichText/0=Aviso", "__TQRSysData4/TQRSysData/0=Página "));

  // The counter starts again with every file.
  std::string other =
      dir.WriteReport("Compras.qr2", Report("object TQRLabel\n Caption = 'Outro'\n end"));
  Import(other);
  EXPECT_THAT(Summary("COMPRAS"), Contains("__TQRLabel0/TQRLabel/0=Outro"));
}

TEST_F(ImportTest, TheSalesSampleYieldsEveryTextOfItsBands) {
  std::string sample = std::string(TRD_SOURCE_DIR) + "/samples/Rel/Vendas.qr2";
  EXPECT_EQ(Import(sample), ReportOutcome::Read);
  EXPECT_THAT(Summary("VENDAS"),
              ElementsAre("QuickReport/TDesignQuickReport/0=Relatório de Vendas",
                          "lblTitulo/TQRLabel/0=Relatório de Vendas",
                          "sysEmissao/TQRSysData/0=Emitido em ", "lblCliente/TQRLabel/0=Cliente",
                          "lblValor/TQRLabel/0=Valor total", "__TQRLabel0/TQRLabel/0=Vendedor",
                          "exprTotal/TQRDesignExpr.Messages/0=Valor inválido",
                          "exprTotal/TQRDesignExpr.Messages/1=Sem código",
                          "memObs/TQRMemo/0=Os valores estão em reais.",
                          "memObs/TQRMemo/1=Pedidos cancelados não entram no total.",
                          "memObs/TQRMemo/2=Confira o período antes de imprimir.",
                          "__TQRMemo1/TQRMemo/0=Assinatura do gerente",
                          "__TQRMemo2/TQRMemo/1=Data da conferência"));
}

TEST_F(ImportTest, ExpressionMessagesAreTakenAfterTheirFirstBar) {
  std::string path = dir.WriteReport("Vendas.qr2", Report(R"(
    object exprTotal: TQRDesignExpr
      Messages.Strings = ('1|Valor inválido' 'Sem código' 'a|b|c' '|')
    end
    object exprVazia: TQRDesignExpr
    end
    object exprComum: TQRExpr
      Messages.Strings = ('1|Não lido')
    end)"));
  Import(path);
  EXPECT_THAT(Summary("VENDAS"), ElementsAre("QuickReport/TDesignQuickReport/0=Relatório",
                                             "exprTotal/TQRDesignExpr.Messages/0=Valor inválido",
                                             "exprTotal/TQRDesignExpr.Messages/1=Sem código",
                                             "exprTotal/TQRDesignExpr.Messages/2=b|c",
                                             "exprTotal/TQRDesignExpr.Messages/3="));
}

TEST_F(ImportTest, EmptyAndNumericTextsAreRecordedAndStoredOnesOnlyLookedUp) {
  std::string path = dir.WriteReport("Estoque.qr2", Report(R"(
    object lblVazio: TQRLabel
      Caption = ''
    end
    object lblNumero: TQRLabel
      Caption = '123'
    end)",
                                                           ""));
  Import(path);
  EXPECT_THAT(Summary("ESTOQUE"), ElementsAre("QuickReport/TDesignQuickReport/0=",
                                              "lblVazio/TQRLabel/0=", "lblNumero/TQRLabel/0=123"));

  // Read again: every text is stored already, so each costs one look-up and
  // still shows its status line.
  calls.clear();
  status.clear();
  events = 0;
  Import(path);
  EXPECT_THAT(Methods(), ElementsAre("GetPropriedRel", "GetPropriedRel", "GetPropriedRel"));
  EXPECT_EQ(status.size(), 3u);
  EXPECT_EQ(events, 3);
  EXPECT_EQ(Records().size(), 3u);
}

TEST_F(ImportTest, ALongTextIsLookedUpAndStoredCutAndNotSearchedForATranslation) {
  // 3995 two-byte characters, 5 blanks, then 1000 more characters.
  std::string head;
  for (int i = 0; i < 3995; ++i) head += "é";
  std::string whole = head + "     " + std::string(1000, 'x');
  ASSERT_EQ(text::Length(whole), 5000u);
  std::string path = dir.WriteReport(
      "Vendas.qr2", Report("object lblLongo: TQRLabel\n Caption = '" + whole + "'\n end"));
  Import(path);

  const auto& lookup = ArgsOf("GetPropriedRel", 1);
  EXPECT_EQ(Text(lookup[2]), "lblLongo");
  EXPECT_EQ(Text(lookup[5]), head);  // first 4000, trailing blanks removed
  // The title's translation look-up only: no stored source text can equal a
  // text longer than the column.
  EXPECT_THAT(Methods(), ElementsAre("GetPropriedRel", "GetVerPropRel", "SetPropriedRel", "GetUpdRelDfm",
                                     "GetPropriedRel", "GetVerPropRel", "SetPropriedRel"));
  std::vector<Stored> r = Records();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1].value, head + "     ");
  EXPECT_EQ(r[1].source, head + "     ");
  EXPECT_THAT(status.back(), HasSubstr(whole + " ..."));
}

TEST_F(ImportTest, CallsFollowTheServersOrderAndReuseAnExistingTranslation) {
  SeedTranslation("Cliente", "Cliente (revisado)");
  std::string path = dir.WriteReport(
      "Clientes.qr2", Report("object lblCliente: TQRLabel\n Caption = 'Cliente'\n end", "'Lista'"));
  Import(path);
  EXPECT_THAT(Methods(), ElementsAre("GetPropriedRel", "GetVerPropRel", "SetPropriedRel",
                                     "GetUpdRelDfm",  // title
                                     "GetPropriedRel", "GetVerPropRel", "SetPropriedRel",
                                     "GetUpdRelDfm", "UpdateRelDfm"));
  for (const auto& c : calls) {
    bool upd = c.method == "GetUpdRelDfm" || c.method == "UpdateRelDfm";
    EXPECT_EQ(c.module, upd ? "Trd00500.rdmLeDfmRel" : "Trd00900.rdmLeituraRel") << c.method;
  }
  const auto& lookup = ArgsOf("GetPropriedRel", 1);
  ASSERT_EQ(lookup.size(), 7u);
  EXPECT_THAT(
      (std::vector<std::string>{Text(lookup[0]), Text(lookup[1]), Text(lookup[2]), Text(lookup[3]),
                                Text(lookup[4]), Text(lookup[5]), Text(lookup[6])}),
      ElementsAre("CLIENTES", "QrDesign", "lblCliente", "TQRLabel", "0", "Cliente", "POR"));
  const auto& update = ArgsOf("UpdateRelDfm");
  ASSERT_EQ(update.size(), 9u);
  EXPECT_EQ(Text(update[4]), "0");
  EXPECT_EQ(Text(update[6]), "Cliente (revisado)");
  EXPECT_EQ(Text(update[7]), "T");
  EXPECT_TRUE(std::regex_match(Text(update[8]), std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)")))
      << Text(update[8]);
  std::vector<Stored> mine = Records("CLIENTES");
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[1].state, "T");  // the server took the time text
  EXPECT_EQ(mine[1].value, "Cliente (revisado)");
  EXPECT_EQ(mine[1].source, "Cliente");

  // A changed caption replaces the record of its key.
  calls.clear();
  std::string changed = dir.WriteReport(
      "Clientes.qr2",
      Report("object lblCliente: TQRLabel\n Caption = 'Cliente final'\n end", "'Lista'"));
  Import(changed);
  EXPECT_THAT(Methods(), ElementsAre("GetPropriedRel", "GetPropriedRel", "GetVerPropRel",
                                     "SetVerPropRel", "SetPropriedRel", "GetUpdRelDfm"));
  EXPECT_THAT(Summary("CLIENTES"), ElementsAre("QuickReport/TDesignQuickReport/0=Lista",
                                               "lblCliente/TQRLabel/0=Cliente final"));
  EXPECT_EQ(store.cdsPropRel.ChangeCount(), 0);
}

TEST_F(ImportTest, ASecondFileDoesNotWalkTheElementsOfTheFirst) {
  Import(dir.WriteReport("Vendas.qr2",
                         Report("object lblVendas: TQRLabel\n Caption = 'Vendas'\n end")));
  calls.clear();
  Import(dir.WriteReport("Compras.qr2",
                         Report("object lblCompras: TQRLabel\n Caption = 'Compras'\n end")));
  std::vector<std::string> walked;
  for (const auto& c : calls)
    if (c.method == "GetPropriedRel") walked.push_back(Text(c.args[0]) + "/" + Text(c.args[2]));
  EXPECT_THAT(walked, ElementsAre("COMPRAS/QuickReport", "COMPRAS/lblCompras"));
  EXPECT_THAT(Summary("COMPRAS"), ElementsAre("QuickReport/TDesignQuickReport/0=Relatório",
                                              "lblCompras/TQRLabel/0=Compras"));
}

TEST_F(ImportTest, ACorruptedReportRaisesAClearErrorAndRecordsNothing) {
  std::string bytes =
      ReportFromText(Report("object lblA: TQRLabel\n Caption = 'Texto'\n end"), "x");
  std::string path = dir.Write("Vendas.qr2", bytes.substr(0, bytes.size() - 10));
  try {
    Import(path);
    ADD_FAILURE() << "no error";
  } catch (const FormatError& e) {
    EXPECT_THAT(e.what(), HasSubstr(path + ": offset "));
  }
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(ImportTest, AnUnknownLanguageEndsTheImportBeforeTheFileIsOpened) {
  language_box = "ENG-Português";
  std::string missing = dir.Path("Falta.qr2");
  EXPECT_THROW(Import(missing), shared::Abort);
  EXPECT_EQ(focus, 1);
  ASSERT_EQ(dialogs->shown.size(), 1u);
  EXPECT_EQ(dialogs->shown[0].text, "Idioma inválido.");
  EXPECT_TRUE(calls.empty());

  // Code and description match ignoring ASCII case; then the missing file is
  // the failure, named.
  language_box = "por-português";
  try {
    Import(missing);
    ADD_FAILURE() << "no error";
  } catch (const shared::Abort&) {
    ADD_FAILURE() << "the language was refused";
  } catch (const Error& e) {
    EXPECT_THAT(e.what(), HasSubstr(missing + ": cannot open"));
  }
}

TEST_F(ImportTest, AServerFailureEndsTheReportWithTheIndicatorHidden) {
  const std::string path =
      dir.WriteReport("Vendas.qr2", Report("object lblA: TQRLabel\n Caption = 'A'\n end\n object "
                                           "lblB: TQRLabel\n Caption = 'B'\n end"));
  for (const char* method : {"GetPropriedRel", "GetVerPropRel", "SetPropriedRel", "GetUpdRelDfm"}) {
    SCOPED_TRACE(method);
    auto session = service->Storage().Acquire();
    session->Execute("DELETE FROM TRDPROPRIEDADE");
    session.reset();
    calls.clear();
    fail_method = method;
    busy->visible = true;
    EXPECT_THROW(Import(path), shared::ServerFailureError);
    EXPECT_FALSE(busy->visible);
    EXPECT_EQ(Methods().back(), method);  // nothing after the failing call
    EXPECT_EQ(store.cdsPropRel.ChangeCount(), 0);
    // Only a record whose post went through before the failure stays.
    EXPECT_EQ(Records().size(), std::string(method) == "GetUpdRelDfm" ? 1u : 0u);
  }
}

}  // namespace
}  // namespace trd::report::testing
