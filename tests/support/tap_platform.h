// A platform that passes everything through to another one and keeps a copy
// of every 16-byte command packet the link writes, so a test can check the
// exact bytes that went to the adapter.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/platform.h"

namespace travosk::support {

class TapPlatform final : public link::Platform {
 public:
  explicit TapPlatform(link::Platform& inner) : inner_(inner) {}

  std::vector<std::array<uint8_t, 16>> packets;

  std::optional<std::vector<std::string>> ListInterfaces(const std::string& guid) override {
    return inner_.ListInterfaces(guid);
  }
  link::Handle OpenDevice(const std::string& path) override { return inner_.OpenDevice(path); }
  void CloseDevice(link::Handle h) override { inner_.CloseDevice(h); }
  bool GetAttributes(link::Handle h, link::HidAttributes& out) override {
    return inner_.GetAttributes(h, out);
  }
  bool GetManufacturerString(link::Handle h, std::string& out) override {
    return inner_.GetManufacturerString(h, out);
  }
  bool GetProductString(link::Handle h, std::string& out) override {
    return inner_.GetProductString(h, out);
  }
  bool GetSerialNumberString(link::Handle h, std::string& out) override {
    return inner_.GetSerialNumberString(h, out);
  }
  bool GetPhysicalDescriptor(link::Handle h, std::array<uint8_t, 256>& out) override {
    return inner_.GetPhysicalDescriptor(h, out);
  }
  bool GetFeature(link::Handle h, std::array<uint8_t, 256>& out) override {
    return inner_.GetFeature(h, out);
  }
  std::string ReadHardwareKey(uint32_t node) override { return inner_.ReadHardwareKey(node); }
  link::Handle OpenPipe(const std::string& pipe_path, PipeEnd end) override {
    return inner_.OpenPipe(pipe_path, end);
  }
  void ClosePipe(link::Handle h) override { inner_.ClosePipe(h); }
  long WritePipe(link::Handle h, const uint8_t* data, size_t count) override {
    if (count == 16) {
      std::array<uint8_t, 16> packet;
      std::copy_n(data, 16, packet.begin());
      packets.push_back(packet);
    }
    return inner_.WritePipe(h, data, count);
  }
  long ReadPipe(link::Handle h, uint8_t* data, size_t count) override {
    return inner_.ReadPipe(h, data, count);
  }
  int NotificationDescriptor() override { return inner_.NotificationDescriptor(); }
  std::vector<link::DeviceChange> TakeDeviceChanges() override {
    return inner_.TakeDeviceChanges();
  }

 private:
  link::Platform& inner_;
};

}  // namespace travosk::support
