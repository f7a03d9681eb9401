// Several platforms seen as one, and the platform the programs use: every
// kind of adapter this system can reach at once, so that the front ends never
// name one.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/platform.h"
#include "link/unique_fd.h"

namespace travosk::link {

// Several platforms seen as one: their interfaces listed one after the other,
// each device, pipe and device node served by the platform it came from, and
// their notifications gathered behind one descriptor.
class CombinedPlatform final : public Platform {
 public:
  explicit CombinedPlatform(std::vector<std::unique_ptr<Platform>> parts);
  ~CombinedPlatform() override;
  CombinedPlatform(const CombinedPlatform&) = delete;
  CombinedPlatform& operator=(const CombinedPlatform&) = delete;

  // nullopt only when no part could list its interfaces.
  std::optional<std::vector<std::string>> ListInterfaces() override;
  std::optional<HidIdentity> Identify(const std::string& path) override;
  bool AnswersFeatureReport(const std::string& path) override;
  std::string ReadHardwareKey(uint32_t node) override;
  Handle OpenPipe(const std::string& pipe_path, PipeEnd end) override;
  void ClosePipe(Handle h) override;
  long WritePipe(Handle h, const uint8_t* data, size_t count) override;
  long ReadPipe(Handle h, uint8_t* data, size_t count) override;
  // An epoll descriptor over the parts' own, readable when any of them is.
  int NotificationDescriptor() override;
  std::vector<DeviceEvent> TakeDeviceEvents() override;
  std::string InterfaceKind(const std::string& path) override;
  std::string OpenProblem() const override;

 private:
  // The part that listed path (or a pipe below it), or nullopt.
  std::optional<size_t> OwnerOf(const std::string& path) const;
  Handle Wrap(size_t part, Handle inner);
  // The part and the part's own handle behind h, or nullptr.
  const std::pair<size_t, Handle>* Unwrap(Handle h) const;

  std::vector<std::unique_ptr<Platform>> parts_;
  std::map<std::string, size_t> owners_;    // device path -> part, from the last listing
  std::map<uint32_t, size_t> node_owners_;  // device node -> part of its last notification
  std::map<Handle, std::pair<size_t, Handle>> handles_;
  Handle next_handle_ = 1;
  UniqueFd epoll_;
};

// The simulated adapters of the device interface directory and the real ones
// on USB, in that order: with both present, a real adapter is the one the
// scan keeps.
std::unique_ptr<Platform> MakePlatform();

}  // namespace travosk::link
