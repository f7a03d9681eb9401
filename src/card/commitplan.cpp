#include "card/commitplan.h"

#include <vector>

#include "card/volume.h"

namespace travosk::card {

namespace {

enum Rank {
  // Adding.
  kAddFresh = 0,
  kAddTableTakes = 1,
  kAddTableLinks = 2,
  kAddOther = 3,
  kAddVisible = 4,
  // Removing.
  kRemoveVisible = 0,
  kRemoveOther = 1,
  kRemoveTableLinks = 2,
  kRemoveTableFrees = 3,
};

struct TableChanges {
  bool links = false;  // an entry in use before and after took another value
  bool any = false;
};

class Classifier {
 public:
  explicit Classifier(TPSFilemanager& v) : v_(v) {}

  // Whether the change removes is the same for every block, and takes a
  // pass over the whole table: it is found once for all of them.
  std::vector<BlockWrite> operator()(const std::vector<uint32_t>& block_starts) const {
    const bool removing = Removing();
    const bool in_new_cluster = !removing && VisibleEntryInNewCluster();
    std::vector<BlockWrite> how;
    how.reserve(block_starts.size());
    for (uint32_t start : block_starts) how.push_back(Classify(start, removing, in_new_cluster));
    return how;
  }

 private:
  // The added entry lies in a directory cluster that was free before: the
  // table link that chains that cluster in is what shows the entry.
  bool VisibleEntryInNewCluster() const {
    const int64_t page = v_.cache().VisibleEntryPage();
    if (page < 0) return false;
    const uint32_t c = static_cast<uint32_t>(page) / 2 - static_cast<uint32_t>(v_.AllocOffset);
    return c < v_.FatEntryCount() && !InUseBefore(c);
  }

  BlockWrite Classify(uint32_t block_start, bool removing, bool in_new_cluster) const {
    const uint32_t per_block = v_.access().PagesPerBlock();
    const uint32_t end = block_start + per_block;
    const bool live = HoldsLiveData(block_start, end);
    const int64_t visible = v_.cache().VisibleEntryBlock();
    BlockWrite w;
    w.protect = live;
    if (visible == static_cast<int64_t>(block_start)) {
      w.rank = removing ? kRemoveVisible : kAddVisible;
      // An entry added in a directory cluster that was free before is seen
      // only once the table links that cluster in: it goes to the card
      // before the table, like new data.
      if (in_new_cluster) w.rank = live ? kAddTableTakes : kAddFresh;
      return w;
    }
    const TableChanges table = TableChangesIn(block_start, end);
    if (removing) {
      if (!table.any)
        w.rank = kRemoveOther;
      else
        w.rank = table.links ? kRemoveTableLinks : kRemoveTableFrees;
    } else if (!live) {
      w.rank = kAddFresh;
    } else if (table.any) {
      w.rank = table.links ? (in_new_cluster ? kAddVisible : kAddTableLinks) : kAddTableTakes;
    } else {
      w.rank = kAddOther;
    }
    return w;
  }

  bool InUseBefore(uint32_t c) const { return (v_.CardFat[c] & kInUse) != 0; }

  // A change removes when it releases a cluster that was in use.
  bool Removing() const {
    const uint32_t n = v_.FatEntryCount();
    for (uint32_t c = 0; c < n; ++c)
      if (InUseBefore(c) && (v_.Fat[c] & kInUse) == 0) return true;
    return false;
  }

  // The superblock and the table hold live data whatever the table says; a
  // cluster of the allocatable area does when it was in use before the
  // change, and so does anything past the table's end.
  bool HoldsLiveData(uint32_t first, uint32_t end) const {
    const uint32_t alloc_page = static_cast<uint32_t>(v_.AllocOffset) * 2;
    if (first < alloc_page) return true;
    for (uint32_t page = first; page < end; page += 2) {
      const uint32_t c = page / 2 - static_cast<uint32_t>(v_.AllocOffset);
      if (c >= v_.FatEntryCount() || InUseBefore(c)) return true;
    }
    return false;
  }

  TableChanges TableChangesIn(uint32_t first, uint32_t end) const {
    TableChanges t;
    for (uint32_t i = 0; i < v_.FatClusterCount; ++i) {
      const uint32_t page = v_.FatClusterList[static_cast<size_t>(i)] * 2;
      if (page < first || page >= end) continue;
      for (uint32_t e = static_cast<uint32_t>(i) * 256; e < static_cast<uint32_t>(i + 1) * 256;
           ++e) {
        if (v_.CardFat[e] == v_.Fat[e]) continue;
        t.any = true;
        if (InUseBefore(e) && (v_.Fat[e] & kInUse) != 0) t.links = true;
      }
    }
    return t;
  }

  TPSFilemanager& v_;
};

}  // namespace

CommitPlan MakeCommitPlan(TPSFilemanager& v) {
  CommitPlan plan;
  plan.classify = Classifier(v);
  plan.backup = v.Backup;
  plan.committed = [&v] { v.CardFat = v.Fat; };
  return plan;
}

}  // namespace travosk::card
