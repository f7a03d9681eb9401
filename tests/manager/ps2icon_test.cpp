#include "formats/ps2icon.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "manager/iconrender.h"
#include "manager/saveicon.h"

namespace travosk::manager {
namespace {

using namespace formats;

constexpr int16_t kOne = 4096;  // 1.0 in the model's fixed point
constexpr uint16_t kRed = 0x001F, kGreen = 0x03E0, kBlue = 0x7C00, kWhite = 0x7FFF;

IconPoint P(int16_t x, int16_t y, int16_t z = 0) {
  return {x, y, z, 0};
}

// A model of single-shape triangles facing the viewer, full-strength white
// vertices, and a texture of one colour.
PS2Icon Model(const std::vector<IconPoint>& points, uint16_t texel = kWhite) {
  PS2Icon icon;
  icon.vertex_count = static_cast<uint32_t>(points.size());
  icon.positions = points;
  icon.normals.assign(points.size(), P(0, 0, -kOne));
  icon.uvs.assign(points.size(), IconUV{});
  icon.colours.assign(points.size(), IconColour{});
  icon.frames = {{0, {{0.0f, 1.0f}}}};
  icon.texture.assign(kIconTexels, texel);
  return icon;
}

IconLook Unlit(float ambient = 1.0f) {
  IconLook look{};
  look.ambient = {ambient, ambient, ambient};
  return look;
}

void ExpectPixel(const RgbaImage& image, int x, int y, std::array<int, 4> want) {
  const uint8_t* p = image.At(x, y);
  for (int k = 0; k < 4; ++k)
    EXPECT_NEAR(p[k], want[k], 2) << "pixel (" << x << ", " << y << ") channel " << k;
}

// A quad over the square ±1, its texture in four coloured quarters; with the
// square filling 90% of a 64-pixel picture each quarter's middle shows its
// colour unchanged under a full ambient light.
TEST(IconRender, TexturedQuadShowsItsTextureQuarters) {
  PS2Icon icon = Model({P(-kOne, -kOne), P(kOne, -kOne), P(kOne, kOne),  //
                        P(-kOne, -kOne), P(kOne, kOne), P(-kOne, kOne)});
  const IconUV uv[6] = {{0, 0}, {kOne, 0}, {kOne, kOne}, {0, 0}, {kOne, kOne}, {0, kOne}};
  icon.uvs.assign(uv, uv + 6);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x)
      icon.texture[y * 128 + x] = y < 64 ? (x < 64 ? kRed : kGreen) : (x < 64 ? kBlue : kWhite);

  for (uint32_t type : {0x07u, 0x0Fu}) {  // raw, then compressed on the way through the file
    icon.texture_type = type;
    std::string error;
    const auto read = ReadPS2Icon(WritePS2Icon(icon), error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->texture, icon.texture);
    const RgbaImage image = RenderIcon(*read, Unlit(), {.size = 64, .transparent = true});
    ASSERT_EQ(image.width, 64);
    ExpectPixel(image, 16, 16, {255, 0, 0, 255});
    ExpectPixel(image, 48, 16, {0, 255, 0, 255});
    ExpectPixel(image, 16, 48, {0, 0, 255, 255});
    ExpectPixel(image, 48, 48, {255, 255, 255, 255});
    ExpectPixel(image, 1, 1, {0, 0, 0, 0});  // outside the square: nothing
  }
}

// Vertex colour (0x80, 0x40, 0) is full red and half green; a light of 0.5
// straight from the viewer plus an ambient of 0.25 gives 0.75 of that. Lit
// from behind only the ambient remains. A triangle behind it, drawn later,
// stays hidden, and the background runs from its top to its bottom colour.
TEST(IconRender, ColouredTriangleUnderAKnownLight) {
  PS2Icon icon = Model({P(0, -kOne), P(kOne, kOne), P(-kOne, kOne),  // near
                        P(0, -kOne, kOne / 2), P(kOne, kOne, kOne / 2), P(-kOne, kOne, kOne / 2)});
  for (int v = 0; v < 3; ++v) icon.colours[v] = {0x80, 0x40, 0x00, 0x80};
  for (int v = 3; v < 6; ++v) icon.colours[v] = {0x00, 0x00, 0x80, 0x80};
  IconLook look = Unlit(0.25f);
  look.light_colours[0] = {0.5f, 0.5f, 0.5f};
  look.light_dirs[0] = {0, 0, -2};  // towards the viewer; its length does not matter
  look.background = {{{0, 0, 200}, {0, 0, 200}, {100, 0, 0}, {100, 0, 0}}};

  const RgbaImage lit = RenderIcon(icon, look, {.size = 40});
  ExpectPixel(lit, 20, 24, {191, 96, 0, 255});
  ExpectPixel(lit, 0, 0, {1, 0, 197, 255});
  ExpectPixel(lit, 39, 39, {99, 0, 3, 255});

  look.light_dirs[0] = {0, 0, 1};
  const RgbaImage behind = RenderIcon(icon, look, {.size = 40});
  ExpectPixel(behind, 20, 24, {64, 32, 0, 255});
}

// Two shapes: the triangle sits left in the first and right in the second.
// The loop blends from one to the other and back.
TEST(IconRender, AnimationBlendsBetweenShapes) {
  PS2Icon icon = Model({P(-kOne, -kOne), P(0, kOne), P(-kOne, kOne)});
  icon.shapes = 2;
  icon.frame_length = 40;
  for (const IconPoint& p : std::vector<IconPoint>(icon.positions))
    icon.positions.push_back(P(static_cast<int16_t>(p.x + kOne), p.y));
  EXPECT_EQ(IconLoopFrames(icon), 40);
  EXPECT_DOUBLE_EQ(IconFramePhase(icon, 50), 0.25);
  EXPECT_DOUBLE_EQ(IconFramePhase(icon, -10), 0.75);

  auto covered = [&](double phase, int x) {
    return RenderIcon(icon, Unlit(), {.size = 64, .phase = phase, .transparent = true})
               .At(x, 52)[3] > 200;
  };
  EXPECT_TRUE(covered(0.0, 8));  // left
  EXPECT_FALSE(covered(0.0, 48));
  EXPECT_TRUE(covered(0.5, 48));  // right
  EXPECT_FALSE(covered(0.5, 8));
  EXPECT_TRUE(covered(0.25, 32));  // halfway
  EXPECT_FALSE(covered(0.25, 4));
}

std::vector<uint8_t> Triangle() {
  return WritePS2Icon(Model({P(0, -kOne), P(kOne, kOne), P(-kOne, kOne)}));
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  store_le32(b, at, v);
}

// Offsets in the file of Triangle(): 3 vertices of 24 bytes after the header.
constexpr size_t kAnim = 0x14 + 3 * 24;
constexpr size_t kFrame = kAnim + 0x14;
constexpr size_t kTexture = kFrame + 16;

TEST(IconReader, HostileFilesAreRefusedWithAReason) {
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> spoil;
    const char* reason;
  };
  auto compressed = [](std::vector<uint8_t>& b, std::vector<uint16_t> codes) {
    Put32(b, 0x08, 0x0F);
    b.resize(kTexture);
    const size_t at = b.size();
    b.resize(at + 4 + 2 * codes.size());
    Put32(b, at, static_cast<uint32_t>(2 * codes.size()));
    for (size_t i = 0; i < codes.size(); ++i) store_le16(b, at + 4 + 2 * i, codes[i]);
  };
  const std::vector<Case> cases = {
      {"empty", [](auto& b) { b.clear(); }, "needs"},
      {"bad magic", [](auto& b) { b[2] = 2; }, "magic"},
      {"no shapes", [](auto& b) { Put32(b, 0x04, 0); }, "no animation shapes"},
      {"huge shape count", [](auto& b) { Put32(b, 0x04, 0xFFFFFFFF); }, "shapes"},
      {"too few vertices", [](auto& b) { Put32(b, 0x10, 2); }, "no triangle"},
      {"huge vertex count", [](auto& b) { Put32(b, 0x10, 0xFFFFFFFF); }, "vertices"},
      {"vertices past the end", [](auto& b) { Put32(b, 0x10, 2000); }, "the vertices needs"},
      {"frames past the end", [](auto& b) { Put32(b, kAnim + 0x10, 0x10000000); }, "frames"},
      {"frame names a missing shape", [](auto& b) { Put32(b, kFrame, 1); }, "names shape 1 of 1"},
      {"keys past the end", [](auto& b) { Put32(b, kFrame + 4, 0x20000000); }, "keys"},
      {"texture cut short", [](auto& b) { b.resize(b.size() - 1); }, "the texture"},
      {"compressed size past the end",
       [&](auto& b) {
         compressed(b, {16384, kRed});
         Put32(b, kTexture, 1000);
       },
       "compressed texture"},
      {"repeat overruns",
       [&](auto& b) {
         compressed(b, {0x7FFF, kRed, 0x7FFF, kRed});
       },
       "overruns"},
      {"literal overruns",
       [&](auto& b) {
         std::vector<uint16_t> codes = {16383, kRed, 0xFFFE, kRed, kRed};
         compressed(b, codes);
       },
       "overruns"},
      {"literal passes its end",
       [&](auto& b) {
         compressed(b, {0xFFF0, kRed});
       },
       "passes its end"},
      {"texture ends early",
       [&](auto& b) {
         compressed(b, {100, kRed});
       },
       "holds 100 colours"},
  };
  std::string error;
  ASSERT_TRUE(ReadPS2Icon(Triangle(), error)) << error;
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = Triangle();
    c.spoil(bytes);
    error.clear();
    EXPECT_FALSE(ReadPS2Icon(bytes, error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
}

TEST(IconReader, IconSysLookIgnoresNonNumbersAndNamesTheListIcon) {
  std::vector<uint8_t> sys(964, 0);
  Put32(sys, iconsys::kBackground, 999);           // red of the top left corner
  Put32(sys, iconsys::kLightColours, 0x7FC00000);  // NaN
  Put32(sys, iconsys::kAmbient, 0x7F800000);       // infinity
  const char name[] = "list.ico";
  std::copy(name, name + 8, sys.begin() + 0x104);
  const auto look = ReadIconLook(sys);
  ASSERT_TRUE(look);
  EXPECT_EQ(look->background[0][0], 255);
  EXPECT_EQ(look->light_colours[0][0], 0.0f);
  EXPECT_EQ(look->ambient[0], 0.0f);
  EXPECT_EQ(IconFileName(sys, IconKind::kList), "list.ico");
  EXPECT_FALSE(ReadIconLook(Bytes(sys).first(0xBF)));

  std::string error;
  EXPECT_TRUE(ReadSaveIcon(sys, Triangle(), error)) << error;
  EXPECT_FALSE(ReadSaveIcon(Bytes(sys).first(10), Triangle(), error));
  EXPECT_NE(error.find("ICON.SYS"), std::string::npos);
}

}  // namespace
}  // namespace travosk::manager
