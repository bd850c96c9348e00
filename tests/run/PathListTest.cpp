// The run's list of selected files, read back from its temporary file: a
// list longer than one read block comes back whole and in order, and a read
// further back starts over without losing a path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/PathList.h"

namespace trd::test {
namespace {

TEST(PathList, ALongListComesBackInOrderAcrossBlocksAndFromFurtherBack) {
  std::vector<std::string> paths;
  for (int i = 0; i < 3000; ++i)  // about 200 KB: several blocks, paths cut at their edges
    paths.push_back("/src/Cli/Src/Módulo " + std::to_string(i % 7) + "/" + std::string(std::size_t(i % 61), 'x') +
                    std::to_string(i) + ".dfm");
  run::PathList list(paths);
  ASSERT_EQ(list.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) ASSERT_EQ(list[i], paths[i]) << i;
  EXPECT_EQ(list[2999], paths[2999]);  // the same path twice
  EXPECT_EQ(list[5], paths[5]);        // back
  EXPECT_EQ(list[2000], paths[2000]);
  list.Add("/src/Rel/Depois.qr2");  // added after reading
  EXPECT_EQ(list[3000], "/src/Rel/Depois.qr2");
  EXPECT_EQ(list.Paths().front(), paths.front());
  EXPECT_THROW(list[3001], std::out_of_range);

  run::PathList moved(std::move(list));
  EXPECT_EQ(moved[1234], paths[1234]);
}

}  // namespace
}  // namespace trd::test
