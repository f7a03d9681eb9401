// ".psu"/".psd" archives: the save folder's entry, its "." and ".." entries,
// then each file's entry followed by its data in whole 1,024-byte blocks.
// There is no magic number and no checksum; every length is checked against
// the file.
#pragma once

#include <string>
#include <vector>

#include "formats/save.h"

namespace travosk::formats {

// Throws FormatError for a folder entry that is not a save folder's or a file
// that claims more than a card holds, InOutError (naming `source`) for an
// archive that ends before what its entries announce.
Ps2Save ReadPsu(Bytes file, const std::string& source);
std::vector<uint8_t> WritePsu(const Ps2Save& save);

// An archive's first entry looks like a save folder's: a folder mode whose
// high half is zero and a length that counts at least "." and "..".
bool LooksLikePsu(Bytes file);

}  // namespace travosk::formats
