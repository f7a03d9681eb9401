// The formatter, checked byte for byte against the layout of a freshly
// formatted 8 MB card and through the volume on other geometries.
#include "card/formatter.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "card/volume.h"
#include "common/bytes.h"
#include "sim/ecc.h"
#include "support/card_fixture.h"

namespace travosk::card {
namespace {

using support::CardMedia;
using support::CardRig;

std::vector<uint8_t> Data(CardRig& rig, uint32_t page) {
  auto d = rig.PageData(page);
  return {d.begin(), d.end()};
}

// The format time 2023-12-31 20:34:56 UTC as the card stores it.
constexpr std::array<uint8_t, 8> kStamp = {0x00, 0x38, 0x22, 0x05, 0x01, 0x01, 0xE8, 0x07};

TEST(Layout, EightMegabyteCardAndScaledGeometries) {
  FormatLayout l = LayoutFor(16384, 16);
  EXPECT_EQ(l.pages, 16384u);
  EXPECT_EQ(l.clusters, 8192u);
  EXPECT_EQ(l.fat_clusters, 32u);
  EXPECT_EQ(l.alloc_offset, 41u);
  EXPECT_EQ(l.alloc_end, 8135u);
  EXPECT_EQ(l.backup_block1, 1023u);
  EXPECT_EQ(l.backup_block2, 1022u);

  l = LayoutFor(32768, 32);  // 16 MB SmartMedia
  EXPECT_EQ(l.fat_clusters, 64u);
  EXPECT_EQ(l.alloc_offset, 73u);
  EXPECT_EQ(l.alloc_end, 16384u - 73 - 32);
  EXPECT_EQ(l.backup_block1, 1023u);

  l = LayoutFor(131072, 32);  // 64 MB SmartMedia: its first 65,536 pages
  EXPECT_EQ(l.pages, 65536u);
  EXPECT_EQ(l.fat_clusters, 128u);
  EXPECT_EQ(l.backup_block1, 2047u);

  EXPECT_EQ(LayoutFor(16384, 0).clusters, 0u);
  EXPECT_EQ(LayoutFor(16384, 128).clusters, 0u);
  EXPECT_EQ(LayoutFor(100, 16).clusters, 0u);
}

struct FreshCard : ::testing::Test {
  CardRig rig;
};

TEST_F(FreshCard, SuperblockFieldByField) {
  std::vector<uint8_t> expected(512, 0);
  const char magic[] = "Sony PS2 Memory Card Format ";
  std::copy(magic, magic + 28, expected.begin());
  const char version[] = "1.2.0.0";
  std::copy(version, version + 7, expected.begin() + 0x1C);
  store_le16(expected, 0x28, 512);  // page length
  store_le16(expected, 0x2A, 2);    // pages per cluster
  store_le16(expected, 0x2C, 16);   // pages per erase block
  store_le16(expected, 0x2E, 0xFF00);
  store_le32(expected, 0x30, 8192);  // clusters per card
  store_le32(expected, 0x34, 41);    // allocation offset
  store_le32(expected, 0x38, 8135);  // allocation end
  store_le32(expected, 0x3C, 0);     // root directory cluster
  store_le32(expected, 0x40, 1023);  // backup block 1
  store_le32(expected, 0x44, 1022);  // backup block 2
  store_le32(expected, 0x50, 8);     // indirect FAT cluster list: 8, then zeros
  for (size_t i = 0; i < 32; ++i) store_le32(expected, 0xD0 + 4 * i, 0xFFFFFFFF);  // bad blocks
  expected[0x150] = 2;                                                             // card type
  expected[0x151] = 0x2B;                                                          // card flags
  EXPECT_EQ(Data(rig, 0), expected);
}

TEST_F(FreshCard, IndirectClusterAndAllocationTable) {
  auto indirect = rig.PageData(16);
  for (uint32_t i = 0; i < 32; ++i) EXPECT_EQ(load_le32(indirect, 4 * i), 9 + i);
  for (uint32_t i = 32; i < 128; ++i) EXPECT_EQ(load_le32(indirect, 4 * i), 0xFFFFFFFFu);
  EXPECT_EQ(Data(rig, 17), std::vector<uint8_t>(512, 0xFF));

  // FAT clusters 9..40 are pages 18..81, 128 entries a page.
  for (uint32_t e = 0; e < 8192; ++e) {
    uint32_t value = load_le32(rig.PageData(18 + e / 128), 4 * (e % 128));
    uint32_t expected = (e == 0 || e >= 8135) ? 0xFFFFFFFF : 0x7FFFFFFF;
    ASSERT_EQ(value, expected) << e;
  }
}

TEST_F(FreshCard, RootDirectoryHoldsDotAndDotDot) {
  // Relative cluster 0 is absolute cluster 41: pages 82 and 83.
  std::vector<uint8_t> dot(512, 0);
  store_le16(dot, 0x00, 0x8427);                                // mode
  store_le32(dot, 0x04, 2);                                     // two entries
  std::copy(kStamp.begin(), kStamp.end(), dot.begin() + 0x08);  // created
  std::copy(kStamp.begin(), kStamp.end(), dot.begin() + 0x18);  // modified
  dot[0x40] = '.';
  EXPECT_EQ(Data(rig, 82), dot);

  std::vector<uint8_t> dotdot(512, 0);
  store_le16(dotdot, 0x00, 0xA426);
  std::copy(kStamp.begin(), kStamp.end(), dotdot.begin() + 0x08);
  std::copy(kStamp.begin(), kStamp.end(), dotdot.begin() + 0x18);
  dotdot[0x40] = '.';
  dotdot[0x41] = '.';
  EXPECT_EQ(Data(rig, 83), dotdot);
}

TEST_F(FreshCard, UnusedPagesAreZeroWithTheirCodeAndTheSecondBackupBlockIsErased) {
  const std::array<uint8_t, 16> zero_spare = {0x77, 0x7F, 0x7F, 0x77, 0x7F, 0x7F, 0x77, 0x7F,
                                              0x7F, 0x77, 0x7F, 0x7F, 0,    0,    0,    0};
  for (uint32_t page : {1u, 15u, 84u, 5000u, 16351u, 16368u, 16383u}) {
    SCOPED_TRACE(page);
    EXPECT_EQ(Data(rig, page), std::vector<uint8_t>(512, 0));
    auto spare = rig.PageSpare(page);
    EXPECT_TRUE(std::equal(spare.begin(), spare.end(), zero_spare.begin()));
  }
  for (uint32_t page : {0u, 16u, 18u, 82u}) {
    auto spare = rig.PageSpare(page);
    auto code = sim::PageSpare(std::span<const uint8_t, 512>(rig.PageData(page).data(), 512));
    EXPECT_TRUE(std::equal(spare.begin(), spare.end(), code.begin())) << page;
  }
  auto backup = rig.image().subspan(16352 * 528, 16 * 528);
  EXPECT_TRUE(std::all_of(backup.begin(), backup.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST(Formatter, WritesEveryBlockOnceInOrder) {
  CardRig rig({.formatted = false});
  ASSERT_TRUE(rig.access.OpenCard());
  ASSERT_TRUE(FormatFileSystem(rig.access, support::kFormatTime));
  EXPECT_EQ(rig.counters().blocks_erased, 1024u);
  EXPECT_EQ(rig.counters().pages_written, 1023u * 16);
  EXPECT_EQ(rig.counters().pages_read, 0u);
}

TEST(Formatter, RefusesAClosedCardAndStopsWhenTheAdapterGoes) {
  CardRig rig({.formatted = false});
  EXPECT_FALSE(FormatFileSystem(rig.access, support::kFormatTime));
  ASSERT_TRUE(rig.access.OpenCard());
  rig.adapter().UnplugAfter(40);
  EXPECT_FALSE(FormatFileSystem(rig.access, support::kFormatTime));
}

TEST(Formatter, SmartMediaCardsMount) {
  for (int megabytes : {4, 16, 64}) {
    SCOPED_TRACE(megabytes);
    CardRig rig({.media = CardMedia::kSmartMedia, .megabytes = megabytes});
    ASSERT_TRUE(rig.volume.Mount()) << rig.volume.LastError();
    const FormatLayout l = LayoutFor(rig.access.AddressablePages(), rig.access.PagesPerBlock());
    EXPECT_EQ(rig.volume.FatClusterCount, l.fat_clusters);
    EXPECT_EQ(rig.volume.AllocOffset, static_cast<int32_t>(l.alloc_offset));
    EXPECT_EQ(rig.volume.Fat[l.alloc_end - 1], kFreeEntry);
    EXPECT_EQ(rig.volume.Fat[l.alloc_end], kChainEnd);
    uint32_t c = 0;
    ASSERT_TRUE(rig.volume.AllocateCluster(c));
    EXPECT_EQ(c, 1u);
    std::array<uint8_t, 1024> root{};
    rig.volume.ReadCluster(0, root.data());
    EXPECT_EQ(load_le16(root, 0), 0x8427);
    EXPECT_EQ(load_le32(rig.PageData(0), 0x30), l.clusters);
    // Nothing lands past page 65,535 of a 64 MB SmartMedia.
    auto beyond = rig.image().subspan(size_t{l.pages} * 528);
    EXPECT_TRUE(std::all_of(beyond.begin(), beyond.end(), [](uint8_t b) { return b == 0xFF; }));
  }
}

}  // namespace
}  // namespace travosk::card
