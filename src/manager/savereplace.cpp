#include "manager/savereplace.h"

#include <cstdio>
#include <fstream>

#include "card/walk.h"
#include "common/bytes.h"
#include "common/errors.h"

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

}  // namespace

std::optional<ArchiveInfo> InspectArchive(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
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
  ArchiveInfo info;
  info.bytes = end;
  info.name = load_cstr(h, card::entry::kName, 255);
  const uint32_t length = load_le32(h, card::entry::kLength);
  if (load_le16(h, card::entry::kReserved) != 0 || !(h[0] & card::entry::kModeDirectory) ||
      length < 2 || info.name == "." || info.name == "..")
    return std::nullopt;
  info.files = length - 2;
  uint64_t at = kHeader + 2 * kHeader;  // the folder header, then "." and ".."
  if (at > end) return std::nullopt;
  uint64_t clusters = BlocksFor(static_cast<uint64_t>(length) * kHeader);
  for (uint32_t i = 0; i < info.files; ++i) {
    if (!read_header(at)) return std::nullopt;
    const uint64_t file_length = load_le32(h, card::entry::kLength);
    at += kHeader + BlocksFor(file_length) * kBlock;
    if (at > end) return std::nullopt;
    clusters += BlocksFor(file_length);
  }
  // One more for the root directory, which may have to grow by a cluster.
  info.clusters = clusters + 1;
  return info;
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
  if (info->clusters > FreeClusters(manager.Volume()) + FolderClusters(manager, existing))
    return ReplaceResult::kNoRoom;
  if (!manager.BackupSaveFolder(backup_path, existing)) return ReplaceResult::kBackupFailed;

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

}  // namespace travosk::manager
