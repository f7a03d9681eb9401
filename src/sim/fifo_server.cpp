#include "sim/fifo_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/errors.h"
#include "link/device_root.h"

namespace travosk::sim {

namespace {

constexpr size_t kPacketBytes = 16;
constexpr size_t kDataPhaseBytes = 512;
// Node numbers tried when looking for a free one.
constexpr uint32_t kMaxNode = 4096;

std::string Reason() {
  return std::strerror(errno);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

link::DeviceIdentity Identity(uint32_t node) {
  link::DeviceIdentity id;
  id.vendor = kUsbVendor;
  id.product = kUsbProduct;
  id.version = kUsbVersion;
  id.manufacturer = kUsbManufacturer;
  id.product_name = kUsbProductName;
  id.serial = "SIM" + link::NodeName(node);
  id.physical_descriptor.assign(std::begin(kUsbPhysicalDescriptor),
                                std::end(kUsbPhysicalDescriptor));
  id.hardware_key = kUsbHardwareKey;
  id.feature = false;  // the adapter answers no HID reports
  return id;
}

}  // namespace

FifoServer::FifoServer(Adapter& adapter, std::string root)
    : adapter_(adapter), root_(std::move(root)) {
  const std::string class_dir = link::ClassDirectory(root_);
  if (!link::MakeDirectories(class_dir)) throw InOutError(class_dir, Reason());
  if (!link::MakeDirectories(link::NodesDirectory(root_))) {
    throw InOutError(link::NodesDirectory(root_), Reason());
  }
  int stop[2];
  if (::pipe2(stop, O_NONBLOCK | O_CLOEXEC) != 0) throw InOutError("stop pipe", Reason());
  stop_read_.reset(stop[0]);
  stop_write_.reset(stop[1]);

  SweepDeadInterfaces();

  // The lowest node number that no interface or node key uses. Another
  // adapter may take the same number between the look and the rename; the
  // rename then fails and the next number is tried.
  for (uint32_t node = 1; node <= kMaxNode; ++node) {
    if (Exists(link::InterfacePath(root_, node)) || Exists(link::NodeKeyPath(root_, node))) {
      continue;
    }
    node_ = node;
    staging_ = root_ + "/.plugging-" + link::NodeName(node) + "-" + std::to_string(::getpid());
    device_path_ = link::InterfacePath(root_, node);
    try {
      Publish();
      return;
    } catch (const InOutError&) {
      if (!Exists(device_path_)) throw;  // not a lost race: a real failure
    }
  }
  throw InOutError(class_dir, "no free device node number");
}

FifoServer::~FifoServer() {
  Unplug();
}

void FifoServer::Publish() {
  const auto fail = [this](const std::string& what, const std::string& reason) {
    commands_.reset();
    replies_.reset();
    Discard(staging_);
    // When another adapter won the node number, the key is its own now.
    if (!Exists(device_path_)) ::unlink(link::NodeKeyPath(root_, node_).c_str());
    throw InOutError(what, reason);
  };
  if (::mkdir(staging_.c_str(), 0700) != 0) throw InOutError(staging_, Reason());
  const std::string read_pipe = staging_ + "/" + link::kReadPipeName;
  const std::string write_pipe = staging_ + "/" + link::kWritePipeName;
  try {
    link::WriteIdentity(staging_ + "/" + link::kIdentityFileName, Identity(node_));
  } catch (const InOutError& e) {
    fail(e.file(), e.reason());
  }
  if (::mkfifo(read_pipe.c_str(), 0600) != 0) fail(read_pipe, Reason());
  if (::mkfifo(write_pipe.c_str(), 0600) != 0) fail(write_pipe, Reason());
  // Held open for reading and writing: the PC's non-blocking opens then always
  // find a peer, and the FIFOs never see end-of-file while the adapter runs.
  replies_.reset(::open(read_pipe.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!replies_.valid()) fail(read_pipe, Reason());
  commands_.reset(::open(write_pipe.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!commands_.valid()) fail(write_pipe, Reason());
  try {
    link::WriteNodeKey(root_, node_, kUsbHardwareKey);
  } catch (const InOutError& e) {
    fail(e.file(), e.reason());
  }
  // The arrival: the interface appears in the class directory complete.
  if (::rename(staging_.c_str(), device_path_.c_str()) != 0) fail(device_path_, Reason());
  plugged_ = true;
}

// An adapter program that was killed could not unplug: its interface stays in
// the class directory with FIFOs that nobody serves, and the PC would pick it
// as readily as a live one. A live adapter holds its command FIFO open, so a
// writer's non-blocking open fails with ENXIO only on a dead one.
void FifoServer::SweepDeadInterfaces() noexcept {
  const std::string class_dir = link::ClassDirectory(root_);
  DIR* d = ::opendir(class_dir.c_str());
  if (!d) return;
  std::vector<std::string> dead;
  while (const dirent* e = ::readdir(d)) {
    if (!link::ParseNodeName(e->d_name)) continue;
    const std::string path = class_dir + "/" + e->d_name;
    const int fd =
        ::open((path + "/" + link::kWritePipeName).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
    } else if (errno == ENXIO) {
      dead.push_back(e->d_name);
    }
  }
  ::closedir(d);
  for (const std::string& name : dead) {
    const std::string out = root_ + "/.dead-" + name + "-" + std::to_string(::getpid());
    if (::rename((class_dir + "/" + name).c_str(), out.c_str()) != 0) continue;
    Discard(out);
    ::unlink((link::NodesDirectory(root_) + "/" + name).c_str());
  }
}

void FifoServer::Discard(const std::string& dir) noexcept {
  for (const char* name : {link::kReadPipeName, link::kWritePipeName, link::kIdentityFileName}) {
    ::unlink((dir + "/" + name).c_str());
  }
  ::rmdir(dir.c_str());
}

void FifoServer::Unplug() noexcept {
  if (!plugged_) return;
  plugged_ = false;
  // The removal first, so that the PC hears of it while the FIFOs still
  // exist; closing them then fails any transfer the PC still makes.
  const bool moved = ::rename(device_path_.c_str(), staging_.c_str()) == 0;
  commands_.reset();
  replies_.reset();
  Discard(moved ? staging_ : device_path_);
  ::unlink(link::NodeKeyPath(root_, node_).c_str());
}

void FifoServer::RequestStop() noexcept {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(stop_write_.get(), &byte, 1);
}

void FifoServer::Serve() {
  if (!plugged_) return;
  in_.clear();
  for (;;) {
    pollfd fds[2] = {{commands_.get(), POLLIN, 0}, {stop_read_.get(), POLLIN, 0}};
    const bool midway = !in_.empty() || adapter_.ExpectsDataPhase();
    const int ready = ::poll(fds, 2, midway ? abandon_ms_ : -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw InOutError(device_path_, Reason());
    }
    if (fds[1].revents != 0) {
      char drain[16];
      while (::read(stop_read_.get(), drain, sizeof drain) > 0) {
      }
      return;
    }
    if (ready == 0) {
      in_.clear();
      adapter_.AbortTransaction();
      continue;
    }
    while (ReadSome()) {
    }
    // An adapter that unplugged itself (its fault injection) is removed as a
    // real one would be: the interface leaves, and transfers fail.
    if (!adapter_.plugged()) {
      Unplug();
      return;
    }
  }
}

bool FifoServer::ReadSome() {
  if (!adapter_.plugged()) return false;
  const size_t need = adapter_.ExpectsDataPhase() ? kDataPhaseBytes : kPacketBytes;
  const size_t have = in_.size();
  // A new packet makes any unread reply stale (the PC gave up waiting for
  // it). It is dropped before the packet leaves the FIFO: the PC reads an
  // answer only once its packets have all been taken, so from then on the
  // FIFO can hold nothing but the answer to the last of them.
  int waiting = 0;
  if (have == 0 && need == kPacketBytes && ::ioctl(commands_.get(), FIONREAD, &waiting) == 0 &&
      waiting > 0) {
    DropUnreadReplies();
  }
  in_.resize(need);
  const ssize_t n = ::read(commands_.get(), in_.data() + have, need - have);
  if (n <= 0) {
    in_.resize(have);
    if (n < 0 && errno == EINTR) return true;
    if (n < 0 && errno != EAGAIN) throw InOutError(device_path_, Reason());
    return false;
  }
  in_.resize(have + static_cast<size_t>(n));
  if (in_.size() == need) Dispatch();
  return true;
}

void FifoServer::Dispatch() {
  (void)adapter_.Write(in_.data(), in_.size());
  in_.clear();
  if (!adapter_.HasReply()) return;
  // The PC sends nothing while it waits for a reply, so a packet already
  // behind this one means it stopped waiting: sent now, the reply could be
  // read as the answer to that packet before it is seen and dropped.
  int waiting = 0;
  if (::ioctl(commands_.get(), FIONREAD, &waiting) == 0 && waiting > 0) {
    uint8_t stale[kDataPhaseBytes];
    (void)adapter_.Read(stale, sizeof stale);
    return;
  }
  SendReply();
}

void FifoServer::DropUnreadReplies() {
  uint8_t drain[kDataPhaseBytes];
  while (::read(replies_.get(), drain, sizeof drain) > 0) {
  }
}

void FifoServer::SendReply() {
  uint8_t reply[kDataPhaseBytes];
  const long n = adapter_.Read(reply, sizeof reply);
  if (n <= 0) return;
  size_t done = 0;
  while (done < static_cast<size_t>(n)) {
    const ssize_t w = ::write(replies_.get(), reply + done, static_cast<size_t>(n) - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN) throw InOutError(device_path_, Reason());
    // Full only when the PC left many replies unread; wait for room or a stop.
    if (!WaitFor(replies_.get(), POLLOUT, -1)) return;
  }
}

bool FifoServer::WaitFor(int fd, short events, int timeout_ms) {
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {stop_read_.get(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || fds[1].revents != 0) return false;
    return true;
  }
}

}  // namespace travosk::sim
