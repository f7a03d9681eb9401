// Adapter traffic in the protocol's terms, what it costs on a full-speed USB
// link, and the least traffic the erase-block design needs for each card
// operation, worked out from the card images alone (card_model.h).
#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "bench_rig.h"
#include "card_model.h"
#include "sim/adapter.h"

namespace travosk::bench {

// Transactions by shape. The waits are the protocol's: 1 ms before every data
// phase, 10 ms after every write, 20 ms before a PS1 frame read, 1000 ms
// inside DetectAdapter; an erase has none (with no connection delay set).
struct Traffic {
  uint64_t queries = 0;  // ReadCardSpecs, ReadSMId
  uint64_t detects = 0;  // DetectAdapter: two packets
  uint64_t page_reads = 0;
  uint64_t page_writes = 0;
  uint64_t erases = 0;
  uint64_t frame_reads = 0;
  uint64_t frame_writes = 0;

  uint64_t Transactions() const;
  uint64_t DataPhases() const;
  uint64_t WaitsMs() const;
  // Waits plus every 512-byte data phase at 1 MB/s (10^6 bytes a second).
  double Seconds() const { return SecondsWith(WaitsMs()); }
  double SecondsWith(uint64_t waits_ms) const;
  Traffic& operator+=(const Traffic& o);
};

// The traffic that the adapter counted.
Traffic FromCounters(const sim::Counters& c);

// Least traffic, operation by operation: what the operation must read, each
// page once; every erase block whose data changes erased and written once per
// commit; and the reads that confirm writes, which the adapter never answers
// (a page after each commit, a frame after PS1 frame writes, the detection
// after an erase-all). `before` and `after` are the card
// images around the operation.
// The pages a catalogue reads: what every operation after one knows already.
PageSet CataloguePages(std::span<const uint8_t> card);
Traffic LeastCatalogue(std::span<const uint8_t> card);
Traffic LeastBackup(std::span<const uint8_t> card, const std::string& folder);
Traffic LeastAppend(std::span<const uint8_t> before, std::span<const uint8_t> after);
Traffic LeastDelete(std::span<const uint8_t> before, std::span<const uint8_t> after,
                    const std::string& folder);
Traffic LeastEditWriteBack(std::span<const uint8_t> before, std::span<const uint8_t> after,
                           const std::string& folder);
Traffic LeastErase(uint64_t blocks);
// What the crash-safe commit adds to writing the changed blocks directly:
// for each block that held live data before it (card_model.h), its copy in
// backup block 1, the two marker pages and two more erases.
Traffic ProtocolTraffic(const std::set<uint32_t>& blocks, uint32_t pages_per_block,
                        const CardModel& before);
Traffic LeastPcFormat(uint64_t blocks, uint64_t image_pages);
Traffic LeastPS1Frames(uint64_t reads, uint64_t writes);

// What a recording of an operation's packets shows beyond the counts: page
// reads of a page already read in the same operation, and erase blocks that a
// commit rewrote with the data they already held.
struct Waste {
  uint64_t rereads = 0;
  uint64_t unchanged_blocks = 0;
  std::vector<uint32_t> reread_pages;      // each page once, in the order first re-read
  std::vector<uint32_t> unchanged_starts;  // first pages of the blocks
};
struct Commit {
  size_t first_packet;          // index of the commit's first erase
  std::vector<uint8_t> before;  // the card before it
};
Waste FindWaste(const std::vector<Packet>& packets, const std::vector<Commit>& commits,
                std::span<const uint8_t> final_card, uint32_t pages_per_block);

}  // namespace travosk::bench
