// PS1 single-save files: ".PS1"/".mcs" (the first block's 128-byte directory
// frame, then the save's 8,192-byte blocks in chain order).
#pragma once

#include <string>
#include <vector>

#include "formats/save.h"

namespace travosk::formats {

// Throws FormatError for a file that is not such a save (or holds no whole
// block, or more than a card has), InOutError (naming `source`) when its
// frame records more bytes than the blocks it holds. Bytes after the last
// whole block are ignored.
Ps1Save ReadMcs(Bytes file, const std::string& source);
std::vector<uint8_t> WriteMcs(const Ps1Save& save);

bool LooksLikeMcs(Bytes file);

}  // namespace travosk::formats
