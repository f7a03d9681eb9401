#include "library/reorganise.h"

#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "card/fileip.h"
#include "card/layout.h"
#include "common/errors.h"
#include "common/slots.h"
#include "formats/foldercard.h"
#include "formats/images.h"
#include "formats/psu.h"
#include "formats/save.h"
#include "manager/imagesession.h"
#include "manager/newcard.h"
#include "manager/ps1card.h"

namespace fs = std::filesystem;

namespace travosk::library {

namespace {

// A save as read from a card: the value the card manager writes, and its
// bytes as an archive for the comparison after the write.
struct SaveValue {
  std::string name;
  bool ps1 = false;
  formats::Ps2Save ps2;
  formats::Ps1Save ps1_save;
  std::vector<uint8_t> bytes;
};

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

// The card manager of an image session, on the card slot; `ps1` tells the
// card's kind. Throws ReorganiseError when the slot holds no card.
manager::TPS2MFMSYS& CardOf(manager::ImageSession& session, bool& ps1) {
  auto& m = session.Manager();
  m.Access().Medium = Slot::kCard;
  if (m.CheckLink()) {
    ps1 = false;
  } else if (m.Access().IsPS1Card) {
    ps1 = true;
  } else {
    throw ReorganiseError("no card the adapter recognises");
  }
  return m;
}

std::vector<card::TfileIP> RootFolders(manager::TPS2MFMSYS& m, const std::string& path) {
  std::vector<card::TfileIP> folders;
  m.OnAddrootNode = [&](card::TfileIP& x) {
    if (x.Dir && !x.Deleted && !x.IsDotName()) folders.push_back(x);
  };
  const bool ok = m.Catalog();
  m.OnAddrootNode = nullptr;
  if (!ok) throw ReorganiseError(path + ": the card could not be read" +
                                 (m.LastError().empty() ? "" : ": " + m.LastError()));
  return folders;
}

// Every save of the card at `path` (absolute), read whole.
std::vector<SaveValue> ReadSaves(const std::string& path, const std::string& work_folder,
                                 bool& ps1) {
  manager::ImageSessionOptions options;
  options.card = path;
  options.card_unwritten = true;
  options.work_folder = work_folder;
  std::vector<SaveValue> saves;
  try {
    manager::ImageSession session(options);
    auto& m = CardOf(session, ps1);
    if (ps1) {
      if (!m.PS1Catalog() || !m.PS1Card.Formatted)
        throw ReorganiseError(path + ": the card could not be read");
      for (const int entry : manager::PS1SaveEntries(m.PS1Card)) {
        SaveValue v;
        v.ps1 = true;
        if (!m.ReadPS1Saver(entry, v.ps1_save))
          throw ReorganiseError(path + ": save \"" + m.PS1Card.Items[entry].FileName +
                                "\" could not be read");
        v.name = m.PS1Card.Items[entry].FileName;
        v.bytes = BytesOf(v.ps1_save);
        saves.push_back(std::move(v));
      }
    } else {
      for (auto folder : RootFolders(m, path)) {
        SaveValue v;
        bool isbreak = false;
        m.ReadSaveFromCard(folder, v.ps2, isbreak);
        v.name = folder.Name;
        v.bytes = BytesOf(v.ps2);
        saves.push_back(std::move(v));
      }
    }
  } catch (const ReorganiseError&) {
    throw;
  } catch (const std::exception& e) {
    throw ReorganiseError(path + ": " + e.what());
  }
  return saves;
}

std::string Absolute(const std::string& root, const std::string& relative) {
  return (fs::path(root) / relative).string();
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

// Makes or changes the card file `target`: a copy of it (`from_existing`),
// else a new blank card, takes `removals` off and `additions` on, is read
// back and compared, and replaces `target` only then.
void WriteCard(const std::string& target, bool from_existing, bool ps1,
               const std::vector<const SaveValue*>& additions,
               const std::vector<std::string>& removals, const std::string& work_folder) {
  if (formats::IsFolderCard(target))
    throw ReorganiseError(target + ": a folder card is not changed here (convert it to an image)");
  const fs::path final_path(target);
  std::error_code ec;
  if (!final_path.parent_path().empty()) fs::create_directories(final_path.parent_path(), ec);
  TempCard temp{final_path.parent_path() / (".travosk-" + std::to_string(::getpid()) + "-" +
                                            final_path.filename().string())};
  try {
    if (from_existing)
      fs::copy_file(final_path, temp.path, fs::copy_options::overwrite_existing);
    else
      manager::CreateCardImage(temp.path.string(), FormatFor(target, ps1), 8);
    manager::ImageSessionOptions options;
    options.card = temp.path.string();
    options.work_folder = work_folder;
    manager::ImageSession session(options);
    bool card_ps1 = false;
    auto& m = CardOf(session, card_ps1);
    if (card_ps1 != ps1) throw ReorganiseError(target + ": a card of the other kind");
    for (const auto& name : removals) {
      bool done = false;
      if (ps1) {
        if (m.PS1Catalog())
          if (const auto entry = manager::FindPS1Save(m.PS1Card, name))
            done = m.DeletePS1Saver(*entry);
      } else {
        for (auto folder : RootFolders(m, target))
          if (folder.Name == name) {
            done = m.DeleteSaveFolder(folder).done;
            break;
          }
      }
      if (!done) throw ReorganiseError(target + ": save \"" + name + "\" could not be taken off");
    }
    for (const SaveValue* save : additions) {
      bool done = false;
      if (ps1) {
        done = m.PS1Catalog() && m.DownloadPS1Saver(save->ps1_save);
      } else {
        card::TfileIP root = card::RootDirectory();
        done = m.Catalog() && m.AppendSave(save->ps2, root);
      }
      if (!done)
        throw ReorganiseError(target + ": save \"" + save->name + "\" could not be put on the card" +
                              (m.LastError().empty() ? " (it does not fit)" : ": " + m.LastError()));
    }
    session.Close();
  } catch (const ReorganiseError&) {
    throw;
  } catch (const std::exception& e) {
    throw ReorganiseError(target + ": " + e.what());
  }
  // The card as written, read back: every save put on it byte for byte, none
  // taken off left.
  bool read_ps1 = false;
  std::map<std::string, std::vector<uint8_t>> written;
  for (auto& v : ReadSaves(temp.path.string(), work_folder, read_ps1))
    written[v.name] = std::move(v.bytes);
  for (const SaveValue* save : additions) {
    const auto it = written.find(save->name);
    if (it == written.end() || it->second != save->bytes)
      throw ReorganiseError(target + ": save \"" + save->name + "\" did not read back as written");
  }
  for (const auto& name : removals)
    if (written.count(name)) throw ReorganiseError(target + ": save \"" + name + "\" is still there");
  fs::rename(temp.path, final_path, ec);
  if (ec) throw ReorganiseError(target + ": " + ec.message());
  temp.kept = true;
}

// Where a game's card goes in `layout`: the path, relative, for channel `ch`.
std::string GameCardPath(DeviceLayout layout, const std::string& game, bool ps1, int ch) {
  const std::string channel = std::to_string(ch);
  const std::string suffix = ch == 1 ? "" : "-" + channel;
  switch (layout) {
    case DeviceLayout::kPerGame:
      return game + "/" + game + "-" + channel + (ps1 ? ".mcd" : ".mc2");
    case DeviceLayout::kMemoryCards:
      return std::string("MemoryCards/") + (ps1 ? "PS1/" : "PS2/") + game + "/" + game + "-" +
             channel + ".mcd";
    case DeviceLayout::kEmulator:
      return game + suffix + (ps1 ? ".mcd" : ".ps2");
    case DeviceLayout::kVirtualCards:
      return "VMC/" + game + suffix + ".bin";
    case DeviceLayout::kPs1PerGame:
      if (!ps1) throw ReorganiseError("the PS1 per-game layout takes no PS2 cards");
      return game + suffix + ".mcr";
    case DeviceLayout::kLoose:
      break;
  }
  throw ReorganiseError("choose a device layout for the new cards");
}

}  // namespace

std::vector<NewCard> SplitCard(const std::string& root, const std::string& card,
                               DeviceLayout layout, const std::string& work_folder) {
  bool ps1 = false;
  const auto saves = ReadSaves(Absolute(root, card), work_folder, ps1);
  std::map<std::string, std::vector<const SaveValue*>> games;
  for (const auto& s : saves) {
    const std::string code = ProductCode(s.name);
    games[code.empty() ? "OTHER" : code].push_back(&s);
  }
  // Every card named before any is written.
  std::vector<std::pair<NewCard, std::vector<const SaveValue*>>> plan;
  for (const auto& [game, members] : games) {
    std::string path;
    for (int ch = 1; ch <= 8 && path.empty(); ++ch) {
      const std::string candidate = GameCardPath(layout, game, ps1, ch);
      std::error_code ec;
      if (!fs::exists(Absolute(root, candidate), ec)) path = candidate;
    }
    if (path.empty()) throw ReorganiseError(game + ": every channel of the game holds a card");
    NewCard nc{path, {}};
    for (const auto* s : members) nc.saves.push_back(s->name);
    plan.emplace_back(std::move(nc), members);
  }
  std::vector<NewCard> made;
  for (const auto& [nc, members] : plan) {
    WriteCard(Absolute(root, nc.path), false, ps1, members, {}, work_folder);
    made.push_back(nc);
  }
  return made;
}

NewCard MergeCards(const std::string& root, const std::vector<std::string>& cards,
                   const std::string& into, const std::string& work_folder) {
  std::error_code ec;
  if (fs::exists(Absolute(root, into), ec))
    throw ReorganiseError(into + ": the file exists; merge into a new card");
  std::vector<std::vector<SaveValue>> read;
  std::optional<bool> kind;
  std::map<std::string, std::string> owner;  // save name → its card
  std::vector<std::string> clashes;
  for (const auto& c : cards) {
    bool ps1 = false;
    read.push_back(ReadSaves(Absolute(root, c), work_folder, ps1));
    if (kind && *kind != ps1) throw ReorganiseError(c + ": PS1 and PS2 cards do not merge");
    kind = ps1;
    for (const auto& s : read.back())
      if (const auto [it, fresh] = owner.emplace(s.name, c); !fresh)
        clashes.push_back("\"" + s.name + "\" is on " + it->second + " and " + c);
  }
  if (!kind) throw ReorganiseError("no cards to merge");
  if (!clashes.empty()) {
    std::string text = "two saves share a name (nothing was written):";
    for (const auto& c : clashes) text += "\n  " + c;
    throw ReorganiseError(text);
  }
  std::vector<const SaveValue*> all;
  size_t ps1_blocks = 0;
  for (const auto& list : read)
    for (const auto& s : list) {
      all.push_back(&s);
      ps1_blocks += s.ps1 ? s.ps1_save.BlockCount() : 0;
    }
  if (*kind && ps1_blocks > static_cast<size_t>(manager::kPS1Entries))
    throw ReorganiseError("the saves take " + std::to_string(ps1_blocks) +
                          " blocks, a PS1 card holds 15 (nothing was written)");
  try {
    WriteCard(Absolute(root, into), false, *kind, all, {}, work_folder);
  } catch (const ReorganiseError& e) {
    throw ReorganiseError(std::string(e.what()) + " (nothing was written)");
  }
  NewCard nc{into, {}};
  for (const auto* s : all) nc.saves.push_back(s->name);
  return nc;
}

void CopySave(const std::string& root, const std::string& from, const std::string& name,
              const std::string& to, bool move, const std::string& work_folder) {
  if (fs::path(from).lexically_normal() == fs::path(to).lexically_normal())
    throw ReorganiseError("the save is already on " + to);
  bool ps1 = false;
  const auto saves = ReadSaves(Absolute(root, from), work_folder, ps1);
  const SaveValue* save = nullptr;
  for (const auto& s : saves)
    if (s.name == name) save = &s;
  if (!save) throw ReorganiseError(from + ": no save \"" + name + "\"");
  bool target_ps1 = false;
  for (const auto& s : ReadSaves(Absolute(root, to), work_folder, target_ps1))
    if (s.name == name) throw ReorganiseError(to + ": holds a save \"" + name + "\" already");
  if (target_ps1 != ps1) throw ReorganiseError("PS1 and PS2 saves do not cross cards");
  WriteCard(Absolute(root, to), true, ps1, {save}, {}, work_folder);
  // The save is on the target, read back byte for byte: only now may the
  // source lose it.
  if (move) WriteCard(Absolute(root, from), true, ps1, {}, {name}, work_folder);
}

}  // namespace travosk::library
