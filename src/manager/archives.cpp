// Save archives (".psu", ".psd"): one save folder as a sequence of 512-byte
// entry headers, each file header followed by its data in 1,024-byte blocks.
// The writer puts down exactly what the reader takes back: the folder header
// counts the records written, and every file carries (length + 1023) / 1024
// blocks, so every archive this system writes restores.
#include <fstream>

#include "card/fileops.h"
#include "card/walk.h"
#include "common/atomic_file.h"
#include "common/bytes.h"
#include "common/errors.h"
#include "manager/ps2mfmsys.h"

namespace travosk::manager {

using card::TfileIP;

namespace {

constexpr size_t kBlockBytes = 1024;

void WriteOrThrow(std::ostream& out, const uint8_t* data, size_t count) {
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
  if (!out) throw InOutError("archive", "write failed");
}

}  // namespace

bool TPS2MFMSYS::BackupEntry(std::ostream& archive, TfileIP& entry) {
  int max = 100, min = 0, process = 0;
  bool isbreak = false;
  if (OnFilebarprocess) OnFilebarprocess(entry, max, min, process, isbreak);

  if (!entry.Dir && !entry.Deleted) {
    const auto header = card::BuildHeader(entry);
    WriteOrThrow(archive, header.data(), header.size());
    const uint64_t blocks = (static_cast<uint64_t>(entry.Length()) + kBlockBytes - 1) / kBlockBytes;
    // The length comes off the card as well as the chain: a chain that loops
    // must end the backup, not feed it the same clusters up to 4 GB long.
    card::ChainReader chain(*volume_, static_cast<uint32_t>(entry.RelatCluster));
    std::array<uint8_t, kBlockBytes> block{};
    for (uint64_t i = 0; i < blocks; ++i) {
      const uint32_t cluster = chain.Position();
      if (!chain.Next(block.data()))
        throw CardError("file \"" + entry.Name + "\" has fewer clusters than its length needs");
      WriteOrThrow(archive, block.data(), block.size());
      if (backup_clusters_) backup_clusters_->push_back(cluster);
      if (OnFilebarprocess) OnFilebarprocess(entry, max, min, process, isbreak);
      if (++process > 99) process = 0;
    }
    return true;
  }
  if (entry.Dir && entry.IsDotName()) {
    const auto header = card::BuildHeader(entry);
    WriteOrThrow(archive, header.data(), header.size());
    return true;
  }
  return false;
}

bool TPS2MFMSYS::BackupFolderTo(std::ostream& out, TfileIP& folder, bool& isbreak) {
  auto& v = *volume_;
  const auto header = card::BuildHeader(folder);
  WriteOrThrow(out, header.data(), header.size());

  const int64_t count = EntryCount(folder);
  int64_t written = 0;
  int64_t slots = 0;  // entries read, deleted ones included
  int dots = 0;
  uint32_t files = 0;
  auto take = [&](TfileIP& item) {
    // "." and ".." are known by their names alone, but their records go into
    // the archive and back onto a card as they are: one whose mode no longer
    // says folder is damage (or a corrupted read), not a save to copy.
    if (item.Dir && item.IsDotName() && !item.Deleted &&
        !(load_le16(item.Header, card::entry::kMode) & card::entry::kModeDirectory))
      throw CardError("save folder \"" + folder.Name + "\" has a \"" + item.Name +
                      "\" entry that is not a folder");
    // An archive carries files only. Leaving a folder out (or a file whose
    // mode reads as one) would give a backup that restores cleanly without
    // it, and a replace that trusts that backup would lose it for good.
    if (item.Dir && !item.IsDotName() && !item.Deleted)
      throw CardError("save folder \"" + folder.Name + "\" holds \"" + item.Name +
                      "\", a folder, which a save archive cannot carry");
    if (!BackupEntry(out, item)) return;
    if (item.Dir)
      ++dots;
    else
      ++files;
  };

  card::PushPosition(v, folder);
  if (card::EnterDirectory(v, folder)) {
    TfileIP item;
    if (card::ReadFirstEntry(v, item)) {
      ++slots;
      take(item);
      if (!item.Deleted) ++written;
      while (!isbreak && written < count && card::ReadNextEntry(v, item)) {
        ++slots;
        if (!item.Deleted) ++written;
        take(item);
        FireFileProgress(item, isbreak);
        if (++v.ProgressPos > v.ProgressMax) v.ProgressPos = 0;
      }
    }
  }
  card::PopPosition(v, folder);
  v.ProgressPos = v.ProgressMax;
  FireFileProgress(folder, isbreak);

  if (dots != 2) throw CardError("save folder \"" + folder.Name + "\" lacks its \".\" and \"..\" entries");
  // The folder's length counts its slots up to the last one in use. A walk
  // that ends before it (a directory chain that loops or breaks off, an entry
  // that cannot be read) would leave files out of the archive without a word.
  if (!isbreak && slots < count)
    throw CardError("save folder \"" + folder.Name + "\" records " + std::to_string(count) +
                    " entries, but only " + std::to_string(slots) + " can be read");
  // The folder header announces the records that follow, so a reader takes
  // back exactly what was written, deleted entries and sub-folders left out.
  std::array<uint8_t, 4> length{};
  store_le32(length, 0, files + 2);
  out.seekp(card::entry::kLength);
  WriteOrThrow(out, length.data(), length.size());
  out.seekp(0, std::ios::end);
  return true;
}

bool TPS2MFMSYS::BackupSaveFolder(const std::string& file_name, TfileIP& folder,
                                  std::vector<uint32_t>* clusters) {
  last_error_.clear();
  if (clusters) clusters->clear();
  backup_clusters_ = clusters;
  struct Forget {
    std::vector<uint32_t>*& target;
    ~Forget() { target = nullptr; }
  } forget{backup_clusters_};
  if (!folder.Dir || folder.IsDotName()) return false;
  if (!ReopenCatalogued()) return false;
  bool isbreak = false;
  volume_->ProgressMax = 40;
  volume_->ProgressMin = 0;
  volume_->ProgressPos = 0;
  FireFileProgress(folder, isbreak);

  std::unique_ptr<AtomicFile> file;
  try {
    file = std::make_unique<AtomicFile>(file_name);
  } catch (const InOutError& e) {
    last_error_ = e.what();
    return false;
  }
  try {
    BackupFolderTo(file->stream(), folder, isbreak);
  } catch (const CardError& e) {
    last_error_ = e.what();
    return false;
  } catch (const InOutError& e) {
    throw InOutError(file_name, e.reason());
  }
  // A cancelled backup leaves whatever file was there before.
  if (isbreak) return false;
  file->Commit();
  return true;
}

bool TPS2MFMSYS::AppendSaveArchive(const std::string& file_name, TfileIP& target) {
  last_error_.clear();
  if (!ReopenCatalogued()) return false;
  auto& v = *volume_;
  bool isbreak = false;
  v.ProgressMin = 0;
  v.ProgressMax = 100;
  v.ProgressPos = 0;
  v.ProgressActive = 1;
  FireFileProgress(target, isbreak);

  std::ifstream in(file_name, std::ios::binary);
  if (!in) {
    v.ProgressActive = 0;
    return false;
  }

  bool result = false;
  bool committed = false;
  try {
    uint32_t files = 0;
    if (card::CreateFolderFromStream(v, in, target, files)) {
      bool ok = true;
      if (files > 0) {
        uint32_t i = 0;
        v.ProgressMax = static_cast<int32_t>(files);
        FireFileProgress(target, isbreak);
        while (i < files && ok && !isbreak) {
          ok = card::WriteFileFromStream(v, in, target);
          ++i;
          ++v.ProgressPos;
          FireFileProgress(target, isbreak);
        }
      }
      result = ok && !isbreak;
      if (result) {
        FlushCard();
        committed = true;
      }
    }
  } catch (const CardError& e) {
    last_error_ = e.what();
    result = false;
  } catch (const InOutError& e) {
    cache_->ResetCache();
    v.ProgressActive = 0;
    throw InOutError(file_name, e.reason());
  }
  // A refused or cancelled append stages nothing that a later commit could
  // carry to the card.
  if (!committed) cache_->ResetCache();
  v.ProgressActive = 0;
  return result;
}

}  // namespace travosk::manager
