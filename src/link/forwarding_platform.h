// A platform that hands every operation to another one. Platforms that only
// watch the traffic (a test's packet tap, the benchmarks' trace) derive from it
// and override the one operation they look at.
#pragma once

#include "link/platform.h"

namespace travosk::link {

class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}

  std::optional<std::vector<std::string>> ListInterfaces() override {
    return inner_.ListInterfaces();
  }
  Handle OpenDevice(const std::string& path) override { return inner_.OpenDevice(path); }
  void CloseDevice(Handle h) override { inner_.CloseDevice(h); }
  bool GetAttributes(Handle h, HidAttributes& out) override { return inner_.GetAttributes(h, out); }
  bool GetManufacturerString(Handle h, std::string& out) override {
    return inner_.GetManufacturerString(h, out);
  }
  bool GetProductString(Handle h, std::string& out) override {
    return inner_.GetProductString(h, out);
  }
  bool GetSerialNumberString(Handle h, std::string& out) override {
    return inner_.GetSerialNumberString(h, out);
  }
  bool GetPhysicalDescriptor(Handle h, std::array<uint8_t, 256>& out) override {
    return inner_.GetPhysicalDescriptor(h, out);
  }
  bool GetFeature(Handle h, std::array<uint8_t, 256>& out) override {
    return inner_.GetFeature(h, out);
  }
  std::string ReadHardwareKey(uint32_t node) override { return inner_.ReadHardwareKey(node); }
  Handle OpenPipe(const std::string& pipe_path, PipeEnd end) override {
    return inner_.OpenPipe(pipe_path, end);
  }
  void ClosePipe(Handle h) override { inner_.ClosePipe(h); }
  long WritePipe(Handle h, const uint8_t* data, size_t count) override {
    return inner_.WritePipe(h, data, count);
  }
  long ReadPipe(Handle h, uint8_t* data, size_t count) override {
    return inner_.ReadPipe(h, data, count);
  }
  int NotificationDescriptor() override { return inner_.NotificationDescriptor(); }
  std::vector<DeviceEvent> TakeDeviceEvents() override { return inner_.TakeDeviceEvents(); }
  std::string InterfaceKind(const std::string& path) override { return inner_.InterfaceKind(path); }
  std::string OpenProblem() const override { return inner_.OpenProblem(); }

 private:
  Platform& inner_;
};

}  // namespace travosk::link
