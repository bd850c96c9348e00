// The selection lists of the harvest engine, in memory and without Qt:
// moving files between the available and the selected list, the duplicate
// detection, and the duplicate gate of `trd harvest DIR`.
#include <gtest/gtest.h>

#include "run/SelectionLists.h"
#include "support/TempTree.h"

namespace trd::test {
namespace {

using run::MoveOutcome;
using run::MoveScope;
using run::StringList;

// The lists as a listing leaves them, in memory.
struct Lists {
  run::MemoryListBox disp;
  run::MemoryListBox selec;
  StringList files, testa, verRep;
  run::SelectionLists view{disp, selec, files, testa, verRep};

  explicit Lists(const StringList& available) {
    for (const auto& p : available) {
      disp.Add(p);
      files.push_back(p);
    }
    run::SortIgnoreCase(files);
  }
  void PickIn(run::MemoryListBox& box, const std::string& path) { box.Pick(box.IndexOf(path)); }
  MoveOutcome Right(MoveScope scope = MoveScope::All) {
    MoveOutcome o = MoveIntoSelection(view, scope);
    EXPECT_EQ(disp.Items(), files) << "available lists out of step";
    return o;
  }
  void Left(MoveScope scope = MoveScope::All) {
    MoveOutOfSelection(view, scope);
    EXPECT_EQ(disp.Items(), files) << "available lists out of step";
  }
};

TEST(SelectionLists, SameNameInTwoDirectoriesIsRecordedAsAPair) {
  Lists l({"/A/Cli/Src/x.dfm", "/B/Cli/Src/x.dfm"});
  EXPECT_EQ(l.Right(), MoveOutcome::Done);
  EXPECT_EQ(l.selec.Items(), (StringList{"/A/Cli/Src/x.dfm", "/B/Cli/Src/x.dfm"}));
  EXPECT_EQ(l.testa, StringList{"x.dfm=/B/Cli/Src"}) << "the last path is visited first";
  EXPECT_EQ(l.verRep, (StringList{"/A/Cli/Src/x.dfm", "/B/Cli/Src/x.dfm"}));
  EXPECT_TRUE(l.files.empty());
}

TEST(SelectionLists, NamesCompareWithExtensionAndWithoutLetterCase) {
  Lists l({"/a/Pedido.dfm", "/b/Pedido.qr2", "/c/PEDIDO.DFM"});
  l.Right();
  // The earlier path is rebuilt from its directory and the moved file's name.
  EXPECT_EQ(l.verRep, (StringList{"/a/Pedido.dfm", "/c/Pedido.dfm"}));
  EXPECT_EQ(l.testa, (StringList{"PEDIDO.DFM=/c", "Pedido.qr2=/b"}));
}

TEST(SelectionLists, MovingBackEmptiesTheDuplicatesAndKeepsTheNamesSeen) {
  Lists l({"/a/x.dfm", "/b/x.dfm", "/c/y.dfm"});
  l.Right();
  ASSERT_EQ(l.verRep.size(), 2u);
  l.PickIn(l.selec, "/c/y.dfm");
  l.Left(MoveScope::Picked);
  EXPECT_TRUE(l.verRep.empty()) << "any file moved back empties the whole list";
  EXPECT_EQ(l.disp.Items(), StringList{"/c/y.dfm"});
  EXPECT_EQ(l.testa.size(), 2u);

  l.Right();  // y.dfm again: its name is still recorded, so it pairs with itself
  EXPECT_EQ(l.verRep, (StringList{"/c/y.dfm", "/c/y.dfm"}));
}

TEST(SelectionLists, PathAlreadySelectedStopsTheMoveWhereItIs) {
  Lists l({"/d/a.dfm", "/d/b.dfm", "/d/b.dfm", "/d/c.dfm"});
  EXPECT_EQ(l.Right(), MoveOutcome::AlreadySelected);
  EXPECT_EQ(l.selec.Items(), (StringList{"/d/b.dfm", "/d/c.dfm"}));
  EXPECT_EQ(l.disp.Items(), (StringList{"/d/a.dfm", "/d/b.dfm"}));
}

TEST(SelectionLists, ALaterMoveMeetsTheSelectionAndTheNamesOfEarlierMoves) {
  Lists l({"/d/a.dfm", "/e/b.dfm"});
  l.Right();
  // Listed again in other spellings: the same path ignoring letter case stops
  // the move; the same name in another directory pairs with the first entry.
  for (const char* p : {"/f/A.dfm", "/D/A.DFM"}) {
    l.disp.Add(p);
    l.files.push_back(p);
  }
  run::SortIgnoreCase(l.files);
  EXPECT_EQ(l.Right(), MoveOutcome::AlreadySelected);
  EXPECT_EQ(l.disp.Items(), StringList{"/D/A.DFM"});
  EXPECT_EQ(l.verRep, (StringList{"/f/A.dfm", "/d/A.dfm"}));
  EXPECT_EQ(l.testa, (StringList{"b.dfm=/e", "a.dfm=/d"}));
}

TEST(SelectionLists, PathsInBothListsStaySelectedWhenMovedBack) {
  Lists l({"/d/a.dfm", "/d/B.dfm"});
  l.Right();
  l.disp.Add("/d/A.DFM");  // listed again meanwhile
  l.files.push_back("/d/A.DFM");
  l.Left();
  EXPECT_EQ(l.selec.Items(), StringList{"/d/a.dfm"});
  EXPECT_EQ(l.disp.Items(), (StringList{"/d/A.DFM", "/d/B.dfm"}));
}

TEST(SelectionLists, NothingPickedMovesNothing) {
  Lists l({"/d/a.dfm", "/d/b.dfm"});
  l.PickIn(l.disp, "/d/b.dfm");
  l.Right(MoveScope::Picked);
  l.Left(MoveScope::Picked);  // the moved item is not picked on the right
  EXPECT_EQ(l.selec.Items(), StringList{"/d/b.dfm"});
  l.Right(MoveScope::Picked);
  EXPECT_EQ(l.disp.Items(), StringList{"/d/a.dfm"});
}

TEST(SelectionLists, SortedInsertFoldsOnlyAsciiLetters) {
  run::MemoryListBox box;
  for (const char* p : {"/b", "/A", "/a", "/_", "/Z", "/É"}) box.Add(p);
  EXPECT_EQ(box.Items(), (StringList{"/A", "/a", "/b", "/Z", "/_", "/É"}));
}

// `trd harvest`'s selection of a listing, worked out without the lists,
// against the lists' move of the same listing: names three times, in other
// cases and encodings, holding "=", a path twice but for its case (the move
// stops there), a file at the root.
TEST(SelectionLists, SelectAllGivesWhatTheMoveOfEveryFileGives) {
  const StringList listings[] = {
      {"/a/x.dfm", "/b/X.DFM", "/c/x.dfm", "/a/y.qr2", "/b/Ação.dfm", "/c/A\xe7\xe3o.dfm", "z.dfm", "/d/z.dfm"},
      {"/a/p=1.dfm", "/b/p=1.dfm", "/c/p=2.dfm", "/d/p", "/e/P", "/f/q.dfm", "/g/Q.dfm=x"},
      {"/a/x.dfm", "/b/x.dfm", "/c/m.dfm", "/C/M.dfm", "/d/m.dfm", "/e/x.dfm"},
  };
  for (const StringList& listing : listings) {
    Lists l(listing);
    l.Right();
    StringList sorted = listing;
    run::SortIgnoreCase(sorted);
    const run::TreeSelection s = run::SelectAll(sorted);
    EXPECT_EQ(s.paths, l.selec.Items()) << listing.front();
    EXPECT_EQ(s.duplicates, l.verRep) << listing.front();
  }
}

// The whole tree as `trd harvest` selects it: a file name found in two
// subtrees closes the gate and names both paths; distinct names leave it
// open.
TEST(DuplicateGate, SameNameInTwoSubtreesClosesItAndNamesBothPaths) {
  TempTree dir("trd-gate");
  const std::string a = dir.Write("Cli/Src/Pedido.dfm", "x");
  const std::string b = dir.Write("Cli/Std/Lib/PEDIDO.DFM", "x");
  const std::string c = dir.Write("Rel/Vendas.qr2", "x");
  run::TreeSelection s = run::SelectSourceTree(dir.Dir().string());
  EXPECT_EQ(s.paths.size(), 3u);
  EXPECT_EQ(run::CheckDuplicates(s.duplicates), run::DuplicateGate::Closed);
  ASSERT_EQ(s.duplicates.size(), 2u);
  EXPECT_NE(s.duplicates[0], s.duplicates[1]);

  std::filesystem::remove(b);
  s = run::SelectSourceTree(dir.Dir().string());
  EXPECT_EQ(s.paths, (StringList{a, c}));
  EXPECT_EQ(run::CheckDuplicates(s.duplicates), run::DuplicateGate::Open);
}

}  // namespace
}  // namespace trd::test
