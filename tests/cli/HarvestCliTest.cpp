// `trd harvest` as a user runs it: exit statuses, the duplicate gate, the
// question without a terminal, Ctrl-C, and the summary.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "authoring/ReportWrite.h"

#include "support/ChildProcess.h"
#include "support/ServerProcess.h"
#include "support/StoredRecords.h"
#include "support/TempTree.h"

namespace trd::test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const std::string kSamples = std::string(TRD_SOURCE_DIR) + "/samples";

class HarvestCli : public ::testing::Test {
 protected:
  HarvestCli() : db(dir_.Path("trd.sqlite")) {}

  std::string Write(const std::string& relative, const std::string& text) const {
    return dir_.Write("src/" + relative, text);
  }
  std::string Source() const { return dir_.Path("src"); }

  // Runs `trd harvest ARGS` to its end.
  int Harvest(std::vector<std::string> args) {
    args.insert(args.begin(), {TRD_EXE, "harvest"});
    ChildProcess child(args, {"TRD_SERVER="});
    status = child.Wait();
    out = child.Out();
    err = child.Err();
    return status;
  }

  TempTree dir_{"trd-harvest"};  // first: db is made from it
  std::string db;
  int status = -1;
  std::string out;
  std::string err;
};

std::string Form(const std::string& name, int texts) {
  std::string s = "object " + name + ": TForm\n";
  for (int i = 0; i < texts; ++i)
    s += "  object lbl" + std::to_string(i) + ": TLabel\n    Caption = 'Texto " + std::to_string(i) + " de " + name +
         "'\n  end\n";
  return s + "end\n";
}

TEST_F(HarvestCli, SamplesGoIntoAFreshDatabaseAndAreFoundStoredTheSecondTime) {
  ASSERT_EQ(Harvest({kSamples, "--lang", "por", "--yes", "--db", db, "--json"}), 0) << err;
  auto first = nlohmann::json::parse(out);
  EXPECT_EQ(first["outcome"], "completed");
  EXPECT_EQ(first["files_read"], 10);
  EXPECT_EQ(first["new"], ReadRecords(db).size());
  EXPECT_EQ(first["version_stamped"], true);
  EXPECT_THAT(err, HasSubstr("[10/10] "));  // plain progress lines without a terminal
  EXPECT_THAT(err, HasSubstr("Todos os arquivos foram importados com sucesso!"));

  ASSERT_EQ(Harvest({kSamples, "--lang", "POR", "--yes", "--db", db}), 0) << err;
  EXPECT_THAT(out, HasSubstr("Novos: 0\n"));
  EXPECT_THAT(out, HasSubstr("Já gravados: " + first["new"].dump() + "\n"));
}

TEST_F(HarvestCli, SkippedTextsAreCountedOnBothRecordPaths) {
  // One text replaced, one stored, one not translatable: the counts add up.
  Write("Cli/Src/Cadastro.dfm", "object frmCad: TForm\n  Caption = 'Cadastro'\n  object btnOk: TButton\n"
                                "    Caption = '123'\n    Hint = 'Salvar'\n  end\nend\n");
  ASSERT_EQ(Harvest({Source(), "--lang", "POR", "--yes", "--db", db, "--json"}), 0) << err;
  Write("Cli/Src/Cadastro.dfm", "object frmCad: TForm\n  Caption = 'Cadastro de clientes'\n  object btnOk: TButton\n"
                                "    Caption = '123'\n    Hint = 'Salvar'\n  end\nend\n");
  for (const char* path : {"--per-text", ""}) {
    SCOPED_TRACE(path);
    std::vector<std::string> args{Source(), "--lang", "POR", "--yes", "--db", db, "--json"};
    if (*path) args.push_back(path);
    ASSERT_EQ(Harvest(args), 0) << err;
    auto s = nlohmann::json::parse(out);
    EXPECT_EQ(s["texts_seen"], 3);
    EXPECT_EQ(s["skipped"], 1);
    EXPECT_EQ(s["already_stored"], *path ? 1 : 2);  // the batch run finds the first's replacement stored
    EXPECT_EQ(s["already_stored"].get<long>() + s["new"].get<long>() + s["skipped"].get<long>(), 3);
  }
  EXPECT_THAT(out, Not(HasSubstr("Ignorados")));  // JSON only
  ASSERT_EQ(Harvest({Source(), "--lang", "POR", "--yes", "--db", db}), 0) << err;
  EXPECT_THAT(out, HasSubstr("Textos vistos: 3\nJá gravados: 2\nNovos: 0\nSubstituídos: 0\n"
                             "Ignorados (não traduzíveis ou vazios): 1\n"));
}

TEST_F(HarvestCli, DuplicatedNamesStopAtTheGate) {
  std::string a = Write("Cli/Src/Pedido.dfm", Form("frmA", 1));
  std::string b = Write("Cli/Std/Ger/Pedido.dfm", Form("frmB", 1));
  EXPECT_EQ(Harvest({Source(), "--lang", "POR", "--yes", "--db", db}), 3);
  EXPECT_THAT(err, HasSubstr("Existem arquivos duplicado para o diretório informado."));
  EXPECT_THAT(err, HasSubstr(a));
  EXPECT_THAT(err, HasSubstr(b));
  EXPECT_FALSE(std::filesystem::exists(db));  // nothing was asked of the server

  EXPECT_EQ(Harvest({Source(), "--lang", "POR", "--yes", "--db", db, "--allow-duplicates"}), 0) << err;
  EXPECT_EQ(ReadRecords(db).size(), 2u);

  // One name written in Latin-1 and in UTF-8: one program code, so duplicates.
  std::filesystem::remove(a);
  std::filesystem::remove(b);
  Write("Cli/Src/A\xE7\xE3o.dfm", Form("frmA", 1));
  Write("Cli/Std/Ger/Ação.dfm", Form("frmB", 1));
  EXPECT_EQ(Harvest({Source(), "--lang", "POR", "--yes", "--db", db}), 3);
  EXPECT_THAT(err, HasSubstr("Cli/Src/Ação.dfm"));
}

TEST_F(HarvestCli, UnknownLanguageEndsWithStatus2) {
  Write("Cli/Src/Pedido.dfm", Form("frmA", 1));
  EXPECT_EQ(Harvest({Source(), "--lang", "XYZ", "--yes", "--db", db}), 2);
  EXPECT_THAT(err, HasSubstr("Idioma inválido."));
  EXPECT_EQ(ReadVersion(db), std::nullopt);
}

TEST_F(HarvestCli, WithoutTerminalOrYesTheQuestionIsRefusedAndNothingChanges) {
  Write("Cli/Src/Pedido.dfm", Form("frmA", 1));
  EXPECT_EQ(Harvest({Source(), "--lang", "POR", "--db", db}), 4);
  EXPECT_THAT(err, HasSubstr("Confirma a operação?"));
  EXPECT_THAT(ReadRecords(db), IsEmpty());
  EXPECT_EQ(ReadVersion(db), std::nullopt);
}

TEST_F(HarvestCli, CorruptFormEndsTheRunWithStatus1AndNamesIt) {
  Write("Cli/Src/A.dfm", Form("frmA", 1));
  std::string bad = Write("Cli/Src/B.dfm", "object frmB: TForm\n  Caption = 'aberto\n");
  Write("Cli/Src/C.dfm", Form("frmC", 1));
  EXPECT_EQ(Harvest({Source(), "--lang", "POR", "--yes", "--db", db, "--json"}), 1);
  auto summary = nlohmann::json::parse(out);
  EXPECT_EQ(summary["failed_file"], bad);
  EXPECT_EQ(summary["files_not_read"], 1);
  EXPECT_THAT(err, HasSubstr("Erro ao importar o arquivo " + bad + ": "));
  EXPECT_EQ(ReadRecords(db).size(), 1u);
  EXPECT_TRUE(ReadVersion(db).has_value());
}

TEST_F(HarvestCli, NamesTooLongForTheTableStopTheRunBeforeAnythingIsReadUnlessSkipped) {
  Write("Cli/Src/Pedido.dfm", Form("frmPedido", 2));
  // 20 characters before the first dot fit; 21 do not, counted as
  // characters, not bytes ("ç" and "ã" are two bytes each).
  Write("Cli/Src/CadastroDeClientesXYZ.Tela.dfm", Form("frmX", 1));
  const std::string wide = Write("Cli/Src/ConfiguraçãoDoSistema.dfm", Form("frmC", 1));
  const std::string report = Write("Rel/RelatorioDeVendasPorMes.qr2", "x");
  Write("Cli/Src/Calculadoração123456.dfm", Form("frmOk", 1));  // 20 characters, 22 bytes

  EXPECT_EQ(Harvest({Source(), "--lang", "POR", "--yes", "--db", db}), 5);
  EXPECT_THAT(err, HasSubstr("nome longo demais para a tabela de tradução"));
  EXPECT_THAT(err, HasSubstr(wide + ": o código do programa ConfiguraçãoDoSistema tem 21 caracteres; renomeie o "
                                    "arquivo para no máximo 20 caracteres antes do primeiro ponto\n"));
  EXPECT_THAT(err, HasSubstr(report + ": o código do programa RelatorioDeVendasPorMes tem 23 caracteres"));
  EXPECT_THAT(err, HasSubstr("CadastroDeClientesXYZ.Tela.dfm: o código do programa CadastroDeClientesXYZ tem 21"));
  EXPECT_THAT(err, Not(HasSubstr("Calculadoração123456.dfm:")));
  EXPECT_THAT(err, Not(HasSubstr("Pedido.dfm")));
  EXPECT_FALSE(std::filesystem::exists(db));  // nothing was asked of the server

  std::filesystem::remove(dir_.Path("src/Cli/Src/CadastroDeClientesXYZ.Tela.dfm"));
  ASSERT_EQ(Harvest({Source(), "--lang", "POR", "--yes", "--db", db, "--json", "--skip-unstorable"}), 0) << err;
  auto summary = nlohmann::json::parse(out);
  EXPECT_EQ(summary["outcome"], "completed");
  EXPECT_EQ(summary["files_left_out"], 2);
  EXPECT_EQ(summary["files_selected"], 2);
  EXPECT_EQ(ReadRecords(db).size(), 3u);
  ASSERT_EQ(Harvest({Source(), "--lang", "POR", "--yes", "--db", db, "--skip-unstorable"}), 0) << err;
  EXPECT_THAT(out, HasSubstr("Arquivos deixados de fora (nome longo demais): 2\n"));
}

// --keep-going: each failing file is named with its cause, stores nothing,
// and the files after it are read.
TEST_F(HarvestCli, KeepGoingReadsPastFailedFilesAndListsEachWithItsCause) {
  Write("Cli/Src/A.dfm", Form("frmA", 1));
  const std::string wide = Write("Cli/Src/B.dfm", "object frmB: TForm\n  Caption = 'B'\n  object " +
                                                      std::string(51, 'c') + ": TLabel\n    Caption = 'Largo'\n"
                                                      "  end\nend\n");
  const std::string broken = Write("Cli/Src/C.dfm", "object frmC: TForm\n  Caption = 'aberto\n");
  Write("Cli/Src/D.dfm", Form("frmD", 2));

  {
    EXPECT_EQ(Harvest({Source(), "--lang", "POR", "--yes", "--db", db, "--json", "--keep-going"}), 1) << err;
    auto summary = nlohmann::json::parse(out);
    EXPECT_EQ(summary["outcome"], "failed");
    EXPECT_EQ(summary["files_read"], 2);
    EXPECT_EQ(summary["files_failed"], 2);
    EXPECT_EQ(summary["failed_file"], wide);
    ASSERT_EQ(summary["failures"].size(), 2u);
    EXPECT_EQ(summary["failures"][0]["file"], wide);
    EXPECT_THAT(summary["failures"][0]["error"].get<std::string>(),
                HasSubstr("é maior que a sua coluna na tabela de tradução; encurte-o no arquivo-fonte"));
    EXPECT_THAT(summary["failures"][0]["error"].get<std::string>(), HasSubstr(". Detalhe técnico: "));
    EXPECT_THAT(summary["failures"][0]["error"].get<std::string>(), HasSubstr("NMCOMPONENTE"));
    EXPECT_EQ(summary["failures"][1]["file"], broken);
    EXPECT_THAT(summary["failures"][1]["error"].get<std::string>(),
                HasSubstr("o arquivo está malformado ou incompleto. Detalhe técnico: "));
    EXPECT_THAT(err, HasSubstr("2 arquivos não puderam ser importados"));
  }
  std::vector<std::string> lines = RecordLines(db);
  EXPECT_EQ(lines.size(), 3u) << "A and D, none of B";
  for (const auto& l : lines) EXPECT_EQ(l.rfind("B/", 0), std::string::npos) << l;

  ASSERT_EQ(Harvest({Source(), "--lang", "POR", "--yes", "--db", db, "--keep-going"}), 1);
  EXPECT_THAT(out, HasSubstr("Erros, por arquivo:\n  " + wide + ": um nome ou texto"));
}

TEST_F(HarvestCli, CtrlCCancelsTheRunAndNoLaterFileIsRead) {
  ServerProcess server;
  Write("Cli/Src/A.dfm", Form("frmA", 1));
  Write("Cli/Src/B.dfm", Form("frmB", 3000));
  Write("Cli/Src/C.dfm", Form("frmC", 5));
  // Text by text: the 3,000 texts of B take long enough for Ctrl-C to fall
  // inside them (its batch would be sent in a few milliseconds).
  ChildProcess child({TRD_EXE, "harvest", Source(), "--lang", "POR", "--yes", "--per-text", "--server", server.Url()});
  ASSERT_TRUE(child.WaitForError("[1/3]")) << child.Err();
  child.Signal(SIGINT);
  EXPECT_EQ(child.Wait(), 130) << child.Err();
  EXPECT_THAT(child.Err(), HasSubstr("Importação cancelada pelo usuário."));
  std::vector<std::string> lines = RecordLines(server.DatabasePath());
  std::size_t of_c = 0;
  for (const auto& l : lines) of_c += l.rfind("C/", 0) == 0;
  EXPECT_EQ(of_c, 0u);
  EXPECT_LT(lines.size(), 3001u);  // the second file stopped early
  EXPECT_TRUE(ReadVersion(server.DatabasePath()).has_value());
}

TEST_F(HarvestCli, AFifoOrADeviceInTheTreeIsNotReadAndCannotHangTheRun) {
  std::string form = Write("Cli/Src/A.dfm", Form("frmA", 1));
  ASSERT_EQ(mkfifo(dir_.Path("src/Cli/Src/Fila.dfm").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir_.Path("src/Cli/Src/Zero.dfm"));
  std::filesystem::create_directories(dir_.Path("src/Rel"));
  ASSERT_EQ(mkfifo(dir_.Path("src/Rel/Fila.qr2").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir_.Path("src/Rel/Zero.qr2"));
  std::filesystem::create_directories(dir_.Path("src/Cli/Std/Ger"));
  std::filesystem::create_symlink(form, dir_.Path("src/Cli/Std/Ger/Ligado.dfm"));  // a link to a file is read

  ChildProcess child({TRD_EXE, "harvest", Source(), "--lang", "POR", "--yes", "--db", db, "--json"}, {"TRD_SERVER="});
  ASSERT_TRUE(child.WaitForError("Todos os arquivos foram importados com sucesso!", std::chrono::seconds(60)))
      << child.Err();
  ASSERT_EQ(child.Wait(), 0) << child.Err();
  auto summary = nlohmann::json::parse(child.Out());
  EXPECT_EQ(summary["files_selected"], 2);
  EXPECT_EQ(summary["files_read"], 2);
  EXPECT_EQ(ReadRecords(db).size(), 2u);
}

// Ctrl-C during a report file: it stops at its next text, as a form file
// does, and the run closes as cancelled.
TEST_F(HarvestCli, CtrlCStopsAReportFileAtItsNextText) {
  ServerProcess server;
  Write("Cli/Src/A.dfm", Form("frmA", 1));
  std::string memo = "object rptLongo: TDesignQuickReport\n  object memLongo: TQRMemo\n    Lines.Strings = (\n";
  for (int i = 0; i < 20000; ++i) memo += "      'Linha " + std::to_string(i) + "'\n";
  memo += "      'fim')\n  end\nend\n";
  Write("Rel/Longo.qr2", report::ReportFromText(memo, "Longo.txt"));

  // Text by text: the report's batch would be read and sent before Ctrl-C.
  ChildProcess child(
      {TRD_EXE, "harvest", Source(), "--lang", "POR", "--yes", "--per-text", "--server", server.Url(), "--json"});
  ASSERT_TRUE(child.WaitForError("[1/2]")) << child.Err();  // the report is being read
  child.Signal(SIGINT);
  const auto signalled = std::chrono::steady_clock::now();
  EXPECT_EQ(child.Wait(), 130) << child.Err();
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(5));  // reading it all takes far longer
  EXPECT_THAT(child.Err(), HasSubstr("Importação cancelada pelo usuário."));
  auto summary = nlohmann::json::parse(child.Out());
  EXPECT_EQ(summary["outcome"], "cancelled");
  EXPECT_EQ(summary["version_stamped"], true);
  EXPECT_LT(ReadRecords(server.DatabasePath()).size(), 20000u);
}

// Ctrl-C while the server does not answer: the process ends within a second
// instead of waiting out the read timeout.
TEST_F(HarvestCli, CtrlCEndsTheProcessWithinASecondWhenTheServerHangs) {
  ServerProcess server;
  Write("Cli/Src/A.dfm", Form("frmA", 1));
  Write("Cli/Src/B.dfm", Form("frmB", 3000));
  ChildProcess child({TRD_EXE, "harvest", Source(), "--lang", "POR", "--yes", "--server", server.Url()},
                     {"TRD_READ_TIMEOUT_MS=60000"});
  ASSERT_TRUE(child.WaitForError("[1/2]")) << child.Err();
  kill(server.Pid(), SIGSTOP);  // answers nothing from now on
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  child.Signal(SIGINT);
  const auto signalled = std::chrono::steady_clock::now();
  const int status = child.Wait();
  const auto took = std::chrono::steady_clock::now() - signalled;
  kill(server.Pid(), SIGCONT);
  EXPECT_EQ(status, 130) << child.Err();
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  EXPECT_THAT(child.Err(), HasSubstr("trd harvest: cancelled: the run did not stop within a second of Ctrl-C"));
}

}  // namespace
}  // namespace trd::test
