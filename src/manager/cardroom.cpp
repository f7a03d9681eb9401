#include "manager/cardroom.h"

#include "card/walk.h"

namespace travosk::manager {

using card::TfileIP;

namespace {

// Clusters of a chain, bounded by the table so that a cycle cannot loop.
uint64_t ChainLength(const card::TPSFilemanager& v, uint32_t first) {
  uint64_t n = 0;
  uint32_t c = first;
  const uint64_t limit = v.FatEntryCount();
  while (c < limit && n < limit) {
    ++n;
    const uint32_t e = v.Fat[c];
    if (e == card::kChainEnd || !(e & card::kInUse)) break;
    c = e & card::kNextMask;
  }
  return n;
}

}  // namespace

uint64_t FreeClusters(const card::TPSFilemanager& v) {
  uint64_t free = 0;
  // The table's last entry is never handed out.
  const uint64_t limit = v.FatEntryCount() ? v.FatEntryCount() - 1 : 0;
  for (uint64_t i = 0; i < limit; ++i)
    if (!(v.Fat[i] & card::kInUse)) ++free;
  return free;
}

uint64_t FreeBytes(const card::TPSFilemanager& v) { return FreeClusters(v) * card::kClusterBytes; }

uint64_t OccupiedBytes(const TfileIP& folder, const std::vector<TfileIP>& files) {
  auto whole = [](uint64_t bytes) {
    return (bytes + card::kClusterBytes - 1) / card::kClusterBytes * card::kClusterBytes;
  };
  uint64_t bytes = whole(uint64_t{folder.Length()} * card::entry::kBytes);
  for (const TfileIP& f : files) bytes += whole(f.Length());
  return bytes;
}

uint64_t FolderClusters(TPS2MFMSYS& manager, TfileIP folder) {
  auto& v = manager.Volume();
  if (!folder.Dir || folder.RelatCluster < 0) return 0;
  uint64_t clusters = ChainLength(v, static_cast<uint32_t>(folder.RelatCluster));
  card::WalkCursor walk;
  if (card::EnterDirectory(v, walk, folder)) {
    TfileIP item;
    bool more = card::ReadFirstEntry(v, walk, item);
    while (more) {
      if (!item.Dir && !item.Deleted && item.RelatCluster >= 0)
        clusters += ChainLength(v, static_cast<uint32_t>(item.RelatCluster));
      more = card::ReadNextEntry(v, walk, item);
    }
  }
  return clusters;
}

}  // namespace travosk::manager
