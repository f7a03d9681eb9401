// The program's own icon for the desktop: the memory card of the demo save
// (the model drawn in ps2_icons.cpp), rendered by the save icon renderer on
// a transparent background at each size of the hicolor icon theme.
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "cli/png.h"
#include "formats/ps2icon.h"
#include "manager/iconrender.h"
#include "mkdata.h"

namespace travosk::mkdata {
namespace {

// Each picture is drawn this many times larger and averaged down, so that
// the small sizes keep smooth edges instead of the renderer's stair steps.
constexpr int kOversample = 4;

// Averages factor x factor blocks, weighting colour by coverage so that the
// transparent surroundings do not darken the edges.
manager::RgbaImage Shrink(const manager::RgbaImage& big, int factor) {
  manager::RgbaImage out;
  out.width = big.width / factor;
  out.height = big.height / factor;
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * 4);
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) {
      uint64_t sum[4] = {0, 0, 0, 0};
      for (int dy = 0; dy < factor; ++dy)
        for (int dx = 0; dx < factor; ++dx) {
          const uint8_t* p = big.At(x * factor + dx, y * factor + dy);
          for (int c = 0; c < 3; ++c) sum[c] += uint64_t{p[c]} * p[3];
          sum[3] += p[3];
        }
      uint8_t* q = out.pixels.data() + (static_cast<size_t>(y) * out.width + x) * 4;
      for (int c = 0; c < 3; ++c) q[c] = sum[3] ? static_cast<uint8_t>(sum[c] / sum[3]) : 0;
      q[3] = static_cast<uint8_t>(sum[3] / (factor * factor));
    }
  return out;
}

}  // namespace

void WriteAppIcons(const std::string& folder, const std::string& name) {
  const std::string model = DemoIcon(DemoIconArt::kCard);
  std::string error;
  const auto icon = formats::ReadPS2Icon(
      Bytes(reinterpret_cast<const uint8_t*>(model.data()), model.size()), error);
  if (!icon) throw std::runtime_error("the program's icon: " + error);
  formats::IconLook look = formats::DefaultIconLook();
  look.ambient = {0.6f, 0.6f, 0.6f};
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    manager::IconView view;
    view.size = size * kOversample;
    view.transparent = true;
    const std::string side = std::to_string(size);
    const std::filesystem::path dir =
        std::filesystem::path(folder) / "icons/hicolor" / (side + "x" + side) / "apps";
    std::filesystem::create_directories(dir);
    cli::WritePng((dir / (name + ".png")).string(),
                  Shrink(manager::RenderIcon(*icon, look, view), kOversample));
  }
}

}  // namespace travosk::mkdata
