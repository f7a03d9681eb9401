// What a PS2 save file holds, read without touching the card: the name, the
// files and the room the save will take, for the questions asked before a
// restore (is it there already, does it fit).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/save.h"

namespace travosk::manager {

struct ArchiveInfo {
  std::string name;         // the save folder's name (header byte 64 on)
  uint32_t files = 0;       // file records announced by the folder header
  uint64_t clusters = 0;    // clusters the save will take on the card
  uint64_t bytes = 0;       // the archive file's length
};
// nullopt when the file cannot be read or is not a PS2 save this system reads.
std::optional<ArchiveInfo> InspectArchive(const std::string& path);

// The save a file of any readable PS2 format holds; nullopt, as above.
std::optional<formats::Ps2Save> TryReadSave(const std::string& path);

}  // namespace travosk::manager
