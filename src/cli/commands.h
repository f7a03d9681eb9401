// The command line's commands: each has its own options, filled in by the
// parser from the table in table.cpp, and a run function that answers an
// exit code.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/commands_shared.h"
#include "cli/context.h"
#include "manager/listing.h"

namespace travosk::cli {

// A PS2 card opened and listed, and one save on it.
struct FoundSave {
  std::unique_ptr<Source> source;
  manager::CardListing listing;
  const manager::ListedSave* save = nullptr;
};
// Opens the card as OpenPS2 does and finds the save called `name`; false,
// with `code`, when the card cannot be opened or listed or holds no such save.
bool OpenListedSave(Context& c, const std::string& name, FoundSave& found, int& code);

struct NoOptions {};

// The adapter itself: what it holds, and its link settings.
int Devices(Context& c, const NoOptions&);
struct ConfigOptions {
  int port = -1;   // unset: keep the setting
  int delay = -1;
};
int ShowConfig(Context& c, const ConfigOptions& o);

// PS2 cards and SmartMedia.
struct ListOptions {
  std::string save;  // empty: every save
};
int List(Context& c, const ListOptions& o);
struct ExtractOptions {
  std::string save_file;  // SAVE/FILE
  std::string out;
};
int Extract(Context& c, const ExtractOptions& o);
struct DeleteOptions {
  std::string save;
};
int DeleteSave(Context& c, const DeleteOptions& o);
// erase wipes the whole card; format writes an empty file system.
int FormatCard(Context& c, const NoOptions&);
int MakeFileSystem(Context& c, const NoOptions&);
struct BackupOptions {
  std::string save, file;
  std::string format;      // psu or max; empty: the file's extension
  std::string all_folder;  // --all: every save, one file each
  bool overwrite = false;
};
int Backup(Context& c, const BackupOptions& o);
struct RestoreOptions {
  std::string file;
  bool overwrite = false;
  bool keep_both = false;
};
int RestoreSave(Context& c, const RestoreOptions& o);
struct PcFormatOptions {
  std::string size;  // 4M, 8M, 16M or 32M
};
int PcFormat(Context& c, const PcFormatOptions& o);
struct CheckOptions {
  bool repair = false;  // plan the mending of what the check found, show it, commit it when confirmed
};
int Check(Context& c, const CheckOptions& o);
struct IconOptions {
  std::string save, out;
  int size = 128;
  long long frame = 0;
};
int WriteIcon(Context& c, const IconOptions& o);

// Save files between formats, and card images between layouts.
struct ConvertOptions {
  std::string in, out;
  std::string format;  // empty: the extension of `out`
  std::string size;    // 1M to 64M: the saves onto a fresh PS2 card of that size
  bool overwrite = false;
};
int Convert(Context& c, const ConvertOptions& o);
// A formatted blank card image.
struct NewOptions {
  std::string file;
  std::string kind;    // ps2 or ps1; empty: what the name or --format says
  std::string size;    // 1M to 64M for PS2 cards
  std::string format;  // a card layout; empty: the file's extension
  bool overwrite = false;
};
int NewImage(Context& c, const NewOptions& o);

// PS1 cards.
int PS1List(Context& c, const NoOptions&);
struct PS1BackupOptions {
  int block = -1;      // the save's first block, 1..15
  std::string file;
  std::string format;  // mcs, psx or raw; empty: the file's extension
  bool overwrite = false;
};
int PS1Backup(Context& c, const PS1BackupOptions& o);
int PS1Restore(Context& c, const RestoreOptions& o);
struct PS1DeleteOptions {
  int block = -1;
};
int PS1Delete(Context& c, const PS1DeleteOptions& o);
struct ImageFileOptions {
  std::string file;
};
int PS1Dump(Context& c, const ImageFileOptions& o);
int PS1Write(Context& c, const ImageFileOptions& o);
int PS1Format(Context& c, const NoOptions&);
// Blocks marked in use that no save holds (a write cut short); --repair
// marks them free.
int PS1Check(Context& c, const CheckOptions& o);

// A folder of cards as one library (ls, find, split, merge, copy, move).
struct LibraryOptions {
  std::string dir, action;
  std::vector<std::string> args;
  std::string by = "card";  // ls: card, game or flat
  std::string layout;       // split: the device layout of the new cards
  bool folder_cards = false;  // split: the new cards are folder cards
  std::string into;         // merge: the new card
};
int LibraryCommand(Context& c, const LibraryOptions& o);

}  // namespace travosk::cli
