// The node table: the window's map from tree node numbers back to entries.
#include "card/nodetable.h"

#include <gtest/gtest.h>

#include "common/errors.h"

namespace travosk::card {
namespace {

TfileIP Named(const std::string& name, int32_t cluster = 0) {
  TfileIP x;
  x.Name = name;
  x.RelatCluster = cluster;
  return x;
}

TEST(NodeTable, FindsTheFirstOfDuplicatesAndComparesNamesExactly) {
  TDiritemTable table;
  TfileIP gone = Named("GONE");
  gone.Deleted = 1;
  table.AddNode(1, gone);  // deleted entries are nothing to act on
  EXPECT_EQ(table.Count(), 0u);

  table.AddNode(7, Named("BESLES-12345", 3));
  table.AddNode(7, Named("second", 4));
  table.AddNode(8, Named("icon.sys", 5));
  TfileIP out;
  ASSERT_TRUE(table.FindNodeByIndex(7, out));
  EXPECT_EQ(out.Name, "BESLES-12345");
  EXPECT_EQ(out.RelatCluster, 3);
  EXPECT_FALSE(table.FindNodeByIndex(1, out));

  ASSERT_TRUE(table.FindNodeByName("icon.sys", out));
  EXPECT_EQ(out.RelatCluster, 5);
  EXPECT_FALSE(table.FindNodeByName("ICON.SYS", out));
  EXPECT_FALSE(table.FindNodeByName("besles-12345", out));

  table.ClearNodes();
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_FALSE(table.FindNodeByIndex(7, out));
}

TEST(NodeTable, RefusesToGrowPastItsCapacity) {
  TDiritemTable table;
  for (size_t i = 0; i < TDiritemTable::kCapacity; ++i) {
    table.AddNode(static_cast<int32_t>(i), Named("n"));
  }
  EXPECT_THROW(table.AddNode(-1, Named("one too many")), CardError);
  EXPECT_EQ(table.Count(), TDiritemTable::kCapacity);
  TfileIP out;
  EXPECT_FALSE(table.FindNodeByIndex(-1, out));
}

}  // namespace
}  // namespace travosk::card
