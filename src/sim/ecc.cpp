#include "sim/ecc.h"

#include <bit>

namespace travosk::sim {

namespace {

// Column parity: each CP bit covers the data bits that a mask selects in every
// byte of the chunk. Bits 3 and 7 of CP are unused.
struct ColumnMask {
  int cp_bit;
  uint8_t mask;
};
constexpr ColumnMask kColumnMasks[] = {
    {0, 0x55}, {1, 0x33}, {2, 0x0F}, {4, 0xAA}, {5, 0xCC}, {6, 0xF0},
};

// 0xFF for a byte of odd parity, 0 for even: a mask instead of a branch, as
// the parity of data bytes is as good as random and a branch on it mispredicts
// every other byte (most of what writing a page of save data cost).
constexpr std::array<uint8_t, 256> kOddMask = [] {
  std::array<uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) t[b] = (std::popcount(static_cast<unsigned>(b)) & 1) ? 0xFF : 0;
  return t;
}();

}  // namespace

std::array<uint8_t, 3> ChunkEcc(std::span<const uint8_t, 128> chunk) {
  uint8_t column_xor = 0;  // XOR of all bytes: bit k is the parity of bit k
  uint8_t line_xor = 0;    // XOR of the indices of odd-parity bytes
  uint8_t odd_bytes = 0;   // 0xFF when their number is odd
  for (size_t i = 0; i < chunk.size(); ++i) {
    column_xor ^= chunk[i];
    const uint8_t odd = kOddMask[chunk[i]];
    line_xor ^= static_cast<uint8_t>(i) & odd;
    odd_bytes ^= odd;
  }
  // The XOR of their complemented indices (~i & 0x7F is i ^ 0x7F): line_xor,
  // with 0x7F once more for an odd number of them.
  const uint8_t line_xor_inv = static_cast<uint8_t>(line_xor ^ (odd_bytes & 0x7F));
  uint8_t cp = 0;
  for (const auto& m : kColumnMasks) {
    // The code stores 1 for even parity, so an erased or zero chunk is not all zero.
    if ((std::popcount(static_cast<uint8_t>(column_xor & m.mask)) & 1) == 0) {
      cp |= static_cast<uint8_t>(1u << m.cp_bit);
    }
  }
  return {cp, static_cast<uint8_t>(0x7F ^ line_xor_inv), static_cast<uint8_t>(0x7F ^ line_xor)};
}

std::array<uint8_t, 16> PageSpare(std::span<const uint8_t, 512> data) {
  std::array<uint8_t, 16> spare{};
  for (size_t c = 0; c < kEccChunks; ++c) {
    auto ecc = ChunkEcc(data.subspan(c * kEccChunkBytes).first<kEccChunkBytes>());
    for (size_t k = 0; k < kEccBytesPerChunk; ++k) spare[c * kEccBytesPerChunk + k] = ecc[k];
  }
  return spare;
}

EccCheck CorrectChunk(std::span<uint8_t, 128> chunk, std::span<const uint8_t, 3> stored) {
  const auto now = ChunkEcc(chunk);
  const uint8_t cp = stored[0] ^ now[0];
  const uint8_t lp0 = stored[1] ^ now[1];
  const uint8_t lp1 = stored[2] ^ now[2];
  if (cp == 0 && lp0 == 0 && lp1 == 0) return EccCheck::kClean;

  // One flipped data bit flips exactly one of each complementary pair of
  // parities: the byte index shows in LP1, its complement in LP0, the bit
  // number in the high half of CP and its complement in the low half.
  const bool lines_pair = (lp0 ^ lp1) == 0x7F && (lp1 & 0x80) == 0;
  const bool columns_pair = ((cp & 0x07) ^ ((cp >> 4) & 0x07)) == 0x07 && (cp & 0x88) == 0;
  if (lines_pair && columns_pair) {
    chunk[lp1] ^= static_cast<uint8_t>(1u << (cp >> 4));
    return EccCheck::kCorrected;
  }
  if (std::popcount(cp) + std::popcount(lp0) + std::popcount(lp1) == 1) {
    return EccCheck::kCodeDamaged;
  }
  return EccCheck::kUncorrectable;
}

}  // namespace travosk::sim
