// The operating-system side of the adapter link: the adapter's present
// interfaces, what each says about itself, device-node hardware keys, the two
// pipes, and device nodes coming and going. The scan logic, the path choice,
// the connected flag, the pipe naming, the interface class and the
// device-change broadcast live in Link; only these operations differ between
// platforms (the device interface directory, USB, the in-process loopback).
//
// A platform implements the seven operations without a body; the rest answer
// as a platform without notifications, feature reports or remedies would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace travosk::link {

using Handle = int;
inline constexpr Handle kInvalidHandle = -1;

// How long a pipe transfer waits for the adapter before it fails: an adapter
// that stops answering must not hang the program.
inline constexpr int kDefaultPipeTimeoutMs = 3000;

// kDefaultPipeTimeoutMs, or $TRAVOSK_PIPE_TIMEOUT_MS when that is a positive
// number of milliseconds.
int DefaultPipeTimeoutMs();

struct HidAttributes {
  uint16_t vendor = 0;
  uint16_t product = 0;
  uint16_t version = 0;
};

// What an interface's device says about itself while it is open. A request
// that the device does not answer is left empty; failed attributes stay zeros,
// which match no adapter.
struct HidIdentity {
  HidAttributes attributes;
  std::optional<std::string> manufacturer;
  std::optional<std::string> product;
  std::optional<std::string> serial_number;
  std::optional<std::vector<uint8_t>> physical_descriptor;  // the first 256 bytes count
};

// A device node that came (arrival) or went, by its number.
struct DeviceEvent {
  bool arrival = false;
  uint32_t node = 0;
  friend bool operator==(const DeviceEvent&, const DeviceEvent&) = default;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // The present interfaces of the adapter's class, in enumeration order.
  // nullopt when the interface set cannot be obtained.
  virtual std::optional<std::vector<std::string>> ListInterfaces() = 0;

  // Opens an interface's device, reads its identity and closes it again;
  // nullopt when the device does not open.
  virtual std::optional<HidIdentity> Identify(const std::string& path) = 0;
  // Whether the device answers a feature report request. The adapter is never
  // driven through HID reports; the scan only probes a matching device.
  virtual bool AnswersFeatureReport(const std::string& /*path*/) { return false; }

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

  // Device nodes coming and going: a descriptor that becomes readable when an
  // event is pending (-1 when the platform has none), and the pending events.
  virtual int NotificationDescriptor() { return -1; }
  virtual std::vector<DeviceEvent> TakeDeviceEvents() { return {}; }

  // What kind of adapter an interface of this platform is, for listings.
  virtual std::string InterfaceKind(const std::string& /*path*/) { return "adapter"; }
  // Why the last scan could not open an adapter, when the user can do
  // something about it (one line; empty otherwise).
  virtual std::string OpenProblem() const { return {}; }
};

}  // namespace travosk::link
