// Deleting from the card. An entry is deleted by clearing bit 15 of its mode,
// which keeps its name and header readable; a file's clusters go back to the
// table; a directory cluster whose two slots are both unused leaves the
// directory's chain, so a directory shrinks as it empties.
#include "card/chain_util.h"
#include "card/fileops.h"
#include "common/errors.h"

namespace travosk::card {

using namespace detail;

namespace {

// Checks a file's chain as FreeChain will follow it, so that a damaged table
// fails the delete with a CardError before anything is freed.
void CheckChainToFree(TPSFilemanager& v, uint32_t first) {
  ChainGuard guard(v);
  uint32_t c = first;
  guard.Visit(c);
  uint32_t e = v.Fat[c];
  if (e == kChainEnd || (e & kInUse) == 0) return;
  for (;;) {
    e = v.Fat[c];
    if (e == kChainEnd) return;
    c = e & kNextMask;
    guard.Visit(c);
  }
}

}  // namespace

void DeleteEntry(TPSFilemanager& v, const TfileIP& x) {
  if (!InTable(v, x.NowCluster) || (x.NowOffset != 0 && x.NowOffset != kSlotBytes)) {
    throw CardError("The entry to delete lies outside the card.");
  }
  const auto first = static_cast<uint32_t>(x.RelatCluster);
  // A file without a cluster (0xFFFFFFFF) has nothing to free.
  const bool frees = x.Dir == 0 && (first & kInUse) == 0;
  if (frees) CheckChainToFree(v, first);

  std::array<uint8_t, kClusterBytes> cluster{};
  const uint32_t page = v.ClusterPage(x.NowCluster);
  v.cache().CacheReadCluster(page, cluster.data());
  cluster[x.NowOffset + entry::kMode + 1] &= 0x7F;
  v.cache().CacheWriteCluster(page, cluster.data());

  if (frees) v.FreeChain(first);
  UnlinkDirCluster(v, cluster.data(), x);
  // A folder's caller stores the table once the whole folder is gone.
  if (x.Dir == 0) v.StoreFat();
}

void UnlinkDirCluster(TPSFilemanager& v, const uint8_t* cluster, const TfileIP& x) {
  if (SlotLive(cluster, 0) || SlotLive(cluster, kSlotBytes)) return;
  const uint32_t t = x.NowCluster;
  const auto head = static_cast<uint32_t>(x.HeadCluster);
  // The first cluster holds "." and ".."; it stays while the directory exists.
  if (t == head || !InTable(v, t)) return;

  ChainGuard guard(v);
  bool found = false;
  uint32_t p = head;
  for (;;) {
    guard.Visit(p);
    const uint32_t a = v.Fat[p];
    if (!Links(a)) break;
    if ((a & kNextMask) == t) {
      found = true;
      break;
    }
    p = a & kNextMask;
  }

  if (v.Fat[t] == kChainEnd) {
    if (found) v.Fat[p] = kChainEnd;
    v.Fat[t] = kFreeEntry;
  } else if (found) {
    v.Fat[p] = v.Fat[t];
    v.Fat[t] = kFreeEntry;
  } else {
    v.Fat[t] &= ~kInUse;
  }
}

bool DeleteFile(TPSFilemanager& v, const TfileIP& x) {
  if (x.Dir == 1 || x.Deleted == 1) return false;
  StagedChange change(v);
  DeleteEntry(v, x);
  StoreCountInParent(v, x);
  change.Commit();
  return true;
}

}  // namespace travosk::card
