// TPSFilemanager: the card volume. It recognises a PS2 file system, keeps the
// whole allocation table in memory, maps clusters to pages, allocates and
// frees clusters, and holds the directory walk's state.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "card/backupblocks.h"
#include "card/erasecache.h"
#include "card/fileaccess.h"
#include "card/fileip.h"
#include "card/layout.h"

namespace travosk::card {

// The table of the largest card, 64 MB: 256 clusters of 256 entries, all
// named by the indirect cluster's two pages.
inline constexpr int kMaxFatClusters = 256;
inline constexpr int kFatEntries = 65536;
inline constexpr int kStackLevels = 64;

// The cluster of a directory that a walk holds, as the card held it under
// which cache generation (cluster -1: none). Nothing reaches the card between
// two commits, so while the generation stands the walk need not read that
// cluster again.
struct WalkBuffer {
  std::array<uint8_t, kClusterBytes> bytes{};
  int64_t cluster = -1;
  uint64_t generation = 0;
};

// Where a directory walk stands: its current cluster and offset, the head of
// the directory being walked and the entry that describes it (walk.h). The
// catalogue walks with the volume's own cursor; a walk nested in another
// operation keeps a cursor of its own, so it cannot disturb the catalogue's.
// A fresh cursor stands at the root.
struct WalkCursor {
  int32_t CurrentCluster = 0;
  uint16_t CurrentOffset = 0;
  uint32_t HeadCluster = 0;
  uint16_t HeadOffset = 0;
  uint32_t ParentCluster = 0;
  uint16_t ParentOffset = 0;
  uint8_t More = 0;
  // The FAT entry of the current cluster as it was when the walk read the
  // cluster: the walk goes on from there even when its caller has since
  // unlinked that cluster (deleting a folder's files as it walks them).
  uint32_t Link = kChainEnd;
  WalkBuffer Buffer;
};

class TPSFilemanager {
 public:
  TPSFilemanager(TPSfileaccess& access, TPSEarsemanager& cache);
  ~TPSFilemanager();

  TPSfileaccess& access() { return access_; }
  TPSEarsemanager& cache() { return cache_; }

  // True when the card carries a PS2 file system that fits the volume's
  // tables; the card stays open. False with the card closed otherwise.
  // Before anything else is read, a rewrite through the backup blocks that
  // an interruption cut short is completed or discarded (backupblocks.h).
  [[nodiscard]] bool Mount();
  // Runs when a mount completed an interrupted write, with the erase block
  // it completed: the front ends tell the user once.
  std::function<void(uint32_t block)> OnInterruptedWriteCompleted;
  bool Mounted() const { return mounted_; }
  // True when this mount still describes the open card: its slot is the one
  // selected and no card of either slot was opened since (opening one resets
  // the geometry that page and block writes use).
  bool StillOpen() const;
  // Selects the mounted card's slot again and mounts it afresh; false (the
  // volume unmounted) when that card no longer mounts.
  [[nodiscard]] bool Remount();
  // Why the last Mount answered false ("" after a successful one).
  const std::string& LastError() const { return last_error_; }
  // Why the mounted card takes no write ("" when it does): its superblock
  // names backup blocks that could hold saves. Such a card is read as it is,
  // without recovery; every commit fails with this reason.
  const std::string& WriteRefusal() const { return write_refusal_; }
  // Reads relative cluster c as the card holds it, whatever change the cache
  // stages: from the card, or from the cache when it holds the card's own
  // bytes of it. Throws CardError when the cluster lies outside the card or
  // the transfer failed.
  void ReadCluster(uint32_t c, uint8_t* dest1024);
  uint32_t ClusterPage(uint32_t c) const { return (c + AllocOffset) * 2; }
  [[nodiscard]] bool AllocateCluster(uint32_t& c);
  [[nodiscard]] bool ExtendChain(uint32_t c, uint32_t& next);
  void FreeChain(uint32_t first);
  void StoreFat();
  void Release();

  // Entries of the table that the card really has (FatClusterCount × 256).
  uint32_t FatEntryCount() const { return FatClusterCount * 256u; }
  // Relative clusters that lie on the card and whose FAT entry exists.
  bool ValidCluster(uint32_t c) const;
  // Allocation takes indices below this: never the table's last entry, and
  // never a cluster that lies past the card's end.
  uint32_t AllocatableLimit() const;

  std::array<uint8_t, kPageBytes> Superblock{};
  BackupBlocks Backup;
  uint32_t FatClusterCount = 0;
  int32_t IndirectPage = 0;
  std::vector<uint32_t> FatClusterList;  // 256 entries
  std::vector<uint32_t> Fat;             // kFatEntries
  // The table as the card holds it: at mount, and after every commit. A
  // commit plans its block order by what changed between the two.
  std::vector<uint32_t> CardFat;
  int32_t AllocOffset = 0;

  // Progress counters that the card manager passes by reference.
  int32_t ProgressMin = 0;
  int32_t ProgressMax = 0;
  int32_t ProgressPos = 0;

  // The catalogue's walk (walk.h) and the positions it saved on entering a
  // folder, each with the outer directory's cluster.
  WalkCursor Walk;
  std::vector<TfileIP> Stack;            // kStackLevels
  std::vector<WalkBuffer> StackBuffers;  // the outer directory's cluster, per level
  std::array<uint8_t, kStackLevels> StackFlags{};
  int32_t StackDepth = 0;

 private:
  [[nodiscard]] bool ReadPageAt(uint32_t page, Page& out);
  // Leaves the volume unmounted with the card closed; answers false.
  bool Refuse(const std::string& reason);
  bool FindFree(uint32_t& c) const;
  TPSfileaccess& access_;
  TPSEarsemanager& cache_;
  bool mounted_ = false;
  Slot mounted_medium_ = Slot::kNone;
  uint64_t mounted_open_count_ = 0;
  std::string last_error_;
  std::string write_refusal_;
};

}  // namespace travosk::card
