#include "link/device_dir_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace travosk::link {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t kArrivalMask = IN_CREATE | IN_MOVED_TO;
constexpr uint32_t kRemovalMask = IN_DELETE | IN_MOVED_FROM;

void IgnoreSigpipe() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

// Milliseconds left until deadline, at least 0.
int RemainingMs(SteadyClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until fd is ready for events or the deadline passes. False on time-out
// or error; true also when the peer hung up, so that the read or write that
// follows reports it.
bool WaitReady(int fd, short events, SteadyClock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, RemainingMs(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

// A text the identity file leaves empty is a string the device does not have.
std::optional<std::string> StringOf(const std::string& text) {
  return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

// The device root decides which adapters this user talks to, so it must be
// this user's own: a root that someone else made (say a planted
// /tmp/travosk-<uid>) is not used.
bool OwnDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

// Bytes written to a FIFO that its reader has not taken yet (0 when unknown).
int QueuedBytes(int fd) {
  int queued = 0;
  return ::ioctl(fd, FIONREAD, &queued) == 0 ? queued : 0;
}

}  // namespace

DeviceDirPlatform::DeviceDirPlatform(std::string root, int pipe_timeout_ms)
    : root_(std::move(root)),
      pipe_timeout_ms_(pipe_timeout_ms > 0 ? pipe_timeout_ms : DefaultPipeTimeoutMs()),
      inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  IgnoreSigpipe();
  Watch();
}

DeviceDirPlatform::~DeviceDirPlatform() = default;

void DeviceDirPlatform::SetPipeTimeoutMs(int ms) {
  pipe_timeout_ms_ = ms > 0 ? ms : DefaultPipeTimeoutMs();
}

// The watch needs the class directory to exist before any adapter has been
// plugged in, so it is created here.
void DeviceDirPlatform::Watch() {
  if (!inotify_.valid() || watch_ >= 0) return;
  const std::string directory = ClassDirectory(root_);
  if (!MakeDirectories(directory) || !OwnDirectory(root_)) return;
  watch_ = ::inotify_add_watch(inotify_.get(), directory.c_str(),
                               kArrivalMask | kRemovalMask | IN_ONLYDIR);
}

std::optional<std::vector<std::string>> DeviceDirPlatform::ListInterfaces() {
  const std::string directory = ClassDirectory(root_);
  if (!MakeDirectories(directory) || !OwnDirectory(root_)) return std::nullopt;
  Watch();
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), ::closedir);
  if (!dir) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (!ParseNodeName(name)) continue;
    struct stat info {};
    if (::fstatat(::dirfd(dir.get()), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(info.st_mode)) {
      continue;
    }
    names.push_back(name);
  }
  // Directory order is arbitrary; node order keeps the scan repeatable.
  std::sort(names.begin(), names.end());
  std::vector<std::string> paths;
  paths.reserve(names.size());
  for (const std::string& name : names) paths.push_back(directory + "/" + name);
  return paths;
}

std::optional<HidIdentity> DeviceDirPlatform::Identify(const std::string& path) {
  const auto device = ReadIdentity(path + "/" + kIdentityFileName);
  if (!device) return std::nullopt;
  HidIdentity identity;
  identity.attributes = {device->vendor, device->product, device->version};
  identity.manufacturer = StringOf(device->manufacturer);
  identity.product = StringOf(device->product_name);
  identity.serial_number = StringOf(device->serial);
  if (!device->physical_descriptor.empty())
    identity.physical_descriptor = device->physical_descriptor;
  return identity;
}

bool DeviceDirPlatform::AnswersFeatureReport(const std::string& path) {
  const auto device = ReadIdentity(path + "/" + kIdentityFileName);
  return device && device->feature;
}

std::string DeviceDirPlatform::ReadHardwareKey(uint32_t node) {
  return ReadNodeKey(root_, node);
}

// Both ends open without blocking: the adapter holds each FIFO open for reading
// and writing, so a missing peer (ENXIO on the write end) means no adapter.
Handle DeviceDirPlatform::OpenPipe(const std::string& pipe_path, PipeEnd end) {
  const int flags = (end == PipeEnd::kRead ? O_RDONLY : O_WRONLY) | O_NONBLOCK | O_CLOEXEC;
  UniqueFd fd(::open(pipe_path.c_str(), flags));
  if (!fd.valid()) return kInvalidHandle;
  const Handle h = fd.get();
  pipes_[h] = {std::move(fd), pipe_path.substr(0, pipe_path.rfind('/')), end};
  return h;
}

void DeviceDirPlatform::ClosePipe(Handle h) {
  pipes_.erase(h);
}

int DeviceDirPlatform::WritePipeBeside(Handle h) const {
  const auto read = pipes_.find(h);
  if (read == pipes_.end()) return -1;
  for (const auto& [fd, pipe] : pipes_) {
    if (pipe.end == PipeEnd::kWrite && pipe.interface == read->second.interface) return fd;
  }
  return -1;
}

long DeviceDirPlatform::WritePipe(Handle h, const uint8_t* data, size_t count) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(pipe_timeout_ms_);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(h, data + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // The FIFO is full: the adapter is behind. Wait for room, not forever.
      if (!WaitReady(h, POLLOUT, deadline)) return -1;
      continue;
    }
    return -1;
  }
  return static_cast<long>(done);
}

long DeviceDirPlatform::ReadPipe(Handle h, uint8_t* data, size_t count) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(pipe_timeout_ms_);
  // A reply is read only once the adapter has taken every byte sent to it.
  // Before, the read FIFO may still hold the answer to an earlier packet
  // (one the PC stopped waiting for): the adapter drops such a reply when it
  // takes the next packet, but a read made before that would take it as the
  // answer to this one.
  const int sent = WritePipeBeside(h);
  size_t done = 0;
  while (done == 0 && sent >= 0 && QueuedBytes(sent) > 0) {
    pollfd entry{h, POLLIN, 0};
    const int ready = ::poll(&entry, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return -1;
    if ((entry.revents & POLLIN) == 0) return -1;  // every writer has gone
    // Bytes wait, but they answer an earlier packet: let the adapter drop them.
    if (QueuedBytes(sent) > 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  while (done < count) {
    const ssize_t n = ::read(h, data + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return -1;  // every writer has gone: the adapter was unplugged
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return -1;
    if (!WaitReady(h, POLLIN, deadline)) return -1;
  }
  return static_cast<long>(done);
}

int DeviceDirPlatform::NotificationDescriptor() {
  return inotify_.valid() ? inotify_.get() : -1;
}

std::vector<DeviceEvent> DeviceDirPlatform::TakeDeviceEvents() {
  std::vector<DeviceEvent> changes;
  if (!inotify_.valid()) return changes;
  alignas(inotify_event) char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(inotify_.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size_t offset = 0;
    while (offset + sizeof(inotify_event) <= static_cast<size_t>(n)) {
      inotify_event event;
      std::memcpy(&event, buffer + offset, sizeof event);
      const size_t name_at = offset + sizeof event;
      offset = name_at + event.len;
      if (offset > static_cast<size_t>(n)) break;
      if ((event.mask & IN_IGNORED) != 0 && event.wd == watch_) {
        watch_ = -1;  // the class directory itself went away
        continue;
      }
      if ((event.mask & IN_ISDIR) == 0 || event.len == 0) continue;
      const std::string name(buffer + name_at, ::strnlen(buffer + name_at, event.len));
      const auto node = ParseNodeName(name);
      if (!node) continue;
      if ((event.mask & kArrivalMask) != 0) {
        changes.push_back({true, *node});
      } else if ((event.mask & kRemovalMask) != 0) {
        changes.push_back({false, *node});
      }
    }
  }
  Watch();
  return changes;
}

}  // namespace travosk::link
