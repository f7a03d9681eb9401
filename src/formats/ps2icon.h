// A PS2 save's own 3D icon: the model file that "ICON.SYS" names (a list of
// triangles, one position per vertex and animation shape, a normal, a
// texture coordinate and a colour; an animation header and its frames; a
// 128 × 128 texture of 16-bit colours, raw or run-length compressed). The
// look that "ICON.SYS" gives it is read in formats/iconsys.h.
// The reader trusts no count or offset of the file: every one is checked
// against the bytes that are there before anything is sized by it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace travosk::formats {

inline constexpr int kIconTextureSide = 128;
inline constexpr size_t kIconTexels = kIconTextureSide * kIconTextureSide;
// Positions, normals and texture coordinates are signed 16-bit fixed point
// with 12 fraction bits; vertex colour 0x80 is full strength.
inline constexpr float kIconFixedOne = 4096.0f;
inline constexpr int kMaxIconShapes = 64;  // real icons use 1 to 8
// Real icons hold a few thousand vertices; the bound keeps a hostile file
// from costing seconds of drawing.
inline constexpr uint32_t kMaxIconVertices = 30000;

// Model file fields.
namespace icofile {
inline constexpr uint32_t kMagic = 0x00010000;
inline constexpr size_t kMagicAt = 0x00;
inline constexpr size_t kShapes = 0x04;        // u32: animation shapes
inline constexpr size_t kTextureType = 0x08;   // u32: bit 3 set = compressed
inline constexpr size_t kUnknown = 0x0C;       // float, 1.0 in real files
inline constexpr size_t kVertexCount = 0x10;   // u32
inline constexpr size_t kHeaderBytes = 0x14;   // vertices follow
inline constexpr uint32_t kCompressed = 0x08;  // texture type bit
// Animation header, after the vertices.
inline constexpr size_t kAnimTag = 0x00;          // u32, 1
inline constexpr size_t kAnimFrameLength = 0x04;  // u32: frames of one loop
inline constexpr size_t kAnimSpeed = 0x08;        // float
inline constexpr size_t kAnimPlayOffset = 0x0C;   // u32
inline constexpr size_t kAnimFrames = 0x10;       // u32: frame records that follow
inline constexpr size_t kAnimHeaderBytes = 0x14;
}  // namespace icofile

struct IconPoint {  // a position or a normal
  int16_t x = 0, y = 0, z = 0, w = 0;
};
struct IconUV {
  int16_t u = 0, v = 0;
};
struct IconColour {
  uint8_t r = 0x80, g = 0x80, b = 0x80, a = 0x80;
};
struct IconKey {
  float time = 0, value = 0;
};
struct IconAnimFrame {
  uint32_t shape = 0;
  std::vector<IconKey> keys;
};

struct PS2Icon {
  uint32_t shapes = 1;
  uint32_t texture_type = 0x07;
  uint32_t unknown = 0x3F800000;  // 1.0f
  uint32_t vertex_count = 0;
  std::vector<IconPoint> positions;  // shape-major: positions[s * vertex_count + v]
  std::vector<IconPoint> normals;
  std::vector<IconUV> uvs;
  std::vector<IconColour> colours;
  uint32_t anim_tag = 1;
  uint32_t frame_length = 1;
  float speed = 1.0f;
  uint32_t play_offset = 0;
  std::vector<IconAnimFrame> frames;
  std::vector<uint16_t> texture;  // kIconTexels: bits 0-4 red, 5-9 green, 10-14 blue

  const IconPoint& Position(uint32_t shape, uint32_t vertex) const {
    return positions[static_cast<size_t>(shape) * vertex_count + vertex];
  }
};

// The model of an icon file, or nothing with a one-line reason in `error`.
[[nodiscard]] std::optional<PS2Icon> ReadPS2Icon(Bytes file, std::string& error);
// The file bytes of a model (the texture compressed when its type says so).
// Throws std::invalid_argument when the model's vectors disagree with its counts.
std::vector<uint8_t> WritePS2Icon(const PS2Icon& icon);

}  // namespace travosk::formats
