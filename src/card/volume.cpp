// The card volume: superblock recognition, the allocation table in memory,
// cluster allocation and release.
#include "card/volume.h"

#include <algorithm>
#include <cstring>

#include "card/commitplan.h"
#include "card/walk.h"
#include "common/errors.h"

namespace travosk::card {

namespace {

constexpr uint32_t kEntriesPerPage = kPageDataBytes / 4;  // 128
constexpr uint32_t kEntriesPerCluster = 2 * kEntriesPerPage;
constexpr int kFatListEntries = 256;
// A next number as the chain code reads it: the largest card's table has
// 65,536 entries.
constexpr uint32_t kFreeChainMask = 0xFFFF;

}  // namespace

TPSFilemanager::TPSFilemanager(TPSfileaccess& access, TPSEarsemanager& cache)
    : access_(access), cache_(cache) {}

TPSFilemanager::~TPSFilemanager() {
  // The plan refers to this volume.
  cache_.SetCommitPlan({});
}

bool TPSFilemanager::ReadPageAt(uint32_t page, Page& out) {
  access_.SeekPage(page);
  if (!access_.ReadPage(out)) return false;
  // What the volume reads is what the card holds until the next commit: the
  // cache keeps it, so a change staged later neither reads it again nor
  // rewrites a block with the bytes it already has.
  cache_.NoteCardPage(page, out);
  return true;
}

bool TPSFilemanager::Refuse(const std::string& reason) {
  last_error_ = reason;
  mounted_ = false;
  cache_.SetCommitPlan({});
  if (access_.IsOpen) access_.CloseCard();
  // Whatever the cache held belonged to the card mounted before; it must not
  // reach whatever card is in the slot now.
  cache_.ResetCache();
  return false;
}

bool TPSFilemanager::Mount() {
  mounted_ = false;
  last_error_.clear();
  if (access_.IsOpen) access_.CloseCard();
  if (!access_.OpenCard()) {
    return Refuse(access_.IsPS1Card ? "The card is a PS1 card" : "No card answers in the slot");
  }
  // Whatever an unfinished operation left in the cache is dropped here; what
  // the mount reads from now on enters it as the card's content.
  cache_.ResetCache();

  write_refusal_.clear();
  Page page{};
  if (!ReadPageAt(0, page)) return Refuse("Reading the superblock failed");
  Superblock = page;
  RecoveryResult recovery;
  try {
    if (std::memcmp(Superblock.data(), superblock::kMagic.data(), superblock::kMagicLength) != 0) {
      // Block 0 erased by a rewrite that stopped there: the copy in the
      // backup blocks is the card's block 0.
      Backup = PendingBlockZeroRewrite(access_);
      if (!Backup.valid) return Refuse("The card carries no PS2 file system");
    } else {
      Backup = BackupBlocksOf(Superblock, access_);
    }
    if (Backup.valid) {
      recovery = RecoverInterruptedWrite(access_, Backup);
    } else {
      // Any block a damaged number names may hold saves: nothing is erased
      // or copied for a recovery, and nothing is written.
      write_refusal_ = "The superblock's backup block numbers (" + std::to_string(Backup.block1) +
                       ", " + std::to_string(Backup.block2) +
                       ") are damaged: the card can be read but not written";
    }
  } catch (const CardError& e) {
    return Refuse(e.what());
  }
  // Whatever a failed flush left is mended now: writing may go on.
  cache_.MountDone();
  if (recovery.what != Recovery::kNothing) {
    // What the mount read so far may be older than the card now.
    cache_.ResetCache();
    if (!ReadPageAt(0, page)) return Refuse("Reading the superblock failed");
    Superblock = page;
    if (std::memcmp(Superblock.data(), superblock::kMagic.data(), superblock::kMagicLength) != 0) {
      return Refuse("The card carries no PS2 file system");
    }
    Backup = BackupBlocksOf(Superblock, access_);
    if (recovery.what == Recovery::kCompleted && OnInterruptedWriteCompleted)
      OnInterruptedWriteCompleted(recovery.block);
  }

  // The table has a cluster for every 256 clusters of the card.
  FatClusterCount = load_le32(Superblock, superblock::kClusters) / kEntriesPerCluster;
  IndirectPage = Superblock[superblock::kIndirectCluster] * 2;
  // The tables hold 256 FAT clusters (65,536 entries); a superblock that asks
  // for none, or for more, or puts the indirect cluster over the superblock,
  // describes no table this volume can load.
  const uint64_t pages = access_.AddressablePages();
  if (FatClusterCount == 0 || FatClusterCount > kMaxFatClusters) {
    return Refuse("The superblock names " + std::to_string(FatClusterCount) +
                  " allocation table clusters (1 to 256 are supported)");
  }
  if (IndirectPage == 0 || static_cast<uint64_t>(IndirectPage) + 1 >= pages) {
    return Refuse("The superblock's indirect allocation table cluster lies outside the card");
  }

  if (Fat.empty()) {
    FatClusterList.assign(kFatListEntries, 0);
    Fat.assign(kFatEntries, kChainEnd);
    Stack.assign(kStackLevels, TfileIP{});
    StackBuffers.assign(kStackLevels, WalkBuffer{});
  }
  std::fill(FatClusterList.begin(), FatClusterList.end(), kChainEnd);
  // The indirect cluster's first page names 128 table clusters, its second
  // the rest.
  for (uint32_t half = 0; half * kEntriesPerPage < FatClusterCount; ++half) {
    if (!ReadPageAt(static_cast<uint32_t>(IndirectPage) + half, page)) {
      return Refuse("Reading the indirect allocation table failed");
    }
    const uint32_t end = std::min<uint32_t>(FatClusterCount, (half + 1) * kEntriesPerPage);
    for (uint32_t i = half * kEntriesPerPage; i < end; ++i) {
      uint32_t cluster = load_le32(page, static_cast<size_t>(i - half * kEntriesPerPage) * 4);
      if (uint64_t{cluster} * 2 + 1 >= pages) {
        return Refuse("Allocation table cluster " + std::to_string(cluster) +
                      " lies outside the card");
      }
      FatClusterList[i] = cluster;
    }
  }

  std::fill(Fat.begin(), Fat.end(), kChainEnd);
  size_t fill = 0;
  for (uint32_t i = 0; i < FatClusterCount; ++i) {
    for (uint32_t half = 0; half < 2; ++half) {
      if (!ReadPageAt(FatClusterList[i] * 2 + half, page)) {
        return Refuse("Reading the allocation table failed");
      }
      for (uint32_t e = 0; e < kEntriesPerPage; ++e) Fat[fill++] = load_le32(page, e * 4u);
    }
  }

  AllocOffset = static_cast<int32_t>(FatClusterList[FatClusterCount - 1] + 1);
  // The root directory is relative cluster 0: it at least must lie on the card.
  if ((static_cast<uint64_t>(AllocOffset) + 1) * 2 > pages) {
    return Refuse("The allocation table leaves no room for the root directory");
  }

  // Back to the root: the walk starts over with every mount.
  ResetWalk(*this);
  StackDepth = 0;

  CardFat = Fat;
  CommitPlan plan = MakeCommitPlan(*this);
  plan.refusal = write_refusal_;
  cache_.SetCommitPlan(std::move(plan));
  mounted_ = true;
  mounted_medium_ = access_.Medium;
  mounted_open_count_ = access_.OpenCount;
  return true;
}

bool TPSFilemanager::StillOpen() const {
  return mounted_ && access_.IsOpen && access_.Medium == mounted_medium_ &&
         access_.OpenCount == mounted_open_count_;
}

bool TPSFilemanager::Remount() {
  if (!mounted_) return false;
  access_.Medium = mounted_medium_;
  return Mount();
}

bool TPSFilemanager::ValidCluster(uint32_t c) const {
  if (!mounted_ || c >= FatEntryCount()) return false;
  return (uint64_t{c} + static_cast<uint64_t>(AllocOffset)) * 2 + 1 < access_.AddressablePages();
}

uint32_t TPSFilemanager::AllocatableLimit() const {
  // The last entry of the table is never taken, and neither is a cluster
  // whose pages would lie past the card's end, whatever its entry says.
  if (!mounted_ || FatEntryCount() == 0) return 0;
  const uint64_t on_card = access_.AddressablePages() / 2;
  const uint64_t offset = static_cast<uint64_t>(AllocOffset);
  const uint64_t fits = on_card > offset ? on_card - offset : 0;
  return static_cast<uint32_t>(std::min<uint64_t>(FatEntryCount() - 1, fits));
}

void TPSFilemanager::ReadCluster(uint32_t c, uint8_t* dest1024) {
  if (!ValidCluster(c)) {
    throw CardError("Cluster " + std::to_string(c) + " lies outside the card");
  }
  const uint32_t first = ClusterPage(c);
  // The card's own bytes, unchanged since they were read: the card would
  // answer the same.
  if (cache_.ReadKnownCluster(first, dest1024)) return;
  Page page{};
  for (uint32_t k = 0; k < 2; ++k) {
    if (!ReadPageAt(first + k, page)) {
      throw CardError("Reading card page " + std::to_string(first + k) + " failed");
    }
    std::copy_n(page.begin(), kPageDataBytes, dest1024 + k * kPageDataBytes);
  }
}

bool TPSFilemanager::FindFree(uint32_t& c) const {
  const uint32_t limit = AllocatableLimit();
  // The lowest free entry. A file takes its clusters one by one, each time
  // from the start of the table past every cluster in use, so the scan first
  // skips eight entries at a time while all of them are in use.
  uint32_t i = 0;
  const uint32_t* fat = Fat.data();
  while (i + 8 <= limit && (fat[i] & fat[i + 1] & fat[i + 2] & fat[i + 3] & fat[i + 4] &
                            fat[i + 5] & fat[i + 6] & fat[i + 7] & kInUse) != 0)
    i += 8;
  for (; i < limit; ++i) {
    if ((Fat[i] & kInUse) == 0) {
      c = i;
      return true;
    }
  }
  return false;
}

bool TPSFilemanager::AllocateCluster(uint32_t& c) {
  uint32_t n = 0;
  if (!FindFree(n)) return false;
  Fat[n] = kChainEnd;
  c = n;
  return true;
}

bool TPSFilemanager::ExtendChain(uint32_t c, uint32_t& next) {
  uint32_t n = 0;
  if (c >= FatEntryCount() || !FindFree(n)) return false;
  Fat[c] = n | kInUse;
  Fat[n] = kChainEnd;
  next = n;
  return true;
}

void TPSFilemanager::FreeChain(uint32_t first) {
  if (!mounted_ || (first & kInUse) != 0 || first >= FatEntryCount()) return;
  uint32_t c = first;
  // Each step frees one entry, so a chain longer than the table has a cycle
  // in it; a next number past the table or an entry already free ends the
  // chain too (a damaged card loses no more than that chain).
  for (uint32_t steps = 0; steps < FatEntryCount(); ++steps) {
    uint32_t e = Fat[c];
    Fat[c] = e & ~kInUse;
    if (e == kChainEnd || (e & kInUse) == 0) return;
    c = e & kFreeChainMask;
    if (c >= FatEntryCount()) return;
  }
}

void TPSFilemanager::StoreFat() {
  if (!mounted_) return;
  std::array<uint8_t, kClusterBytes> cluster{};
  for (uint32_t i = 0; i < FatClusterCount; ++i) {
    for (uint32_t e = 0; e < kEntriesPerCluster; ++e) {
      store_le32(cluster, static_cast<size_t>(e) * 4,
                 Fat[static_cast<size_t>(i) * kEntriesPerCluster + e]);
    }
    cache_.CacheWriteCluster(FatClusterList[i] * 2, cluster.data());
  }
}

void TPSFilemanager::Release() {
  Stack.clear();
  Stack.shrink_to_fit();
  StackBuffers.clear();
  StackBuffers.shrink_to_fit();
  Walk.Buffer.cluster = -1;
  FatClusterList.clear();
  FatClusterList.shrink_to_fit();
  Fat.clear();
  Fat.shrink_to_fit();
  CardFat.clear();
  CardFat.shrink_to_fit();
  cache_.SetCommitPlan({});
  StackDepth = 0;
  FatClusterCount = 0;
  mounted_ = false;
  if (access_.IsOpen) access_.CloseCard();
}

}  // namespace travosk::card
