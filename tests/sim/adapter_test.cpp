#include "sim/adapter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/ecc.h"
#include "sim_test_util.h"

namespace travosk::sim {
namespace {

using testing::Ask;
using testing::Filled;
using testing::Put;
using testing::Reply;
using testing::ScratchDir;
using testing::Send;

std::unique_ptr<Medium> Blank(const ScratchDir& dir, const std::string& name, MediumKind kind,
                              int mb = 8) {
  Medium::CreateBlank(dir.File(name), kind, mb);
  return Medium::Open(dir.File(name), kind);
}

std::span<const uint8_t> RawPage(Medium& m, uint32_t page) {
  return m.bytes().subspan(size_t(page) * kRawPageBytes, kRawPageBytes);
}

bool AllBytes(std::span<const uint8_t> b, uint8_t v) {
  return std::all_of(b.begin(), b.end(), [v](uint8_t x) { return x == v; });
}

TEST(Adapter, StatusResetAndUnknownCommands) {
  Adapter a;
  Reply r{};
  EXPECT_EQ(a.Read(r.data(), r.size()), -1);  // nothing asked yet

  r = Ask(a, 0xCA, 0x59, 0x03);
  EXPECT_EQ(r[0], 0xA0);
  EXPECT_EQ(r[1], 0x21);
  EXPECT_TRUE(std::all_of(r.begin() + 2, r.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(a.Read(r.data(), r.size()), -1);  // a reply is read once

  EXPECT_EQ(Send(a, 0xCA, 0x59, 0x02), 16);  // reset answers nothing
  EXPECT_FALSE(a.HasReply());
  EXPECT_EQ(Send(a, 0x12, 0x34), 16);  // unknown: accepted, ignored
  EXPECT_FALSE(a.HasReply());
  EXPECT_EQ(a.counters().Packets(0x12, 0x34), 1u);

  // A packet in place of a data phase drops the write and is executed.
  EXPECT_EQ(Send(a, 0xC8, 0xA2), 16);
  EXPECT_TRUE(a.ExpectsDataPhase());
  EXPECT_EQ(Send(a, 0xCA, 0x59, 0x02), 16);
  EXPECT_FALSE(a.ExpectsDataPhase());
  EXPECT_EQ(a.counters().Packets(0xCA, 0x59), 3u);

  // Packets and data phases of any other size are refused.
  std::array<uint8_t, 20> odd{};
  EXPECT_EQ(a.Write(odd.data(), odd.size()), -1);
  EXPECT_EQ(Send(a, 0xC8, 0xA2), 16);
  EXPECT_EQ(a.Write(odd.data(), odd.size()), -1);
  EXPECT_FALSE(a.ExpectsDataPhase());
}

TEST(Adapter, CardSpecsAndSmartMediaIdDescribeTheSlots) {
  ScratchDir dir;
  Adapter a;
  Reply r = Ask(a, 0x51, 0x26);
  EXPECT_TRUE(AllBytes(std::span(r).first(8), 0xFF));  // empty card slot
  r = Ask(a, 0x2C, 0x88);
  EXPECT_TRUE(AllBytes(std::span(r).first(4), 0xFF));  // empty SmartMedia slot

  a.InsertCard(Blank(dir, "ps2", MediumKind::kPS2));
  r = Ask(a, 0x51, 0x26);
  EXPECT_EQ(std::vector<uint8_t>(r.begin(), r.begin() + 8),
            (std::vector<uint8_t>{0x00, 0x02, 16, 0x00, 0x00, 0x40, 0x00, 0x00}));
  a.InsertCard(Blank(dir, "ps2-16", MediumKind::kPS2, 16));
  r = Ask(a, 0x51, 0x26);
  EXPECT_EQ(std::vector<uint8_t>(r.begin() + 4, r.begin() + 8),
            (std::vector<uint8_t>{0x00, 0x80, 0x00, 0x00}));  // 32,768 pages

  a.InsertCard(Blank(dir, "ps1", MediumKind::kPS1));
  r = Ask(a, 0x51, 0x26);
  EXPECT_TRUE(AllBytes(std::span(r).first(8), 0x5A));

  for (auto [mb, code] : {std::pair{4, 0xE5}, {8, 0xE6}, {16, 0x73}, {32, 0x75}, {64, 0x76}}) {
    a.InsertSmartMedia(Blank(dir, "sm", MediumKind::kSmartMedia, mb));
    r = Ask(a, 0x2C, 0x88);
    EXPECT_EQ(r[0], 0xEC);
    EXPECT_EQ(r[1], code) << mb;
    EXPECT_NE(r[2], 0xFF);
    EXPECT_NE(r[3], 0xFF);
  }
}

TEST(Adapter, PageWritesOnlyClearBitsAndProgramTheCode) {
  ScratchDir dir;
  Adapter a;
  a.InsertCard(Blank(dir, "ps2", MediumKind::kPS2));
  Medium& card = *a.card();

  Reply data{};
  data[0] = 0x01;
  data[511] = 0x80;
  Put(a, 0xC8, 0xA2, 0x23, 0x01, data);  // page 0x0123, low byte first
  auto raw = RawPage(card, 0x0123);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), raw.begin()));
  // Chunk 0 holds only d[0] = 0x01, chunk 3 only d[127] = 0x80.
  const std::array<uint8_t, 16> spare = {0x70, 0x00, 0x7F, 0x77, 0x7F, 0x7F, 0x77, 0x7F,
                                         0x7F, 0x07, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_TRUE(std::equal(spare.begin(), spare.end(), raw.begin() + 512));
  EXPECT_TRUE(AllBytes(RawPage(card, 0x0122), 0xFF));
  EXPECT_TRUE(AllBytes(RawPage(card, 0x2301), 0xFF));

  Reply r = Ask(a, 0xA5, 0x69, 0x23, 0x01);
  EXPECT_EQ(r, data);

  // A second write without an erase ANDs into what is there.
  Put(a, 0xC8, 0xA2, 0x23, 0x01, Filled(0xF0));
  r = Ask(a, 0xA5, 0x69, 0x23, 0x01);
  EXPECT_EQ(r[0], 0x00);
  EXPECT_EQ(r[511], 0x80);
  EXPECT_EQ(r[1], 0x00);

  // Erasing any page of the block sets all 16 pages, spare included, to 0xFF.
  Put(a, 0xC8, 0xA2, 0x20, 0x01, Filled(0x00));
  Put(a, 0xC8, 0xA2, 0x30, 0x01, Filled(0x00));
  EXPECT_EQ(Send(a, 0x8C, 0x67, 0x2F, 0x01), 16);
  for (uint32_t p = 0x120; p < 0x130; ++p) EXPECT_TRUE(AllBytes(RawPage(card, p), 0xFF)) << p;
  EXPECT_FALSE(AllBytes(RawPage(card, 0x130), 0xFF));  // the next block is untouched

  // After the erase a page takes exactly what is written, with a fresh code.
  Put(a, 0xC8, 0xA2, 0x23, 0x01, data);
  EXPECT_TRUE(std::equal(spare.begin(), spare.end(), RawPage(card, 0x0123).begin() + 512));
}

TEST(Adapter, SmartMediaPagesBlocksAndTheSixteenBitAddressLimit) {
  ScratchDir dir;
  Adapter a;
  a.InsertSmartMedia(Blank(dir, "sm64", MediumKind::kSmartMedia, 64));
  Medium& sm = *a.smartmedia();
  ASSERT_EQ(sm.pages(), 131072u);

  Put(a, 0xBC, 0x35, 0xFF, 0xFF, Filled(0x5A));  // page 65,535: the last one reachable
  auto raw = RawPage(sm, 0xFFFF);
  EXPECT_TRUE(AllBytes(raw.first(512), 0x5A));
  const auto spare = PageSpare(std::span<const uint8_t, 512>(raw.first<512>()));
  EXPECT_TRUE(std::equal(spare.begin(), spare.end(), raw.begin() + 512));
  EXPECT_TRUE(AllBytes(RawPage(sm, 0x10000), 0xFF));  // nothing wrapped past it
  EXPECT_TRUE(AllBytes(RawPage(sm, 0x1FFFF), 0xFF));
  EXPECT_EQ(Ask(a, 0xA9, 0x85, 0xFF, 0xFF), Filled(0x5A));

  // A 32-page block: erase at its first page clears the page written above.
  Put(a, 0xBC, 0x35, 0xE0, 0xFF, Filled(0x00));
  EXPECT_EQ(Send(a, 0x37, 0x81, 0xE0, 0xFF), 16);
  EXPECT_TRUE(AllBytes(RawPage(sm, 0xFFE0), 0xFF));
  EXPECT_TRUE(AllBytes(RawPage(sm, 0xFFFF), 0xFF));
  EXPECT_EQ(a.counters().blocks_erased, 1u);

  // The card-slot commands do not reach the SmartMedia.
  Put(a, 0xC8, 0xA2, 0x00, 0x00, Filled(0x00));
  EXPECT_TRUE(AllBytes(RawPage(sm, 0), 0xFF));
  EXPECT_EQ(Ask(a, 0xA5, 0x69, 0x00, 0x00), Filled(0xFF));
}

TEST(Adapter, AddressesPastTheMediumAndWrongCardsChangeNothing) {
  ScratchDir dir;
  Adapter a;
  a.InsertSmartMedia(Blank(dir, "sm4", MediumKind::kSmartMedia, 4));
  Put(a, 0xBC, 0x35, 0x00, 0x20, Filled(0x00));  // page 8,192 of an 8,192-page card
  EXPECT_EQ(Ask(a, 0xA9, 0x85, 0x00, 0x20), Filled(0xFF));
  EXPECT_EQ(Send(a, 0x37, 0x81, 0x00, 0x20), 16);
  EXPECT_TRUE(AllBytes(a.smartmedia()->bytes(), 0xFF));
  EXPECT_EQ(a.counters().pages_written, 0u);
  EXPECT_EQ(a.counters().pages_read, 0u);
  EXPECT_EQ(a.counters().blocks_erased, 0u);

  a.InsertCard(Blank(dir, "ps1", MediumKind::kPS1));
  Put(a, 0xC8, 0xA2, 0x00, 0x00, Filled(0x00));  // PS2 commands on a PS1 card
  EXPECT_EQ(Send(a, 0x8C, 0x67, 0x00, 0x00), 16);
  EXPECT_EQ(Ask(a, 0xA5, 0x69, 0x00, 0x00), Filled(0xFF));
  EXPECT_TRUE(AllBytes(a.card()->bytes(), 0x00));

  a.InsertCard(Blank(dir, "ps2", MediumKind::kPS2));
  Put(a, 0xE9, 0xDC, 0x00, 0x00, Filled(0x00));  // PS1 commands on a PS2 card
  EXPECT_EQ(Ask(a, 0xE3, 0xA4, 0x00, 0x00), Filled(0xFF));
  EXPECT_TRUE(AllBytes(a.card()->bytes(), 0xFF));
}

TEST(Adapter, PS1FramesRoundTripHighByteFirst) {
  ScratchDir dir;
  Adapter a;
  a.InsertCard(Blank(dir, "ps1", MediumKind::kPS1));
  Reply data{};
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i + 1);
  Put(a, 0xE9, 0xDC, 0x01, 0x23, data);  // frame 0x0123
  auto frame = a.card()->bytes().subspan(0x123 * 128, 128);
  EXPECT_TRUE(std::equal(frame.begin(), frame.end(), data.begin()));
  EXPECT_EQ(a.card()->bytes()[0x124 * 128], 0x00);  // only the first 128 bytes land

  Reply r = Ask(a, 0xE3, 0xA4, 0x01, 0x23);
  EXPECT_TRUE(std::equal(r.begin(), r.begin() + 128, data.begin()));
  EXPECT_TRUE(std::all_of(r.begin() + 128, r.end(), [](uint8_t b) { return b == 0; }));

  // Frame 1,023 is the last; 1,024 is past the card.
  Put(a, 0xE9, 0xDC, 0x03, 0xFF, data);
  EXPECT_EQ(a.card()->bytes()[1023 * 128], 0x01);
  Put(a, 0xE9, 0xDC, 0x04, 0x00, data);
  EXPECT_EQ(Ask(a, 0xE3, 0xA4, 0x04, 0x00), Filled(0xFF));
  EXPECT_EQ(a.counters().frames_written, 2u);
  EXPECT_EQ(a.counters().frames_read, 1u);
}

TEST(Adapter, CountersFollowEveryCommand) {
  ScratchDir dir;
  Adapter a;
  a.InsertCard(Blank(dir, "ps2", MediumKind::kPS2));
  Send(a, 0xCA, 0x59, 0x02);
  Ask(a, 0xCA, 0x59, 0x03);
  Send(a, 0x8C, 0x67, 0x00, 0x00);
  for (uint8_t p = 0; p < 16; ++p) Put(a, 0xC8, 0xA2, p, 0x00, Filled(0x00));
  Ask(a, 0xA5, 0x69, 0x05, 0x00);
  Ask(a, 0x51, 0x26);
  const Counters& c = a.counters();
  EXPECT_EQ(c.transactions, 21u);  // data phases are not transactions
  EXPECT_EQ(c.Packets(0xCA, 0x59), 2u);
  EXPECT_EQ(c.Packets(0x8C, 0x67), 1u);
  EXPECT_EQ(c.Packets(0xC8, 0xA2), 16u);
  EXPECT_EQ(c.Packets(0xA5, 0x69), 1u);
  EXPECT_EQ(c.Packets(0x51, 0x26), 1u);
  EXPECT_EQ(c.Packets(0x2C, 0x88), 0u);
  EXPECT_EQ(c.pages_written, 16u);
  EXPECT_EQ(c.pages_read, 1u);
  EXPECT_EQ(c.blocks_erased, 1u);
  a.ResetCounters();
  EXPECT_EQ(a.counters().transactions, 0u);
}

TEST(Adapter, UnplugAfterFailsEveryLaterTransfer) {
  Adapter a;
  a.UnplugAfter(2);
  Ask(a, 0xCA, 0x59, 0x03);
  EXPECT_EQ(Send(a, 0xCA, 0x59, 0x03), 16);  // the second still goes through
  EXPECT_TRUE(a.plugged());
  Reply r{};
  EXPECT_EQ(Send(a, 0xCA, 0x59, 0x03), -1);
  EXPECT_FALSE(a.plugged());
  EXPECT_EQ(a.Read(r.data(), r.size()), -1);  // the earlier reply is gone with it
  EXPECT_EQ(a.counters().transactions, 2u);

  a.ClearFaults();
  EXPECT_EQ(Ask(a, 0xCA, 0x59, 0x03)[0], 0xA0);
}

TEST(Adapter, SilentAdapterSwallowsCommandsAndData) {
  ScratchDir dir;
  Adapter a;
  a.InsertCard(Blank(dir, "ps2", MediumKind::kPS2));
  a.SilentAfter(1);
  Ask(a, 0xCA, 0x59, 0x03);
  // Accepted on the wire but neither applied nor answered.
  EXPECT_EQ(Send(a, 0xC8, 0xA2), 16);
  EXPECT_FALSE(a.ExpectsDataPhase());
  Reply zeros{};
  EXPECT_EQ(a.Write(zeros.data(), zeros.size()), 512);
  EXPECT_EQ(Send(a, 0x8C, 0x67), 16);
  EXPECT_EQ(Send(a, 0xA5, 0x69), 16);
  EXPECT_FALSE(a.HasReply());
  Reply r{};
  EXPECT_EQ(a.Read(r.data(), r.size()), -1);
  EXPECT_TRUE(AllBytes(a.card()->bytes(), 0xFF));
  EXPECT_EQ(a.counters().transactions, 1u);

  a.ClearFaults();
  EXPECT_EQ(Ask(a, 0xCA, 0x59, 0x03)[1], 0x21);
}

TEST(Adapter, FailOnceRefusesOneCommandAndGoesOn) {
  ScratchDir dir;
  Adapter a;
  a.InsertCard(Blank(dir, "ps2", MediumKind::kPS2));
  a.FailOnceAfter(1);
  Ask(a, 0xCA, 0x59, 0x03);
  // The refused write changes nothing; its data phase, sent by a PC that could
  // not tell, is swallowed rather than read as packets.
  EXPECT_EQ(Send(a, 0xC8, 0xA2, 0x05), -1);
  EXPECT_TRUE(a.plugged());
  EXPECT_TRUE(a.ExpectsDataPhase());
  EXPECT_EQ(a.Write(Filled(0x00).data(), 512), 512);
  EXPECT_TRUE(AllBytes(a.card()->bytes(), 0xFF));
  // Then everything works again, the same command included.
  Put(a, 0xC8, 0xA2, 0x05, 0x00, Filled(0x3C));
  EXPECT_EQ(Ask(a, 0xA5, 0x69, 0x05)[0], 0x3C);
  EXPECT_EQ(a.counters().transactions, 4u);

  // A refused read answers nothing; a PC that sees the failure sends the next
  // packet without a data phase, and that packet is served.
  a.FailOnceAfter(0);
  Reply r{};
  EXPECT_EQ(Send(a, 0xA5, 0x69, 0x05), -1);
  EXPECT_EQ(a.Read(r.data(), r.size()), -1);
  a.FailOnceAfter(0);
  EXPECT_EQ(Send(a, 0xC8, 0xA2, 0x06), -1);
  EXPECT_EQ(Ask(a, 0xA5, 0x69, 0x05)[0], 0x3C);
}

TEST(Adapter, CorruptReadFlipsOneByteOfOneReply) {
  Adapter a;
  a.CorruptReadAfter(1);
  Reply clean = Ask(a, 0xCA, 0x59, 0x03);
  Reply bad = Ask(a, 0xCA, 0x59, 0x03);
  Reply again = Ask(a, 0xCA, 0x59, 0x03);
  EXPECT_EQ(clean[0], 0xA0);
  EXPECT_NE(bad, clean);
  EXPECT_EQ(std::mismatch(bad.begin(), bad.end(), clean.begin()).first - bad.begin(), 0);
  EXPECT_TRUE(std::equal(bad.begin() + 1, bad.end(), clean.begin() + 1));
  EXPECT_EQ(again, clean);
}

}  // namespace
}  // namespace travosk::sim
