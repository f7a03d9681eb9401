#include "manager/savereplace.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>

#include "card/fileops.h"
#include "common/errors.h"
#include "common/sjis.h"
#include "formats/files.h"
#include "manager/cardroom.h"
#include "manager/findsave.h"
#include "manager/inspectarchive.h"
#include "manager/ps1card.h"

namespace travosk::manager {

using card::TfileIP;

namespace {

// True when `edited` holds the same save as `old`, the backup just made of
// it: every entry byte for byte the same, so the same files of the same
// lengths, with only data bytes that may differ; and every data block came
// from a cluster of its own.
bool SameSaveOtherData(const formats::Ps2Save& edited, const formats::Ps2Save& old,
                       const std::vector<uint32_t>& clusters) {
  if (edited.folder != old.folder || edited.dot != old.dot || edited.dotdot != old.dotdot ||
      edited.files.size() != old.files.size())
    return false;
  size_t blocks = 0;
  for (size_t i = 0; i < edited.files.size(); ++i) {
    const auto& a = edited.files[i];
    const auto& b = old.files[i];
    if (a.entry != b.entry || a.data.size() != b.data.size()) return false;
    blocks += a.data.size() / formats::kBlockBytes;
  }
  if (blocks != clusters.size()) return false;
  std::vector<uint32_t> sorted = clusters;
  std::sort(sorted.begin(), sorted.end());
  return std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
}

enum class InPlace { kDone, kFailed, kSpansBlocks };

// Writes the save's data blocks over the clusters they were backed up from
// and commits; entries and allocation table stay as they are. The backup has
// just read every one of those clusters, so the cache knows what the card
// holds and only blocks with changed bytes are written. One block is
// rewritten whole or not at all (through the card's backup blocks); changes
// that span several blocks could leave a save half old and half new, so they
// are not written here (kSpansBlocks, nothing written).
InPlace WriteDataInPlace(TPS2MFMSYS& manager, const formats::Ps2Save& save,
                         const std::vector<uint32_t>& clusters) {
  auto& v = manager.Volume();
  try {
    size_t i = 0;
    for (const auto& f : save.files) {
      for (size_t at = 0; at < f.data.size(); at += formats::kBlockBytes, ++i) {
        if (i >= clusters.size() || !v.ValidCluster(clusters[i]))
          throw CardError("a cluster of the save lies outside the card");
        manager.Cache().CacheWriteCluster(v.ClusterPage(clusters[i]), f.data.data() + at);
      }
    }
    if (manager.Cache().BlocksToWrite() > 1) {
      manager.Cache().ResetCache();
      return InPlace::kSpansBlocks;
    }
    manager.FlushCard();
    return InPlace::kDone;
  } catch (const CardError&) {
  }
  // Nothing staged may reach the card with a later commit.
  manager.Cache().ResetCache();
  return InPlace::kFailed;
}

// Whether the clusters the save was backed up from hold `save`'s data as the
// card has them now (read afresh; false when the card cannot be read).
bool HoldsData(TPS2MFMSYS& manager, const formats::Ps2Save& save,
               const std::vector<uint32_t>& clusters) {
  auto& v = manager.Volume();
  std::array<uint8_t, card::kClusterBytes> held{};
  try {
    manager.Cache().ResetCache();
    size_t i = 0;
    for (const auto& f : save.files) {
      for (size_t at = 0; at < f.data.size(); at += formats::kBlockBytes, ++i) {
        if (i >= clusters.size() || !v.ValidCluster(clusters[i])) return false;
        v.ReadCluster(clusters[i], held.data());
        if (!std::equal(held.begin(), held.end(), f.data.begin() + static_cast<ptrdiff_t>(at)))
          return false;
      }
    }
    return true;
  } catch (const CardError&) {
  }
  return false;
}

}  // namespace

ReplaceResult ReplaceSave(TPS2MFMSYS& manager, const std::string& archive, TfileIP existing,
                          const std::string& backup_path) {
  const auto incoming = TryReadSave(archive);
  if (!incoming) return ReplaceResult::kFailedRestored;
  return ReplaceSave(manager, *incoming, existing, backup_path);
}

ReplaceResult ReplaceSave(TPS2MFMSYS& manager, const formats::Ps2Save& incoming, TfileIP existing,
                          const std::string& backup_path) {
  // The room and the sameness below are judged on the card as it is now.
  if (!manager.ConfirmOnCard(existing)) return ReplaceResult::kBackupFailed;
  // The old save's folder is walked on the card (the mount above read only
  // the table): a transfer that fails there ends the replace untried.
  bool unreadable = false;
  auto fits = [&] {
    try {
      return incoming.Clusters() <=
             FreeClusters(manager.Volume()) + FolderClusters(manager, existing);
    } catch (const CardError&) {
      unreadable = true;
      return false;
    }
  };
  // A save whose folder entry is the card save's own was most likely backed
  // up from it: the backup that comes first anyway tells whether only data
  // bytes differ, and then no room is needed. Otherwise the room is checked
  // before the old save is even read.
  const auto own = card::BuildHeader(existing);
  const bool maybe_same = std::equal(own.begin(), own.end(), incoming.folder.begin());
  if (!maybe_same && !fits())
    return unreadable ? ReplaceResult::kBackupFailed : ReplaceResult::kNoRoom;
  std::vector<uint32_t> clusters;
  if (!manager.BackupSaveFolder(backup_path, existing, &clusters))
    return ReplaceResult::kBackupFailed;

  // The same save with other bytes in its files (what an edit in the hex
  // editor gives): its data goes over the old data where it lies, and only
  // the changed blocks are written. Nothing else on the card changes, so a
  // failure leaves the folder whole and the old bytes can go back the same way.
  const auto old = maybe_same ? TryReadSave(backup_path) : std::nullopt;
  if (old && SameSaveOtherData(incoming, *old, clusters)) {
    const InPlace written = WriteDataInPlace(manager, incoming, clusters);
    if (written == InPlace::kDone) {
      (void)manager.Catalog();
      std::remove(backup_path.c_str());
      return ReplaceResult::kDone;
    }
    if (written == InPlace::kFailed) {
      const bool restored = WriteDataInPlace(manager, *old, clusters) == InPlace::kDone;
      // A commit whose read-back failed may have reached the card all the
      // same, and so may the old bytes' commit: what the card holds now, read
      // after a fresh mount, decides what the user is told.
      TfileIP again = existing;
      const bool readable = !restored && manager.ConfirmOnCard(again) &&
                            again.RelatCluster == existing.RelatCluster;
      const bool is_new = readable && HoldsData(manager, incoming, clusters);
      const bool is_old = readable && !is_new && HoldsData(manager, *old, clusters);
      (void)manager.Catalog();
      if (!restored && !is_new && !is_old) return ReplaceResult::kFailedLost;
      std::remove(backup_path.c_str());
      return is_new ? ReplaceResult::kDone : ReplaceResult::kFailedRestored;
    }
    // Changes in several blocks: the save is deleted and written anew below.
  }
  if (maybe_same && !fits()) {
    std::remove(backup_path.c_str());
    return unreadable ? ReplaceResult::kFailedRestored : ReplaceResult::kNoRoom;
  }

  auto append = [&](const formats::Ps2Save& save) {
    TfileIP root = card::RootDirectory();
    return manager.AppendSave(save, root).done;
  };
  auto append_backup = [&] {
    TfileIP root = card::RootDirectory();
    try {
      return manager.AppendSaveArchive(backup_path, root).done;
    } catch (const InOutError&) {
      return false;
    }
  };

  const bool deleted = manager.DeleteSaveFolder(existing).done;
  if (deleted && manager.Catalog() && append(incoming)) {
    (void)manager.Catalog();
    std::remove(backup_path.c_str());
    return ReplaceResult::kDone;
  }
  if (!deleted && FindSave(manager, existing.Name)) {
    // The delete did not go through: the old save is still there.
    std::remove(backup_path.c_str());
    return ReplaceResult::kFailedRestored;
  }
  if (deleted && FindSave(manager, incoming.Name())) {
    // The append's commit reached the card although it was not confirmed
    // (its read-back failed); the mount after the failure shows a save whole
    // or not at all. The old save going back beside it would make two
    // folders of one name.
    std::remove(backup_path.c_str());
    return ReplaceResult::kDone;
  }
  const bool restored = manager.Catalog() && append_backup();
  (void)manager.Catalog();
  if (!restored) return ReplaceResult::kFailedLost;
  std::remove(backup_path.c_str());
  return ReplaceResult::kFailedRestored;
}

std::string KeptCopyPath(const std::string& folder, const std::string& save_name,
                         const std::string& extension) {
  std::error_code ec;
  std::filesystem::create_directory(folder, ec);
  // The name as the user reads it; a byte that a file name cannot hold, or
  // that would lead out of the folder, becomes '_'.
  std::string stem = DecodeShiftJis(save_name);
  for (char& ch : stem)
    if (ch == '/' || static_cast<unsigned char>(ch) < 0x20) ch = '_';
  if (stem.empty() || stem == "." || stem == "..") stem = "save";
  const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (uint64_t n = 1;; ++n) {
    std::string path = base + stem + "_" + std::to_string(n) + extension;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) return path;
  }
}

ReplaceResult ReplacePS1Save(TPS2MFMSYS& manager, const formats::Ps1Save& save, int entry,
                             const std::string& backup_path) {
  // The save's own blocks: whatever header its file had is no part of them.
  const int64_t size = static_cast<int64_t>(save.BlockCount() * formats::kPs1BlockBytes);
  if (entry < 0 || entry >= kPS1Entries || !manager.ScanPS1()) return ReplaceResult::kBackupFailed;
  auto is_save = [&](int e) { return IsPS1Save(manager.PS1Card.Items[e]); };
  if (!is_save(entry)) return ReplaceResult::kBackupFailed;
  const int64_t used = PS1UsedBytes(manager.PS1Card);
  const std::string name = manager.PS1Card.Items[entry].FileName;
  if (kPS1Capacity - (used - manager.PS1Card.Items[entry].Size) < size)
    return ReplaceResult::kNoRoom;
  if (!manager.UploadPS1Saver(backup_path, entry)) return ReplaceResult::kBackupFailed;

  auto download_backup = [&] {
    try {
      return manager.DownloadPS1Saver(backup_path).done;
    } catch (const InOutError&) {
      return false;
    }
  };
  if (!manager.DeletePS1Saver(entry)) {
    // The old save may still be whole; only then may its copy go.
    if (manager.ScanPS1() && is_save(entry) && manager.PS1Card.Items[entry].FileName == name) {
      std::remove(backup_path.c_str());
      return ReplaceResult::kFailedRestored;
    }
  } else if (manager.DownloadPS1Saver(save)) {
    std::remove(backup_path.c_str());
    return ReplaceResult::kDone;
  }
  if (!download_backup()) return ReplaceResult::kFailedLost;
  std::remove(backup_path.c_str());
  return ReplaceResult::kFailedRestored;
}

}  // namespace travosk::manager
