// Builds a save archive from files in memory, in the layout that other tools
// write: the folder entry (length = files + 2), "." and "..", then each file's
// entry followed by its data padded with zeros to a multiple of 1,024 bytes.
// The demo cards and the tests make their saves with it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "card/layout.h"

namespace travosk::manager {

struct ArchiveFile {
  std::string name;
  std::string data;
  uint16_t mode = card::entry::kModeNewFile;
};

inline constexpr uint16_t kSaveFolderMode = card::entry::kModeNewFolder;

std::string BuildSaveArchive(const std::string& folder, const std::vector<ArchiveFile>& files,
                             std::time_t when);

}  // namespace travosk::manager
