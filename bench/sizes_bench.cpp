// bench_sizes: PS2 cards of 8 and 64 MB as card image files. A full card is
// converted between its page layouts (528-byte pages with ECC and 512-byte
// ones without), against the system's own copy of the same file; and a card
// image is opened as a card and listed, as the command line's "ls" does,
// with the heap that takes: it must not grow with the card's size.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "bench_rig.h"
#include "common/atomic_file.h"
#include "formats/images.h"
#include "formats/save.h"
#include "heap_meter.h"
#include "manager/cardroom.h"
#include "manager/imagesession.h"
#include "manager/newcard.h"

namespace travosk::bench {
namespace {

constexpr double kMiB = 1024.0 * 1024.0;

std::string Pattern(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 17);
  return s;
}

formats::Ps2Save MakeSave(const std::string& name, const std::string& data) {
  formats::Ps2Save save = formats::MakeSave(name, kBenchTime);
  const auto entry = formats::MakeEntry(card::entry::kModeNewFile,
                                        static_cast<uint32_t>(data.size()), "DATA", kBenchTime);
  formats::AddFile(save, formats::MakeFile(
                             entry, Bytes(reinterpret_cast<const uint8_t*>(data.data()), data.size())));
  return save;
}

// Full cards of 8 and 64 MB with ECC and the same cards without, built once.
struct Cards {
  TempFolder dir;
  std::string work = dir.File("work");
  std::map<int, std::string> ecc, plain;

  Cards() {
    std::filesystem::create_directories(work);
    for (const int mb : {8, 64}) {
      ecc[mb] = dir.File("full" + std::to_string(mb) + ".ps2");
      plain[mb] = dir.File("full" + std::to_string(mb) + ".mc2");
      manager::CreateCardImage(ecc[mb], formats::ImageFormat::kPs2Raw, mb);
      manager::ImageSessionOptions opening;
      opening.card = ecc[mb];
      opening.work_folder = work;
      manager::ImageSession session(opening);
      auto& m = session.Manager();
      if (!m.Catalog()) throw std::runtime_error("the new card does not mount");
      // 1 MB saves until the card is full, then saves of a few KB.
      for (int n = 0;; ++n) {
        const size_t size = manager::FreeClusters(m.Volume()) > 1100 ? (1u << 20) : 3000;
        if (manager::FreeClusters(m.Volume()) < 8) break;
        card::TfileIP target;
        if (!m.AppendSave(MakeSave("BASLUS-2" + std::to_string(10000 + n) + "F",
                                   Pattern(size, n)),
                          target))
          break;
      }
      AtomicFile out(plain[mb]);
      formats::ConvertPs2ImageFile(ecc[mb], *formats::IdentifyPs2CardImageFile(ecc[mb]),
                                   formats::ImageFormat::kPs2NoEcc, out.stream());
      out.Commit();
    }
  }
};

Cards& TheCards() {
  static Cards cards;
  return cards;
}

double CopyMs(const std::string& from, const std::string& to) {
  using Clock = std::chrono::steady_clock;
  int copies = 0;
  const auto start = Clock::now();
  do {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    ++copies;
  } while (copies < 3 || (Clock::now() - start < std::chrono::milliseconds(300) && copies < 50));
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / copies;
  std::filesystem::remove(to);
  return ms;
}

// arg 0: 8 or 64 MB; arg 1: 1 from ECC to none, 0 the other way.
void BM_ConvertFullCard(benchmark::State& state) {
  const int mb = static_cast<int>(state.range(0));
  const bool to_plain = state.range(1) != 0;
  Cards& cards = TheCards();
  const std::string from = to_plain ? cards.ecc[mb] : cards.plain[mb];
  const std::string to = cards.dir.File(to_plain ? "out.mc2" : "out.ps2");
  const auto kind = formats::IdentifyPs2CardImageFile(from);
  const auto target = to_plain ? formats::ImageFormat::kPs2NoEcc : formats::ImageFormat::kPs2Raw;
  heap::ResetPeak();
  const size_t base = heap::InUse();
  for (auto _ : state) {
    AtomicFile out(to);
    formats::ConvertPs2ImageFile(from, *kind, target, out.stream());
    out.Commit();
  }
  state.counters["heap_run_MiB"] = static_cast<double>(heap::Peak() - base) / kMiB;
  state.counters["copy_ms"] = CopyMs(from, cards.dir.File("copy"));
  state.SetLabel(std::to_string(mb) + " MB, " + (to_plain ? "ECC to none" : "none to ECC"));
  std::filesystem::remove(to);
}

// arg 0: 8 or 64 MB; arg 1: 1 the ECC-less image, 0 the one with ECC.
void BM_OpenAndList(benchmark::State& state) {
  const int mb = static_cast<int>(state.range(0));
  const bool plain = state.range(1) != 0;
  Cards& cards = TheCards();
  const std::string image = plain ? cards.plain[mb] : cards.ecc[mb];
  heap::ResetPeak();
  const size_t base = heap::InUse();
  size_t saves = 0;
  for (auto _ : state) {
    manager::ImageSessionOptions opening;
    opening.card = image;
    opening.card_unwritten = true;
    opening.work_folder = cards.work;
    manager::ImageSession session(opening);
    auto& m = session.Manager();
    saves = 0;
    m.OnAddrootNode = [&](card::TfileIP& x) { saves += x.Dir && !x.IsDotName(); };
    if (!m.Catalog()) {
      state.SkipWithError("the card does not list");
      return;
    }
    benchmark::DoNotOptimize(manager::FreeBytes(m.Volume()));
  }
  state.counters["heap_run_MiB"] = static_cast<double>(heap::Peak() - base) / kMiB;
  state.SetLabel(std::to_string(mb) + " MB, " + (plain ? "no ECC" : "ECC") + ", " +
                 std::to_string(saves) + " saves");
}

BENCHMARK(BM_ConvertFullCard)
    ->Args({8, 1})
    ->Args({64, 1})
    ->Args({64, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenAndList)
    ->Args({8, 0})
    ->Args({64, 0})
    ->Args({64, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace travosk::bench

BENCHMARK_MAIN();
