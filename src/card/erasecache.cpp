// The erase-block cache. Each slot holds the image of one erase block; a state
// byte per page says whether the image or the card holds the page's current
// content.
//
// Where the images live. Nothing outside this process reads them: a mount
// drops whatever the cache held, and what survives an interruption is on the
// card (its backup blocks), never in the temp file. So the temp file is only
// room, and memory serves as well while it is small. An image is made in
// memory; memory holds up to kCacheMemoryBytes of them, and once that is
// full the image of the block that entered first moves to the slot's place
// in the temp file in one write, making room. Most operations touch far fewer
// blocks (an append of 1 MB, about 130), so they never reach the temp file; a
// backup of a whole card reads every block once and moves half of them out,
// a block at a time. Keeping all 1,024 slots in memory instead would take up
// to 34 MB with 64-page blocks. Every page a read brings in stays known,
// wherever its image is, so no operation reads the card more than before.
#include "card/erasecache.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "common/errors.h"

namespace travosk::card {

namespace {
constexpr const char* kMountFirst =
    "A write to the card failed; the card must be read again before anything else is written";
}  // namespace

namespace {

constexpr const char* kTempName = "~PS2M.tmp";
constexpr int kDefaultBlockBytes = 16 * kPageBytes;
// The temp file starts as room for 1,024 blocks of 16 pages (a whole 8 MB
// card), all erased, written as 256 chunks of four blocks.
constexpr size_t kInitialChunk = 4 * 16 * kPageBytes;  // 33,792 bytes
constexpr int kInitialChunks = 256;
// A cluster write that misses fills its new slot with this placeholder ("."),
// which never reaches the card: the flush reads those pages first.
constexpr uint8_t kPlaceholder = 0x2E;
// Page numbers the cache indexes: every page of the largest card, 64 MB.
constexpr uint32_t kAddressLimit = 131072;
// Names no block: a slot given up for another block holds it until its new
// image is in the temp file.
constexpr uint32_t kNoBlock = 0xFFFFFFFF;

std::string Reason() {
  return errno != 0 ? std::strerror(errno) : "unknown error";
}

}  // namespace

void TPSEarsemanager::TempFile::Reset(int fd, bool remove_on_close, std::string path) {
  Close();
  fd_ = fd;
  remove_on_close_ = remove_on_close;
  path_ = std::move(path);
}

void TPSEarsemanager::TempFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  if (fd_ >= 0 && remove_on_close_) ::unlink(path_.c_str());
  fd_ = -1;
  remove_on_close_ = false;
}

int RemoveStaleCacheFiles(const std::string& folder) {
  constexpr std::string_view kPrivatePrefix = "~PS2M-";  // and six characters of mkstemp
  int removed = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() != kPrivatePrefix.size() + 6 || name.rfind(kPrivatePrefix, 0) != 0) continue;
    if (!entry.is_regular_file(ec)) continue;
    const int fd = ::open(entry.path().c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    // A running copy holds its file: only one that no one holds goes.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(entry.path().c_str()) == 0) ++removed;
    ::close(fd);
  }
  return removed;
}

TPSEarsemanager::TPSEarsemanager(TPSfileaccess& access)
    : access_(access),
      block_buffer_(static_cast<size_t>(kMaxPagesPerBlock) * kPageBytes + 1),
      page_state_(static_cast<size_t>(kMaxSlots) * kMaxPagesPerBlock),
      slot_of_(kAddressLimit, -1) {
  image_of_.fill(-1);
}

TPSEarsemanager::~TPSEarsemanager() = default;

void TPSEarsemanager::OpenCache() {
  CloseCache();
  open_error_.clear();
  // A private temp file that goes away with the cache, so nothing is left
  // behind.
  auto open_private = [this](std::string pattern) {
    int fd = ::mkstemp(pattern.data());
    file_name_ = pattern;
    if (fd < 0) {
      open_error_ = Reason();
    } else {
      // Held for as long as it is open: a file nobody holds was left by a
      // copy of the program that ended early, and a later start removes it.
      (void)::flock(fd, LOCK_EX | LOCK_NB);
      file_.Reset(fd, true, pattern);
    }
  };
  if (access_.SettingsFolder.empty()) {
    // No settings folder: a tool working on a card image.
    std::error_code ec;
    open_private((std::filesystem::temp_directory_path(ec) / "PS2M-XXXXXX").string());
  } else {
    file_name_ = access_.SettingsFolder + kTempName;
    int fd = ::open(file_name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      std::vector<uint8_t> erased(kInitialChunk, 0xFF);
      bool ok = true;
      for (int i = 0; i < kInitialChunks && ok; ++i) {
        ok = ::write(fd, erased.data(), erased.size()) == static_cast<ssize_t>(erased.size());
      }
      if (!ok) open_error_ = Reason();
      ::close(fd);
    }
    fd = ::open(file_name_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      open_error_ = Reason();
    } else if (!open_error_.empty()) {
      ::close(fd);
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      // Another running copy works in the same folder. The cache keeps the
      // card's bytes from one operation's reads to its commit; sharing one
      // file, each would read the other's card as its own. This one takes a
      // file of its own beside it.
      ::close(fd);
      open_private(access_.SettingsFolder + "~PS2M-XXXXXX");
    } else {
      file_.Reset(fd, false, file_name_);
    }
  }
  ResetCache();
}

void TPSEarsemanager::CloseCache() {
  file_.Close();
  // The images go with the file: a slot left over is then in neither, and
  // whatever still uses it fails as it would on the closed file.
  images_.clear();
  free_images_.clear();
  image_of_.fill(-1);
}

void TPSEarsemanager::ResetCache() {
  block_bytes_ = access_.IsOpen ? access_.BlockBytes : kDefaultBlockBytes;
  for (int i = 0; i < slot_count_; ++i) SetBlock(i, kNoBlock);
  slot_count_ = 0;
  std::fill(page_state_.begin(), page_state_.end(), 0);
  block_list_.fill(0);
  written_.fill(false);
  entered_.fill(0);
  // The images stay allocated for the next operation, unless the blocks are
  // now of another size.
  if (image_bytes_ != static_cast<size_t>(block_bytes_)) {
    images_.clear();
    image_bytes_ = static_cast<size_t>(block_bytes_);
  }
  image_of_.fill(-1);
  free_images_.clear();
  for (int i = static_cast<int>(images_.size()) - 1; i >= 0; --i) free_images_.push_back(i);
  next_entry_ = 0;
  visible_page_ = -1;
  visible_added_ = false;
  ++generation_;
}

void TPSEarsemanager::MarkVisibleEntry(uint32_t first_page, bool adding) {
  if (adding && visible_page_ >= 0 && visible_added_) return;
  visible_page_ = first_page;
  visible_added_ = adding;
}

int TPSEarsemanager::Fd() const {
  // A temp file that could not be created or opened fails the first
  // operation that needs it.
  if (file_.fd() < 0) {
    throw InOutError(file_name_, open_error_.empty() ? "cache not open" : open_error_);
  }
  return file_.fd();
}

void TPSEarsemanager::ReadTemp(uint64_t offset, uint8_t* dest, size_t count) {
  int fd = Fd();
  while (count > 0) {
    errno = 0;
    ssize_t n = ::pread(fd, dest, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw InOutError(file_name_, Reason());
    if (n == 0) throw InOutError(file_name_, "Read beyond end of file");
    dest += n;
    offset += static_cast<uint64_t>(n);
    count -= static_cast<size_t>(n);
  }
}

void TPSEarsemanager::WriteTemp(uint64_t offset, const uint8_t* src, size_t count) {
  int fd = Fd();
  while (count > 0) {
    errno = 0;
    ssize_t n = ::pwrite(fd, src, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw InOutError(file_name_, Reason());
    src += n;
    offset += static_cast<uint64_t>(n);
    count -= static_cast<size_t>(n);
  }
}

void TPSEarsemanager::Load(int slot, uint32_t index, uint8_t* dest, size_t count) {
  if (const uint8_t* image = Image(slot)) {
    std::memcpy(dest, image + static_cast<size_t>(index) * kPageBytes, count);
  } else {
    ReadTemp(PageOffset(slot, index), dest, count);
  }
}

void TPSEarsemanager::Store(int slot, uint32_t index, const uint8_t* src, size_t count) {
  if (uint8_t* image = Image(slot)) {
    std::memcpy(image + static_cast<size_t>(index) * kPageBytes, src, count);
  } else {
    WriteTemp(PageOffset(slot, index), src, count);
  }
}

size_t TPSEarsemanager::MaxImages() const {
  return std::max<size_t>(1, kCacheMemoryBytes / static_cast<size_t>(block_bytes_));
}

void TPSEarsemanager::TakeImage(int slot) {
  if (!free_images_.empty()) {
    image_of_[slot] = static_cast<int16_t>(free_images_.back());
    free_images_.pop_back();
    return;
  }
  if (images_.size() < MaxImages()) {
    images_.push_back(std::make_unique<uint8_t[]>(image_bytes_));
    image_of_[slot] = static_cast<int16_t>(images_.size() - 1);
    return;
  }
  int oldest = -1;
  for (int i = 0; i < slot_count_; ++i) {
    if (i != slot && image_of_[i] >= 0 && (oldest < 0 || entered_[i] < entered_[oldest]))
      oldest = i;
  }
  // The whole image goes, so the slot's extent in the file is complete: an
  // absent page's bytes there are never read. Until the write has succeeded
  // the slot keeps its image in memory.
  WriteTemp(PageOffset(oldest, 0), Image(oldest), static_cast<size_t>(block_bytes_));
  image_of_[slot] = image_of_[oldest];
  image_of_[oldest] = -1;
}

void TPSEarsemanager::CheckCluster(uint32_t first_page) const {
  uint32_t per_block = PagesPerBlock();
  if (per_block == 0 || per_block > kMaxPagesPerBlock || (per_block & (per_block - 1)) != 0) {
    throw CardError("Erase blocks of " + std::to_string(per_block) +
                    " pages do not fit the erase-block cache (at most 64 pages)");
  }
  if (first_page % 2 != 0) {
    throw CardError("Page " + std::to_string(first_page) + " does not start a cluster");
  }
  // Both pages must be addressable: a page number past the commands' reach
  // would wrap onto the start of the card.
  uint64_t limit = std::min<uint64_t>(kAddressLimit, access_.AddressablePages());
  if (uint64_t{first_page} + 1 >= limit) {
    throw CardError("Page " + std::to_string(first_page) + " lies outside the card's " +
                    std::to_string(limit) + " addressable pages");
  }
}

bool TPSEarsemanager::HasRoomForSlot() const {
  if (slot_count_ < kMaxSlots) return true;
  return std::any_of(written_.begin(), written_.begin() + slot_count_, [](bool w) { return !w; });
}

void TPSEarsemanager::CheckRoomForSlot() const {
  if (!HasRoomForSlot()) {
    throw CardError("The operation touches more than 1024 erase blocks before its commit");
  }
}

int TPSEarsemanager::FreeSlotIndex() {
  CheckRoomForSlot();
  if (slot_count_ < kMaxSlots) return slot_count_;
  // Full: the block that entered first among those holding no change gives
  // up its slot; reading it again later costs card traffic, nothing more.
  int oldest = -1;
  for (int i = 0; i < slot_count_; ++i) {
    if (!written_[i] && (oldest < 0 || entered_[i] < entered_[oldest])) oldest = i;
  }
  return oldest;
}

int TPSEarsemanager::FindSlot(uint32_t block_start) const {
  return block_start < slot_of_.size() ? slot_of_[block_start] : -1;
}

void TPSEarsemanager::SetBlock(int slot, uint32_t block_start) {
  const uint32_t old = block_list_[slot];
  if (old < slot_of_.size() && slot_of_[old] == slot) slot_of_[old] = -1;
  block_list_[slot] = block_start;
  if (block_start < slot_of_.size()) slot_of_[block_start] = static_cast<int16_t>(slot);
}

int TPSEarsemanager::MakeSlot(uint32_t block_start, uint8_t state) {
  // A cache whose temp file could not be opened takes no block: any image
  // may have to move there.
  Fd();
  const int slot = FreeSlotIndex();
  const bool reused = slot < slot_count_;
  uint8_t* row = &page_state_[static_cast<size_t>(slot) * kMaxPagesPerBlock];
  if (reused) {
    // The old block leaves before its image is overwritten, so a failed
    // write below cannot leave the slot naming it with someone else's bytes.
    SetBlock(slot, kNoBlock);
    std::fill(row, row + kMaxPagesPerBlock, 0);
  }
  // Moving another image out to make room can fail; the slot is then not
  // counted (or names no block).
  if (image_of_[slot] < 0) TakeImage(slot);
  std::fill(row, row + kMaxPagesPerBlock, 0);
  std::fill(row, row + PagesPerBlock(), state);
  SetBlock(slot, block_start);
  written_[slot] = false;
  entered_[slot] = next_entry_++;
  // Counted only once it has its image.
  if (!reused) ++slot_count_;
  return slot;
}

void TPSEarsemanager::ReadCardPage(uint32_t page, Page& out) {
  access_.SeekPage(page);
  if (!access_.ReadPage(out)) {
    throw CardError("Reading card page " + std::to_string(page) + " failed");
  }
}

void TPSEarsemanager::CacheReadCluster(uint32_t first_page, uint8_t* dest1024) {
  CheckCluster(first_page);
  const uint32_t start = BlockStart(first_page);
  int slot = FindSlot(start);
  if (slot >= 0) {
    for (uint32_t k = 0; k < 2; ++k) {
      uint32_t index = first_page + k - start;
      uint8_t& state = page_state_[static_cast<size_t>(slot) * kMaxPagesPerBlock + index];
      uint8_t* dest = dest1024 + k * kPageDataBytes;
      if (state == kPagePresent) {
        Load(slot, index, dest, kPageDataBytes);
        continue;
      }
      Page page;
      ReadCardPage(first_page + k, page);
      Store(slot, index, page.data(), kPageBytes);
      state = kPagePresent;
      std::copy_n(page.begin(), kPageDataBytes, dest);
    }
    return;
  }

  // A miss reads the whole block once, so the rest of it costs no card
  // traffic later. Nothing enters the cache unless every page came back.
  CheckRoomForSlot();
  const uint32_t per_block = PagesPerBlock();
  Page page;
  for (uint32_t j = 0; j < per_block; ++j) {
    ReadCardPage(start + j, page);
    std::copy(page.begin(), page.end(),
              block_buffer_.begin() + static_cast<ptrdiff_t>(j) * kPageBytes);
  }
  const int slot_made = MakeSlot(start, kPagePresent);
  std::copy_n(block_buffer_.begin(), block_bytes_, Image(slot_made));
  uint32_t index = first_page - start;
  std::copy_n(block_buffer_.begin() + static_cast<ptrdiff_t>(index) * kPageBytes, kPageDataBytes,
              dest1024);
  std::copy_n(block_buffer_.begin() + static_cast<ptrdiff_t>(index + 1) * kPageBytes,
              kPageDataBytes, dest1024 + kPageDataBytes);
}

bool TPSEarsemanager::SameAsCard(int slot, uint32_t index, const uint8_t* src1024) {
  // Only a slot without a change holds the card's bytes in every page it
  // has; in a changed one a page may hold an earlier write.
  if (written_[slot]) return false;
  const uint8_t* state = &page_state_[static_cast<size_t>(slot) * kMaxPagesPerBlock + index];
  if (state[0] != kPagePresent || state[1] != kPagePresent) return false;
  std::array<uint8_t, kPageDataBytes> held{};
  for (uint32_t k = 0; k < 2; ++k) {
    Load(slot, index + k, held.data(), held.size());
    if (!std::equal(held.begin(), held.end(), src1024 + k * kPageDataBytes)) return false;
  }
  return true;
}

void TPSEarsemanager::CacheWriteCluster(uint32_t first_page, const uint8_t* src1024) {
  if (needs_mount_) throw CardError(kMountFirst);
  CheckCluster(first_page);
  const uint32_t start = BlockStart(first_page);
  int slot = FindSlot(start);
  if (slot >= 0 && SameAsCard(slot, first_page - start, src1024)) return;
  if (slot < 0) {
    // Nothing is read from the card now: the pages this write does not cover
    // are fetched at the flush, if no later operation supplies them first.
    slot = MakeSlot(start, kPageAbsent);
    std::fill_n(Image(slot), block_bytes_, kPlaceholder);
  }
  for (uint32_t k = 0; k < 2; ++k) {
    uint32_t index = first_page + k - start;
    // Only the data bytes: the spare bytes never travel to the card.
    Store(slot, index, src1024 + k * kPageDataBytes, kPageDataBytes);
    page_state_[static_cast<size_t>(slot) * kMaxPagesPerBlock + index] = kPagePresent;
  }
  written_[slot] = true;
}

void TPSEarsemanager::NoteCardPage(uint32_t page, const Page& content) {
  const uint32_t per_block = PagesPerBlock();
  if (per_block == 0 || per_block > kMaxPagesPerBlock || (per_block & (per_block - 1)) != 0 ||
      page >= std::min<uint64_t>(kAddressLimit, access_.AddressablePages()) || file_.fd() < 0) {
    return;
  }
  const uint32_t start = BlockStart(page);
  const uint32_t index = page - start;
  try {
    int slot = FindSlot(start);
    if (slot < 0) {
      // A note never pushes out another block: it only fills free room.
      // Only the noted page is filled in: an absent page's bytes are never
      // read.
      if (slot_count_ >= kMaxSlots) return;
      slot = MakeSlot(start, kPageAbsent);
      Store(slot, index, content.data(), kPageBytes);
      page_state_[static_cast<size_t>(slot) * kMaxPagesPerBlock + index] = kPagePresent;
      return;
    }
    uint8_t& state = page_state_[static_cast<size_t>(slot) * kMaxPagesPerBlock + index];
    if (state == kPagePresent) return;
    Store(slot, index, content.data(), kPageBytes);
    state = kPagePresent;
  } catch (const InOutError&) {
    // The page stays with the card; nothing the cache holds has changed.
  }
}

bool TPSEarsemanager::ReadKnownCluster(uint32_t first_page, uint8_t* dest1024) {
  if (file_.fd() < 0 || first_page % 2 != 0) return false;
  const uint32_t start = BlockStart(first_page);
  const int slot = FindSlot(start);
  if (slot < 0 || written_[slot]) return false;
  const uint32_t index = first_page - start;
  const uint8_t* state = &page_state_[static_cast<size_t>(slot) * kMaxPagesPerBlock + index];
  if (state[0] != kPagePresent || state[1] != kPagePresent) return false;
  try {
    for (uint32_t k = 0; k < 2; ++k)
      Load(slot, index + k, dest1024 + k * kPageDataBytes, kPageDataBytes);
  } catch (const InOutError&) {
    return false;  // the card still has it
  }
  return true;
}

std::vector<TPSEarsemanager::Planned> TPSEarsemanager::FlushPlan() const {
  std::vector<Planned> plan;
  std::vector<uint32_t> starts;
  for (int slot = 0; slot < slot_count_; ++slot) {
    if (!written_[slot]) continue;
    plan.push_back({slot, BlockWrite{}});
    starts.push_back(block_list_[slot]);
  }
  if (plan_.classify && !plan.empty()) {
    const auto how = plan_.classify(starts);
    if (how.size() != plan.size()) throw CardError("The commit plan does not answer for every block");
    for (size_t i = 0; i < plan.size(); ++i) plan[i].how = how[i];
  }
  std::sort(plan.begin(), plan.end(), [&](const Planned& a, const Planned& b) {
    return a.how.rank != b.how.rank ? a.how.rank < b.how.rank
                                    : entered_[a.slot] < entered_[b.slot];
  });
  return plan;
}

int TPSEarsemanager::BlocksToWrite() const {
  return static_cast<int>(std::count(written_.begin(), written_.begin() + slot_count_, true));
}

int TPSEarsemanager::LastWrittenSlot() const {
  const auto plan = FlushPlan();
  return plan.empty() ? -1 : plan.back().slot;
}

void TPSEarsemanager::CompleteBlocks() {
  const uint32_t per_block = PagesPerBlock();
  Page page;
  // Only blocks that go back to the card need every page; the others keep
  // what they have.
  // The order matters: the pages are read in the order their blocks are
  // written.
  for (const auto& planned : FlushPlan()) {
    const int slot = planned.slot;
    for (uint32_t j = 0; j < per_block; ++j) {
      uint8_t& state = page_state_[static_cast<size_t>(slot) * kMaxPagesPerBlock + j];
      if (state != kPageAbsent) continue;
      ReadCardPage(block_list_[slot] + j, page);
      Store(slot, j, page.data(), kPageBytes);
      state = kPagePresent;
    }
  }
}

void TPSEarsemanager::FlushCache(const std::function<void(int slot, int slots)>& progress) {
  if (!plan_.refusal.empty() && BlocksToWrite() > 0) throw CardError(plan_.refusal);
  // Every page is completed before the first block is erased, so a card that
  // cannot be read fails the flush while the card is still untouched.
  if (needs_mount_) throw CardError(kMountFirst);
  CompleteBlocks();
  const auto order = FlushPlan();
  const int slots = static_cast<int>(order.size());
  protected_written_ = 0;
  const bool protects = plan_.classify && plan_.backup.valid &&
                        std::any_of(order.begin(), order.end(),
                                    [](const Planned& p) { return p.how.protect; });
  if (protects && RewritePending(access_, plan_.backup)) {
    needs_mount_ = true;
    throw CardError("A write to the card was cut short and is not yet completed");
  }
  // From the first erase on, a failure of any kind leaves the card unknown.
  needs_mount_ = slots > 0;
  for (int n = 0; n < slots; ++n) {
    const int slot = order[static_cast<size_t>(n)].slot;
    const uint8_t* image = Image(slot);
    if (!image) {
      ReadTemp(PageOffset(slot, 0), block_buffer_.data(), static_cast<size_t>(block_bytes_));
      image = block_buffer_.data();
    }
    const uint32_t start = block_list_[slot];
    // A block that holds data the commit leaves as it is goes through the
    // backup blocks, so that an interruption cannot take that data with it.
    const bool protect = plan_.classify && plan_.backup.valid && order[static_cast<size_t>(n)].how.protect;
    const bool written = protect ? RewriteThroughBackup(access_, plan_.backup, start, image)
                                 : access_.WriteBlock(start, image);
    if (!written) {
      needs_mount_ = true;
      throw CardError("Writing the erase block at card page " + std::to_string(start) + " failed");
    }
    if (protect) ++protected_written_;
    if (progress) progress(n, slots);
  }
  needs_mount_ = false;
  ResetCache();
  if (plan_.committed) plan_.committed();
}

}  // namespace travosk::card
