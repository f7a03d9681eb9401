// The erase-block cache: what reaches the card, when, and in which order.
#include "card/erasecache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <vector>

#include "common/errors.h"
#include "support/card_fixture.h"

namespace travosk::card {
namespace {

using support::CardMedia;
using support::CardRig;

std::array<uint8_t, 1024> Pattern(uint8_t seed) {
  std::array<uint8_t, 1024> c;
  for (size_t i = 0; i < c.size(); ++i) c[i] = static_cast<uint8_t>(seed + i * 3);
  return c;
}

// Gives every page of a block its own data, straight into the image.
void MarkBlock(CardRig& rig, uint32_t first_page, uint32_t pages) {
  for (uint32_t p = first_page; p < first_page + pages; ++p) {
    auto data = rig.PageData(p);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(p + i);
  }
}

std::vector<uint8_t> DataOf(CardRig& rig, uint32_t page) {
  auto d = rig.PageData(page);
  return {d.begin(), d.end()};
}

struct Cache : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(rig.access.OpenCard());
    rig.cache.ResetCache();
    MarkBlock(rig, 1600, 16);  // block 100
    MarkBlock(rig, 3200, 16);  // block 200
    rig.ResetCounters();
  }
  CardRig rig;
};

TEST_F(Cache, FlushWithNoSlotsSendsNothing) {
  EXPECT_EQ(rig.cache.BlockBytesValue(), 8448);
  rig.cache.FlushCache();
  EXPECT_EQ(rig.counters().transactions, 0u);
  EXPECT_EQ(rig.cache.SlotCount(), 0);
}

TEST_F(Cache, ClusterWrittenIntoAnUnreadBlockKeepsTheRestOfTheBlock) {
  const auto before = rig.Snapshot();
  const auto data = Pattern(0x21);
  rig.cache.CacheWriteCluster(1604, data.data());
  EXPECT_EQ(rig.counters().transactions, 0u);  // nothing is read before the flush

  rig.cache.FlushCache();
  EXPECT_EQ(rig.counters().pages_read, 14u);
  EXPECT_EQ(rig.counters().blocks_erased, 1u);
  EXPECT_EQ(rig.counters().pages_written, 16u);
  EXPECT_EQ(rig.cache.SlotCount(), 0);
  for (uint32_t p = 1600; p < 1616; ++p) {
    SCOPED_TRACE(p);
    std::vector<uint8_t> expected(before.begin() + p * 528, before.begin() + p * 528 + 512);
    if (p == 1604) expected.assign(data.begin(), data.begin() + 512);
    if (p == 1605) expected.assign(data.begin() + 512, data.end());
    EXPECT_EQ(DataOf(rig, p), expected);
  }
  EXPECT_EQ(DataOf(rig, 1616),
            std::vector<uint8_t>(before.begin() + 1616 * 528, before.begin() + 1616 * 528 + 512));
}

TEST_F(Cache, ReadsSeeTheCachedWritesAndLoadOnlyWhatIsMissing) {
  const auto data = Pattern(0x33);
  rig.cache.CacheWriteCluster(1604, data.data());
  std::array<uint8_t, 1024> back{};
  rig.cache.CacheReadCluster(1604, back.data());
  EXPECT_EQ(back, data);
  EXPECT_EQ(rig.counters().pages_read, 0u);

  // The neighbour of a written cluster: only its own two pages come in.
  rig.cache.CacheReadCluster(1606, back.data());
  EXPECT_EQ(rig.counters().pages_read, 2u);
  auto p1606 = DataOf(rig, 1606);
  EXPECT_TRUE(std::equal(p1606.begin(), p1606.end(), back.begin()));
  EXPECT_EQ(rig.cache.PageState(0, 6), kPagePresent);
  EXPECT_EQ(rig.cache.PageState(0, 8), kPageAbsent);

  // A read that misses loads its whole block once.
  rig.cache.CacheReadCluster(3210, back.data());
  EXPECT_EQ(rig.counters().pages_read, 18u);
  rig.cache.CacheReadCluster(3200, back.data());
  rig.cache.CacheWriteCluster(3214, data.data());
  EXPECT_EQ(rig.counters().pages_read, 18u);
  EXPECT_EQ(rig.counters().transactions, 18u);
}

TEST_F(Cache, ClustersOfOneBlockShareOneSlot) {
  const auto data = Pattern(1);
  for (uint32_t page = 1600; page < 1616; page += 2) rig.cache.CacheWriteCluster(page, data.data());
  EXPECT_EQ(rig.cache.SlotCount(), 1);
  EXPECT_EQ(rig.cache.SlotBlockStart(0), 1600u);
  rig.cache.CacheWriteCluster(1616, data.data());
  EXPECT_EQ(rig.cache.SlotCount(), 2);
  EXPECT_EQ(rig.cache.SlotBlockStart(1), 1616u);
  // A block fully written needs nothing from the card at the flush.
  rig.cache.FlushCache();
  EXPECT_EQ(rig.counters().pages_read, 14u);
}

TEST_F(Cache, FlushWritesBlocksInFirstTouchedOrderAfterAllReads) {
  const auto data = Pattern(0x5A);
  rig.cache.CacheWriteCluster(3202, data.data());  // block 200 first
  rig.cache.CacheWriteCluster(1600, data.data());  // then block 100
  rig.cache.CacheWriteCluster(3204, data.data());  // block 200 again: same slot
  std::array<uint8_t, 1024> back{};
  rig.cache.CacheReadCluster(4800, back.data());  // block 300, read whole
  EXPECT_EQ(rig.counters().pages_read, 16u);

  struct Step {
    uint32_t block_start;
    uint64_t reads, erases, writes;
    uint8_t block200, block100;
  };
  std::vector<Step> steps;
  rig.cache.FlushCache([&](int n, int blocks) {
    EXPECT_EQ(blocks, 2);
    const auto& c = rig.counters();
    steps.push_back({n == 0 ? 3200u : 1600u, c.pages_read, c.blocks_erased, c.pages_written,
                     rig.PageData(3202)[0], rig.PageData(1600)[0]});
  });
  // Block 300 was only read: it is not rewritten and gets no progress step.
  ASSERT_EQ(steps.size(), 2u);
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    // Every missing page (12 of block 200, 14 of block 100) was read before
    // the first erase.
    EXPECT_EQ(steps[i].reads, 16u + 12u + 14u);
    EXPECT_EQ(steps[i].erases, i + 1);
    EXPECT_EQ(steps[i].writes, 16u * (i + 1));
  }
  EXPECT_EQ(steps[0].block200, data[0]);
  EXPECT_NE(steps[0].block100, data[0]);  // block 100 not yet written
  EXPECT_EQ(steps[1].block100, data[0]);
}

TEST_F(Cache, BlocksOnlyReadAreNotRewritten) {
  std::array<uint8_t, 1024> back{};
  rig.cache.CacheReadCluster(1600, back.data());  // block 100: searched only
  rig.cache.CacheReadCluster(3200, back.data());  // block 200: read, then changed
  const auto data = Pattern(0x3C);
  rig.cache.CacheWriteCluster(3206, data.data());
  EXPECT_FALSE(rig.cache.SlotWritten(0));
  EXPECT_TRUE(rig.cache.SlotWritten(1));
  int steps = 0;
  rig.cache.FlushCache([&](int, int) { ++steps; });
  EXPECT_EQ(steps, 1);
  EXPECT_EQ(rig.counters().pages_read, 32u);
  EXPECT_EQ(rig.counters().blocks_erased, 1u);
  EXPECT_EQ(rig.counters().pages_written, 16u);
  EXPECT_EQ(rig.PageData(3206)[0], data[0]);
  EXPECT_EQ(rig.cache.SlotCount(), 0);
}

TEST_F(Cache, MountBetweenWriteAndFlushDropsTheWrite) {
  ASSERT_TRUE(rig.volume.Mount());
  const auto before = rig.Snapshot();
  const auto data = Pattern(9);
  rig.cache.CacheWriteCluster(1600, data.data());
  ASSERT_TRUE(rig.volume.Mount());
  rig.ResetCounters();
  rig.cache.FlushCache();
  EXPECT_EQ(rig.counters().transactions, 0u);
  EXPECT_TRUE(rig.Snapshot() == before);
}

TEST_F(Cache, RefusesWhatItCannotHold) {
  const auto data = Pattern(2);
  std::array<uint8_t, 1024> back{};
  EXPECT_THROW(rig.cache.CacheWriteCluster(1601, data.data()), CardError);   // not a cluster start
  EXPECT_THROW(rig.cache.CacheWriteCluster(16384, data.data()), CardError);  // past the card
  EXPECT_THROW(rig.cache.CacheReadCluster(16384, back.data()), CardError);
  EXPECT_EQ(rig.cache.SlotCount(), 0);

  // Erase blocks larger than 64 pages.
  rig.access.BlockBytes = 128 * 528;
  rig.cache.ResetCache();
  EXPECT_THROW(rig.cache.CacheWriteCluster(0, data.data()), CardError);
  EXPECT_EQ(rig.counters().transactions, 0u);
}

TEST_F(Cache, WritingTheBytesTheCardHoldsChangesNothing) {
  std::array<uint8_t, 1024> held{};
  rig.cache.CacheReadCluster(1600, held.data());
  rig.ResetCounters();
  // Page 1602 as the card holds it, page 1603 changed: a change.
  auto changed = DataOf(rig, 1602);
  changed.resize(1024, 0x77);
  rig.cache.CacheWriteCluster(1602, changed.data());
  EXPECT_TRUE(rig.cache.SlotWritten(0));
  rig.cache.ResetCache();

  rig.cache.CacheReadCluster(1600, held.data());
  rig.cache.CacheWriteCluster(1600, held.data());
  EXPECT_FALSE(rig.cache.SlotWritten(0));
  EXPECT_EQ(rig.cache.BlocksToWrite(), 0);
  // Into a block never read, the same bytes are a change: the cache cannot
  // know what the card holds there.
  auto same = DataOf(rig, 3200);
  same.resize(1024);
  std::copy_n(rig.PageData(3201).begin(), 512, same.begin() + 512);
  rig.cache.CacheWriteCluster(3200, same.data());
  EXPECT_TRUE(rig.cache.SlotWritten(1));
  rig.ResetCounters();
  rig.cache.FlushCache();
  EXPECT_EQ(rig.counters().blocks_erased, 1u);
  EXPECT_EQ(rig.counters().pages_read, 14u);
}

TEST_F(Cache, NotedPagesSpareReadsAndNeverOverrideAChange) {
  Page page{};
  std::copy_n(rig.PageData(1600).begin(), 512, page.begin());
  rig.cache.NoteCardPage(1600, page);
  std::copy_n(rig.PageData(1601).begin(), 512, page.begin());
  rig.cache.NoteCardPage(1601, page);
  EXPECT_EQ(rig.cache.SlotCount(), 1);
  EXPECT_EQ(rig.cache.PageState(0, 0), kPagePresent);
  EXPECT_EQ(rig.cache.PageState(0, 2), kPageAbsent);

  // A noted cluster reads without the card; a neighbour reads its own two
  // pages; nothing is written for either.
  std::array<uint8_t, 1024> back{};
  rig.cache.CacheReadCluster(1600, back.data());
  EXPECT_TRUE(std::equal(back.begin(), back.begin() + 512, rig.PageData(1600).begin()));
  EXPECT_EQ(rig.counters().transactions, 0u);
  rig.cache.CacheReadCluster(1604, back.data());
  EXPECT_EQ(rig.counters().pages_read, 2u);
  rig.cache.FlushCache();
  EXPECT_EQ(rig.counters().transactions, 2u);

  // A note of a page the cache has changed keeps the change.
  const auto data = Pattern(0x44);
  rig.cache.CacheWriteCluster(1600, data.data());
  std::copy_n(rig.PageData(1600).begin(), 512, page.begin());
  rig.cache.NoteCardPage(1600, page);
  rig.cache.CacheReadCluster(1600, back.data());
  EXPECT_EQ(back, data);
  rig.ResetCounters();
  rig.cache.FlushCache();
  EXPECT_EQ(rig.counters().pages_read, 14u);  // 1600 and 1601 are the write's
  EXPECT_EQ(rig.PageData(1600)[5], data[5]);
  for (uint32_t p = 1602; p < 1616; ++p) EXPECT_EQ(rig.PageData(p)[7], static_cast<uint8_t>(p + 7));
}

TEST_F(Cache, BlocksPastTheMemoryLimitMoveToTheTempFileAndStayKnown) {
  // More blocks read than memory holds: the first ones move to the temp file,
  // and what they hold is still the card's, known without reading it again.
  // 4 MiB of 8,448-byte block images.
  const int in_memory = 496;
  const int blocks = in_memory + 40;
  std::array<uint8_t, 1024> back{};
  for (int b = 100; b < 100 + blocks; ++b)
    rig.cache.CacheReadCluster(static_cast<uint32_t>(b) * 16, back.data());
  EXPECT_EQ(rig.cache.ImagesInMemory(), in_memory);
  // The 40 that entered first (block 100 in slot 0 among them) moved out.
  EXPECT_EQ(rig.cache.SlotBlockStart(0), 1600u);
  EXPECT_FALSE(rig.cache.SlotInMemory(0));
  EXPECT_FALSE(rig.cache.SlotInMemory(39));
  EXPECT_TRUE(rig.cache.SlotInMemory(40));
  rig.ResetCounters();

  // Block 100, moved out: read back as the card holds it, and the same bytes
  // written back are no change.
  rig.cache.CacheReadCluster(1602, back.data());
  EXPECT_TRUE(std::equal(back.begin(), back.begin() + 512, rig.PageData(1602).begin()));
  EXPECT_TRUE(std::equal(back.begin() + 512, back.end(), rig.PageData(1603).begin()));
  rig.cache.CacheWriteCluster(1602, back.data());
  EXPECT_EQ(rig.cache.BlocksToWrite(), 0);
  // A change to it is flushed with the rest of the block from the temp file.
  const auto data = Pattern(0x6B);
  rig.cache.CacheWriteCluster(1604, data.data());
  rig.cache.FlushCache();
  EXPECT_EQ(rig.counters().pages_read, 0u);
  EXPECT_EQ(rig.counters().blocks_erased, 1u);
  EXPECT_EQ(rig.counters().pages_written, 16u);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 512, rig.PageData(1604).begin()));
  for (uint32_t p = 1600; p < 1616; ++p) {
    if (p == 1604 || p == 1605) continue;
    EXPECT_EQ(rig.PageData(p)[7], static_cast<uint8_t>(p + 7)) << p;
  }
}

TEST(CacheCapacity, RefusesMoreThan1024BlocksBetweenFlushes) {
  CardRig rig({.media = CardMedia::kSmartMedia, .megabytes = 32, .formatted = false});
  ASSERT_TRUE(rig.access.OpenCard());
  rig.cache.ResetCache();
  rig.ResetCounters();
  const auto data = Pattern(3);
  std::array<uint8_t, 1024> back{};
  for (uint32_t b = 0; b < 1024; ++b) rig.cache.CacheWriteCluster(b * 32, data.data());
  EXPECT_EQ(rig.cache.SlotCount(), 1024);
  EXPECT_THROW(rig.cache.CacheWriteCluster(1024 * 32, data.data()), CardError);
  EXPECT_THROW(rig.cache.CacheReadCluster(1024 * 32, back.data()), CardError);
  EXPECT_EQ(rig.cache.SlotCount(), 1024);
  // Blocks already held still work.
  rig.cache.CacheWriteCluster(2, data.data());
  EXPECT_EQ(rig.counters().transactions, 0u);
}

TEST(CacheCapacity, BlocksOnlyReadGiveWayWhenTheCacheIsFull) {
  CardRig rig({.media = CardMedia::kSmartMedia, .megabytes = 32, .formatted = false});
  ASSERT_TRUE(rig.access.OpenCard());
  rig.cache.ResetCache();
  const auto data = Pattern(5);
  std::array<uint8_t, 1024> back{};
  // Two blocks read, then a change to one of them, then the cache filled.
  rig.cache.CacheReadCluster(0, back.data());
  rig.cache.CacheReadCluster(32, back.data());
  rig.cache.CacheWriteCluster(34, data.data());
  for (uint32_t b = 2; b < 1024; ++b) rig.cache.CacheWriteCluster(b * 32, data.data());
  EXPECT_EQ(rig.cache.SlotCount(), 1024);
  // The block only read gives up its slot; a note never takes one.
  Page page{};
  rig.cache.NoteCardPage(1025 * 32, page);
  EXPECT_EQ(rig.cache.SlotBlockStart(0), 0u);
  rig.cache.CacheWriteCluster(1024 * 32, data.data());
  EXPECT_EQ(rig.cache.SlotBlockStart(0), 1024u * 32);
  EXPECT_THROW(rig.cache.CacheReadCluster(1025 * 32, back.data()), CardError);

  // The flush still writes in first-touched order: the reused slot's block
  // entered last, so it goes last.
  int steps = 0;
  rig.cache.FlushCache([&](int n, int blocks) {
    EXPECT_EQ(blocks, 1024);
    // Block 1 (page 32) went first; block 1024 is still unwritten until the last step.
    if (n == 0) {
      EXPECT_EQ(rig.PageData(34)[0], data[0]);
    }
    EXPECT_EQ(rig.PageData(1024 * 32)[0] == data[0], n == 1023) << n;
    ++steps;
  });
  EXPECT_EQ(steps, 1024);
  EXPECT_EQ(rig.PageData(34)[0], data[0]);
  EXPECT_EQ(rig.cache.LastWrittenSlot(), -1);
}

TEST(CacheCapacity, PagesBeyondSixteenBitsAreRefused) {
  CardRig rig({.media = CardMedia::kSmartMedia, .megabytes = 64, .formatted = false});
  ASSERT_TRUE(rig.access.OpenCard());
  rig.cache.ResetCache();
  const auto data = Pattern(4);
  EXPECT_THROW(rig.cache.CacheWriteCluster(65536, data.data()), CardError);
  rig.cache.CacheWriteCluster(65534, data.data());
  EXPECT_EQ(rig.cache.SlotBlockStart(0), 65504u);
}

TEST_F(Cache, LinkFaultDuringAReadCachesNothing) {
  std::array<uint8_t, 1024> back{};
  rig.adapter().UnplugAfter(5);
  EXPECT_THROW(rig.cache.CacheReadCluster(1600, back.data()), CardError);
  EXPECT_EQ(rig.cache.SlotCount(), 0);
}

TEST_F(Cache, FlushThatCannotReadOrWriteFailsLoudly) {
  const auto before = rig.Snapshot();
  const auto data = Pattern(6);
  rig.cache.CacheWriteCluster(1604, data.data());
  std::array<uint8_t, 1024> back{};

  // The missing pages cannot be read: nothing is erased.
  rig.adapter().SilentAfter(0);
  EXPECT_THROW(rig.cache.CacheReadCluster(1606, back.data()), CardError);
  EXPECT_EQ(rig.cache.PageState(0, 6), kPageAbsent);
  EXPECT_THROW(rig.cache.FlushCache(), CardError);
  EXPECT_EQ(rig.counters().blocks_erased, 0u);
  EXPECT_TRUE(rig.Snapshot() == before);
  EXPECT_EQ(rig.cache.SlotCount(), 1);
}

TEST_F(Cache, FailedBlockWriteIsReported) {
  const auto data = Pattern(7);
  rig.cache.CacheWriteCluster(1604, data.data());
  // 14 page reads and the erase pass; the page writes do not.
  rig.adapter().UnplugAfter(14 + 1 + 3);
  EXPECT_THROW(rig.cache.FlushCache(), CardError);
  EXPECT_EQ(rig.cache.SlotCount(), 1);
}

TEST(CacheTempFile, FailureToOpenIsReportedOnFirstUse) {
  CardRig rig;
  rig.access.SettingsFolder = rig.dir.File("no-such-folder") + "/";
  rig.cache.OpenCache();
  const auto data = Pattern(8);
  try {
    rig.cache.CacheWriteCluster(0, data.data());
    FAIL() << "no error";
  } catch (const InOutError& e) {
    EXPECT_EQ(e.file(), rig.dir.File("no-such-folder") + "/~PS2M.tmp");
  }
}

TEST(CacheTempFile, CreatedErasedAndKeptAcrossRuns) {
  CardRig rig;
  const std::string path = rig.dir.File("~PS2M.tmp");
  EXPECT_EQ(rig.cache.FileName(), path);
  EXPECT_EQ(std::filesystem::file_size(path), 8650752u);
  rig.cache.CloseCache();
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(CacheTempFile, TwoCopiesInOneFolderNeverShareTheFile) {
  CardRig rig;
  ASSERT_TRUE(rig.access.OpenCard());
  TPSEarsemanager second(rig.access);
  second.OpenCache();
  const std::string own = second.FileName();
  EXPECT_NE(own, rig.cache.FileName());
  EXPECT_EQ(std::filesystem::path(own).parent_path(), std::filesystem::path(rig.dir.path()));

  // What one stages, the other never sees.
  rig.cache.ResetCache();
  second.ResetCache();
  const auto mine = Pattern(10), theirs = Pattern(11);
  rig.cache.CacheWriteCluster(1600, mine.data());
  second.CacheWriteCluster(1600, theirs.data());
  std::array<uint8_t, 1024> back{};
  rig.cache.CacheReadCluster(1600, back.data());
  EXPECT_EQ(back, mine);
  second.CloseCache();
  EXPECT_FALSE(std::filesystem::exists(own));
}

TEST(CacheTempFile, ANotedPageAsTheFilesLastExtentNeverFailsTheFlush) {
  // A second copy's private temp file starts empty, so the slot a note makes
  // is the file's last extent; the write then ends the file with a page whose
  // spare bytes were never put there.
  CardRig rig;
  ASSERT_TRUE(rig.access.OpenCard());
  MarkBlock(rig, 1600, 16);
  TPSEarsemanager second(rig.access);
  second.OpenCache();
  second.ResetCache();
  Page page{};
  std::copy_n(rig.PageData(1600).begin(), 512, page.begin());
  second.NoteCardPage(1600, page);
  const auto data = Pattern(0x5A);
  second.CacheWriteCluster(1614, data.data());
  second.FlushCache();
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 512, rig.PageData(1614).begin()));
  EXPECT_TRUE(std::equal(data.begin() + 512, data.end(), rig.PageData(1615).begin()));
  for (uint32_t p = 1600; p < 1614; ++p) EXPECT_EQ(rig.PageData(p)[7], static_cast<uint8_t>(p + 7));
}

TEST(CacheTempFile, ToolsWithoutASettingsFolderLeaveNothingBehind) {
  sim::LoopbackSession session;
  TPSfileaccess access(session.link);
  access.InitDefaults();
  TPSEarsemanager cache(access);
  cache.OpenCache();
  const std::string path = cache.FileName();
  const auto data = Pattern(9);
  cache.CacheWriteCluster(0, data.data());
  EXPECT_TRUE(std::filesystem::exists(path));
  cache.CloseCache();
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace travosk::card
