#include <gtest/gtest.h>

#include "link/ps2mcom.h"
#include "sim/loopback_platform.h"
#include "sim_test_util.h"

namespace travosk::sim {
namespace {

using link::DeviceEvent;
using link::Page;
using link::TPS2Mcom;
using testing::ScratchDir;

bool SameChange(const DeviceEvent& a, const DeviceEvent& b) {
  return a.arrival == b.arrival && a.node == b.node;
}

TEST(Loopback, SessionFindsTheAdapterAndItsIdentity) {
  LoopbackSession s;
  EXPECT_TRUE(s.link.IsConnected());
  EXPECT_EQ(s.link.DevicePath(), "loopback:0");
  EXPECT_TRUE(s.link.ReadPipeOpen());
  EXPECT_TRUE(s.link.WritePipeOpen());
  EXPECT_TRUE(s.platform.TakeDeviceEvents().empty());

  std::vector<std::string> messages;
  s.link.SetMessageSink([&](const std::string& m) { messages.push_back(m); });
  link::THidDeviceData record;
  s.link.ScanAdapterInterfaces(record, link::kAdapterIdentifier);
  EXPECT_EQ(record.vendor, 0x7E21);
  EXPECT_EQ(record.product, 0xB40D);
  EXPECT_EQ(record.device_path, "loopback:0");
  EXPECT_EQ(record.manufacturer, kUsbManufacturer);
  EXPECT_EQ(record.product_name, kUsbProductName);
  EXPECT_FALSE(record.serial_number.empty());
  EXPECT_EQ(record.physical_descriptor, "TVSK\x01\x10");
  EXPECT_TRUE(messages.empty());  // no feature report, so no "could"
  EXPECT_EQ(s.link.ReadHardwareKey(1), link::kAdapterIdentifier);
  EXPECT_EQ(s.link.ReadHardwareKey(2), "");

  TPS2Mcom com(s.link);
  EXPECT_TRUE(com.DetectAdapter());
  EXPECT_FALSE(com.LinkFault);
}

TEST(Loopback, CommandsReachTheCardThroughTheLink) {
  ScratchDir dir;
  LoopbackSession s;
  Medium::CreateBlank(dir.File("ps2"), MediumKind::kPS2);
  s.adapter.InsertCard(Medium::Open(dir.File("ps2"), MediumKind::kPS2));
  TPS2Mcom com(s.link);

  uint8_t r[8] = {};
  com.ReadCardSpecs(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
  EXPECT_EQ(r[2], 16);
  EXPECT_EQ(r[5], 64);

  Page page{};
  for (size_t i = 0; i < 512; ++i) page[i] = static_cast<uint8_t>(i * 7);
  com.ErasePS2Block(0x40, 0x00);
  com.WritePS2Page(0x45, 0x00, page);
  Page back{};
  com.ReadPS2Page(0x45, 0x00, back);
  EXPECT_TRUE(std::equal(back.begin(), back.begin() + 512, page.begin()));
  EXPECT_FALSE(com.LinkFault);
  EXPECT_EQ(s.adapter.counters().pages_written, 1u);
  EXPECT_EQ(s.adapter.counters().blocks_erased, 1u);
  // No packet is swallowed and no data phase is taken for a packet.
  EXPECT_EQ(s.adapter.counters().transactions, 4u);
}

TEST(Loopback, UnplugFailsTransfersAndQueuesTheRemoval) {
  LoopbackSession s;
  TPS2Mcom com(s.link);
  ASSERT_TRUE(com.DetectAdapter());

  s.platform.Unplug(s.adapter);
  EXPECT_FALSE(com.DetectAdapter());
  EXPECT_TRUE(com.LinkFault);
  EXPECT_TRUE(s.platform.ListInterfaces()->empty());
  EXPECT_EQ(s.link.ReadHardwareKey(1), "");

  auto changes = s.platform.TakeDeviceEvents();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_TRUE(SameChange(changes[0], {false, 1}));
  EXPECT_TRUE(s.link.HandleDeviceChange(link::DeviceChangeOf(changes[0])));
  EXPECT_FALSE(s.link.IsConnected());
  EXPECT_FALSE(s.link.ReadPipeOpen());

  // Plugged in again: an arrival for the same node, and the link follows it.
  s.platform.Plug(s.adapter);
  changes = s.platform.TakeDeviceEvents();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_TRUE(SameChange(changes[0], {true, 1}));
  EXPECT_TRUE(s.link.HandleDeviceChange(link::DeviceChangeOf(changes[0])));
  EXPECT_TRUE(s.link.IsConnected());
  com.LinkFault = false;
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

TEST(Loopback, TheLastOfTwoAdaptersBecomesTheDevicePath) {
  Adapter first, second;
  LoopbackPlatform platform;
  link::FakeClock clock;
  link::Link link(platform, clock);
  platform.Plug(first);
  platform.Plug(second);
  link.FindAdapter();
  EXPECT_EQ(link.DevicePath(), "loopback:1");
  TPS2Mcom com(link);
  EXPECT_TRUE(com.DetectAdapter());
  EXPECT_EQ(second.counters().transactions, 2u);
  EXPECT_EQ(first.counters().transactions, 0u);
  auto changes = platform.TakeDeviceEvents();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[1].node, 2u);
}

}  // namespace
}  // namespace travosk::sim
