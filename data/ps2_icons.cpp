// The 3D icons of the demo PS2 saves: small models built here from boxes,
// a pyramid, a cylinder and a gem, with textures painted texel by texel, and
// written in the real icon file layout (some textures compressed, some
// animated through several shapes).
#include <algorithm>
#include <cmath>
#include <functional>

#include "formats/ps2icon.h"
#include "mkdata.h"

namespace travosk::mkdata {

namespace {

using formats::IconColour;
using formats::IconPoint;
using formats::PS2Icon;

constexpr double kPi = 3.14159265358979323846;

struct Vec {
  double x = 0, y = 0, z = 0;
};
Vec operator-(Vec a, Vec b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec Cross(Vec a, Vec b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Model space: x right, y down, z away from the viewer; 1.0 is 4096.
int16_t Fixed(double v) {
  return static_cast<int16_t>(std::lround(std::clamp(v, -7.9, 7.9) * 4096));
}

// Turns a point about the vertical axis (yaw) and then about x (pitch).
Vec Turn(Vec v, double yaw, double pitch) {
  const Vec a{v.x * std::cos(yaw) - v.z * std::sin(yaw), v.y,
              v.x * std::sin(yaw) + v.z * std::cos(yaw)};
  return {a.x, a.y * std::cos(pitch) - a.z * std::sin(pitch),
          a.y * std::sin(pitch) + a.z * std::cos(pitch)};
}

uint16_t Colour15(int r, int g, int b) {
  return static_cast<uint16_t>(0x8000 | (r >> 3) | ((g >> 3) << 5) | ((b >> 3) << 10));
}

// Triangles with one normal, texture position and colour per corner; each
// animation shape moves the corners through its own function.
class MeshBuilder {
 public:
  using Pose = std::function<Vec(Vec)>;
  explicit MeshBuilder(std::vector<Pose> poses) : poses_(std::move(poses)) {}

  void Triangle(const std::array<Vec, 3>& p, const std::array<std::array<double, 2>, 3>& uv,
                const std::array<IconColour, 3>& colour) {
    // The face's normal, pointing out of a counter-clockwise (seen from the
    // viewer) face, in the first shape's pose.
    const Vec q0 = poses_[0](p[0]), q1 = poses_[0](p[1]), q2 = poses_[0](p[2]);
    Vec n = Cross(q1 - q0, q2 - q0);
    const double len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    if (len > 0) n = {n.x / len, n.y / len, n.z / len};
    for (int k = 0; k < 3; ++k) {
      corners_.push_back({p[k], uv[k], colour[k], n});
    }
  }
  void Quad(Vec a, Vec b, Vec c, Vec d, IconColour colour,
            std::array<double, 4> uv = {0, 0, 1, 1}) {
    Triangle({a, b, c}, {{{uv[0], uv[1]}, {uv[2], uv[1]}, {uv[2], uv[3]}}},
             {colour, colour, colour});
    Triangle({a, c, d}, {{{uv[0], uv[1]}, {uv[2], uv[3]}, {uv[0], uv[3]}}},
             {colour, colour, colour});
  }
  // A box centred on the origin; the front face (facing the viewer) carries
  // the whole texture, the others its top-left texel's colour band.
  void Box(double w, double h, double d, IconColour colour, std::array<double, 4> side_uv) {
    const double x = w / 2, y = h / 2, z = d / 2;
    Quad({-x, -y, -z}, {x, -y, -z}, {x, y, -z}, {-x, y, -z}, colour);           // front
    Quad({x, -y, z}, {-x, -y, z}, {-x, y, z}, {x, y, z}, colour, side_uv);      // back
    Quad({x, -y, -z}, {x, -y, z}, {x, y, z}, {x, y, -z}, colour, side_uv);      // right
    Quad({-x, -y, z}, {-x, -y, -z}, {-x, y, -z}, {-x, y, z}, colour, side_uv);  // left
    Quad({-x, -y, z}, {x, -y, z}, {x, -y, -z}, {-x, -y, -z}, colour, side_uv);  // top
    Quad({-x, y, -z}, {x, y, -z}, {x, y, z}, {-x, y, z}, colour, side_uv);      // bottom
  }

  PS2Icon Build(std::vector<uint16_t> texture, bool compressed, uint32_t frame_length) const {
    PS2Icon icon;
    icon.shapes = static_cast<uint32_t>(poses_.size());
    icon.texture_type = compressed ? 0x0F : 0x07;
    icon.vertex_count = static_cast<uint32_t>(corners_.size());
    for (const auto& pose : poses_)
      for (const auto& c : corners_) {
        const Vec p = pose(c.p);
        icon.positions.push_back({Fixed(p.x), Fixed(p.y), Fixed(p.z), 0});
      }
    for (const auto& c : corners_) {
      icon.normals.push_back({Fixed(c.n.x), Fixed(c.n.y), Fixed(c.n.z), 0});
      icon.uvs.push_back({Fixed(c.uv[0]), Fixed(c.uv[1])});
      icon.colours.push_back(c.colour);
    }
    icon.frame_length = frame_length;
    // Each shape's weight rises to 1 at its turn of the loop and falls back.
    const float step = static_cast<float>(frame_length) / icon.shapes;
    for (uint32_t s = 0; s < icon.shapes; ++s)
      icon.frames.push_back(
          {s, {{step * (s - 1.0f), 0.0f}, {step * s, 1.0f}, {step * (s + 1.0f), 0.0f}}});
    icon.texture = std::move(texture);
    return icon;
  }

 private:
  struct Corner {
    Vec p;
    std::array<double, 2> uv;
    IconColour colour;
    Vec n;
  };
  std::vector<Pose> poses_;
  std::vector<Corner> corners_;
};

using Texture = std::vector<uint16_t>;

Texture Paint(const std::function<uint16_t(int x, int y)>& texel) {
  Texture t(formats::kIconTexels);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) t[static_cast<size_t>(y) * 128 + x] = texel(x, y);
  return t;
}

bool Inside(int x, int y, int x0, int y0, int x1, int y1) {
  return x >= x0 && x < x1 && y >= y0 && y < y1;
}

// A memory card seen from the front: dark body, a coloured label with a
// white band, gold contacts along the bottom edge.
Texture CardFace(int r, int g, int b) {
  return Paint([=](int x, int y) {
    if (Inside(x, y, 16, 12, 112, 72)) {
      if (Inside(x, y, 24, 34, 104, 48)) return Colour15(240, 240, 240);
      return Colour15(r, g, b);
    }
    if (y >= 100 && y < 120 && x >= 16 && x < 112 && (x - 16) % 16 < 11)
      return Colour15(220, 180, 40);
    return Colour15(56, 56, 64);
  });
}

const IconColour kFull{0x80, 0x80, 0x80, 0x80};
const std::array<double, 4> kBodyTexel = {0.02, 0.9, 0.05, 0.95};  // the card body's grey

// TRAVOSK demo: a memory card, turned to show its side.
PS2Icon Card(int r, int g, int b) {
  MeshBuilder m({[](Vec v) { return Turn(v, 0.45, -0.25); }});
  m.Box(1.6, 2.0, 0.3, kFull, kBodyTexel);
  return m.Build(CardFace(r, g, b), false, 1);
}

// A cube in a checker of two colours, its texture compressed; it rocks
// from side to side over four shapes.
PS2Icon CheckerCube() {
  std::vector<MeshBuilder::Pose> poses;
  for (double yaw : {0.3, 0.55, 0.8, 0.55})
    poses.push_back([yaw](Vec v) { return Turn(v, yaw, -0.45); });
  MeshBuilder m(poses);
  m.Box(1.4, 1.4, 1.4, kFull, {0, 0, 1, 1});
  return m.Build(Paint([](int x, int y) {
                   return ((x / 32 + y / 32) % 2) ? Colour15(240, 120, 40)
                                                  : Colour15(250, 240, 220);
                 }),
                 true, 60);
}

// A pyramid with a colour in each corner that bounces: up, squashed, up.
PS2Icon BouncingPyramid() {
  auto pose = [](double lift, double squash) {
    return [=](Vec v) {
      const double y = (v.y + 0.6) * squash - 0.6 - lift;  // base stays on the ground
      return Turn({v.x * (2 - squash), y, v.z * (2 - squash)}, 0.6, -0.35);
    };
  };
  MeshBuilder m({pose(0.5, 1.0), pose(0.0, 0.7), pose(0.5, 1.0), pose(0.8, 1.1)});
  const Vec apex{0, -1.0, 0}, a{-0.8, 0.6, -0.8}, b{0.8, 0.6, -0.8}, c{0.8, 0.6, 0.8},
      d{-0.8, 0.6, 0.8};
  const IconColour red{0x80, 0x20, 0x20, 0x80}, yellow{0x80, 0x78, 0x10, 0x80},
      green{0x20, 0x80, 0x30, 0x80}, blue{0x20, 0x40, 0x80, 0x80}, top{0x80, 0x80, 0x80, 0x80};
  const std::array<std::array<double, 2>, 3> uv{{{0.5, 0}, {0, 1}, {1, 1}}};
  m.Triangle({apex, a, b}, uv, {top, red, yellow});
  m.Triangle({apex, b, c}, uv, {top, yellow, green});
  m.Triangle({apex, c, d}, uv, {top, green, blue});
  m.Triangle({apex, d, a}, uv, {top, blue, red});
  m.Quad(a, d, c, b, kFull);
  return m.Build(Paint([](int, int) { return Colour15(255, 255, 255); }), false, 48);
}

// A barrel of sixteen staves with hoops, tipped towards the viewer.
PS2Icon Barrel() {
  MeshBuilder m({[](Vec v) { return Turn(v, 0.2, -0.5); }});
  constexpr int kStaves = 16;
  for (int i = 0; i < kStaves; ++i) {
    const double a0 = 2 * kPi * i / kStaves, a1 = 2 * kPi * (i + 1) / kStaves;
    const Vec p0{std::cos(a0), -1.1, std::sin(a0)}, p1{std::cos(a1), -1.1, std::sin(a1)};
    const Vec q0{p0.x, 1.1, p0.z}, q1{p1.x, 1.1, p1.z};
    const double u0 = static_cast<double>(i) / kStaves, u1 = static_cast<double>(i + 1) / kStaves;
    m.Quad(p1, p0, q0, q1, kFull, {u1, 0, u0, 1});
    m.Triangle({Vec{0, -1.1, 0}, p0, p1}, {{{0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}}},
               {kFull, kFull, kFull});
  }
  return m.Build(Paint([](int x, int y) {
                   if ((y >= 20 && y < 30) || (y >= 98 && y < 108)) return Colour15(90, 90, 100);
                   const int wood = 150 + ((x % 8) < 1 ? -40 : 0) + (y * 7 % 13);
                   return Colour15(wood, wood * 3 / 5, wood / 3);
                 }),
                 true, 1);
}

// A gem that spins and bobs over four shapes.
PS2Icon Gem() {
  std::vector<MeshBuilder::Pose> poses;
  for (int s = 0; s < 4; ++s)
    poses.push_back([s](Vec v) {
      Vec t = Turn(v, kPi / 8 * s, -0.2);
      t.y += 0.15 * std::sin(kPi / 2 * s);
      return t;
    });
  MeshBuilder m(poses);
  constexpr int kSides = 6;
  const IconColour light{0x60, 0x80, 0x80, 0x80}, deep{0x20, 0x50, 0x80, 0x80};
  for (int i = 0; i < kSides; ++i) {
    const double a0 = 2 * kPi * i / kSides, a1 = 2 * kPi * (i + 1) / kSides;
    const Vec r0{std::cos(a0), 0, std::sin(a0)}, r1{std::cos(a1), 0, std::sin(a1)};
    const std::array<std::array<double, 2>, 3> uv{{{0.5, 0.0}, {0.0, 1.0}, {1.0, 1.0}}};
    m.Triangle({Vec{0, -1.0, 0}, r1, r0}, uv, {light, light, deep});
    m.Triangle({Vec{0, 1.3, 0}, r0, r1}, uv, {deep, deep, light});
  }
  return m.Build(Paint([](int x, int y) {
                   const int glint = (x + y) % 32 < 4 ? 255 : 200;
                   return Colour15(glint, glint, 255);
                 }),
                 true, 80);
}

}  // namespace

std::string DemoIcon(DemoIconArt art) {
  PS2Icon icon;
  switch (art) {
    case DemoIconArt::kCard:
      icon = Card(40, 90, 200);
      break;
    case DemoIconArt::kCube:
      icon = CheckerCube();
      break;
    case DemoIconArt::kPyramid:
      icon = BouncingPyramid();
      break;
    case DemoIconArt::kBarrel:
      icon = Barrel();
      break;
    case DemoIconArt::kGem:
      icon = Gem();
      break;
    case DemoIconArt::kSmartCard:
      icon = Card(30, 160, 90);
      break;
  }
  const std::vector<uint8_t> bytes = formats::WritePS2Icon(icon);
  return {bytes.begin(), bytes.end()};
}

}  // namespace travosk::mkdata
