// `trd extract` as a user runs it and reads its output: one JSON object per
// record, in creation order, with the record's fields under their column
// names in the documented order; each file is read as what it is (a report
// file by its signature, whatever its name); an unreadable file is reported
// and the others are read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "authoring/ReportWrite.h"
#include "support/ChildProcess.h"
#include "support/TempTree.h"

namespace trd::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(ExtractCli, PrintsEveryRecordAsOneJsonObjectInColumnOrder) {
  TempTree dir("trd-extract");
  const std::string form = dir.Write("Cadastro.Clientes.dfm",
                                     "object frmCadastro: TForm\n"
                                     "  Caption = 'Cadastro'\n"
                                     "  object memObs: TMemo\n"
                                     "    Lines.Strings = (\n"
                                     "      'Primeira'\n"
                                     "      'Segunda')\n"
                                     "  end\n"
                                     "end\n");
  const std::string missing = dir.Path("Falta.dfm");
  ChildProcess child({TRD_EXE, "extract", "--lang", "ENG", form, missing});
  ASSERT_EQ(child.Wait(), 1);
  EXPECT_THAT(child.Err(), HasSubstr(missing + ": cannot open: "));

  std::vector<std::string> records;
  std::istringstream out(child.Out());
  for (std::string line; std::getline(out, line);) {
    const auto j = nlohmann::ordered_json::parse(line);
    std::vector<std::string> keys;
    for (const auto& item : j.items()) keys.push_back(item.key());
    EXPECT_THAT(keys, ElementsAre("CDPROGRAMA", "NMFORMULARIO", "NMCOMPONENTE", "NMPROPRIEDADE", "NRVALORPROP",
                                  "IDSITTRADUCAO", "STVALORPROP", "STAGRVALPROP", "IDIDIOMA", "DTULTATUTRAD"));
    EXPECT_TRUE(j["NRVALORPROP"].is_number_integer());
    EXPECT_EQ(j["DTULTATUTRAD"].get<std::string>().size(), 23u);  // YYYY-MM-DDTHH:MM:SS.mmm
    records.push_back(j["CDPROGRAMA"].get<std::string>() + "/" + j["NMFORMULARIO"].get<std::string>() + "/" +
                      j["NMCOMPONENTE"].get<std::string>() + "/" + j["NMPROPRIEDADE"].get<std::string>() + "/" +
                      std::to_string(j["NRVALORPROP"].get<int>()) + "/" + j["IDSITTRADUCAO"].get<std::string>() +
                      "/" + j["IDIDIOMA"].get<std::string>() + "=" + j["STAGRVALPROP"].get<std::string>());
  }
  EXPECT_THAT(records, ElementsAre("CADASTRO/FRMCADASTRO/FRMCADASTRO/Caption/0/N/ENG=Cadastro",
                                   "CADASTRO/FRMCADASTRO/MEMOBS/Lines.Strings/0/N/ENG=Primeira",
                                   "CADASTRO/FRMCADASTRO/MEMOBS/Lines.Strings/1/N/ENG=Segunda"));
}

const char* const kReportText =
    "object rptVendas: TDesignQuickReport\n"
    "  ReportTitle = 'Vendas do mês'\n"
    "  object bndTitulo: TQRBand\n"
    "    object lblTotal: TQRLabel\n"
    "      Caption = 'Total geral'\n"
    "    end\n"
    "    object TQRMemo\n"
    "      Lines.Strings = (\n"
    "        'Primeira linha'\n"
    "        'Segunda linha')\n"
    "    end\n"
    "  end\n"
    "end\n";

TEST(ExtractCli, ReportFilesAreReadByTheirSignatureAndPrintedLikeForms) {
  TempTree dir{"trd-extract"};
  const std::string report = report::ReportFromText(kReportText, "Vendas.txt");
  const std::string qr2 = dir.Write("Vendas.qr2", report);
  const std::string renamed = dir.Write("Resumo.dfm", report);            // a report file whatever its name
  const std::string form = dir.Write("Pedido.dfm", "object frmPedido: TForm\n  Caption = 'Pedido'\nend\n");
  const std::string text = dir.Write("Texto.qr2", kReportText);           // report text is no report file

  ChildProcess child({TRD_EXE, "extract", qr2, renamed, form, text});
  EXPECT_EQ(child.Wait(), 1) << child.Err();  // Texto.qr2 was not read
  EXPECT_THAT(child.Err(), HasSubstr("O arquivo Texto.qr2 não é um relatório válido e não foi importado."));

  std::vector<std::string> records;
  std::vector<std::string> keys_of_first;
  std::istringstream out(child.Out());
  for (std::string line; std::getline(out, line);) {
    auto j = nlohmann::ordered_json::parse(line);
    std::vector<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
    if (keys_of_first.empty()) keys_of_first = keys;
    EXPECT_EQ(keys, keys_of_first) << line;
    EXPECT_EQ(j["IDSITTRADUCAO"], "N");
    EXPECT_EQ(j["IDIDIOMA"], "POR");
    EXPECT_EQ(j["STVALORPROP"], j["STAGRVALPROP"]);
    records.push_back(j["CDPROGRAMA"].get<std::string>() + "/" + j["NMFORMULARIO"].get<std::string>() + "/" +
                      j["NMCOMPONENTE"].get<std::string>() + "/" + j["NMPROPRIEDADE"].get<std::string>() + "/" +
                      std::to_string(j["NRVALORPROP"].get<int>()) + "=" + j["STAGRVALPROP"].get<std::string>());
  }
  EXPECT_THAT(keys_of_first, ElementsAre("CDPROGRAMA", "NMFORMULARIO", "NMCOMPONENTE", "NMPROPRIEDADE", "NRVALORPROP",
                                         "IDSITTRADUCAO", "STVALORPROP", "STAGRVALPROP", "IDIDIOMA", "DTULTATUTRAD"));
  EXPECT_THAT(records, ElementsAre("VENDAS/QrDesign/QuickReport/TDesignQuickReport/0=Vendas do mês",
                                   "VENDAS/QrDesign/lblTotal/TQRLabel/0=Total geral",
                                   "VENDAS/QrDesign/__TQRMemo0/TQRMemo/0=Primeira linha",
                                   "VENDAS/QrDesign/__TQRMemo1/TQRMemo/1=Segunda linha",
                                   "RESUMO/QrDesign/QuickReport/TDesignQuickReport/0=Vendas do mês",
                                   "RESUMO/QrDesign/lblTotal/TQRLabel/0=Total geral",
                                   "RESUMO/QrDesign/__TQRMemo0/TQRMemo/0=Primeira linha",
                                   "RESUMO/QrDesign/__TQRMemo1/TQRMemo/1=Segunda linha",
                                   "PEDIDO/FRMPEDIDO/FRMPEDIDO/Caption/0=Pedido"));
}

}  // namespace
}  // namespace trd::test
