// Room and counts in a directory: finding a free entry slot (growing the
// directory by a cluster when it is full) and recounting a directory's
// entries into the entry that describes it. All reads go through the cache,
// since they belong to a change that is being staged there.
#include <algorithm>

#include "card/chain_util.h"
#include "card/fileops.h"
#include "common/errors.h"

namespace travosk::card {
namespace detail {

namespace {

bool FirstFourAre(const uint8_t* cluster, uint16_t o, uint8_t value) {
  return std::all_of(cluster + o, cluster + o + 4, [value](uint8_t b) { return b == value; });
}

uint16_t ModeAt(const uint8_t* cluster, uint16_t o) {
  return load_le16(Bytes(cluster + o, entry::kBytes), entry::kMode);
}

}  // namespace

bool SlotLive(const uint8_t* cluster, uint16_t o) {
  return entry::Live(Bytes(cluster + o, entry::kBytes));
}

bool SlotFree(const uint8_t* cluster, uint16_t o) {
  if (FirstFourAre(cluster, o, 0x00) || FirstFourAre(cluster, o, 0xFF)) return true;
  if ((ModeAt(cluster, o) & entry::kModeExists) != 0) return false;
  // A deleted slot may be taken again, but never a "." or ".." entry, even a
  // damaged one: the directory's structure depends on them.
  const std::string name =
      load_cstr(Bytes(cluster + o, entry::kBytes), entry::kName, entry::kNameMax);
  return name != "." && name != "..";
}

bool DotEntriesPresent(const uint8_t* cluster) {
  const auto named = [cluster](uint16_t o, const char* name) {
    return SlotLive(cluster, o) &&
           load_cstr(Bytes(cluster + o, entry::kBytes), entry::kName, entry::kNameMax) == name;
  };
  return named(0, ".") && named(kSlotBytes, "..");
}

uint32_t DirFirstCluster(const TfileIP& d) {
  return static_cast<uint32_t>(d.Dir == 1 ? d.RelatCluster : d.HeadCluster);
}

uint32_t CountChain(TPSFilemanager& v, uint32_t first) {
  ChainGuard guard(v);
  std::array<uint8_t, kClusterBytes> cluster{};
  uint32_t count = 0;
  bool live_first = false;
  bool live_second = false;
  uint32_t c = first;
  for (;;) {
    guard.Visit(c);
    v.cache().CacheReadCluster(v.ClusterPage(c), cluster.data());
    count += 2;
    live_first = SlotLive(cluster.data(), 0);
    live_second = SlotLive(cluster.data(), kSlotBytes);
    const uint32_t a = v.Fat[c];
    if (!Links(a)) break;
    c = a & kNextMask;
  }
  if (live_first && !live_second) --count;
  return count;
}

void StoreCount(TPSFilemanager& v, uint32_t cluster, uint16_t offset, uint32_t count) {
  if (!InTable(v, cluster) || (offset != 0 && offset != kSlotBytes)) {
    throw CardError("The entry that should receive a directory's count lies outside the card.");
  }
  std::array<uint8_t, kClusterBytes> bytes{};
  v.cache().CacheReadCluster(v.ClusterPage(cluster), bytes.data());
  store_le32(MutableBytes(bytes.data() + offset, entry::kBytes), entry::kLength, count);
  v.cache().CacheWriteCluster(v.ClusterPage(cluster), bytes.data());
}

}  // namespace detail

using namespace detail;

bool FindFreeSlot(TPSFilemanager& v, const TfileIP& d, FreeSlot& slot) {
  ChainGuard guard(v);
  uint32_t c = DirFirstCluster(d);
  uint16_t offset = 0;
  uint32_t index = 0;
  for (;;) {
    if (offset == 0) {
      guard.Visit(c);
      v.cache().CacheReadCluster(v.ClusterPage(c), slot.bytes.data());
    }
    if (SlotFree(slot.bytes.data(), offset)) {
      slot.cluster = c;
      slot.offset = offset;
      slot.index = index;
      return true;
    }
    ++index;
    if (offset == 0) {
      offset = kSlotBytes;
      continue;
    }
    const uint32_t a = v.Fat[c];
    if (a == kChainEnd || a == kFreeEntry) break;
    c = a & kNextMask;
    offset = 0;
  }
  // Every slot is taken: the directory grows by one cluster. Its slots read
  // 0xFF bytes, the state of an erased page, until the caller fills one. What
  // the card held in the new cluster does not matter, so nothing is read: the
  // caller's write of it brings the rest of its block in at the flush.
  uint32_t added = 0;
  if (!v.ExtendChain(c, added)) return false;
  slot.bytes.fill(0xFF);
  slot.cluster = added;
  slot.offset = 0;
  slot.index = index;
  return true;
}

uint32_t CountEntries(TPSFilemanager& v, const TfileIP& d) {
  return CountChain(v, DirFirstCluster(d));
}

void StoreCountInDot(TPSFilemanager& v, const TfileIP& x) {
  const auto head = static_cast<uint32_t>(x.HeadCluster);
  StoreCount(v, head, 0, CountChain(v, head));
}

void StoreCountInParent(TPSFilemanager& v, const TfileIP& x) {
  const uint32_t count = CountChain(v, static_cast<uint32_t>(x.HeadCluster));
  StoreCount(v, x.ParentCluster, x.ParentOffset, count);
}

}  // namespace travosk::card
