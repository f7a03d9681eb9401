// Folder cards of the PC emulator: a directory that stands for a PS2 card.
//
//   DIR/_pcsx2_superblock          the card's first erase block (8,192 data
//                                  bytes); its superblock gives the geometry
//   DIR/<save>/                    one directory per save folder of the root
//   DIR/<save>/<file>              the save's files, their bytes only
//   DIR/<save>/_pcsx2_index        per folder: the files' order and times
//   DIR/<save>/_pcsx2_meta_directory  the folder's entry, when plain files
//                                  cannot carry it (name, mode, attributes)
//   DIR/<save>/_pcsx2_meta/<file>  the same for a file's entry
//
// The emulator builds a card from this at start: the superblock as it is, a
// fresh allocation table, the root's folders in the order the host lists
// them and each folder's files by their index order. Names beginning with
// "_pcsx2_" are its own and never become card entries; files lying in the
// root are skipped. A card name holding a character Windows refuses
// (\ % : | " < >, or a trailing dot or space) is kept under a cleaned name
// with its real entry in the meta file.
//
// What the emulator keeps nowhere and a byte-exact copy of a card needs is
// kept in files it ignores or reads past: the root's own "_pcsx2_index"
// holds the saves' order and the root's times, and a meta directory file
// may carry the folder's "." and ".." entries after its own 512 bytes.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "formats/save.h"

namespace travosk::formats {

inline constexpr std::string_view kFolderCardSuperblock = "_pcsx2_superblock";
inline constexpr std::string_view kFolderCardIndex = "_pcsx2_index";
inline constexpr std::string_view kFolderCardPrefix = "_pcsx2_";
// The superblock file holds erase block 0's data: 16 pages of 512 bytes.
inline constexpr size_t kFolderSuperblockBytes = 8192;

struct FolderCardSave {
  Ps2Save save;     // entries normalised: no cluster, no "." index (NormaliseSave)
  std::string dir;  // its directory in the folder; empty for one not written yet
};

struct FolderCard {
  std::vector<uint8_t> superblock;  // kFolderSuperblockBytes
  // The root's "." time stamps as the card keeps them (8 bytes each; the
  // formatter gives ".." the first); all zero when the folder does not say.
  std::array<uint8_t, 8> root_created{};
  std::array<uint8_t, 8> root_modified{};
  std::vector<FolderCardSave> saves;  // in the root's order
};

// A directory that holds a "_pcsx2_superblock" file.
bool IsFolderCard(const std::string& path);
// A path that names a folder card rather than a file: an existing folder
// card, or a path ending in '/'.
bool NamesFolderCard(const std::string& path);

// Reads a folder card whole. Throws FormatError naming the file for a folder
// that cannot be one (no superblock file, a hostile index, names a card
// cannot take, a folder inside a save, files larger than a card) and
// InOutError for one that cannot be read.
FolderCard ReadFolderCard(const std::string& dir);

// Writes `card` as a new folder card at `dir`, which must not exist or be an
// empty directory: everything goes into a sibling directory first, renamed
// into place whole. Throws FormatError for a card whose names a folder card
// cannot hold apart, InOutError when writing fails (nothing is left behind).
void WriteFolderCard(const FolderCard& card, const std::string& dir);

// Brings the folder card at `dir`, read earlier as `before`, to `after`:
// saves whose entries and bytes did not change keep their directories
// untouched (files, times, index); a changed or new save is written into a
// private directory inside the folder and renamed into place; a save no
// longer on the card is moved aside as "_pcsx2_deleted_<name>", as the
// emulator does. Everything is checked before the first change.
void UpdateFolderCard(const FolderCard& before, const FolderCard& after, const std::string& dir);

// The card's "." and cluster fields cleared: what a save's entries say
// wherever it lies on a card.
void NormaliseSave(Ps2Save& save);

// The emulator's index times: a stamp's fields read as UTC, and back.
std::time_t StampToIndexTime(Bytes stamp8);
std::array<uint8_t, 8> IndexTimeToStamp(std::time_t t);

}  // namespace travosk::formats
