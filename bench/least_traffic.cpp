#include "least_traffic.h"

#include <algorithm>
#include <stdexcept>

namespace travosk::bench {

namespace {

constexpr size_t kRawPage = 528;
constexpr size_t kPageData = 512;
constexpr double kUsbBytesPerSecond = 1e6;
constexpr uint64_t kDataPhaseBytes = 512;

// The pages a least-traffic operation reads: what it must know, and the pages
// of every block it rewrites that it does not know already ("pages never
// seen"), each once; but never a page that it supplies whole itself (a page
// of the table, a cluster it allocated) or that it knows from before (read
// by the catalogue that came before it), whatever order it works in.
uint64_t Reads(const PageSet& know, const PageSet& rewritten, const PageSet& supplied) {
  PageSet reads;
  for (const PageSet* set : {&know, &rewritten})
    for (uint32_t p : *set)
      if (!supplied.count(p)) reads.insert(p);
  return reads.size();
}

// A commit: the blocks that change, each erased and written whole once, and
// one page read back afterwards. Block writes get no answer from the adapter,
// so only that read shows that the commit reached the card. A block that held
// live data before the commit is rewritten through the backup blocks, which
// costs its copy, the two marker pages and two more erases.
Traffic CommitTraffic(const std::set<uint32_t>& blocks, uint32_t pages_per_block,
                      const CardModel& before) {
  Traffic t;
  t.erases = blocks.size();
  t.page_writes = blocks.size() * pages_per_block;
  t.page_reads = blocks.empty() ? 0 : 1;
  t += ProtocolTraffic(blocks, pages_per_block, before);
  return t;
}

}  // namespace

Traffic ProtocolTraffic(const std::set<uint32_t>& blocks, uint32_t pages_per_block,
                        const CardModel& before) {
  Traffic t;
  for (uint32_t block : blocks) {
    if (!before.HoldsLiveData(block)) continue;
    t.erases += 2;
    t.page_writes += pages_per_block + 2;
  }
  return t;
}

uint64_t Traffic::Transactions() const {
  return queries + 2 * detects + page_reads + page_writes + erases + frame_reads + frame_writes;
}

uint64_t Traffic::DataPhases() const {
  return queries + detects + page_reads + page_writes + frame_reads + frame_writes;
}

uint64_t Traffic::WaitsMs() const {
  return queries * 1 + detects * 1001 + page_reads * 1 + page_writes * 11 + frame_reads * 20 +
         frame_writes * 11;
}

double Traffic::SecondsWith(uint64_t waits_ms) const {
  return static_cast<double>(waits_ms) / 1000.0 +
         static_cast<double>(DataPhases() * kDataPhaseBytes) / kUsbBytesPerSecond;
}

Traffic& Traffic::operator+=(const Traffic& o) {
  queries += o.queries;
  detects += o.detects;
  page_reads += o.page_reads;
  page_writes += o.page_writes;
  erases += o.erases;
  frame_reads += o.frame_reads;
  frame_writes += o.frame_writes;
  return *this;
}

Traffic FromCounters(const sim::Counters& c) {
  Traffic t;
  t.queries = c.Packets(0x51, 0x26) + c.Packets(0x2C, 0x88);
  t.detects = c.Packets(0xCA, 0x59) / 2;  // a reset and a status read each
  t.page_reads = c.pages_read;
  t.page_writes = c.pages_written;
  t.erases = c.blocks_erased;
  t.frame_reads = c.frames_read;
  t.frame_writes = c.frames_written;
  return t;
}

PageSet CataloguePages(std::span<const uint8_t> card) {
  const CardModel m(card);
  PageSet pages = m.MountPages();
  const auto root = m.Root();
  pages.merge(m.DirectoryPages(m.RootCluster(), static_cast<uint32_t>(root.size())));
  for (const auto& e : root)
    if (e.Exists() && e.IsDirectory() && !e.IsDot())
      pages.merge(m.DirectoryPages(e.cluster, e.length));
  return pages;
}

Traffic LeastCatalogue(std::span<const uint8_t> card) {
  Traffic t;
  t.queries = 1;  // the mount opens the card
  t.page_reads = CataloguePages(card).size();
  return t;
}

// The folder's clusters and its files' chains, but for what the catalogue
// before it read.
Traffic LeastBackup(std::span<const uint8_t> card, const std::string& folder) {
  const CardModel m(card);
  const auto f = m.Folder(folder);
  PageSet pages = m.DirectoryPages(f.cluster, f.length);
  for (const auto& file : m.FolderFiles(f)) pages.merge(m.ChainPages(file.cluster));
  Traffic t;
  t.page_reads = Reads(pages, {}, CataloguePages(card));
  return t;
}

// The new save's clusters and the table come whole from the PC; the root's
// chain is searched for a free slot and recounted.
Traffic LeastAppend(std::span<const uint8_t> before, std::span<const uint8_t> after) {
  const CardModel b(before), a(after);
  const uint32_t per_block = a.PagesPerBlock();
  const auto changed = ChangedBlocks(before, after, per_block);
  const PageSet know = a.ChainPages(a.RootCluster());
  PageSet supplied = CataloguePages(before);
  supplied.merge(a.FatPages());
  for (uint32_t c = 0; c < a.FatEntries(); ++c)
    if (a.InUse(c) && !b.InUse(c)) supplied.merge(a.ClusterPages(c));
  Traffic t = CommitTraffic(changed, per_block, b);
  t.page_reads += Reads(know, BlockPages(changed, per_block), supplied);
  return t;
}

// The folder is read to find its files, and its entries change; the root's
// entry and count change too.
Traffic LeastDelete(std::span<const uint8_t> before, std::span<const uint8_t> after,
                    const std::string& folder) {
  const CardModel b(before);
  const uint32_t per_block = b.PagesPerBlock();
  const auto f = b.Folder(folder);
  PageSet know = b.ChainPages(f.cluster);
  know.merge(b.ChainPages(b.RootCluster()));
  PageSet supplied = CataloguePages(before);
  supplied.merge(b.FatPages());
  const auto changed = ChangedBlocks(before, after, per_block);
  Traffic t = CommitTraffic(changed, per_block, b);
  t.page_reads += Reads(know, BlockPages(changed, per_block), supplied);
  return t;
}

// The old save is backed up before anything changes; then one commit writes
// the blocks whose data changed, reading the pages of them that the backup
// did not; one catalogue leaves the window a fresh tree.
Traffic LeastEditWriteBack(std::span<const uint8_t> before, std::span<const uint8_t> after,
                           const std::string& folder) {
  const CardModel b(before);
  const uint32_t per_block = b.PagesPerBlock();
  const auto f = b.Folder(folder);
  PageSet known = b.DirectoryPages(f.cluster, f.length);
  for (const auto& file : b.FolderFiles(f)) known.merge(b.ChainPages(file.cluster));
  const auto changed = ChangedBlocks(before, after, per_block);
  Traffic t = LeastBackup(before, folder);
  t += CommitTraffic(changed, per_block, b);
  PageSet unseen;
  for (uint32_t p : BlockPages(changed, per_block))
    if (!known.count(p)) unseen.insert(p);
  t.page_reads += unseen.size();
  t += LeastCatalogue(after);
  return t;
}

Traffic LeastErase(uint64_t blocks) {
  Traffic t;
  t.queries = 1;
  t.erases = blocks;
  t.detects = 1;  // the protocol detects the adapter again after an erase-all
  return t;
}

Traffic LeastPcFormat(uint64_t blocks, uint64_t image_pages) {
  Traffic t = LeastErase(blocks);
  t.page_writes = image_pages;
  return t;
}

Traffic LeastPS1Frames(uint64_t reads, uint64_t writes) {
  Traffic t;
  // Frame writes get no answer either: the last one is read back.
  t.frame_reads = reads + (writes > 0 ? 1 : 0);
  t.frame_writes = writes;
  return t;
}

Waste FindWaste(const std::vector<Packet>& packets, const std::vector<Commit>& commits,
                std::span<const uint8_t> final_card, uint32_t pages_per_block) {
  Waste w;
  std::set<uint32_t> read, reread;
  for (const Packet& p : packets) {
    if (p.Pair() != 0xA569 && p.Pair() != 0xA985) continue;
    if (read.insert(p.Page()).second) continue;
    ++w.rereads;
    if (reread.insert(p.Page()).second) w.reread_pages.push_back(p.Page());
  }
  for (size_t k = 0; k < commits.size(); ++k) {
    const size_t end = k + 1 < commits.size() ? commits[k + 1].first_packet : packets.size();
    std::span<const uint8_t> before = commits[k].before;
    std::span<const uint8_t> after =
        k + 1 < commits.size() ? std::span<const uint8_t>(commits[k + 1].before) : final_card;
    std::set<uint32_t> erased;
    for (size_t i = commits[k].first_packet; i < end; ++i)
      if (packets[i].Pair() == 0x8C67 || packets[i].Pair() == 0x3781)
        erased.insert(packets[i].Page() / pages_per_block);
    // The backup blocks are erased by the protocol itself, not rewritten
    // with the data they held.
    try {
      const CardModel model(before);
      erased.erase(model.BackupBlock1());
      erased.erase(model.BackupBlock2());
    } catch (const std::runtime_error&) {
      // No file system (a PC format, an erased card): no backup blocks.
    }
    for (uint32_t block : erased) {
      bool same = true;
      for (uint32_t j = 0; j < pages_per_block && same; ++j) {
        const size_t at = (size_t{block} * pages_per_block + j) * kRawPage;
        if (at + kPageData > std::min(before.size(), after.size())) break;
        same = std::equal(before.begin() + at, before.begin() + at + kPageData, after.begin() + at);
      }
      if (same) {
        ++w.unchanged_blocks;
        w.unchanged_starts.push_back(block * pages_per_block);
      }
    }
  }
  return w;
}

}  // namespace travosk::bench
