// bench_icons: what drawing PS2 save icons costs on the PC: one 32 × 32 list
// picture, a 256 × 256 preview frame, and the list pictures of a full card
// (101 saves with the same animated model, eight pictures each, as the
// window makes them after a catalogue), plus reading one icon file.
#include <benchmark/benchmark.h>

#include <cmath>
#include <stdexcept>

#include "formats/ps2icon.h"
#include "manager/iconrender.h"

namespace travosk::bench {
namespace {

using formats::IconPoint;
using formats::PS2Icon;

constexpr int kFullCardSaves = 101;
constexpr int kListFrames = 8;

// A model of the size real icons have: a ball of 24 × 12 quads (1,728
// vertices), four animation shapes that squash it in turn, a compressed
// texture of stripes.
PS2Icon Ball() {
  PS2Icon icon;
  icon.shapes = 4;
  icon.texture_type = 0x0F;
  constexpr int kAround = 24, kDown = 12;
  std::vector<std::array<double, 5>> corners;  // x, y, z, u, v
  auto at = [](int i, int j) {
    const double a = 2 * M_PI * i / kAround, b = M_PI * j / kDown;
    return std::array<double, 5>{std::sin(b) * std::cos(a), -std::cos(b), std::sin(b) * std::sin(a),
                                 double(i) / kAround, double(j) / kDown};
  };
  for (int i = 0; i < kAround; ++i)
    for (int j = 0; j < kDown; ++j)
      for (auto [di, dj] : {std::pair{0, 0}, {1, 0}, {1, 1}, {0, 0}, {1, 1}, {0, 1}})
        corners.push_back(at(i + di, j + dj));
  icon.vertex_count = static_cast<uint32_t>(corners.size());
  auto fixed = [](double v) { return static_cast<int16_t>(std::lround(v * 4096)); };
  for (uint32_t s = 0; s < icon.shapes; ++s)
    for (const auto& c : corners) {
      const double squash = 1.0 - 0.1 * s;
      icon.positions.push_back({fixed(c[0] / squash), fixed(c[1] * squash), fixed(c[2]), 0});
    }
  for (const auto& c : corners) {
    icon.normals.push_back({fixed(c[0]), fixed(c[1]), fixed(c[2]), 0});
    icon.uvs.push_back({fixed(c[3]), fixed(c[4])});
    icon.colours.push_back({0x80, 0x70, 0x60, 0x80});
  }
  icon.frame_length = 60;
  icon.texture.resize(formats::kIconTexels);
  for (size_t t = 0; t < icon.texture.size(); ++t)
    icon.texture[t] = (t / 128 / 16) % 2 ? 0x7FFF : 0x03FF;
  return icon;
}

formats::IconLook Look() {
  formats::IconLook look = formats::DefaultIconLook();
  look.light_dirs[1] = {0.5f, -0.5f, -1.0f};
  look.light_colours[1] = {0.3f, 0.3f, 0.2f};
  return look;
}

void BM_ListPicture32(benchmark::State& state) {
  const PS2Icon icon = Ball();
  const auto look = Look();
  for (auto _ : state)
    benchmark::DoNotOptimize(manager::RenderIcon(icon, look, {.size = 32, .transparent = true}));
}
BENCHMARK(BM_ListPicture32)->Unit(benchmark::kMillisecond);

void BM_Preview256(benchmark::State& state) {
  const PS2Icon icon = Ball();
  const auto look = Look();
  for (auto _ : state)
    benchmark::DoNotOptimize(
        manager::RenderIcon(icon, look, {.size = 256, .phase = 0.3, .yaw = 0.7}));
}
BENCHMARK(BM_Preview256)->Unit(benchmark::kMillisecond);

// Every picture the list makes for a full card.
void BM_FullCardList(benchmark::State& state) {
  const PS2Icon icon = Ball();
  const auto look = Look();
  for (auto _ : state)
    for (int save = 0; save < kFullCardSaves; ++save)
      for (int k = 0; k < kListFrames; ++k)
        benchmark::DoNotOptimize(manager::RenderIcon(
            icon, look, {.size = 32, .phase = double(k) / kListFrames, .transparent = true}));
}
BENCHMARK(BM_FullCardList)->Unit(benchmark::kMillisecond);

void BM_ReadIconFile(benchmark::State& state) {
  const std::vector<uint8_t> file = formats::WritePS2Icon(Ball());
  std::string error;
  for (auto _ : state) {
    auto icon = formats::ReadPS2Icon(file, error);
    if (!icon) throw std::runtime_error(error);
    benchmark::DoNotOptimize(icon);
  }
  state.counters["file_KiB"] = static_cast<double>(file.size()) / 1024.0;
}
BENCHMARK(BM_ReadIconFile)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace travosk::bench

BENCHMARK_MAIN();
