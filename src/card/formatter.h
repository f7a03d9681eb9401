// Writes an empty PS2 file system onto the card of the selected slot: the
// layout that the console itself writes on an 8 MB card, and the same layout
// scaled to a SmartMedia's own geometry. Used by tests, the demo cards and the
// command line's mkfs.
#pragma once

#include <cstdint>
#include <ctime>

#include "card/fileaccess.h"

namespace travosk::card {

struct FormatLayout {
  uint32_t pages = 0;             // addressable pages used
  uint32_t pages_per_block = 0;
  uint32_t clusters = 0;          // pages / 2
  uint32_t fat_clusters = 0;
  uint32_t alloc_offset = 0;      // absolute cluster of relative cluster 0
  uint32_t alloc_end = 0;         // relative clusters usable
  uint32_t backup_block1 = 0;     // erase blocks kept for the console's backups
  uint32_t backup_block2 = 0;
};

// The layout for a card of the given geometry (pages, pages per erase block),
// using no page past `addressable`: 65,536 for media whose commands carry 16
// address bits (a 64 MB SmartMedia is formatted in its first 65,536 pages),
// the card access object's AddressLimit for the card it has open.
FormatLayout LayoutFor(uint32_t pages, uint32_t pages_per_block, uint32_t addressable = 65536);

// Formats the card that access has open (OpenCard done, card slot or
// SmartMedia). `when` stamps "." and ".." (UTC seconds). False when a
// transfer failed.
[[nodiscard]] bool FormatFileSystem(TPSfileaccess& access, std::time_t when);

}  // namespace travosk::card
