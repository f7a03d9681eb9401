#include "sim/medium.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/errors.h"
#include "sim/ecc.h"

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
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
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
      // Cards of 1 to 64 MB, each twice the one before.
      if (megabytes < 1 || megabytes > 64 || (megabytes & (megabytes - 1)) != 0)
        throw InOutError(path, "unsupported PS2 card size");
      return uint64_t(megabytes) * 1024 * 1024 / 512 * kRawPageBytes;
    case MediumKind::kSmartMedia:
      if (const auto* g = SmartMediaBySize(megabytes)) return uint64_t(g->pages) * kRawPageBytes;
      throw InOutError(path, "unsupported SmartMedia size");
    case MediumKind::kNone:
      break;
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
  ImageLayout layout;
  if (kind == MediumKind::kPS2) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
      const uint64_t size = static_cast<uint64_t>(st.st_size);
      layout.spare = size % kPS2BlockBytes == 0 || size % (kDataPageBytes * kPS2PagesPerBlock) != 0;
    }
  }
  return Open(path, kind, layout);
}

std::unique_ptr<Medium> Medium::Open(const std::string& path, MediumKind kind,
                                     const ImageLayout& layout) {
  const bool data_only = kind == MediumKind::kPS2 && !layout.spare;
  const bool file_unchanged = layout.read_only || layout.reading_only || layout.data_reads;
  FileDescriptor fd(::open(path.c_str(), (file_unchanged ? O_RDONLY : O_RDWR) | O_CLOEXEC));
  if (fd.get() < 0) throw InOutError(path, SystemReason());
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw InOutError(path, SystemReason());
  if (!S_ISREG(st.st_mode)) throw InOutError(path, "not a regular file");
  const uint64_t file_size = static_cast<uint64_t>(st.st_size);
  if (file_size < layout.header) throw InOutError(path, "the image is shorter than its header");
  const uint64_t body = file_size - layout.header;
  // The medium in raw layout: an ECC-less image gains its spare bytes.
  const uint64_t size = data_only ? body / kDataPageBytes * kRawPageBytes : body;

  uint32_t pages_per_block = kPS2PagesPerBlock;
  uint8_t device_code = 0;
  switch (kind) {
    case MediumKind::kPS1:
      if (size != kPS1CardBytes) throw InOutError(path, "not a PS1 card image (131072 bytes)");
      break;
    case MediumKind::kPS2:
      if (data_only ? body == 0 || body % (kDataPageBytes * kPS2PagesPerBlock) != 0
                    : size == 0 || size % kPS2BlockBytes != 0) {
        throw InOutError(path,
                         "not a PS2 card image (whole erase blocks of 528- or 512-byte pages)");
      }
      break;
    case MediumKind::kSmartMedia: {
      const auto* g = SmartMediaByImageBytes(size);
      if (!g) throw InOutError(path, "not a SmartMedia image of 4, 8, 16, 32 or 64 MB");
      pages_per_block = g->pages_per_block;
      device_code = g->device_code;
      break;
    }
    case MediumKind::kNone:
      throw InOutError(path, "unknown medium kind");
  }

  if (kind == MediumKind::kPS2 && layout.data_reads) {
    std::unique_ptr<Medium> medium(new Medium(path, kind, nullptr, static_cast<size_t>(size)));
    medium->layout_ = layout;
    medium->layout_.spare = !data_only;
    medium->layout_.reading_only = true;
    medium->blocks_.resize(static_cast<size_t>(size / kPS2BlockBytes));
    medium->reached_.assign(static_cast<size_t>(size / kRawPageBytes), false);
    medium->fd_ = fd.get();
    (void)fd.Release();
    return medium;
  }
  // An image that must stay as it is is mapped privately: the medium in
  // memory may change, the file never.
  void* map = ::mmap(nullptr, file_size, PROT_READ | PROT_WRITE,
                     file_unchanged ? MAP_PRIVATE : MAP_SHARED, fd.get(), 0);
  if (map == MAP_FAILED) throw InOutError(path, SystemReason());
  auto* file = static_cast<uint8_t*>(map);
  std::unique_ptr<Medium> medium;
  if (data_only) {
    void* shadow = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (shadow == MAP_FAILED) {
      const std::string reason = SystemReason();
      ::munmap(map, file_size);
      throw InOutError(path, reason);
    }
    medium.reset(new Medium(path, kind, static_cast<uint8_t*>(shadow), static_cast<size_t>(size)));
    medium->shadow_ = static_cast<uint8_t*>(shadow);
    medium->ready_.assign(static_cast<size_t>(size / kPS2BlockBytes), false);
  } else {
    medium.reset(new Medium(path, kind, file + layout.header, static_cast<size_t>(size)));
  }
  medium->map_ = file;
  medium->map_size_ = static_cast<size_t>(file_size);
  medium->layout_ = layout;
  medium->layout_.spare = !data_only;
  medium->pages_per_block_ = pages_per_block;
  medium->device_code_ = device_code;
  return medium;
}

void Medium::Ready(size_t offset, size_t length) const {
  if (fd_ >= 0) throw InOutError(path_, "a listing reaches the image a page or a block at a time");
  if (!shadow_ || length == 0) return;
  const size_t last = std::min(ready_.size(), (offset + length - 1) / kPS2BlockBytes + 1);
  const size_t data_block = kDataPageBytes * kPS2PagesPerBlock;
  for (size_t b = offset / kPS2BlockBytes; b < last; ++b) {
    if (ready_[b]) continue;
    // A block whose data bytes are all 0xFF is an erased one: its spare
    // bytes are erased too, as flash keeps them (a page written with 0xFF
    // in a block that holds data has its code).
    const uint8_t* block = map_ + layout_.header + b * data_block;
    // Each block is looked at once, and the code of an all-zero page (most
    // of a card never filled, a sparse file's holes) is worked out once.
    static const std::array<uint8_t, kDataPageBytes> zero_page{};
    static const auto zero_spare = PageSpare(std::span<const uint8_t, 512>(zero_page));
    const bool erased = block[0] == 0xFF && std::memcmp(block, block + 1, data_block - 1) == 0;
    for (size_t j = 0; j < kPS2PagesPerBlock; ++j) {
      const uint8_t* from = block + j * kDataPageBytes;
      uint8_t* to = shadow_ + (b * kPS2PagesPerBlock + j) * kRawPageBytes;
      std::memcpy(to, from, kDataPageBytes);
      if (erased) {
        std::memset(to + kDataPageBytes, 0xFF, kRawPageBytes - kDataPageBytes);
      } else if (std::memcmp(from, zero_page.data(), kDataPageBytes) == 0) {
        std::memcpy(to + kDataPageBytes, zero_spare.data(), zero_spare.size());
      } else {
        const auto spare = PageSpare(std::span<const uint8_t, 512>(from, kDataPageBytes));
        std::memcpy(to + kDataPageBytes, spare.data(), spare.size());
      }
    }
    ready_[b] = true;
  }
}

std::span<uint8_t> Medium::BlockRange(size_t offset, size_t length) {
  const size_t b = offset / kPS2BlockBytes;
  if (length == 0 || b >= blocks_.size() || offset + length > (b + 1) * kPS2BlockBytes)
    Ready(offset, length);  // throws
  auto& block = blocks_[b];
  if (!block) {
    auto made = std::make_unique<uint8_t[]>(kPS2BlockBytes);
    const size_t stride = layout_.spare ? kRawPageBytes : kDataPageBytes;
    const size_t bytes = stride * kPS2PagesPerBlock;
    // Read into the block's own end, then spread page by page to the front
    // (an ECC-less image's pages gain erased spare bytes).
    uint8_t* from = made.get() + kPS2BlockBytes - bytes;
    size_t done = 0;
    while (done < bytes) {
      const ssize_t n = ::pread(fd_, from + done, bytes - done,
                                static_cast<off_t>(layout_.header + b * bytes + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw InOutError(path_, n < 0 ? SystemReason() : "the image ends early");
      done += static_cast<size_t>(n);
    }
    if (!layout_.spare) {
      for (size_t j = 0; j < kPS2PagesPerBlock; ++j) {
        uint8_t* to = made.get() + j * kRawPageBytes;
        std::memmove(to, from + j * kDataPageBytes, kDataPageBytes);
        std::memset(to + kDataPageBytes, 0xFF, kRawPageBytes - kDataPageBytes);
      }
    }
    block = std::move(made);
  }
  for (size_t p = offset / kRawPageBytes; p <= (offset + length - 1) / kRawPageBytes; ++p)
    reached_[p] = true;
  return {block.get() + (offset - b * kPS2BlockBytes), length};
}

std::vector<uint32_t> Medium::PagesReached() const {
  std::vector<uint32_t> pages;
  for (size_t p = 0; p < reached_.size(); ++p)
    if (reached_[p]) pages.push_back(static_cast<uint32_t>(p));
  return pages;
}

void Medium::Touched(size_t offset, size_t length) {
  if (fd_ >= 0) return;
  if (!shadow_ || length == 0) return;
  // The data bytes of every page the change reached go back to the file.
  const size_t first = offset / kRawPageBytes;
  const size_t last =
      std::min(pages(), static_cast<uint32_t>((offset + length - 1) / kRawPageBytes + 1));
  for (size_t page = first; page < last; ++page)
    std::memcpy(map_ + layout_.header + page * kDataPageBytes, data_ + page * kRawPageBytes,
                kDataPageBytes);
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
  if (fd_ >= 0) ::close(fd_);
  if (shadow_) ::munmap(shadow_, size_);
  if (map_) ::munmap(map_, map_size_);
}

}  // namespace travosk::sim
