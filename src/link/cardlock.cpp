#include "link/cardlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "common/errors.h"
#include "link/device_root.h"

namespace travosk::link {

namespace {

// Waits for an exclusive flock on fd, polling: flock has no time-out of its
// own, and a program must never hang behind another one. The lock belongs to
// the open file, so two opens in one process exclude each other too.
bool LockWithin(int fd, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

std::chrono::milliseconds LockWait() {
  if (const char* text = std::getenv("TRAVOSK_LOCK_WAIT_MS"); text && *text) {
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    if (end && *end == '\0' && ms >= 0) return std::chrono::milliseconds(ms);
  }
  return std::chrono::seconds(5);
}

std::string DeviceLockPath(const std::string& device_path) {
  // Every byte but letters and digits is escaped, so that the name is one
  // file name whatever the platform's device paths look like; a path too
  // long for a file name is cut and told apart by its hash.
  std::string name;
  for (const unsigned char ch : device_path) {
    if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')) {
      name.push_back(static_cast<char>(ch));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", ch);
      name += hex;
    }
  }
  if (name.size() > 200) {
    char hash[24];
    std::snprintf(hash, sizeof hash, "-%016zx", std::hash<std::string>{}(device_path));
    name = name.substr(0, 180) + hash;
  }
  return DeviceRoot() + "/locks/" + name + ".lock";
}

CardLock::~CardLock() { Release(); }

CardLock::CardLock(CardLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

CardLock& CardLock::operator=(CardLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void CardLock::Release() {
  // Closing the descriptor drops the lock.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

CardLock CardLock::Take(int fd, std::chrono::milliseconds wait) {
  if (!LockWithin(fd, wait)) {
    ::close(fd);
    throw CardInUse();
  }
  return CardLock(fd);
}

CardLock CardLock::OnImage(const std::string& path, std::chrono::milliseconds wait) {
  // Read access suffices for the lock, and an image open for reading only
  // is locked as well as one that takes changes.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return CardLock();
  return Take(fd, wait);
}

CardLock CardLock::OnDevice(const std::string& device_path, std::chrono::milliseconds wait) {
  if (device_path.empty()) return CardLock();
  const std::string path = DeviceLockPath(device_path);
  if (!MakeDirectories(DeviceRoot() + "/locks")) throw InOutError(path, "cannot make the folder");
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw InOutError(path, std::strerror(errno));
  return Take(fd, wait);
}

}  // namespace travosk::link
