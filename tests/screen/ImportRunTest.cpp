// The import button end to end: a real translation server on loopback, the
// samples listed, every file moved, a language picked, the question answered.
#include <gmock/gmock.h>
#include <stdlib.h>

#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <chrono>
#include <fstream>
#include <set>

#include "ScreenTest.h"
#include "platform/Connection.h"
#include "run/ImportRun.h"
#include "support/ServerProcess.h"
#include "support/StoredRecords.h"

namespace trd::test {
namespace {

using ::testing::HasSubstr;

const std::string kSamples = std::string(TRD_SOURCE_DIR) + "/samples";

class ImportRunTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    gui::ModuleServices().transports = {};  // HTTP to the server below
  }

  // Lists the samples, moves them all and picks Portuguese.
  screen::TfrmLeDfmRel& Prepare() {
    auto& screen = Open();
    ListDirectory(screen, kSamples);
    screen.sbtTudoDir->click();
    screen.cbbIdioma->setCurrentIndex(screen.cbbIdioma->findText(QStringLiteral("POR-Português")));
    return screen;
  }

  ServerProcess server;
  ScopedEnv address{"TRD_SERVER", server.Url()};
};

TEST_F(ImportRunTest, ImportButtonHarvestsTheSamples) {
  auto& screen = Prepare();
  ASSERT_EQ(screen.lsbSelec->count(), 10);
  ASSERT_TRUE(screen.sbtImportExport->isEnabled());
  dialogs->answers.push_back(shared::MsgAnswer::Yes);
  screen.sbtImportExport->click();

  ASSERT_EQ(dialogs->shown.size(), 2u);
  EXPECT_THAT(dialogs->shown[0].text, HasSubstr("Confirma a operação?"));
  EXPECT_EQ(dialogs->shown[1].text, "Todos os arquivos foram importados com sucesso!");
  EXPECT_THAT(dialogs->shown[1].details, HasSubstr("Arquivos lidos: 10\n"));
  std::ifstream golden(std::string(TRD_SOURCE_DIR) + "/tests/run/samples.records");
  std::vector<std::string> expected;
  for (std::string line; std::getline(golden, line);)
    if (!line.empty()) expected.push_back(line);
  EXPECT_EQ(RecordLines(server.DatabasePath()), expected);
  EXPECT_EQ(ReadVersion(server.DatabasePath()), DateTime::Now().DateOnly());

  EXPECT_FALSE(screen.Importando());
  EXPECT_TRUE(screen.sbtImportExport->isEnabled());
  EXPECT_TRUE(screen.cbbIdioma->isEnabled());
  EXPECT_EQ(screen.pgbProgresso->value(), 0);
  EXPECT_TRUE(screen.lblStatus->text().isEmpty());
}

TEST_F(ImportRunTest, ScreenAndCommandLineShowTheSameRunMessages) {
  auto& screen = Open();
  for (const char* key : {"Idi_Inv", "CONF_SUBS", "sucessoGeral", "Erro_Import", "Erro_Arquivos", "Imp_Canc",
                          "ARQ_LARGO", "ARQ_LARGO_CONT"})
    EXPECT_EQ(screen.msgPadrao.Msg(key), run::RunMessages().Msg(key)) << key;
}

// A selected file whose name no record can hold is shown before the run;
// the user stops there (nothing read) or goes on without it.
TEST_F(ImportRunTest, NamesTooLongAreReviewedBeforeTheRun) {
  TempDir dir;
  dir.Write("Cli/Src/Pedido.dfm", "object frmPedido: TForm\n  Caption = 'Pedido'\nend\n");
  const std::string wide = dir.Write("Cli/Src/CadastroDeClientesXYZ.dfm", "object frmX: TForm\n  Caption = 'X'\nend\n");
  auto& screen = Open();
  ListDirectory(screen, dir.Str());
  screen.sbtTudoDir->click();
  screen.cbbIdioma->setCurrentIndex(screen.cbbIdioma->findText(QStringLiteral("POR-Português")));

  dialogs->answers.push_back(shared::MsgAnswer::No);
  screen.sbtImportExport->click();
  ASSERT_EQ(dialogs->shown.size(), 1u);
  EXPECT_THAT(dialogs->shown[0].text, HasSubstr("nome longo demais para a tabela de tradução"));
  EXPECT_THAT(dialogs->shown[0].text, HasSubstr("Continuar a importação sem esses arquivos?"));
  EXPECT_EQ(dialogs->shown[0].buttons, shared::MsgButtons::YesNo);
  EXPECT_EQ(dialogs->shown[0].details, wide + ": o código do programa CadastroDeClientesXYZ tem 21 caracteres; "
                                              "renomeie o arquivo para no máximo 20 caracteres antes do primeiro "
                                              "ponto\n");
  EXPECT_EQ(screen.lsbSelec->count(), 2);
  EXPECT_TRUE(RecordLines(server.DatabasePath()).empty());

  dialogs->answers = {shared::MsgAnswer::Yes, shared::MsgAnswer::Yes};
  screen.sbtImportExport->click();
  ASSERT_EQ(dialogs->shown.size(), 4u);
  EXPECT_THAT(dialogs->shown[2].text, HasSubstr("Confirma a operação?"));
  EXPECT_EQ(dialogs->shown[3].text, "Todos os arquivos foram importados com sucesso!");
  EXPECT_EQ(Items(screen.lsbSelec), std::vector<std::string>{dir.Path("Cli/Src/Pedido.dfm")});
  EXPECT_EQ(RecordLines(server.DatabasePath()),
            std::vector<std::string>{"PEDIDO/FRMPEDIDO/FRMPEDIDO/Caption/0=Pedido"});
}

TEST_F(ImportRunTest, CancelButtonDuringTheRunStopsBeforeTheNextFile) {
  auto& screen = Prepare();
  dialogs->answers.push_back(shared::MsgAnswer::Yes);
  bool importing_when_clicked = false;
  // Runs at the first event processing inside the run: at the first text of
  // the first file.
  QTimer::singleShot(0, &screen, [&screen, &importing_when_clicked] {
    importing_when_clicked = screen.Importando();
    screen.sbtCancel->click();
  });
  screen.sbtImportExport->click();

  EXPECT_TRUE(importing_when_clicked);
  EXPECT_EQ(dialogs->Texts().back(), "Importação cancelada pelo usuário.");
  EXPECT_THAT(dialogs->shown.back().details, HasSubstr("Arquivos lidos: 1\n"));
  std::set<std::string> programs;
  for (const StoredRecord& r : ReadRecords(server.DatabasePath())) programs.insert(r.key.substr(0, r.key.find('/')));
  EXPECT_EQ(programs.size(), 1u);  // the first file of the selected list only
  EXPECT_FALSE(screen.Cancelar());
  EXPECT_TRUE(screen.isVisible());  // the cancel button did not close the screen
}

TEST_F(ImportRunTest, CancelDuringAFormOfNewTextsAnswersWithinOneText) {
  // 60 texts, none stored yet: every one is sent.
  std::string form = "object frmMuitos: TForm\n  Caption = 'Muitos'\n";
  for (int i = 0; i < 60; ++i)
    form += "  object lbl" + std::to_string(i) + ": TLabel\n    Caption = 'Texto " + std::to_string(i) + "'\n  end\n";
  form += "end\n";
  TempDir dir;
  std::ofstream(dir.Touch("Cli/Src/Muitos.dfm"), std::ios::binary) << form;
  auto& screen = Open();
  ListDirectory(screen, dir.Str());
  screen.sbtTudoDir->click();
  screen.cbbIdioma->setCurrentIndex(screen.cbbIdioma->findText(QStringLiteral("POR-Português")));
  dialogs->answers.push_back(shared::MsgAnswer::Yes);
  QString progress;
  // Runs at the first event processing inside the run, under the busy
  // indicator's overlay if it is up.
  QTimer::singleShot(0, &screen, [&screen, &progress] {
    progress = screen.lblArquivo->text();
    screen.sbtCancel->click();
  });
  screen.sbtImportExport->click();

  EXPECT_EQ(progress.toStdString(), "Arquivo 1 de 1: Muitos.dfm");
  EXPECT_EQ(dialogs->Texts().back(), "Importação cancelada pelo usuário.");
  EXPECT_LE(ReadRecords(server.DatabasePath()).size(), 2u) << "the cancel waited for the end of the file";
  EXPECT_TRUE(screen.lblArquivo->text().isEmpty());
}

// One file of many new texts: the bar moves while it is read, and a cancel
// after some of its parts went out ends the run promptly, the texts read
// before it stored and no other.
TEST_F(ImportRunTest, ALargeFileMovesTheBarAndACancelInItStopsPromptly) {
  constexpr int kTexts = 6000;
  std::string form = "object frmGrande: TForm\n  Caption = 'Grande'\n";
  for (int i = 1; i < kTexts; ++i)
    form += "  object lbl" + std::to_string(i) + ": TLabel\n    Caption = 'Texto " + std::to_string(i) + "'\n  end\n";
  form += "end\n";
  TempDir dir;
  dir.Write("Cli/Src/Grande.dfm", form);
  auto& screen = Open();
  ListDirectory(screen, dir.Str());
  screen.sbtTudoDir->click();
  screen.cbbIdioma->setCurrentIndex(screen.cbbIdioma->findText(QStringLiteral("POR-Português")));
  dialogs->answers.push_back(shared::MsgAnswer::Yes);

  // Runs whenever the run lets events run; cancels once the bar has passed
  // the first part of the file (5% of it: 300 texts).
  int bar_at_cancel = -1, bar_maximum = 0;
  QString file_at_cancel, status_at_cancel;
  std::chrono::steady_clock::time_point cancelled;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &screen, [&] {
    if (bar_at_cancel >= 0 || screen.pgbProgresso->value() * 20 < screen.pgbProgresso->maximum()) return;
    bar_at_cancel = screen.pgbProgresso->value();
    bar_maximum = screen.pgbProgresso->maximum();
    file_at_cancel = screen.lblArquivo->text();
    status_at_cancel = screen.lblStatus->text();
    cancelled = std::chrono::steady_clock::now();
    screen.sbtCancel->click();
  });
  watch.start(0);
  screen.sbtImportExport->click();
  const auto answered = std::chrono::steady_clock::now();
  watch.stop();

  ASSERT_GE(bar_at_cancel, 0) << "the bar never moved while the file was read";
  EXPECT_LT(bar_at_cancel, bar_maximum);
  EXPECT_EQ(file_at_cancel.toStdString(), "Arquivo 1 de 1: Grande.dfm");
  EXPECT_THAT(status_at_cancel.toStdString(), ::testing::MatchesRegex("Grande - FRMGRANDE - LBL[0-9]+ - Caption - Texto [0-9]+"));
  EXPECT_LT(answered - cancelled, std::chrono::milliseconds(500));
  EXPECT_EQ(dialogs->Texts().back(), "Importação cancelada pelo usuário.");
  const std::size_t stored = ReadRecords(server.DatabasePath()).size();
  EXPECT_THAT(dialogs->shown.back().details, HasSubstr("Textos vistos: " + std::to_string(stored) + "\n"));
  EXPECT_GT(stored, 250u);
  EXPECT_LT(stored, std::size_t(kTexts));
  EXPECT_EQ(screen.pgbProgresso->value(), 0);
}

TEST_F(ImportRunTest, TheSummaryAddsUpAndCountsTheSkippedTexts) {
  TempDir dir;
  const std::string path = dir.Touch("Cli/Src/Cadastro.dfm");
  auto write = [&path](const char* caption) {
    std::ofstream(path, std::ios::binary) << "object frmCad: TForm\n  Caption = '" << caption
                                          << "'\n  object btnOk: TButton\n    Caption = '123'\n"
                                             "    Hint = 'Salvar'\n  end\nend\n";
  };
  write("Cadastro");
  auto& screen = Open();
  ListDirectory(screen, dir.Str());
  screen.sbtTudoDir->click();
  screen.cbbIdioma->setCurrentIndex(screen.cbbIdioma->findText(QStringLiteral("POR-Português")));
  dialogs->answers.push_back(shared::MsgAnswer::Yes);
  screen.sbtImportExport->click();
  EXPECT_THAT(dialogs->shown.back().details,
              HasSubstr("Textos vistos: 3\nJá gravados: 0\nNovos: 2\nSubstituídos: 0\n"
                        "Ignorados (não traduzíveis ou vazios): 1\n"));

  write("Cadastro de clientes");  // one text replaced, one stored, one not translatable
  dialogs->answers.push_back(shared::MsgAnswer::Yes);
  screen.sbtImportExport->click();
  EXPECT_THAT(dialogs->shown.back().details,
              HasSubstr("Textos vistos: 3\nJá gravados: 1\nNovos: 0\nSubstituídos: 1\n"
                        "Ignorados (não traduzíveis ou vazios): 1\n"));
}

TEST_F(ImportRunTest, AFileNameThatIsNotUtf8IsShownAsWindows1252AndRead) {
  TempDir dir;
  const std::string path = dir.Touch("Cli/Src/A\xE7\xE3o.dfm");  // "Ação.dfm" in Latin-1
  std::ofstream(path, std::ios::binary) << "object frmAcao: TForm\n  Caption = 'Ação'\nend\n";
  auto& screen = Open();
  ListDirectory(screen, dir.Str());
  ASSERT_EQ(screen.lsbDisp->count(), 1);
  EXPECT_EQ(screen.lsbDisp->item(0)->text().toStdString(), dir.Str() + "/Cli/Src/Ação.dfm");
  screen.sbtTudoDir->click();
  screen.cbbIdioma->setCurrentIndex(screen.cbbIdioma->findText(QStringLiteral("POR-Português")));
  dialogs->answers.push_back(shared::MsgAnswer::Yes);
  screen.sbtImportExport->click();

  EXPECT_EQ(dialogs->Texts().back(), "Todos os arquivos foram importados com sucesso!");
  EXPECT_THAT(RecordLines(server.DatabasePath()), ::testing::ElementsAre("AçãO/FRMACAO/FRMACAO/Caption/0=Ação"));
}

}  // namespace
}  // namespace trd::test
