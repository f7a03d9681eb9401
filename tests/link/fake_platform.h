// A scripted platform for the link's tests: interface lists, identities,
// hardware keys and failures are set by the test; every pipe write is recorded
// with the clock's virtual time, and reads are answered from a queue.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/platform.h"

namespace travosk::link::testing {

struct FakeDevice {
  bool opens = true;
  HidAttributes attributes;
  bool attributes_ok = true;
  std::optional<std::string> manufacturer;
  std::optional<std::string> product;
  std::optional<std::string> serial;
  std::optional<std::vector<uint8_t>> physical_descriptor;
  bool feature = false;
};

class FakePlatform final : public Platform {
 public:
  explicit FakePlatform(const FakeClock* clock = nullptr) : clock_(clock) {}

  // Script.
  std::optional<std::vector<std::string>> interfaces = std::vector<std::string>{};
  std::map<std::string, FakeDevice> devices;
  std::map<uint32_t, std::string> hardware_keys;
  std::set<std::string> failing_pipes;  // pipe paths whose open fails
  // Each read takes the front reply: nullopt fails, a short reply moves only
  // its bytes. An empty queue fails like an adapter that never answers.
  std::deque<std::optional<std::vector<uint8_t>>> replies;
  long write_limit = -1;  // when >= 0, a write moves at most this many bytes
  bool writes_fail = false;
  std::vector<DeviceEvent> pending_changes;

  // Record.
  struct Transfer {
    std::vector<uint8_t> bytes;
    int64_t at_ms;  // the clock's virtual time when the transfer was made
  };
  std::vector<Transfer> writes;
  std::vector<int64_t> reads_at_ms;
  std::vector<std::string> opened_devices;
  std::vector<std::string> opened_pipes;
  std::vector<std::string> closed_pipes;
  std::vector<std::string> feature_probes;
  // Devices the platform holds open: none, as Identify closes each again.
  int open_device_count = 0;

  void Reply(std::vector<uint8_t> bytes) { replies.emplace_back(std::move(bytes)); }
  void FailNextRead() { replies.emplace_back(std::nullopt); }
  bool PipeOpen(Handle h) const { return pipes_.count(h) != 0; }
  size_t OpenPipeCount() const { return pipes_.size(); }

  std::optional<std::vector<std::string>> ListInterfaces() override {
    return interfaces;
  }
  std::optional<HidIdentity> Identify(const std::string& path) override {
    auto it = devices.find(path);
    if (it == devices.end() || !it->second.opens) return std::nullopt;
    opened_devices.push_back(path);
    const FakeDevice& d = it->second;
    HidIdentity identity;
    if (d.attributes_ok) identity.attributes = d.attributes;
    identity.manufacturer = d.manufacturer;
    identity.product = d.product;
    identity.serial_number = d.serial;
    identity.physical_descriptor = d.physical_descriptor;
    return identity;
  }
  bool AnswersFeatureReport(const std::string& path) override {
    feature_probes.push_back(path);
    return devices.at(path).feature;
  }
  std::string ReadHardwareKey(uint32_t node) override {
    auto it = hardware_keys.find(node);
    return it == hardware_keys.end() ? std::string() : it->second;
  }
  Handle OpenPipe(const std::string& pipe_path, PipeEnd end) override {
    if (failing_pipes.count(pipe_path) != 0) return kInvalidHandle;
    opened_pipes.push_back(pipe_path);
    const Handle h = next_handle_++;
    pipes_[h] = {pipe_path, end};
    return h;
  }
  void ClosePipe(Handle h) override {
    auto it = pipes_.find(h);
    if (it == pipes_.end()) {
      ADD_FAILURE() << "pipe handle closed twice or never opened";
      return;
    }
    closed_pipes.push_back(it->second.path);
    pipes_.erase(it);
  }
  long WritePipe(Handle h, const uint8_t* data, size_t count) override {
    EXPECT_TRUE(PipeOpen(h) && pipes_.at(h).end == PipeEnd::kWrite) << "write on a bad handle";
    if (writes_fail) return -1;
    const size_t moved = write_limit >= 0 ? std::min(count, size_t(write_limit)) : count;
    writes.push_back({std::vector<uint8_t>(data, data + moved), Now()});
    return static_cast<long>(moved);
  }
  long ReadPipe(Handle h, uint8_t* data, size_t count) override {
    EXPECT_TRUE(PipeOpen(h) && pipes_.at(h).end == PipeEnd::kRead) << "read on a bad handle";
    reads_at_ms.push_back(Now());
    if (replies.empty()) return -1;
    auto reply = std::move(replies.front());
    replies.pop_front();
    if (!reply) return -1;
    const size_t moved = std::min(count, reply->size());
    std::copy_n(reply->begin(), moved, data);
    return static_cast<long>(moved);
  }
  std::vector<DeviceEvent> TakeDeviceEvents() override {
    return std::exchange(pending_changes, {});
  }

 private:
  struct Pipe {
    std::string path;
    PipeEnd end;
  };
  int64_t Now() const { return clock_ != nullptr ? clock_->now_ms : 0; }

  const FakeClock* clock_;
  Handle next_handle_ = 10;
  std::map<Handle, Pipe> pipes_;
};

// A device whose attributes are the adapter's.
inline FakeDevice AdapterDevice() {
  FakeDevice device;
  device.attributes = {0x7E21, 0xB40D, 0x0100};
  return device;
}

}  // namespace travosk::link::testing
