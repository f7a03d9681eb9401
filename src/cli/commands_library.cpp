// A folder of cards as one library: listing, search and reorganising.
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>

#include "cli/commands.h"
#include "common/errors.h"
#include "common/sjis.h"
#include "library/library.h"
#include "library/reorganise.h"

namespace travosk::cli {

namespace {

std::string WorkFolder(const Context& c) {
  return c.source.workdir.empty() ? DefaultWorkFolder() : c.source.workdir;
}

library::Library Open(Context& c, const std::string& dir) {
  library::OpenOptions options;
  options.work_folder = WorkFolder(c);
  options.index_path = library::DefaultIndexPath(dir);
  return library::OpenLibrary(dir, options);
}

std::string Game(const library::SaveEntry& s) { return s.product.empty() ? "-" : s.product; }

void SaveLine(Context& c, const library::SaveEntry& s, const std::string& card) {
  c.out << "  " << std::left << std::setw(32) << s.name << std::right << std::setw(9) << s.size
        << "  " << std::left << std::setw(19) << (s.modified.empty() ? "-" : s.modified)
        << std::right << "  " << DecodeShiftJis(s.title);
  if (!s.icon.empty()) c.out << "  (icon " << s.icon << ")";
  if (!card.empty()) c.out << "  [" << card << "]";
  c.out << "\n";
}

void SaveJson(Context& c, const library::SaveEntry& s, const std::string& card) {
  c.out << "{";
  if (!card.empty()) c.out << "\"card\": " << JsonString(card) << ", ";
  c.out << "\"name\": " << JsonString(s.name) << ", \"product\": " << JsonString(s.product)
        << ", \"title\": " << JsonString(DecodeShiftJis(s.title)) << ", \"size\": " << s.size
        << ", \"modified\": " << JsonString(s.modified) << ", \"icon\": " << JsonString(s.icon)
        << "}";
}

void CardHeading(Context& c, const library::CardEntry& card) {
  c.out << card.path << "  " << (card.format.empty() ? "?" : card.format);
  if (!card.readable)
    c.out << "  UNREADABLE: " << card.problem << "\n";
  else
    c.out << "  " << card.saves.size() << (card.saves.size() == 1 ? " save, " : " saves, ")
          << card.free << " bytes free\n";
}

void CardJson(Context& c, const library::CardEntry& card) {
  c.out << "{\"path\": " << JsonString(card.path) << ", \"format\": " << JsonString(card.format)
        << ", \"ps1\": " << (card.ps1 ? "true" : "false")
        << ", \"readable\": " << (card.readable ? "true" : "false");
  if (!card.readable) c.out << ", \"problem\": " << JsonString(card.problem);
  c.out << ", \"capacity\": " << card.capacity << ", \"free\": " << card.free << ", \"saves\": [";
  for (size_t i = 0; i < card.saves.size(); ++i) {
    if (i) c.out << ", ";
    SaveJson(c, card.saves[i], "");
  }
  c.out << "]}";
}

int ListLibrary(Context& c, const library::Library& lib, const std::string& by) {
  size_t saves = 0, unreadable = 0;
  for (const auto& card : lib.cards) {
    saves += card.saves.size();
    unreadable += card.readable ? 0 : 1;
  }
  const std::string layout(library::LayoutName(lib.layout));
  if (c.json) {
    c.out << "{\"folder\": " << JsonString(lib.root) << ", \"layout\": " << JsonString(layout)
          << ", \"cards\": [";
    for (size_t i = 0; i < lib.cards.size(); ++i) {
      if (i) c.out << ", ";
      CardJson(c, lib.cards[i]);
    }
    c.out << "]}\n";
    return kExitOk;
  }
  c.out << "library " << lib.root << ": layout " << layout << ", " << lib.cards.size()
        << " cards, " << saves << " saves";
  if (unreadable) c.out << ", " << unreadable << " unreadable";
  c.out << "\n";
  if (by == "game") {
    std::map<std::string, std::vector<std::pair<const library::SaveEntry*, std::string>>> games;
    for (const auto& card : lib.cards)
      for (const auto& s : card.saves) games[Game(s)].emplace_back(&s, card.path);
    for (const auto& [game, list] : games) {
      c.out << game << "  (" << list.size() << (list.size() == 1 ? " save)\n" : " saves)\n");
      for (const auto& [s, card] : list) SaveLine(c, *s, card);
    }
    for (const auto& card : lib.cards)
      if (!card.readable) CardHeading(c, card);
  } else if (by == "flat") {
    for (const auto& card : lib.cards) {
      if (!card.readable) CardHeading(c, card);
      for (const auto& s : card.saves) SaveLine(c, s, card.path);
    }
  } else {
    for (const auto& card : lib.cards) {
      CardHeading(c, card);
      for (const auto& s : card.saves) SaveLine(c, s, "");
    }
  }
  return kExitOk;
}

int FindInLibrary(Context& c, const library::Library& lib, const std::string& text) {
  const std::string folded = library::FoldForSearch(text);
  size_t found = 0;
  if (c.json) c.out << "{\"matches\": [";
  for (const auto& card : lib.cards)
    for (const auto& s : card.saves) {
      if (!library::SaveMatches(s, folded)) continue;
      if (c.json) {
        if (found) c.out << ", ";
        SaveJson(c, s, card.path);
      } else {
        SaveLine(c, s, card.path);
      }
      ++found;
    }
  if (c.json)
    c.out << "]}\n";
  else
    c.out << found << (found == 1 ? " save matches\n" : " saves match\n");
  return kExitOk;
}

// How copy and move name the card in the adapter.
constexpr const char* kAdapterCard = "adapter:";

// CARD or TARGET of copy and move: the card in the adapter, a card of the
// library (a path in DIR), else a card image or folder card elsewhere (a
// path from the current folder).
library::CardEnd CardEndOf(const std::string& dir, const std::string& arg, Source* adapter) {
  if (arg == kAdapterCard) return {"the adapter's card", &adapter->Manager()};
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::path(arg).is_relative() && fs::exists(fs::path(dir) / arg, ec)) return {arg, nullptr};
  const fs::path outside = fs::absolute(arg, ec);
  return {ec ? arg : outside.string(), nullptr};
}

int CopyOrMove(Context& c, const LibraryOptions& o) {
  const auto& args = o.args;
  const bool move = o.action == "move";
  // The adapter is opened, and held, only when one end is its card.
  std::unique_ptr<Source> adapter;
  if (args[0] == kAdapterCard || args[2] == kAdapterCard) {
    adapter = std::make_unique<Source>(c.source);
    if (!adapter->FromImage() && adapter->Link().DevicePath().empty())
      return c.Fail("no adapter found");
    adapter->Manager().Volume().OnInterruptedWriteCompleted = [&c](uint32_t block) {
      c.err << "travosk-cli: an interrupted write to the card was completed (erase block " << block
            << ")\n";
    };
  }
  library::CopySave(o.dir, CardEndOf(o.dir, args[0], adapter.get()), args[1],
                    CardEndOf(o.dir, args[2], adapter.get()), move, WorkFolder(c));
  c.out << (move ? "moved " : "copied ") << args[1] << " to " << args[2] << "\n";
  return kExitOk;
}

}  // namespace

int LibraryCommand(Context& c, const LibraryOptions& o) {
  const auto& args = o.args;
  auto need = [&](size_t n, const char* usage) {
    if (args.size() == n) return true;
    c.err << "usage: library DIR " << usage << "\n";
    return false;
  };
  try {
    if (o.action == "ls") {
      if (!need(0, "ls [--by card|game|flat]")) return kExitUsage;
      return ListLibrary(c, Open(c, o.dir), o.by);
    }
    if (o.action == "find") {
      if (!need(1, "find TEXT")) return kExitUsage;
      return FindInLibrary(c, Open(c, o.dir), args[0]);
    }
    if (o.action == "split") {
      if (!need(1, "split CARD --layout LAYOUT [--folder-cards]")) return kExitUsage;
      const auto layout = library::LayoutByName(o.layout);
      if (!layout || *layout == library::DeviceLayout::kLoose)
        return c.Fail("--layout: one of per-game, memorycards, emulator, vmc, ps1-per-game");
      for (const auto& made : library::SplitCard(o.dir, args[0], *layout, WorkFolder(c),
                                                         o.folder_cards)) {
        c.out << made.path << ":";
        for (const auto& s : made.saves) c.out << " " << s;
        c.out << "\n";
      }
      return kExitOk;
    }
    if (o.action == "merge") {
      if (args.empty() || o.into.empty()) {
        c.err << "usage: library DIR merge CARD... --into NEW\n";
        return kExitUsage;
      }
      const auto made = library::MergeCards(o.dir, args, o.into, WorkFolder(c));
      c.out << made.path << ": " << made.saves.size() << " saves\n";
      return kExitOk;
    }
    if (o.action == "copy" || o.action == "move") {
      if (!need(3, "copy|move CARD SAVE TARGET (a card of DIR, an image or folder card "
                   "elsewhere, or adapter:)"))
        return kExitUsage;
      return CopyOrMove(c, o);
    }
  } catch (const std::exception& e) {
    return c.Fail(e.what());
  }
  c.err << "library: ACTION is ls, find, split, merge, copy or move\n";
  return kExitUsage;
}

}  // namespace travosk::cli
