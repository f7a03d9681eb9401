// A driver for a fuzz target without libFuzzer, for the test suite's smoke
// runs: every file of the seed corpus goes through the target, then a few
// hundred variations of them made with a fixed seed, so every run feeds the
// same inputs. Usage: <program> CORPUS_DIR [VARIATIONS]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Input = std::vector<uint8_t>;

std::vector<Input> LoadCorpus(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<Input> inputs;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return inputs;
}

// The values that damaged tables and headers are made of.
constexpr uint32_t kInteresting[] = {0,          1,          2,          0x7F,       0x80,
                                     0xFF,       0x100,      0x3FF,      0x400,      0xFFFF,
                                     0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFE, 0xFFFFFFFF};

Input Vary(Input in, std::mt19937& rng) {
  auto pick = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  const size_t edits = 1 + pick(8);
  for (size_t k = 0; k < edits; ++k) {
    if (in.empty()) in.push_back(0);
    const size_t at = pick(in.size());
    switch (pick(6)) {
      case 0:
        in[at] ^= static_cast<uint8_t>(1u << pick(8));
        break;
      case 1:
        in[at] = static_cast<uint8_t>(kInteresting[pick(std::size(kInteresting))]);
        break;
      case 2: {
        const uint32_t v = kInteresting[pick(std::size(kInteresting))];
        for (size_t i = 0; i < 4 && at + i < in.size(); ++i)
          in[at + i] = static_cast<uint8_t>(v >> (8 * i));
        break;
      }
      case 3:
        in.insert(in.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(pick(256)));
        break;
      case 4:
        in.erase(in.begin() + static_cast<std::ptrdiff_t>(at));
        break;
      case 5:
        in.resize(at);
        break;
    }
  }
  return in;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [VARIATIONS]\n", argv[0]);
    return 2;
  }
  const std::vector<Input> corpus = LoadCorpus(argv[1]);
  if (corpus.empty()) {
    std::fprintf(stderr, "%s: no seed inputs in %s\n", argv[0], argv[1]);
    return 1;
  }
  const long variations = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 300;
  for (const Input& in : corpus) LLVMFuzzerTestOneInput(in.data(), in.size());
  std::mt19937 rng(20240101);
  for (long i = 0; i < variations; ++i) {
    const Input varied =
        Vary(corpus[std::uniform_int_distribution<size_t>(0, corpus.size() - 1)(rng)], rng);
    LLVMFuzzerTestOneInput(varied.data(), varied.size());
  }
  std::printf("%zu seeds and %ld variations ran\n", corpus.size(), variations);
  return 0;
}
