// Opening, language choice, the import button's enabling rule, cancel and
// close of the harvesting screen.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include "ScreenTest.h"
#include "platform/Connection.h"
#include "platform/Errors.h"
#include "screen/Cli_trd00501.h"
#include "shared/gui/BusyIndicator.h"
#include "store/Store.h"

namespace trd::test {
namespace {

using namespace screen::Cli_trd00500;

std::vector<std::string> ComboItems(const QComboBox* box) {
  std::vector<std::string> out;
  for (int i = 0; i < box->count(); ++i) out.push_back(box->itemText(i).toStdString());
  return out;
}

class LifecycleTest : public ScreenTest {};

TEST_F(LifecycleTest, SecondIniProcShowsTheSameScreenInNormalState) {
  auto& screen = Open();
  EXPECT_TRUE(boStcriado);
  EXPECT_TRUE(screen.isVisible());
  EXPECT_FALSE(screen.sbtImportExport->isEnabled());
  EXPECT_FALSE(screen.sbtImportExport->icon().isNull());
  EXPECT_TRUE(screen.Dados().cdsVersao.Active());

  screen.cbbIdioma->setCurrentIndex(0);
  screen.Container()->showMaximized();
  IniProc();
  EXPECT_EQ(frmLeDfmRel, &screen);
  EXPECT_FALSE(screen.Container()->isMaximized());
  screen.Container()->showMinimized();
  IniProc();
  EXPECT_FALSE(screen.Container()->isMinimized());
  EXPECT_TRUE(screen.isVisible());
  EXPECT_EQ(server->calls["GetIdiLeDfm"], 1);  // nothing reloaded
  EXPECT_EQ(stIdiLeDfm, "POR");                // the choice stays
}

TEST_F(LifecycleTest, IniProcAfterClosingStartsAFreshScreen) {
  TempDir dir;
  dir.Touch("Cli/Src/Pedido.dfm");
  auto& first = Open();
  ListDirectory(first, dir.Str());
  ASSERT_EQ(stlFiles->size(), 1u);

  first.sbtCancel->click();  // idle: closes
  EXPECT_FALSE(boStcriado);
  EXPECT_EQ(frmLeDfmRel, nullptr);
  EXPECT_FALSE(stlFiles || stlVerRep || stlTesta);
  EXPECT_FALSE(first.Dados().NetTradRelDfm.Connected());
  EXPECT_FALSE(first.Dados().netUpdRelDfm.Connected());
  Flush();

  auto& second = Open();
  EXPECT_EQ(server->calls["GetIdiLeDfm"], 2);
  ASSERT_TRUE(stlFiles && stlVerRep && stlTesta);
  EXPECT_TRUE(stlFiles->empty());
  EXPECT_EQ(second.lsbDisp->count(), 0);
  EXPECT_EQ(second.cbbIdioma->count(), 2);
}

TEST_F(LifecycleTest, LanguageBoxListsCodeAndDescriptionAndSetsTheCode) {
  auto& screen = Open();
  EXPECT_EQ(ComboItems(screen.cbbIdioma), (std::vector<std::string>{"POR-Português", "ENG-English"}));
  EXPECT_TRUE(screen.cbbIdioma->currentText().isEmpty());
  EXPECT_EQ(stIdiLeDfm, "");

  screen.cbbIdioma->setCurrentIndex(1);
  EXPECT_EQ(stIdiLeDfm, "ENG");
  screen.cbbIdioma->setEditText("esp-Espanhol");  // typed: the same split as the check
  EXPECT_EQ(stIdiLeDfm, "esp");
  screen.cbbIdioma->setEditText("");
  EXPECT_EQ(stIdiLeDfm, "");
}

TEST_F(LifecycleTest, UnloadableLanguageListIsReportedAndTheScreenStaysOpen) {
  server->failure = "tabela de idiomas indisponível";
  auto& screen = Open();
  EXPECT_TRUE(screen.isVisible());
  EXPECT_EQ(screen.cbbIdioma->count(), 0);
  ASSERT_EQ(dialogs->shown.size(), 1u);
  EXPECT_EQ(dialogs->shown[0].type, shared::MsgType::Error);
  EXPECT_NE(dialogs->shown[0].text.find("idiomas"), std::string::npos);
  screen.Close();
  Flush();

  class Broken final : public Transport {
   public:
    std::string Exchange(const std::string&) override { throw ConnectionError("connection refused"); }
  };
  gui::ModuleServices().transports = [](const std::string&, int) { return std::make_unique<Broken>(); };
  auto& again = Open();
  EXPECT_TRUE(again.isVisible());
  ASSERT_EQ(dialogs->shown.size(), 2u);
  EXPECT_NE(dialogs->shown[1].text.find("connection refused"), std::string::npos);
}

TEST_F(LifecycleTest, ImportButtonNeedsASelectedFileAndALanguageText) {
  TempDir dir;
  dir.Touch("Cli/Src/A.dfm");
  dir.Touch("Cli/Src/B.dfm");
  auto& screen = Open();
  auto* button = screen.sbtImportExport;
  ListDirectory(screen, dir.Str());

  screen.cbbIdioma->setCurrentIndex(0);
  EXPECT_FALSE(button->isEnabled()) << "nothing selected";
  Pick(screen.lsbDisp, {"A.dfm"});
  screen.sbtDireita->click();
  EXPECT_TRUE(button->isEnabled());
  screen.cbbIdioma->setEditText("");
  EXPECT_FALSE(button->isEnabled()) << "language text cleared";
  screen.sbtTudoDir->click();
  EXPECT_FALSE(button->isEnabled()) << "files selected, no language";
  screen.cbbIdioma->setEditText("x");
  EXPECT_TRUE(button->isEnabled()) << "any text counts";

  screen.cbbIdioma->setEditText("");
  button->setEnabled(true);
  screen.sbtDireita->click();  // nothing picked still applies the rule
  EXPECT_FALSE(button->isEnabled());

  screen.cbbIdioma->setCurrentIndex(1);
  screen.sbtTudoEsq->click();
  EXPECT_FALSE(button->isEnabled()) << "last file moved back";
}

TEST_F(LifecycleTest, ImportButtonFollowsTheListsAndARunWithoutFilesDoesNothing) {
  TempDir dir;
  dir.Touch("Cli/Src/A.dfm");
  auto& screen = Open();
  auto* button = screen.sbtImportExport;
  ListDirectory(screen, dir.Str());
  screen.cbbIdioma->setCurrentIndex(0);
  screen.sbtTudoDir->click();
  ASSERT_TRUE(button->isEnabled());

  ListDirectory(screen, dir.Str());  // a new listing empties the selection
  EXPECT_EQ(screen.lsbSelec->count(), 0);
  EXPECT_FALSE(button->isEnabled()) << "enabled after a listing that emptied the selection";
  screen.lsbSelec->addItem(QString::fromStdString(dir.Str() + "/Cli/Src/A.dfm"));
  EXPECT_TRUE(button->isEnabled());
  screen.lsbSelec->clear();
  EXPECT_FALSE(button->isEnabled());
  { screen::TfrmLeDfmRel::RunScope run(screen); }
  EXPECT_FALSE(button->isEnabled()) << "the end of a run applies the rule too";

  // Reached anyway (the button is disabled): no question, no success, no
  // version stamp.
  screen.sbtImportExportClick();
  EXPECT_TRUE(dialogs->shown.empty());
  EXPECT_EQ(server->calls["GetVersao"], 0);
}

TEST_F(LifecycleTest, AnUnreachableLanguageListIsFetchedAgainOnOpeningTheBoxOrImporting) {
  TempDir dir;
  dir.Touch("Cli/Src/A.dfm");
  server->failure = "tabela de idiomas indisponível";
  auto& screen = Open();
  ASSERT_EQ(screen.cbbIdioma->count(), 0);
  ASSERT_EQ(dialogs->shown.size(), 1u);
  EXPECT_EQ(dialogs->shown[0].text,
            "Não foi possível carregar a lista de idiomas do servidor de tradução. A lista será carregada de "
            "novo ao abrir a caixa de idiomas ou ao importar.\nO servidor de tradução recusou a operação.\n"
            "Detalhe técnico: tabela de idiomas indisponível");

  // Still down: opening the box says so once more and drops nothing down.
  screen.cbbIdioma->showPopup();
  EXPECT_EQ(screen.cbbIdioma->count(), 0);
  ASSERT_EQ(dialogs->shown.size(), 2u);
  EXPECT_EQ(dialogs->shown[1].text, dialogs->shown[0].text);

  // The import, with a typed language, while the server is down: that one
  // message, no "Idioma inválido.", no question.
  ListDirectory(screen, dir.Str());
  screen.sbtTudoDir->click();
  screen.cbbIdioma->setEditText("POR-Português");
  screen.sbtImportExport->click();
  ASSERT_EQ(dialogs->shown.size(), 3u);
  EXPECT_EQ(dialogs->shown[2].text, dialogs->shown[0].text);

  // Back: the import fetches the list, keeps the typed text and goes on to
  // the question (answered No).
  server->failure.reset();
  screen.sbtImportExport->click();
  EXPECT_EQ(ComboItems(screen.cbbIdioma), (std::vector<std::string>{"POR-Português", "ENG-English"}));
  EXPECT_EQ(screen.cbbIdioma->currentText().toStdString(), "POR-Português");
  EXPECT_EQ(stIdiLeDfm, "POR");
  ASSERT_GE(dialogs->shown.size(), 4u);
  EXPECT_NE(dialogs->shown[3].text.find("Confirma a operação?"), std::string::npos);
  for (const Shown& d : dialogs->shown) EXPECT_NE(d.text, "Idioma inválido.");
}

TEST_F(LifecycleTest, OpeningTheBoxFetchesALanguageListThatWasUnavailable) {
  server->failure = "tabela de idiomas indisponível";
  auto& screen = Open();
  ASSERT_EQ(screen.cbbIdioma->count(), 0);
  server->failure.reset();
  screen.cbbIdioma->showPopup();
  EXPECT_EQ(ComboItems(screen.cbbIdioma), (std::vector<std::string>{"POR-Português", "ENG-English"}));
  EXPECT_TRUE(screen.cbbIdioma->currentText().isEmpty()) << "no language chosen by the reload";
  EXPECT_EQ(dialogs->shown.size(), 1u);
  screen.cbbIdioma->hidePopup();
  screen.cbbIdioma->showPopup();  // filled: not fetched again
  EXPECT_EQ(server->calls["GetIdiLeDfm"], 2);
  screen.cbbIdioma->hidePopup();
}

TEST_F(LifecycleTest, CancelDuringARunRaisesTheFlagAndKeepsTheScreen) {
  TempDir dir;
  dir.Touch("Cli/Src/A.dfm");
  auto& screen = Open();
  ListDirectory(screen, dir.Str());
  screen.cbbIdioma->setCurrentIndex(0);
  screen.sbtTudoDir->click();
  {
    screen::TfrmLeDfmRel::RunScope run(screen);
    EXPECT_TRUE(screen.Importando());
    EXPECT_FALSE(screen.sbtImportExport->isEnabled());
    EXPECT_FALSE(screen.cbbIdioma->isEnabled());
    EXPECT_FALSE(screen.sbtTudoEsq->isEnabled());
    screen.lblStatus->setText("Pedido.dfm");

    screen.sbtCancel->click();
    EXPECT_TRUE(screen.Cancelar());
    EXPECT_TRUE(boStcriado);
    EXPECT_FALSE(screen.Close()) << "closing is refused during a run";
    EXPECT_TRUE(screen.isVisible());
    Flush();
    EXPECT_EQ(frmLeDfmRel, &screen);
  }
  EXPECT_FALSE(screen.Importando());
  EXPECT_FALSE(screen.Cancelar());
  EXPECT_TRUE(screen.sbtImportExport->isEnabled());
  EXPECT_TRUE(screen.cbbIdioma->isEnabled());
  EXPECT_TRUE(screen.lblStatus->text().isEmpty());
  EXPECT_TRUE(screen.Close());
}

TEST_F(LifecycleTest, TheCancelButtonStaysUsableUnderTheBusyIndicator) {
  auto& screen = Open();
  QWidget* window = screen.window();
  gui::QtBusyIndicator busy;
  busy.Show(static_cast<void*>(window), shared::ShowAviKind::Transfer);
  ASSERT_NE(busy.Overlay(), nullptr);
  auto at = [window](QWidget* w) { return window->childAt(w->mapTo(window, w->rect().center())); };
  EXPECT_EQ(at(screen.sbtCancel), screen.sbtCancel) << "the overlay swallows the cancel button's click";
  EXPECT_EQ(at(screen.lsbSelec), busy.Overlay());
  busy.Hide();
}

TEST_F(LifecycleTest, ClosingIsRefusedWhileAListingRuns) {
  TempDir dir;
  for (int i = 0; i < 5; ++i) dir.Touch("Cli/Src/F" + std::to_string(i) + ".dfm");
  auto& screen = Open();
  bool closed = true;
  bool locked = false;
  QTimer::singleShot(0, &screen, [&] {
    locked = !screen.sbtTudoDir->isEnabled() && screen.Listando();
    closed = screen.Close();
  });
  ListDirectory(screen, dir.Str());
  EXPECT_TRUE(locked);
  EXPECT_FALSE(closed);
  EXPECT_EQ(frmLeDfmRel, &screen);
  EXPECT_EQ(screen.lsbDisp->count(), 5);
  EXPECT_TRUE(screen.sbtTudoDir->isEnabled());
  EXPECT_TRUE(screen.Close());
}

TEST_F(LifecycleTest, ClosingTheScreenClosesTheReviewScreen) {
  auto& screen = Open();
  stlVerRep->assign({"/a/x.dfm", "/b/x.dfm"});
  screen.cbbIdioma->setCurrentIndex(0);
  screen.sbtImportExportClick();
  ASSERT_TRUE(screen::Cli_trd00501::boStCriado);
  screen.Close();
  EXPECT_FALSE(screen::Cli_trd00501::boStCriado);
  EXPECT_EQ(screen::Cli_trd00501::frmVerRep, nullptr);
}

}  // namespace
}  // namespace trd::test
