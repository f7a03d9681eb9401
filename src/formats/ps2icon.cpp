#include "formats/ps2icon.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <stdexcept>

namespace travosk::formats {

namespace {

constexpr size_t kPointBytes = 8;
constexpr size_t kUVBytes = 4;
constexpr size_t kColourBytes = 4;
constexpr size_t kKeyBytes = 8;
constexpr size_t kFrameHeadBytes = 8;  // shape, key count
constexpr size_t kRawTextureBytes = kIconTexels * 2;

class Refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};


// A read position that never passes the end of the file.
class Cursor {
 public:
  explicit Cursor(Bytes data) : data_(data) {}
  size_t Left() const { return data_.size() - at_; }
  size_t At() const { return at_; }
  void Need(uint64_t bytes, const char* what) const {
    if (bytes > Left())
      throw Refused(std::string(what) + " needs " + std::to_string(bytes) + " bytes at offset " +
                    std::to_string(at_) + ", the file has " + std::to_string(Left()) + " left");
  }
  uint32_t U32(const char* what) {
    Need(4, what);
    const uint32_t v = load_le32(data_, at_);
    at_ += 4;
    return v;
  }
  uint16_t U16(const char* what) {
    Need(2, what);
    const uint16_t v = load_le16(data_, at_);
    at_ += 2;
    return v;
  }
  int16_t S16() { return static_cast<int16_t>(U16("a vertex")); }
  uint8_t U8() {
    Need(1, "a vertex");
    return data_[at_++];
  }

 private:
  Bytes data_;
  size_t at_ = 0;
};

IconPoint ReadPoint(Cursor& c) {
  IconPoint p;
  p.x = c.S16();
  p.y = c.S16();
  p.z = c.S16();
  p.w = c.S16();
  return p;
}

// Runs of 16-bit codes: a code with its top bit clear repeats the next
// colour that many times; with it set, (0x10000 - code) colours follow as
// they are. The texture must come out exactly 128 × 128, no more, no less.
std::vector<uint16_t> Decompress(Cursor& c) {
  const uint32_t packed = c.U32("the compressed texture's size");
  c.Need(packed, "the compressed texture");
  if (packed % 2 != 0) throw Refused("the compressed texture has an odd size");
  std::vector<uint16_t> texels;
  texels.reserve(kIconTexels);
  uint64_t consumed = 0;
  auto overrun = [] { return Refused("the compressed texture overruns 128 x 128 colours"); };
  while (consumed < packed) {
    const uint16_t code = c.U16("the compressed texture");
    consumed += 2;
    if (code & 0x8000) {
      const uint32_t count = 0x10000u - code;
      if (consumed + 2ull * count > packed)
        throw Refused("the compressed texture's run passes its end");
      if (texels.size() + count > kIconTexels) throw overrun();
      for (uint32_t i = 0; i < count; ++i) texels.push_back(c.U16("the compressed texture"));
      consumed += 2ull * count;
    } else {
      if (consumed + 2 > packed) throw Refused("the compressed texture's run passes its end");
      const uint16_t colour = c.U16("the compressed texture");
      consumed += 2;
      if (texels.size() + code > kIconTexels) throw overrun();
      texels.insert(texels.end(), code, colour);
    }
  }
  if (texels.size() != kIconTexels)
    throw Refused("the compressed texture holds " + std::to_string(texels.size()) +
                  " colours, not 16384");
  return texels;
}

PS2Icon Parse(Bytes file) {
  Cursor c(file);
  PS2Icon icon;
  if (c.U32("the header") != icofile::kMagic) throw Refused("not a PS2 icon file (bad magic)");
  icon.shapes = c.U32("the header");
  icon.texture_type = c.U32("the header");
  icon.unknown = c.U32("the header");
  icon.vertex_count = c.U32("the header");
  if (icon.shapes == 0) throw Refused("the icon has no animation shapes");
  if (icon.shapes > kMaxIconShapes)
    throw Refused("the icon claims " + std::to_string(icon.shapes) + " animation shapes");
  if (icon.vertex_count < 3) throw Refused("the icon has no triangle");
  if (icon.vertex_count > kMaxIconVertices)
    throw Refused("the icon claims " + std::to_string(icon.vertex_count) + " vertices");
  const uint64_t stride = kPointBytes * icon.shapes + kPointBytes + kUVBytes + kColourBytes;
  c.Need(stride * icon.vertex_count, "the vertices");

  const size_t n = icon.vertex_count;
  icon.positions.resize(static_cast<size_t>(icon.shapes) * n);
  icon.normals.resize(n);
  icon.uvs.resize(n);
  icon.colours.resize(n);
  for (size_t v = 0; v < n; ++v) {
    for (size_t s = 0; s < icon.shapes; ++s) icon.positions[s * n + v] = ReadPoint(c);
    icon.normals[v] = ReadPoint(c);
    icon.uvs[v].u = c.S16();
    icon.uvs[v].v = c.S16();
    IconColour& col = icon.colours[v];
    col.r = c.U8();
    col.g = c.U8();
    col.b = c.U8();
    col.a = c.U8();
  }

  icon.anim_tag = c.U32("the animation header");
  icon.frame_length = c.U32("the animation header");
  icon.speed = std::bit_cast<float>(c.U32("the animation header"));
  icon.play_offset = c.U32("the animation header");
  const uint32_t frames = c.U32("the animation header");
  c.Need(kFrameHeadBytes * uint64_t{frames}, "the animation frames");
  icon.frames.resize(frames);
  for (auto& frame : icon.frames) {
    frame.shape = c.U32("an animation frame");
    if (frame.shape >= icon.shapes)
      throw Refused("an animation frame names shape " + std::to_string(frame.shape) + " of " +
                    std::to_string(icon.shapes));
    const uint32_t keys = c.U32("an animation frame");
    c.Need(kKeyBytes * uint64_t{keys}, "an animation frame's keys");
    frame.keys.resize(keys);
    for (auto& key : frame.keys) {
      key.time = std::bit_cast<float>(c.U32("a key"));
      key.value = std::bit_cast<float>(c.U32("a key"));
    }
  }

  if (icon.texture_type & icofile::kCompressed) {
    icon.texture = Decompress(c);
  } else {
    c.Need(kRawTextureBytes, "the texture");
    icon.texture.resize(kIconTexels);
    for (auto& t : icon.texture) t = c.U16("the texture");
  }
  return icon;
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutPoint(std::vector<uint8_t>& out, const IconPoint& p) {
  for (int16_t v : {p.x, p.y, p.z, p.w}) PutU16(out, static_cast<uint16_t>(v));
}

// Repeats of two or more colours become runs; the rest go out as they are,
// at most 255 at a time, which every reader of the format takes.
std::vector<uint8_t> Compress(const std::vector<uint16_t>& texels) {
  std::vector<uint8_t> body;
  size_t i = 0;
  while (i < texels.size()) {
    size_t run = 1;
    while (i + run < texels.size() && texels[i + run] == texels[i] && run < 0x7FFF) ++run;
    if (run >= 2) {
      PutU16(body, static_cast<uint16_t>(run));
      PutU16(body, texels[i]);
      i += run;
      continue;
    }
    size_t lit = 1;
    while (i + lit < texels.size() && lit < 255 &&
           !(i + lit + 1 < texels.size() && texels[i + lit] == texels[i + lit + 1]))
      ++lit;
    PutU16(body, static_cast<uint16_t>(0x10000 - lit));
    for (size_t k = 0; k < lit; ++k) PutU16(body, texels[i + k]);
    i += lit;
  }
  std::vector<uint8_t> out;
  PutU32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace

std::optional<PS2Icon> ReadPS2Icon(Bytes file, std::string& error) {
  try {
    return Parse(file);
  } catch (const Refused& e) {
    error = e.what();
    return std::nullopt;
  }
}

std::vector<uint8_t> WritePS2Icon(const PS2Icon& icon) {
  const size_t n = icon.vertex_count;
  if (icon.positions.size() != n * icon.shapes || icon.normals.size() != n ||
      icon.uvs.size() != n || icon.colours.size() != n || icon.texture.size() != kIconTexels)
    throw std::invalid_argument("icon model: vectors disagree with the counts");
  std::vector<uint8_t> out;
  for (uint32_t v :
       {icofile::kMagic, icon.shapes, icon.texture_type, icon.unknown, icon.vertex_count})
    PutU32(out, v);
  for (size_t v = 0; v < n; ++v) {
    for (size_t s = 0; s < icon.shapes; ++s) PutPoint(out, icon.positions[s * n + v]);
    PutPoint(out, icon.normals[v]);
    PutU16(out, static_cast<uint16_t>(icon.uvs[v].u));
    PutU16(out, static_cast<uint16_t>(icon.uvs[v].v));
    const IconColour& c = icon.colours[v];
    out.insert(out.end(), {c.r, c.g, c.b, c.a});
  }
  for (uint32_t v : {icon.anim_tag, icon.frame_length, std::bit_cast<uint32_t>(icon.speed), icon.play_offset,
                     static_cast<uint32_t>(icon.frames.size())})
    PutU32(out, v);
  for (const auto& frame : icon.frames) {
    PutU32(out, frame.shape);
    PutU32(out, static_cast<uint32_t>(frame.keys.size()));
    for (const auto& key : frame.keys) {
      PutU32(out, std::bit_cast<uint32_t>(key.time));
      PutU32(out, std::bit_cast<uint32_t>(key.value));
    }
  }
  if (icon.texture_type & icofile::kCompressed) {
    const auto packed = Compress(icon.texture);
    out.insert(out.end(), packed.begin(), packed.end());
  } else {
    for (uint16_t t : icon.texture) PutU16(out, t);
  }
  return out;
}

}  // namespace travosk::formats
