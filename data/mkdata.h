// travosk-mkdata: the generators of the supplied files and the demo cards.
// Everything is drawn and built here, in code; nothing is read from elsewhere.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace travosk::mkdata {

// Every demo save carries this time stamp, so that the files are the same at
// every build: 2024-03-01 12:00:00 UTC.
inline constexpr std::time_t kDemoTime = 1709294400;

// A 16 × 16 PS1 icon: 16 colours of 15 bits (red low, blue high) and 1..3
// frames of 128 bytes (rows top first, two pixels a byte, left pixel low).
struct PS1Icon {
  std::array<uint16_t, 16> palette{};
  std::vector<std::array<uint8_t, 128>> frames;
};

enum class PS1Art { kCard, kStar, kBall, kSpinner };
PS1Icon DrawPS1Icon(PS1Art art);

// The 2,102-byte bitmap of the generic PS2 save icon.
std::vector<uint8_t> DrawGenericIcon();

// A PS1 save's first block: the title frame ("SC", icon flag, block count,
// title, palette), the icon frames, then save data derived from seed.
std::vector<uint8_t> PS1FirstBlock(const std::vector<uint8_t>& title, const PS1Icon& icon,
                                   int blocks, uint8_t seed);

// The model file of a demo PS2 save's 3D icon, in the real icon layout.
enum class DemoIconArt { kCard, kCube, kPyramid, kBarrel, kGem, kSmartCard };
std::string DemoIcon(DemoIconArt art);

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

void WriteGenericIcon(const std::string& folder);
// The program's desktop icon, FOLDER/icons/hicolor/<N>x<N>/apps/<name>.png for
// each size of the icon theme.
void WriteAppIcons(const std::string& folder, const std::string& name);
void WritePCFormatImages(const std::string& folder);
void WriteDemoPS1(const std::string& folder);
// The demo PS2 card and the 16 MB SmartMedia, formatted and filled through a
// loopback adapter.
void WriteDemoPS2(const std::string& folder);
void WriteDemoSmartMedia(const std::string& folder);

}  // namespace travosk::mkdata
