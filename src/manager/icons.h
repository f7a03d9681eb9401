// Save icons and titles for the save list: the title and list-icon name of a
// PS2 save's "ICON.SYS", and PS1-style icon frames (from a PS1 card, or from a
// PS1 save kept in a folder of a PS2 card or SmartMedia) decoded into 32 × 32
// 8-bit bitmaps. Every decoded frame passes through "~ico.bmp" in the working
// folder; the frames are also handed back, so that a front end can build its
// images without reading the files again.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "card/fileip.h"
#include "common/bytes.h"
#include "formats/iconsys.h"

namespace travosk::manager {

class TPS2MFMSYS;

// Working files, in the working folder, overwritten at every use.
inline constexpr const char* kGenericIconFile = "PS2ICO.bmp";
inline constexpr const char* kIconSysTempFile = "~temp.i";
inline constexpr const char* kFolderIconTempFile = "~lics.i";
inline constexpr const char* kCardIconTempFile = "~licc.i";
inline constexpr const char* kIconBitmapFile = "~ico.bmp";

inline constexpr int kIconSide = 32;
inline constexpr size_t kIconPaletteBytes = 768;  // 256 × blue, green, red
inline constexpr size_t kIconPixelBytes = 1024;   // 32 rows of 32 indexes, bottom row first
inline constexpr size_t kIconBitmapBytes = 2102;

// An exported file opens with its 512-byte entry header; its data follows.
inline constexpr size_t kExportedDataStart = 512;

// The icon bitmaps' header: file header (14 bytes) and info header (40
// bytes), then 256 palette entries of blue, green, red and 0.
namespace bmp {
inline constexpr size_t kFileSize = 2;
inline constexpr size_t kPixelOffset = 10;
inline constexpr size_t kInfoSize = 14;
inline constexpr size_t kWidth = 18;
inline constexpr size_t kHeight = 22;
inline constexpr size_t kPlanes = 26;
inline constexpr size_t kBitsPerPixel = 28;
inline constexpr size_t kCompression = 30;
inline constexpr size_t kPixelBytes = 34;
inline constexpr size_t kHeaderBytes = 54;
inline constexpr size_t kPaletteEntries = 256;
inline constexpr size_t kPixels = kHeaderBytes + kPaletteEntries * 4;  // 1078
}  // namespace bmp

// A PS1 save as the icon decoder reads it, with the same 512-byte lead-in.
namespace ps1icon {
inline constexpr size_t kMagic = 512;     // "SC", the title frame's mark
inline constexpr size_t kIconFlag = 514;  // low nibble: frame count
inline constexpr size_t kTitle = 516;     // 64 bytes, NULs skipped
inline constexpr size_t kTitleBytes = 64;
inline constexpr size_t kPalette = 608;  // 16 little-endian u16 colours
inline constexpr size_t kFrames = 640;   // 128 bytes per frame
inline constexpr size_t kFrameBytes = 128;
inline constexpr size_t kFileBytes = 2560;  // lead-in + 16 card frames
}  // namespace ps1icon

struct DecodedIcon {
  std::array<uint8_t, kIconBitmapBytes> bitmap{};        // the bytes of "~ico.bmp"
  std::array<uint8_t, kIconSide * kIconSide * 3> rgb{};  // top row first: red, green, blue
};

struct IconSysInfo {
  std::string title;  // the title's bytes as stored, its two lines run together
  std::array<std::string, 2> title_lines;  // to show: JoinTitleLines(title_lines[0], title_lines[1])
  std::string icon_file;
};

struct PS1IconSet {
  std::string title;
  std::vector<DecodedIcon> frames;
  // False when the file is no PS1 save (it does not open with "SC"): then it
  // has no title or icon to show, and title and frames stay empty.
  bool ps1_save = false;
};

// Exports the "ICON.SYS" entry to "~temp.i" and reads its title and icon
// file name k (1 list, 2 copy, 3 delete). Empty when nothing could be read.
IconSysInfo ReadIconSys(TPS2MFMSYS& mgr, card::TfileIP& entry, int k);
// Exports the file to "~lics.i" and decodes it as a PS1 save, when it is one.
PS1IconSet LoadFolderPS1Icons(TPS2MFMSYS& mgr, card::TfileIP& entry);
// Writes "~licc.i" from the first 16 frames of PS1 entry e's block and
// decodes n frames. Empty when the frames could not be read.
PS1IconSet LoadCardPS1Icons(TPS2MFMSYS& mgr, int e, int n);

// Decodes the icon frame at offset of a PS1 save image (the layout above;
// bytes past its end count as zero) and writes the bitmap to bitmap_path.
DecodedIcon DecodePS1Icon(Bytes save, size_t offset, const std::string& bitmap_path);
// The title at 516: every non-NUL byte of its 64, in order.
std::string PS1IconTitle(Bytes save);

std::array<uint8_t, kIconBitmapBytes> BuildIconBitmap(const uint8_t* palette768,
                                                      const uint8_t* pixels1024);
// Throws InOutError when the file cannot be written.
void WriteIconBitmap(const uint8_t* palette768, const uint8_t* pixels1024, const std::string& file);

}  // namespace travosk::manager
