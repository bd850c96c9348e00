// `trd extract` as a user reads its output: one JSON object per record, in
// creation order, with the record's fields under their column names in the
// documented order; an unreadable file is reported and the others are read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

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
  EXPECT_THAT(child.Err(), HasSubstr(missing + ": cannot open the file"));

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

}  // namespace
}  // namespace trd::test
