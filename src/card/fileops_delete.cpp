// Deleting from the card. An entry is deleted by clearing bit 15 of its mode,
// which keeps its name and header readable; a file's clusters go back to the
// table. A directory shrinks only from its end: every entry keeps its place,
// since a folder's "." records where the folder's own entry sits.
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
  // The last entry removed (a save's own, after its files') hides the
  // change: its block goes to the card first.
  v.cache().MarkVisibleEntry(page, false);

  if (frees) v.FreeChain(first);
  UnlinkDirCluster(v, cluster.data(), x);
  // A folder's caller stores the table once the whole folder is gone.
  if (x.Dir == 0) v.StoreFat();
}

void UnlinkDirCluster(TPSFilemanager& v, const uint8_t* cluster, const TfileIP& x) {
  if (SlotLive(cluster, 0) || SlotLive(cluster, kSlotBytes)) return;
  const uint32_t t = x.NowCluster;
  // An emptied cluster in the middle of the chain stays, for later entries
  // to reuse: taking it out would move every entry after it up two places.
  if (!InTable(v, t) || v.Fat[t] != kChainEnd) return;

  // The chain's last cluster goes, and with it any emptied clusters before
  // it; the first cluster holds "." and ".." and stays while the directory
  // exists.
  const auto head = static_cast<uint32_t>(x.HeadCluster);
  if (!InTable(v, head)) return;
  ChainGuard guard(v);
  std::vector<uint32_t> chain;
  for (uint32_t c = head;; c = v.Fat[c] & kNextMask) {
    guard.Visit(c);
    chain.push_back(c);
    if (!Links(v.Fat[c])) break;
  }
  if (chain.back() != t) return;  // t lies off the directory's chain: damage
  std::array<uint8_t, kClusterBytes> bytes{};
  while (chain.size() > 1) {
    const uint32_t last = chain.back();
    if (last != t) {
      v.cache().CacheReadCluster(v.ClusterPage(last), bytes.data());
      if (SlotLive(bytes.data(), 0) || SlotLive(bytes.data(), kSlotBytes)) break;
    }
    chain.pop_back();
    v.Fat[chain.back()] = kChainEnd;
    v.Fat[last] = kFreeEntry;
  }
}

void FreeFolderTree(TPSFilemanager& v, uint32_t first, int depth) {
  if (!InTable(v, first)) return;
  std::array<uint8_t, kClusterBytes> bytes{};
  v.cache().CacheReadCluster(v.ClusterPage(first), bytes.data());
  if (DotEntriesPresent(bytes.data())) {
    // Saves hold no folders as the console writes them; one nested this
    // deep is damage, and the delete fails before anything is freed.
    if (depth >= kMaxFolderDepth) throw CardError("folders on the card nest too deeply");
    ChainGuard guard(v);
    for (uint32_t c = first;; c = v.Fat[c] & kNextMask) {
      guard.Visit(c);
      v.cache().CacheReadCluster(v.ClusterPage(c), bytes.data());
      for (uint16_t o : {uint16_t{0}, kSlotBytes}) {
        const Bytes e(bytes.data() + o, entry::kBytes);
        const std::string name = load_cstr(e, entry::kName, entry::kNameMax);
        if (!SlotLive(bytes.data(), o) || name == "." || name == "..") continue;
        const uint32_t held = load_le32(e, entry::kCluster);
        if (load_le16(e, entry::kMode) & entry::kModeDirectory) {
          FreeFolderTree(v, held, depth + 1);
        } else if ((held & kInUse) == 0) {
          CheckChainToFree(v, held);
          v.FreeChain(held);
        }
      }
      if (!Links(v.Fat[c])) break;
    }
  }
  // A chain that does not open with "." and ".." is not read as a folder:
  // its own clusters are all that can be told apart safely.
  v.FreeChain(first);
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
