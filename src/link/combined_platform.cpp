#include "link/combined_platform.h"

#include <sys/epoll.h>

#include "link/device_dir_platform.h"
#include "link/usb_platform.h"

namespace travosk::link {

CombinedPlatform::CombinedPlatform(std::vector<std::unique_ptr<Platform>> parts)
    : parts_(std::move(parts)) {}

CombinedPlatform::~CombinedPlatform() {
  // Handles still open belong to their parts, which close them as they go.
}

std::optional<std::vector<std::string>> CombinedPlatform::ListInterfaces() {
  std::optional<std::vector<std::string>> all;
  owners_.clear();
  for (size_t i = 0; i < parts_.size(); ++i) {
    auto paths = parts_[i]->ListInterfaces();
    if (!paths) continue;
    if (!all) all.emplace();
    for (auto& path : *paths) {
      owners_.emplace(path, i);
      all->push_back(std::move(path));
    }
  }
  return all;
}

std::optional<size_t> CombinedPlatform::OwnerOf(const std::string& path) const {
  for (std::string prefix = path;;) {
    if (auto it = owners_.find(prefix); it != owners_.end()) return it->second;
    const size_t slash = prefix.rfind('/');
    if (slash == std::string::npos || slash == 0) return std::nullopt;
    prefix.resize(slash);
  }
}

Handle CombinedPlatform::Wrap(size_t part, Handle inner) {
  if (inner == kInvalidHandle) return kInvalidHandle;
  const Handle h = next_handle_++;
  handles_[h] = {part, inner};
  return h;
}

const std::pair<size_t, Handle>* CombinedPlatform::Unwrap(Handle h) const {
  auto it = handles_.find(h);
  return it == handles_.end() ? nullptr : &it->second;
}

std::optional<HidIdentity> CombinedPlatform::Identify(const std::string& path) {
  const auto owner = OwnerOf(path);
  return owner ? parts_[*owner]->Identify(path) : std::nullopt;
}

bool CombinedPlatform::AnswersFeatureReport(const std::string& path) {
  const auto owner = OwnerOf(path);
  return owner && parts_[*owner]->AnswersFeatureReport(path);
}

std::string CombinedPlatform::ReadHardwareKey(uint32_t node) {
  // Node numbers are each part's own; the part that announced the node knows
  // its key best.
  if (auto it = node_owners_.find(node); it != node_owners_.end()) {
    return parts_[it->second]->ReadHardwareKey(node);
  }
  for (auto& part : parts_) {
    if (std::string key = part->ReadHardwareKey(node); !key.empty()) return key;
  }
  return "";
}

Handle CombinedPlatform::OpenPipe(const std::string& pipe_path, PipeEnd end) {
  // DevicePath outlives the listing that found it (an arrival that finds
  // nothing reopens the old path), so an unknown path is offered to each part.
  if (const auto owner = OwnerOf(pipe_path)) {
    return Wrap(*owner, parts_[*owner]->OpenPipe(pipe_path, end));
  }
  for (size_t i = 0; i < parts_.size(); ++i) {
    if (Handle h = parts_[i]->OpenPipe(pipe_path, end); h != kInvalidHandle) return Wrap(i, h);
  }
  return kInvalidHandle;
}

void CombinedPlatform::ClosePipe(Handle h) {
  if (const auto* inner = Unwrap(h)) {
    parts_[inner->first]->ClosePipe(inner->second);
    handles_.erase(h);
  }
}

long CombinedPlatform::WritePipe(Handle h, const uint8_t* data, size_t count) {
  const auto* inner = Unwrap(h);
  return inner != nullptr ? parts_[inner->first]->WritePipe(inner->second, data, count) : -1;
}

long CombinedPlatform::ReadPipe(Handle h, uint8_t* data, size_t count) {
  const auto* inner = Unwrap(h);
  return inner != nullptr ? parts_[inner->first]->ReadPipe(inner->second, data, count) : -1;
}

int CombinedPlatform::NotificationDescriptor() {
  if (!epoll_.valid()) {
    UniqueFd epoll(::epoll_create1(EPOLL_CLOEXEC));
    if (!epoll.valid()) return -1;
    bool any = false;
    for (size_t i = 0; i < parts_.size(); ++i) {
      const int fd = parts_[i]->NotificationDescriptor();
      if (fd < 0) continue;
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.u64 = i;
      any = ::epoll_ctl(epoll.get(), EPOLL_CTL_ADD, fd, &event) == 0 || any;
    }
    if (!any) return -1;
    epoll_ = std::move(epoll);
  }
  return epoll_.get();
}

std::vector<DeviceEvent> CombinedPlatform::TakeDeviceEvents() {
  std::vector<DeviceEvent> all;
  for (size_t i = 0; i < parts_.size(); ++i) {
    for (const DeviceEvent& change : parts_[i]->TakeDeviceEvents()) {
      node_owners_[change.node] = i;
      all.push_back(change);
    }
  }
  return all;
}

std::string CombinedPlatform::InterfaceKind(const std::string& path) {
  const auto owner = OwnerOf(path);
  return owner ? parts_[*owner]->InterfaceKind(path) : "adapter";
}

std::string CombinedPlatform::OpenProblem() const {
  for (const auto& part : parts_) {
    if (std::string problem = part->OpenProblem(); !problem.empty()) return problem;
  }
  return "";
}

std::unique_ptr<Platform> MakePlatform() {
  std::vector<std::unique_ptr<Platform>> parts;
  parts.push_back(std::make_unique<DeviceDirPlatform>());
  parts.push_back(std::make_unique<UsbPlatform>());
  return std::make_unique<CombinedPlatform>(std::move(parts));
}

}  // namespace travosk::link
