// ".sps"/".xps" saves of two related cheat devices: "SharkPortSave" after
// its length (13), a u32, three length-prefixed texts (title, date,
// comment), the length of what follows, then the save folder's record and
// each file's record followed by its bytes, and a 4-byte check sum. A record
// opens with its own length (u16), so the two devices' records of different
// sizes read alike; modes are stored with their two bytes swapped.
#pragma once

#include <string>

#include "formats/save.h"

namespace travosk::formats {

bool LooksLikeSharkPort(Bytes file);
// Throws FormatError for a bad magic, a record or text that runs past the
// file, a folder record that is not a folder, or a sub-folder; InOutError
// (naming `source`) for a file that ends before its files do.
Ps2Save ReadSharkPort(Bytes file, const std::string& source);

}  // namespace travosk::formats
