// The formatter: an empty PS2 file system, written block by block in the
// layout the console writes on an 8 MB card (superblock, indirect allocation
// table cluster 8, the table's clusters right after it, the root directory
// right after those, the last two erase blocks kept for the console's
// backups), scaled to other geometries by the cluster count alone.
#include "card/formatter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "card/fileip.h"
#include "card/volume.h"
#include "common/bytes.h"

namespace travosk::card {

namespace {

// Superblock fields (card page 0).
constexpr size_t kSbMagic = 0x00;            // 28 bytes
constexpr size_t kSbVersion = 0x1C;          // 12 bytes, NUL padded
constexpr size_t kSbPageLength = 0x28;       // u16
constexpr size_t kSbPagesPerCluster = 0x2A;  // u16
constexpr size_t kSbPagesPerBlock = 0x2C;    // u16
constexpr size_t kSbUnknown2E = 0x2E;        // u16, 0xFF00 on every formatted card
constexpr size_t kSbClusters = 0x30;         // u32 clusters per card
constexpr size_t kSbAllocOffset = 0x34;      // u32 absolute cluster of relative 0
constexpr size_t kSbAllocEnd = 0x38;         // u32 relative clusters usable
constexpr size_t kSbRootCluster = 0x3C;      // u32 relative
constexpr size_t kSbBackupBlock1 = 0x40;     // u32 erase block
constexpr size_t kSbBackupBlock2 = 0x44;     // u32 erase block
constexpr size_t kSbIndirectList = 0x50;     // 32 × u32
constexpr size_t kSbBadBlockList = 0xD0;     // 32 × u32
constexpr size_t kSbCardType = 0x150;        // u8
constexpr size_t kSbCardFlags = 0x151;       // u8
constexpr size_t kListEntries = 32;

constexpr const char kMagic[] = "Sony PS2 Memory Card Format ";
constexpr const char kVersion[] = "1.2.0.0";
constexpr uint16_t kUnknown2E = 0xFF00;
constexpr uint8_t kCardTypePS2 = 2;
constexpr uint8_t kCardFlags = 0x2B;

constexpr uint32_t kIndirectCluster = 8;  // the first erase block's clusters 0..7 stay empty
constexpr uint32_t kClustersPerFatCluster = 256;
constexpr uint32_t kMaxPages = 65536;  // what the page commands can address
constexpr uint32_t kLastCluster = 0xFFFFFFFF;

constexpr uint16_t kModeRootDot = 0x8427;     // exists, directory, read/write/execute
constexpr uint16_t kModeRootDotDot = 0xA426;  // exists, hidden, directory

void BuildSuperblock(const FormatLayout& l, MutableBytes d) {
  std::memcpy(&d[kSbMagic], kMagic, sizeof kMagic - 1);
  std::memcpy(&d[kSbVersion], kVersion, sizeof kVersion - 1);
  store_le16(d, kSbPageLength, kPageDataBytes);
  store_le16(d, kSbPagesPerCluster, 2);
  store_le16(d, kSbPagesPerBlock, static_cast<uint16_t>(l.pages_per_block));
  store_le16(d, kSbUnknown2E, kUnknown2E);
  store_le32(d, kSbClusters, l.clusters);
  store_le32(d, kSbAllocOffset, l.alloc_offset);
  store_le32(d, kSbAllocEnd, l.alloc_end);
  store_le32(d, kSbRootCluster, 0);
  store_le32(d, kSbBackupBlock1, l.backup_block1);
  store_le32(d, kSbBackupBlock2, l.backup_block2);
  store_le32(d, kSbIndirectList, kIndirectCluster);
  for (size_t i = 0; i < kListEntries; ++i) store_le32(d, kSbBadBlockList + 4 * i, kLastCluster);
  d[kSbCardType] = kCardTypePS2;
  d[kSbCardFlags] = kCardFlags;
}

// One half of the indirect cluster: the FAT clusters' numbers, then 0xFF.
void BuildIndirect(const FormatLayout& l, uint32_t half, MutableBytes d) {
  for (uint32_t k = 0; k < kPageDataBytes / 4; ++k) {
    uint32_t i = half * (kPageDataBytes / 4) + k;
    store_le32(d, 4 * k, i < l.fat_clusters ? kIndirectCluster + 1 + i : kLastCluster);
  }
}

// One half of FAT cluster f: the root's entry ends its chain, the allocatable
// clusters are free, and the entries from the allocation end on are marked
// in use so that nothing is ever allocated there.
void BuildFat(const FormatLayout& l, uint32_t f, uint32_t half, MutableBytes d) {
  for (uint32_t k = 0; k < kPageDataBytes / 4; ++k) {
    uint32_t e = f * kClustersPerFatCluster + half * (kPageDataBytes / 4) + k;
    uint32_t value = (e == 0 || e >= l.alloc_end) ? kChainEnd : kFreeEntry;
    store_le32(d, 4 * k, value);
  }
}

void BuildRootEntry(bool dot, std::time_t when, MutableBytes d) {
  store_le16(d, entry::kMode, dot ? kModeRootDot : kModeRootDotDot);
  store_le32(d, entry::kLength, dot ? 2 : 0);
  StoreCardTime(d, entry::kCreated, when);
  store_le32(d, entry::kCluster, 0);
  store_le32(d, entry::kDirEntry, 0);
  StoreCardTime(d, entry::kModified, when);
  const char* name = dot ? "." : "..";
  std::memcpy(&d[entry::kName], name, std::strlen(name));
}

// The 512 data bytes of a page of the fresh file system.
void BuildPage(const FormatLayout& l, uint32_t page, std::time_t when, MutableBytes d) {
  std::fill(d.begin(), d.end(), 0);
  const uint32_t cluster = page / 2;
  const uint32_t half = page % 2;
  if (page == 0) {
    BuildSuperblock(l, d);
  } else if (cluster == kIndirectCluster) {
    BuildIndirect(l, half, d);
  } else if (cluster > kIndirectCluster && cluster < l.alloc_offset) {
    BuildFat(l, cluster - kIndirectCluster - 1, half, d);
  } else if (cluster == l.alloc_offset) {
    BuildRootEntry(half == 0, when, d);
  }
}

bool IsPowerOfTwo(uint32_t v) {
  return v != 0 && (v & (v - 1)) == 0;
}

}  // namespace

FormatLayout LayoutFor(uint32_t pages, uint32_t pages_per_block) {
  FormatLayout l;
  if (!IsPowerOfTwo(pages_per_block) || pages_per_block < 2 || pages_per_block > 64) return l;
  // Whole FAT clusters only: the volume reads the table's cluster count from
  // one byte of the cluster count, so the count is a multiple of 256.
  const uint32_t clusters =
      std::min(pages, kMaxPages) / 2 / kClustersPerFatCluster * kClustersPerFatCluster;
  const uint32_t clusters_per_block = pages_per_block / 2;
  const uint32_t fat_clusters = clusters / kClustersPerFatCluster;
  const uint32_t alloc_offset = kIndirectCluster + 1 + fat_clusters;
  // Room for the table, the two backup blocks and at least the root.
  if (clusters == 0 || alloc_offset + 2 * clusters_per_block >= clusters) return l;
  l.pages = clusters * 2;
  l.pages_per_block = pages_per_block;
  l.clusters = clusters;
  l.fat_clusters = fat_clusters;
  l.alloc_offset = alloc_offset;
  l.alloc_end = clusters - alloc_offset - 2 * clusters_per_block;
  const uint32_t blocks = l.pages / pages_per_block;
  l.backup_block1 = blocks - 1;
  l.backup_block2 = blocks - 2;
  return l;
}

bool FormatFileSystem(TPSfileaccess& access, std::time_t when) {
  if (!access.IsOpen) return false;
  const FormatLayout l = LayoutFor(access.AddressablePages(), access.PagesPerBlock());
  if (l.clusters == 0) return false;
  const uint32_t blocks = l.pages / l.pages_per_block;
  std::vector<uint8_t> block(static_cast<size_t>(l.pages_per_block) * kPageBytes);
  for (uint32_t b = 0; b < blocks; ++b) {
    const uint32_t first = b * l.pages_per_block;
    if (b == l.backup_block2) {
      // The console's second backup block is left erased.
      if (!access.EraseBlock(first)) return false;
      continue;
    }
    // Spare bytes stay 0xFF here: they never travel, the adapter computes
    // the page's ECC itself.
    std::fill(block.begin(), block.end(), 0xFF);
    for (uint32_t j = 0; j < l.pages_per_block; ++j) {
      BuildPage(l, first + j, when,
                MutableBytes(block.data() + static_cast<size_t>(j) * kPageBytes, kPageDataBytes));
    }
    if (!access.WriteBlock(first, block.data())) return false;
  }
  return true;
}

}  // namespace travosk::card
