// Rewrites through the backup blocks and the recovery rule at mount: an
// interruption at any transaction of a rewrite leaves, after the next mount,
// the block either wholly old or wholly new and backup block 2 erased.
#include "card/backupblocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "card/checker.h"
#include "common/bytes.h"
#include "support/card_fixture.h"

namespace travosk::card {
namespace {

using support::CardRig;

constexpr uint32_t kPages = 16;
constexpr uint32_t kBlock = 300;  // a block of free clusters on a fresh 8 MB card
constexpr uint32_t kFirst = kBlock * kPages;
constexpr uint32_t kMarker = 1022 * kPages;  // backup block 2
constexpr uint32_t kCopy = 1023 * kPages;    // backup block 1

std::vector<uint8_t> BlockData(CardRig& rig, uint32_t first) {
  std::vector<uint8_t> d;
  for (uint32_t p = first; p < first + kPages; ++p) {
    auto data = rig.PageData(p);
    d.insert(d.end(), data.begin(), data.end());
  }
  return d;
}

// A block image of 528-byte pages whose data bytes follow from seed.
std::vector<uint8_t> NewContents(uint8_t seed) {
  std::vector<uint8_t> block(kPages * kPageBytes, 0xFF);
  for (uint32_t j = 0; j < kPages; ++j)
    for (uint32_t i = 0; i < kPageDataBytes; ++i)
      block[j * kPageBytes + i] = static_cast<uint8_t>(seed + j * 7 + i);
  return block;
}

std::vector<uint8_t> DataOf(const std::vector<uint8_t>& block) {
  std::vector<uint8_t> d;
  for (uint32_t j = 0; j < kPages; ++j)
    d.insert(d.end(), block.begin() + j * kPageBytes, block.begin() + j * kPageBytes + 512);
  return d;
}

// The adapter back after a fault, as a user replugs it.
void Replug(CardRig& rig) {
  support::Replug(rig.session);
  rig.access.Com->LinkFault = false;
}

bool Erased(CardRig& rig, uint32_t first) {
  const auto d = BlockData(rig, first);
  return std::all_of(d.begin(), d.end(), [](uint8_t b) { return b == 0xFF; });
}

TEST(BackupBlocks, AnInterruptedRewriteIsOldOrNewAfterTheNextMount) {
  CardRig rig;
  ASSERT_TRUE(rig.volume.Mount());
  const BackupBlocks backup = rig.volume.Backup;
  ASSERT_TRUE(backup.valid);
  EXPECT_EQ(backup.block1, 1023u);
  EXPECT_EQ(backup.block2, 1022u);
  const auto contents = NewContents(0x40);
  const auto before = rig.Snapshot();
  const auto old_data = BlockData(rig, kFirst);

  rig.ResetCounters();
  ASSERT_TRUE(RewriteThroughBackup(rig.access, backup, kFirst, contents.data()));
  const uint64_t transactions = rig.counters().transactions;
  EXPECT_EQ(rig.counters().blocks_erased, 3u);
  EXPECT_EQ(rig.counters().pages_written, 2 * kPages + 2);
  EXPECT_EQ(BlockData(rig, kFirst), DataOf(contents));
  EXPECT_TRUE(Erased(rig, kMarker));

  int completed = 0;
  rig.volume.OnInterruptedWriteCompleted = [&](uint32_t block) {
    EXPECT_EQ(block, kBlock);
    ++completed;
  };
  int completions_seen = 0;
  for (uint64_t k = 0; k < transactions; ++k) {
    SCOPED_TRACE(k);
    std::copy(before.begin(), before.end(), rig.image().begin());
    ASSERT_TRUE(rig.access.OpenCard());
    rig.adapter().UnplugAfter(k);
    EXPECT_FALSE(RewriteThroughBackup(rig.access, backup, kFirst, contents.data()));
    Replug(rig);
    const int seen = completed;
    ASSERT_TRUE(rig.volume.Mount());
    const auto now = BlockData(rig, kFirst);
    EXPECT_TRUE(now == old_data || now == DataOf(contents));
    EXPECT_TRUE(Erased(rig, kMarker));
    EXPECT_TRUE(CheckFileSystem(rig.volume).Healthy());
    completions_seen += completed - seen;
    // A second mount finds nothing left to do.
    ASSERT_TRUE(rig.volume.Mount());
    EXPECT_EQ(BlockData(rig, kFirst), now);
  }
  // The cases cut short after the second marker page were completed, once each.
  EXPECT_GT(completions_seen, 0);
  EXPECT_EQ(completions_seen, completed);
}

TEST(BackupBlocks, AMountDiscardsAnIncompleteCopyAndLeavesTheBlock) {
  CardRig rig;
  ASSERT_TRUE(rig.volume.Mount());
  const auto old_data = BlockData(rig, kFirst);
  Page mark{};
  store_le32(mark, 0, kBlock | 0x80000000u);
  ASSERT_TRUE(rig.access.WritePage(kMarker, mark));
  const auto contents = NewContents(0x11);
  ASSERT_TRUE(rig.access.WriteBlock(kCopy, contents.data()));
  bool told = false;
  rig.volume.OnInterruptedWriteCompleted = [&](uint32_t) { told = true; };
  ASSERT_TRUE(rig.volume.Mount());
  EXPECT_FALSE(told);
  EXPECT_EQ(BlockData(rig, kFirst), old_data);
  EXPECT_TRUE(Erased(rig, kMarker));
}


TEST(BackupBlocks, MarkerPagesNamingDifferentBlocksAreDiscardedNotCopied) {
  CardRig rig;
  ASSERT_TRUE(rig.volume.Mount());
  const auto old_data = BlockData(rig, kFirst);
  const auto other_data = BlockData(rig, kFirst + kPages);
  Page mark{};
  store_le32(mark, 0, kBlock | 0x80000000u);
  ASSERT_TRUE(rig.access.WritePage(kMarker, mark));
  store_le32(mark, 0, (kBlock + 1) | 0x80000000u);
  ASSERT_TRUE(rig.access.WritePage(kMarker + 1, mark));
  ASSERT_TRUE(rig.access.WriteBlock(kCopy, NewContents(0x22).data()));
  ASSERT_TRUE(rig.volume.Mount());
  EXPECT_EQ(BlockData(rig, kFirst), old_data);
  EXPECT_EQ(BlockData(rig, kFirst + kPages), other_data);
  EXPECT_TRUE(Erased(rig, kMarker));
}

TEST(BackupBlocks, SmartMediaWhoseBlockZeroRewriteWasCutShortMountsOldOrNew) {
  // 32-page erase blocks: the allocation table shares block 0 with the
  // superblock, so block 0 goes through the backup blocks at every commit.
  // An interruption right after its erase leaves page 0 without a superblock
  // and the backup blocks holding the marker and the whole copy.
  CardRig rig({.media = support::CardMedia::kSmartMedia, .megabytes = 16});
  ASSERT_TRUE(rig.volume.Mount());
  const BackupBlocks backup = rig.volume.Backup;
  ASSERT_TRUE(backup.valid);
  constexpr uint32_t kBlockPages = 32;
  auto data_of = [&](uint32_t first) {
    std::vector<uint8_t> d;
    for (uint32_t p = first; p < first + kBlockPages; ++p) {
      auto page = rig.PageData(p);
      d.insert(d.end(), page.begin(), page.end());
    }
    return d;
  };
  // The new block 0: the card's own with a changed byte in the table.
  std::vector<uint8_t> contents(kBlockPages * kPageBytes, 0xFF);
  for (uint32_t p = 0; p < kBlockPages; ++p)
    std::copy_n(rig.PageData(p).begin(), 512, contents.begin() + p * kPageBytes);
  contents[20 * kPageBytes + 8] ^= 0x5A;
  std::vector<uint8_t> new_data;
  for (uint32_t p = 0; p < kBlockPages; ++p)
    new_data.insert(new_data.end(), contents.begin() + p * kPageBytes,
                    contents.begin() + p * kPageBytes + 512);
  const auto old_data = data_of(0);
  const auto before = rig.Snapshot();
  rig.ResetCounters();
  ASSERT_TRUE(RewriteThroughBackup(rig.access, backup, 0, contents.data()));
  const uint64_t transactions = rig.counters().transactions;
  for (uint64_t k = 0; k < transactions; ++k) {
    SCOPED_TRACE(k);
    std::copy(before.begin(), before.end(), rig.image().begin());
    ASSERT_TRUE(rig.access.OpenCard());
    rig.adapter().UnplugAfter(k);
    EXPECT_FALSE(RewriteThroughBackup(rig.access, backup, 0, contents.data()));
    Replug(rig);
    ASSERT_TRUE(rig.volume.Mount()) << rig.volume.LastError();
    const auto now = data_of(0);
    EXPECT_TRUE(now == old_data || now == new_data);
  }
}

}  // namespace
}  // namespace travosk::card
