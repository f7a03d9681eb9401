// TPSEarsemanager: the write-back cache of erase blocks. A card is flash and is
// written in whole erase blocks, while the file system changes single clusters:
// every change lands here first, in block images kept in the temp file
// "~PS2M.tmp", and reaches the card only when the cache is flushed.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "card/fileaccess.h"

namespace travosk::card {

inline constexpr uint8_t kPagePresent = 0x11;  // the temp file holds the page's content
inline constexpr uint8_t kPageAbsent = 0xFF;   // the card holds it; the temp copy is a placeholder
inline constexpr int kMaxSlots = 1024;
inline constexpr int kMaxPagesPerBlock = 64;

class TPSEarsemanager {
 public:
  explicit TPSEarsemanager(TPSfileaccess& access);
  ~TPSEarsemanager();

  void OpenCache();
  void CloseCache();
  void ResetCache();
  // Cluster operations take the number of the cluster's first page. They throw
  // InOutError on temp-file errors and CardError when the card cannot be read
  // or the cache's capacities would be exceeded.
  void CacheReadCluster(uint32_t first_page, uint8_t* dest1024);
  void CacheWriteCluster(uint32_t first_page, const uint8_t* src1024);
  // Writes every cached block to the card in first-touched order, then resets.
  // progress(slot, slot_count) runs after each block write.
  void FlushCache(const std::function<void(int slot, int slots)>& progress = {});
  // Reads the pages that no operation saw into the temp file (flush, step 1).
  void CompleteBlocks();

  int SlotCount() const { return slot_count_; }
  int BlockBytesValue() const { return block_bytes_; }
  uint32_t SlotBlockStart(int slot) const { return block_list_[slot]; }
  uint8_t PageState(int slot, int page_index) const { return page_state_[slot * 64 + page_index]; }
  const std::string& FileName() const { return file_name_; }

 private:
  TPSfileaccess& access_;
  std::FILE* file_ = nullptr;
  std::string file_name_;
  std::vector<uint8_t> block_buffer_;
  std::vector<uint8_t> page_state_;
  std::array<uint32_t, kMaxSlots> block_list_{};
  int slot_count_ = 0;
  int block_bytes_ = 8448;
};

}  // namespace travosk::card
