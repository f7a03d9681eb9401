// ".max" saves of a save-cheat device: a fixed header ("Ps2PowerSave", a
// CRC32 of the whole file, the folder name, a title, the compressed length,
// the file count and the uncompressed length), then the files compressed
// with LZARI. Inside the body each file is its length (u32) and name (32
// bytes), then its bytes, the next record starting 16-byte aligned.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "formats/save.h"

namespace travosk::formats {

bool LooksLikeMax(Bytes file);
// Entries get the usual modes and `when` as both times (the format keeps
// neither). Throws FormatError for a bad magic, CRC, length or body.
Ps2Save ReadMax(Bytes file, const std::string& source, std::time_t when);
// The title in the header is the first line of the save's "icon.sys" title,
// when the save has one.
std::vector<uint8_t> WriteMax(const Ps2Save& save);

uint32_t Crc32(Bytes bytes);

}  // namespace travosk::formats
