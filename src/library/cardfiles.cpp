#include "library/cardfiles.h"

#include <unistd.h>

#include <filesystem>
#include <map>

#include "card/fileip.h"
#include "card/layout.h"
#include "common/errors.h"
#include "common/slots.h"
#include "formats/foldercard.h"
#include "formats/images.h"
#include "formats/psu.h"
#include "library/reorganise.h"
#include "manager/foldercardimage.h"
#include "manager/imagesession.h"
#include "manager/newcard.h"
#include "manager/ps1card.h"

namespace fs = std::filesystem;

namespace travosk::library::cardfiles {

namespace {

std::vector<uint8_t> BytesOf(const formats::Ps1Save& save) {
  std::vector<uint8_t> out(save.frame.begin(), save.frame.end());
  out.insert(out.end(), save.blocks.begin(), save.blocks.end());
  return out;
}

// A save's archive bytes without what only says where it lay on its card
// (each entry's first cluster and its index in its folder): the same save on
// two cards compares equal.
std::vector<uint8_t> BytesOf(formats::Ps2Save save) {
  auto clear = [](formats::Entry& e) {
    std::fill_n(e.begin() + card::entry::kCluster, 4, 0);
    std::fill_n(e.begin() + card::entry::kDirEntry, 4, 0);
  };
  clear(save.folder);
  clear(save.dot);
  clear(save.dotdot);
  for (auto& f : save.files) clear(f.entry);
  return formats::WritePsu(save);
}

std::vector<card::TfileIP> RootFolders(manager::TPS2MFMSYS& m, const std::string& label) {
  std::vector<card::TfileIP> folders;
  m.OnAddrootNode = [&](card::TfileIP& x) {
    if (x.Dir && !x.Deleted && !x.IsDotName()) folders.push_back(x);
  };
  const bool ok = m.Catalog();
  m.OnAddrootNode = nullptr;
  if (!ok) throw ReorganiseError(label + ": the card could not be read" +
                                 (m.LastError().empty() ? "" : ": " + m.LastError()));
  return folders;
}

formats::ImageFormat FormatFor(const std::string& path, bool ps1) {
  for (const auto f : formats::ImageFormatsForPath(fs::path(path).filename().string()))
    if (formats::IsPs1Image(f) == ps1) return f;
  throw ReorganiseError(path + ": the name takes no " + (ps1 ? "PS1" : "PS2") + " card image");
}

// Removes the temporary card unless it was put in place.
struct TempCard {
  fs::path path;
  bool kept = false;
  ~TempCard() {
    std::error_code ec;
    if (!kept) fs::remove(path, ec);
  }
};

fs::path TempBeside(const fs::path& final_path, const std::string& extension = {}) {
  return final_path.parent_path() / (".travosk-" + std::to_string(::getpid()) + "-" +
                                     final_path.filename().string() + extension);
}

// The saves put on and taken off, on the card `m` reaches.
void Apply(manager::TPS2MFMSYS& m, const std::string& label, bool ps1,
           const std::vector<const SaveValue*>& additions,
           const std::vector<std::string>& removals) {
  for (const auto& name : removals) {
    bool done = false;
    std::string why;
    if (ps1) {
      if (m.PS1Catalog())
        if (const auto entry = manager::FindPS1Save(m.PS1Card, name))
          done = m.DeletePS1Saver(*entry).done;
      why = m.LastError();
    } else {
      for (auto folder : RootFolders(m, label))
        if (folder.Name == name) {
          const auto outcome = m.DeleteSaveFolder(folder);
          done = outcome.done;
          why = outcome.reason;
          break;
        }
    }
    if (!done)
      throw ReorganiseError(label + ": save \"" + name + "\" could not be taken off" +
                            (why.empty() ? "" : ": " + why));
  }
  for (const SaveValue* save : additions) {
    bool done = false;
    std::string why;
    if (ps1) {
      done = m.PS1Catalog() && m.DownloadPS1Saver(save->ps1_save).done;
      why = m.LastError();
    } else {
      card::TfileIP root = card::RootDirectory();
      if (m.Catalog()) {
        const auto outcome = m.AppendSave(save->ps2, root);
        done = outcome.done;
        why = outcome.reason;
      } else {
        why = m.LastError();
      }
    }
    if (!done)
      throw ReorganiseError(label + ": save \"" + save->name + "\" could not be put on the card" +
                            (why.empty() ? " (it does not fit)" : ": " + why));
  }
}

// The names of the saves put on: only they are read back whole.
std::set<std::string> Added(const std::vector<const SaveValue*>& additions) {
  std::set<std::string> names;
  for (const SaveValue* s : additions) names.insert(s->name);
  return names;
}

// The card as written, read back: every save put on it byte for byte, none
// taken off left.
void Verify(std::vector<SaveValue> read, const std::string& label,
            const std::vector<const SaveValue*>& additions,
            const std::vector<std::string>& removals) {
  std::map<std::string, std::vector<uint8_t>> written;
  for (auto& v : read) written[v.name] = std::move(v.bytes);
  for (const SaveValue* save : additions) {
    const auto it = written.find(save->name);
    if (it == written.end() || it->second != save->bytes)
      throw ReorganiseError(label + ": save \"" + save->name + "\" did not read back as written");
  }
  for (const auto& name : removals)
    if (written.count(name)) throw ReorganiseError(label + ": save \"" + name + "\" is still there");
}

// A session on the card file `path` that writes it, the changes applied.
void ChangeFile(const std::string& path, const std::string& label, bool ps1,
                const std::vector<const SaveValue*>& additions,
                const std::vector<std::string>& removals, const std::string& work_folder) {
  try {
    manager::ImageSessionOptions options;
    options.card = path;
    options.work_folder = work_folder;
    manager::ImageSession session(options);
    bool card_ps1 = false;
    SelectCard(session.Manager(), card_ps1);
    if (card_ps1 != ps1) throw ReorganiseError(label + ": a card of the other kind");
    Apply(session.Manager(), label, ps1, additions, removals);
    session.Close();
  } catch (const ReorganiseError&) {
    throw;
  } catch (const std::exception& e) {
    throw ReorganiseError(label + ": " + e.what());
  }
}

}  // namespace

void SelectCard(manager::TPS2MFMSYS& m, bool& ps1) {
  m.Access().Medium = Slot::kCard;
  if (m.CheckLink()) {
    ps1 = false;
  } else if (m.Access().IsPS1Card) {
    ps1 = true;
  } else {
    throw ReorganiseError("no card the adapter recognises");
  }
}

std::vector<SaveValue> ReadSavesOf(manager::TPS2MFMSYS& m, const std::string& label, bool& ps1,
                                   const std::set<std::string>* only) {
  auto wanted = [only](const std::string& name) { return !only || only->count(name) != 0; };
  std::vector<SaveValue> saves;
  try {
    SelectCard(m, ps1);
    if (ps1) {
      if (!m.PS1Catalog() || !m.PS1Card.Formatted)
        throw ReorganiseError(label + ": the card could not be read");
      for (const int entry : manager::PS1SaveEntries(m.PS1Card)) {
        SaveValue v;
        v.ps1 = true;
        v.name = m.PS1Card.Items[entry].FileName;
        if (!wanted(v.name)) {
          saves.push_back(std::move(v));
          continue;
        }
        if (!m.ReadPS1Saver(entry, v.ps1_save))
          throw ReorganiseError(label + ": save \"" + m.PS1Card.Items[entry].FileName +
                                "\" could not be read");
        v.bytes = BytesOf(v.ps1_save);
        saves.push_back(std::move(v));
      }
    } else {
      for (auto folder : RootFolders(m, label)) {
        SaveValue v;
        v.name = folder.Name;
        if (!wanted(v.name)) {
          saves.push_back(std::move(v));
          continue;
        }
        bool isbreak = false;
        m.ReadSaveFromCard(folder, v.ps2, isbreak);
        v.bytes = BytesOf(v.ps2);
        saves.push_back(std::move(v));
      }
    }
  } catch (const ReorganiseError&) {
    throw;
  } catch (const std::exception& e) {
    throw ReorganiseError(label + ": " + e.what());
  }
  return saves;
}

std::vector<SaveValue> ReadSaves(const std::string& path, const std::string& work_folder,
                                 bool& ps1, const std::set<std::string>* only) {
  try {
    manager::ImageSessionOptions options;
    options.card = path;
    options.card_unwritten = true;
    options.work_folder = work_folder;
    manager::ImageSession session(options);
    return ReadSavesOf(session.Manager(), path, ps1, only);
  } catch (const ReorganiseError&) {
    throw;
  } catch (const std::exception& e) {
    // A file error names the file itself.
    const std::string why = e.what();
    throw ReorganiseError(why.find(path) == std::string::npos ? path + ": " + why : why);
  }
}

void WriteCard(const std::string& target, CardFile kind, bool ps1,
               const std::vector<const SaveValue*>& additions,
               const std::vector<std::string>& removals, const std::string& work_folder) {
  // "DIR/" names a folder card; its path goes on without the slash.
  const fs::path card_path =
      fs::path(target).filename().empty() ? fs::path(target).parent_path() : fs::path(target);
  const std::string label = card_path.string();
  const auto added = Added(additions);
  bool read_ps1 = false;
  if (kind == CardFile::kExisting && formats::IsFolderCard(label)) {
    // The folder card's own write-back changes only the saves that changed,
    // each written aside and renamed into place, the emulator's index kept.
    ChangeFile(label, label, ps1, additions, removals, work_folder);
    Verify(ReadSaves(label, work_folder, read_ps1, &added), label, additions, removals);
    return;
  }
  if (kind == CardFile::kNewFolderCard && ps1)
    throw ReorganiseError(label + ": a folder card holds PS2 saves only");
  std::error_code ec;
  if (!card_path.parent_path().empty()) fs::create_directories(card_path.parent_path(), ec);
  TempCard temp{TempBeside(card_path, kind == CardFile::kNewFolderCard ? ".ps2" : "")};
  try {
    if (kind == CardFile::kExisting)
      fs::copy_file(card_path, temp.path, fs::copy_options::overwrite_existing);
    else
      manager::CreateCardImage(temp.path.string(),
                               kind == CardFile::kNewFolderCard ? formats::ImageFormat::kPs2Raw
                                                                : FormatFor(label, ps1),
                               8);
  } catch (const std::exception& e) {
    throw ReorganiseError(label + ": " + e.what());
  }
  ChangeFile(temp.path.string(), label, ps1, additions, removals, work_folder);
  Verify(ReadSaves(temp.path.string(), work_folder, read_ps1, &added), label, additions, removals);
  if (kind == CardFile::kNewFolderCard) {
    // The folder is built beside its place and renamed into it whole.
    try {
      manager::ConvertImageToFolderCard(temp.path.string(), label, work_folder);
    } catch (const std::exception& e) {
      throw ReorganiseError(label + ": " + e.what());
    }
    Verify(ReadSaves(label, work_folder, read_ps1, &added), label, additions, removals);
    return;
  }
  fs::rename(temp.path, card_path, ec);
  if (ec) throw ReorganiseError(label + ": " + ec.message());
  temp.kept = true;
}

void ChangeCard(manager::TPS2MFMSYS& m, const std::string& label, bool ps1,
                const std::vector<const SaveValue*>& additions,
                const std::vector<std::string>& removals) {
  try {
    Apply(m, label, ps1, additions, removals);
  } catch (const ReorganiseError&) {
    throw;
  } catch (const std::exception& e) {
    throw ReorganiseError(label + ": " + e.what());
  }
  bool read_ps1 = false;
  const auto added = Added(additions);
  Verify(ReadSavesOf(m, label, read_ps1, &added), label, additions, removals);
}

}  // namespace travosk::library::cardfiles
