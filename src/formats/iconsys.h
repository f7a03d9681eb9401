// "icon.sys": how a PS2 save presents itself. Its title (two lines of
// Shift-JIS), the look of its icons (background corners, three lights,
// ambient) and the names of its icon model files. The save list, the command
// line's listing, the icon renderer and ".max" all read it here; the demo
// cards are written with WriteIconSys.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace travosk::formats {

namespace iconsys {
inline constexpr size_t kMagicAt = 0x00;    // "PS2D"
inline constexpr size_t kLineBreak = 0x06;  // u16: where the title's second line starts, in bytes
inline constexpr size_t kTransparency = 0x0C;  // u32
inline constexpr size_t kBackground = 0x10;    // 4 corners of 4 u32: red, green, blue, unused
inline constexpr size_t kLightDirs = 0x50;     // 3 vectors of 4 floats
inline constexpr size_t kLightColours = 0x80;  // 3 of 4 floats: red, green, blue, unused
inline constexpr size_t kAmbient = 0xB0;       // 4 floats
inline constexpr size_t kTitle = 0xC0;         // Shift-JIS, NUL padded
inline constexpr size_t kTitleBytes = 68;      // 34 full-width characters
inline constexpr size_t kIconNames = 0x104;    // list, copy, delete icon file names
inline constexpr size_t kIconNameBytes = 64;   // each, NUL padded
inline constexpr size_t kBytes = 964;
inline constexpr std::string_view kMagic = "PS2D";
static_assert(kAmbient + 16 == kTitle);
static_assert(kTitle + kTitleBytes == kIconNames);
static_assert(kIconNames + 3 * kIconNameBytes <= kBytes);
}  // namespace iconsys

// The icon file kinds "icon.sys" names, in the order it names them.
enum class IconKind { kList = 1, kCopy = 2, kDelete = 3 };

struct IconLook {
  // Top left, top right, bottom left, bottom right; 0..255 each.
  std::array<std::array<uint8_t, 3>, 4> background{};
  std::array<std::array<float, 3>, 3> light_dirs{};     // towards the light
  std::array<std::array<float, 3>, 3> light_colours{};  // 0..1 is the usual range
  std::array<float, 3> ambient{};
};

// Unlit-looking defaults for an icon shown without its "icon.sys".
IconLook DefaultIconLook();
// The look of an "icon.sys"; nothing when the file is too short to hold it.
// Values that are not finite numbers count as 0; colours are limited to a
// sane range so that a hostile file cannot overflow the arithmetic.
[[nodiscard]] std::optional<IconLook> ReadIconLook(Bytes icon_sys);

// The text of an "icon.sys" (`icon_sys` is the file's bytes from its start;
// bytes past a short file's end count as zero).
struct IconSysText {
  std::string title;  // every non-NUL byte of the title, lines run together
  std::array<std::string, 2>
      title_lines;                        // to show: JoinTitleLines(title_lines[0], title_lines[1])
  std::array<std::string, 3> icon_files;  // by IconKind, as shown: every non-NUL byte of the field
};
IconSysText ReadIconSysText(Bytes icon_sys);

// The two lines of the title (NULs skipped), split at the byte offset the
// header gives. An offset past the title leaves the second line empty.
std::array<std::string, 2> IconSysTitleLines(Bytes icon_sys);
// A title's two lines as one line of text: a space goes at the break when
// neither the first line ends nor the second starts with one (ASCII or
// full-width), so that "TRAVOSK DEMO" and "FIRST SAVE" read
// "TRAVOSK DEMO FIRST SAVE".
std::string JoinTitleLines(std::string_view first, std::string_view second);
// The name of icon file `kind` as a save's files are searched for it: its
// bytes up to the first NUL of the field.
std::string IconFileName(Bytes icon_sys, IconKind kind);

// What WriteIconSys puts in a new "icon.sys"; everything else is zero.
struct IconSysRecord {
  std::string title_first;   // Shift-JIS bytes of each line; together at most 67
  std::string title_second;  // (the title keeps a NUL)
  std::array<std::array<uint32_t, 3>, 4> background{};  // the corners' red, green, blue
  std::array<std::array<float, 3>, 3> light_dirs{};
  std::array<std::array<float, 3>, 3> light_colours{};
  std::array<float, 3> ambient{};
  std::string icon_file;  // named for all three kinds
};
// The 964 bytes of an "icon.sys"; throws FormatError when the title or the
// icon file name does not fit its field.
std::vector<uint8_t> WriteIconSys(const IconSysRecord& record);

}  // namespace travosk::formats
