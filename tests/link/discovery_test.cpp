#include <gtest/gtest.h>

#include "common/errors.h"
#include "fake_platform.h"
#include "link/link.h"

namespace travosk::link {
namespace {

using testing::AdapterDevice;
using testing::FakeDevice;
using testing::FakePlatform;

class Discovery : public ::testing::Test {
 protected:
  Discovery() {
    link.SetMessageSink([this](const std::string& text) { messages.push_back(text); });
  }
  FakeClock clock;
  FakePlatform platform{&clock};
  Link link{platform, clock};
  std::vector<std::string> messages;
};

TEST(ParseIdField, ReadsFourHexDigitsAfterTagOrAtPositionsFourToSeven) {
  EXPECT_EQ(ParseIdField("VID_", kAdapterIdentifier), 0x7E21);
  EXPECT_EQ(ParseIdField("PID_", kAdapterIdentifier), 0xB40D);
  EXPECT_EQ(ParseIdField("VID_", "HID\\VID_0a1b&PID_0002"), 0x0A1B);
  // Without the tag, the characters at positions 4..7 (counted from 1).
  EXPECT_EQ(ParseIdField("VID_", "ABC1234XYZ"), 0x1234);

  const auto failure = [](const std::string& tag, const std::string& id) -> std::string {
    try {
      (void)ParseIdField(tag, id);
    } catch (const ConversionError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(failure("VID_", "ROOT\\LEGACY"), "'$T\\LE' is not a valid integer value");
  EXPECT_EQ(failure("VID_", "USB\\VID_7E"), "'$7E' is not a valid integer value");
  EXPECT_EQ(failure("VID_", ""), "'$' is not a valid integer value");
  EXPECT_EQ(failure("PID_", "USB\\VID_7E21&PID_B4G0"), "'$B4G0' is not a valid integer value");
}

TEST_F(Discovery, NoAdapterLeavesEverythingClosedAndSilent) {
  link.FindAdapter();
  EXPECT_EQ(link.DevicePath(), "");
  EXPECT_FALSE(link.IsConnected());
  EXPECT_FALSE(link.ReadPipeOpen());
  EXPECT_FALSE(link.WritePipeOpen());
  EXPECT_TRUE(platform.opened_pipes.empty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(Discovery, InterfaceSetUnavailable) {
  platform.interfaces = std::nullopt;
  link.FindAdapter();
  EXPECT_EQ(messages, std::vector<std::string>{"Could not attach to PnP node"});
  EXPECT_FALSE(link.IsConnected());
}

TEST_F(Discovery, LastInterfaceThatOpensGivesThePathAndThePipes) {
  platform.interfaces = std::vector<std::string>{"/c/00000001", "/c/00000002", "/c/00000003"};
  platform.devices["/c/00000001"] = AdapterDevice();
  platform.devices["/c/00000002"] = AdapterDevice();
  platform.devices["/c/00000003"] = AdapterDevice();
  platform.devices["/c/00000003"].opens = false;

  link.FindAdapter();
  EXPECT_EQ(link.DevicePath(), "/c/00000002");
  EXPECT_TRUE(link.IsConnected());
  EXPECT_EQ(platform.opened_pipes,
            (std::vector<std::string>{"/c/00000002/PIPE00", "/c/00000002/PIPE01"}));
  EXPECT_TRUE(link.ReadPipeOpen() && link.WritePipeOpen());
  EXPECT_EQ(messages, std::vector<std::string>{"could not open DevicePath"});
  EXPECT_EQ(platform.open_device_count, 0) << "every device handle is closed again";
}

TEST_F(Discovery, PathTooLongForTheDetailBufferEndsTheScan) {
  const std::string fits(251, 'a');
  const std::string too_long(252, 'b');
  platform.interfaces = std::vector<std::string>{fits, too_long, "/c/00000003"};
  platform.devices[fits] = AdapterDevice();
  platform.devices["/c/00000003"] = AdapterDevice();

  link.FindAdapter();
  EXPECT_EQ(link.DevicePath(), fits);
  EXPECT_EQ(messages,
            std::vector<std::string>{"Could not find the system name for this HID device"});
  EXPECT_EQ(platform.opened_devices, std::vector<std::string>{fits});
}

TEST_F(Discovery, ScanFillsTheRecordOnlyForAMatchingDevice) {
  FakeDevice adapter = AdapterDevice();
  adapter.manufacturer = "Maker";
  adapter.product = "Card Adapter";
  adapter.physical_descriptor = std::vector<uint8_t>{'P', 'D', 0, 'X'};
  adapter.feature = true;
  FakeDevice other;
  other.attributes = {0x7E21, 0x0001, 0};
  other.manufacturer = "Someone else";
  platform.interfaces = std::vector<std::string>{"/c/a", "/c/b"};
  platform.devices["/c/a"] = adapter;
  platform.devices["/c/b"] = other;

  THidDeviceData record;
  record.serial_number = "stale";
  record.device_path = "stale";
  link.ScanAdapterInterfaces(record, kAdapterIdentifier);

  EXPECT_EQ(record.identifier, kAdapterIdentifier);
  EXPECT_EQ(record.vendor, 0x7E21);
  EXPECT_EQ(record.product, 0xB40D);
  EXPECT_EQ(record.device_path, "/c/a");
  EXPECT_EQ(record.manufacturer, "Maker");
  EXPECT_EQ(record.product_name, "Card Adapter");
  EXPECT_EQ(record.serial_number, "") << "a failed request leaves the cleared field";
  EXPECT_EQ(record.physical_descriptor, "PD") << "up to the first zero byte";
  EXPECT_EQ(messages, std::vector<std::string>{"could"});
  EXPECT_EQ(platform.feature_probes, std::vector<std::string>{"/c/a"}) << "no probe of /c/b";
  // The mismatching device still becomes the link's path.
  EXPECT_EQ(link.DevicePath(), "/c/b");
}

TEST_F(Discovery, MismatchOnlyLeavesTheRecordUnfilled) {
  FakeDevice other;
  other.attributes = {0x1234, 0x5678, 0};
  other.manufacturer = "Someone else";
  other.feature = true;
  platform.interfaces = std::vector<std::string>{"/c/x"};
  platform.devices["/c/x"] = other;

  THidDeviceData record;
  link.ScanAdapterInterfaces(record, kAdapterIdentifier);
  EXPECT_EQ(record.device_path, "");
  EXPECT_EQ(record.manufacturer, "");
  EXPECT_TRUE(platform.feature_probes.empty());
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(link.DevicePath(), "/c/x");
}

TEST_F(Discovery, ArrivalAndRemovalOfAnyNodeFollowTheBroadcast) {
  link.FindAdapter();
  ASSERT_FALSE(link.IsConnected());

  // An unrelated device arrives while the adapter's interface is present.
  platform.hardware_keys[7] = "USB\\VID_1234&PID_5678\\1";
  platform.interfaces = std::vector<std::string>{"/c/00000009"};
  platform.devices["/c/00000009"] = AdapterDevice();
  EXPECT_TRUE(link.HandleDeviceChange({kDeviceArrival, kDevTypeDevNode, 7}));
  EXPECT_TRUE(link.IsConnected());
  EXPECT_EQ(link.DevicePath(), "/c/00000009");
  EXPECT_TRUE(link.ReadPipeOpen() && link.WritePipeOpen());

  // A second arrival reopens: nothing leaks.
  EXPECT_TRUE(link.HandleDeviceChange({kDeviceArrival, kDevTypeDevNode, 7}));
  EXPECT_EQ(platform.OpenPipeCount(), 2u);

  // Other events and other device types change nothing.
  EXPECT_FALSE(link.HandleDeviceChange({kDeviceArrival, 2, 7}));
  EXPECT_FALSE(link.HandleDeviceChange({kDeviceRemoveComplete, 2, 7}));
  EXPECT_FALSE(link.HandleDeviceChange({0x8001, kDevTypeDevNode, 7}));
  EXPECT_TRUE(link.IsConnected());
  EXPECT_EQ(platform.OpenPipeCount(), 2u);

  // Removal of whatever node: disconnected, pipes closed, path kept.
  EXPECT_TRUE(link.HandleDeviceChange({kDeviceRemoveComplete, kDevTypeDevNode, 99}));
  EXPECT_FALSE(link.IsConnected());
  EXPECT_FALSE(link.ReadPipeOpen() || link.WritePipeOpen());
  EXPECT_EQ(platform.OpenPipeCount(), 0u);
  EXPECT_EQ(link.DevicePath(), "/c/00000009");

  // An arrival that finds no interface reopens the pipes on the old path.
  platform.interfaces = std::vector<std::string>{};
  platform.pending_changes.push_back({true, 7});
  EXPECT_TRUE(link.HandlePendingDeviceChanges());
  EXPECT_TRUE(link.IsConnected());
  EXPECT_EQ(platform.opened_pipes.back(), "/c/00000009/PIPE01");
}

TEST_F(Discovery, ArrivalWithoutAnyPathOpensNoPipes) {
  platform.hardware_keys[3] = "USB\\VID_1234&PID_5678\\1";
  EXPECT_TRUE(link.HandleDeviceChange({kDeviceArrival, kDevTypeDevNode, 3}));
  EXPECT_TRUE(link.IsConnected());
  EXPECT_TRUE(platform.opened_pipes.empty());
}

TEST_F(Discovery, UnreadableHardwareKeyAbandonsTheArrival) {
  platform.hardware_keys[4] = "ROOT\\LEGACY_THING";
  EXPECT_THROW(link.HandleDeviceChange({kDeviceArrival, kDevTypeDevNode, 4}), ConversionError);
  EXPECT_FALSE(link.IsConnected());
  // A node with no key at all converts nothing either.
  EXPECT_THROW(link.HandleDeviceChange({kDeviceArrival, kDevTypeDevNode, 5}), ConversionError);
}

TEST_F(Discovery, PipeThatFailsToOpenStaysClosedAndMovesNothing) {
  platform.interfaces = std::vector<std::string>{"/c/a"};
  platform.devices["/c/a"] = AdapterDevice();
  platform.failing_pipes.insert("/c/a/PIPE01");
  link.FindAdapter();
  EXPECT_TRUE(link.IsConnected());
  EXPECT_TRUE(link.ReadPipeOpen());
  EXPECT_FALSE(link.WritePipeOpen());
  EXPECT_FALSE(link.SendCommand({}));
  EXPECT_TRUE(platform.writes.empty());
  EXPECT_TRUE(messages.empty());
}

TEST(LinkLifetime, DestroyingTheLinkClosesItsPipes) {
  FakeClock clock;
  FakePlatform platform{&clock};
  platform.interfaces = std::vector<std::string>{"/c/a"};
  platform.devices["/c/a"] = AdapterDevice();
  {
    Link link(platform, clock);
    link.FindAdapter();
    ASSERT_EQ(platform.OpenPipeCount(), 2u);
  }
  EXPECT_EQ(platform.OpenPipeCount(), 0u);
  EXPECT_EQ(platform.closed_pipes, (std::vector<std::string>{"/c/a/PIPE00", "/c/a/PIPE01"}));
}

}  // namespace
}  // namespace travosk::link
