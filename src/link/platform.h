// The operating-system side of the adapter link: device interfaces of a class,
// HID identity, device-node hardware keys, the two pipe files, and device-change
// notifications. The scan logic, the path choice, the connected flag and the
// pipe naming live in Link; only these operations differ between platforms
// (the device interface directory on Linux, the in-process loopback).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace travosk::link {

// {5D0C2A71-93E4-4F1B-A6D2-7C3B19E8F540}: the device interface class that the
// adapter's driver publishes.
inline constexpr const char* kAdapterInterfaceGuid = "{5D0C2A71-93E4-4F1B-A6D2-7C3B19E8F540}";

using Handle = int;
inline constexpr Handle kInvalidHandle = -1;

struct HidAttributes {
  uint16_t vendor = 0;
  uint16_t product = 0;
  uint16_t version = 0;
};

// Device-change broadcast, the parts that HandleDeviceChange reads.
inline constexpr uint32_t kDeviceArrival = 0x8000;         // DBT_DEVICEARRIVAL
inline constexpr uint32_t kDeviceRemoveComplete = 0x8004;  // DBT_DEVICEREMOVECOMPLETE
inline constexpr uint32_t kDevTypeDevNode = 1;             // DBT_DEVTYP_DEVNODE

struct DeviceChange {
  uint32_t event = 0;
  uint32_t device_type = 0;
  uint32_t node = 0;  // device node number, for device type 1
  friend bool operator==(const DeviceChange&, const DeviceChange&) = default;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Present interfaces of a class, in enumeration order. nullopt when the
  // interface set cannot be obtained.
  virtual std::optional<std::vector<std::string>> ListInterfaces(const std::string& class_guid) = 0;

  // An interface's device opened for reading and writing; kInvalidHandle on failure.
  virtual Handle OpenDevice(const std::string& path) = 0;
  virtual void CloseDevice(Handle h) = 0;

  // HID identity of an open device. Each answers false when its request fails.
  virtual bool GetAttributes(Handle h, HidAttributes& out) = 0;
  virtual bool GetManufacturerString(Handle h, std::string& out) = 0;
  virtual bool GetProductString(Handle h, std::string& out) = 0;
  virtual bool GetSerialNumberString(Handle h, std::string& out) = 0;
  virtual bool GetPhysicalDescriptor(Handle h, std::array<uint8_t, 256>& out) = 0;
  virtual bool GetFeature(Handle h, std::array<uint8_t, 256>& out) = 0;

  // The hardware key recorded for a device node; empty when there is none.
  virtual std::string ReadHardwareKey(uint32_t node) = 0;

  // Pipe files below a device path ("<path>/PIPE00", "<path>/PIPE01").
  enum class PipeEnd { kRead, kWrite };
  virtual Handle OpenPipe(const std::string& pipe_path, PipeEnd end) = 0;
  virtual void ClosePipe(Handle h) = 0;
  // Bytes moved, or -1 on failure. A read that gets no answer within the
  // platform's time-out fails rather than blocking.
  virtual long WritePipe(Handle h, const uint8_t* data, size_t count) = 0;
  virtual long ReadPipe(Handle h, uint8_t* data, size_t count) = 0;

  // Device-change notifications: a descriptor that becomes readable when a
  // change is pending (-1 when the platform has none), and the pending changes.
  virtual int NotificationDescriptor() { return -1; }
  virtual std::vector<DeviceChange> TakeDeviceChanges() { return {}; }

  // What kind of adapter an interface of this platform is, for listings.
  virtual std::string InterfaceKind(const std::string& /*path*/) { return "adapter"; }
  // Why the last scan could not open an adapter, when the user can do
  // something about it (one line; empty otherwise).
  virtual std::string OpenProblem() const { return {}; }
};

}  // namespace travosk::link
