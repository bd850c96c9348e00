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
