// The pictures a library's saves show in lists, read from a card only when
// its rows are shown (never by the listing): a PS2 save's list icon drawn as
// the save list draws it, a PS1 save's first icon frame (on a PS1 card, or
// kept in a folder of a PS2 card).
#pragma once

#include <string>
#include <vector>

#include "library/library.h"
#include "manager/iconrender.h"

namespace travosk::library {

// One picture per save of `card`, in the order of its saves, each `size`
// pixels square; an empty picture (width 0) for a save without an icon of
// its own, and for every save when the card cannot be read. Never throws.
std::vector<manager::RgbaImage> SavePictures(const std::string& root, const CardEntry& card,
                                             int size, const std::string& work_folder);

}  // namespace travosk::library
