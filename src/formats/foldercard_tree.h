// What a folder card's plain files say of a save's entries without a meta
// file, and the names its entries take in the host's file system. The reader
// builds entries from these; the writer keeps a meta file for every entry
// that differs from them.
#pragma once

#include <ctime>
#include <string>

#include "formats/save.h"

namespace travosk::formats::foldertree {

// The emulator's entry for a file that has no meta file: read, write and
// execute, bits 0x0080 and 0x0400, in use. It differs from the mode this
// system gives new files (kFileMode), so their entries go to meta files.
inline constexpr uint16_t kPlainFileMode = 0x8497;

Entry PlainFileEntry(const std::string& name, uint32_t length, std::time_t created,
                     std::time_t modified);
Entry PlainFolderEntry(const std::string& name, uint32_t length, std::time_t created,
                       std::time_t modified);
// A folder's "." and "..": folder mode, no length, the folder's stamps.
void PlainDots(const Entry& folder, Entry& dot, Entry& dotdot);

// The name a card entry's file or folder takes on the host: \ % : | " < >
// and trailing dots and spaces become '_', as the emulator cleans them.
std::string HostName(const std::string& card_name);

}  // namespace travosk::formats::foldertree
