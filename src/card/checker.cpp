#include "card/checker.h"

#include <array>
#include <set>

#include "common/bytes.h"
#include "common/errors.h"

namespace travosk::card {

namespace {

constexpr size_t kMaxLostReported = 16;

class Checker {
 public:
  explicit Checker(TPSFilemanager& v) : v_(v), owner_(v.FatEntryCount(), kNoOwner) {}

  CheckReport Run() {
    const auto& sb = v_.Superblock;
    alloc_end_ = load_le32(sb, superblock::kAllocEnd);
    if (!v_.WriteRefusal().empty()) Add(CheckFinding::Kind::kSuperblock, "superblock", v_.WriteRefusal());
    if (load_le16(sb, superblock::kPageLength) != kPageDataBytes ||
        load_le16(sb, superblock::kPagesPerCluster) != 2)
      Add(CheckFinding::Kind::kSuperblock, "superblock", "page or cluster size is not 512 / 2");
    if (alloc_end_ == 0 || alloc_end_ > v_.FatEntryCount()) {
      Add(CheckFinding::Kind::kSuperblock, "superblock",
          "allocation end " + std::to_string(alloc_end_) + " does not fit the table of " +
              std::to_string(v_.FatEntryCount()) + " clusters");
      alloc_end_ = v_.FatEntryCount();
    }
    std::array<uint8_t, kClusterBytes> root{};
    v_.ReadCluster(0, root.data());
    CheckDirectory(0, "", load_le32(root, entry::kLength), 0, kNoIndex);
    FindLostClusters();
    return std::move(report_);
  }

 private:
  static constexpr uint32_t kNoOwner = 0xFFFFFFFF;
  static constexpr uint64_t kNoIndex = UINT64_MAX;  // the root has no entry of its own

  void Add(CheckFinding::Kind kind, const std::string& where, const std::string& what) {
    report_.findings.push_back({kind, where.empty() ? "/" : where, what});
  }

  // The clusters of a chain, in order, up to the first fault it shows.
  std::vector<uint32_t> FollowChain(uint32_t first, const std::string& where) {
    std::vector<uint32_t> chain;
    std::set<uint32_t> seen;
    const uint32_t owner = next_owner_++;
    uint32_t c = first;
    while (true) {
      if (c >= alloc_end_) {
        Add(CheckFinding::Kind::kChainOutside, where,
            "cluster " + std::to_string(c) + " lies outside the allocatable area");
        break;
      }
      if (!seen.insert(c).second) {
        Add(CheckFinding::Kind::kChainCycle, where,
            "the chain links back to cluster " + std::to_string(c));
        break;
      }
      if (owner_[c] != kNoOwner) {
        Add(CheckFinding::Kind::kCrossLinked, where,
            "cluster " + std::to_string(c) + " also belongs to " + owners_[owner_[c]]);
        break;
      }
      owner_[c] = owner;
      chain.push_back(c);
      const uint32_t e = v_.Fat[c];
      if (!(e & kInUse)) {
        Add(CheckFinding::Kind::kChainFree, where,
            "cluster " + std::to_string(c) + " is marked free in the allocation table");
        break;
      }
      if (e == kChainEnd) break;
      c = e & kNextMask;
    }
    owners_.push_back(where.empty() ? "/" : where);
    return chain;
  }

  void CheckFile(const uint8_t* slot, const std::string& path) {
    ++report_.files;
    const uint32_t length = load_le32({slot, entry::kBytes}, entry::kLength);
    const uint32_t first = load_le32({slot, entry::kBytes}, entry::kCluster);
    const uint64_t needed = (static_cast<uint64_t>(length) + kClusterBytes - 1) / kClusterBytes;
    if (first == kChainEnd && length == 0) return;  // an empty file without a cluster
    const auto chain = FollowChain(first, path);
    if (chain.size() != needed)
      Add(CheckFinding::Kind::kLengthMismatch, path,
          "length " + std::to_string(length) + " needs " + std::to_string(needed) +
              " clusters, the chain has " + std::to_string(chain.size()));
  }

  // own_index: where the folder's entry sits in its parent, which its "."
  // records (a console updates the folder's entry through it).
  void CheckDirectory(uint32_t first, const std::string& path, uint32_t recorded, int depth,
                      uint64_t own_index) {
    ++report_.directories;
    const auto chain = FollowChain(first, path.empty() ? "/" : path);
    std::array<uint8_t, kClusterBytes> cluster{};
    uint64_t last_live = 0;
    uint64_t slot_index = 0;
    std::set<std::string> names;
    for (uint32_t c : chain) {
      v_.ReadCluster(c, cluster.data());
      for (size_t o = 0; o < kClusterBytes; o += entry::kBytes, ++slot_index) {
        const uint8_t* slot = cluster.data() + o;
        const Bytes bytes{slot, entry::kBytes};
        const uint16_t mode = load_le16(bytes, entry::kMode);
        if (!entry::Live(bytes)) continue;
        last_live = slot_index;
        const std::string name = load_cstr(bytes, entry::kName, 32);
        if (slot_index < 2) {
          if (name != (slot_index == 0 ? "." : ".."))
            Add(CheckFinding::Kind::kBadEntry, path + "/" + name,
                "slot " + std::to_string(slot_index) + " should be \"" +
                    (slot_index == 0 ? "." : "..") + "\"");
          else if (slot_index == 0 && own_index != kNoIndex &&
                   load_le32(bytes, entry::kDirEntry) != own_index)
            Add(CheckFinding::Kind::kBadEntry, path + "/.",
                "names entry " + std::to_string(load_le32(bytes, entry::kDirEntry)) +
                    " of its parent, but the folder's own entry is " + std::to_string(own_index));
          continue;
        }
        const std::string child = path + "/" + name;
        if (!names.insert(name).second)
          Add(CheckFinding::Kind::kDuplicateName, child,
              "a second entry of this name (slot " + std::to_string(slot_index) +
                  "): the console and every lookup by name reach only the first");
        if (mode & entry::kModeDirectory) {
          if (depth >= kMaxFolderDepth) {
            Add(CheckFinding::Kind::kBadEntry, child, "folders nest too deeply");
            continue;
          }
          CheckDirectory(load_le32(bytes, entry::kCluster), child, load_le32(bytes, entry::kLength),
                         depth + 1, slot_index);
        } else {
          CheckFile(slot, child);
        }
      }
    }
    const uint64_t capacity = 2 * static_cast<uint64_t>(chain.size());
    if (recorded < last_live + 1 || recorded > capacity)
      Add(CheckFinding::Kind::kEntryCount, path.empty() ? "/" : path,
          "records " + std::to_string(recorded) + " entries; slots in use reach " +
              std::to_string(last_live + 1) + " of " + std::to_string(capacity));
  }

  void FindLostClusters() {
    size_t lost = 0;
    for (uint32_t c = 0; c < alloc_end_; ++c) {
      if (v_.Fat[c] & kInUse) {
        if (owner_[c] == kNoOwner) {
          if (++lost <= kMaxLostReported)
            Add(CheckFinding::Kind::kLostCluster, "cluster " + std::to_string(c),
                "in use, but no file or folder reaches it");
        } else {
          ++report_.clusters_in_use;
        }
      }
    }
    if (lost > kMaxLostReported)
      Add(CheckFinding::Kind::kLostCluster, "clusters",
          std::to_string(lost - kMaxLostReported) + " more lost clusters");
  }

  TPSFilemanager& v_;
  std::vector<uint32_t> owner_;
  std::vector<std::string> owners_;
  uint32_t next_owner_ = 0;
  uint32_t alloc_end_ = 0;
  CheckReport report_;
};

}  // namespace

CheckReport CheckFileSystem(TPSFilemanager& volume) {
  if (!volume.Mounted() || volume.FatEntryCount() == 0)
    throw CardError("the card carries no PS2 file system");
  return Checker(volume).Run();
}

const char* KindName(CheckFinding::Kind kind) {
  switch (kind) {
    case CheckFinding::Kind::kSuperblock: return "superblock";
    case CheckFinding::Kind::kChainCycle: return "chain cycle";
    case CheckFinding::Kind::kChainOutside: return "outside the allocatable area";
    case CheckFinding::Kind::kChainFree: return "chain into a free cluster";
    case CheckFinding::Kind::kCrossLinked: return "cross-linked";
    case CheckFinding::Kind::kLengthMismatch: return "length mismatch";
    case CheckFinding::Kind::kEntryCount: return "entry count";
    case CheckFinding::Kind::kLostCluster: return "lost cluster";
    case CheckFinding::Kind::kBadEntry: return "bad entry";
    case CheckFinding::Kind::kDuplicateName: return "duplicate name";
  }
  return "?";
}

}  // namespace travosk::card
