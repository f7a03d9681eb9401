#include "sim/medium.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/errors.h"

namespace travosk::sim {

namespace {

constexpr uint32_t kPS2PagesPerBlock = 16;
constexpr uint64_t kPS2BlockBytes = kRawPageBytes * kPS2PagesPerBlock;

constexpr SmartMediaGeometry kSmartMedia[] = {
    {4, 0xE5, 8192, 16},   {8, 0xE6, 16384, 16},   {16, 0x73, 32768, 32},
    {32, 0x75, 65536, 32}, {64, 0x76, 131072, 32},
};

std::string SystemReason() {
  return std::strerror(errno);
}

// Owns a descriptor until the mapping (which outlives it) is made.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // close() reports write-back errors on some file systems; a caller that
  // wrote through the descriptor needs to see them.
  [[nodiscard]] bool Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

uint64_t BlankBytes(const std::string& path, MediumKind kind, int megabytes) {
  switch (kind) {
    case MediumKind::kPS1:
      return kPS1CardBytes;
    case MediumKind::kPS2:
      // The ReadCardSpecs reply gives the page count in 256s in one byte, so
      // 16 MB (32,768 pages) is the largest card the PC can size.
      if (megabytes < 1 || megabytes > 16) throw InOutError(path, "unsupported PS2 card size");
      return uint64_t(megabytes) * 1024 * 1024 / 512 * kRawPageBytes;
    case MediumKind::kSmartMedia:
      if (const auto* g = SmartMediaBySize(megabytes)) return uint64_t(g->pages) * kRawPageBytes;
      throw InOutError(path, "unsupported SmartMedia size");
  }
  throw InOutError(path, "unknown medium kind");
}

}  // namespace

const SmartMediaGeometry* SmartMediaBySize(int megabytes) {
  for (const auto& g : kSmartMedia) {
    if (g.megabytes == megabytes) return &g;
  }
  return nullptr;
}

const SmartMediaGeometry* SmartMediaByImageBytes(uint64_t bytes) {
  for (const auto& g : kSmartMedia) {
    if (uint64_t(g.pages) * kRawPageBytes == bytes) return &g;
  }
  return nullptr;
}

std::unique_ptr<Medium> Medium::Open(const std::string& path, MediumKind kind) {
  FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (fd.get() < 0) throw InOutError(path, SystemReason());
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw InOutError(path, SystemReason());
  if (!S_ISREG(st.st_mode)) throw InOutError(path, "not a regular file");
  const uint64_t size = static_cast<uint64_t>(st.st_size);

  uint32_t pages_per_block = kPS2PagesPerBlock;
  uint8_t device_code = 0;
  switch (kind) {
    case MediumKind::kPS1:
      if (size != kPS1CardBytes) throw InOutError(path, "not a PS1 card image (131072 bytes)");
      break;
    case MediumKind::kPS2:
      if (size == 0 || size % kPS2BlockBytes != 0) {
        throw InOutError(path, "not a PS2 card image (whole erase blocks of 528-byte pages)");
      }
      break;
    case MediumKind::kSmartMedia: {
      const auto* g = SmartMediaByImageBytes(size);
      if (!g) throw InOutError(path, "not a SmartMedia image of 4, 8, 16, 32 or 64 MB");
      pages_per_block = g->pages_per_block;
      device_code = g->device_code;
      break;
    }
  }

  void* map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (map == MAP_FAILED) throw InOutError(path, SystemReason());
  std::unique_ptr<Medium> medium(
      new Medium(path, kind, static_cast<uint8_t*>(map), static_cast<size_t>(size)));
  medium->pages_per_block_ = pages_per_block;
  medium->device_code_ = device_code;
  return medium;
}

void Medium::CreateBlank(const std::string& path, MediumKind kind, int megabytes) {
  const uint64_t size = BlankBytes(path, kind, megabytes);
  const uint8_t fill = kind == MediumKind::kPS1 ? 0x00 : 0xFF;

  // Written beside the target and renamed into place, so an existing image is
  // either replaced whole or left as it was.
  std::vector<char> tmpl(path.begin(), path.end());
  const std::string suffix = ".tmpXXXXXX";
  tmpl.insert(tmpl.end(), suffix.begin(), suffix.end());
  tmpl.push_back('\0');
  FileDescriptor fd(::mkstemp(tmpl.data()));
  if (fd.get() < 0) throw InOutError(path, SystemReason());
  const std::string tmp_path(tmpl.data());

  const std::vector<uint8_t> chunk(kRawPageBytes * 64, fill);
  uint64_t left = size;
  bool ok = true;
  while (ok && left > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
    ssize_t w = ::write(fd.get(), chunk.data(), n);
    if (w < 0 && errno == EINTR) continue;
    ok = w > 0;
    if (ok) left -= static_cast<uint64_t>(w);
  }
  std::string reason = ok ? "" : SystemReason();
  if (ok && ::fchmod(fd.get(), 0644) != 0) ok = false, reason = SystemReason();
  if (ok && !fd.Close()) ok = false, reason = SystemReason();
  if (ok && ::rename(tmp_path.c_str(), path.c_str()) != 0) ok = false, reason = SystemReason();
  if (!ok) {
    ::unlink(tmp_path.c_str());
    throw InOutError(path, reason);
  }
}

Medium::Medium(std::string path, MediumKind kind, uint8_t* data, size_t size)
    : path_(std::move(path)), kind_(kind), data_(data), size_(size) {}

Medium::~Medium() {
  ::munmap(data_, size_);
}

}  // namespace travosk::sim
