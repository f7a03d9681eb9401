#include "manager/icons.h"

#include <algorithm>

#include "manager/pcfile_io.h"
#include "manager/ps1card.h"
#include "manager/ps2mfmsys.h"

namespace travosk::manager {

namespace {

constexpr int kCardIconFrames = 16;
constexpr int kMaxIconFrames = 15;  // a nibble; with 16 card frames the last still fits

uint8_t At(Bytes data, size_t i) {
  return i < data.size() ? data[i] : 0;
}

PS1IconSet DecodeSave(Bytes save, int n, const std::string& bitmap_path) {
  PS1IconSet set;
  set.ps1_save = true;
  set.title = PS1IconTitle(save);
  n = std::clamp(n, 0, kMaxIconFrames);
  for (int k = 0; k < n; ++k) {
    set.frames.push_back(
        DecodePS1Icon(save, ps1icon::kFrames + ps1icon::kFrameBytes * k, bitmap_path));
  }
  return set;
}

}  // namespace

std::array<uint8_t, kIconBitmapBytes> BuildIconBitmap(const uint8_t* palette768,
                                                      const uint8_t* pixels1024) {
  std::array<uint8_t, kIconBitmapBytes> out{};
  MutableBytes b(out);
  b[0] = 'B';
  b[1] = 'M';
  store_le32(b, bmp::kFileSize, kIconBitmapBytes);
  store_le32(b, bmp::kPixelOffset, bmp::kPixels);
  store_le32(b, bmp::kInfoSize, 40);
  store_le32(b, bmp::kWidth, kIconSide);
  store_le32(b, bmp::kHeight, kIconSide);  // positive: rows bottom-up
  store_le16(b, bmp::kPlanes, 1);
  store_le16(b, bmp::kBitsPerPixel, 8);
  store_le32(b, bmp::kPixelBytes, kIconPixelBytes);
  for (size_t i = 0; i < bmp::kPaletteEntries; ++i) {
    std::copy_n(palette768 + 3 * i, 3, out.begin() + bmp::kHeaderBytes + 4 * i);
  }
  std::copy_n(pixels1024, kIconPixelBytes, out.begin() + bmp::kPixels);
  return out;
}

void WriteIconBitmap(const uint8_t* palette768, const uint8_t* pixels1024,
                     const std::string& file) {
  const auto bitmap = BuildIconBitmap(palette768, pixels1024);
  WriteWholeFile(file, bitmap.data(), bitmap.size());
}

std::string PS1IconTitle(Bytes save) {
  return load_non_nul(save, ps1icon::kTitle, ps1icon::kTitleBytes);
}

DecodedIcon DecodePS1Icon(Bytes save, size_t offset, const std::string& bitmap_path) {
  // Palette entries 16..255 stay black: no pixel refers to them.
  std::array<uint8_t, kIconPaletteBytes> palette{};
  for (size_t i = 0; i < 16; ++i) {
    const uint16_t v = static_cast<uint16_t>(At(save, ps1icon::kPalette + 2 * i) |
                                             At(save, ps1icon::kPalette + 2 * i + 1) << 8);
    palette[3 * i + 0] = static_cast<uint8_t>(((v >> 10) & 0x1F) * 8);  // blue
    palette[3 * i + 1] = static_cast<uint8_t>(((v >> 5) & 0x1F) * 8);   // green
    palette[3 * i + 2] = static_cast<uint8_t>((v & 0x1F) * 8);          // red
  }

  // Each source pixel becomes a 2 × 2 square; the bitmap stores rows bottom-up.
  std::array<uint8_t, kIconPixelBytes> pixels{};
  for (int r = 0; r < 16; ++r) {
    const int source_row = 15 - r;
    for (int j = 0; j < 8; ++j) {
      const uint8_t byte = At(save, offset + static_cast<size_t>(source_row * 8 + j));
      const uint8_t left = byte & 0x0F;
      const uint8_t right = byte >> 4;
      for (int row = 2 * r; row <= 2 * r + 1; ++row) {
        uint8_t* out = pixels.data() + row * kIconSide + 4 * j;
        out[0] = out[1] = left;
        out[2] = out[3] = right;
      }
    }
  }

  DecodedIcon icon;
  icon.bitmap = BuildIconBitmap(palette.data(), pixels.data());
  for (int y = 0; y < kIconSide; ++y) {
    for (int x = 0; x < kIconSide; ++x) {
      const uint8_t index = pixels[(kIconSide - 1 - y) * kIconSide + x];
      uint8_t* rgb = icon.rgb.data() + 3 * (y * kIconSide + x);
      rgb[0] = palette[3 * index + 2];
      rgb[1] = palette[3 * index + 1];
      rgb[2] = palette[3 * index + 0];
    }
  }
  WriteWholeFile(bitmap_path, icon.bitmap.data(), icon.bitmap.size());
  return icon;
}

IconSysInfo ReadIconSys(TPS2MFMSYS& mgr, card::TfileIP& entry, int k) {
  const std::string path = InFolder(mgr.WorkFolder(), kIconSysTempFile);
  // An entry that cannot be exported must not show the previous save's title.
  if (!mgr.ExportFile(path, entry)) return {};
  auto in = PcInFile::Open(path);
  if (!in) return {};
  const std::vector<uint8_t> data = in->ReadPrefix(kExportedDataStart + formats::iconsys::kBytes);
  const formats::IconSysText text =
      formats::ReadIconSysText(Bytes(data).subspan(std::min(data.size(), kExportedDataStart)));
  IconSysInfo info{text.title, text.title_lines, {}};
  if (k >= 1 && k <= 3) info.icon_file = text.icon_files[static_cast<size_t>(k - 1)];
  return info;
}

PS1IconSet LoadFolderPS1Icons(TPS2MFMSYS& mgr, card::TfileIP& entry) {
  const std::string path = InFolder(mgr.WorkFolder(), kFolderIconTempFile);
  if (!mgr.ExportFile(path, entry)) return {};
  auto in = PcInFile::Open(path);
  if (!in) return {};
  const std::vector<uint8_t> save = in->ReadPrefix(ps1icon::kFileBytes);
  // Anything else would show its bytes as a title and a palette.
  if (At(save, ps1icon::kMagic) != 'S' || At(save, ps1icon::kMagic + 1) != 'C') return {};
  return DecodeSave(save, At(save, ps1icon::kIconFlag) & 0x0F,
                    InFolder(mgr.WorkFolder(), kIconBitmapFile));
}

PS1IconSet LoadCardPS1Icons(TPS2MFMSYS& mgr, int e, int n) {
  if (e < 0 || e >= kPS1Entries) return {};
  std::vector<uint8_t> save(kExportedDataStart, 0);
  link::Page page{};
  for (int i = 0; i < kCardIconFrames; ++i) {
    if (!mgr.ReadPS1Frame(PS1BlockFirstFrame(e) + i, page)) return {};
    save.insert(save.end(), page.begin(), page.begin() + kPS1FrameBytes);
  }
  WriteWholeFile(InFolder(mgr.WorkFolder(), kCardIconTempFile), save.data(), save.size());
  return DecodeSave(save, n, InFolder(mgr.WorkFolder(), kIconBitmapFile));
}

}  // namespace travosk::manager
