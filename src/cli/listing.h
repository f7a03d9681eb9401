// The saves of a PS2 card or SmartMedia as the command line lists them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "card/fileip.h"
#include "manager/ps2mfmsys.h"

namespace travosk::cli {

struct SaveRow {
  card::TfileIP folder;
  std::vector<card::TfileIP> files;  // live files, in directory order
  std::string title;                 // raw Shift-JIS bytes
  uint64_t size = 0;                 // bytes the save takes on the card
  std::array<std::string, 2> title_lines;  // the title split where "icon.sys" breaks it
};

struct CardListing {
  std::vector<SaveRow> saves;
  uint64_t used = 0;
  uint64_t free = 0;
  uint64_t capacity = 0;
};

// Catalogues the card and reads each save's title. False with a reason when
// the card cannot be read.
bool ListCard(manager::TPS2MFMSYS& manager, CardListing& listing, std::string& error);

// Exports one file of the card into memory: its data, exactly its length.
bool ReadFileData(manager::TPS2MFMSYS& manager, const card::TfileIP& file, std::string& data);

}  // namespace travosk::cli
