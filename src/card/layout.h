// The PS2 file system's on-card records: the superblock (page 0), the
// allocation table's entries and the 512-byte directory entry. Every offset
// is read and written through the little-endian helpers of common/bytes.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/bytes.h"
#include "common/page.h"

namespace travosk::card {

// Page sizes in the card's own terms (common/page.h).
inline constexpr int kPageBytes = static_cast<int>(page::kBytes);
inline constexpr int kPageDataBytes = static_cast<int>(page::kDataBytes);
// A cluster is two pages' data.
inline constexpr int kClusterBytes = 2 * kPageDataBytes;

// Superblock (card page 0, its 512 data bytes).
namespace superblock {
inline constexpr size_t kMagicAt = 0x00;          // 28 bytes: kMagic
inline constexpr size_t kVersion = 0x1C;          // 12 bytes, NUL padded
inline constexpr size_t kPageLength = 0x28;       // u16: 512
inline constexpr size_t kPagesPerCluster = 0x2A;  // u16: 2
inline constexpr size_t kPagesPerBlock = 0x2C;    // u16
inline constexpr size_t kUnknown2E = 0x2E;        // u16, 0xFF00 on every formatted card
inline constexpr size_t kClusters = 0x30;         // u32 clusters per card
inline constexpr size_t kAllocOffset = 0x34;      // u32 card cluster of relative cluster 0
inline constexpr size_t kAllocEnd = 0x38;         // u32 relative clusters files may use
inline constexpr size_t kRootCluster = 0x3C;      // u32 relative
inline constexpr size_t kBackupBlock1 = 0x40;     // u32 erase block
inline constexpr size_t kBackupBlock2 = 0x44;     // u32 erase block
inline constexpr size_t kIndirectList = 0x50;     // 32 × u32 indirect table clusters
inline constexpr size_t kBadBlockList = 0xD0;     // 32 × u32
inline constexpr size_t kCardType = 0x150;        // u8: 2
inline constexpr size_t kCardFlags = 0x151;       // u8
inline constexpr size_t kListEntries = 32;
static_assert(kIndirectList + 4 * kListEntries == kBadBlockList);
static_assert(kBadBlockList + 4 * kListEntries <= kCardType);
static_assert(kCardFlags + 1 <= page::kDataBytes);

// The volume takes the table's cluster count as the cluster count / 256 and
// the indirect cluster from the first list entry's low byte.
inline constexpr size_t kIndirectCluster = kIndirectList;

// The formatter writes all 28 bytes; a card is recognised by the first 27,
// the text without its trailing space.
inline constexpr std::string_view kMagic = "Sony PS2 Memory Card Format ";
inline constexpr size_t kMagicLength = 27;
static_assert(kMagicAt + kMagic.size() <= kVersion);
}  // namespace superblock

// Allocation table entries.
inline constexpr uint32_t kChainEnd = 0xFFFFFFFF;
inline constexpr uint32_t kFreeEntry = 0x7FFFFFFF;
inline constexpr uint32_t kInUse = 0x80000000;
// The bits of a FAT entry that carry the next cluster of a chain.
inline constexpr uint32_t kNextMask = 0x7FFFFFFF;

// On-card directory entry (512 bytes, two to a cluster).
namespace entry {
inline constexpr size_t kMode = 0x00;        // u16: the kMode* bits below
inline constexpr size_t kReserved = 0x02;    // u16: must be 0
inline constexpr size_t kLength = 0x04;      // u32: file bytes, or directory entries
inline constexpr size_t kCreated = 0x08;     // 8 bytes, carried unchanged
inline constexpr size_t kCluster = 0x10;     // u32: first relative cluster
inline constexpr size_t kDirEntry = 0x14;    // u32: in ".", the folder's index in its parent
inline constexpr size_t kModified = 0x18;    // 8 bytes, carried unchanged
inline constexpr size_t kAttributes = 0x20;  // 32 bytes, all zero on entries the walk accepts
inline constexpr size_t kName = 0x40;        // name, NUL padded
inline constexpr size_t kBytes = 512;
inline constexpr size_t kNameMax = 256;
static_assert(kName + kNameMax <= kBytes);
static_assert(2 * kBytes == static_cast<size_t>(kClusterBytes));

inline constexpr uint16_t kModeRead = 0x0001;
inline constexpr uint16_t kModeWrite = 0x0002;
inline constexpr uint16_t kModeExecute = 0x0004;
inline constexpr uint16_t kModeFile = 0x0010;
inline constexpr uint16_t kModeDirectory = 0x0020;
inline constexpr uint16_t kModePS2 = 0x0400;  // set on every entry a PS2 writes
inline constexpr uint16_t kModeHidden = 0x2000;
inline constexpr uint16_t kModeExists = 0x8000;
// The modes the console gives a save's files and folders, and the root's "..".
inline constexpr uint16_t kModeNewFile =
    kModeExists | kModePS2 | kModeFile | kModeExecute | kModeWrite | kModeRead;
inline constexpr uint16_t kModeNewFolder =
    kModeExists | kModePS2 | kModeDirectory | kModeExecute | kModeWrite | kModeRead;
inline constexpr uint16_t kModeRootDotDot =
    kModeExists | kModeHidden | kModePS2 | kModeDirectory | kModeExecute | kModeWrite;
static_assert(kModeNewFile == 0x8417 && kModeNewFolder == 0x8427 && kModeRootDotDot == 0xA426);

// A live entry: it exists, its mode is no erased 0xFFFF and its reserved
// half-word is zero. The checker counts these, the repair keeps them and the
// file operations count and free through them; anything else in a slot is
// room or damage, and nothing is reached through it.
inline bool Live(Bytes e) {
  const uint16_t mode = load_le16(e, kMode);
  return (mode & kModeExists) != 0 && mode != 0xFFFF && load_le16(e, kReserved) == 0;
}
}  // namespace entry

// Saves hold no folders as the console writes them; folders nested deeper
// than this are damage.
inline constexpr int kMaxFolderDepth = 8;

}  // namespace travosk::card
