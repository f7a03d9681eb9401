#include "formats/iconsys.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "formats/save.h"

namespace travosk::formats {

namespace {

uint8_t At(Bytes data, size_t i) {
  return i < data.size() ? data[i] : 0;
}


float Finite(float f, float limit) {
  if (!std::isfinite(f)) return 0.0f;
  return std::clamp(f, -limit, limit);
}

}  // namespace

IconLook DefaultIconLook() {
  IconLook look;
  look.background = {{{60, 60, 110}, {60, 60, 110}, {10, 10, 40}, {10, 10, 40}}};
  look.light_dirs = {{{0.0f, -0.5f, -1.0f}, {0, 0, 0}, {0, 0, 0}}};
  look.light_colours = {{{0.6f, 0.6f, 0.6f}, {0, 0, 0}, {0, 0, 0}}};
  look.ambient = {0.5f, 0.5f, 0.5f};
  return look;
}

std::optional<IconLook> ReadIconLook(Bytes sys) {
  // The look ends where the title starts.
  if (sys.size() < iconsys::kTitle) return std::nullopt;
  IconLook look;
  for (size_t c = 0; c < 4; ++c)
    for (size_t k = 0; k < 3; ++k)
      look.background[c][k] = static_cast<uint8_t>(
          std::min<uint32_t>(load_le32(sys, iconsys::kBackground + 16 * c + 4 * k), 255));
  auto vec = [&](size_t at, float limit) {
    std::array<float, 3> v{};
    for (size_t k = 0; k < 3; ++k) v[k] = Finite(std::bit_cast<float>(load_le32(sys, at + 4 * k)), limit);
    return v;
  };
  for (size_t i = 0; i < 3; ++i) {
    look.light_dirs[i] = vec(iconsys::kLightDirs + 16 * i, 1e6f);
    look.light_colours[i] = vec(iconsys::kLightColours + 16 * i, 4.0f);
  }
  look.ambient = vec(iconsys::kAmbient, 4.0f);
  return look;
}

std::array<std::string, 2> IconSysTitleLines(Bytes icon_sys) {
  using namespace iconsys;
  const size_t split =
      std::min<size_t>(At(icon_sys, kLineBreak) | At(icon_sys, kLineBreak + 1) << 8, kTitleBytes);
  return {load_non_nul(icon_sys, kTitle, split),
          load_non_nul(icon_sys, kTitle + split, kTitleBytes - split)};
}

std::string JoinTitleLines(std::string_view first, std::string_view second) {
  const auto spaced_end = [](std::string_view s) {
    return s.ends_with(' ') || s.ends_with("\x81\x40");
  };
  const auto spaced_start = [](std::string_view s) {
    return s.starts_with(' ') || s.starts_with("\x81\x40");
  };
  std::string title(first);
  if (!first.empty() && !second.empty() && !spaced_end(first) && !spaced_start(second))
    title += ' ';
  title += second;
  return title;
}

std::string IconFileName(Bytes icon_sys, IconKind kind) {
  const size_t at = iconsys::kIconNames + iconsys::kIconNameBytes * (static_cast<size_t>(kind) - 1);
  if (at >= icon_sys.size()) return {};
  return load_cstr(icon_sys, at, iconsys::kIconNameBytes);
}

IconSysText ReadIconSysText(Bytes icon_sys) {
  IconSysText text;
  text.title = load_non_nul(icon_sys, iconsys::kTitle, iconsys::kTitleBytes);
  text.title_lines = IconSysTitleLines(icon_sys);
  for (size_t k = 0; k < 3; ++k)
    text.icon_files[k] = load_non_nul(icon_sys, iconsys::kIconNames + iconsys::kIconNameBytes * k,
                                    iconsys::kIconNameBytes);
  return text;
}

std::vector<uint8_t> WriteIconSys(const IconSysRecord& r) {
  using namespace iconsys;
  const size_t title_bytes = r.title_first.size() + r.title_second.size();
  if (title_bytes >= kTitleBytes) throw FormatError("the icon.sys title is too long");
  if (r.icon_file.size() >= kIconNameBytes) throw FormatError("the icon file name is too long");
  std::vector<uint8_t> sys(kBytes, 0);
  MutableBytes b(sys);
  std::copy(kMagic.begin(), kMagic.end(), sys.begin() + kMagicAt);
  store_le16(b, kLineBreak, static_cast<uint16_t>(r.title_first.size()));
  for (size_t c = 0; c < 4; ++c)
    for (size_t k = 0; k < 3; ++k) store_le32(b, kBackground + 16 * c + 4 * k, r.background[c][k]);
  for (size_t i = 0; i < 3; ++i) {
    for (size_t k = 0; k < 3; ++k) {
      store_le32(b, kLightDirs + 16 * i + 4 * k, std::bit_cast<uint32_t>(r.light_dirs[i][k]));
      store_le32(b, kLightColours + 16 * i + 4 * k, std::bit_cast<uint32_t>(r.light_colours[i][k]));
    }
  }
  for (size_t k = 0; k < 3; ++k) store_le32(b, kAmbient + 4 * k, std::bit_cast<uint32_t>(r.ambient[k]));
  const std::string title = r.title_first + r.title_second;
  std::copy(title.begin(), title.end(), sys.begin() + kTitle);
  for (size_t k = 0; k < 3; ++k)
    std::copy(r.icon_file.begin(), r.icon_file.end(),
              sys.begin() + kIconNames + kIconNameBytes * k);
  return sys;
}

}  // namespace travosk::formats
