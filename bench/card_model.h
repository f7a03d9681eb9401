// A reader of PS2 card images of its own, written from the card format alone
// and sharing no code with the card file system: the traffic benchmark uses
// it to say which pages an operation has to read and which erase blocks it
// has to rewrite, independently of how the file system does it.
#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace travosk::bench {

using PageSet = std::set<uint32_t>;

class CardModel {
 public:
  // A raw image of 528-byte pages carrying a file system; throws
  // std::runtime_error when it carries none.
  explicit CardModel(std::span<const uint8_t> image);

  struct Entry {
    std::string name;
    uint16_t mode = 0;
    uint32_t length = 0;
    uint32_t cluster = 0;  // first relative cluster
    uint32_t slot = 0;     // index in its directory
    bool Exists() const { return (mode & 0x8000) != 0; }
    bool IsDirectory() const { return (mode & 0x0020) != 0; }
    bool IsDot() const { return name == "." || name == ".."; }
  };

  uint32_t PagesPerBlock() const { return pages_per_block_; }
  uint32_t RootCluster() const { return root_cluster_; }
  uint32_t FatEntry(uint32_t n) const;
  bool InUse(uint32_t n) const { return (FatEntry(n) & 0x80000000u) != 0; }
  uint32_t FatEntries() const { return fat_clusters_ * 256; }
  // Relative clusters of the chain from first, bounded by the table's size.
  std::vector<uint32_t> Chain(uint32_t first) const;
  // The first `count` slots of the directory starting at relative cluster
  // first (each cluster holds two).
  std::vector<Entry> Directory(uint32_t first, uint32_t count) const;
  std::vector<Entry> Root() const;
  // The root's live save folder of that name; throws when there is none.
  Entry Folder(const std::string& name) const;
  std::vector<Entry> FolderFiles(const Entry& folder) const;

  // Pages: the two of a relative cluster, those the mount has to read
  // (superblock, the indirect list, the whole table, the two marker pages of
  // backup block 2), the clusters holding a directory's first `count`
  // slots, and a file's chain.
  PageSet ClusterPages(uint32_t cluster) const;
  PageSet MountPages() const;
  PageSet DirectoryPages(uint32_t first, uint32_t count) const;
  PageSet ChainPages(uint32_t first) const;
  PageSet FatPages() const;

  // The two erase blocks the superblock keeps for rewrites (0x40, 0x44).
  uint32_t BackupBlock1() const { return backup1_; }
  uint32_t BackupBlock2() const { return backup2_; }
  // True when the erase block holds live data: the superblock or the table,
  // or a cluster the table marks in use (or one past its end). A crash-safe
  // commit rewrites such a block through the backup blocks.
  bool HoldsLiveData(uint32_t block) const;

 private:
  std::span<const uint8_t> Data(uint32_t page) const;
  std::span<const uint8_t> image_;
  uint32_t pages_per_block_ = 16;
  uint32_t alloc_offset_ = 0;
  uint32_t root_cluster_ = 0;
  uint32_t fat_clusters_ = 0;
  uint32_t backup1_ = 0;
  uint32_t backup2_ = 0;
  std::vector<uint32_t> fat_list_;  // physical clusters of the table
};

// Erase blocks whose data bytes differ between two images of one card; the
// backup blocks are left out (they carry a commit's copies, not its data).
std::set<uint32_t> ChangedBlocks(std::span<const uint8_t> before, std::span<const uint8_t> after,
                                 uint32_t pages_per_block);
PageSet BlockPages(const std::set<uint32_t>& blocks, uint32_t pages_per_block);

}  // namespace travosk::bench
