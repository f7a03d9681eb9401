// Repair of what an interrupted write or another tool can leave on a PS2
// file system: clusters in use that nothing reaches are freed, a directory
// whose recorded entry count does not fit its readable entries gets the
// count its chain gives, and a chain that runs into a free cluster is cut
// at its file's length when the clusters before cover that length (a
// folder's after its last live entry, whatever its count says). Nothing
// else is touched: a save whose chain and entries are whole keeps every
// byte. Damage that cannot be mended safely (loops, cross-links, chains that
// leave the card or end short) is refused with its reason, and then nothing
// at all is changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card/volume.h"

namespace travosk::card {

struct RepairAction {
  enum class Kind { kFreeLost, kSetCount, kCutChain };
  Kind kind;
  std::string where;           // "/SAVE/FILE", "/" or "cluster 123"
  std::string what;            // the change, in words
  uint32_t cluster = 0;        // kFreeLost: the cluster; kCutChain: the new last cluster
  uint32_t count = 0;          // kSetCount: the new count
  uint32_t entry_cluster = 0;  // kSetCount: where the count is stored
  uint16_t entry_offset = 0;
};

struct RepairPlan {
  std::vector<RepairAction> actions;
  std::vector<std::string> refusals;  // "where: why" for each thing left as it is
  bool CanApply() const { return refusals.empty() && !actions.empty(); }
};

// Reads the mounted volume (directories straight from the card) and plans
// the repair. Throws CardError when the card cannot be read.
RepairPlan PlanRepair(TPSFilemanager& volume);

// Stages the plan's actions and commits them in one crash-safe commit.
// Does nothing when the plan has refusals. Throws CardError when the card
// cannot be written.
void ApplyRepair(TPSFilemanager& volume, const RepairPlan& plan);

}  // namespace travosk::card
