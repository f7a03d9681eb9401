// Helpers shared by the walk and the file operations (not part of the card
// library's interface): reading allocation table links safely, guarding chain
// walks against damaged tables, slot states of directory clusters, and exact
// reads and writes of PC streams.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "card/fileip.h"
#include "card/volume.h"

namespace travosk::card::detail {

inline constexpr uint16_t kSlotBytes = 512;
using card::kNextMask;

// A cluster that the loaded table describes.
inline bool InTable(const TPSFilemanager& v, uint32_t c) {
  return v.ValidCluster(c) && c < v.Fat.size();
}

// True when a FAT entry links on to a further cluster.
inline bool Links(uint32_t a) {
  return a != kChainEnd && (a & kInUse) != 0;
}

// Remembers the clusters a chain walk has visited. A damaged table can link a
// chain back into itself or out of the card; either ends the walk with a
// CardError instead of a loop or a read of a cluster the card does not have.
class ChainGuard {
 public:
  explicit ChainGuard(const TPSFilemanager& v) : v_(v), seen_(v.Fat.size(), false) {}
  void Visit(uint32_t c);

 private:
  const TPSFilemanager& v_;
  std::vector<bool> seen_;
};

// Slot states of a directory cluster's two entries (offset 0 or 512).
bool SlotLive(const uint8_t* cluster, uint16_t o);
bool SlotFree(const uint8_t* cluster, uint16_t o);
// True when a folder's first cluster opens with its "." and ".." entries.
bool DotEntriesPresent(const uint8_t* cluster);

// The first cluster of the directory that a record names for writing.
uint32_t DirFirstCluster(const TfileIP& d);
// 2 per cluster of the chain, less 1 when the last cluster's second slot is
// unused while its first is in use.
uint32_t CountChain(TPSFilemanager& v, uint32_t first);
// Puts count into the length field of the entry at (cluster, offset).
void StoreCount(TPSFilemanager& v, uint32_t cluster, uint16_t offset, uint32_t count);

// Exact stream transfers; InOutError names `file` when the stream ends early
// or fails.
void ReadBytes(std::istream& in, uint8_t* dest, size_t count, const std::string& file);
void WriteBytes(std::ostream& out, const uint8_t* src, size_t count, const std::string& file);

}  // namespace travosk::card::detail
