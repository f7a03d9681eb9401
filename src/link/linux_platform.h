// The platform over the device interface directory (device_root.h): interfaces
// are directories, their identity a text file, the pipes two FIFOs, and
// device-change notifications come from inotify on the class directory.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/device_root.h"
#include "link/platform.h"
#include "link/unique_fd.h"

namespace travosk::link {

// How long a pipe transfer waits for the adapter before it fails: an adapter
// that stops answering must not hang the program.
inline constexpr int kDefaultPipeTimeoutMs = 3000;

// kDefaultPipeTimeoutMs, or $TRAVOSK_PIPE_TIMEOUT_MS when that is a positive
// number of milliseconds.
int DefaultPipeTimeoutMs();

class LinuxPlatform final : public Platform {
 public:
  // Works below root (created 0700 with its class directory when missing);
  // a root owned by another user is refused: no interfaces, no notifications.
  // A time-out of 0 or less takes DefaultPipeTimeoutMs(). Ignores SIGPIPE for
  // the process: a write to an adapter that has gone fails with EPIPE instead.
  explicit LinuxPlatform(std::string root = DeviceRoot(), int pipe_timeout_ms = 0);
  ~LinuxPlatform() override;
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  const std::string& Root() const { return root_; }
  int PipeTimeoutMs() const { return pipe_timeout_ms_; }
  void SetPipeTimeoutMs(int ms);

  std::optional<std::vector<std::string>> ListInterfaces() override;
  Handle OpenDevice(const std::string& path) override;
  void CloseDevice(Handle h) override;
  bool GetAttributes(Handle h, HidAttributes& out) override;
  bool GetManufacturerString(Handle h, std::string& out) override;
  bool GetProductString(Handle h, std::string& out) override;
  bool GetSerialNumberString(Handle h, std::string& out) override;
  bool GetPhysicalDescriptor(Handle h, std::array<uint8_t, 256>& out) override;
  bool GetFeature(Handle h, std::array<uint8_t, 256>& out) override;
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
  const DeviceIdentity* Device(Handle h) const;
  void Watch();
  // The open write pipe of the interface whose read pipe h is, or -1.
  int WritePipeBeside(Handle h) const;

  std::string root_;
  int pipe_timeout_ms_;
  UniqueFd inotify_;
  int watch_ = -1;
  // Open devices: a handle is an index; closed entries are reused.
  std::vector<std::optional<DeviceIdentity>> devices_;
  // Open pipes (the handle is the descriptor): the interface's path and end.
  struct OpenedPipe {
    std::string interface;
    PipeEnd end;
  };
  std::map<Handle, OpenedPipe> pipes_;
};

}  // namespace travosk::link
