// Little-endian helpers over byte spans. Every on-card and file-format integer
// of the system is little-endian; records are read and written field by field
// through these, never by casting a buffer to a struct.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace travosk {

using Bytes = std::span<const uint8_t>;
using MutableBytes = std::span<uint8_t>;

inline uint16_t load_le16(Bytes b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

inline uint32_t load_le32(Bytes b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

inline void store_le16(MutableBytes b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void store_le32(MutableBytes b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
  b[at + 2] = static_cast<uint8_t>(v >> 16);
  b[at + 3] = static_cast<uint8_t>(v >> 24);
}

// Characters of a NUL-terminated name field: up to the first zero byte and at
// most max_len characters, and never past the end of the field.
inline std::string load_cstr(Bytes b, size_t at, size_t max_len) {
  std::string out;
  for (size_t i = at; i < b.size() && out.size() < max_len; ++i) {
    if (b[i] == 0) break;
    out.push_back(static_cast<char>(b[i]));
  }
  return out;
}

// Every non-NUL byte of a `count`-byte field, in order, as titles are read:
// a title's two lines stay joined. Bytes past the end of `b` count as zero.
inline std::string load_non_nul(Bytes b, size_t at, size_t count) {
  std::string out;
  for (size_t i = at; i < at + count && i < b.size(); ++i)
    if (b[i] != 0) out.push_back(static_cast<char>(b[i]));
  return out;
}

}  // namespace travosk
