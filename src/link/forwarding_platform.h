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
  std::optional<HidIdentity> Identify(const std::string& path) override {
    return inner_.Identify(path);
  }
  bool AnswersFeatureReport(const std::string& path) override {
    return inner_.AnswersFeatureReport(path);
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
