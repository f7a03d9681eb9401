// The adapter link: the device path, the connected flag, the two pipes and the
// shared 528-byte page buffer. One per process in the programs; tests make as
// many as they like, each over its own platform.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "common/page.h"
#include "link/clock.h"
#include "link/platform.h"

namespace travosk::link {

// {5D0C2A71-93E4-4F1B-A6D2-7C3B19E8F540}: the device interface class that the
// adapter's driver publishes; every platform lists the interfaces of this class.
inline constexpr const char* kAdapterInterfaceGuid = "{5D0C2A71-93E4-4F1B-A6D2-7C3B19E8F540}";

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

// The broadcast that a platform's device event stands for: a device-node
// arrival or removal.
DeviceChange DeviceChangeOf(const DeviceEvent& event);

// The adapter's fixed identifier: vendor 0x7E21, product 0xB40D.
inline constexpr const char* kAdapterIdentifier = "USB\\VID_7E21&PID_B40D\\INST_0";

inline constexpr size_t kPageBytes = page::kBytes;  // common/page.h
inline constexpr size_t kDataPhaseBytes = 512;
inline constexpr size_t kPacketBytes = 16;

// Identity record that a scan fills.
struct THidDeviceData {
  uint16_t vendor = 0;
  uint16_t product = 0;
  std::string identifier;
  std::string manufacturer;
  std::string product_name;
  std::string serial_number;
  std::string physical_descriptor;
  std::string device_path;
};

// The four hexadecimal digits that follow tag in identifier (the four at
// positions 4..7 when the tag is absent). Throws ConversionError.
uint16_t ParseIdField(const std::string& tag, const std::string& identifier);

class Link {
 public:
  using MessageSink = std::function<void(const std::string&)>;

  Link(Platform& platform, Clock& clock);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  Platform& platform() { return platform_; }
  Clock& clock() { return clock_; }

  // Where the scan's messages go ("could", "could not open DevicePath", ...).
  // The front ends show them; by default they are dropped.
  void SetMessageSink(MessageSink sink) { sink_ = std::move(sink); }

  // Device discovery and hot-plug.
  void FindAdapter();
  void ScanAdapterInterfaces(THidDeviceData& record, const std::string& identifier);
  bool HandleDeviceChange(const DeviceChange& message);
  // Takes the platform's pending device events and handles each as its
  // broadcast; true when any of them was handled.
  bool HandlePendingDeviceChanges();
  bool IsConnected() const { return connected_; }
  // Opens both pipes below DevicePath, first closing any that are open; with
  // no DevicePath both stay closed.
  void OpenPipes();
  void ClosePipes();
  std::string ReadHardwareKey(uint32_t node);

  const std::string& DevicePath() const { return device_path_; }
  bool ReadPipeOpen() const { return read_pipe_ != kInvalidHandle; }
  bool WritePipeOpen() const { return write_pipe_ != kInvalidHandle; }

  // Raw transfers. Each answers whether the whole count moved; a closed pipe
  // moves nothing and answers false.
  bool SendCommand(const std::array<uint8_t, kPacketBytes>& packet);
  bool WritePipe(const uint8_t* data, size_t count);
  bool ReadPipe(uint8_t* data, size_t count);

  // The shared 528-byte buffer that every data phase passes through.
  std::array<uint8_t, kPageBytes>& PageBuffer() { return page_buffer_; }

 private:
  void Message(const std::string& text);

  Platform& platform_;
  Clock& clock_;
  MessageSink sink_;
  std::string device_path_;
  bool connected_ = false;
  Handle read_pipe_ = kInvalidHandle;
  Handle write_pipe_ = kInvalidHandle;
  std::array<uint8_t, kPageBytes> page_buffer_{};
};

}  // namespace travosk::link
