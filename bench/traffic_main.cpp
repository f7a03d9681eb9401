// bench_traffic: what every card operation costs on the adapter. Each
// operation runs once on a simulated adapter whose clock never waits; the
// adapter counts the packets, the clock sums the protocol's waits, and the
// card images around the operation give the least traffic the erase-block
// design needs for it. Prints markdown tables.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench_rig.h"
#include "card/fileip.h"
#include "least_traffic.h"
#include "manager/findsave.h"
#include "manager/savereplace.h"

namespace travosk::bench {
namespace {

struct Row {
  std::string operation;
  Traffic measured;
  uint64_t waits_ms = 0;  // as the clock summed them
  Traffic least;
  Traffic protocol;  // what the crash-safe commit adds to the blocks it writes
  Waste waste;
  bool cache_commits = false;  // the operation writes through the erase-block cache
  std::map<uint16_t, uint64_t> packets;
};

Row NewRow(const std::string& operation, bool cache_commits = false) {
  Row row;
  row.operation = operation;
  row.cache_commits = cache_commits;
  return row;
}

struct Run {
  std::vector<uint8_t> before, after;
  std::vector<Commit> commits;
};

// Runs op on the rig with fresh meters and records the traffic into row.
Run Measure(Rig& rig, Row& row, const std::function<bool()>& op) {
  Run run;
  run.before = rig.Snapshot();
  rig.ResetMeters();
  rig.trace.before_commit = [&] {
    run.commits.push_back({rig.trace.packets.size(), rig.Snapshot()});
  };
  const bool ok = op();
  rig.trace.before_commit = nullptr;
  if (!ok) throw std::runtime_error(row.operation + " failed: " + rig.mgr.LastError());
  run.after = rig.Snapshot();
  row.measured = FromCounters(rig.adapter.counters());
  row.waits_ms = static_cast<uint64_t>(rig.clock.total_sleep_ms);
  row.packets = rig.adapter.counters().packets;
  if (rig.medium().kind() != sim::MediumKind::kPS1)
    row.waste =
        FindWaste(rig.trace.packets, run.commits, run.after, rig.medium().pages_per_block());
  if (row.cache_commits) {
    const uint32_t per_block = rig.medium().pages_per_block();
    for (size_t k = 0; k < run.commits.size(); ++k) {
      const auto& before = run.commits[k].before;
      const auto& after = k + 1 < run.commits.size() ? run.commits[k + 1].before : run.after;
      row.protocol +=
          ProtocolTraffic(ChangedBlocks(before, after, per_block), per_block, CardModel(before));
    }
  }
  return run;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An archive of a save with its second file's bytes at `at` replaced by
// `text`: after the folder's three records, the first file's header and its
// blocks, then the second file's header.
std::string EditedArchive(std::string archive, size_t at, const std::string& text) {
  constexpr size_t kRecord = 512;
  constexpr size_t kBlock = 1024;
  const size_t first = 3 * kRecord;
  if (archive.size() < first + kRecord) throw std::runtime_error("archive too short to edit");
  const auto* h = reinterpret_cast<const uint8_t*>(archive.data() + first);
  const size_t length = h[4] | h[5] << 8 | h[6] << 16 | static_cast<size_t>(h[7]) << 24;
  const size_t data = first + kRecord + (length + kBlock - 1) / kBlock * kBlock + kRecord;
  if (data + at + text.size() > archive.size()) throw std::runtime_error("edit past the archive");
  archive.replace(data + at, text.size(), text);
  return archive;
}

void Ps2Rows(std::vector<Row>& rows) {
  Rig rig(Media::kPS2);
  rig.FormatFileSystem();
  for (int i = 0; i < 30; ++i)
    rig.AppendSave(
        rig.WriteFile("save" + std::to_string(i) + ".psu",
                      manager::BuildSaveArchive(SaveName(i), TypicalSave(i), kBenchTime)));
  const std::string big = rig.WriteFile(
      "big.psu", manager::BuildSaveArchive(kMegabyteSave, MegabyteSave(), kBenchTime));

  Row r = NewRow("Catalogue of a card with 30 saves");
  Run run = Measure(rig, r, [&] { return rig.mgr.Catalog(); });
  r.least = LeastCatalogue(run.before);
  rows.push_back(r);

  r = NewRow("Append of a 1 MB save", true);
  if (!rig.mgr.Catalog()) throw std::runtime_error("catalogue failed");
  run = Measure(rig, r, [&] {
    card::TfileIP root = card::RootDirectory();
    return rig.mgr.AppendSaveArchive(big, root).done;
  });
  r.least = LeastAppend(run.before, run.after);
  rows.push_back(r);
  const Row append = r;

  r = NewRow("Backup of the 1 MB save");
  card::TfileIP folder = rig.FindSave(kMegabyteSave);
  run =
      Measure(rig, r, [&] { return rig.mgr.BackupSaveFolder(rig.dir.File("backup.psu"), folder).done; });
  r.least = LeastBackup(run.before, kMegabyteSave);
  const Row backup = r;

  // What the hex editor writes back: the backup it opened, 16 bytes of the
  // big file changed.
  const std::string edited = rig.WriteFile(
      "edited.psu",
      EditedArchive(ReadBytes(rig.dir.File("backup.psu")), 500000, "edited in place!"));
  r = NewRow("Edit write-back of the 1 MB save", true);
  folder = rig.FindSave(kMegabyteSave);
  run = Measure(rig, r, [&] {
    return manager::ReplaceSave(rig.mgr, edited, folder, rig.dir.File("old.psu")) ==
           manager::ReplaceResult::kDone;
  });
  if (run.commits.size() != 1) throw std::runtime_error("the edit write-back did not commit once");
  r.least = LeastEditWriteBack(run.before, run.after, kMegabyteSave);
  const Row edit = r;

  r = NewRow("Delete of the 1 MB save", true);
  folder = rig.FindSave(kMegabyteSave);
  run = Measure(rig, r, [&] { return rig.mgr.DeleteSaveFolder(folder).done; });
  r.least = LeastDelete(run.before, run.after, kMegabyteSave);
  rows.push_back(r);
  rows.push_back(backup);
  rows.push_back(edit);

  r = NewRow("Format (erase the whole card)");
  run = Measure(rig, r, [&] { return rig.mgr.FormatCard(); });
  r.least = LeastErase(rig.medium().pages() / rig.medium().pages_per_block());
  rows.push_back(r);
}

void SmartMediaRows(std::vector<Row>& rows) {
  constexpr int kImagePages = 1152;
  Rig rig(Media::kSmartMedia);
  std::string image(size_t{kImagePages} * 528, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + i / 528);
  rig.WriteFile("pcf8M.bin", image);
  Row r = NewRow("PC format of an 8 MB SmartMedia");
  Measure(rig, r, [&] { return rig.mgr.FormatToPC("pcf8M.bin"); });
  r.least = LeastPcFormat(rig.medium().pages() / rig.medium().pages_per_block(), kImagePages);
  rows.push_back(r);
}

void PS1Rows(std::vector<Row>& rows) {
  constexpr int kBlocks = 3;
  Rig rig(Media::kPS1);
  const std::string save = rig.WriteFile("save.ps1", PS1SaveFile(kBlocks));
  const std::string card = rig.dir.File("card.mcr");

  Row save_row = NewRow("PS1 save download (3 blocks)");
  Measure(rig, save_row, [&] { return rig.mgr.DownloadPS1Saver(save).done; });
  // The card's header frame (is it formatted?), the 15 directory frames to
  // find free blocks; the blocks and their frames.
  save_row.least = LeastPS1Frames(1 + 15, kBlocks * 64 + kBlocks);

  Row r = NewRow("PS1 card upload (card to PC)");
  Measure(rig, r, [&] { return rig.mgr.UploadPS1Card(card); });
  r.least = LeastPS1Frames(1024, 0);
  rows.push_back(r);

  r = NewRow("PS1 card download (PC to card)");
  Measure(rig, r, [&] { return rig.mgr.DownloadPS1Card(card); });
  r.least = LeastPS1Frames(0, 1024);
  rows.push_back(r);
  rows.push_back(save_row);
}

// 12,345: digits in groups of three.
std::string Num(uint64_t v) {
  const std::string digits = std::to_string(v);
  std::string s;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) s.push_back(',');
    s.push_back(digits[i]);
  }
  return s;
}

std::string Pair(uint64_t measured, uint64_t least) {
  return measured == least ? Num(measured) : Num(measured) + " (" + Num(least) + ")";
}

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, s < 10 ? "%.2f" : "%.1f", s);
  return text;
}

void PrintSummary(const std::vector<Row>& rows) {
  std::printf(
      "| Operation | Transactions | Pages read | Pages written | Blocks erased | PS1 frames "
      "read / written | Waits (s) | USB estimate (s) | Least (s) | Excess transactions | "
      "Re-reads | Unchanged blocks rewritten | Crash-safe protocol: transactions (s) |\n");
  std::printf("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
  for (const Row& r : rows) {
    const Traffic& m = r.measured;
    const Traffic& l = r.least;
    const int64_t excess =
        static_cast<int64_t>(m.Transactions()) - static_cast<int64_t>(l.Transactions());
    const std::string protocol = r.cache_commits ? Num(r.protocol.Transactions()) + " (" +
                                                       Seconds(r.protocol.Seconds()) + ")"
                                                 : "–";
    std::printf("| %s | %s | %s | %s | %s | %s / %s | %s | %s | %s | %s%lld | %s | %s | %s |\n",
                r.operation.c_str(), Pair(m.Transactions(), l.Transactions()).c_str(),
                Pair(m.page_reads, l.page_reads).c_str(),
                Pair(m.page_writes, l.page_writes).c_str(), Pair(m.erases, l.erases).c_str(),
                Pair(m.frame_reads, l.frame_reads).c_str(),
                Pair(m.frame_writes, l.frame_writes).c_str(),
                Seconds(static_cast<double>(r.waits_ms) / 1000.0).c_str(),
                Seconds(m.SecondsWith(r.waits_ms)).c_str(), Seconds(l.Seconds()).c_str(),
                excess > 0 ? "+" : "", static_cast<long long>(excess),
                r.cache_commits || r.waste.rereads ? Num(r.waste.rereads).c_str() : "0",
                r.cache_commits ? Num(r.waste.unchanged_blocks).c_str() : "–", protocol.c_str());
  }
}

struct Command {
  uint16_t pair;
  const char* name;
};
constexpr Command kCommands[] = {
    {0x5126, "ReadCardSpecs"}, {0x2C88, "ReadSMId"},      {0xCA59, "Reset/status (CA 59)"},
    {0xA569, "ReadPS2Page"},   {0xC8A2, "WritePS2Page"},  {0x8C67, "ErasePS2Block"},
    {0xA985, "ReadSMPage"},    {0xBC35, "WriteSMPage"},   {0x3781, "EraseSMBlock"},
    {0xE3A4, "ReadPS1Frame"},  {0xE9DC, "WritePS1Frame"},
};

void PrintPackets(const std::vector<Row>& rows) {
  std::printf("| Operation |");
  for (const Command& c : kCommands)
    std::printf(" %s %02X %02X |", c.name, c.pair >> 8, c.pair & 0xFF);
  std::printf("\n|---|");
  for (size_t i = 0; i < std::size(kCommands); ++i) std::printf("--:|");
  std::printf("\n");
  for (const Row& r : rows) {
    std::printf("| %s |", r.operation.c_str());
    for (const Command& c : kCommands) {
      auto it = r.packets.find(c.pair);
      std::printf(" %s |", it == r.packets.end() ? "" : Num(it->second).c_str());
    }
    std::printf("\n");
  }
}

int Main() {
  std::vector<Row> rows;
  Ps2Rows(rows);
  SmartMediaRows(rows);
  PS1Rows(rows);

  std::printf("### Adapter traffic per operation\n\n");
  std::printf(
      "Measured on the simulated adapter; the least traffic the erase-block design needs is "
      "in brackets where it differs. USB estimate: the protocol's waits plus every 512-byte "
      "data phase at 1 MB/s.\n\n");
  PrintSummary(rows);
  std::printf("\n### Packets by command\n\n");
  PrintPackets(rows);

  // Where the waste is, page by page, for whoever looks into an excess.
  if (std::getenv("TRAVOSK_BENCH_DETAIL")) {
    for (const Row& r : rows) {
      std::fprintf(stderr, "%s\n  re-read pages:", r.operation.c_str());
      for (uint32_t p : r.waste.reread_pages) std::fprintf(stderr, " %u", p);
      std::fprintf(stderr, "\n");
      if (!r.cache_commits) continue;
      std::fprintf(stderr, "  unchanged blocks rewritten (first page):");
      for (uint32_t p : r.waste.unchanged_starts) std::fprintf(stderr, " %u", p);
      std::fprintf(stderr, "\n");
    }
  }

  int over = 0;
  std::string which;
  for (const Row& r : rows) {
    if (r.measured.Transactions() > r.least.Transactions()) {
      ++over;
      which += (which.empty() ? ": " : "; ") + r.operation + " (+" +
               Num(r.measured.Transactions() - r.least.Transactions()) + ")";
    }
    // The clock's sum must be what the protocol's waits make of the counts.
    if (r.measured.WaitsMs() != r.waits_ms)
      std::fprintf(stderr, "bench_traffic: %s: the clock waited %llu ms, the counts make %llu ms\n",
                   r.operation.c_str(), static_cast<unsigned long long>(r.waits_ms),
                   static_cast<unsigned long long>(r.measured.WaitsMs()));
  }
  std::printf("\n%d of %zu operations make more transactions than their least traffic%s.\n", over,
              rows.size(), which.c_str());
  return 0;
}

}  // namespace
}  // namespace travosk::bench

int main() {
  try {
    return travosk::bench::Main();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_traffic: %s\n", e.what());
    return 1;
  }
}
