// Save files on the PC: which format a file is (by its content first, its
// extension second), reading any readable one into the neutral save value,
// and writing the value in a chosen format. Files are read whole, after their
// size is checked against what a card can hold.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/save.h"

namespace travosk::formats {

enum class SaveFormat {
  kPsu,  // ".psu"/".psd" archive
  kMax,  // ".max" compressed save
  kMcs,  // ".PS1"/".mcs" PS1 single save
  kPsx,  // ".psx"/".mcb"/".mcx"/".pda" PS1 save after a 54-byte header
  kRaw,  // a PS1 save's blocks alone, named by the file
  // Read only.
  kCbs,     // ".cbs" cheat-device save
  kSps,     // ".sps"/".xps" cheat-device save
  kPsv,     // ".psv" PS3 export of a PS2 save
  kPs1Psv,  // ".psv" PS3 export of a PS1 save
};

// "psu", "max", "mcs", "psx", "raw", "cbs", "sps", "psv".
std::string_view FormatName(SaveFormat f);
// The formats that can be written: "psu", "max", "mcs".
std::optional<SaveFormat> FormatByName(std::string_view name);
// The format a file of this name is written in: ".max", ".mcs"/".ps1" and
// the read-only formats by their extension (any case), so that writing one
// of those is refused rather than done in another layout; every other name
// a ".psu" archive.
SaveFormat FormatForPath(std::string_view path);
bool IsPs1Format(SaveFormat f);
// The format a PS1 save file of this name is written in: ".psx", ".mcb",
// ".mcx" and ".pda" the cheat devices' layout; ".raw", or no extension on a
// name that is a save's ("BESLES-12345GAME"), raw blocks; any other name a
// ".mcs"/".PS1" file.
SaveFormat Ps1FormatForPath(std::string_view path);

// The save formats a file name names by its extension (any case): ".psu"
// and ".psd", ".max", ".mcs" and ".ps1", ".psx" ".mcb" ".mcx" ".pda", ".raw"
// (or no extension on a name that is a PS1 save's), ".cbs", ".sps" and
// ".xps", ".psv" (PS2 and PS1). Empty for a name that names none ("rez.bin").
std::vector<SaveFormat> SaveFormatsForPath(std::string_view path);

// The format of a file's bytes: its magic first, then its extension.
// nullopt when neither tells.
std::optional<SaveFormat> DetectSaveFormat(Bytes file, std::string_view path);

// The whole file, refused (FormatError) when it is larger than any save.
// Throws InOutError when it cannot be read.
std::vector<uint8_t> LoadSaveFile(const std::string& path);
// The same with another bound (a 64 MB card image with its spare bytes is
// larger than any save).
std::vector<uint8_t> LoadWholeFile(const std::string& path, uint64_t max_bytes);

// Read a PS2 (or PS1) save of any readable format. Throw FormatError for a
// file that is not one, InOutError for one that ends early or cannot be read.
Ps2Save ReadPs2Save(Bytes file, const std::string& path);
Ps2Save ReadPs2SaveFile(const std::string& path);
Ps1Save ReadPs1Save(Bytes file, const std::string& path);
Ps1Save ReadPs1SaveFile(const std::string& path);

std::vector<uint8_t> WritePs2Save(const Ps2Save& save, SaveFormat format);
std::vector<uint8_t> WritePs1Save(const Ps1Save& save, SaveFormat format);
// Written through a temporary file renamed into place: a failure leaves any
// earlier file as it was. Throws InOutError.
void WriteWholeFileAtomically(const std::string& path, Bytes bytes);

}  // namespace travosk::formats
