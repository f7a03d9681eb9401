#include "library/reorganise.h"

#include <filesystem>
#include <map>
#include <optional>

#include "formats/foldercard.h"
#include "library/cardfiles.h"
#include "manager/ps1card.h"

namespace fs = std::filesystem;

namespace travosk::library {

namespace {

using cardfiles::CardFile;
using cardfiles::ReadSaves;
using cardfiles::SaveValue;
using cardfiles::WriteCard;

std::string Absolute(const std::string& root, const std::string& relative) {
  return (fs::path(root) / relative).string();
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
                               DeviceLayout layout, const std::string& work_folder,
                               bool folder_cards) {
  bool ps1 = false;
  const auto saves = ReadSaves(Absolute(root, card), work_folder, ps1);
  if (folder_cards && (ps1 || layout != DeviceLayout::kEmulator))
    throw ReorganiseError("folder cards are the emulator layout's, for PS2 saves");
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
    WriteCard(Absolute(root, nc.path), folder_cards ? CardFile::kNewFolderCard : CardFile::kNewImage,
              ps1, members, {}, work_folder);
    made.push_back(nc);
  }
  return made;
}

NewCard MergeCards(const std::string& root, const std::vector<std::string>& cards,
                   const std::string& into, const std::string& work_folder) {
  std::error_code ec;
  const fs::path into_path(Absolute(root, into));
  if (fs::exists(into_path.filename().empty() ? into_path.parent_path() : into_path, ec))
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
    WriteCard(Absolute(root, into),
              formats::NamesFolderCard(into) ? CardFile::kNewFolderCard : CardFile::kNewImage,
              *kind, all, {}, work_folder);
  } catch (const ReorganiseError& e) {
    throw ReorganiseError(std::string(e.what()) + " (nothing was written)");
  }
  NewCard nc{into, {}};
  for (const auto* s : all) nc.saves.push_back(s->name);
  return nc;
}

}  // namespace travosk::library
