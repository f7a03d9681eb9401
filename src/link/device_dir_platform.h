// The platform of the simulated adapters behind the device interface directory
// (device_root.h): interfaces are directories, their identity a text file, the
// pipes two FIFOs, and device-change notifications come from inotify on the
// class directory.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/device_root.h"
#include "link/platform.h"
#include "link/unique_fd.h"

namespace travosk::link {

class DeviceDirPlatform final : public Platform {
 public:
  // Works below root (created 0700 with its class directory when missing);
  // a root owned by another user is refused: no interfaces, no notifications.
  // A time-out of 0 or less takes DefaultPipeTimeoutMs(). Ignores SIGPIPE for
  // the process: a write to an adapter that has gone fails with EPIPE instead.
  explicit DeviceDirPlatform(std::string root = DeviceRoot(), int pipe_timeout_ms = 0);
  ~DeviceDirPlatform() override;
  DeviceDirPlatform(const DeviceDirPlatform&) = delete;
  DeviceDirPlatform& operator=(const DeviceDirPlatform&) = delete;

  const std::string& Root() const { return root_; }
  int PipeTimeoutMs() const { return pipe_timeout_ms_; }
  void SetPipeTimeoutMs(int ms);

  std::optional<std::vector<std::string>> ListInterfaces() override;
  std::optional<HidIdentity> Identify(const std::string& path) override;
  bool AnswersFeatureReport(const std::string& path) override;
  std::string ReadHardwareKey(uint32_t node) override;
  Handle OpenPipe(const std::string& pipe_path, PipeEnd end) override;
  void ClosePipe(Handle h) override;
  long WritePipe(Handle h, const uint8_t* data, size_t count) override;
  long ReadPipe(Handle h, uint8_t* data, size_t count) override;
  // The inotify descriptor (non-blocking), or -1 when inotify is unavailable.
  // The watch on the class directory is renewed if that directory is removed
  // and made again by a later scan.
  int NotificationDescriptor() override;
  std::vector<DeviceEvent> TakeDeviceEvents() override;
  std::string InterfaceKind(const std::string&) override { return "simulated adapter"; }

 private:
  void Watch();
  // The open write pipe of the interface whose read pipe h is, or -1.
  int WritePipeBeside(Handle h) const;

  std::string root_;
  int pipe_timeout_ms_;
  UniqueFd inotify_;
  int watch_ = -1;
  // Open pipes (the handle is the descriptor, which the entry owns): the
  // interface's path and end.
  struct OpenedPipe {
    UniqueFd fd;
    std::string interface;
    PipeEnd end;
  };
  std::map<Handle, OpenedPipe> pipes_;
};

}  // namespace travosk::link
