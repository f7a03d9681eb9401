// What every platform does for the link, checked once for each: the
// in-process loopback, and the device interface directory with the FIFO
// server publishing the adapter. A new platform adds its rig below; what only
// one platform does stays in that platform's own tests.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>

#include "link/device_dir_platform.h"
#include "link/link.h"
#include "link/ps2mcom.h"
#include "sim/fifo_server.h"
#include "sim/loopback_platform.h"
#include "sim_test_util.h"
#include "support/tap_platform.h"

namespace travosk::sim {
namespace {

using link::DeviceEvent;
using testing::ScratchDir;

// Adapters plugged straight into the loopback; their events are there at once.
class LoopbackRig {
 public:
  link::Platform& platform() { return platform_; }
  void Plug(Adapter& adapter) {
    platform_.Plug(adapter);
    if (!paths_.count(&adapter)) paths_[&adapter] = "loopback:" + std::to_string(paths_.size());
  }
  void Unplug(Adapter& adapter) { platform_.Unplug(adapter); }
  std::string PathOf(Adapter& adapter) { return paths_.at(&adapter); }
  std::vector<DeviceEvent> Events() { return platform_.TakeDeviceEvents(); }

 private:
  LoopbackPlatform platform_;
  std::map<Adapter*, std::string> paths_;
};

// Adapters published in a scratch device root by FIFO servers on threads of
// their own; events come through inotify.
class FifoRig {
 public:
  link::Platform& platform() { return platform_; }
  void Plug(Adapter& adapter) { served_[&adapter] = std::make_unique<Served>(adapter, root_); }
  void Unplug(Adapter& adapter) { served_.erase(&adapter); }
  std::string PathOf(Adapter& adapter) { return served_.at(&adapter)->server.DevicePath(); }
  // Waits a second at most for the first event, then a moment for the rest.
  std::vector<DeviceEvent> Events() {
    pollfd entry{platform_.NotificationDescriptor(), POLLIN, 0};
    (void)::poll(&entry, 1, 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return platform_.TakeDeviceEvents();
  }

 private:
  struct Served {
    Served(Adapter& adapter, const std::string& root)
        : server(adapter, root), thread([this] { server.Serve(); }) {}
    ~Served() {
      server.RequestStop();
      thread.join();
    }
    FifoServer server;
    std::thread thread;
  };

  ScratchDir dir_;
  std::string root_ = dir_.File("root");
  link::DeviceDirPlatform platform_{root_, 1000};
  std::map<Adapter*, std::unique_ptr<Served>> served_;
};

template <typename Rig>
class PlatformContract : public ::testing::Test {
 protected:
  // Declared in the order in which they depend on each other: the adapters
  // outlive the servers and platforms that reach them.
  Adapter adapter;
  Adapter second;
  Rig rig;
  support::TapPlatform tap{rig.platform()};
  link::FakeClock clock;
  link::Link link{tap, clock};
};

using Rigs = ::testing::Types<LoopbackRig, FifoRig>;
TYPED_TEST_SUITE(PlatformContract, Rigs);

TYPED_TEST(PlatformContract, LinkFindsAnAdapterTalksToItAndFollowsItsUnplug) {
  auto& rig = this->rig;
  auto& link = this->link;
  auto& adapter = this->adapter;
  link::TPS2Mcom com(link);
  link.FindAdapter();
  EXPECT_FALSE(link.IsConnected());

  rig.Plug(adapter);
  auto changes = rig.Events();
  EXPECT_EQ(changes, (std::vector<DeviceEvent>{{true, 1}}));
  for (const auto& change : changes) EXPECT_TRUE(link.HandleDeviceChange(DeviceChangeOf(change)));
  EXPECT_TRUE(link.IsConnected());
  EXPECT_EQ(link.DevicePath(), rig.PathOf(adapter));
  EXPECT_TRUE(link.ReadPipeOpen());
  EXPECT_TRUE(link.WritePipeOpen());

  std::vector<std::string> messages;
  link.SetMessageSink([&](const std::string& m) { messages.push_back(m); });
  link::THidDeviceData record;
  link.ScanAdapterInterfaces(record, link::kAdapterIdentifier);
  EXPECT_EQ(record.vendor, 0x7E21);
  EXPECT_EQ(record.product, 0xB40D);
  EXPECT_EQ(record.device_path, rig.PathOf(adapter));
  EXPECT_EQ(record.manufacturer, kUsbManufacturer);
  EXPECT_EQ(record.product_name, kUsbProductName);
  EXPECT_FALSE(record.serial_number.empty());
  EXPECT_EQ(record.physical_descriptor, "TVSK\x01\x10");
  EXPECT_TRUE(messages.empty());  // no feature report, so no "could"
  EXPECT_EQ(link.ReadHardwareKey(1), link::kAdapterIdentifier);
  EXPECT_EQ(link.ReadHardwareKey(2), "");

  EXPECT_TRUE(com.DetectAdapter());
  EXPECT_FALSE(com.LinkFault);
  ASSERT_EQ(this->tap.packets.size(), 2u);
  EXPECT_EQ(this->tap.packets[0][2], 0x02);  // reset
  EXPECT_EQ(this->tap.packets[1][2], 0x03);  // status

  // Gone: transfers on the open pipes fail at once, the interface and its
  // node's key are gone, and the link follows the removal.
  rig.Unplug(adapter);
  EXPECT_FALSE(com.DetectAdapter());
  EXPECT_TRUE(com.LinkFault);
  EXPECT_TRUE(rig.platform().ListInterfaces()->empty());
  EXPECT_EQ(link.ReadHardwareKey(1), "");
  changes = rig.Events();
  EXPECT_EQ(changes, (std::vector<DeviceEvent>{{false, 1}}));
  for (const auto& change : changes) EXPECT_TRUE(link.HandleDeviceChange(DeviceChangeOf(change)));
  EXPECT_FALSE(link.IsConnected());
  EXPECT_FALSE(link.ReadPipeOpen());
  EXPECT_FALSE(link.WritePipeOpen());
  com.LinkFault = false;
  EXPECT_FALSE(com.DetectAdapter());
  EXPECT_TRUE(com.LinkFault);

  // Plugged in again: an arrival for the same node, and the link follows it.
  rig.Plug(adapter);
  changes = rig.Events();
  EXPECT_EQ(changes, (std::vector<DeviceEvent>{{true, 1}}));
  for (const auto& change : changes) EXPECT_TRUE(link.HandleDeviceChange(DeviceChangeOf(change)));
  EXPECT_TRUE(link.IsConnected());
  com.LinkFault = false;
  EXPECT_TRUE(com.DetectAdapter());
  EXPECT_FALSE(com.LinkFault);
}

TYPED_TEST(PlatformContract, CommandsReachTheCardThroughTheLink) {
  ScratchDir dir;
  auto& adapter = this->adapter;
  Medium::CreateBlank(dir.File("ps2"), MediumKind::kPS2);
  adapter.InsertCard(Medium::Open(dir.File("ps2"), MediumKind::kPS2));
  this->rig.Plug(adapter);
  (void)this->rig.Events();
  this->link.FindAdapter();
  link::TPS2Mcom com(this->link);

  uint8_t r[8] = {};
  com.ReadCardSpecs(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
  EXPECT_EQ(r[2], 16);
  EXPECT_EQ(r[5], 64);

  link::Page page{};
  for (size_t i = 0; i < 512; ++i) page[i] = static_cast<uint8_t>(i * 7);
  com.ErasePS2Block(0x40, 0x00);
  com.WritePS2Page(0x45, 0x00, page);
  link::Page back{};
  com.ReadPS2Page(0x45, 0x00, back);
  EXPECT_TRUE(std::equal(back.begin(), back.begin() + 512, page.begin()));
  EXPECT_FALSE(com.LinkFault);
  EXPECT_EQ(adapter.counters().pages_written, 1u);
  EXPECT_EQ(adapter.counters().blocks_erased, 1u);
  // No packet is swallowed and no data phase is taken for a packet.
  EXPECT_EQ(adapter.counters().transactions, 4u);
}

TYPED_TEST(PlatformContract, TheLastOfTwoAdaptersBecomesTheDevicePath) {
  Adapter& first = this->adapter;
  Adapter& second = this->second;
  this->rig.Plug(first);
  this->rig.Plug(second);
  this->link.FindAdapter();
  EXPECT_EQ(this->link.DevicePath(), this->rig.PathOf(second));
  link::TPS2Mcom com(this->link);
  EXPECT_TRUE(com.DetectAdapter());
  EXPECT_EQ(second.counters().transactions, 2u);
  EXPECT_EQ(first.counters().transactions, 0u);
  auto changes = this->rig.Events();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[1].node, 2u);
}

}  // namespace
}  // namespace travosk::sim
