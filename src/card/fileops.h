// Save file operations: export a file to a PC stream, add a file or a save
// folder from a stream, delete files, and the pieces from which the card
// manager deletes a whole save folder. Every change goes through the erase-block
// cache and the in-memory allocation table and reaches the card at one flush.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "card/fileip.h"
#include "card/volume.h"

namespace travosk::card {

// 512 bytes: Header at 0..31, the name from 0x40, the rest zero.
std::array<uint8_t, 512> BuildHeader(const TfileIP& x);

// Stream errors (a write that fails, a read that ends early) throw InOutError;
// card transfer failures throw CardError. Neither leaves anything flushed.
[[nodiscard]] bool ReadChainCluster(TPSFilemanager& v, uint32_t& c, uint8_t* dest1024);

// Reads a file's chain cluster by cluster as ReadChainCluster does, and throws
// CardError when the chain links back into itself or leaves the table: it
// never yields more clusters than the table holds. A first cluster of
// 0xFFFFFFFF (an empty file) yields none.
class ChainReader {
 public:
  ChainReader(TPSFilemanager& v, uint32_t first);
  [[nodiscard]] bool Next(uint8_t* dest1024);
  // The cluster the next call reads (meaningful while the chain goes on).
  uint32_t Position() const { return position_ & 0xFFFF; }

 private:
  TPSFilemanager& v_;
  uint32_t position_;
  std::vector<bool> seen_;
};

// `target` names the stream in the InOutError of a failed write.
[[nodiscard]] bool ExportEntry(TPSFilemanager& v, std::ostream& out, const TfileIP& x,
                               const std::string& target = "output stream");
[[nodiscard]] bool ExportFileToPath(TPSFilemanager& v, const std::string& path, const TfileIP& x);

struct FreeSlot {
  uint32_t cluster = 0;
  uint16_t offset = 0;
  uint32_t index = 0;
  std::array<uint8_t, 1024> bytes{};
};
[[nodiscard]] bool FindFreeSlot(TPSFilemanager& v, const TfileIP& d, FreeSlot& slot);
uint32_t CountEntries(TPSFilemanager& v, const TfileIP& d);

// Adds a file to folder d from its entry and its data in whole 1,024-byte
// blocks (at least (length + 1023) / 1024 of them).
[[nodiscard]] bool WriteFile(TPSFilemanager& v, const std::array<uint8_t, 512>& header,
                             Bytes blocks, const TfileIP& d);
// Adds a save folder to the root d from its entry and its "." and ".."
// entries (1,024 bytes); d then names the new folder, and count the files
// its entry announces.
[[nodiscard]] bool CreateFolder(TPSFilemanager& v, const std::array<uint8_t, 512>& header,
                                Bytes dots1024, TfileIP& d, uint32_t& count);
// The same from a stream holding an entry and then its data (or the "." and
// ".." entries). `source` names the stream in the InOutError of a stream that
// ends early.
[[nodiscard]] bool WriteFileFromStream(TPSFilemanager& v, std::istream& in, const TfileIP& d,
                                       const std::string& source = "input stream");
[[nodiscard]] bool WriteFileFromPath(TPSFilemanager& v, const std::string& path, const TfileIP& d);
[[nodiscard]] bool CreateFolderFromStream(TPSFilemanager& v, std::istream& in, TfileIP& d,
                                          uint32_t& count,
                                          const std::string& source = "input stream");
void DeleteEntry(TPSFilemanager& v, const TfileIP& x);
// Called after x's slot was cleared in `cluster` (x's directory cluster as
// the cache now holds it): when that was the chain's last cluster and both
// its slots are unused, it leaves the chain with the unused ones before it.
void UnlinkDirCluster(TPSFilemanager& v, const uint8_t* cluster, const TfileIP& x);
// Frees the chain of the folder whose first cluster is `first`, and before
// it the chains of every file and folder it still holds, however deep (up to
// a bound: deeper throws CardError). Entries stay as they are; the caller
// deletes the folder's own entry and stores the table.
void FreeFolderTree(TPSFilemanager& v, uint32_t first, int depth = 0);
[[nodiscard]] bool DeleteFile(TPSFilemanager& v, const TfileIP& x);
void StoreCountInDot(TPSFilemanager& v, const TfileIP& x);
void StoreCountInParent(TPSFilemanager& v, const TfileIP& x);

// A change staged in the cache and the in-memory table. Unless Commit flushes
// it, the guard puts the table back as it was and drops the cache, so that an
// operation that failed half-way leaves nothing for a later flush to write.
class StagedChange {
 public:
  explicit StagedChange(TPSFilemanager& v);
  ~StagedChange();
  StagedChange(const StagedChange&) = delete;
  StagedChange& operator=(const StagedChange&) = delete;
  void Commit(const std::function<void(int slot, int slots)>& progress = {});

 private:
  TPSFilemanager& v_;
  std::vector<uint32_t> fat_;
  bool committed_ = false;
};

}  // namespace travosk::card
