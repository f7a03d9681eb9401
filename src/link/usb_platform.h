// The platform over USB itself, through libusb-1.0: for a real adapter.
//
// A present interface is a USB device with the adapter's vendor and product.
// Its device path names the bus and the port path ("usb:1-2.3"), which stays
// the same while the device stays plugged. Its identity comes from the device
// descriptor (vendor, product, version = bcdDevice) and its string
// descriptors. The two pipes are the endpoints of interface 0's current
// alternate setting in descriptor order: the first carries the adapter's
// replies ("PIPE00", read), the second the commands ("PIPE01", write). Opening
// a pipe claims interface 0, detaching a kernel driver that holds it; closing
// the last pipe releases it.
//
// Arrivals and removals come from libusb's hot-plug callbacks, run on a thread
// of their own that starts with the first NotificationDescriptor() call (the
// command line never makes one), and reach the window through an eventfd.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/platform.h"
#include "link/unique_fd.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

namespace travosk::link {

// The adapter's vendor and product, as its driver matches them.
inline constexpr uint16_t kUsbAdapterVendor = 0x7E21;
inline constexpr uint16_t kUsbAdapterProduct = 0xB40D;
// The rule that lets a desktop user open the adapter without root.
inline constexpr const char* kUdevRuleName = "70-travosk.rules";

class UsbPlatform final : public Platform {
 public:
  // A time-out of 0 or less takes DefaultPipeTimeoutMs(). When libusb cannot
  // start (a system without USB) there simply are no interfaces.
  explicit UsbPlatform(int pipe_timeout_ms = 0, uint16_t vendor = kUsbAdapterVendor,
                       uint16_t product = kUsbAdapterProduct);
  ~UsbPlatform() override;
  UsbPlatform(const UsbPlatform&) = delete;
  UsbPlatform& operator=(const UsbPlatform&) = delete;

  bool Available() const { return context_ != nullptr; }
  void SetPipeTimeoutMs(int ms);

  std::optional<std::vector<std::string>> ListInterfaces() override;
  // The device descriptor's vendor, product and version (bcdDevice) and its
  // strings; the adapter is no HID device and has no physical descriptor.
  std::optional<HidIdentity> Identify(const std::string& path) override;
  std::string ReadHardwareKey(uint32_t node) override;
  Handle OpenPipe(const std::string& pipe_path, PipeEnd end) override;
  void ClosePipe(Handle h) override;
  long WritePipe(Handle h, const uint8_t* data, size_t count) override;
  long ReadPipe(Handle h, uint8_t* data, size_t count) override;
  int NotificationDescriptor() override;
  std::vector<DeviceEvent> TakeDeviceEvents() override;
  std::string InterfaceKind(const std::string&) override { return "USB adapter"; }
  // The first adapter that this user may not open, with the remedy.
  std::string OpenProblem() const override {
    return refused_.empty() ? std::string() : refused_.begin()->second;
  }

  // The device node number of a USB device: bus << 8 | address.
  static uint32_t NodeOf(libusb_device* device);
  // The device path of a USB device ("usb:1-2.3"), which the PS1 card
  // readers on USB take as well.
  static std::string PathOf(libusb_device* device);
  // A device of the adapter's came or went: called on the hot-plug thread.
  void NoteHotplug(uint32_t node, bool arrived);

 private:
  struct ContextExit {
    void operator()(libusb_context* context) const;
  };
  struct HandleClose {
    void operator()(libusb_device_handle* handle) const;
  };
  using DeviceHandle = std::unique_ptr<libusb_device_handle, HandleClose>;
  // Interface 0 of an open adapter, claimed for its pipes (below).
  class Claim;
  struct Pipe {
    std::shared_ptr<Claim> claim;  // the last pipe of a device gives the claim back
    uint8_t endpoint = 0;
    bool interrupt = false;
  };

  // The present adapter at path, opened; null when it is gone or refuses.
  DeviceHandle Open(const std::string& path);
  // The claim that the pipes of path share: the one they hold, or a new one.
  std::shared_ptr<Claim> ClaimOf(const std::string& path);
  long Transfer(Handle h, uint8_t* data, size_t count, bool in);
  void StartHotplug();

  // Declared first: every handle below closes before the context ends.
  std::unique_ptr<libusb_context, ContextExit> context_;
  int pipe_timeout_ms_;
  uint16_t vendor_;
  uint16_t product_;
  std::map<std::string, std::string> refused_;  // device path -> why it would not open
  Handle next_handle_ = 1;
  std::map<std::string, std::weak_ptr<Claim>> claims_;  // device path -> its pipes' claim
  std::map<Handle, Pipe> pipes_;

  // Hot-plug: filled on the event thread, taken on the caller's.
  UniqueFd event_fd_;
  std::mutex mutex_;
  std::vector<DeviceEvent> changes_;
  std::atomic<bool> stopping_{false};
  bool hotplug_started_ = false;
  int hotplug_handle_ = 0;
  std::thread events_;
};

}  // namespace travosk::link
