// Save archives: backing a save folder up into the neutral save value and
// writing it in a save file format, and putting a save read from any format
// back on the card. The value holds exactly what a restore takes back: the
// folder's length counts the files it holds, and every file carries
// (length + 1023) / 1024 blocks, so every save this system writes restores.
#include <fstream>

#include "card/fileops.h"
#include "card/walk.h"
#include "common/bytes.h"
#include "common/errors.h"
#include "formats/files.h"
#include "manager/ps2mfmsys.h"

namespace travosk::manager {

using card::TfileIP;

namespace {

constexpr size_t kBlockBytes = formats::kBlockBytes;

formats::Entry EntryOf(const TfileIP& item) {
  const auto header = card::BuildHeader(item);
  formats::Entry e{};
  std::copy_n(header.begin(), e.size(), e.begin());
  return e;
}

}  // namespace

bool TPS2MFMSYS::BackupEntry(formats::Ps2Save& save, TfileIP& entry) {
  int max = 100, min = 0, process = 0;
  bool isbreak = false;
  if (OnFilebarprocess) OnFilebarprocess(entry, max, min, process, isbreak);

  if (!entry.Dir && !entry.Deleted) {
    formats::Ps2File file;
    file.entry = EntryOf(entry);
    const uint64_t blocks = (static_cast<uint64_t>(entry.Length()) + kBlockBytes - 1) / kBlockBytes;
    // The length comes off the card as well as the chain: a chain that loops
    // must end the backup, not feed it the same clusters up to 4 GB long.
    card::ChainReader chain(*volume_, static_cast<uint32_t>(entry.RelatCluster));
    std::array<uint8_t, kBlockBytes> block{};
    for (uint64_t i = 0; i < blocks; ++i) {
      const uint32_t cluster = chain.Position();
      if (!chain.Next(block.data()))
        throw CardError("file \"" + entry.Name + "\" has fewer clusters than its length needs");
      file.data.insert(file.data.end(), block.begin(), block.end());
      if (backup_clusters_) backup_clusters_->push_back(cluster);
      if (OnFilebarprocess) OnFilebarprocess(entry, max, min, process, isbreak);
      if (++process > 99) process = 0;
    }
    save.files.push_back(std::move(file));
    return true;
  }
  if (entry.Dir && entry.IsDotName()) {
    // The folder's first two slots, in the order the card holds them.
    (backup_dots_++ == 0 ? save.dot : save.dotdot) = EntryOf(entry);
    return true;
  }
  return false;
}

bool TPS2MFMSYS::ReadSaveFromCard(TfileIP& folder, formats::Ps2Save& save, bool& isbreak) {
  auto& v = *volume_;
  save = formats::Ps2Save{};
  save.folder = EntryOf(folder);
  backup_dots_ = 0;

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
    if (!BackupEntry(save, item)) return;
    if (item.Dir)
      ++dots;
    else
      ++files;
  };

  card::WalkCursor walk;
  if (card::EnterDirectory(v, walk, folder)) {
    TfileIP item;
    if (card::ReadFirstEntry(v, walk, item)) {
      ++slots;
      take(item);
      if (!item.Deleted) ++written;
      while (!isbreak && written < count && card::ReadNextEntry(v, walk, item)) {
        ++slots;
        if (!item.Deleted) ++written;
        take(item);
        FireFileProgress(item, isbreak);
        if (++v.ProgressPos > v.ProgressMax) v.ProgressPos = 0;
      }
    }
  }
  v.ProgressPos = v.ProgressMax;
  FireFileProgress(folder, isbreak);

  if (dots != 2) throw CardError("save folder \"" + folder.Name + "\" lacks its \".\" and \"..\" entries");
  // The folder's length counts its slots up to the last one in use. A walk
  // that ends before it (a directory chain that loops or breaks off, an entry
  // that cannot be read) would leave files out of the archive without a word.
  if (!isbreak && slots < count)
    throw CardError("save folder \"" + folder.Name + "\" records " + std::to_string(count) +
                    " entries, but only " + std::to_string(slots) + " can be read");
  // The folder entry announces the files that follow, so a reader takes back
  // exactly what was written, deleted entries and sub-folders left out.
  store_le32(save.folder, card::entry::kLength, files + 2);
  return true;
}

Outcome TPS2MFMSYS::BackupSaveFolder(const std::string& file_name, TfileIP& folder,
                                     std::vector<uint32_t>* clusters) {
  const auto format = formats::FormatForPath(file_name);
  return BackupSave(file_name, folder,
                    formats::IsPs1Format(format) ? formats::SaveFormat::kPsu : format, clusters);
}

Outcome TPS2MFMSYS::BackupSave(const std::string& file_name, TfileIP& folder,
                               formats::SaveFormat format, std::vector<uint32_t>* clusters) {
  return Concluded(WriteSaveFile(file_name, folder, format, clusters));
}

bool TPS2MFMSYS::WriteSaveFile(const std::string& file_name, TfileIP& folder,
                               formats::SaveFormat format, std::vector<uint32_t>* clusters) {
  last_error_.clear();
  card_changed_ = false;
  if (clusters) clusters->clear();
  backup_clusters_ = clusters;
  struct Forget {
    std::vector<uint32_t>*& target;
    ~Forget() { target = nullptr; }
  } forget{backup_clusters_};
  if (!folder.Dir || folder.IsDotName()) return false;
  if (!ConfirmOnCard(folder)) return false;
  bool isbreak = false;
  volume_->ProgressMax = 40;
  volume_->ProgressMin = 0;
  volume_->ProgressPos = 0;
  FireFileProgress(folder, isbreak);

  formats::Ps2Save save;
  std::vector<uint8_t> bytes;
  try {
    ReadSaveFromCard(folder, save, isbreak);
    // A cancelled backup leaves whatever file was there before.
    if (isbreak) return false;
    bytes = formats::WritePs2Save(save, format);
  } catch (const CardError& e) {
    last_error_ = e.what();
    return false;
  } catch (const formats::FormatError& e) {
    last_error_ = e.what();
    return false;
  }
  try {
    formats::WriteWholeFileAtomically(file_name, bytes);
  } catch (const InOutError& e) {
    last_error_ = e.what();
    return false;
  }
  return true;
}

bool TPS2MFMSYS::BeginAppend(TfileIP& target, bool& isbreak) {
  last_error_.clear();
  card_changed_ = false;
  // The table and the root as the card holds them now, whatever was written
  // since the catalogue.
  if (!ReopenCatalogued(true)) return false;
  auto& v = *volume_;
  v.ProgressMin = 0;
  v.ProgressMax = 100;
  v.ProgressPos = 0;
  FireFileProgress(target, isbreak);
  return true;
}

Outcome TPS2MFMSYS::AppendSaveArchive(const std::string& file_name, TfileIP& target) {
  return Concluded(AppendArchiveFile(file_name, target));
}

bool TPS2MFMSYS::AppendArchiveFile(const std::string& file_name, TfileIP& target) {
  bool isbreak = false;
  if (!BeginAppend(target, isbreak)) return false;
  formats::Ps2Save save;
  try {
    if (!std::ifstream(file_name, std::ios::binary)) return false;
    save = formats::ReadPs2SaveFile(file_name);
  } catch (const formats::FormatError& e) {
    last_error_ = e.what();
    return false;
  }
  return AppendSaveValue(save, target, isbreak);
}

Outcome TPS2MFMSYS::AppendSave(const formats::Ps2Save& save, TfileIP& target) {
  bool isbreak = false;
  return Concluded(BeginAppend(target, isbreak) && AppendSaveValue(save, target, isbreak));
}

bool TPS2MFMSYS::AppendSaveValue(const formats::Ps2Save& save, TfileIP& target, bool& isbreak) {
  auto& v = *volume_;
  bool result = false;
  bool committed = false, flushing = false;
  // A refused append puts the table back (a failed commit mounted the card
  // again, and then the table is the card's).
  const std::vector<uint32_t> table = v.Fat;
  try {
    uint32_t files = 0;
    std::array<uint8_t, 2 * formats::kEntryBytes> dots{};
    std::copy(save.dot.begin(), save.dot.end(), dots.begin());
    std::copy(save.dotdot.begin(), save.dotdot.end(), dots.begin() + formats::kEntryBytes);
    if (card::CreateFolder(v, save.folder, dots, target, files)) {
      // The folder's entry announces the files; a value that holds fewer is
      // damage that no reader lets through, and is refused all the same.
      bool ok = files <= save.files.size();
      if (!ok) last_error_ = "the save holds fewer files than its folder announces";
      if (ok && files > 0) {
        uint32_t i = 0;
        v.ProgressMax = static_cast<int32_t>(files);
        FireFileProgress(target, isbreak);
        while (i < files && ok && !isbreak) {
          ok = card::WriteFile(v, save.files[i].entry, save.files[i].data, target);
          ++i;
          ++v.ProgressPos;
          FireFileProgress(target, isbreak);
        }
      }
      result = ok && !isbreak;
      if (result) {
        flushing = true;
        FlushCard();
        committed = true;
      }
    }
  } catch (const CardError& e) {
    last_error_ = e.what();
    result = false;
  }
  // A refused or cancelled append stages nothing that a later commit could
  // carry to the card.
  if (!committed) {
    cache_->ResetCache();
    if (!flushing) v.Fat = table;
  }
  return result;
}

}  // namespace travosk::manager
