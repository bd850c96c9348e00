// Listing source files on the screen: the six subtrees, the walk's
// exclusions, and the directory controls that start or empty a listing (the
// walk itself: tests/run/DiscoveryTest.cpp).
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

#include "ScreenTest.h"
#include "platform/Text.h"
#include "run/FileDiscovery.h"
#include "support/ListingTree.h"

namespace trd::test {
namespace {

using namespace screen::Cli_trd00500;
namespace fs = std::filesystem;

class DiscoveryTest : public ScreenTest {
 protected:
  // Builds the sample tree; returns the paths a listing must find.
  std::vector<std::string> BuildTree(const TempDir& dir) { return BuildListingTree(dir); }

  static void LeaveField(QLineEdit* field) {
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(field, &leave);
  }
};

TEST_F(DiscoveryTest, ListsTheSixSubtreesWithTheirKindsAndExclusions) {
  TempDir dir;
  auto expected = BuildTree(dir);
  auto& screen = Open();
  ListDirectory(screen, dir.Str());
  EXPECT_EQ(screen.edtDiretorio->text().toStdString(), dir.Str());
  EXPECT_EQ(Items(screen.lsbDisp), expected);
  for (int i = 0; i < screen.lsbDisp->count(); ++i)  // a long path hides the name at the list's edge
    EXPECT_EQ(screen.lsbDisp->item(i)->toolTip(), screen.lsbDisp->item(i)->text());
  ExpectAvailableInStep(screen);
  EXPECT_TRUE(dialogs->shown.empty());
  screen.sbtTudoDir->click();
  for (int i = 0; i < screen.lsbSelec->count(); ++i)
    EXPECT_EQ(screen.lsbSelec->item(i)->toolTip(), screen.lsbSelec->item(i)->text());
}

TEST_F(DiscoveryTest, SubtreesAreFoundWhateverTheirLetterCaseOnDisk) {
  TempDir dir;
  std::string a = dir.Touch("cli/src/A.dfm");
  std::string b = dir.Touch("CLI/STD/GER/B.dfm");
  std::string c = dir.Touch("rel/C.QR2");
  dir.MakeDir("CLI/Nada");  // a spelling that leads nowhere for Cli/Src
  auto& screen = Open();
  ListDirectory(screen, dir.Str() + "/");  // a trailing separator is not doubled
  EXPECT_EQ(Items(screen.lsbDisp), (std::vector<std::string>{a, b, c}));
  ExpectAvailableInStep(screen);
}

TEST_F(DiscoveryTest, DirectoryWithoutSubtreesListsNothing) {
  TempDir dir;
  dir.Touch("Outro/Cli/Src/A.dfm");
  auto& screen = Open();
  ListDirectory(screen, dir.Str());
  EXPECT_EQ(screen.lsbDisp->count(), 0);
  EXPECT_TRUE(stlFiles->empty());
  ListDirectory(screen, dir.Str() + "/nao-existe");
  EXPECT_EQ(screen.lsbDisp->count(), 0);
  EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(DiscoveryTest, CancelledChooserEmptiesEveryList) {
  TempDir dir;
  dir.Touch("Cli/Src/a/x.dfm");
  dir.Touch("Cli/Src/b/x.dfm");
  auto& screen = Open();
  ListDirectory(screen, dir.Str());
  Pick(screen.lsbDisp, {"a/x.dfm"});
  screen.sbtDireita->click();
  screen.sbtTudoDir->click();
  ASSERT_FALSE(stlVerRep->empty());
  ASSERT_FALSE(stlTesta->empty());

  screen.sbtDiretorio->click();  // chooser answers cancel
  EXPECT_EQ(chooser->opened, 2);
  EXPECT_EQ(screen.lsbDisp->count() + screen.lsbSelec->count(), 0);
  EXPECT_TRUE(stlFiles->empty() && stlVerRep->empty() && stlTesta->empty());
  EXPECT_EQ(screen.edtDiretorio->text().toStdString(), dir.Str());
}

TEST_F(DiscoveryTest, F9InTheFieldListsLikeTheButton) {
  TempDir dir;
  std::string a = dir.Touch("Cli/Src/A.dfm");
  auto& screen = Open();
  chooser->answers.push_back(QString::fromStdString(dir.Str()));
  QKeyEvent f9(QEvent::KeyPress, Qt::Key_F9, Qt::ShiftModifier | Qt::ControlModifier);
  QCoreApplication::sendEvent(screen.edtDiretorio, &f9);
  EXPECT_EQ(chooser->opened, 1);
  EXPECT_EQ(Items(screen.lsbDisp), std::vector<std::string>{a});
}

TEST_F(DiscoveryTest, TypedDirectoryIsListedOnlyWhileBothListsAreEmpty) {
  TempDir one;
  TempDir two;
  one.Touch("Cli/Src/Um.dfm");
  one.Touch("Cli/Src/Dois.dfm");
  std::string b = two.Touch("Cli/Src/B.dfm");
  std::string a = two.Touch("Cli/Std/Lib/a.dfm");
  auto& screen = Open();
  ListDirectory(screen, one.Str());
  screen.edtDiretorio->setText(QString::fromStdString(two.Str()));  // typed over the listed one
  EXPECT_EQ(screen.lsbDisp->count(), 0);
  EXPECT_TRUE(stlFiles->empty());
  LeaveField(screen.edtDiretorio);
  EXPECT_EQ(Items(screen.lsbDisp), (std::vector<std::string>{b, a}));
  ExpectAvailableInStep(screen);

  LeaveField(screen.edtDiretorio);  // the available list holds files: nothing happens
  EXPECT_EQ(screen.lsbDisp->count(), 2);

  Pick(screen.lsbDisp, {"B.dfm"});
  screen.sbtDireita->click();
  screen.edtDiretorio->setText(QString::fromStdString(one.Str()));
  LeaveField(screen.edtDiretorio);  // a file is selected: nothing is listed
  EXPECT_EQ(screen.lsbDisp->count(), 0);
  EXPECT_TRUE(stlFiles->empty());
  EXPECT_EQ(Items(screen.lsbSelec), std::vector<std::string>{b});
}

// A directory typed, then a click on the language box: the field loses the
// focus to the box and the listing runs at that moment; the click must still
// land (the box keeps the focus and opens its list). Found by object name, as
// a user's script would find them.
TEST_F(DiscoveryTest, TheFirstClickOnTheLanguageBoxAfterTypingADirectoryIsNotLost) {
  TempDir dir;
  std::string a = dir.Touch("Cli/Src/A.dfm");
  auto& screen = Open();
  auto* field = screen.findChild<QLineEdit*>("edtDiretorio");
  auto* box = screen.findChild<QComboBox*>("cbbIdioma");
  ASSERT_TRUE(field && box);
  screen.window()->activateWindow();
  QApplication::setActiveWindow(screen.window());
  field->setFocus(Qt::OtherFocusReason);
  ASSERT_TRUE(field->hasFocus());
  field->setText(QString::fromStdString(dir.Str()));

  box->lineEdit()->setFocus(Qt::MouseFocusReason);  // what the press does first
  EXPECT_EQ(Items(screen.lsbDisp), std::vector<std::string>{a}) << "listed as the field lost the focus";
  EXPECT_TRUE(box->isEnabled());
  QWidget* focus = QApplication::focusWidget();
  EXPECT_TRUE(focus == box || box->isAncestorOf(focus)) << "the box keeps the focus the click gave it";

  const QPoint arrow(box->width() - 4, box->height() / 2);
  QMouseEvent press(QEvent::MouseButtonPress, arrow, box->mapToGlobal(arrow), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(box, &press);
  EXPECT_TRUE(box->view()->isVisible()) << "the list of languages opens";
  box->hidePopup();
  EXPECT_TRUE(dialogs->shown.empty());
}

}  // namespace
}  // namespace trd::test
