#include "card/repair.h"

#include <algorithm>
#include <array>

#include "card/chain_util.h"
#include "card/fileops.h"
#include "common/bytes.h"
#include "common/errors.h"

namespace travosk::card {

namespace {

// What the checker counts, the repair counts.
bool Live(const uint8_t* slot) {
  return entry::Live(Bytes{slot, entry::kBytes});
}

class Planner {
 public:
  explicit Planner(TPSFilemanager& v) : v_(v), reached_(v.FatEntryCount(), false) {}

  RepairPlan Run() {
    if (!v_.WriteRefusal().empty()) {
      plan_.refusals.push_back("superblock: " + v_.WriteRefusal());
      return std::move(plan_);
    }
    alloc_end_ = load_le32(v_.Superblock, superblock::kAllocEnd);
    if (alloc_end_ == 0 || alloc_end_ > v_.FatEntryCount()) {
      plan_.refusals.push_back("superblock: the allocation end does not fit the table");
      return std::move(plan_);
    }
    fat_ = v_.Fat;
    std::array<uint8_t, kClusterBytes> root{};
    v_.ReadCluster(0, root.data());
    Directory(0, "/", load_le32(root, entry::kLength), 0, 0, 0);
    FreeLost();
    return std::move(plan_);
  }

 private:
  struct Chain {
    std::vector<uint32_t> clusters;
    bool into_free = false;  // the last cluster links on to a free one
    bool broken = false;     // a loop, a cross-link or a cluster off the card
  };

  void Refuse(const std::string& where, const std::string& why) {
    plan_.refusals.push_back(where + ": " + why);
  }

  Chain Follow(uint32_t first, const std::string& where) {
    Chain chain;
    std::vector<bool> seen(v_.FatEntryCount(), false);
    uint32_t c = first;
    for (;;) {
      if (c >= alloc_end_) {
        Refuse(where, "the chain leaves the allocatable area at cluster " + std::to_string(c));
        chain.broken = true;
        return chain;
      }
      if (seen[c] || reached_[c]) {
        Refuse(where,
               "cluster " + std::to_string(c) +
                   (seen[c] ? " closes a loop in the chain" : " belongs to another chain too"));
        chain.broken = true;
        return chain;
      }
      if (!(fat_[c] & kInUse)) {
        // The first cluster itself free: nothing of the chain is in use.
        if (chain.clusters.empty()) {
          Refuse(where, "the first cluster " + std::to_string(c) + " is free");
          chain.broken = true;
        } else {
          chain.into_free = true;
        }
        return chain;
      }
      seen[c] = true;
      chain.clusters.push_back(c);
      if (fat_[c] == kChainEnd) return chain;
      c = fat_[c] & detail::kNextMask;
    }
  }

  // Cuts a chain that runs into a free cluster after `keep` clusters.
  void Cut(Chain& chain, size_t keep, const std::string& where) {
    const uint32_t last = chain.clusters[keep - 1];
    plan_.actions.push_back({RepairAction::Kind::kCutChain, where,
                             "end the chain at cluster " + std::to_string(last), last});
    fat_[last] = kChainEnd;
    chain.clusters.resize(keep);
  }

  // The index in the chain of the last cluster that holds a live entry (0
  // when none does: the first cluster stays in any case).
  uint64_t LastClusterWithLiveEntry(const Chain& chain) {
    std::array<uint8_t, kClusterBytes> cluster{};
    uint64_t last = 0;
    for (size_t i = 0; i < chain.clusters.size(); ++i) {
      v_.ReadCluster(chain.clusters[i], cluster.data());
      if (Live(cluster.data()) || Live(cluster.data() + entry::kBytes)) last = i;
    }
    return last;
  }

  void Reach(const Chain& chain) {
    for (uint32_t c : chain.clusters) reached_[c] = true;
  }

  void File(const uint8_t* slot, const std::string& path) {
    const Bytes bytes{slot, entry::kBytes};
    const uint32_t length = load_le32(bytes, entry::kLength);
    const uint32_t first = load_le32(bytes, entry::kCluster);
    if (first == kChainEnd && length == 0) return;
    const uint64_t needed = (uint64_t{length} + kClusterBytes - 1) / kClusterBytes;
    Chain chain = Follow(first, path);
    if (chain.broken) return;
    if (chain.into_free) {
      if (chain.clusters.size() >= needed && needed > 0) {
        Cut(chain, static_cast<size_t>(needed), path);
      } else {
        Refuse(path, "the chain runs into a free cluster before it covers the file's length");
        Reach(chain);
        return;
      }
    }
    if (chain.clusters.size() != needed)
      Refuse(path, "length " + std::to_string(length) + " needs " + std::to_string(needed) +
                       " clusters, the chain has " + std::to_string(chain.clusters.size()));
    Reach(chain);
  }

  // `entry_cluster`/`entry_offset`: where the directory's count is stored.
  void Directory(uint32_t first, const std::string& path, uint32_t recorded, int depth,
                 uint32_t entry_cluster, uint16_t entry_offset) {
    Chain chain = Follow(first, path);
    if (chain.broken) return;
    if (chain.into_free) {
      // The entries the count names must all lie before the free cluster.
      uint64_t keep = (uint64_t{recorded} + 1) / 2;
      if (keep == 0 || keep > chain.clusters.size()) {
        Refuse(path, "the folder's chain runs into a free cluster before its recorded entries");
        Reach(chain);
        return;
      }
      // A live entry past the count keeps its cluster: the count is what is
      // wrong then, and is set from the slots below.
      keep = std::max<uint64_t>(keep, LastClusterWithLiveEntry(chain) + 1);
      Cut(chain, static_cast<size_t>(keep), path);
    }
    Reach(chain);
    std::array<uint8_t, kClusterBytes> cluster{};
    uint64_t last_live = 0, index = 0;
    bool last_first_live = false, last_second_live = false;
    const std::string prefix = path == "/" ? "/" : path + "/";
    for (uint32_t c : chain.clusters) {
      v_.ReadCluster(c, cluster.data());
      for (uint16_t o = 0; o < kClusterBytes; o += entry::kBytes, ++index) {
        const uint8_t* slot = cluster.data() + o;
        const bool live = Live(slot);
        (o == 0 ? last_first_live : last_second_live) = live;
        if (!live) continue;
        last_live = index;
        if (index < 2) continue;
        const Bytes bytes{slot, entry::kBytes};
        const std::string child = prefix + load_cstr(bytes, entry::kName, 32);
        if (load_le16(bytes, entry::kMode) & entry::kModeDirectory) {
          if (depth >= kMaxFolderDepth) {
            Refuse(child, "folders nest too deeply");
            continue;
          }
          Directory(load_le32(bytes, entry::kCluster), child, load_le32(bytes, entry::kLength),
                    depth + 1, c, o);
        } else {
          File(slot, child);
        }
      }
    }
    const uint64_t capacity = 2 * uint64_t{chain.clusters.size()};
    if (recorded >= last_live + 1 && recorded <= capacity) return;
    // The count the file operations write: two a cluster, one less when the
    // last cluster's second slot is unused.
    const auto count =
        static_cast<uint32_t>(capacity - (last_first_live && !last_second_live ? 1 : 0));
    plan_.actions.push_back(
        {RepairAction::Kind::kSetCount, path,
         "record " + std::to_string(count) + " entries instead of " + std::to_string(recorded), 0,
         count, entry_cluster, entry_offset});
  }

  void FreeLost() {
    for (uint32_t c = 0; c < alloc_end_; ++c) {
      if ((fat_[c] & kInUse) && !reached_[c])
        plan_.actions.push_back({RepairAction::Kind::kFreeLost, "cluster " + std::to_string(c),
                                 "free: in use, but no file or folder reaches it", c});
    }
  }

  TPSFilemanager& v_;
  std::vector<bool> reached_;
  std::vector<uint32_t> fat_;  // the table with the planned cuts
  uint32_t alloc_end_ = 0;
  RepairPlan plan_;
};

}  // namespace

RepairPlan PlanRepair(TPSFilemanager& volume) {
  if (!volume.Mounted() || volume.FatEntryCount() == 0)
    throw CardError("the card carries no PS2 file system");
  return Planner(volume).Run();
}

void ApplyRepair(TPSFilemanager& v, const RepairPlan& plan) {
  if (!plan.CanApply()) return;
  StagedChange change(v);
  for (const auto& a : plan.actions) {
    switch (a.kind) {
      case RepairAction::Kind::kFreeLost:
        v.Fat[a.cluster] = kFreeEntry;
        break;
      case RepairAction::Kind::kCutChain:
        v.Fat[a.cluster] = kChainEnd;
        break;
      case RepairAction::Kind::kSetCount:
        detail::StoreCount(v, a.entry_cluster, a.entry_offset, a.count);
        break;
    }
  }
  v.StoreFat();
  change.Commit();
}

}  // namespace travosk::card
