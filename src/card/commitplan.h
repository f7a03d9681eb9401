// The order in which a commit writes its blocks, and which of them go
// through the backup blocks, so that an interruption anywhere leaves every
// other save as it was and the save being written old, new or absent:
// - blocks that held nothing live (clusters that were free) are written
//   first and directly: nothing on them can be lost;
// - a change that adds writes the allocation table next, then the directory
//   entries, the entry that makes the new entry visible last (unless that
//   entry lies in a directory cluster the change adds: then the table blocks
//   that change links go last, after every block of the new save's data and
//   of the parent's count, whatever other data those blocks share, since the
//   link that chains the cluster in is what shows the entry);
// - a change that removes hides the entry first, then the other directory
//   entries, then the table.
// Within the table, a change of a link in a live chain comes after the
// entries that newly take clusters when adding, and before the entries it
// releases when removing, so that no reachable chain runs into a free
// cluster.
#pragma once

#include "card/erasecache.h"

namespace travosk::card {

class TPSFilemanager;

// The plan for commits on the mounted volume v; it reads v's table as the
// card holds it (CardFat) and as the pending change leaves it (Fat).
CommitPlan MakeCommitPlan(TPSFilemanager& v);

}  // namespace travosk::card
