// The card manager's life cycle, the catalogue, the commit and the whole-card
// operations. Save archives live in archives.cpp, PS1 cards in ps1card.cpp and
// the SmartMedia PC format in pcformat.cpp.
#include "manager/ps2mfmsys.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <exception>

#include "card/fileops.h"
#include "card/walk.h"
#include "common/bytes.h"
#include "common/errors.h"

namespace travosk::manager {

using card::TfileIP;

namespace {

std::string CurrentFolder() {
  std::string path(4096, '\0');
  if (::getcwd(path.data(), path.size()) == nullptr) return "./";
  path.resize(std::char_traits<char>::length(path.c_str()));
  return path;
}

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  return folder;
}

}  // namespace

TPS2MFMSYS::TPS2MFMSYS(link::Link& link) : link_(link) {
  access_ = std::make_unique<card::TPSfileaccess>(link_);
  cache_ = std::make_unique<card::TPSEarsemanager>(*access_);
  volume_ = std::make_unique<card::TPSFilemanager>(*access_, *cache_);
}

TPS2MFMSYS::~TPS2MFMSYS() = default;

void TPS2MFMSYS::InitSystem(const std::string& work_folder) {
  work_folder_ = WithTrailingSlash(work_folder.empty() ? CurrentFolder() : work_folder);
  // A bad settings line is reported only after the rest of the start-up ran,
  // so that the system is fully usable with that setting at its default.
  std::exception_ptr settings_error;
  try {
    access_->Init(work_folder_);
  } catch (const ConversionError&) {
    settings_error = std::current_exception();
  }
  nodes_.ClearNodes();
  access_->IsOpen = false;
  cache_->OpenCache();
  access_->Medium = Slot::kCard;
  if (settings_error) std::rethrow_exception(settings_error);
}

void TPS2MFMSYS::InitReading() {
  work_folder_.clear();
  access_->InitDefaults();
  nodes_.ClearNodes();
  access_->IsOpen = false;
  cache_->CloseCache();
  cache_->ResetCache();
  access_->Medium = Slot::kCard;
}

void TPS2MFMSYS::DoneSystem() {
  access_->Done();
  nodes_.ClearNodes();
  volume_->Release();
  cache_->CloseCache();
}

int32_t TPS2MFMSYS::EntryCount(const TfileIP& entry) const {
  return static_cast<int32_t>(entry.Length());
}

void TPS2MFMSYS::FireFileProgress(TfileIP& fileip, bool& isbreak) {
  if (OnFilebarprocess)
    OnFilebarprocess(fileip, volume_->ProgressMax, volume_->ProgressMin, volume_->ProgressPos,
                     isbreak);
}

bool TPS2MFMSYS::Catalog() {
  last_error_.clear();
  card_changed_ = false;
  if (!volume_->Mount()) {
    // The mount's own reason: a card that did not answer or could not be
    // read is not a card without a file system.
    last_error_ = volume_->LastError();
    if (OnErroroninit) OnErroroninit();
    return false;
  }
  try {
    TfileIP x;
    nodes_.ClearNodes();
    if (OnAddMainNode) OnAddMainNode(x);

    int max = 100, min = 0, process = 0;
    bool isbreak = false;
    int64_t root_count = 0, passed = 0;
    bool count_known = false;
    if (OnCatalogbarbegin) OnCatalogbarbegin(x, max, min, process, isbreak);
    if (isbreak) return false;

    if (!card::ReadFirstEntry(*volume_, x)) {
      // The root's "." slot is not a valid entry: report what was read, list nothing.
    }
    if (x.Name == "." && !x.Deleted) {
      root_count = EntryCount(x);
      count_known = true;
    }
    if (!x.Deleted) ++passed;
    if (OnAddrootNode) OnAddrootNode(x);

    auto step = [&](TfileIP& item) {
      if (OnCatalogbarRun) {
        ++process;
        if (process >= max) process = min;
        OnCatalogbarRun(item, max, min, process, isbreak);
      }
    };

    while (card::ReadNextEntry(*volume_, x) && count_known && passed < root_count) {
      if (!x.Deleted) ++passed;
      if (OnAddrootNode) OnAddrootNode(x);
      step(x);
      if (isbreak) return false;
      if (x.Dir && !x.Deleted && !x.IsDotName()) {
        int64_t child_count = EntryCount(x), seen = 0;
        card::PushPosition(*volume_, x);
        if (card::EnterDirectory(*volume_, x)) {
          TfileIP child;
          (void)card::ReadFirstEntry(*volume_, child);
          if (OnAddChildNode) OnAddChildNode(child);
          if (!child.Deleted) ++seen;
          while (card::ReadNextEntry(*volume_, child) && !isbreak && seen < child_count) {
            if (OnAddChildNode) OnAddChildNode(child);
            step(child);
            if (!child.Deleted) ++seen;
          }
        }
        card::PopPosition(*volume_, x);
      }
    }
    process = max;
    if (OnCatalogbarEnd) OnCatalogbarEnd(x, max, min, process, isbreak);
    return true;
  } catch (const CardError& e) {
    last_error_ = e.what();
    return false;
  }
}

void TPS2MFMSYS::FlushCard() {
  cache_->CompleteBlocks();
  TfileIP none;
  bool isbreak = false;  // a commit always runs to its end
  volume_->ProgressMin = 0;
  volume_->ProgressMax = cache_->BlocksToWrite() - 1;
  volume_->ProgressPos = 0;
  FireFileProgress(none, isbreak);

  // An adapter that has gone silent takes block writes without a sign of
  // failure; only a read can show it. After the flush the last page of the
  // commit's last written block is read back (blocks that were only read are
  // not rewritten, so they would prove nothing), and the commit counts only
  // when it comes back as the cache holds it. The expected bytes come from
  // the cache, whose pages are all present once the blocks are completed.
  const int last_written = cache_->LastWrittenSlot();
  std::array<uint8_t, card::kClusterBytes> expected{};
  uint32_t last_page = 0;
  if (last_written >= 0) {
    last_page = cache_->SlotBlockStart(last_written) + access_->PagesPerBlock() - 1;
    cache_->CacheReadCluster(last_page - 1, expected.data());
  }
  try {
    cache_->FlushCache([&](int block, int) {
      volume_->ProgressPos = block;
      FireFileProgress(none, isbreak);
    });
    if (last_written >= 0) {
      card::Page page{};
      access_->SeekPage(last_page);
      if (!access_->ReadPage(page) ||
          !std::equal(page.begin(), page.begin() + card::kPageDataBytes,
                      expected.begin() + card::kPageDataBytes))
        throw CardError(
            "The card did not confirm the commit: it may hold only part of the change");
    }
  } catch (const CardError&) {
    // The card may hold half-written blocks and a rewrite cut short in the
    // backup blocks; a block read from it now, or a new rewrite (which starts
    // by erasing backup block 1), could lose the only whole copy. Mounting
    // again runs the recovery first and reloads the table as the card has it.
    // When the card does not answer, writing stays refused until a mount does.
    (void)volume_->Mount();
    throw;
  }
}

bool TPS2MFMSYS::ReopenCatalogued(bool afresh) {
  card_changed_ = false;
  // A failed commit whose mount could not run leaves writing refused.
  if (cache_->NeedsMount()) {
    if (volume_->Mount()) return true;
    last_error_ = volume_->LastError();
    return false;
  }
  // A volume that is not mounted (never, or a mount that failed) has no
  // table to write from: it is mounted first.
  if (!volume_->Mounted()) {
    if (volume_->Mount()) return true;
    last_error_ = volume_->LastError();
    return false;
  }
  if (!afresh && volume_->StillOpen()) return true;
  if (volume_->Remount()) return true;
  last_error_ = volume_->LastError();
  return false;
}

bool TPS2MFMSYS::ConfirmOnCard(TfileIP& folder) {
  last_error_.clear();
  // Never taken on trust: what this program read of the card (table,
  // directories, cached blocks) may be older than the card.
  if (!ReopenCatalogued(true)) return false;
  // The root's entries as many as its "." counts; of those of the folder's
  // name the one at the cluster the catalogue saw wins, else the only one.
  std::vector<TfileIP> named;
  try {
    auto& v = *volume_;
    card::WalkCursor walk;
    TfileIP x;
    (void)card::ReadFirstEntry(v, walk, x);
    const int64_t count = x.Name == "." && !x.Deleted ? EntryCount(x) : 0;
    int64_t passed = x.Deleted ? 0 : 1;
    while (passed < count && card::ReadNextEntry(v, walk, x)) {
      if (x.Deleted) continue;
      ++passed;
      if (x.Dir && !x.IsDotName() && x.Name == folder.Name) named.push_back(x);
    }
  } catch (const CardError& e) {
    last_error_ = e.what();
    return false;
  }
  for (const TfileIP& x : named)
    if (x.RelatCluster == folder.RelatCluster && x.Header == folder.Header) {
      folder = x;
      return true;
    }
  if (named.size() == 1) {
    folder = named.front();
    return true;
  }
  card_changed_ = true;
  last_error_ = "the card changed since it was read: \"" + folder.Name + "\" is " +
                (named.empty() ? "no longer on it" : "there more than once");
  return false;
}

Outcome TPS2MFMSYS::DeleteSaveFolder(TfileIP& folder) { return Concluded(DeleteFolderSteps(folder)); }

Outcome TPS2MFMSYS::Concluded(bool done) const {
  if (done) return {true, {}, false};
  return {false, last_error_, card_changed_};
}

bool TPS2MFMSYS::DeleteFolderSteps(TfileIP& folder) {
  last_error_.clear();
  card_changed_ = false;
  if (!folder.Dir || folder.IsDotName()) return false;
  if (!ConfirmOnCard(folder)) return false;
  auto& v = *volume_;
  bool isbreak = false;
  bool committed = false, flushing = false;
  // A delete that fails before its commit puts the table back: a later
  // commit would otherwise write the clusters it freed as free.
  const std::vector<uint32_t> table = v.Fat;
  try {
    v.ProgressMax = 40;
    v.ProgressMin = 0;
    v.ProgressPos = 0;

    card::WalkCursor walk;
    if (card::EnterDirectory(v, walk, folder)) {
      TfileIP item;
      bool more = card::ReadFirstEntry(v, walk, item);
      bool first = true;
      // The first entry is the folder's "."; the walk is bounded by the chain.
      while (more) {
        // Entries already deleted are skipped: their record carries the
        // clusters of the entry read before them.
        if (!item.Dir && !item.Deleted) card::DeleteEntry(v, item);
        if (!first) {
          FireFileProgress(item, isbreak);
          if (++v.ProgressPos > v.ProgressMax) v.ProgressPos = 0;
        }
        first = false;
        if (isbreak) break;
        more = card::ReadNextEntry(v, walk, item);
      }
    }
    v.ProgressPos = v.ProgressMax;
    FireFileProgress(folder, isbreak);

    if (!isbreak) {
      if (!v.ValidCluster(static_cast<uint32_t>(folder.RelatCluster)))
        throw CardError("the save folder's first cluster lies outside the card");
      // Every cluster of the folder goes back: clusters that hold only
      // entries deleted earlier, and whatever the walk above did not reach.
      card::FreeFolderTree(v, static_cast<uint32_t>(folder.RelatCluster));
      card::DeleteEntry(v, folder);
      v.StoreFat();
      card::StoreCountInDot(v, folder);
      flushing = true;
      FlushCard();
      committed = true;
    }
  } catch (const CardError& e) {
    last_error_ = e.what();
  }
  if (!committed) {
    // Whatever the half-done delete staged must never reach the card later.
    // A failed commit mounted the card again: its table is the card's.
    cache_->ResetCache();
    if (!flushing) v.Fat = table;
    return false;
  }
  return !isbreak;
}

bool TPS2MFMSYS::ExportFile(const std::string& file_name, TfileIP& entry) {
  last_error_.clear();
  if (entry.Dir || entry.IsDotName()) return false;
  if (!ReopenCatalogued()) return false;
  try {
    return card::ExportFileToPath(*volume_, file_name, entry);
  } catch (const CardError& e) {
    last_error_ = e.what();
    return false;
  }
}

bool TPS2MFMSYS::CheckLink() {
  // The link is always ready (TPS2Mcom::IsReady), so OnLinkSysbusy never
  // fires here: what can fail is recognising the card.
  return access_->OpenCard();
}

bool TPS2MFMSYS::EraseCard() {
  last_error_.clear();
  // The cache may know what the card held; after this it holds nothing of it.
  cache_->ResetCache();
  auto& a = *access_;
  const uint32_t pages_per_block = static_cast<uint32_t>(a.BlockBytes / card::kPageBytes);
  const uint32_t blocks = pages_per_block ? a.AddressablePages() / pages_per_block : 0;
  int max = static_cast<int>(blocks), min = 0, process = 0;
  bool isbreak = false;
  bool failed = false;
  if (Onbarprocess) Onbarprocess(max, min, process, isbreak);
  uint32_t page = 0;
  for (uint32_t b = 0; b < blocks && !isbreak; ++b) {
    const auto lo = static_cast<uint8_t>(page & 0xFF);
    const auto hi = static_cast<uint8_t>((page >> 8) & 0xFF);
    Com().LinkFault = false;
    if (a.Medium == Slot::kCard)
      Com().ErasePS2Block(lo, hi, static_cast<uint8_t>(page >> 16));
    else if (a.Medium == Slot::kSmartMedia)
      Com().EraseSMBlock(lo, hi);
    if (Com().LinkFault) {
      last_error_ = "the adapter stopped answering";
      failed = true;
      break;
    }
    page += pages_per_block;
    ++process;
    if (Onbarprocess) Onbarprocess(max, min, process, isbreak);
  }
  if (Beep) Beep();
  return !isbreak && !failed;
}

bool TPS2MFMSYS::FormatCard() {
  if (access_->Medium == Slot::kNone) return false;
  if (!access_->OpenCard()) return false;
  const bool erased = EraseCard();
  // Erase commands get no answer, so an adapter that went silent during the
  // erase takes them all without a sign: the closing detection is the one
  // reply that shows the erase reached the card.
  const bool answered = Com().DetectAdapter();
  if (erased && !answered) last_error_ = "the adapter stopped answering";
  return erased && answered;
}

}  // namespace travosk::manager
