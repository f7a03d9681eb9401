#include "sim/ecc.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace travosk::sim {
namespace {

using Chunk = std::array<uint8_t, 128>;
using Code = std::array<uint8_t, 3>;

TEST(Ecc, ChunkCheckValues) {
  Chunk c{};
  EXPECT_EQ(ChunkEcc(c), (Code{0x77, 0x7F, 0x7F}));  // zero chunk
  c.fill(0xFF);
  EXPECT_EQ(ChunkEcc(c), (Code{0x77, 0x7F, 0x7F}));  // erased chunk
  c.fill(0);
  c[0] = 0x01;
  EXPECT_EQ(ChunkEcc(c), (Code{0x70, 0x00, 0x7F}));
  c.fill(0);
  c[127] = 0x80;
  EXPECT_EQ(ChunkEcc(c), (Code{0x07, 0x7F, 0x00}));
}

TEST(Ecc, PageSpareHoldsFourChunkCodesInOrderThenZeros) {
  std::array<uint8_t, 512> page{};
  page[0] = 0x01;              // chunk 0: 70 00 7F
  page[3 * 128 + 127] = 0x80;  // chunk 3: 07 7F 00
  const std::array<uint8_t, 16> expected = {0x70, 0x00, 0x7F, 0x77, 0x7F, 0x7F, 0x77, 0x7F,
                                            0x7F, 0x07, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(PageSpare(page), expected);
}

TEST(Ecc, EverySingleDataBitFlipIsCorrected) {
  std::mt19937 rng(7);
  Chunk original;
  for (auto& b : original) b = static_cast<uint8_t>(rng());
  const Code code = ChunkEcc(original);

  Chunk c = original;
  EXPECT_EQ(CorrectChunk(c, code), EccCheck::kClean);
  for (size_t byte = 0; byte < 128; ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      c = original;
      c[byte] ^= static_cast<uint8_t>(1u << bit);
      ASSERT_EQ(CorrectChunk(c, code), EccCheck::kCorrected) << byte << "/" << bit;
      ASSERT_EQ(c, original) << byte << "/" << bit;
    }
  }
}

TEST(Ecc, DamagedCodeAndDoubleFlipsAreNotMiscorrected) {
  Chunk original{};
  original[5] = 0x3C;
  const Code code = ChunkEcc(original);

  Chunk c = original;
  Code bad = code;
  bad[2] ^= 0x10;
  EXPECT_EQ(CorrectChunk(c, bad), EccCheck::kCodeDamaged);
  EXPECT_EQ(c, original);

  c[10] ^= 0x01;
  c[77] ^= 0x40;
  EXPECT_EQ(CorrectChunk(c, code), EccCheck::kUncorrectable);
  c = original;
  c[9] ^= 0x05;  // two bits of one byte
  EXPECT_EQ(CorrectChunk(c, code), EccCheck::kUncorrectable);

  // A stored code with bit 7 set must not steer the repair past the chunk.
  c = original;
  EXPECT_EQ(CorrectChunk(
                c, Code{static_cast<uint8_t>(code[0] ^ 0x07), static_cast<uint8_t>(code[1] ^ 0xFF),
                        static_cast<uint8_t>(code[2] ^ 0x80)}),
            EccCheck::kUncorrectable);
  EXPECT_EQ(c, original);
}

}  // namespace
}  // namespace travosk::sim
