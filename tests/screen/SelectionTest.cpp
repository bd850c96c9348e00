// Moving files between the available and the selected list on the screen,
// the lists staying in step (the lists' own rules: tests/run/SelectionTest.cpp).
#include <QToolButton>

#include "ScreenTest.h"
#include "run/SelectionLists.h"

namespace trd::test {
namespace {

using run::StringList;

class SelectionScreenTest : public ScreenTest {};

TEST_F(SelectionScreenTest, MovesKeepTheAvailableListsInStep) {
  TempDir dir;
  std::string a1 = dir.Touch("Cli/Src/a/x.dfm");
  std::string b1 = dir.Touch("Cli/Src/b/x.dfm");
  std::string c = dir.Touch("Cli/Src/c.dfm");
  std::string r = dir.Touch("Rel/r.qr2");
  auto& screen = Open();
  ListDirectory(screen, dir.Str());
  ExpectAvailableInStep(screen);

  Pick(screen.lsbDisp, {"a/x.dfm", "r.qr2"});
  screen.sbtDireita->click();
  ExpectAvailableInStep(screen);
  EXPECT_EQ(Items(screen.lsbSelec), (std::vector<std::string>{a1, r}));
  screen.sbtTudoDir->click();
  ExpectAvailableInStep(screen);
  EXPECT_EQ(*screen::Cli_trd00500::stlVerRep, (StringList{b1, a1}));
  Pick(screen.lsbSelec, {"c.dfm"});
  screen.sbtEsquerda->click();
  ExpectAvailableInStep(screen);
  EXPECT_TRUE(screen::Cli_trd00500::stlVerRep->empty());
  screen.sbtTudoEsq->click();
  ExpectAvailableInStep(screen);
  EXPECT_EQ(screen.lsbSelec->count(), 0);
  EXPECT_EQ(Items(screen.lsbDisp), (std::vector<std::string>{a1, b1, c, r}));
}

TEST_F(SelectionScreenTest, PathSelectedAlreadyIsReportedAndEndsTheMove) {
  TempDir dir;
  std::string a = dir.Touch("Cli/Src/a.dfm");
  auto& screen = Open();
  ListDirectory(screen, dir.Str());
  screen.cbbIdioma->setCurrentIndex(0);
  screen.sbtTudoDir->click();
  ASSERT_TRUE(screen.sbtImportExport->isEnabled());
  screen.lsbDisp->addItem(QString::fromStdString(a));  // the same path available again
  screen::Cli_trd00500::stlFiles->push_back(a);
  screen.sbtImportExport->setEnabled(false);

  screen.sbtTudoDir->click();
  ASSERT_EQ(dialogs->shown.size(), 1u);
  EXPECT_EQ(dialogs->shown[0].text, "Arquivo já selecionado.");
  EXPECT_EQ(dialogs->shown[0].type, shared::MsgType::Error);
  EXPECT_EQ(screen.lsbDisp->count(), 1);
  EXPECT_FALSE(screen.sbtImportExport->isEnabled()) << "the rule is not applied after the message";
}

}  // namespace
}  // namespace trd::test
