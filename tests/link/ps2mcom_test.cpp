#include "link/ps2mcom.h"

#include <gtest/gtest.h>

#include <functional>

#include "fake_platform.h"

namespace travosk::link {
namespace {

using testing::AdapterDevice;
using testing::FakePlatform;

std::vector<uint8_t> Bytes(size_t count, uint8_t value) {
  return std::vector<uint8_t>(count, value);
}

std::vector<uint8_t> Packet(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  std::vector<uint8_t> packet(kPacketBytes, 0);
  packet[0] = b0;
  packet[1] = b1;
  packet[2] = b2;
  packet[3] = b3;
  return packet;
}

// A page whose every byte tells its position, with a recognisable spare area.
Page NumberedPage(uint8_t seed) {
  Page page{};
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(seed + i);
  for (size_t i = kDataPhaseBytes; i < page.size(); ++i) page[i] = static_cast<uint8_t>(0xE0 + i);
  return page;
}

class Protocol : public ::testing::Test {
 protected:
  Protocol() {
    platform.interfaces = std::vector<std::string>{"/c/0000002a"};
    platform.devices["/c/0000002a"] = AdapterDevice();
    link.FindAdapter();
  }
  FakeClock clock;
  FakePlatform platform{&clock};
  Link link{platform, clock};
  TPS2Mcom com{link};
};

TEST(BuildCommand, StoresEightBytesAndZeroesTheRest) {
  const auto packet = BuildCommand(1, 2, 3, 4, 5, 6, 7, 8);
  const std::array<uint8_t, 16> expected = {1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(packet, expected);
}

struct CommandCase {
  const char* name;
  std::function<void(TPS2Mcom&)> run;
  std::vector<uint8_t> packet;
  std::vector<int> sleeps;
  enum { kNone, kWrite, kRead } data;
  int64_t data_at_ms;  // virtual time of the data phase
};

TEST_F(Protocol, EveryCommandSendsItsPacketWaitsAndMovesItsDataPhase) {
  const Page page = NumberedPage(0x40);
  uint8_t r[8] = {0x11, 0x22, 0, 0, 0, 0, 0, 0};
  uint8_t s[4] = {0x33, 0x44, 0, 0};
  const std::vector<CommandCase> cases = {
      {"ResetAdapter",
       [](TPS2Mcom& c) { c.ResetAdapter(); },
       Packet(0xCA, 0x59, 0x02, 0x00),
       {},
       CommandCase::kNone,
       0},
      {"ErasePS2Block",
       [](TPS2Mcom& c) { c.ErasePS2Block(0x23, 0x01); },
       Packet(0x8C, 0x67, 0x23, 0x01),
       {},
       CommandCase::kNone,
       0},
      {"EraseSMBlock",
       [](TPS2Mcom& c) { c.EraseSMBlock(0x23, 0x01); },
       Packet(0x37, 0x81, 0x23, 0x01),
       {},
       CommandCase::kNone,
       0},
      {"WritePS2Page",
       [&](TPS2Mcom& c) { c.WritePS2Page(0x23, 0x01, page); },
       Packet(0xC8, 0xA2, 0x23, 0x01),
       {1, 10},
       CommandCase::kWrite,
       1},
      {"WriteSMPage",
       [&](TPS2Mcom& c) { c.WriteSMPage(0x23, 0x01, page); },
       Packet(0xBC, 0x35, 0x23, 0x01),
       {1, 10},
       CommandCase::kWrite,
       1},
      {"WritePS1Frame",
       [&](TPS2Mcom& c) { c.WritePS1Frame(0x01, 0x23, page); },
       Packet(0xE9, 0xDC, 0x01, 0x23),
       {1, 10},
       CommandCase::kWrite,
       1},
      {"ReadPS2Page",
       [](TPS2Mcom& c) {
         Page p;
         c.ReadPS2Page(0x23, 0x01, p);
       },
       Packet(0xA5, 0x69, 0x23, 0x01),
       {1},
       CommandCase::kRead,
       1},
      {"ReadSMPage",
       [](TPS2Mcom& c) {
         Page p;
         c.ReadSMPage(0x23, 0x01, p);
       },
       Packet(0xA9, 0x85, 0x23, 0x01),
       {1},
       CommandCase::kRead,
       1},
      {"ReadPS1Frame",
       [](TPS2Mcom& c) {
         Page p;
         c.ReadPS1Frame(0x01, 0x23, p);
       },
       Packet(0xE3, 0xA4, 0x01, 0x23),
       {20},
       CommandCase::kRead,
       20},
      {"ReadCardSpecs",
       [&](TPS2Mcom& c) { c.ReadCardSpecs(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]); },
       Packet(0x51, 0x26, 0x11, 0x22),
       {1},
       CommandCase::kRead,
       1},
      {"ReadSMId",
       [&](TPS2Mcom& c) { c.ReadSMId(s[0], s[1], s[2], s[3]); },
       Packet(0x2C, 0x88, 0x33, 0x44),
       {1},
       CommandCase::kRead,
       1},
  };
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.name);
    platform.writes.clear();
    platform.reads_at_ms.clear();
    clock = FakeClock{};
    platform.Reply(Bytes(kDataPhaseBytes, 0x5A));

    c.run(com);

    ASSERT_GE(platform.writes.size(), 1u);
    EXPECT_EQ(platform.writes[0].bytes, c.packet);
    EXPECT_EQ(platform.writes[0].at_ms, 0);
    EXPECT_EQ(clock.sleeps, c.sleeps);
    EXPECT_EQ(clock.readings, 0);
    if (c.data == CommandCase::kWrite) {
      ASSERT_EQ(platform.writes.size(), 2u);
      EXPECT_EQ(platform.writes[1].bytes, std::vector<uint8_t>(page.begin(), page.begin() + 512));
      EXPECT_EQ(platform.writes[1].at_ms, c.data_at_ms);
    } else {
      EXPECT_EQ(platform.writes.size(), 1u);
    }
    if (c.data == CommandCase::kRead) {
      EXPECT_EQ(platform.reads_at_ms, std::vector<int64_t>{c.data_at_ms});
    } else {
      EXPECT_TRUE(platform.reads_at_ms.empty());
      platform.replies.clear();
    }
    EXPECT_FALSE(com.LinkFault);
  }
}

TEST_F(Protocol, ReadsHandBackTheSpareBytesLastWrittenThroughTheBuffer) {
  Page page;
  platform.Reply(Bytes(kDataPhaseBytes, 0x11));
  com.ReadPS2Page(0, 0, page);
  EXPECT_EQ(page[0], 0x11);
  EXPECT_EQ(page[527], 0x00) << "the buffer starts zero";

  const Page written = NumberedPage(0x80);
  com.WriteSMPage(5, 0, written);
  platform.Reply(Bytes(kDataPhaseBytes, 0x22));
  com.ReadSMPage(5, 0, page);
  for (size_t i = 0; i < kDataPhaseBytes; ++i) ASSERT_EQ(page[i], 0x22) << i;
  for (size_t i = kDataPhaseBytes; i < kPageBytes; ++i) EXPECT_EQ(page[i], written[i]) << i;

  platform.Reply(Bytes(kDataPhaseBytes, 0x33));
  com.ReadPS1Frame(0, 1, page);
  EXPECT_EQ(page[0], 0x33);
  EXPECT_EQ(page[520], written[520]);
}

TEST_F(Protocol, QueriesHandBackTheFirstReplyBytes) {
  std::vector<uint8_t> reply = Bytes(kDataPhaseBytes, 0xEE);
  for (uint8_t i = 0; i < 8; ++i) reply[i] = static_cast<uint8_t>(0xA0 + i);
  platform.Reply(reply);
  platform.Reply(reply);
  uint8_t r[8] = {};
  com.ReadCardSpecs(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
  for (uint8_t i = 0; i < 8; ++i) EXPECT_EQ(r[i], 0xA0 + i);
  uint8_t s[6] = {9, 9, 9, 9, 9, 9};
  com.ReadSMId(s[0], s[1], s[2], s[3]);
  EXPECT_EQ(std::vector<uint8_t>(s, s + 6), (std::vector<uint8_t>{0xA0, 0xA1, 0xA2, 0xA3, 9, 9}));
}

TEST_F(Protocol, DetectAdapterBelievesOnlyAStatusThatArrived) {
  platform.Reply([] {
    auto status = Bytes(kDataPhaseBytes, 0);
    status[0] = 0xA0;
    status[1] = 0x21;
    return status;
  }());
  EXPECT_TRUE(com.DetectAdapter());
  ASSERT_EQ(platform.writes.size(), 2u);
  EXPECT_EQ(platform.writes[0].bytes, Packet(0xCA, 0x59, 0x02, 0x00));
  EXPECT_EQ(platform.writes[1].bytes, Packet(0xCA, 0x59, 0x03, 0x00));
  EXPECT_EQ(platform.writes[1].at_ms, 1000);
  EXPECT_EQ(clock.sleeps, (std::vector<int>{1000, 1}));
  EXPECT_FALSE(com.LinkFault);

  // The adapter goes silent: the buffer still starts A0 21, but that is old.
  EXPECT_FALSE(com.DetectAdapter());
  EXPECT_TRUE(com.LinkFault);
  EXPECT_EQ(link.PageBuffer()[0], 0xA0);

  // Pipes closed: nothing moves, and the stale bytes are still no answer.
  link.ClosePipes();
  platform.writes.clear();
  EXPECT_FALSE(com.DetectAdapter());
  EXPECT_TRUE(platform.writes.empty());

  platform.Reply(Bytes(kDataPhaseBytes, 0xFF));
  link.OpenPipes();
  EXPECT_FALSE(com.DetectAdapter()) << "a reply without the status mark";
}

TEST(ProtocolClosed, DetectAdapterWithPipesClosedAndZeroBufferIsFalse) {
  FakeClock clock;
  FakePlatform platform{&clock};
  Link link(platform, clock);
  TPS2Mcom com(link);
  EXPECT_FALSE(com.DetectAdapter());
  EXPECT_TRUE(com.LinkFault);
  EXPECT_TRUE(platform.writes.empty());
}

TEST_F(Protocol, FailedOrShortTransfersRaiseLinkFaultUntilTheCallerClearsIt) {
  Page page = NumberedPage(1);

  platform.Reply(Bytes(100, 0x44));  // short read
  com.ReadPS2Page(0, 0, page);
  EXPECT_TRUE(com.LinkFault);
  EXPECT_EQ(page, link.PageBuffer()) << "the caller still gets the buffer's copy";

  platform.Reply(Bytes(kDataPhaseBytes, 0));
  com.ReadPS2Page(0, 0, page);
  EXPECT_TRUE(com.LinkFault) << "nothing here clears it";
  com.LinkFault = false;

  com.ReadSMPage(0, 0, page);  // no reply at all: the read times out
  EXPECT_TRUE(com.LinkFault);
  com.LinkFault = false;

  // A short data phase.
  platform.write_limit = 16;
  com.WritePS2Page(0, 0, page);
  EXPECT_TRUE(com.LinkFault);
  com.LinkFault = false;

  // A broken packet: the data phase is not sent after it.
  platform.write_limit = 8;
  platform.writes.clear();
  com.WriteSMPage(0, 0, page);
  EXPECT_TRUE(com.LinkFault);
  EXPECT_EQ(platform.writes.size(), 1u);
  com.LinkFault = false;

  platform.write_limit = -1;
  platform.writes_fail = true;
  com.EraseSMBlock(0, 0);
  EXPECT_TRUE(com.LinkFault);
  com.LinkFault = false;

  link.ClosePipes();
  com.ResetAdapter();
  EXPECT_TRUE(com.LinkFault);
}

TEST_F(Protocol, ConnectionWaitCountsSecondTicksOnTheClock) {
  com.ConnectDelay = 0;
  com.ConnectionWait();
  com.ConnectDelay = -5;
  com.ConnectionWait();
  EXPECT_EQ(clock.readings, 0);

  com.ConnectDelay = 1;
  com.ConnectionWait();
  EXPECT_EQ(clock.now_ms, 2000) << "ends at the second tick";
  EXPECT_TRUE(clock.sleeps.empty()) << "a busy wait, not a sleep";

  clock = FakeClock{};
  clock.now_ms = 700;
  com.ConnectDelay = 3;
  com.ConnectionWait();
  EXPECT_EQ(clock.now_ms, 4000);
  const int64_t waited = clock.now_ms - 700;
  EXPECT_GE(waited, 3000);
  EXPECT_LE(waited, 4000);
}

TEST_F(Protocol, ComponentForwardsAndClosesThePipesWhenDestroyed) {
  EXPECT_TRUE(com.IsReady());
  EXPECT_TRUE(com.IsConnected());
  {
    TPS2Mcom second(link);
    EXPECT_EQ(second.PortBase, 0x378);
    EXPECT_EQ(second.ConnectDelay, 0);
    EXPECT_FALSE(second.LinkFault);
  }
  EXPECT_FALSE(link.ReadPipeOpen());
  EXPECT_FALSE(link.WritePipeOpen());
}

}  // namespace
}  // namespace travosk::link
