#include <gtest/gtest.h>

#include "link/ps2mcom.h"
#include "sim/loopback_platform.h"
#include "sim_test_util.h"

namespace travosk::sim {
namespace {

// What every platform does (identity, commands, unplug and replug, two
// adapters) is checked for the loopback in platform_contract_test.cpp; here
// stays what only the loopback does.
using link::TPS2Mcom;

TEST(Loopback, SessionIsAttachedToItsAdapter) {
  LoopbackSession s;
  EXPECT_TRUE(s.link.IsConnected());
  EXPECT_EQ(s.link.DevicePath(), "loopback:0");
  EXPECT_TRUE(s.link.ReadPipeOpen());
  EXPECT_TRUE(s.link.WritePipeOpen());
  EXPECT_TRUE(s.platform.TakeDeviceEvents().empty());

  TPS2Mcom com(s.link);
  EXPECT_TRUE(com.DetectAdapter());
  EXPECT_FALSE(com.LinkFault);
}

TEST(Loopback, HandlesFromBeforeAReplugStayDead) {
  LoopbackSession s;
  const link::Handle old_write =
      s.platform.OpenPipe("loopback:0/PIPE01", link::Platform::PipeEnd::kWrite);
  ASSERT_NE(old_write, link::kInvalidHandle);
  s.platform.Unplug(s.adapter);
  s.platform.Plug(s.adapter);
  const auto packet = testing::Packet(0xCA, 0x59, 0x03);
  EXPECT_EQ(s.platform.WritePipe(old_write, packet.data(), packet.size()), -1);
  s.platform.ClosePipe(old_write);

  // A pipe opened with the wrong end, or a name that is not a pipe, does not open.
  EXPECT_EQ(s.platform.OpenPipe("loopback:0/PIPE00", link::Platform::PipeEnd::kWrite),
            link::kInvalidHandle);
  EXPECT_EQ(s.platform.OpenPipe("loopback:0/PIPE02", link::Platform::PipeEnd::kRead),
            link::kInvalidHandle);
}

TEST(Loopback, FaultsOfTheFirmwareShowOnTheLink) {
  LoopbackSession s;
  TPS2Mcom com(s.link);

  // A silent adapter fails the read at once instead of hanging.
  s.adapter.SilentAfter(0);
  EXPECT_FALSE(com.DetectAdapter());
  EXPECT_TRUE(com.LinkFault);
  EXPECT_TRUE(s.platform.TakeDeviceEvents().empty());  // silent is not gone

  // An adapter that unplugs itself is removed from the platform too.
  s.adapter.ClearFaults();
  com.LinkFault = false;
  ASSERT_TRUE(com.DetectAdapter());
  s.adapter.UnplugAfter(1);
  EXPECT_FALSE(com.DetectAdapter());
  auto changes = s.platform.TakeDeviceEvents();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_FALSE(changes[0].arrival);

  // A corrupted status reply is no detection.
  s.adapter.ClearFaults();
  s.platform.Plug(s.adapter);
  EXPECT_TRUE(s.link.HandlePendingDeviceChanges());
  s.adapter.CorruptReadAfter(0);
  com.LinkFault = false;
  EXPECT_FALSE(com.DetectAdapter());
  EXPECT_FALSE(com.LinkFault);
  EXPECT_TRUE(com.DetectAdapter());
}

}  // namespace
}  // namespace travosk::sim
