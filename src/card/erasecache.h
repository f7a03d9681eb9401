// TPSEarsemanager: the write-back cache of erase blocks. A card is flash and is
// written in whole erase blocks, while the file system changes single clusters:
// every change lands here first, in block images kept in memory and, past a
// few megabytes, in the temp file "~PS2M.tmp", and reaches the card only when
// the cache is flushed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "card/backupblocks.h"
#include "card/fileaccess.h"

namespace travosk::card {

inline constexpr uint8_t kPagePresent = 0x11;  // the slot's image holds the page's content
inline constexpr uint8_t kPageAbsent = 0xFF;   // the card holds it; the image's copy is a placeholder
inline constexpr int kMaxSlots = 1024;
inline constexpr int kMaxPagesPerBlock = 64;
// The most memory the block images take; the images of further blocks go to
// the temp file. 4 MiB holds 496 blocks of 16 pages, half an 8 MB card.
inline constexpr size_t kCacheMemoryBytes = size_t{4} << 20;

// How a commit writes one block: its place in the commit's order (lower
// first; blocks of equal rank in the order they were first touched) and
// whether it goes through the card's backup blocks.
struct BlockWrite {
  int rank = 0;
  bool protect = false;
};
// What the mounted volume tells the cache about commits: how to write each
// block, through which backup blocks, and what to do once a commit is on
// the card. classify answers for every block a commit writes at once (one
// answer per block start, in the order given): what all the answers depend
// on is worked out once.
struct CommitPlan {
  std::function<std::vector<BlockWrite>(const std::vector<uint32_t>& block_starts)> classify;
  BackupBlocks backup;
  std::function<void()> committed;
  // Why the card takes no write: a flush with blocks to write fails with it
  // before anything reaches the card.
  std::string refusal;
};

class TPSEarsemanager {
 public:
  explicit TPSEarsemanager(TPSfileaccess& access);
  ~TPSEarsemanager();

  // The temp file is "~PS2M.tmp" in the card access object's settings folder;
  // with no settings folder (InitDefaults) it is a private file in the
  // system's temp folder that CloseCache removes.
  void OpenCache();
  void CloseCache();
  void ResetCache();
  // Cluster operations take the number of the cluster's first page. They throw
  // InOutError on temp-file errors and CardError when the card cannot be read
  // or the cache's capacities would be exceeded.
  void CacheReadCluster(uint32_t first_page, uint8_t* dest1024);
  // A write that brings a block no change (every byte equal to what the card
  // holds, known from a read) leaves the block as it was: only blocks whose
  // content differs from the card's are written at the flush.
  void CacheWriteCluster(uint32_t first_page, const uint8_t* src1024);
  // Tells the cache what a page read straight from the card held, so that a
  // later cluster read of it costs no card access and a later write of the
  // same bytes is known to change nothing. A page the cache holds already
  // keeps its content. Advisory: when the cache is full or its temp file
  // fails, the page is simply not kept.
  void NoteCardPage(uint32_t page, const Page& content);
  // The data bytes of a cluster as the card holds them, when the cache knows
  // them (both pages read from the card, the block not changed since):
  // answers false, and reads nothing from the card, otherwise.
  [[nodiscard]] bool ReadKnownCluster(uint32_t first_page, uint8_t* dest1024);
  // Writes every cached block that a cluster write changed to the card, in
  // the order of the commit plan (first-touched without one), then resets. A block that was only
  // read (or written with the bytes it had) holds what the card holds: rewriting it would cost a
  // block of page writes and an erase for nothing, so it stays as it is. progress(n, blocks) runs
  // after each block write, n counting from 0 up to the blocks written. Throws CardError when a
  // page read or a block write fails; the cache is then kept as it was, and the next mount drops
  // it.
  void FlushCache(const std::function<void(int slot, int slots)>& progress = {});
  // Reads the pages of the blocks to be written that no operation saw into
  // the temp file (flush, step 1).
  void CompleteBlocks();
  // After a flush that failed once it had begun writing, the card may hold
  // half-written blocks and a pending rewrite in the backup blocks: nothing
  // may be written (no cluster staged, no flush) until a mount has run the
  // recovery and says so with MountDone. Resets do not clear it.
  bool NeedsMount() const { return needs_mount_; }
  void MountDone() { needs_mount_ = false; }
  // Set by the volume at mount and kept across resets; an empty plan writes
  // every block directly in first-touched order.
  void SetCommitPlan(CommitPlan plan) { plan_ = std::move(plan); }
  // The entry that shows or hides what the pending change adds or removes:
  // an added entry's block is written last, a removed one's first. Adding
  // keeps the first entry named, removing the last (a folder's own entry
  // is removed after its files'). Forgotten at every reset.
  void MarkVisibleEntry(uint32_t first_page, bool adding);
  // The first page of that entry's cluster and its block start; -1 when
  // none was named.
  int64_t VisibleEntryPage() const { return visible_page_; }
  int64_t VisibleEntryBlock() const {
    return visible_page_ < 0 ? -1 : BlockStart(static_cast<uint32_t>(visible_page_));
  }
  bool VisibleEntryAdded() const { return visible_added_; }
  // Blocks the last flush wrote through the backup blocks.
  int ProtectedBlocksWritten() const { return protected_written_; }

  // The slot whose block the flush writes last, -1 when no block is written.
  int LastWrittenSlot() const;
  // Blocks the next flush writes.
  int BlocksToWrite() const;
  // Grows with every reset: what was read from the card under an older
  // generation may no longer be what the card holds.
  uint64_t Generation() const { return generation_; }

  int SlotCount() const { return slot_count_; }
  int BlockBytesValue() const { return block_bytes_; }
  uint32_t SlotBlockStart(int slot) const { return block_list_[slot]; }
  bool SlotWritten(int slot) const { return written_[slot]; }
  uint8_t PageState(int slot, int page_index) const { return page_state_[slot * 64 + page_index]; }
  // Whether the slot's image is in memory (else in the temp file).
  bool SlotInMemory(int slot) const { return image_of_[slot] >= 0; }
  // Block images allocated in memory, at most kCacheMemoryBytes' worth.
  int ImagesInMemory() const { return static_cast<int>(images_.size()); }
  const std::string& FileName() const { return file_name_; }

 private:
  // The temp file's descriptor, closed (and the file removed when it was a
  // private one) by CloseCache and the destructor.
  class TempFile {
   public:
    TempFile() = default;
    ~TempFile() { Close(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    void Reset(int fd, bool remove_on_close, std::string path);
    void Close();
    int fd() const { return fd_; }

   private:
    int fd_ = -1;
    bool remove_on_close_ = false;
    std::string path_;
  };

  uint32_t PagesPerBlock() const { return static_cast<uint32_t>(block_bytes_) / kPageBytes; }
  uint32_t BlockStart(uint32_t page) const { return page & ~(PagesPerBlock() - 1); }
  uint64_t PageOffset(int slot, uint32_t index) const {
    return static_cast<uint64_t>(slot) * static_cast<uint64_t>(block_bytes_) +
           static_cast<uint64_t>(index) * kPageBytes;
  }
  int FindSlot(uint32_t block_start) const;
  // Names the slot's block, keeping the index from blocks to slots.
  void SetBlock(int slot, uint32_t block_start);
  // The slot's block image when it is in memory, nullptr when it is in the
  // temp file.
  uint8_t* Image(int slot) {
    const int i = image_of_[slot];
    return i < 0 ? nullptr : images_[static_cast<size_t>(i)].get();
  }
  // Bytes of a slot's image from page index on, wherever the image is.
  void Load(int slot, uint32_t index, uint8_t* dest, size_t count);
  void Store(int slot, uint32_t index, const uint8_t* src, size_t count);
  size_t MaxImages() const;
  // Gives the slot an image in memory: a free one or, with every one taken,
  // that of the slot that entered first, whose image moves to the temp file.
  void TakeImage(int slot);
  bool SameAsCard(int slot, uint32_t index, const uint8_t* src1024);
  void CheckCluster(uint32_t first_page) const;
  // A slot index for a new block: the next free one or, with every slot in
  // use, one that holds only what the card holds (its content can be read
  // again). Throws CardError when every slot carries a change.
  int FreeSlotIndex();
  bool HasRoomForSlot() const;
  void CheckRoomForSlot() const;
  // A slot for the block, its image in memory; the caller fills the image.
  int MakeSlot(uint32_t block_start, uint8_t state);
  // Written slots in the order the flush writes them, with how each is
  // written.
  struct Planned {
    int slot;
    BlockWrite how;
  };
  std::vector<Planned> FlushPlan() const;
  void ReadCardPage(uint32_t page, Page& out);
  int Fd() const;
  void ReadTemp(uint64_t offset, uint8_t* dest, size_t count);
  void WriteTemp(uint64_t offset, const uint8_t* src, size_t count);

  TPSfileaccess& access_;
  TempFile file_;
  std::string open_error_;  // why the temp file could not be opened
  std::string file_name_;
  std::vector<uint8_t> block_buffer_;
  std::vector<uint8_t> page_state_;
  std::array<uint32_t, kMaxSlots> block_list_{};
  std::vector<int16_t> slot_of_;  // the slot of each block start, -1 for none
  std::array<bool, kMaxSlots> written_{};      // a cluster write changed the slot's block
  std::array<uint64_t, kMaxSlots> entered_{};  // when the block entered the cache
  // Block images in memory, each of image_bytes_; image_of_ names a slot's
  // (an index into images_), -1 for a slot whose image is in the temp file.
  std::vector<std::unique_ptr<uint8_t[]>> images_;
  std::vector<int> free_images_;
  size_t image_bytes_ = 0;
  std::array<int16_t, kMaxSlots> image_of_{};
  uint64_t next_entry_ = 0;
  CommitPlan plan_;
  int64_t visible_page_ = -1;
  bool visible_added_ = false;
  int protected_written_ = 0;
  bool needs_mount_ = false;
  uint64_t generation_ = 0;
  int slot_count_ = 0;
  int block_bytes_ = 8448;
};

// Removes the private cache files ("~PS2M-XXXXXX") that copies of the program
// which ended without closing their cache left in `folder`; a file another
// running copy still holds stays. Answers how many were removed.
int RemoveStaleCacheFiles(const std::string& folder);

}  // namespace travosk::card
