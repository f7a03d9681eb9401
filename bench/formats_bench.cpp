// The ".max" format's cost on the PC: compressing and inflating a 1 MB save
// (text-like records, a run of zeros and noise, as real saves mix them).
#include <benchmark/benchmark.h>

#include <random>

#include "formats/lzari.h"
#include "formats/max.h"

namespace {

using travosk::formats::LzariCompress;
using travosk::formats::LzariDecompress;

std::vector<uint8_t> SaveLikeBytes() {
  std::vector<uint8_t> bytes;
  std::mt19937 rng(1);
  while (bytes.size() < (1u << 20)) {
    const std::string record = "PLAYER " + std::to_string(bytes.size() % 977) + " LEVEL 12 ";
    bytes.insert(bytes.end(), record.begin(), record.end());
    if (bytes.size() % 7 == 0) bytes.insert(bytes.end(), 300, 0);
    if (bytes.size() % 11 == 0)
      for (int i = 0; i < 200; ++i) bytes.push_back(static_cast<uint8_t>(rng()));
  }
  bytes.resize(1u << 20);
  return bytes;
}

void BM_MaxCompress1MB(benchmark::State& state) {
  const auto input = SaveLikeBytes();
  size_t packed = 0;
  for (auto _ : state) packed = LzariCompress(input).size();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
  state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(input.size());
}

void BM_MaxDecompress1MB(benchmark::State& state) {
  const auto input = SaveLikeBytes();
  const auto packed = LzariCompress(input);
  for (auto _ : state) benchmark::DoNotOptimize(LzariDecompress(packed, input.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

BENCHMARK(BM_MaxCompress1MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaxDecompress1MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
