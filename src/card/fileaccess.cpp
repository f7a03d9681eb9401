// The card access object: card recognition, geometry and page traffic.
#include "card/fileaccess.h"

#include <algorithm>

namespace travosk::card {

namespace {

// Defaults that stand until a card answers: an 8 MB PS2 card.
constexpr int32_t kDefaultBlockBytes = 16 * kPageBytes;    // 8,448
constexpr int32_t kDefaultCardBytes = 16384 * kPageBytes;  // 8,650,752
constexpr uint8_t kNoCard = 0xFF;
constexpr uint8_t kPS1Reply = 0x5A;  // "Z": a PS1 card answers eight of them
constexpr int32_t kPS1CardBytes = 131072;
constexpr int32_t kPS1BlockBytes = 128;
// Page commands carry a 16-bit page address; PS2 cards of more pages get a
// third address byte, up to the largest card, 64 MB of data.
constexpr uint32_t kAddressablePages = 65536;
constexpr uint32_t kLargestPS2Pages = 131072;

struct SmartMediaRow {
  uint8_t code;
  int32_t pages_per_block;
  int32_t pages;
};
// Device codes of the SmartMedia sizes; any other code is taken as 8 MB.
constexpr SmartMediaRow kSmartMediaRows[] = {
    {0x6B, 16, 8192},  {0xE3, 16, 8192},  {0xE5, 16, 8192},
    {0x73, 32, 32768}, {0x75, 32, 65536}, {0x76, 32, 131072},
};
constexpr SmartMediaRow kSmartMediaOther = {0x00, 16, 16384};

bool IsPowerOfTwo(uint32_t v) {
  return v != 0 && (v & (v - 1)) == 0;
}

}  // namespace

SlotContent ProbeSlot(link::TPS2Mcom& com, Slot slot) {
  SlotContent content;
  com.LinkFault = false;
  if (slot == Slot::kCard) {
    uint8_t r[8] = {};
    com.ReadCardSpecs(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
    // A failed query leaves the shared buffer's old bytes in r: never judge them.
    if (com.LinkFault) return content;
    content.answered = true;
    if (std::all_of(r, r + 4, [](uint8_t b) { return b != kNoCard && b != kPS1Reply; })) {
      // r2 is the erase block in pages and r4..r7 the page count,
      // little-endian (r5 alone, the count / 256, for cards up to 16 MB).
      content.kind = CardKind::kPS2;
      content.pages_per_block = r[2];
      content.pages = uint32_t{r[4]} | uint32_t{r[5]} << 8 | uint32_t{r[6]} << 16 |
                      uint32_t{r[7]} << 24;
    } else if (std::all_of(r, r + 8, [](uint8_t b) { return b == kPS1Reply; })) {
      content.kind = CardKind::kPS1;
    }
  } else if (slot == Slot::kSmartMedia) {
    uint8_t r[4] = {};
    com.ReadSMId(r[0], r[1], r[2], r[3]);
    if (com.LinkFault) return content;
    content.answered = true;
    if (r[0] == kNoCard || r[1] == kNoCard || r[2] == kNoCard) return content;
    const SmartMediaRow* row = &kSmartMediaOther;
    for (const auto& candidate : kSmartMediaRows) {
      if (candidate.code == r[1]) row = &candidate;
    }
    content.kind = CardKind::kSmartMedia;
    content.device_code = r[1];
    content.pages_per_block = static_cast<uint32_t>(row->pages_per_block);
    content.pages = static_cast<uint32_t>(row->pages);
  }
  return content;
}

TPSfileaccess::TPSfileaccess(link::Link& link) : link_(link) {}

TPSfileaccess::~TPSfileaccess() = default;

void TPSfileaccess::Init(const std::string& settings_folder) {
  SettingsFolder = settings_folder;
  Com = std::make_unique<link::TPS2Mcom>(link_);
  Medium = Slot::kNone;
  // Last: a bad settings line throws only after everything above is in place.
  LoadSettings();
}

void TPSfileaccess::InitDefaults() {
  Com = std::make_unique<link::TPS2Mcom>(link_);
  Medium = Slot::kNone;
}

void TPSfileaccess::Done() {
  Com.reset();
}

uint32_t TPSfileaccess::AddressLimit() const {
  return Medium == Slot::kCard && !IsPS1Card &&
                 static_cast<uint32_t>(std::max(CardBytes, 0)) / kPageBytes > kAddressablePages
             ? kLargestPS2Pages
             : kAddressablePages;
}

uint32_t TPSfileaccess::AddressablePages() const {
  if (CardBytes <= 0) return 0;
  // A 64 MB SmartMedia has 131,072 pages, but its page commands carry only
  // 16 address bits: page 65,536 would land on page 0 and overwrite the
  // superblock. Such a card is used through its first 65,536 pages.
  return std::min<uint32_t>(static_cast<uint32_t>(CardBytes) / kPageBytes, AddressLimit());
}

uint32_t TPSfileaccess::PagesPerBlock() const {
  return BlockBytes > 0 ? static_cast<uint32_t>(BlockBytes) / kPageBytes : 0;
}

bool TPSfileaccess::OpenCard() {
  ++OpenCount;
  BlockBytes = kDefaultBlockBytes;
  CardBytes = kDefaultCardBytes;
  IsOpen = false;
  if (!Com) return false;

  if (Medium == Slot::kCard) {
    IsPS1Card = false;
    const SlotContent slot = ProbeSlot(*Com, Slot::kCard);
    if (slot.kind == CardKind::kPS2) {
      // A reply that names no block size the cache can hold, or no pages, is
      // not a card the system can work with: opening it would divide blocks
      // into nothing or write across block boundaries.
      if (!IsPowerOfTwo(slot.pages_per_block) || slot.pages_per_block > 64 || slot.pages == 0 ||
          slot.pages > kLargestPS2Pages)
        return false;
      BlockBytes = static_cast<int32_t>(slot.pages_per_block) * kPageBytes;
      CardBytes = static_cast<int32_t>(slot.pages) * kPageBytes;
      IsOpen = true;
      return true;
    }
    if (slot.kind == CardKind::kPS1) {
      CardBytes = kPS1CardBytes;
      BlockBytes = kPS1BlockBytes;
      IsPS1Card = true;
    }
    return false;
  }

  if (Medium == Slot::kSmartMedia) {
    const SlotContent slot = ProbeSlot(*Com, Slot::kSmartMedia);
    if (slot.kind != CardKind::kSmartMedia) return false;
    BlockBytes = static_cast<int32_t>(slot.pages_per_block) * kPageBytes;
    CardBytes = static_cast<int32_t>(slot.pages) * kPageBytes;
    IsOpen = true;
    return true;
  }

  // Medium 0 (a card image file read directly) is not offered: images are
  // opened through the simulated adapter, so one code path serves both.
  return false;
}

bool TPSfileaccess::CloseCard() {
  IsOpen = false;
  return true;
}

void TPSfileaccess::SeekPage(uint32_t page) {
  PageLo = static_cast<uint8_t>(page);
  PageHi = static_cast<uint8_t>(page >> 8);
  // The third byte only where the card has pages past 65,535: a smaller
  // card's address keeps its 16 bits, as its commands always carried.
  PageTop = AddressLimit() > kAddressablePages ? static_cast<uint8_t>(page >> 16) : 0;
}

bool TPSfileaccess::ReadPage(Page& buffer) {
  if (!Com || Medium == Slot::kNone) return false;
  Page local{};
  Com->LinkFault = false;
  if (Medium == Slot::kCard) {
    Com->ReadPS2Page(PageLo, PageHi, local, PageTop);
  } else {
    Com->ReadSMPage(PageLo, PageHi, local);
  }
  // After a failed transfer the shared buffer still holds an older page:
  // hand back nothing rather than bytes that are not this page's.
  if (Com->LinkFault) return false;
  buffer = local;
  return true;
}

bool TPSfileaccess::EraseBlock(uint32_t first_page) {
  if (!Com || Medium == Slot::kNone) return false;
  uint32_t per_block = PagesPerBlock();
  if (first_page >= AddressLimit() || per_block == 0 || first_page % per_block != 0) {
    return false;
  }
  uint8_t lo = static_cast<uint8_t>(first_page);
  uint8_t hi = static_cast<uint8_t>(first_page >> 8);
  Com->LinkFault = false;
  if (Medium == Slot::kCard) {
    Com->ErasePS2Block(lo, hi, static_cast<uint8_t>(first_page >> 16));
    if (Com->LinkFault) return false;
    // The PS2 card needs time after an erase before it takes page writes.
    Com->ConnectionWait();
  } else {
    Com->EraseSMBlock(lo, hi);
  }
  return !Com->LinkFault;
}

bool TPSfileaccess::WriteBlock(uint32_t first_page, const uint8_t* data) {
  // Only whole, aligned blocks below the address limit are written: an address that
  // wrapped, or a block that straddled two erase blocks, would erase and
  // overwrite pages the caller never meant to touch.
  return EraseBlock(first_page) && ProgramBlock(first_page, data);
}

bool TPSfileaccess::ProgramBlock(uint32_t first_page, const uint8_t* data) {
  if (!Com || Medium == Slot::kNone) return false;
  uint32_t per_block = PagesPerBlock();
  if (first_page >= AddressLimit() || per_block == 0 || first_page % per_block != 0) {
    return false;
  }
  Com->LinkFault = false;
  uint8_t hi = static_cast<uint8_t>(first_page >> 8);
  const uint8_t top = static_cast<uint8_t>(first_page >> 16);
  Page local{};
  for (uint32_t i = 0; i < per_block; ++i) {
    std::copy_n(data + static_cast<size_t>(i) * kPageBytes, kPageBytes, local.begin());
    uint8_t lo = static_cast<uint8_t>(first_page + i);
    if (Medium == Slot::kCard) {
      Com->WritePS2Page(lo, hi, local, top);
    } else {
      Com->WriteSMPage(lo, hi, local);
    }
    // Stop at the first failure: the adapter is gone or confused, and the
    // caller has to report the block as not written.
    if (Com->LinkFault) return false;
  }
  return true;
}

bool TPSfileaccess::WritePage(uint32_t page, const Page& data) {
  if (!Com || Medium == Slot::kNone || page >= AddressLimit()) return false;
  uint8_t lo = static_cast<uint8_t>(page);
  uint8_t hi = static_cast<uint8_t>(page >> 8);
  Com->LinkFault = false;
  if (Medium == Slot::kCard) {
    Com->WritePS2Page(lo, hi, data, static_cast<uint8_t>(page >> 16));
  } else {
    Com->WriteSMPage(lo, hi, data);
  }
  return !Com->LinkFault;
}

}  // namespace travosk::card
