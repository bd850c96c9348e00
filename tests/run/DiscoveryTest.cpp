// The source tree walk of the harvest engine, without Qt: the six subtrees
// with their kinds and exclusions, in the order of the lists, and the walk
// of one directory.
#include <gtest/gtest.h>

#include "run/FileDiscovery.h"
#include "run/SelectionLists.h"
#include "support/ListingTree.h"
#include "support/TempTree.h"

namespace trd::test {
namespace {

TEST(SourceTree, TheSixSubtreesAreListedWithTheirKindsAndExclusions) {
  TempTree dir("trd-walk");
  const std::vector<std::string> expected = BuildListingTree(dir);
  run::StringList found;
  run::ListingSink sink;
  sink.found = [&](const std::string& p) { found.push_back(p); };
  run::ListSourceTree(dir.Dir().string(), sink);
  run::SortIgnoreCase(found);
  EXPECT_EQ(found, expected);
}

TEST(ListaArquivos, OnlyTheExactKindsListFilesAndAStopEndsTheWalk) {
  TempTree dir("trd-walk");
  dir.Write("A.dfm", "x");
  dir.Write("sub/B.dfm", "x");
  std::vector<std::string> found;
  int yields = 0;
  run::ListingSink sink{[&](const std::string& p) { found.push_back(p); },
                            [&] { ++yields; return run::WalkControl::Continue; }};
  EXPECT_EQ(run::ListaArquivos(dir.Dir().string(), "DFM", sink), run::WalkControl::Continue);
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(yields, 3) << "one per entry, the subdirectory's included";

  run::ListaArquivos(dir.Dir().string(), "dfm", sink);
  EXPECT_EQ(found, (std::vector<std::string>{dir.Dir().string() + "/sub/B.dfm", dir.Dir().string() + "/A.dfm"}))
      << "subdirectories before the directory's own files";

  found.clear();
  sink.yield = [] { return run::WalkControl::Stop; };
  EXPECT_EQ(run::ListaArquivos(dir.Dir().string(), "dfm", sink), run::WalkControl::Stop);
  EXPECT_TRUE(found.empty());
}

}  // namespace
}  // namespace trd::test
