// Rewrites through the backup blocks and the recovery rule that completes or
// discards an interrupted one at mount.
#include "card/backupblocks.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "card/volume.h"
#include "common/bytes.h"
#include "common/errors.h"

namespace travosk::card {

namespace {

// The marker's first u32 names the block being rewritten with this bit set.
constexpr uint32_t kMarkerBit = 0x80000000;

uint32_t BlockCount(const TPSfileaccess& access) {
  const uint32_t per_block = access.PagesPerBlock();
  return per_block ? access.AddressablePages() / per_block : 0;
}

uint32_t FirstPage(const TPSfileaccess& access, uint32_t block) {
  return block * access.PagesPerBlock();
}

void ReadOrThrow(TPSfileaccess& access, uint32_t page, Page& out) {
  access.SeekPage(page);
  if (!access.ReadPage(out))
    throw CardError("Reading card page " + std::to_string(page) + " failed");
}

// A marker page: erased (all 0xFF) is unwritten; otherwise its first u32.
std::optional<uint32_t> MarkerOf(const Page& page) {
  const bool erased =
      std::all_of(page.begin(), page.begin() + kPageDataBytes, [](uint8_t b) { return b == 0xFF; });
  if (erased) return std::nullopt;
  return load_le32(page, 0);
}

Page MarkerPage(uint32_t block) {
  Page page{};
  store_le32(page, 0, block | kMarkerBit);
  // The spare bytes are the adapter's: it computes the page's code itself.
  std::fill(page.begin() + kPageDataBytes, page.end(), 0xFF);
  return page;
}

}  // namespace

BackupBlocks BackupBlocksOf(std::span<const uint8_t> sb, const TPSfileaccess& access) {
  BackupBlocks b;
  if (sb.size() < superblock::kBackupBlock2 + 4) return b;
  b.block1 = load_le32(sb, superblock::kBackupBlock1);
  b.block2 = load_le32(sb, superblock::kBackupBlock2);
  const uint32_t blocks = BlockCount(access);
  // The first card cluster past the allocatable area, and the block's first.
  const uint64_t area_end =
      uint64_t{load_le32(sb, superblock::kAllocOffset)} + load_le32(sb, superblock::kAllocEnd);
  auto past_area = [&](uint32_t block) {
    return uint64_t{block} * access.PagesPerBlock() / 2 >= area_end;
  };
  b.valid = b.block1 != b.block2 && b.block1 < blocks && b.block2 < blocks && past_area(b.block1) &&
            past_area(b.block2);
  return b;
}

BackupBlocks PendingBlockZeroRewrite(TPSfileaccess& access) {
  BackupBlocks none;
  const uint32_t blocks = BlockCount(access);
  if (blocks < 3) return none;
  BackupBlocks b{blocks - 1, blocks - 2, true};
  const uint32_t marker = FirstPage(access, b.block2);
  Page first{}, second{};
  ReadOrThrow(access, marker, first);
  ReadOrThrow(access, marker + 1, second);
  const auto a = MarkerOf(first), c = MarkerOf(second);
  if (!a || !c || *a != *c || *a != (0u | kMarkerBit)) return none;
  // The copy must be of a block 0 that names these backup blocks itself.
  Page copy{};
  ReadOrThrow(access, FirstPage(access, b.block1), copy);
  if (std::memcmp(copy.data(), superblock::kMagic.data(), superblock::kMagicLength) != 0)
    return none;
  const BackupBlocks named = BackupBlocksOf(copy, access);
  if (!named.valid || named.block1 != b.block1 || named.block2 != b.block2) return none;
  return b;
}

bool RewriteThroughBackup(TPSfileaccess& access, const BackupBlocks& backup, uint32_t first_page,
                          const uint8_t* data) {
  const uint32_t per_block = access.PagesPerBlock();
  if (!backup.valid || per_block == 0) return false;
  const uint32_t block = first_page / per_block;
  const uint32_t copy = FirstPage(access, backup.block1);
  const uint32_t marker = FirstPage(access, backup.block2);
  const Page mark = MarkerPage(block);
  // Each step leaves a card the recovery rule mends: before the second
  // marker page the block is untouched and the copy is dropped; after it
  // the copy is whole and is written again over whatever the block holds.
  return access.EraseBlock(copy) && access.WritePage(marker, mark) &&
         access.ProgramBlock(copy, data) && access.WritePage(marker + 1, mark) &&
         access.WriteBlock(first_page, data) && access.EraseBlock(marker);
}

bool RewritePending(TPSfileaccess& access, const BackupBlocks& backup) {
  if (!backup.valid) return false;
  const uint32_t marker = FirstPage(access, backup.block2);
  Page page{};
  ReadOrThrow(access, marker, page);
  if (MarkerOf(page)) return true;
  ReadOrThrow(access, marker + 1, page);
  return MarkerOf(page).has_value();
}

RecoveryResult RecoverInterruptedWrite(TPSfileaccess& access, const BackupBlocks& backup) {
  RecoveryResult result;
  if (!backup.valid) return result;
  const uint32_t marker = FirstPage(access, backup.block2);
  Page page{};
  ReadOrThrow(access, marker, page);
  const auto first = MarkerOf(page);
  ReadOrThrow(access, marker + 1, page);
  const auto second = MarkerOf(page);
  if (!first && !second) return result;

  const uint32_t block = second ? (*second & ~kMarkerBit) : 0;
  const bool complete = first && second && *first == *second && (*second & kMarkerBit) != 0 &&
                        block < BlockCount(access) && block != backup.block1 &&
                        block != backup.block2;
  if (complete) {
    const uint32_t per_block = access.PagesPerBlock();
    const uint32_t copy = FirstPage(access, backup.block1);
    std::vector<uint8_t> contents(static_cast<size_t>(per_block) * kPageBytes);
    for (uint32_t j = 0; j < per_block; ++j) {
      ReadOrThrow(access, copy + j, page);
      std::copy(page.begin(), page.end(),
                contents.begin() + static_cast<ptrdiff_t>(j) * kPageBytes);
    }
    if (!access.WriteBlock(FirstPage(access, block), contents.data()))
      throw CardError("Completing the interrupted write of erase block " + std::to_string(block) +
                      " failed");
    result = {Recovery::kCompleted, block};
  } else {
    result = {Recovery::kDiscarded, 0};
  }
  if (!access.EraseBlock(marker))
    throw CardError("Erasing backup block " + std::to_string(backup.block2) + " failed");
  return result;
}

}  // namespace travosk::card
