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

constexpr const char kVersionText[] = "1.2.0.0";
constexpr uint16_t kUnknown2EValue = 0xFF00;
constexpr uint8_t kCardTypePS2 = 2;
constexpr uint8_t kCardFlagsValue = 0x2B;

constexpr uint32_t kIndirectClusterNumber = 8;  // the first erase block's clusters 0..7 stay empty
constexpr uint32_t kClustersPerFatCluster = 256;
constexpr uint32_t kLastCluster = 0xFFFFFFFF;

void BuildSuperblock(const FormatLayout& l, MutableBytes d) {
  using namespace superblock;
  std::copy(kMagic.begin(), kMagic.end(), d.begin() + kMagicAt);
  std::memcpy(&d[kVersion], kVersionText, sizeof kVersionText - 1);
  store_le16(d, kPageLength, kPageDataBytes);
  store_le16(d, kPagesPerCluster, 2);
  store_le16(d, kPagesPerBlock, static_cast<uint16_t>(l.pages_per_block));
  store_le16(d, kUnknown2E, kUnknown2EValue);
  store_le32(d, kClusters, l.clusters);
  store_le32(d, kAllocOffset, l.alloc_offset);
  store_le32(d, kAllocEnd, l.alloc_end);
  store_le32(d, kRootCluster, 0);
  store_le32(d, kBackupBlock1, l.backup_block1);
  store_le32(d, kBackupBlock2, l.backup_block2);
  store_le32(d, kIndirectList, kIndirectClusterNumber);
  for (size_t i = 0; i < kListEntries; ++i) store_le32(d, kBadBlockList + 4 * i, kLastCluster);
  d[kCardType] = kCardTypePS2;
  d[kCardFlags] = kCardFlagsValue;
}

// One half of the indirect cluster: the FAT clusters' numbers, then 0xFF.
void BuildIndirect(const FormatLayout& l, uint32_t half, MutableBytes d) {
  for (uint32_t k = 0; k < kPageDataBytes / 4; ++k) {
    uint32_t i = half * (kPageDataBytes / 4) + k;
    store_le32(d, 4 * k, i < l.fat_clusters ? kIndirectClusterNumber + 1 + i : kLastCluster);
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
  store_le16(d, entry::kMode, dot ? entry::kModeNewFolder : entry::kModeRootDotDot);
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
  } else if (cluster == kIndirectClusterNumber) {
    BuildIndirect(l, half, d);
  } else if (cluster > kIndirectClusterNumber && cluster < l.alloc_offset) {
    BuildFat(l, cluster - kIndirectClusterNumber - 1, half, d);
  } else if (cluster == l.alloc_offset) {
    BuildRootEntry(half == 0, when, d);
  }
}

bool IsPowerOfTwo(uint32_t v) {
  return v != 0 && (v & (v - 1)) == 0;
}

}  // namespace

FormatLayout LayoutFor(uint32_t pages, uint32_t pages_per_block, uint32_t addressable) {
  FormatLayout l;
  if (!IsPowerOfTwo(pages_per_block) || pages_per_block < 2 || pages_per_block > 64) return l;
  // Whole FAT clusters only: the volume takes the table's cluster count from
  // the cluster count / 256, so the count is a multiple of 256.
  const uint32_t clusters =
      std::min(pages, addressable) / 2 / kClustersPerFatCluster * kClustersPerFatCluster;
  const uint32_t clusters_per_block = pages_per_block / 2;
  const uint32_t fat_clusters = clusters / kClustersPerFatCluster;
  const uint32_t alloc_offset = kIndirectClusterNumber + 1 + fat_clusters;
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
  const FormatLayout l =
      LayoutFor(access.AddressablePages(), access.PagesPerBlock(), access.AddressLimit());
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
