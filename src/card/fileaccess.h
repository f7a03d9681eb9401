// TPSfileaccess: the one door to a card in the adapter. It knows which slot is
// selected, recognises the card and its geometry, keeps the current page
// address, and turns page reads, page writes and block rewrites into adapter
// commands. It owns the command component and the settings file "PS2M.cfg".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "card/layout.h"
#include "common/slots.h"
#include "link/link.h"
#include "link/ps2mcom.h"

namespace travosk::card {

using link::Page;

// What a slot answers to its query (ReadCardSpecs for the card slot, ReadSMId
// for SmartMedia): the kind of card it holds (kNone for an empty slot) and,
// for PS2 cards and SmartMedia, their geometry.
struct SlotContent {
  bool answered = false;  // false: the reply did not arrive, nothing is known
  CardKind kind = CardKind::kNone;
  uint32_t pages = 0;            // PS2: the reply's page count
  uint32_t pages_per_block = 0;  // PS2: as the reply says; SmartMedia: by device code
  uint8_t device_code = 0;       // SmartMedia
};
// Queries one slot, leaving Com->LinkFault as the query set it.
SlotContent ProbeSlot(link::TPS2Mcom& com, Slot slot);

class TPSfileaccess {
 public:
  explicit TPSfileaccess(link::Link& link);
  ~TPSfileaccess();

  // Stores the folder, creates Com with its defaults, loads the settings,
  // Medium := 0. A settings line that is not a number raises ConversionError
  // after the object is fully set up with that setting at its default.
  void Init(const std::string& settings_folder);
  // Com with its default settings and no settings file: for tools that open
  // a card image (mkfs, the demo cards) and must not leave "PS2M.cfg" behind.
  void InitDefaults();
  void Done();

  bool OpenCard();
  bool CloseCard();
  void SeekPage(uint32_t page);
  // Reads the page at the current address. False (and Com->LinkFault set)
  // when the transfer failed: the buffer then holds nothing from the card.
  [[nodiscard]] bool ReadPage(Page& buffer);
  // Erases the block at first_page and writes its BlockBytes / 528 pages from
  // data. False when a transfer failed, and (sending nothing) when first_page
  // is not a block start below AddressLimit. WritePage refuses pages past it
  // alike: the commands would wrap them onto the start of the card.
  [[nodiscard]] bool WriteBlock(uint32_t first_page, const uint8_t* data);
  // Writes the block's pages from data without erasing it first (the block
  // must be erased already). False as for WriteBlock.
  [[nodiscard]] bool ProgramBlock(uint32_t first_page, const uint8_t* data);
  [[nodiscard]] bool WritePage(uint32_t page, const Page& data);
  // Erases the block at first_page (with the connection wait on the card
  // slot) without writing it. False when the page is not a block start below
  // AddressLimit or the transfer failed.
  [[nodiscard]] bool EraseBlock(uint32_t first_page);

  // "PS2M.cfg" in SettingsFolder. LoadSettings creates the file with its
  // defaults when it is missing; SaveSettings replaces it and throws
  // InOutError when it cannot.
  void LoadSettings();
  void SaveSettings(uint16_t port_base, int32_t delay);
  std::string SettingsPath() const { return SettingsFolder + "PS2M.cfg"; }

  Slot Medium = Slot::kNone;  // the slot the card commands address
  bool IsOpen = false;
  std::string SettingsFolder;
  int32_t BlockBytes = 8448;
  int32_t CardBytes = 8650752;
  std::unique_ptr<link::TPS2Mcom> Com;
  uint8_t PageLo = 0;
  uint8_t PageHi = 0;
  uint8_t PageTop = 0;  // the third address byte, on cards past 65,536 pages
  bool IsPS1Card = false;
  // Counts the calls of OpenCard: a mount notes it, so that it can tell when
  // a card (of either slot) was opened since and the geometry above may no
  // longer be the mounted card's.
  uint64_t OpenCount = 0;
  // Pages of the card that the commands can address: CardBytes / 528, but at
  // most AddressLimit (a 64 MB SmartMedia is used through its first 65,536
  // pages).
  uint32_t AddressablePages() const;
  // The first page number the commands cannot carry: 65,536, and 131,072 for
  // a PS2 card of more pages than that (its commands carry a third byte).
  uint32_t AddressLimit() const;
  // BlockBytes / 528.
  uint32_t PagesPerBlock() const;
  // What the card holds for data: CardBytes less the 16 spare bytes of each
  // page.
  uint64_t DataBytes() const {
    return static_cast<uint64_t>(CardBytes) / kPageBytes * kPageDataBytes;
  }

 private:
  link::Link& link_;
};

}  // namespace travosk::card
