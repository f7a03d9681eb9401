// The error-correcting code that a PS2 card keeps in each page's spare bytes:
// three bytes (CP, LP0, LP1) for each 128-byte chunk of the 512 data bytes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace travosk::sim {

std::array<uint8_t, 3> ChunkEcc(std::span<const uint8_t, 128> chunk);
// Spare bytes 0..11 for a page's 512 data bytes, then 4 zero bytes.
std::array<uint8_t, 16> PageSpare(std::span<const uint8_t, 512> data);

}  // namespace travosk::sim
