// An emulated kernel for the USB platform's tests: umockdev's test bed holds
// adapters as USB devices (sysfs attributes, descriptors, a usbdevfs node),
// and an ioctl handler of ours answers the requests that the real libusb
// sends to each node by running the simulated adapter's firmware. The test
// program must run under umockdev's preload (main.cpp sees to that).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/adapter.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace travosk::usbtest {

struct UsbDeviceSetup {
  int bus = 1;
  int port = 2;  // on the root hub; the address is the same number
  uint16_t vendor = sim::kUsbVendor;
  uint16_t product = sim::kUsbProduct;
  std::string serial = "TV0001";
  bool announce = false;  // send the "add" event, as a device plugged in now
  bool readable = true;   // false: the device node is root's alone (mode 0600)
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
  // Unplugs: the device's requests fail from now on, and its node and sysfs
  // entry go with a "remove" event.
  void Remove(const std::string& syspath);

  // Requests the handler has seen, by name ("SUBMITURB bulk in", ...).
  uint64_t Seen(const std::string& what);
  void SetFaults(const std::string& syspath, const UsbFaults& faults);
  // The test bed's root folder (for the device nodes' permissions).
  std::string Root() const;

 private:
  UMockdevTestbed* testbed_;
  std::vector<std::unique_ptr<EmulatedAdapter>> adapters_;
};

}  // namespace travosk::usbtest
