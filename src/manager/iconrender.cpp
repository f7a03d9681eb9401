#include "manager/iconrender.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace travosk::manager {

using namespace formats;

namespace {

constexpr int kMaxSide = 4096;
constexpr int kMaxLoopFrames = 600;

struct V3 {
  float x = 0, y = 0, z = 0;
};

// A vertex on the (supersampled) screen: position, depth, texture position
// in texels and its shade (vertex colour times the light that reaches it).
struct ScreenVertex {
  float x, y, z, u, v;
  std::array<float, 3> shade;
};

float Fixed(int16_t v) {
  return static_cast<float>(v) / kIconFixedOne;
}

V3 Normalized(V3 v) {
  const float len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  if (!(len > 1e-6f)) return {};
  return {v.x / len, v.y / len, v.z / len};
}

// Pixels sampled per output pixel along each axis: small pictures are drawn
// larger and averaged down, so that a 32 × 32 icon keeps its edges smooth.
int Supersampling(int size) {
  return size <= 64 ? 3 : size <= 512 ? 2 : 1;
}

struct Fit {
  V3 centre;
  float scale = 1;  // screen pixels per model unit
};

// The bounds over every shape, so that the whole loop fits the same frame.
Fit FitToPicture(const PS2Icon& icon, int side, double yaw) {
  V3 lo{std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
        std::numeric_limits<float>::max()};
  V3 hi{-lo.x, -lo.y, -lo.z};
  for (const auto& p : icon.positions) {
    lo = {std::min(lo.x, Fixed(p.x)), std::min(lo.y, Fixed(p.y)), std::min(lo.z, Fixed(p.z))};
    hi = {std::max(hi.x, Fixed(p.x)), std::max(hi.y, Fixed(p.y)), std::max(hi.z, Fixed(p.z))};
  }
  Fit fit;
  fit.centre = {(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
  // A turning model may show its depth sideways: then the reach is measured
  // round the vertical axis.
  float reach = (hi.y - lo.y) / 2;
  if (yaw == 0) {
    reach = std::max(reach, (hi.x - lo.x) / 2);
  } else {
    for (const auto& p : icon.positions)
      reach = std::max(reach, std::hypot(Fixed(p.x) - fit.centre.x, Fixed(p.z) - fit.centre.z));
  }
  reach = std::max(reach, 1e-3f);
  fit.scale = static_cast<float>(side * kIconFill / (2 * reach));
  return fit;
}

class Canvas {
 public:
  Canvas(int side, const IconLook& look, bool transparent)
      : side_(side),
        colour_(static_cast<size_t>(side) * side * 3, 0),
        covered_(static_cast<size_t>(side) * side, 0),
        depth_(static_cast<size_t>(side) * side, std::numeric_limits<float>::infinity()) {
    if (transparent) return;
    for (int y = 0; y < side; ++y) {
      const float fy = (y + 0.5f) / side;
      for (int x = 0; x < side; ++x) {
        const float fx = (x + 0.5f) / side;
        float* c = &colour_[(static_cast<size_t>(y) * side + x) * 3];
        for (int k = 0; k < 3; ++k) {
          const float top =
              look.background[0][k] + (look.background[1][k] - look.background[0][k]) * fx;
          const float bottom =
              look.background[2][k] + (look.background[3][k] - look.background[2][k]) * fx;
          c[k] = top + (bottom - top) * fy;
        }
        covered_[static_cast<size_t>(y) * side + x] = 1;
      }
    }
  }

  void Triangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c,
                const std::vector<uint16_t>& texture) {
    const float area = Edge(a, b, c.x, c.y);
    if (std::fabs(area) < 1e-9f) return;
    const float inv_area = 1.0f / area;
    const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.x, b.x, c.x}))));
    const int x1 = std::min(side_ - 1, static_cast<int>(std::ceil(std::max({a.x, b.x, c.x}))));
    const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.y, b.y, c.y}))));
    const int y1 = std::min(side_ - 1, static_cast<int>(std::ceil(std::max({a.y, b.y, c.y}))));
    for (int y = y0; y <= y1; ++y) {
      const float py = y + 0.5f;
      for (int x = x0; x <= x1; ++x) {
        const float px = x + 0.5f;
        const float la = Edge(b, c, px, py) * inv_area;
        const float lb = Edge(c, a, px, py) * inv_area;
        const float lc = Edge(a, b, px, py) * inv_area;
        if (la < 0 || lb < 0 || lc < 0) continue;
        const size_t at = static_cast<size_t>(y) * side_ + x;
        const float z = la * a.z + lb * b.z + lc * c.z;
        if (z >= depth_[at]) continue;
        depth_[at] = z;
        covered_[at] = 1;
        const int tu = static_cast<int>(std::floor(la * a.u + lb * b.u + lc * c.u)) & 127;
        const int tv = static_cast<int>(std::floor(la * a.v + lb * b.v + lc * c.v)) & 127;
        const uint16_t texel = texture[static_cast<size_t>(tv) * kIconTextureSide + tu];
        const float tex[3] = {static_cast<float>(texel & 0x1F) / 31.0f,
                              static_cast<float>((texel >> 5) & 0x1F) / 31.0f,
                              static_cast<float>((texel >> 10) & 0x1F) / 31.0f};
        for (int k = 0; k < 3; ++k) {
          const float shade = la * a.shade[k] + lb * b.shade[k] + lc * c.shade[k];
          colour_[at * 3 + k] = std::clamp(tex[k] * shade, 0.0f, 1.0f) * 255.0f;
        }
      }
    }
  }

  // Averages each n × n block into one pixel of the result.
  RgbaImage Reduce(int n) const {
    RgbaImage out;
    out.width = out.height = side_ / n;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * 4);
    for (int y = 0; y < out.height; ++y) {
      for (int x = 0; x < out.width; ++x) {
        float sum[3] = {0, 0, 0};
        int count = 0;
        for (int sy = 0; sy < n; ++sy) {
          for (int sx = 0; sx < n; ++sx) {
            const size_t at = static_cast<size_t>(y * n + sy) * side_ + (x * n + sx);
            if (!covered_[at]) continue;
            ++count;
            for (int k = 0; k < 3; ++k) sum[k] += colour_[at * 3 + k];
          }
        }
        uint8_t* p = &out.pixels[(static_cast<size_t>(y) * out.width + x) * 4];
        for (int k = 0; k < 3; ++k)
          p[k] = count ? static_cast<uint8_t>(std::lround(sum[k] / count)) : 0;
        p[3] = static_cast<uint8_t>(std::lround(255.0 * count / (n * n)));
      }
    }
    return out;
  }

 private:
  static float Edge(const ScreenVertex& a, const ScreenVertex& b, float px, float py) {
    return (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
  }

  int side_;
  std::vector<float> colour_;
  std::vector<uint8_t> covered_;
  std::vector<float> depth_;
};

// The lights of a look, their directions made unit length once per picture.
struct Lights {
  std::array<V3, 3> dirs;
  const IconLook& look;
};

Lights PrepareLights(const IconLook& look) {
  Lights lights{{}, look};
  for (size_t i = 0; i < 3; ++i)
    lights.dirs[i] =
        Normalized({look.light_dirs[i][0], look.light_dirs[i][1], look.light_dirs[i][2]});
  return lights;
}

// Light that reaches a surface facing `normal`: ambient plus each light's
// colour by how squarely it meets the surface.
std::array<float, 3> Light(const Lights& lights, V3 normal) {
  std::array<float, 3> lit = lights.look.ambient;
  for (size_t i = 0; i < 3; ++i) {
    const V3& dir = lights.dirs[i];
    const float facing = std::max(0.0f, normal.x * dir.x + normal.y * dir.y + normal.z * dir.z);
    for (int k = 0; k < 3; ++k) lit[k] += lights.look.light_colours[i][k] * facing;
  }
  for (float& l : lit) l = std::max(0.0f, l);
  return lit;
}

}  // namespace

int IconLoopFrames(const PS2Icon& icon) {
  if (icon.shapes < 2) return 1;
  const uint32_t length = icon.frame_length ? icon.frame_length : icon.shapes;
  return static_cast<int>(std::min<uint32_t>(length, kMaxLoopFrames));
}

double IconFramePhase(const PS2Icon& icon, long long k) {
  const long long n = IconLoopFrames(icon);
  return static_cast<double>(((k % n) + n) % n) / static_cast<double>(n);
}

RgbaImage RenderIcon(const PS2Icon& icon, const IconLook& look, const IconView& view) {
  const int size = std::clamp(view.size, 1, kMaxSide);
  const int n = Supersampling(size);
  const int side = size * n;
  Canvas canvas(side, look, view.transparent);
  if (icon.vertex_count == 0 || icon.texture.size() != kIconTexels ||
      icon.positions.size() != static_cast<size_t>(icon.shapes) * icon.vertex_count)
    return canvas.Reduce(n);

  // The animation visits its shapes in turn over one loop, blending each
  // into the next.
  double phase = view.phase - std::floor(view.phase);
  if (!std::isfinite(phase)) phase = 0;
  const double place = phase * icon.shapes;
  const uint32_t from = std::min(static_cast<uint32_t>(place), icon.shapes - 1);
  const uint32_t to = (from + 1) % icon.shapes;
  const float blend = static_cast<float>(place - from);

  const Fit fit = FitToPicture(icon, side, view.yaw);
  const float cy = static_cast<float>(std::cos(view.yaw)),
              sy = static_cast<float>(std::sin(view.yaw));
  auto turn = [&](V3 v) { return V3{v.x * cy - v.z * sy, v.y, v.x * sy + v.z * cy}; };

  const Lights lights = PrepareLights(look);
  std::vector<ScreenVertex> screen(icon.vertex_count);
  for (uint32_t v = 0; v < icon.vertex_count; ++v) {
    const IconPoint& p = icon.Position(from, v);
    const IconPoint& q = icon.Position(to, v);
    auto mix = [&](int16_t a, int16_t b) { return Fixed(a) + (Fixed(b) - Fixed(a)) * blend; };
    const V3 at = turn(
        {mix(p.x, q.x) - fit.centre.x, mix(p.y, q.y) - fit.centre.y, mix(p.z, q.z) - fit.centre.z});
    const IconPoint& nr = icon.normals[v];
    V3 normal = Normalized(turn({Fixed(nr.x), Fixed(nr.y), Fixed(nr.z)}));
    if (normal.x == 0 && normal.y == 0 && normal.z == 0) normal = {0, 0, -1};  // faces the viewer
    const std::array<float, 3> lit = Light(lights, normal);
    const IconColour& c = icon.colours[v];
    ScreenVertex& s = screen[v];
    s.x = side / 2.0f + at.x * fit.scale;
    s.y = side / 2.0f + at.y * fit.scale;
    s.z = at.z;
    s.u = Fixed(icon.uvs[v].u) * kIconTextureSide;
    s.v = Fixed(icon.uvs[v].v) * kIconTextureSide;
    s.shade = {lit[0] * c.r / 128.0f, lit[1] * c.g / 128.0f, lit[2] * c.b / 128.0f};
  }
  for (size_t t = 0; t + 2 < screen.size(); t += 3)
    canvas.Triangle(screen[t], screen[t + 1], screen[t + 2], icon.texture);
  return canvas.Reduce(n);
}

RgbaImage ScaleNearest(const RgbaImage& image, int size) {
  RgbaImage out;
  out.width = out.height = std::clamp(size, 1, kMaxSide);
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * 4);
  if (image.width <= 0 || image.height <= 0) return out;
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      const uint8_t* from = image.At(x * image.width / out.width, y * image.height / out.height);
      std::copy_n(from, 4, &out.pixels[(static_cast<size_t>(y) * out.width + x) * 4]);
    }
  }
  return out;
}

}  // namespace travosk::manager
