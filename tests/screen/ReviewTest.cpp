// The duplicate-file review: opened by the import button while duplicates are
// recorded; drop by double click; confirm.
#include <QListWidget>
#include <algorithm>
#include <QPlainTextEdit>
#include <QToolButton>

#include "ScreenTest.h"
#include "screen/Cli_trd00501.h"

namespace trd::test {
namespace {

using namespace screen;
using run::StringList;

const char* kWarning =
    "Existem arquivos duplicado para o diretório informado. Faça novamente a leitura dos arquivos, "
    "após retirar o(s) arquivo(s) duplicados.";

class ReviewTest : public ScreenTest {
 protected:
  // Lists a tree holding x.dfm in each of `dirs` and moves them into the
  // selection one by one, in the order given.
  TfrmLeDfmRel& SelectInOrder(const TempDir& tree, const std::vector<std::string>& dirs) {
    for (const auto& d : dirs) paths[d] = tree.Touch("Cli/Src/" + d + "/x.dfm");
    auto& screen = Open();
    ListDirectory(screen, tree.Str());
    screen.cbbIdioma->setCurrentIndex(0);
    for (const auto& d : dirs) {
      Pick(screen.lsbDisp, {"/" + d + "/x.dfm"});
      screen.sbtDireita->click();
    }
    return screen;
  }

  static TfrmVerRep& Review() { return *Cli_trd00501::frmVerRep; }

  static StringList MemoLines(const TfrmVerRep& review) {
    QString text = review.memVerRep->toPlainText();
    StringList out;
    if (text.isEmpty()) return out;
    for (const QString& line : text.split('\n')) out.push_back(line.toStdString());
    return out;
  }

  static void DoubleClick(TfrmVerRep& review, int row) {
    review.lsbDelRep->setCurrentRow(row);
    emit review.lsbDelRep->itemDoubleClicked(review.lsbDelRep->item(row));
  }

  std::map<std::string, std::string> paths;
};

TEST_F(ReviewTest, ImportWithDuplicatesWarnsAndShowsThePairs) {
  TempDir tree;
  auto& screen = SelectInOrder(tree, {"a", "b"});
  const StringList pair{paths["b"], paths["a"]};
  ASSERT_EQ(*Cli_trd00500::stlVerRep, pair);

  screen.sbtImportExport->click();
  ASSERT_TRUE(Cli_trd00501::boStCriado);
  auto& review = Review();
  EXPECT_EQ(dialogs->Texts(), StringList{kWarning}) << "the warning and nothing else";
  EXPECT_EQ(dialogs->shown[0].type, shared::MsgType::Warning);
  EXPECT_EQ(MemoLines(review), pair);
  EXPECT_EQ(Items(review.lsbDelRep), pair);
  EXPECT_TRUE(review.isVisible());
  EXPECT_FALSE(review.memVerRep->isEnabled());
  EXPECT_FALSE(review.sbtCancel->isEnabled());
  EXPECT_TRUE(review.sbtConfirma->isEnabled());

  screen.sbtImportExport->click();  // already open: shown again, not refreshed
  EXPECT_EQ(dialogs->shown.size(), 1u);
  EXPECT_EQ(&Review(), &review);
}

TEST_F(ReviewTest, DroppingAPathTakesItOutOfTheSelectionOnly) {
  TempDir tree;
  auto& screen = SelectInOrder(tree, {"a", "b", "c"});
  const std::string a = paths["a"], b = paths["b"], c = paths["c"];
  ASSERT_EQ(*Cli_trd00500::stlVerRep, (StringList{b, a, c, a}));
  screen.sbtImportExport->click();
  auto& review = Review();

  DoubleClick(review, 1);
  EXPECT_EQ(Items(screen.lsbSelec), (std::vector<std::string>{b, c}));
  EXPECT_EQ(screen.lsbDisp->count(), 0) << "not returned to the available list";
  EXPECT_EQ(*Cli_trd00500::stlVerRep, (StringList{b, c, a}));
  EXPECT_EQ(MemoLines(review), (StringList{b, c, a}));
  EXPECT_EQ(Items(review.lsbDelRep), (std::vector<std::string>{b, c, a}));
  EXPECT_EQ(Cli_trd00500::stlTesta->size(), 1u) << "names seen are kept";

  DoubleClick(review, 2);  // a is no longer selected
  EXPECT_EQ(Items(screen.lsbSelec), (std::vector<std::string>{b, c}));
  EXPECT_EQ(*Cli_trd00500::stlVerRep, (StringList{b, c}));

  review.lsbDelRep->clearSelection();
  emit review.lsbDelRep->itemDoubleClicked(nullptr);
  EXPECT_EQ(review.lsbDelRep->count(), 2) << "no item selected: nothing happens";

  DoubleClick(review, 0);
  DoubleClick(review, 0);
  EXPECT_TRUE(Cli_trd00500::stlVerRep->empty());
  EXPECT_TRUE(MemoLines(review).empty());
  EXPECT_TRUE(review.isVisible());
  EXPECT_EQ(screen.lsbSelec->count(), 0);
  EXPECT_FALSE(screen.sbtImportExport->isEnabled()) << "every selected file removed by the review";

  screen.cbbIdioma->setCurrentIndex(0);
  screen.lsbSelec->addItem("/outro/y.dfm");
  screen.AplicaRegraImportar();
  screen.sbtImportExport->click();  // the gate passes now
  const auto texts = dialogs->Texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), kWarning), 1);
}

TEST_F(ReviewTest, ConfirmAcceptsTheDuplicatesAndCloses) {
  TempDir tree;
  auto& screen = SelectInOrder(tree, {"a", "b"});
  screen.sbtImportExport->click();
  Review().sbtConfirma->click();
  EXPECT_FALSE(Cli_trd00501::boStCriado);
  EXPECT_EQ(Cli_trd00501::frmVerRep, nullptr);
  EXPECT_TRUE(Cli_trd00500::stlVerRep->empty());
  EXPECT_EQ(Items(screen.lsbSelec), (std::vector<std::string>{paths["a"], paths["b"]}));
  Flush();
}

TEST_F(ReviewTest, MovingBackWhileOpenLeavesTheOldEntriesShown) {
  TempDir tree;
  auto& screen = SelectInOrder(tree, {"a", "b"});
  screen.sbtImportExport->click();
  auto& review = Review();
  Pick(screen.lsbSelec, {"/a/x.dfm"});
  screen.sbtEsquerda->click();
  EXPECT_TRUE(Cli_trd00500::stlVerRep->empty());
  EXPECT_EQ(review.lsbDelRep->count(), 2);

  DoubleClick(review, 0);  // b: still selected, no entry left in the list
  EXPECT_EQ(screen.lsbSelec->count(), 0);
  EXPECT_EQ(MemoLines(review), StringList{paths["a"]});
  EXPECT_EQ(Items(review.lsbDelRep), std::vector<std::string>{paths["a"]});
}

}  // namespace
}  // namespace trd::test
