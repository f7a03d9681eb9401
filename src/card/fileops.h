// Save file operations: export a file to a PC stream, add a file or a save
// folder from a stream, delete files, and the pieces from which the card
// manager deletes a whole save folder. Every change goes through the erase-block
// cache and the in-memory allocation table and reaches the card at one flush.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

#include "card/fileip.h"
#include "card/volume.h"

namespace travosk::card {

// 512 bytes: Header at 0..31, the name from 0x40, the rest zero.
std::array<uint8_t, 512> BuildHeader(const TfileIP& x);

// Stream errors (a write that fails, a read that ends early) throw InOutError;
// card transfer failures throw CardError. Neither leaves anything flushed.
[[nodiscard]] bool ReadChainCluster(TPSFilemanager& v, uint32_t& c, uint8_t* dest1024);
[[nodiscard]] bool ExportEntry(TPSFilemanager& v, std::ostream& out, const TfileIP& x);
[[nodiscard]] bool ExportFileToPath(TPSFilemanager& v, const std::string& path, const TfileIP& x);

struct FreeSlot {
  uint32_t cluster = 0;
  uint16_t offset = 0;
  uint32_t index = 0;
  std::array<uint8_t, 1024> bytes{};
};
[[nodiscard]] bool FindFreeSlot(TPSFilemanager& v, const TfileIP& d, FreeSlot& slot);
uint32_t CountEntries(TPSFilemanager& v, const TfileIP& d);

[[nodiscard]] bool WriteFileFromStream(TPSFilemanager& v, std::istream& in, const TfileIP& d);
[[nodiscard]] bool WriteFileFromPath(TPSFilemanager& v, const std::string& path, const TfileIP& d);
[[nodiscard]] bool CreateFolderFromStream(TPSFilemanager& v, std::istream& in, TfileIP& d,
                                          uint32_t& count);
void DeleteEntry(TPSFilemanager& v, const TfileIP& x);
void UnlinkDirCluster(TPSFilemanager& v, const uint8_t* cluster, const TfileIP& x);
[[nodiscard]] bool DeleteFile(TPSFilemanager& v, const TfileIP& x);
void StoreCountInDot(TPSFilemanager& v, const TfileIP& x);
void StoreCountInParent(TPSFilemanager& v, const TfileIP& x);

}  // namespace travosk::card
