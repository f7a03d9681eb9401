// PS1 card records: one directory entry with its directory and title frames,
// and the card record of 16 such entries that a scan fills.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace travosk::manager {

inline constexpr int kPS1Frames = 1024;
inline constexpr int kPS1FrameBytes = 128;
inline constexpr int kPS1BlockBytes = 8192;
inline constexpr int kPS1FramesPerBlock = 64;
inline constexpr int kPS1Entries = 15;
inline constexpr int kPS1CardBytes = 131072;
inline constexpr int kPS1Capacity = 122880;  // 15 blocks of 8,192
inline constexpr int kPS1BrokenFrameList = 16;     // frame of the first broken-frame record
inline constexpr int kPS1BrokenFrameRecords = 20;

// Directory frame.
namespace ps1dir {
inline constexpr size_t kState = 0;     // high nibble 5 in use; low nibble 1 first, 2.. following
inline constexpr size_t kSize = 4;      // u32, first block only
inline constexpr size_t kLink = 8;      // u16: entry index of the next block, 0xFFFF last
inline constexpr size_t kName = 10;     // 21 characters, NUL terminated
inline constexpr size_t kNameMax = 21;
inline constexpr size_t kChecksum = 127;  // XOR of bytes 0..126
}  // namespace ps1dir

// Title frame (first frame of a save's first block).
namespace ps1title {
inline constexpr size_t kIconFlag = 2;  // low nibble: icon frames 1..3
inline constexpr size_t kBlocks = 3;
inline constexpr size_t kTitle = 4;     // Shift-JIS, NUL terminated
inline constexpr size_t kTitleMax = 92;
inline constexpr size_t kPalette = 0x60;  // 16 u16 colours
}  // namespace ps1title

struct TPs1FileitemRec {
  uint8_t NoTitle = 0;
  std::string FileName;
  std::string Title;
  int32_t Size = 0;
  uint8_t NotInUse = 0;
  uint8_t HasNext = 0;
  uint16_t Link = 0;
  uint8_t BlockType = 0;
  int32_t IconFrames = 0;
  int32_t FirstImage = 0;
  int32_t CurFrame = 0;
  std::array<uint8_t, 128> DirFrame{};
  std::array<uint8_t, 128> TitleFrame{};
};

struct TPs1FileRecD {
  uint8_t Count = 0;
  // Frame 0 holds the "MC" header: without it the card is unformatted and
  // its directory frames mean nothing (set by a scan).
  bool Formatted = true;
  std::array<TPs1FileitemRec, 16> Items{};
};

}  // namespace travosk::manager
