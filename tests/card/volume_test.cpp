// The card volume: mounting, the allocation table and cluster chains.
#include "card/volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "common/bytes.h"
#include "common/errors.h"
#include "support/card_fixture.h"

namespace travosk::card {
namespace {

using support::CardMedia;
using support::CardRig;

struct Volume : ::testing::Test {
  CardRig rig;
  // Superblock bytes, straight in the image.
  std::span<uint8_t> sb = rig.PageData(0);

  void ExpectRefused() {
    // A change staged for the card mounted before must not outlive the refusal.
    std::array<uint8_t, 1024> staged{};
    rig.cache.CacheWriteCluster(1600, staged.data());
    EXPECT_FALSE(rig.volume.Mount());
    EXPECT_EQ(rig.cache.SlotCount(), 0);
    EXPECT_FALSE(rig.volume.Mounted());
    EXPECT_FALSE(rig.access.IsOpen);
    EXPECT_FALSE(rig.volume.LastError().empty());
  }
};

TEST_F(Volume, FreshEightMegabyteCardMounts) {
  ASSERT_TRUE(rig.volume.Mount()) << rig.volume.LastError();
  const TPSFilemanager& v = rig.volume;
  EXPECT_TRUE(rig.access.IsOpen);
  EXPECT_EQ(v.FatClusterCount, 32);
  EXPECT_EQ(v.IndirectPage, 16);
  EXPECT_EQ(v.AllocOffset, 41);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(v.FatClusterList[i], 9u + i);
  EXPECT_EQ(v.Fat[0], kChainEnd);  // the root
  for (uint32_t c = 1; c < 8135; ++c) ASSERT_EQ(v.Fat[c], kFreeEntry) << c;
  for (uint32_t c = 8135; c < 32768; ++c) ASSERT_EQ(v.Fat[c], kChainEnd) << c;
  EXPECT_EQ(v.ClusterPage(0), 82u);
  EXPECT_EQ(rig.cache.BlockBytesValue(), 8448);
  EXPECT_EQ(v.StackDepth, 0);
  EXPECT_EQ(v.Stack.size(), 64u);
}

TEST_F(Volume, MagicComparesTwentySevenCharactersExactly) {
  sb[27] = 'X';  // after the 27 characters anything goes
  EXPECT_TRUE(rig.volume.Mount());
  sb[0] = 's';
  ExpectRefused();
  sb[0] = 'S';
  sb[26] = 'T';
  ExpectRefused();
}

TEST_F(Volume, RefusesTablesItCannotHoldOrThatLieOutsideTheCard) {
  auto indirect = rig.PageData(16);
  const std::vector<uint8_t> good(sb.begin(), sb.end());
  const std::vector<uint8_t> good_indirect(indirect.begin(), indirect.end());
  auto restore = [&] {
    std::copy(good.begin(), good.end(), sb.begin());
    std::copy(good_indirect.begin(), good_indirect.end(), indirect.begin());
  };

  sb[0x31] = 0;  // no FAT clusters
  ExpectRefused();
  restore();
  sb[0x31] = 129;  // more than the 32,768 entries the table holds
  ExpectRefused();
  restore();
  sb[0x50] = 0;  // indirect cluster over the superblock
  ExpectRefused();
  restore();
  store_le32(indirect, 4 * 5, 8192);  // a FAT cluster past the card's end
  ExpectRefused();
  restore();
  store_le32(indirect, 4 * 31, 8191);  // leaves no room for the root
  ExpectRefused();
  restore();
  EXPECT_TRUE(rig.volume.Mount());
  EXPECT_TRUE(rig.volume.LastError().empty());
}

TEST(VolumeMount, FailsWithoutAPS2FileSystem) {
  CardRig empty({.media = CardMedia::kNone});
  EXPECT_FALSE(empty.volume.Mount());
  CardRig ps1({.media = CardMedia::kPS1});
  EXPECT_FALSE(ps1.volume.Mount());
  CardRig blank({.formatted = false});
  EXPECT_FALSE(blank.volume.Mount());
  EXPECT_FALSE(blank.access.IsOpen);
}

TEST_F(Volume, PageReadFailureFailsTheMount) {
  rig.adapter().SilentAfter(4);  // the query, the superblock, the indirect page, one FAT page
  EXPECT_FALSE(rig.volume.Mount());
  EXPECT_FALSE(rig.access.IsOpen);
}

TEST_F(Volume, AllocationTakesTheLowestFreeCluster) {
  ASSERT_TRUE(rig.volume.Mount());
  TPSFilemanager& v = rig.volume;
  uint32_t c = 0, next = 0;
  ASSERT_TRUE(v.AllocateCluster(c));
  EXPECT_EQ(c, 1u);
  EXPECT_EQ(v.Fat[1], kChainEnd);
  ASSERT_TRUE(v.ExtendChain(1, next));
  EXPECT_EQ(next, 2u);
  EXPECT_EQ(v.Fat[1], 0x80000002u);
  EXPECT_EQ(v.Fat[2], kChainEnd);
  v.Fat[1] = 0x00000002;  // bit 31 clear is free, whatever the rest says
  ASSERT_TRUE(v.AllocateCluster(c));
  EXPECT_EQ(c, 1u);

  // A full card: nothing changes.
  std::fill(v.Fat.begin(), v.Fat.end(), kChainEnd);
  const auto fat = v.Fat;
  EXPECT_FALSE(v.AllocateCluster(c));
  EXPECT_FALSE(v.ExtendChain(1, next));
  EXPECT_EQ(v.Fat, fat);

  // Clusters whose pages lie past the card's end are never handed out.
  v.Fat[8151] = kFreeEntry;
  EXPECT_FALSE(v.AllocateCluster(c));
  v.Fat[8150] = kFreeEntry;
  ASSERT_TRUE(v.AllocateCluster(c));
  EXPECT_EQ(c, 8150u);
}

TEST_F(Volume, AllocationFindsTheOneFreeClusterWhereverItLiesInARunOfEight) {
  ASSERT_TRUE(rig.volume.Mount());
  TPSFilemanager& v = rig.volume;
  // Every cluster below 40 in use but one, at each place within and across
  // the runs of eight the search skips over.
  for (uint32_t free = 1; free < 40; ++free) {
    SCOPED_TRACE(free);
    for (uint32_t c = 0; c < 40; ++c) v.Fat[c] = c == free ? kFreeEntry : kChainEnd;
    uint32_t c = 0;
    ASSERT_TRUE(v.AllocateCluster(c));
    EXPECT_EQ(c, free);
  }
}

TEST_F(Volume, LastTableEntryIsNeverAllocated) {
  // A table of 16 clusters (4,096 entries) on an 8 MB card: its last entry
  // lies well inside the card.
  sb[0x31] = 16;
  ASSERT_TRUE(rig.volume.Mount());
  TPSFilemanager& v = rig.volume;
  ASSERT_EQ(v.AllocOffset, 25);
  std::fill(v.Fat.begin(), v.Fat.begin() + 4096, kChainEnd);
  v.Fat[4095] = kFreeEntry;
  uint32_t c = 0;
  EXPECT_FALSE(v.AllocateCluster(c));
  v.Fat[4094] = kFreeEntry;
  ASSERT_TRUE(v.AllocateCluster(c));
  EXPECT_EQ(c, 4094u);
}

TEST_F(Volume, FreeChainClearsBitThirtyOneAlongTheChain) {
  ASSERT_TRUE(rig.volume.Mount());
  TPSFilemanager& v = rig.volume;
  v.Fat[3] = kChainEnd;  // a one-cluster file
  v.FreeChain(3);
  EXPECT_EQ(v.Fat[3], kFreeEntry);

  v.Fat[4] = 0x80000005;
  v.Fat[5] = 0x80000006;
  v.Fat[6] = kChainEnd;
  v.FreeChain(4);
  EXPECT_EQ(v.Fat[4], 0x00000005u);
  EXPECT_EQ(v.Fat[5], 0x00000006u);
  EXPECT_EQ(v.Fat[6], kFreeEntry);

  // Damaged chains end: a cycle, a next number past the table, an entry that
  // is already free (whose stale next number may name another file's cluster).
  v.Fat[10] = 0x8000000B;
  v.Fat[11] = 0x8000000A;
  v.FreeChain(10);
  EXPECT_EQ(v.Fat[10], 0x0000000Bu);
  EXPECT_EQ(v.Fat[11], 0x0000000Au);
  v.Fat[12] = 0x80009000;
  v.FreeChain(12);
  EXPECT_EQ(v.Fat[12], 0x00009000u);
  v.Fat[13] = 0x8000000E;
  v.Fat[14] = 0x0000000F;
  v.Fat[15] = kChainEnd;
  v.FreeChain(13);
  EXPECT_EQ(v.Fat[15], kChainEnd);

  const auto fat = v.Fat;
  v.FreeChain(0xFFFFFFFF);  // no cluster
  v.FreeChain(40000);
  EXPECT_EQ(v.Fat, fat);
}

TEST_F(Volume, StoreFatWritesOnlyTheTableBlocksThatChanged) {
  ASSERT_TRUE(rig.volume.Mount());
  const auto before = rig.Snapshot();
  rig.ResetCounters();
  // The mount's reads told the cache what the card holds: an unchanged table
  // stored whole reaches nothing.
  rig.volume.StoreFat();
  EXPECT_EQ(rig.cache.SlotCount(), 6);  // the superblock's block and pages 16..81 in blocks 1..5
  EXPECT_EQ(rig.cache.BlocksToWrite(), 0);
  rig.cache.FlushCache();
  EXPECT_EQ(rig.counters().transactions, 0u);

  // One entry changed: only its block is written, and of that block only the
  // page the mount did not read (17, beside the indirect cluster's page 16)
  // comes from the card.
  ASSERT_TRUE(rig.volume.Mount());
  rig.ResetCounters();
  uint32_t c = 0;
  ASSERT_TRUE(rig.volume.AllocateCluster(c));
  rig.volume.StoreFat();
  EXPECT_EQ(rig.cache.BlocksToWrite(), 1);
  rig.cache.FlushCache();
  // One page to complete the block, and backup block 2's two marker pages,
  // read before a rewrite through the backup blocks may start.
  EXPECT_EQ(rig.counters().pages_read, 1u + 2u);
  // The table's block holds other entries: it goes through the backup
  // blocks (its copy and two marker pages; the copy's and the marker's
  // erases).
  EXPECT_EQ(rig.counters().blocks_erased, 3u);
  EXPECT_EQ(rig.counters().pages_written, 16u + 16u + 2u);
  EXPECT_EQ(load_le32(rig.PageData(18), 4 * c), kChainEnd);
  std::copy(before.begin(), before.end(), rig.image().begin());

  // A cache that knows nothing of the card (reset since the mount) rewrites
  // every block of the table with the bytes it had.
  ASSERT_TRUE(rig.volume.Mount());
  rig.cache.ResetCache();
  rig.ResetCounters();
  rig.volume.StoreFat();
  EXPECT_EQ(rig.cache.SlotCount(), 5);  // pages 18..81 lie in blocks 1..5
  rig.cache.FlushCache();
  // Block 1 lacks the indirect cluster's two pages, block 5 the 14 after the
  // FAT; then the two marker pages.
  EXPECT_EQ(rig.counters().pages_read, 16u + 2u);
  EXPECT_EQ(rig.counters().blocks_erased, 5u * 3u);
  EXPECT_EQ(rig.counters().pages_written, 5u * 34u);
  // Everything as it was but backup block 1, which keeps the last copy.
  const auto after = rig.Snapshot();
  const size_t copy = size_t{1023} * 16 * 528;
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + copy, before.begin()));
}

TEST_F(Volume, StoredChangesReachTheCardAndTheNextMount) {
  ASSERT_TRUE(rig.volume.Mount());
  uint32_t c = 0;
  ASSERT_TRUE(rig.volume.AllocateCluster(c));
  rig.volume.StoreFat();
  rig.cache.FlushCache();
  ASSERT_TRUE(rig.volume.Mount());
  EXPECT_EQ(rig.volume.Fat[c], kChainEnd);
  EXPECT_EQ(load_le32(rig.PageData(18), 4 * c), kChainEnd);
}

TEST_F(Volume, ReadClusterReadsTheCardAndRefusesClustersOffIt) {
  ASSERT_TRUE(rig.volume.Mount());
  std::array<uint8_t, 1024> cluster{};
  rig.volume.ReadCluster(0, cluster.data());
  EXPECT_EQ(load_le16(cluster, 0), 0x8427);  // the root's "."
  EXPECT_EQ(cluster[0x40], '.');
  EXPECT_EQ(load_le16(cluster, 512), 0xA426);  // and ".."
  EXPECT_TRUE(rig.volume.ValidCluster(8150));
  EXPECT_FALSE(rig.volume.ValidCluster(8151));
  EXPECT_THROW(rig.volume.ReadCluster(8151, cluster.data()), CardError);
  EXPECT_THROW(rig.volume.ReadCluster(40000, cluster.data()), CardError);

  // Read once, a cluster is known: reading it again costs no card access,
  // and a change staged in the cache does not show through.
  rig.ResetCounters();
  std::array<uint8_t, 1024> again{};
  rig.volume.ReadCluster(0, again.data());
  EXPECT_EQ(again, cluster);
  EXPECT_EQ(rig.counters().transactions, 0u);
  std::array<uint8_t, 1024> staged{};
  staged.fill(0x42);
  rig.cache.CacheWriteCluster(rig.volume.ClusterPage(0), staged.data());
  rig.volume.ReadCluster(0, again.data());
  EXPECT_EQ(again, cluster);
  EXPECT_EQ(rig.counters().pages_read, 2u);

  rig.adapter().UnplugAfter(1);
  EXPECT_THROW(rig.volume.ReadCluster(5, cluster.data()), CardError);
}

TEST_F(Volume, ReleaseClosesTheCardAndForgetsTheTables) {
  ASSERT_TRUE(rig.volume.Mount());
  rig.volume.Release();
  EXPECT_FALSE(rig.access.IsOpen);
  EXPECT_FALSE(rig.volume.Mounted());
  uint32_t c = 0;
  EXPECT_FALSE(rig.volume.AllocateCluster(c));
  rig.volume.FreeChain(1);
  rig.volume.StoreFat();
  EXPECT_EQ(rig.cache.BlocksToWrite(), 0);
  ASSERT_TRUE(rig.volume.Mount());
  EXPECT_EQ(rig.volume.Fat.size(), size_t{kFatEntries});
}

}  // namespace
}  // namespace travosk::card
