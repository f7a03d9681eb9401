// PS1 single-save files. Three layouts hold the same save:
// - ".PS1"/".mcs": the first block's 128-byte directory frame, then the
//   save's 8,192-byte blocks in chain order;
// - ".psx"/".mcb"/".mcx"/".pda" (cheat devices' files): a 54-byte header of
//   the save's name (20 characters and a NUL) and its title in ASCII (32 and
//   a NUL), then the blocks;
// - raw: the blocks alone; the save's name is the file's name.
// Every reader checks the file's length against whole blocks, 1 to 15 of
// them, and that the first block opens with its title frame ("SC").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "formats/save.h"

namespace travosk::formats {

inline constexpr size_t kPsxHeaderBytes = 54;

// Throws FormatError for a file that is not such a save (or holds no whole
// block, or more than a card has), InOutError (naming `source`) when its
// frame records more bytes than the blocks it holds. Bytes after the last
// whole block are ignored.
Ps1Save ReadMcs(Bytes file, const std::string& source);
std::vector<uint8_t> WriteMcs(const Ps1Save& save);

// Throws FormatError when the length is not the header and whole blocks,
// the name is empty or not a PS1 save name, or the blocks do not open with
// a title frame.
Ps1Save ReadPsx(Bytes file, const std::string& source);
std::vector<uint8_t> WritePsx(const Ps1Save& save);

// `path` names the save: its file name, without a ".raw" extension, cut to
// the 20 characters a PS1 save name has. Throws FormatError as ReadPsx does.
Ps1Save ReadRawPs1(Bytes file, const std::string& path);
std::vector<uint8_t> WriteRawPs1(const Ps1Save& save);

bool LooksLikeMcs(Bytes file);
bool LooksLikePsx(Bytes file);
bool LooksLikeRawPs1(Bytes file);

// The save name a raw save file of this path gets ("" when it gives none).
std::string Ps1NameFromPath(std::string_view path);
// Whether a name (no extension, "BA"/"BE"/"BI" and a product code) is the
// kind a raw save file carries.
bool LooksLikePs1SaveName(std::string_view file_name);
// The product code in a save's name ("SLUS-00102" of "BASLUS-00102STARS"),
// "" when the name carries none.
std::string Ps1ProductCode(std::string_view save_name);

}  // namespace travosk::formats
