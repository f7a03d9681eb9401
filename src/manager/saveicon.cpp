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

std::optional<SaveIcon> ReadSaveIcon(Bytes icon_sys, Bytes model, std::string& error) {
  auto look = formats::ReadIconLook(icon_sys);
  if (!look) {
    error = "\"ICON.SYS\" is too short";
    return std::nullopt;
  }
  auto icon = formats::ReadPS2Icon(model, error);
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
  if (bytes.size() < kExportedDataStart + uint64_t{file.Length()}) return false;
  data.assign(bytes.begin() + kExportedDataStart,
              bytes.begin() + kExportedDataStart + file.Length());
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
  const std::string name = formats::IconFileName(sys, formats::IconKind::kList);
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

std::optional<RgbaImage> DecodeGenericIcon(Bytes bitmap) {
  constexpr size_t kPalette = bmp::kHeaderBytes, kPixels = bmp::kPixels;
  if (bitmap.size() < kIconBitmapBytes || bitmap[0] != 'B' || bitmap[1] != 'M' ||
      load_le32(bitmap, bmp::kPixelOffset) != kPixels ||
      load_le32(bitmap, bmp::kWidth) != kIconSide || load_le32(bitmap, bmp::kHeight) != kIconSide ||
      load_le16(bitmap, bmp::kBitsPerPixel) != 8 || load_le32(bitmap, bmp::kCompression) != 0)
    return std::nullopt;
  RgbaImage out;
  out.width = out.height = kIconSide;
  out.pixels.resize(kIconSide * kIconSide * 4);
  for (int y = 0; y < kIconSide; ++y) {
    for (int x = 0; x < kIconSide; ++x) {
      // Rows are stored bottom first; palette entries are blue, green, red, 0.
      const uint8_t index =
          bitmap[kPixels + static_cast<size_t>(kIconSide - 1 - y) * kIconSide + x];
      uint8_t* p = &out.pixels[(static_cast<size_t>(y) * kIconSide + x) * 4];
      p[0] = bitmap[kPalette + 4 * index + 2];
      p[1] = bitmap[kPalette + 4 * index + 1];
      p[2] = bitmap[kPalette + 4 * index + 0];
      p[3] = 255;
    }
  }
  return out;
}

}  // namespace travosk::manager
