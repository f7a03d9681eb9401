#include "manager/savereplace.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "card/fileops.h"
#include "card/walk.h"
#include "common/bytes.h"
#include "common/errors.h"
#include "common/sjis.h"
#include "manager/ps1card.h"

namespace travosk::manager {

using card::TfileIP;

namespace {

constexpr uint64_t kHeader = 512;
constexpr uint64_t kBlock = 1024;

uint64_t BlocksFor(uint64_t length) { return (length + kBlock - 1) / kBlock; }

// Clusters of a chain, bounded by the table so that a cycle cannot loop.
uint64_t ChainLength(const card::TPSFilemanager& v, uint32_t first) {
  uint64_t n = 0;
  uint32_t c = first;
  const uint64_t limit = v.FatEntryCount();
  while (c < limit && n < limit) {
    ++n;
    const uint32_t e = v.Fat[c];
    if (e == card::kChainEnd || !(e & card::kInUse)) break;
    c = e & 0x7FFFFFFF;
  }
  return n;
}

// Where an archive's records lie, as the reader takes them: the folder
// header, the "." and ".." records, then each file's header followed by its
// data blocks.
struct ArchiveLayout {
  ArchiveInfo info;
  std::vector<uint64_t> headers;  // every 512-byte record but the folder header's
  std::vector<uint64_t> blocks;   // every 1,024-byte data block
};

std::optional<ArchiveLayout> LayoutOf(std::ifstream& in) {
  in.seekg(0, std::ios::end);
  const auto end = static_cast<uint64_t>(in.tellg());
  in.seekg(0);
  std::array<uint8_t, kHeader> h{};
  auto read_header = [&](uint64_t at) {
    if (at + kHeader > end) return false;
    in.seekg(static_cast<std::streamoff>(at));
    in.read(reinterpret_cast<char*>(h.data()), kHeader);
    return static_cast<bool>(in);
  };
  if (!read_header(0)) return std::nullopt;
  ArchiveLayout layout;
  ArchiveInfo& info = layout.info;
  info.bytes = end;
  info.name = load_cstr(h, card::entry::kName, 255);
  const uint32_t length = load_le32(h, card::entry::kLength);
  if (load_le16(h, card::entry::kReserved) != 0 || !(h[0] & card::entry::kModeDirectory) ||
      length < 2 || info.name == "." || info.name == "..")
    return std::nullopt;
  info.files = length - 2;
  layout.headers = {kHeader, 2 * kHeader};
  uint64_t at = kHeader + 2 * kHeader;  // the folder header, then "." and ".."
  if (at > end) return std::nullopt;
  uint64_t clusters = BlocksFor(static_cast<uint64_t>(length) * kHeader);
  for (uint32_t i = 0; i < info.files; ++i) {
    if (!read_header(at)) return std::nullopt;
    layout.headers.push_back(at);
    const uint64_t blocks = BlocksFor(load_le32(h, card::entry::kLength));
    at += kHeader;
    if (at + blocks * kBlock > end) return std::nullopt;
    for (uint64_t b = 0; b < blocks; ++b, at += kBlock) layout.blocks.push_back(at);
    clusters += blocks;
  }
  // One more for the root directory, which may have to grow by a cluster.
  info.clusters = clusters + 1;
  return layout;
}

std::optional<ArchiveLayout> LayoutOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return LayoutOf(in);
}

// The layout of `edited` when it holds the same save as `old`, the backup
// just made of it: every record byte for byte the same, so the same files of
// the same lengths, with only data bytes that may differ; and every data
// block came from a cluster of its own.
std::optional<ArchiveLayout> SameSaveOtherData(const std::string& edited, const std::string& old,
                                               const std::vector<uint32_t>& clusters) {
  std::ifstream a(edited, std::ios::binary), b(old, std::ios::binary);
  if (!a || !b) return std::nullopt;
  auto layout = LayoutOf(a);
  const auto old_layout = LayoutOf(b);
  if (!layout || !old_layout || layout->info.bytes != old_layout->info.bytes ||
      layout->headers != old_layout->headers || layout->blocks.size() != clusters.size())
    return std::nullopt;
  std::vector<uint64_t> records = layout->headers;
  records.insert(records.begin(), 0);
  std::array<char, kHeader> ha{}, hb{};
  for (uint64_t at : records) {
    a.clear();
    b.clear();
    a.seekg(static_cast<std::streamoff>(at));
    b.seekg(static_cast<std::streamoff>(at));
    if (!a.read(ha.data(), kHeader) || !b.read(hb.data(), kHeader) || ha != hb) return std::nullopt;
  }
  std::vector<uint32_t> sorted = clusters;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return std::nullopt;
  return layout;
}

// True when the archive's first record is the folder's own entry as a
// backup of it would write it.
bool FolderRecordIs(const std::string& archive, const TfileIP& folder) {
  std::ifstream in(archive, std::ios::binary);
  std::array<uint8_t, kHeader> h{};
  if (!in.read(reinterpret_cast<char*>(h.data()), kHeader)) return false;
  return h == card::BuildHeader(folder);
}

enum class InPlace { kDone, kFailed, kSpansBlocks };

// Writes the archive's data blocks over the clusters they were backed up
// from and commits; entries and allocation table stay as they are. The
// backup has just read every one of those clusters, so the cache knows what
// the card holds and only blocks with changed bytes are written. One block
// is rewritten whole or not at all (through the card's backup blocks);
// changes that span several blocks could leave a save half old and half
// new, so they are not written here (kSpansBlocks, nothing written).
InPlace WriteDataInPlace(TPS2MFMSYS& manager, const std::string& archive,
                         const ArchiveLayout& layout, const std::vector<uint32_t>& clusters) {
  auto& v = manager.Volume();
  try {
    std::ifstream in(archive, std::ios::binary);
    std::array<uint8_t, kBlock> block{};
    for (size_t i = 0; i < clusters.size(); ++i) {
      in.seekg(static_cast<std::streamoff>(layout.blocks[i]));
      if (!in.read(reinterpret_cast<char*>(block.data()), kBlock))
        throw InOutError(archive, "the archive ends early");
      if (!v.ValidCluster(clusters[i]))
        throw CardError("a cluster of the save lies outside the card");
      manager.Cache().CacheWriteCluster(v.ClusterPage(clusters[i]), block.data());
    }
    if (manager.Cache().BlocksToWrite() > 1) {
      manager.Cache().ResetCache();
      return InPlace::kSpansBlocks;
    }
    manager.FlushCard();
    return InPlace::kDone;
  } catch (const CardError&) {
  } catch (const InOutError&) {
  }
  // Nothing staged may reach the card with a later commit.
  manager.Cache().ResetCache();
  return InPlace::kFailed;
}

}  // namespace

std::optional<ArchiveInfo> InspectArchive(const std::string& path) {
  auto layout = LayoutOf(path);
  if (!layout) return std::nullopt;
  return layout->info;
}

uint64_t FreeClusters(const card::TPSFilemanager& v) {
  uint64_t free = 0;
  // The table's last entry is never handed out.
  const uint64_t limit = v.FatEntryCount() ? v.FatEntryCount() - 1 : 0;
  for (uint64_t i = 0; i < limit; ++i)
    if (!(v.Fat[i] & card::kInUse)) ++free;
  return free;
}

uint64_t FolderClusters(TPS2MFMSYS& manager, TfileIP folder) {
  auto& v = manager.Volume();
  if (!folder.Dir || folder.RelatCluster < 0) return 0;
  uint64_t clusters = ChainLength(v, static_cast<uint32_t>(folder.RelatCluster));
  card::PushPosition(v, folder);
  if (card::EnterDirectory(v, folder)) {
    TfileIP item;
    bool more = card::ReadFirstEntry(v, item);
    while (more) {
      if (!item.Dir && !item.Deleted && item.RelatCluster >= 0)
        clusters += ChainLength(v, static_cast<uint32_t>(item.RelatCluster));
      more = card::ReadNextEntry(v, item);
    }
  }
  card::PopPosition(v, folder);
  return clusters;
}

std::optional<TfileIP> FindSave(TPS2MFMSYS& manager, const std::string& name) {
  std::optional<TfileIP> found;
  auto previous = manager.OnAddrootNode;
  manager.OnAddrootNode = [&](TfileIP& x) {
    if (!found && x.Dir && !x.Deleted && !x.IsDotName() && x.Name == name) found = x;
    if (previous) previous(x);
  };
  const bool ok = manager.Catalog();
  manager.OnAddrootNode = previous;
  return ok ? found : std::nullopt;
}

ReplaceResult ReplaceSave(TPS2MFMSYS& manager, const std::string& archive, TfileIP existing,
                          const std::string& backup_path) {
  const auto info = InspectArchive(archive);
  if (!info) return ReplaceResult::kFailedRestored;
  auto fits = [&] {
    return info->clusters <= FreeClusters(manager.Volume()) + FolderClusters(manager, existing);
  };
  // An archive whose folder record is the save's own was most likely backed
  // up from it: the backup that comes first anyway tells whether only data
  // bytes differ, and then no room is needed. Otherwise the room is checked
  // before the old save is even read.
  const bool maybe_same = FolderRecordIs(archive, existing);
  if (!maybe_same && !fits()) return ReplaceResult::kNoRoom;
  std::vector<uint32_t> clusters;
  if (!manager.BackupSaveFolder(backup_path, existing, &clusters))
    return ReplaceResult::kBackupFailed;

  // The same save with other bytes in its files (what an edit in the hex
  // editor gives): its data goes over the old data where it lies, and only
  // the changed blocks are written. Nothing else on the card changes, so a
  // failure leaves the folder whole and the old bytes can go back the same way.
  if (const auto same =
          maybe_same ? SameSaveOtherData(archive, backup_path, clusters) : std::nullopt) {
    const InPlace written = WriteDataInPlace(manager, archive, *same, clusters);
    if (written == InPlace::kDone) {
      (void)manager.Catalog();
      std::remove(backup_path.c_str());
      return ReplaceResult::kDone;
    }
    if (written == InPlace::kFailed) {
      const bool restored =
          WriteDataInPlace(manager, backup_path, *same, clusters) == InPlace::kDone;
      (void)manager.Catalog();
      if (!restored) return ReplaceResult::kFailedLost;
      std::remove(backup_path.c_str());
      return ReplaceResult::kFailedRestored;
    }
    // Changes in several blocks: the save is deleted and written anew below.
  }
  if (maybe_same && !fits()) {
    std::remove(backup_path.c_str());
    return ReplaceResult::kNoRoom;
  }

  auto append = [&](const std::string& path) {
    TfileIP root = card::RootDirectory();
    try {
      return manager.AppendSaveArchive(path, root);
    } catch (const InOutError&) {
      return false;
    }
  };

  const bool deleted = manager.DeleteSaveFolder(existing);
  if (deleted && manager.Catalog() && append(archive)) {
    (void)manager.Catalog();
    std::remove(backup_path.c_str());
    return ReplaceResult::kDone;
  }
  if (!deleted && FindSave(manager, existing.Name)) {
    // The delete did not go through: the old save is still there.
    std::remove(backup_path.c_str());
    return ReplaceResult::kFailedRestored;
  }
  const bool restored = manager.Catalog() && append(backup_path);
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

ReplaceResult ReplacePS1Save(TPS2MFMSYS& manager, const std::string& save_file, int entry,
                             const std::string& backup_path) {
  std::error_code ec;
  const uint64_t length = std::filesystem::file_size(save_file, ec);
  if (ec) throw InOutError(save_file, ec.message());
  // Whole blocks: the 128-byte directory frame falls away.
  const int64_t size = static_cast<int64_t>(length) & ~int64_t{0xFFF};
  if (entry < 0 || entry >= kPS1Entries || !manager.ScanPS1()) return ReplaceResult::kBackupFailed;
  auto is_save = [&](int e) {
    const TPs1FileitemRec& item = manager.PS1Card.Items[e];
    return !item.NoTitle && !item.NotInUse;
  };
  if (!is_save(entry)) return ReplaceResult::kBackupFailed;
  int64_t used = 0;
  for (int e = 0; e < kPS1Entries; ++e)
    if (is_save(e)) used += manager.PS1Card.Items[e].Size;
  const std::string name = manager.PS1Card.Items[entry].FileName;
  if (kPS1Capacity - (used - manager.PS1Card.Items[entry].Size) < size)
    return ReplaceResult::kNoRoom;
  if (!manager.UploadPS1Saver(backup_path, entry)) return ReplaceResult::kBackupFailed;

  auto download = [&](const std::string& path) {
    try {
      return manager.DownloadPS1Saver(path);
    } catch (const InOutError&) {
      return false;
    }
  };
  if (!manager.DeletePS1Saver(entry + 1)) {
    // The old save may still be whole; only then may its copy go.
    if (manager.ScanPS1() && is_save(entry) && manager.PS1Card.Items[entry].FileName == name) {
      std::remove(backup_path.c_str());
      return ReplaceResult::kFailedRestored;
    }
  } else if (download(save_file)) {
    std::remove(backup_path.c_str());
    return ReplaceResult::kDone;
  }
  if (!download(backup_path)) return ReplaceResult::kFailedLost;
  std::remove(backup_path.c_str());
  return ReplaceResult::kFailedRestored;
}

}  // namespace travosk::manager
