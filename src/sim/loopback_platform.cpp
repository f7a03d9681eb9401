#include "sim/loopback_platform.h"

#include <algorithm>
#include <iterator>
#include <thread>

#include "link/device_root.h"

namespace travosk::sim {

namespace {

constexpr const char* kPathPrefix = "loopback:";

}  // namespace

void LoopbackPlatform::Plug(Adapter& adapter) {
  auto it = std::find_if(slots_.begin(), slots_.end(),
                         [&](const auto& s) { return s->adapter == &adapter; });
  Slot* slot;
  if (it != slots_.end()) {
    slot = it->get();
    if (slot->present) return;
  } else {
    auto fresh = std::make_unique<Slot>();
    fresh->adapter = &adapter;
    fresh->path = kPathPrefix + std::to_string(slots_.size());
    fresh->node = static_cast<uint32_t>(slots_.size() + 1);
    slot = fresh.get();
    slots_.push_back(std::move(fresh));
  }
  slot->present = true;
  ++slot->generation;
  changes_.push_back({true, slot->node});
}

void LoopbackPlatform::Unplug(Adapter& adapter) {
  for (auto& s : slots_) {
    if (s->adapter == &adapter && s->present) Remove(*s);
  }
}

void LoopbackPlatform::Remove(Slot& slot) {
  slot.present = false;
  ++slot.generation;
  changes_.push_back({false, slot.node});
}

link::Handle LoopbackPlatform::Open(size_t slot, Kind kind) {
  const link::Handle h = next_handle_++;
  opened_[h] = Opened{slot, slots_[slot]->generation, kind};
  return h;
}

LoopbackPlatform::Slot* LoopbackPlatform::SlotOf(link::Handle h, Kind kind) {
  auto it = opened_.find(h);
  if (it == opened_.end() || it->second.kind != kind) return nullptr;
  Slot& slot = *slots_[it->second.slot];
  if (!slot.present || slot.generation != it->second.generation) return nullptr;
  return &slot;
}

std::optional<std::vector<std::string>> LoopbackPlatform::ListInterfaces() {
  std::vector<std::string> paths;
  for (const auto& s : slots_) {
    if (s->present) paths.push_back(s->path);
  }
  return paths;
}

std::optional<link::HidIdentity> LoopbackPlatform::Identify(const std::string& path) {
  for (const auto& s : slots_) {
    if (!s->present || s->path != path) continue;
    link::HidIdentity identity;
    identity.attributes = {kUsbVendor, kUsbProduct, kUsbVersion};
    identity.manufacturer = kUsbManufacturer;
    identity.product = kUsbProductName;
    identity.serial_number = "LOOP" + link::NodeName(s->node);
    identity.physical_descriptor.emplace(std::begin(kUsbPhysicalDescriptor),
                                         std::end(kUsbPhysicalDescriptor));
    return identity;
  }
  return std::nullopt;
}

std::string LoopbackPlatform::ReadHardwareKey(uint32_t node) {
  for (const auto& s : slots_) {
    if (s->present && s->node == node) return kUsbHardwareKey;
  }
  return {};
}

link::Handle LoopbackPlatform::OpenPipe(const std::string& pipe_path, PipeEnd end) {
  const std::string name = end == PipeEnd::kRead ? link::kReadPipeName : link::kWritePipeName;
  for (size_t i = 0; i < slots_.size(); ++i) {
    const Slot& s = *slots_[i];
    if (s.present && pipe_path == s.path + "/" + name) {
      return Open(i, end == PipeEnd::kRead ? Kind::kReadPipe : Kind::kWritePipe);
    }
  }
  return link::kInvalidHandle;
}

void LoopbackPlatform::ClosePipe(link::Handle h) {
  opened_.erase(h);
}

long LoopbackPlatform::WritePipe(link::Handle h, const uint8_t* data, size_t count) {
  Slot* slot = SlotOf(h, Kind::kWritePipe);
  if (!slot) return -1;
  if (packet_delay_.count() > 0 && count == 16) std::this_thread::sleep_for(packet_delay_);
  const long moved = slot->adapter->Write(data, count);
  if (!slot->adapter->plugged()) Remove(*slot);
  return moved;
}

long LoopbackPlatform::ReadPipe(link::Handle h, uint8_t* data, size_t count) {
  Slot* slot = SlotOf(h, Kind::kReadPipe);
  if (!slot) return -1;
  // With no reply waiting the read fails at once: in-process there is nobody
  // who could still answer it.
  const long moved = slot->adapter->Read(data, count);
  if (!slot->adapter->plugged()) Remove(*slot);
  return moved;
}

std::vector<link::DeviceEvent> LoopbackPlatform::TakeDeviceEvents() {
  std::vector<link::DeviceEvent> out(changes_.begin(), changes_.end());
  changes_.clear();
  return out;
}

LoopbackSession::LoopbackSession() {
  // Images stay open for as long as the user works on them: keep the wait
  // totals, not a log that grows with every transaction.
  clock.keep_sleeps = false;
  platform.Plug(adapter);
  link.FindAdapter();
  // The session is attached already; its own arrival is no news to anyone.
  (void)platform.TakeDeviceEvents();
}

LoopbackSession::~LoopbackSession() = default;

}  // namespace travosk::sim
