// An emulated kernel for the serial readers' tests: umockdev's test bed holds
// USB-serial bridges as tty devices (sysfs with the bridge's USB identity, a
// pseudo-terminal as the device node), and a thread of ours runs each board's
// firmware on the other end of its pseudo-terminal. libserialport lists and
// opens the ports as it would real ones. The test program must run under
// umockdev's preload (main.cpp sees to that).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/ps1readers.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace travosk::serialtest {

class SerialTestbed {
 public:
  SerialTestbed();
  ~SerialTestbed();
  SerialTestbed(const SerialTestbed&) = delete;
  SerialTestbed& operator=(const SerialTestbed&) = delete;

  // A port "/dev/ttyUSB<n>" on a USB bridge of that identity whose board runs
  // `firmware` (not owned). Answers the port's path.
  std::string Add(sim::ReaderFirmware& firmware, uint16_t vendor = 0x1A86,
                  uint16_t product = 0x7523);
  // Held while a test changes a firmware's card or faults.
  std::mutex& mutex() { return mutex_; }

 private:
  struct Port {
    int master = -1;
    sim::ReaderFirmware* firmware = nullptr;
  };
  UMockdevTestbed* testbed_;
  std::mutex mutex_;
  std::vector<Port> ports_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  void Serve();
};

}  // namespace travosk::serialtest
