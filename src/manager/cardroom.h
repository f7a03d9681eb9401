// The room on a mounted PS2 card: what is free, and what a save holds, in
// clusters for the checks before a write and in bytes for what the user reads.
#pragma once

#include <cstdint>
#include <vector>

#include "manager/ps2mfmsys.h"

namespace travosk::manager {

// Free clusters of the mounted card, and the clusters a save folder holds.
uint64_t FreeClusters(const card::TPSFilemanager& volume);
uint64_t FolderClusters(TPS2MFMSYS& manager, card::TfileIP folder);
// The room the file system has left, in bytes: its free clusters, whole.
uint64_t FreeBytes(const card::TPSFilemanager& volume);
// The bytes a save occupies on the card, from its catalogue records alone:
// the folder's entries (512 bytes each) and each file's data, every one in
// whole clusters. `files` are the save's live files.
uint64_t OccupiedBytes(const card::TfileIP& folder, const std::vector<card::TfileIP>& files);

}  // namespace travosk::manager
