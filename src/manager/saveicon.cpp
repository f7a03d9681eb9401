#include "manager/saveicon.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "card/fileops.h"
#include "common/errors.h"
#include "manager/icons.h"
#include "manager/ps2mfmsys.h"

namespace travosk::manager {

namespace {

constexpr size_t kIconNameAt = 0x104;  // in "ICON.SYS": 64 bytes per icon kind
constexpr size_t kIconNameBytes = 64;
constexpr size_t kEntryHeaderBytes = 512;  // an exported entry's lead-in

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

const card::TfileIP* FindFile(const std::vector<card::TfileIP>& files, const std::string& name) {
  for (const auto& f : files)
    if (!f.Dir && !f.Deleted && f.Name == name) return &f;
  for (const auto& f : files)
    if (!f.Dir && !f.Deleted && Upper(f.Name) == Upper(name)) return &f;
  return nullptr;
}

}  // namespace

std::string IconFileName(Bytes icon_sys, int k) {
  if (k < 1 || k > 3) return {};
  return load_cstr(icon_sys, kIconNameAt + kIconNameBytes * (k - 1), kIconNameBytes);
}

std::optional<SaveIcon> ReadSaveIcon(Bytes icon_sys, Bytes model, std::string& error) {
  auto look = ReadIconLook(icon_sys);
  if (!look) {
    error = "\"ICON.SYS\" is too short";
    return std::nullopt;
  }
  auto icon = ReadPS2Icon(model, error);
  if (!icon) return std::nullopt;
  return SaveIcon{std::move(*icon), *look};
}

bool ReadCardFile(TPS2MFMSYS& mgr, const card::TfileIP& file, uint32_t limit,
                  std::vector<uint8_t>& data) {
  if (file.Dir || file.Length() > limit) return false;
  std::ostringstream out;
  try {
    if (!card::ExportEntry(mgr.Volume(), out, file)) return false;
  } catch (const CardError&) {
    return false;
  }
  const std::string bytes = out.str();
  if (bytes.size() < kEntryHeaderBytes + uint64_t{file.Length()}) return false;
  data.assign(bytes.begin() + kEntryHeaderBytes, bytes.begin() + kEntryHeaderBytes + file.Length());
  return true;
}

std::optional<SaveIcon> LoadSaveIcon(TPS2MFMSYS& mgr, const std::vector<card::TfileIP>& files,
                                     std::string& error) {
  const card::TfileIP* sys_file = FindFile(files, "ICON.SYS");
  if (!sys_file) {
    error = "the save holds no \"ICON.SYS\"";
    return std::nullopt;
  }
  std::vector<uint8_t> sys;
  if (!ReadCardFile(mgr, *sys_file, kMaxIconFileBytes, sys)) {
    error = "\"ICON.SYS\" could not be read";
    return std::nullopt;
  }
  const std::string name = IconFileName(sys, 1);
  const card::TfileIP* model_file = name.empty() ? nullptr : FindFile(files, name);
  if (!model_file) {
    error = "the icon file \"" + name + "\" is not in the save";
    return std::nullopt;
  }
  if (model_file->Length() > kMaxIconFileBytes) {
    error = "the icon file \"" + name + "\" is too big to be an icon";
    return std::nullopt;
  }
  std::vector<uint8_t> model;
  if (!ReadCardFile(mgr, *model_file, kMaxIconFileBytes, model)) {
    error = "the icon file \"" + name + "\" could not be read";
    return std::nullopt;
  }
  auto icon = ReadSaveIcon(sys, model, error);
  if (!icon) error = "\"" + name + "\": " + error;
  return icon;
}

std::optional<RgbaImage> DecodeGenericIcon(Bytes bmp) {
  constexpr size_t kPalette = 54, kPixels = 1078;
  if (bmp.size() < kIconBitmapBytes || bmp[0] != 'B' || bmp[1] != 'M' ||
      load_le32(bmp, 10) != kPixels || load_le32(bmp, 18) != kIconSide ||
      load_le32(bmp, 22) != kIconSide || load_le16(bmp, 28) != 8 || load_le32(bmp, 30) != 0)
    return std::nullopt;
  RgbaImage out;
  out.width = out.height = kIconSide;
  out.pixels.resize(kIconSide * kIconSide * 4);
  for (int y = 0; y < kIconSide; ++y) {
    for (int x = 0; x < kIconSide; ++x) {
      // Rows are stored bottom first; palette entries are blue, green, red, 0.
      const uint8_t index = bmp[kPixels + static_cast<size_t>(kIconSide - 1 - y) * kIconSide + x];
      uint8_t* p = &out.pixels[(static_cast<size_t>(y) * kIconSide + x) * 4];
      p[0] = bmp[kPalette + 4 * index + 2];
      p[1] = bmp[kPalette + 4 * index + 1];
      p[2] = bmp[kPalette + 4 * index + 0];
      p[3] = 255;
    }
  }
  return out;
}

}  // namespace travosk::manager
