// A folder of cards as one library: every card image and folder card under
// it, each with its listing, read through the same card layer as a single
// image (a session that never writes the file). A card that cannot be read is
// kept in the library with the reason, never left out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace travosk::library {

// How the devices and emulators that write a folder of cards arrange it.
enum class DeviceLayout {
  kLoose,         // no layout of a device: card files wherever they lie
  kPerGame,       // card emulators: <GameID>/<GameID>-<channel>.mc2|.mcd
  kMemoryCards,   // MemoryCards/PS2/Card<N>/Card<N>-<ch>.mcd, MemoryCards/PS1/<GameID>/<GameID>-<ch>.mcd
  kEmulator,      // a PC emulator's memory-card folder: numbered .ps2 files and folder cards
  kVirtualCards,  // a disc loader's VMC/*.bin
  kPs1PerGame,    // PS1 emulators: one raw card per game, <GameID>.mcd|.mcr|.srm
};

// "loose", "per-game", "memorycards", "emulator", "vmc", "ps1-per-game".
std::string_view LayoutName(DeviceLayout layout);
std::optional<DeviceLayout> LayoutByName(std::string_view name);

struct SaveEntry {
  std::string name;     // the save folder's name (PS1: the directory entry's)
  std::string title;    // raw Shift-JIS, as the card holds it
  std::string product;  // "SLES-50001"; empty when the name holds none
  uint64_t size = 0;    // bytes the save takes on the card
  std::string modified; // "YYYY-MM-DD hh:mm:ss" of the folder's stamp; empty on PS1
  int entry = -1;       // PS1: the directory entry of its first block
  std::string icon;     // the list icon's file "icon.sys" names; empty without one (PS1)
};

struct CardEntry {
  std::string path;     // relative to the library's folder, '/' separated
  std::string format;   // "PS2 (528-byte pages)", "folder card", ...
  bool ps1 = false;
  bool folder_card = false;
  bool readable = false;
  std::string problem;  // why it could not be read (readable false)
  uint64_t capacity = 0;
  uint64_t free = 0;
  std::vector<SaveEntry> saves;
};

struct Library {
  std::string root;
  DeviceLayout layout = DeviceLayout::kLoose;
  std::vector<CardEntry> cards;  // in path order
  size_t cards_read = 0;         // cards read from their files (not from the index)
};

// The product code a save's name carries: "BESLES-50001..." and
// "BESCES-00344..." give "SLES-50001" and "SCES-00344"; a code elsewhere in
// the name ("SLUS_203.12" as some saves write it) gives "SLUS-20312". Empty
// when the name holds none.
std::string ProductCode(std::string_view save_name);

// Every card under `root` (relative paths, sorted): files whose size and
// head make a card image of a layout the image layer knows, and folder cards
// (their folder; nothing inside one is taken for another card).
std::vector<std::string> FindCards(const std::string& root);
DeviceLayout DetectLayout(const std::vector<std::string>& card_paths);

// Reads one card's listing: of a card image, only the pages the listing
// reaches (a listing session of the image), a card that does not list so
// read again whole for the reason a session of it gives. Never throws: a
// card that cannot be read comes back unreadable with the reason.
// `work_folder` is the card manager's.
CardEntry ReadCard(const std::string& root, const std::string& relative_path,
                   const std::string& work_folder);

struct OpenOptions {
  std::string work_folder;
  // The index file; empty: none is read or written.
  std::string index_path;
};
// Finds and lists every card; a card whose file is unchanged since the index
// recorded it is taken from the index. Throws InOutError when `root` is no
// folder.
Library OpenLibrary(const std::string& root, const OpenOptions& options);

// The index file of a library in the user's cache folder ($XDG_CACHE_HOME,
// else ~/.cache, then travosk/), one per library folder; empty when neither
// is known.
std::string DefaultIndexPath(const std::string& root);

// Search: each save whose name, product code or title matches `text`, titles
// decoded from Shift-JIS and both sides folded alike (full-width and
// half-width forms, letter case).
std::string FoldForSearch(std::string_view utf8);
bool SaveMatches(const SaveEntry& save, std::string_view folded_text);

}  // namespace travosk::library
