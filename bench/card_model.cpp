#include "card_model.h"

#include <algorithm>
#include <stdexcept>

#include "common/bytes.h"

namespace travosk::bench {

namespace {

constexpr size_t kRawPage = 528;
constexpr size_t kPageData = 512;
constexpr uint32_t kEntriesPerFatPage = 128;
constexpr uint32_t kEntriesPerFatCluster = 256;
constexpr uint32_t kChainEnd = 0xFFFFFFFF;
constexpr uint32_t kInUse = 0x80000000;

// Superblock (page 0).
namespace sb {
constexpr char kMagic[] = "Sony PS2 Memory Card Format";
constexpr size_t kPagesPerBlock = 0x2C;  // u16
constexpr size_t kClusters = 0x30;       // u32: clusters on the card
constexpr size_t kAllocOffset = 0x34;    // u32: physical cluster of relative cluster 0
constexpr size_t kRootCluster = 0x3C;    // u32, relative
constexpr size_t kBackup1 = 0x40;        // u32 erase block
constexpr size_t kBackup2 = 0x44;        // u32 erase block
constexpr size_t kIndirect = 0x50;       // u32 list: clusters holding the table's cluster list
}  // namespace sb

// Directory entry (512 bytes, one page).
namespace de {
constexpr size_t kMode = 0x00;     // u16
constexpr size_t kLength = 0x04;   // u32
constexpr size_t kCluster = 0x10;  // u32
constexpr size_t kName = 0x40;
constexpr size_t kNameMax = 32;
}  // namespace de

}  // namespace

CardModel::CardModel(std::span<const uint8_t> image) : image_(image) {
  if (image_.size() < kRawPage) throw std::runtime_error("not a card image");
  Bytes super = Data(0);
  if (!std::equal(super.begin(), super.begin() + sizeof sb::kMagic - 1, sb::kMagic))
    throw std::runtime_error("the card image carries no file system");
  pages_per_block_ = load_le16(super, sb::kPagesPerBlock);
  alloc_offset_ = load_le32(super, sb::kAllocOffset);
  root_cluster_ = load_le32(super, sb::kRootCluster);
  backup1_ = load_le32(super, sb::kBackup1);
  backup2_ = load_le32(super, sb::kBackup2);
  const uint64_t clusters = load_le32(super, sb::kClusters);
  if (pages_per_block_ == 0 || clusters == 0 || clusters * 2 * kRawPage > image_.size())
    throw std::runtime_error("the superblock does not fit the image");
  fat_clusters_ =
      static_cast<uint32_t>((clusters + kEntriesPerFatCluster - 1) / kEntriesPerFatCluster);
  const uint32_t indirect = load_le32(super, sb::kIndirect);
  for (uint32_t i = 0; i < fat_clusters_; ++i) {
    const uint32_t c =
        load_le32(Data(indirect * 2 + i / kEntriesPerFatPage), (i % kEntriesPerFatPage) * 4);
    if (uint64_t{c} * 2 + 1 >= image_.size() / kRawPage)
      throw std::runtime_error("a table cluster lies outside the image");
    fat_list_.push_back(c);
  }
}

std::span<const uint8_t> CardModel::Data(uint32_t page) const {
  const uint64_t at = uint64_t{page} * kRawPage;
  if (at + kPageData > image_.size()) throw std::runtime_error("page outside the image");
  return image_.subspan(at, kPageData);
}

uint32_t CardModel::FatEntry(uint32_t n) const {
  if (n >= FatEntries()) return kChainEnd;
  const uint32_t cluster = fat_list_[n / kEntriesPerFatCluster];
  const uint32_t index = n % kEntriesPerFatCluster;
  return load_le32(Data(cluster * 2 + index / kEntriesPerFatPage),
                   (index % kEntriesPerFatPage) * 4);
}

std::vector<uint32_t> CardModel::Chain(uint32_t first) const {
  std::vector<uint32_t> chain;
  uint32_t c = first;
  while (c < FatEntries() && chain.size() < FatEntries()) {
    chain.push_back(c);
    const uint32_t e = FatEntry(c);
    if (e == kChainEnd || (e & kInUse) == 0) break;
    c = e & ~kInUse;
  }
  return chain;
}

std::vector<CardModel::Entry> CardModel::Directory(uint32_t first, uint32_t count) const {
  const std::vector<uint32_t> chain = Chain(first);
  std::vector<Entry> entries;
  for (uint32_t i = 0; i < count && i / 2 < chain.size(); ++i) {
    Bytes e = Data((chain[i / 2] + alloc_offset_) * 2 + i % 2);
    Entry x;
    x.mode = load_le16(e, de::kMode);
    x.length = load_le32(e, de::kLength);
    x.cluster = load_le32(e, de::kCluster);
    x.name = load_cstr(e, de::kName, de::kNameMax);
    x.slot = i;
    entries.push_back(x);
  }
  return entries;
}

std::vector<CardModel::Entry> CardModel::Root() const {
  const auto dot = Directory(root_cluster_, 1);
  return dot.empty() ? dot : Directory(root_cluster_, dot[0].length);
}

CardModel::Entry CardModel::Folder(const std::string& name) const {
  for (const Entry& e : Root())
    if (e.Exists() && e.IsDirectory() && e.name == name) return e;
  throw std::runtime_error("no save folder " + name + " on the card");
}

std::vector<CardModel::Entry> CardModel::FolderFiles(const Entry& folder) const {
  std::vector<Entry> files;
  for (const Entry& e : Directory(folder.cluster, folder.length))
    if (e.Exists() && !e.IsDirectory()) files.push_back(e);
  return files;
}

PageSet CardModel::ClusterPages(uint32_t cluster) const {
  const uint32_t p = (cluster + alloc_offset_) * 2;
  return {p, p + 1};
}

PageSet CardModel::FatPages() const {
  PageSet pages;
  for (uint32_t c : fat_list_) pages.insert({c * 2, c * 2 + 1});
  return pages;
}

PageSet CardModel::MountPages() const {
  PageSet pages = FatPages();
  Bytes super = Data(0);
  pages.insert(0);
  // Up to 128 table clusters are listed in the first page of the list.
  pages.insert(load_le32(super, sb::kIndirect) * 2);
  // The recovery rule reads the marker pages of backup block 2 at every
  // mount: a rewrite an interruption cut short is completed before use.
  pages.insert(backup2_ * pages_per_block_);
  pages.insert(backup2_ * pages_per_block_ + 1);
  return pages;
}

PageSet CardModel::DirectoryPages(uint32_t first, uint32_t count) const {
  const std::vector<uint32_t> chain = Chain(first);
  PageSet pages;
  const uint64_t clusters = std::min<uint64_t>(chain.size(), (uint64_t{count} + 1) / 2);
  for (uint64_t i = 0; i < clusters; ++i) pages.merge(ClusterPages(chain[i]));
  return pages;
}

PageSet CardModel::ChainPages(uint32_t first) const {
  PageSet pages;
  for (uint32_t c : Chain(first)) pages.merge(ClusterPages(c));
  return pages;
}

bool CardModel::HoldsLiveData(uint32_t block) const {
  const uint32_t first = block * pages_per_block_;
  if (first < alloc_offset_ * 2) return true;
  for (uint32_t page = first; page < first + pages_per_block_; page += 2) {
    const uint32_t c = page / 2 - alloc_offset_;
    if (c >= FatEntries() || InUse(c)) return true;
  }
  return false;
}

std::set<uint32_t> ChangedBlocks(std::span<const uint8_t> before, std::span<const uint8_t> after,
                                 uint32_t pages_per_block) {
  std::set<uint32_t> blocks;
  const CardModel b(before);
  const size_t pages = std::min(before.size(), after.size()) / kRawPage;
  for (size_t p = 0; p < pages; ++p) {
    const size_t at = p * kRawPage;
    if (!std::equal(before.begin() + at, before.begin() + at + kPageData, after.begin() + at))
      blocks.insert(static_cast<uint32_t>(p / pages_per_block));
  }
  blocks.erase(b.BackupBlock1());
  blocks.erase(b.BackupBlock2());
  return blocks;
}

PageSet BlockPages(const std::set<uint32_t>& blocks, uint32_t pages_per_block) {
  PageSet pages;
  for (uint32_t b : blocks)
    for (uint32_t j = 0; j < pages_per_block; ++j) pages.insert(b * pages_per_block + j);
  return pages;
}

}  // namespace travosk::bench
