// bench_cardimage: what the card operations cost on the PC, run on 8 MB card
// images through the in-process adapter (no waits), as the command line runs
// them on an image: time, the heap at its peak and what one run added to it,
// the process's peak resident memory, and, for scale, the time the system's
// own file copy takes to copy as many bytes as the operation moved through
// the adapter.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_rig.h"
#include "card/checker.h"
#include "card/fileip.h"
#include "card/formatter.h"
#include "heap_meter.h"
#include "manager/findsave.h"
#include "manager/cardroom.h"
#include "manager/inspectarchive.h"

namespace travosk::bench {
namespace {

constexpr double kMiB = 1024.0 * 1024.0;

double PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void SaveImage(Rig& rig, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(rig.image().data()),
            static_cast<std::streamsize>(rig.image().size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// Reads an image file straight into the card, so that no copy of a card sits
// on the heap while an operation is measured.
void LoadImage(Rig& rig, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(rig.image().data()),
          static_cast<std::streamsize>(rig.image().size()));
  if (in.gcount() != static_cast<std::streamsize>(rig.image().size()))
    throw std::runtime_error("cannot read " + path);
}

// The cards, built once and kept as image files.
struct Cards {
  TempFolder dir;
  std::string thirty = dir.File("thirty.img");          // 30 saves of 40 to 95 KB
  std::string thirty_big = dir.File("thirty-big.img");  // and a save of 1 MB
  std::string full = dir.File("full.img");              // saves until the next would not fit
  std::string big_archive = dir.File("big.psu");
  int full_saves = 0;

  Cards() {
    Rig rig(Media::kPS2);
    rig.FormatFileSystem();
    auto add = [&](int n) {
      rig.AppendSave(rig.WriteFile(
          "s.psu", manager::BuildSaveArchive(SaveName(n), TypicalSave(n), kBenchTime)));
    };
    for (int n = 0; n < 30; ++n) add(n);
    SaveImage(rig, thirty);
    std::ofstream(big_archive, std::ios::binary)
        << manager::BuildSaveArchive(kMegabyteSave, MegabyteSave(), kBenchTime);
    rig.AppendSave(big_archive);
    SaveImage(rig, thirty_big);
    for (int n = 30;; ++n) {
      const std::string path = rig.WriteFile(
          "s.psu", manager::BuildSaveArchive(SaveName(n), TypicalSave(n), kBenchTime));
      const auto info = manager::InspectArchive(path);
      if (!info || !rig.mgr.Catalog() || info->clusters > manager::FreeClusters(rig.mgr.Volume()))
        break;
      card::TfileIP root = card::RootDirectory();
      if (!rig.mgr.AppendSaveArchive(path, root)) break;
      full_saves = n + 2;
    }
    SaveImage(rig, full);
  }
};

Cards& TheCards() {
  static Cards cards;
  return cards;
}

// The mean time of copying a file of that many bytes with std::filesystem.
double CopyMs(const TempFolder& dir, uint64_t bytes) {
  const std::string from = dir.File("copy-from"), to = dir.File("copy-to");
  std::ofstream(from, std::ios::binary) << std::string(bytes, 'x');
  using Clock = std::chrono::steady_clock;
  int copies = 0;
  const auto start = Clock::now();
  do {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    ++copies;
  } while (copies < 5 || (Clock::now() - start < std::chrono::milliseconds(100) && copies < 1000));
  const double ms =
      std::chrono::duration<double, std::milli>(Clock::now() - start).count() / copies;
  std::filesystem::remove(from);
  std::filesystem::remove(to);
  return ms;
}

// Runs op on a card loaded from image: once to count the card data it moves,
// then under the benchmark's timing, reloading the card before each run
// (outside the timing) when the operation changes it, and running `prepare`
// (outside the timing too) when there is one.
void Measure(benchmark::State& state, const std::string& image, bool changes_card,
             const std::function<bool(Rig&)>& op,
             const std::function<void(Rig&)>& prepare = nullptr) {
  Rig rig(Media::kPS2);
  rig.trace.recording = false;
  LoadImage(rig, image);
  rig.ResetMeters();
  if (prepare) prepare(rig);
  if (!op(rig)) {
    state.SkipWithError("the operation failed");
    return;
  }
  const auto& counted = rig.adapter.counters();
  const uint64_t bytes = (counted.pages_read + counted.pages_written) * 512;

  // The loopback's clock logs every wait; the command line's log starts
  // empty with each command, and so does each run here.
  std::vector<int>().swap(rig.clock.sleeps);
  heap::ResetPeak();
  const size_t base = heap::InUse();
  for (auto _ : state) {
    rig.clock.sleeps.clear();
    if (changes_card || prepare) {
      state.PauseTiming();
      if (changes_card) LoadImage(rig, image);
      if (prepare) prepare(rig);
      state.ResumeTiming();
    }
    if (!op(rig)) {
      state.SkipWithError("the operation failed");
      return;
    }
  }
  // Everything held at the peak (the manager's tables, the cache's buffers,
  // the benchmark's own), and what one run added on top of what was held
  // before it.
  state.counters["heap_peak_MiB"] = static_cast<double>(heap::Peak()) / kMiB;
  state.counters["heap_run_MiB"] = static_cast<double>(heap::Peak() - base) / kMiB;
  state.counters["peak_rss_MiB"] = PeakRssMiB();
  state.counters["card_KiB"] = static_cast<double>(bytes) / 1024.0;
  state.counters["copy_ms"] = CopyMs(rig.dir, bytes);
}

void BM_MountAndCatalogue(benchmark::State& state) {
  Measure(state, TheCards().full, false, [](Rig& rig) { return rig.mgr.Catalog(); });
  state.SetLabel(std::to_string(TheCards().full_saves) + " saves");
}

bool BackupEverySave(Rig& rig, const std::string& folder) {
  std::vector<card::TfileIP> folders;
  rig.mgr.OnAddrootNode = [&](card::TfileIP& x) {
    if (x.Dir && !x.Deleted && !x.IsDotName()) folders.push_back(x);
  };
  const bool catalogued = rig.mgr.Catalog();
  rig.mgr.OnAddrootNode = nullptr;
  bool ok = catalogued && !folders.empty();
  for (size_t i = 0; i < folders.size() && ok; ++i)
    ok = rig.mgr.BackupSaveFolder(folder + "/" + std::to_string(i) + ".psu", folders[i]).done;
  return ok;
}

// Into a folder that holds none of the files yet, as "backup --all DIR" does
// unless told to overwrite: each run starts from an empty folder.
void BM_BackupEverySave(benchmark::State& state) {
  Measure(
      state, TheCards().full, false,
      [](Rig& rig) { return BackupEverySave(rig, rig.dir.File("backups")); },
      [](Rig& rig) {
        std::filesystem::remove_all(rig.dir.File("backups"));
        std::filesystem::create_directory(rig.dir.File("backups"));
      });
}

// Over the files the run before wrote, as "backup --all DIR --overwrite"
// does: each file is replaced whole, by a rename over the old one.
void BM_BackupEverySaveOverwriting(benchmark::State& state) {
  Measure(state, TheCards().full, false, [](Rig& rig) {
    std::filesystem::create_directories(rig.dir.File("replaced"));
    return BackupEverySave(rig, rig.dir.File("replaced"));
  });
}

void BM_Restore1MBSave(benchmark::State& state) {
  Measure(state, TheCards().thirty, true, [](Rig& rig) {
    card::TfileIP root = card::RootDirectory();
    return rig.mgr.Catalog() && rig.mgr.AppendSaveArchive(TheCards().big_archive, root);
  });
}

void BM_Delete1MBSave(benchmark::State& state) {
  Measure(state, TheCards().thirty_big, true, [](Rig& rig) {
    auto folder = manager::FindSave(rig.mgr, kMegabyteSave);
    return folder && rig.mgr.DeleteSaveFolder(*folder);
  });
}

void BM_Mkfs(benchmark::State& state) {
  Measure(state, TheCards().full, true, [](Rig& rig) {
    auto& access = rig.mgr.Access();
    const bool ok = access.OpenCard() && card::FormatFileSystem(access, kBenchTime);
    access.CloseCard();
    return ok;
  });
}

void BM_Check(benchmark::State& state) {
  Measure(state, TheCards().full, false, [](Rig& rig) {
    return rig.mgr.Volume().Mount() && card::CheckFileSystem(rig.mgr.Volume()).Healthy();
  });
}

BENCHMARK(BM_MountAndCatalogue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackupEverySave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackupEverySaveOverwriting)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Restore1MBSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Delete1MBSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mkfs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Check)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace travosk::bench

BENCHMARK_MAIN();
