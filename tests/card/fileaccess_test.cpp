// The card access object against the simulated adapter: card recognition,
// page addressing and the commands a block write sends.
#include "card/fileaccess.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/ps2mcom.h"
#include "sim/loopback_platform.h"
#include "support/card_fixture.h"
#include "support/tap_platform.h"

namespace travosk::card {
namespace {

using support::CardMedia;
using support::CardRig;

// An adapter whose command packets are recorded on their way.
struct TappedAdapter {
  explicit TappedAdapter(std::unique_ptr<sim::Medium> sm) {
    adapter.InsertSmartMedia(std::move(sm));
    loop.Plug(adapter);
    link.FindAdapter();
    access.InitDefaults();
    access.Medium = Slot::kSmartMedia;
  }
  sim::Adapter adapter;
  sim::LoopbackPlatform loop;
  support::TapPlatform tap{loop};
  link::FakeClock clock;
  link::Link link{tap, clock};
  TPSfileaccess access{link};
};

TEST(CardAccess, OpenCardJudgesTheCardSlotReply) {
  {
    CardRig ps1({.media = CardMedia::kPS1});
    EXPECT_FALSE(ps1.access.OpenCard());
    EXPECT_TRUE(ps1.access.IsPS1Card);
    EXPECT_FALSE(ps1.access.IsOpen);
    EXPECT_EQ(ps1.access.CardBytes, 131072);
    EXPECT_EQ(ps1.access.BlockBytes, 128);
  }
  {
    // An empty slot answers 0xFF: no card, and the 8 MB defaults stand.
    CardRig empty({.media = CardMedia::kNone});
    empty.access.BlockBytes = 1;
    empty.access.IsPS1Card = true;
    EXPECT_FALSE(empty.access.OpenCard());
    EXPECT_FALSE(empty.access.IsPS1Card);
    EXPECT_FALSE(empty.access.IsOpen);
    EXPECT_EQ(empty.access.BlockBytes, 8448);
    EXPECT_EQ(empty.access.CardBytes, 8650752);
  }
  {
    CardRig ps2({.media = CardMedia::kPS2, .megabytes = 16, .formatted = false});
    EXPECT_TRUE(ps2.access.OpenCard());
    EXPECT_TRUE(ps2.access.IsOpen);
    EXPECT_EQ(ps2.access.BlockBytes, 8448);
    EXPECT_EQ(ps2.access.CardBytes, 17301504);
    EXPECT_TRUE(ps2.access.CloseCard());
    EXPECT_FALSE(ps2.access.IsOpen);
  }
}

TEST(CardAccess, OpenCardSizesSmartMediaByDeviceCode) {
  struct Row {
    int megabytes;
    int32_t block_bytes;
    int32_t card_bytes;
    uint32_t addressable;
  };
  // 8 MB (0xE6) has no row of its own: it is the "any other code" row.
  const Row rows[] = {{4, 8448, 4325376, 8192},
                      {8, 8448, 8650752, 16384},
                      {16, 16896, 17301504, 32768},
                      {64, 16896, 69206016, 65536}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.megabytes);
    CardRig rig({.media = CardMedia::kSmartMedia, .megabytes = row.megabytes, .formatted = false});
    ASSERT_TRUE(rig.access.OpenCard());
    EXPECT_EQ(rig.access.BlockBytes, row.block_bytes);
    EXPECT_EQ(rig.access.CardBytes, row.card_bytes);
    EXPECT_EQ(rig.access.AddressablePages(), row.addressable);
  }
  CardRig empty({.media = CardMedia::kNone});
  empty.access.Medium = Slot::kSmartMedia;
  EXPECT_FALSE(empty.access.OpenCard());
  EXPECT_FALSE(empty.access.IsOpen);
}

TEST(CardAccess, OpenCardFailsWhenTheQueryGetsNoAnswer) {
  CardRig rig({.formatted = false});
  // The shared buffer holds a valid-looking reply from an earlier query.
  ASSERT_TRUE(rig.access.OpenCard());
  rig.adapter().SilentAfter(0);
  EXPECT_FALSE(rig.access.OpenCard());
  EXPECT_FALSE(rig.access.IsOpen);
}

TEST(CardAccess, SeekPageKeepsSixteenBitsAndReadPageDoesNotAdvance) {
  CardRig rig({.formatted = false});
  ASSERT_TRUE(rig.access.OpenCard());
  auto target = rig.PageData(0x2345);
  for (size_t i = 0; i < target.size(); ++i) target[i] = static_cast<uint8_t>(i * 7);

  rig.access.SeekPage(0x12345);
  EXPECT_EQ(rig.access.PageLo, 0x45);
  EXPECT_EQ(rig.access.PageHi, 0x23);
  Page first{}, second{};
  ASSERT_TRUE(rig.access.ReadPage(first));
  ASSERT_TRUE(rig.access.ReadPage(second));
  EXPECT_TRUE(std::equal(target.begin(), target.end(), first.begin()));
  EXPECT_EQ(first, second);
  EXPECT_EQ(rig.counters().pages_read, 2u);
}

TEST(CardAccess, ReadPageHandsBackNothingAfterALinkFault) {
  CardRig rig({.formatted = false});
  ASSERT_TRUE(rig.access.OpenCard());
  rig.adapter().UnplugAfter(0);
  Page buffer;
  buffer.fill(0xAB);
  rig.access.SeekPage(3);
  EXPECT_FALSE(rig.access.ReadPage(buffer));
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xAB; }));
}

TEST(CardAccess, WriteBlockOnSmartMediaSendsOneEraseAndEveryPage) {
  support::TempDir dir;
  std::string path = dir.File("sm16.bin");
  sim::Medium::CreateBlank(path, sim::MediumKind::kSmartMedia, 16);
  TappedAdapter t(sim::Medium::Open(path, sim::MediumKind::kSmartMedia));
  ASSERT_TRUE(t.access.OpenCard());
  ASSERT_EQ(t.access.BlockBytes, 32 * 528);
  t.access.Com->ConnectDelay = 1;  // SmartMedia needs no connection wait
  t.tap.packets.clear();
  const int64_t readings = t.clock.readings;

  std::vector<uint8_t> block(32 * 528);
  for (size_t p = 0; p < 32; ++p) std::fill_n(block.begin() + p * 528, 512, uint8_t(0x40 + p));
  ASSERT_TRUE(t.access.WriteBlock(32, block.data()));

  ASSERT_EQ(t.tap.packets.size(), 33u);
  std::array<uint8_t, 16> erase{0x37, 0x81, 0x20, 0x00};
  EXPECT_EQ(t.tap.packets[0], erase);
  for (uint8_t i = 0; i < 32; ++i) {
    std::array<uint8_t, 16> write{0xBC, 0x35, uint8_t(0x20 + i), 0x00};
    EXPECT_EQ(t.tap.packets[1 + i], write) << int(i);
  }
  EXPECT_EQ(t.clock.readings, readings);
  auto image = t.adapter.smartmedia()->bytes();
  EXPECT_EQ(image[32 * 528], 0x40);
  EXPECT_EQ(image[63 * 528 + 511], 0x5F);
  EXPECT_EQ(image[31 * 528], 0xFF);  // the neighbouring blocks are untouched
  EXPECT_EQ(image[64 * 528], 0xFF);
}

TEST(CardAccess, WritesRefuseAddressesThatWouldLandElsewhere) {
  CardRig rig({.media = CardMedia::kSmartMedia, .megabytes = 64, .formatted = false});
  ASSERT_TRUE(rig.access.OpenCard());
  rig.ResetCounters();
  std::vector<uint8_t> block(32 * 528, 0);
  Page page{};
  // Page 65,536 would wrap onto page 0; a block start that is not aligned
  // would erase one block and spill into the next.
  EXPECT_FALSE(rig.access.WriteBlock(65536, block.data()));
  EXPECT_FALSE(rig.access.WriteBlock(16, block.data()));
  EXPECT_FALSE(rig.access.WritePage(65536 + 5, page));
  EXPECT_FALSE(rig.access.EraseBlock(65536));
  EXPECT_EQ(rig.counters().transactions, 0u);
  EXPECT_EQ(rig.image()[0], 0xFF);
  EXPECT_EQ(rig.image()[5 * 528], 0xFF);
}

TEST(CardAccess, PS2BlockWriteWaitsAfterTheErase) {
  CardRig rig({.formatted = false});
  ASSERT_TRUE(rig.access.OpenCard());
  rig.access.Com->ConnectDelay = 1;
  std::vector<uint8_t> block(16 * 528, 0x11);
  const int64_t readings = rig.session.clock.readings;
  ASSERT_TRUE(rig.access.WriteBlock(16, block.data()));
  EXPECT_GT(rig.session.clock.readings, readings);
  EXPECT_EQ(rig.counters().Packets(0x8C, 0x67), 1u);
  EXPECT_EQ(rig.counters().Packets(0xC8, 0xA2), 16u);
  EXPECT_EQ(rig.PageData(16)[0], 0x11);
  EXPECT_EQ(rig.PageData(31)[511], 0x11);
}

TEST(CardAccess, BlockWriteStopsAndFailsWhenTheAdapterGoes) {
  CardRig rig({.formatted = false});
  ASSERT_TRUE(rig.access.OpenCard());
  rig.ResetCounters();
  std::vector<uint8_t> block(16 * 528, 0);
  rig.adapter().UnplugAfter(4);
  EXPECT_FALSE(rig.access.WriteBlock(0, block.data()));
  EXPECT_EQ(rig.counters().transactions, 4u);
}

}  // namespace
}  // namespace travosk::card
