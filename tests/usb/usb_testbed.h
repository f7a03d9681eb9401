// An emulated kernel for the USB platform's tests: umockdev's test bed holds
// adapters as USB devices (sysfs attributes, descriptors, a usbdevfs node),
// and an ioctl handler of ours answers the requests that the real libusb
// sends to each node by running the simulated adapter's firmware (or another
// device's, such as the PS3 memory card adaptor's). The test program must run
// under umockdev's preload (main.cpp sees to that).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/adapter.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace travosk::usbtest {

// The device's side of its bulk transfers: what an OUT transfer carries in,
// and the reply that the next IN transfer takes.
class UsbFunction {
 public:
  virtual ~UsbFunction() = default;
  virtual long Write(const uint8_t* data, size_t count) = 0;  // -1: refused
  virtual long Read(uint8_t* data, size_t count) = 0;         // -1: failed
  virtual bool HasReply() const = 0;
  virtual bool plugged() const = 0;
};

// Any firmware with these four calls.
template <class Firmware>
class FunctionOf final : public UsbFunction {
 public:
  explicit FunctionOf(Firmware& firmware) : firmware_(firmware) {}
  long Write(const uint8_t* data, size_t count) override { return firmware_.Write(data, count); }
  long Read(uint8_t* data, size_t count) override { return firmware_.Read(data, count); }
  bool HasReply() const override { return firmware_.HasReply(); }
  bool plugged() const override { return firmware_.plugged(); }

 private:
  Firmware& firmware_;
};

struct UsbEndpoint {
  uint8_t address;
  uint8_t type;  // 2 bulk, 3 interrupt
  uint16_t packet;
};

struct UsbDeviceSetup {
  int bus = 1;
  int port = 2;  // on the root hub; the address is the same number
  uint16_t vendor = sim::kUsbVendor;
  uint16_t product = sim::kUsbProduct;
  std::string serial = "TV0001";
  bool announce = false;  // send the "add" event, as a device plugged in now
  bool readable = true;   // false: the device node is root's alone (mode 0600)
  uint16_t version = sim::kUsbVersion;
  std::string manufacturer = sim::kUsbManufacturer;
  std::string product_name = sim::kUsbProductName;
  // Interface 0's endpoints in descriptor order. Bulk IN transfers are served
  // on the first bulk IN one, bulk OUT transfers on the first bulk OUT one.
  std::vector<UsbEndpoint> endpoints = {{0x82, 2, 512}, {0x01, 2, 512}};
};

// What one emulated adapter's handler does besides serving the firmware; the
// test thread sets these while the handler runs on umockdev's thread.
struct UsbFaults {
  bool stall_next_read = false;  // the next IN transfer ends with a stall
  bool gone = false;             // every request fails as on an unplugged device
};

class EmulatedAdapter;

class UsbTestbed {
 public:
  UsbTestbed();
  ~UsbTestbed();
  UsbTestbed(const UsbTestbed&) = delete;
  UsbTestbed& operator=(const UsbTestbed&) = delete;

  // Adds a USB device whose requests the firmware in adapter answers (the
  // test bed does not own it). Answers the device's sysfs path.
  std::string Add(sim::Adapter& adapter, const UsbDeviceSetup& setup = {});
  // The same for another device's firmware (not owned either).
  std::string Add(UsbFunction& function, const UsbDeviceSetup& setup);
  // Unplugs: the device's requests fail from now on, and its node and sysfs
  // entry go with a "remove" event.
  void Remove(const std::string& syspath);

  // Requests the handler has seen, by name ("SUBMITURB bulk in", ...).
  uint64_t Seen(const std::string& what);
  void SetFaults(const std::string& syspath, const UsbFaults& faults);
  // The test bed's root folder (for the device nodes' permissions).
  std::string Root() const;
  // Held while a test changes the state of a device's firmware: its handler
  // does not run meanwhile.
  std::unique_lock<std::mutex> Hold(const std::string& syspath);

 private:
  UMockdevTestbed* testbed_;
  std::vector<std::unique_ptr<EmulatedAdapter>> adapters_;
  std::vector<std::unique_ptr<UsbFunction>> owned_;
};

}  // namespace travosk::usbtest
