// Media of the simulated adapter, each backed by an image file that keeps every
// change: PS2 cards and SmartMedia as 528-byte pages (512 data + 16 spare), the
// raw format that emulators use; PS1 cards as 1,024 frames of 128 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/page.h"
#include "common/slots.h"

namespace travosk::sim {

// The kind of card a medium is; kNone names no medium.
using MediumKind = CardKind;

inline constexpr size_t kRawPageBytes = page::kBytes;
inline constexpr size_t kDataPageBytes = page::kDataBytes;
inline constexpr size_t kPS1FrameBytes = 128;
inline constexpr size_t kPS1CardBytes = 131072;
inline constexpr size_t kPS2CardBytes = 8650752;  // 16,384 pages

// SmartMedia sizes by capacity in MB (4, 8, 16, 32, 64): device code and pages.
struct SmartMediaGeometry {
  int megabytes;
  uint8_t device_code;
  uint32_t pages;
  uint32_t pages_per_block;
};
const SmartMediaGeometry* SmartMediaBySize(int megabytes);
const SmartMediaGeometry* SmartMediaByImageBytes(uint64_t bytes);

// How an image file holds its medium: after `header` bytes of its own (PS1
// images of some tools), with each PS2 page's 16 spare bytes or without them
// (ECC-less images: 512 data bytes a page, the code made afresh on opening).
// A read-only image takes no change: writes and erases leave it as it was.
// One opened for reading only is opened without write access: changes (the
// recovery of a mount) reach the medium in memory, never the file.
struct ImageLayout {
  uint64_t header = 0;
  bool spare = true;
  bool read_only = false;
  bool reading_only = false;
  // A PS2 image read for its listing: nothing is mapped, each erase block
  // the adapter reaches is read from the file when first reached, and an
  // ECC-less image's pages get erased spare bytes instead of their codes,
  // which nothing that lists reads. The file is never written (as
  // reading_only), and the medium is reached only a page or a block at a
  // time (Range; bytes() throws InOutError).
  bool data_reads = false;
};

class Medium {
 public:
  // Opens an existing image file for reading and writing; throws InOutError.
  // A PS2 image whose size is whole erase blocks of 512-byte pages but not of
  // 528-byte ones is taken as ECC-less.
  static std::unique_ptr<Medium> Open(const std::string& path, MediumKind kind);
  static std::unique_ptr<Medium> Open(const std::string& path, MediumKind kind,
                                      const ImageLayout& layout);
  // Creates a blank image: PS2 and SmartMedia erased (every byte 0xFF), PS1
  // zero frames; megabytes sizes PS2 cards (8 by default) and SmartMedia.
  static void CreateBlank(const std::string& path, MediumKind kind, int megabytes = 8);

  ~Medium();
  Medium(const Medium&) = delete;
  Medium& operator=(const Medium&) = delete;

  MediumKind kind() const { return kind_; }
  const std::string& path() const { return path_; }
  // The whole medium in raw layout (528-byte pages, or 1,024 PS1 frames).
  // Changes reach the file directly, or at Touched for images of another
  // layout; the adapter calls it after every write and erase.
  std::span<uint8_t> bytes() {
    Ready(0, size_);
    return {data_, size_};
  }
  std::span<const uint8_t> bytes() const {
    Ready(0, size_);
    return {data_, size_};
  }
  // `length` bytes of the raw medium from `offset`: what the adapter reaches
  // for one page or block. An ECC-less image makes its raw pages (their
  // codes) only for the blocks reached, so a large card opens and lists
  // without its whole image in memory.
  std::span<uint8_t> Range(size_t offset, size_t length) {
    if (fd_ >= 0) return BlockRange(offset, length);
    Ready(offset, length);
    return {data_ + offset, length};
  }

  uint32_t pages() const { return static_cast<uint32_t>(size_ / kRawPageBytes); }
  // data_reads: the pages reached so far, by number (what a listing read).
  std::vector<uint32_t> PagesReached() const;
  uint32_t pages_per_block() const { return pages_per_block_; }
  uint8_t device_code() const { return device_code_; }  // SmartMedia only
  const ImageLayout& layout() const { return layout_; }
  bool writable() const { return !layout_.read_only; }
  void Touched(size_t offset, size_t length);

 private:
  Medium(std::string path, MediumKind kind, uint8_t* data, size_t size);
  // Makes the raw pages of the ECC-less image's blocks that hold the range.
  void Ready(size_t offset, size_t length) const;
  // data_reads: the range within one erase block, read when first reached.
  std::span<uint8_t> BlockRange(size_t offset, size_t length);
  std::string path_;
  MediumKind kind_;
  uint8_t* data_;
  size_t size_;
  uint8_t* map_ = nullptr;  // the file's mapping, when it is not data_ itself
  size_t map_size_ = 0;
  // Raw pages of an ECC-less image: an anonymous mapping, whose memory is
  // taken only for the blocks made (ready_, one flag a block).
  uint8_t* shadow_ = nullptr;
  mutable std::vector<bool> ready_;
  ImageLayout layout_;
  // data_reads: the open file and the blocks read from it so far.
  int fd_ = -1;
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  std::vector<bool> reached_;
  uint32_t pages_per_block_ = 16;
  uint8_t device_code_ = 0;
};

}  // namespace travosk::sim
