// The hex editor on a 256 MB file: opening it (the working copy) and
// searching it end to end, with the process's peak resident memory, which
// must stay flat however large the file is.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "hexedit/hexeditor.h"

namespace {

constexpr int64_t kFileBytes = 256LL * 1024 * 1024;
constexpr int64_t kChunk = 1024 * 1024;
const QByteArray kNeedle("TRAVOSK-NEEDLE-7");

double PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// A file of pseudo-random bytes with the needle only in its last chunk, so a
// search reads every byte before it finds it.
class LargeFile {
 public:
  LargeFile() : path_(QDir(QDir::tempPath()).filePath(QStringLiteral("travosk-bench-256M.bin"))) {
    QFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    std::vector<char> chunk(static_cast<size_t>(kChunk));
    uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (int64_t written = 0; written < kFileBytes; written += kChunk) {
      for (char& c : chunk) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        c = static_cast<char>(state);
      }
      if (written + kChunk == kFileBytes) {
        std::copy(kNeedle.begin(), kNeedle.end(), chunk.end() - 1000);
      }
      if (file.write(chunk.data(), kChunk) != kChunk) std::abort();
    }
  }
  ~LargeFile() { QFile::remove(path_); }
  const QString& Path() const { return path_; }

 private:
  QString path_;
};

const LargeFile& File() {
  static const LargeFile file;
  return file;
}

void BM_OpenLargeFile(benchmark::State& state) {
  const QString& path = File().Path();
  const double before = PeakRssMiB();
  for (auto _ : state) {
    travosk::THexEditor editor;
    editor.OpenForEditing(path);
    benchmark::DoNotOptimize(editor.ByteAt(kFileBytes - 1));
  }
  state.SetBytesProcessed(state.iterations() * kFileBytes);
  state.counters["peak_rss_MiB"] = PeakRssMiB();
  state.counters["rss_growth_MiB"] = PeakRssMiB() - before;
}
BENCHMARK(BM_OpenLargeFile)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SearchLargeFile(benchmark::State& state) {
  travosk::THexEditor editor;
  editor.OpenForEditing(File().Path());
  const double before = PeakRssMiB();
  int64_t found = -1;
  for (auto _ : state) {
    QByteArray pattern = kNeedle;
    found = editor.FindBytes(pattern, pattern.size(), false, state.range(0) != 0,
                             editor.ByteCount() - 1, 0);
    benchmark::DoNotOptimize(found);
  }
  if (found != kFileBytes - 1000) state.SkipWithError("needle not found where it was put");
  state.SetBytesProcessed(state.iterations() * kFileBytes);
  state.counters["peak_rss_MiB"] = PeakRssMiB();
  state.counters["rss_growth_MiB"] = PeakRssMiB() - before;
}
BENCHMARK(BM_SearchLargeFile)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("ignore_case")
    ->Unit(benchmark::kMillisecond);

// Scattered edits over the large file, then reading across all of them.
void BM_EditsOnLargeFile(benchmark::State& state) {
  travosk::THexEditor editor;
  editor.OpenForEditing(File().Path());
  const double before = PeakRssMiB();
  const uint8_t bytes[4] = {1, 2, 3, 4};
  int64_t at = 12345;
  for (auto _ : state) {
    at = (at * 1103515245 + 12345) % (kFileBytes - 8);
    editor.Select(at, at + 1);
    editor.ReplaceSelectionWith(bytes, 4);
    benchmark::DoNotOptimize(editor.BufferFromFile(at > 4096 ? at - 4096 : 0, 8192));
  }
  state.counters["peak_rss_MiB"] = PeakRssMiB();
  state.counters["rss_growth_MiB"] = PeakRssMiB() - before;
}
BENCHMARK(BM_EditsOnLargeFile)->Iterations(2000);

}  // namespace

int main(int argc, char** argv) {
  // The editor is a widget; no display is needed to measure it.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
