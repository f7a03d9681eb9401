// The loopback platform: the link talks to simulated adapters in this process,
// with no files, FIFOs or waits. Tests use it, and so does every command that
// opens a card image: the same firmware runs on the image, so one code path
// serves adapters and images.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/link.h"
#include "link/platform.h"
#include "sim/adapter.h"

namespace travosk::sim {

class LoopbackPlatform final : public link::Platform {
 public:
  // Adds an adapter as interface "loopback:<n>" with device node n + 1;
  // the platform does not own it. Plugging queues an arrival notification.
  void Plug(Adapter& adapter);
  // Removes the interface and queues a removal notification; transfers on
  // pipes and devices opened to it fail from then on, also after the adapter
  // is plugged in again (a new plug is a new device). An adapter that unplugs
  // itself through its fault injection is removed the same way at its first
  // failed transfer.
  void Unplug(Adapter& adapter);

  std::optional<std::vector<std::string>> ListInterfaces() override;
  // The adapter's USB identity, with a serial number of its node; it answers
  // no HID reports: everything moves through the pipes.
  std::optional<link::HidIdentity> Identify(const std::string& path) override;
  std::string ReadHardwareKey(uint32_t node) override;
  link::Handle OpenPipe(const std::string& pipe_path, PipeEnd end) override;
  void ClosePipe(link::Handle h) override;
  long WritePipe(link::Handle h, const uint8_t* data, size_t count) override;
  long ReadPipe(link::Handle h, uint8_t* data, size_t count) override;
  std::vector<link::DeviceEvent> TakeDeviceEvents() override;
  std::string InterfaceKind(const std::string&) override { return "in-process simulated adapter"; }

  // Every command packet takes this long to pass, as over a slow USB bus:
  // lets a test watch a window stay alive through a long operation.
  void SetPacketDelay(std::chrono::microseconds delay) { packet_delay_ = delay; }

 private:
  // One interface: an adapter plugged in at least once. Every plug and unplug
  // starts a new generation; handles opened in another generation are stale.
  struct Slot {
    Adapter* adapter = nullptr;
    std::string path;
    uint32_t node = 0;
    bool present = false;
    uint64_t generation = 0;
  };
  enum class Kind { kReadPipe, kWritePipe };
  struct Opened {
    size_t slot;
    uint64_t generation;
    Kind kind;
  };
  // The present slot a handle of that kind was opened on, or nullptr.
  Slot* SlotOf(link::Handle h, Kind kind);
  link::Handle Open(size_t slot, Kind kind);
  void Remove(Slot& slot);

  std::vector<std::unique_ptr<Slot>> slots_;
  std::deque<link::DeviceEvent> changes_;
  std::map<link::Handle, Opened> opened_;
  link::Handle next_handle_ = 1;
  std::chrono::microseconds packet_delay_{0};
};

// An in-process adapter with its loopback platform, a clock that never waits
// and a link on which FindAdapter has run: everything needed to open a card
// image, for tools and tests.
class LoopbackSession {
 public:
  LoopbackSession();
  ~LoopbackSession();
  Adapter adapter;
  LoopbackPlatform platform;
  link::FakeClock clock;
  link::Link link{platform, clock};
};

}  // namespace travosk::sim
