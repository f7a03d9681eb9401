// What the readers' firmwares share of a PS1 card: its frames and the
// checksum their protocols put after one. Kept apart from the PC side's own
// (link/ps1device.h), so that a fault in one shows against the other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace travosk::sim {

inline constexpr size_t kFrame = 128;
inline constexpr int kFrames = 1024;

// The XOR of the frame number's two bytes and the frame's 128 bytes.
inline uint8_t FrameChecksum(int frame, const uint8_t* data) {
  uint8_t x = static_cast<uint8_t>((frame >> 8) ^ (frame & 0xFF));
  for (size_t i = 0; i < kFrame; ++i) x ^= data[i];
  return x;
}

}  // namespace travosk::sim
