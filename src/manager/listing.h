// A card's saves as every listing shows them: the command line's `ls` and
// the window's save list read titles, sizes and free space here, so that a
// save is never titled one way in one and another way in the other.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "card/fileip.h"
#include "manager/ps2mfmsys.h"

namespace travosk::manager {

struct ListedSave {
  card::TfileIP folder;
  std::vector<card::TfileIP> files;        // live files, in directory order
  std::string title;                       // to show: the two lines joined (raw Shift-JIS)
  std::array<std::string, 2> title_lines;  // split where "icon.sys" breaks it
  std::string stored_title;                // "icon.sys"'s title bytes, run together
  std::string list_icon;                   // "icon.sys"'s icon file for lists
  bool icon_sys = false;                   // the title came from "icon.sys"
  bool ps1_save = false;                   // the title came from a PS1 save in the folder
  uint64_t size = 0;                       // bytes the save takes on the card
};

struct CardListing {
  std::vector<ListedSave> saves;
  uint64_t used = 0;
  uint64_t free = 0;
  uint64_t capacity = 0;
};

// One save folder's row. Its title comes from its first "icon.sys" (any
// case); a folder without one is titled by the PS1 save it holds (its last
// file, when it opens with "SC"), else by the folder's own name; a folder
// without files has no title. Throws CardError when the card cannot be read.
ListedSave DescribeSave(TPS2MFMSYS& manager, const card::TfileIP& folder,
                        std::vector<card::TfileIP> files);

// Catalogues the card and describes every save folder of its root. False
// with a reason when the card cannot be read.
bool ListCard(TPS2MFMSYS& manager, CardListing& listing, std::string& error);

// One file of the card in memory: its data, exactly its length.
bool ReadFileData(TPS2MFMSYS& manager, const card::TfileIP& file, std::string& data);

}  // namespace travosk::manager
