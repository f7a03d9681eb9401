// The error-correcting code that a PS2 card keeps in each page's spare bytes:
// three bytes (CP, LP0, LP1) for each 128-byte chunk of the 512 data bytes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace travosk::sim {

inline constexpr size_t kEccChunkBytes = 128;
inline constexpr size_t kEccChunks = 4;         // per 512-byte page
inline constexpr size_t kEccBytesPerChunk = 3;  // CP, LP0, LP1

std::array<uint8_t, 3> ChunkEcc(std::span<const uint8_t, 128> chunk);
// Spare bytes 0..11 for a page's 512 data bytes, then 4 zero bytes.
std::array<uint8_t, 16> PageSpare(std::span<const uint8_t, 512> data);

enum class EccCheck {
  kClean,          // data and code agree
  kCorrected,      // one data bit was wrong and has been flipped back
  kCodeDamaged,    // the data is fine, one bit of the stored code is wrong
  kUncorrectable,  // more than one bit differs: the chunk cannot be trusted
};

// Checks a chunk against the code stored for it and repairs a single flipped
// data bit in place.
EccCheck CorrectChunk(std::span<uint8_t, 128> chunk, std::span<const uint8_t, 3> stored);

}  // namespace travosk::sim
