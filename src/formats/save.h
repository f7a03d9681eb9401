// The neutral save value: what every save file format is read into and
// written from, so that card operations never see a file layout. A PS2 save
// is its folder entry, the folder's "." and ".." entries and its files, each
// a directory entry and its bytes; a PS1 save is the directory frame of its
// first block and its blocks in chain order.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "card/fileip.h"
#include "common/bytes.h"

namespace travosk::formats {

// A file that is not of the format it was read as, or whose structure does
// not add up (lengths and offsets past its end are reported as InOutError,
// the error of a file that ends early).
class FormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr size_t kEntryBytes = card::entry::kBytes;  // 512
inline constexpr size_t kBlockBytes = card::kClusterBytes;  // one card cluster
// The most a save may hold or inflate to: the largest card there is (64 MB).
// A file that claims more is refused before anything is allocated for it.
inline constexpr uint64_t kMaxSaveBytes = uint64_t{64} << 20;
// Save files are read whole; nothing larger than a card and its headers is.
inline constexpr uint64_t kMaxSaveFileBytes = kMaxSaveBytes + (uint64_t{1} << 20);

using Entry = std::array<uint8_t, kEntryBytes>;

inline constexpr uint16_t kFileMode = card::entry::kModeNewFile;
inline constexpr uint16_t kFolderMode = card::entry::kModeNewFolder;
inline constexpr uint16_t kModeFile = card::entry::kModeFile;
// Bytes of a name an entry keeps: its 32-byte field, the last one its NUL.
inline constexpr size_t kEntryNameMax = 31;

struct Ps2File {
  Entry entry{};  // its directory entry; the first-cluster field is the card's business
  // The file's bytes, then the rest of its last 1,024-byte block as the
  // source held it: always whole blocks, (length + 1023) / 1024 of them.
  std::vector<uint8_t> data;

  std::string Name() const;
  uint32_t Length() const { return load_le32(entry, card::entry::kLength); }
  Bytes Content() const { return Bytes(data).first(std::min<size_t>(Length(), data.size())); }
};

struct Ps2Save {
  Entry folder{};  // the save folder's own entry; its length counts the files + 2
  Entry dot{};     // the folder's "." entry
  Entry dotdot{};  // the folder's ".." entry
  std::vector<Ps2File> files;

  std::string Name() const;
  // Clusters the save takes on a card, and one more for the root directory,
  // which may have to grow by a cluster to take its entry.
  uint64_t Clusters() const;
};

// An entry as other tools make one: the mode, the length, both times and the
// name, everything else zero.
Entry MakeEntry(uint16_t mode, uint32_t length, std::string_view name, std::time_t when);
// A file of the save with its bytes padded with zeros to whole blocks.
Ps2File MakeFile(const Entry& entry, Bytes content);
// A save folder entry with its "." and ".." and no files yet.
Ps2Save MakeSave(std::string_view name, std::time_t when);
// Adds a file, keeping the folder's length at files + 2.
void AddFile(Ps2Save& save, Ps2File file);
// An entry with the 8-byte time stamps a save file carries, taken as they are.
Entry MakeStampedEntry(uint16_t mode, uint32_t length, std::string_view name, Bytes created,
                       Bytes modified);
// Refuses (FormatError) a name no card entry can take: empty, "." or "..",
// holding a '/', or longer than the 31 bytes an entry's name field keeps.
void CheckEntryName(const std::string& name, std::string_view what);
// A file entry's mode: it must exist and be a file, never a folder.
bool IsFileMode(uint16_t mode);
bool IsFolderMode(uint16_t mode);

// The extension of a file path in lower case, empty when its last part has none.
std::string PathExtension(std::string_view path);

// Reads through a file in order, refusing every length that runs past its
// end: an InOutError naming the file, "<what> ends early".
class FileCursor {
 public:
  FileCursor(Bytes file, const std::string& source) : file_(file), source_(source) {}
  Bytes Take(uint64_t count, const char* what);
  Entry TakeEntry(const char* what);
  uint32_t TakeLe32(const char* what);
  size_t Left() const { return file_.size() - at_; }

 private:
  Bytes file_;
  const std::string& source_;
  size_t at_ = 0;
};

// A PS1 save, as a ".PS1"/".mcs" file holds it.
inline constexpr size_t kPs1FrameBytes = 128;
inline constexpr size_t kPs1BlockBytes = 8192;
inline constexpr size_t kPs1MaxBlocks = 15;
namespace ps1frame {
inline constexpr size_t kState = 0;       // 0x51: in use, first block of a save
inline constexpr size_t kSize = 4;        // u32: the save's size in bytes
inline constexpr size_t kLink = 8;        // u16: next block; 0xFFFF last
inline constexpr size_t kName = 10;       // file name, NUL terminated
inline constexpr size_t kNameMax = 20;    // characters a name may have (the 21st byte is its NUL)
inline constexpr size_t kChecksum = 127;  // XOR of bytes 0..126
inline constexpr uint8_t kFirst = 0x51;
}  // namespace ps1frame

struct Ps1Save {
  std::array<uint8_t, kPs1FrameBytes> frame{};  // directory frame of the first block
  std::vector<uint8_t> blocks;                  // whole 8,192-byte blocks, chain order

  std::string Name() const;
  size_t BlockCount() const { return blocks.size() / kPs1BlockBytes; }
};

// The directory frame a save of `blocks` blocks named `name` gets: state
// 0x51, its size, link 0xFFFF, the name and the checksum.
std::array<uint8_t, kPs1FrameBytes> MakePs1Frame(std::string_view name, size_t blocks);
void StorePs1Checksum(MutableBytes frame);

}  // namespace travosk::formats
