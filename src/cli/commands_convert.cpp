// convert: save files between formats and card images between layouts,
// without a card. Reads go through the format layer's readers, so whatever
// restores also converts; nothing is written unless the whole input read.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "cli/commands.h"
#include "common/errors.h"
#include "formats/files.h"
#include "formats/images.h"
#include "sim/ecc.h"

namespace travosk::cli {

namespace {

constexpr size_t kPage = 528;
constexpr size_t kData = 512;
constexpr size_t kPagesPerBlock = 16;
constexpr std::string_view kPs2Magic = "Sony PS2 Memory Card Format ";

// A card image opens with its superblock, or is a PS1 image that the image
// layer recognises; anything else is taken as a save file.
std::optional<formats::ImageKind> ImageOf(const std::string& path,
                                          const std::vector<uint8_t>& bytes) {
  const auto kind = formats::IdentifyImage(bytes, bytes.size(), path);
  if (!kind) return std::nullopt;
  if (kind->ps1) {
    const size_t at = static_cast<size_t>(kind->header);
    const bool card = bytes[at] == 'M' && bytes[at + 1] == 'C';
    return card || kind->format != formats::ImageFormat::kPs1Raw ? kind : std::nullopt;
  }
  if (bytes.size() < kPs2Magic.size() ||
      std::memcmp(bytes.data(), kPs2Magic.data(), kPs2Magic.size()) != 0)
    return std::nullopt;
  return kind;
}

int ConvertImage(Context& c, const formats::ImageKind& kind, const std::vector<uint8_t>& in,
                 const std::string& out, std::string format) {
  std::vector<uint8_t> result;
  if (kind.ps1) {
    formats::ImageFormat target = formats::Ps1ImageFormatForPath(out);
    if (format == "ps1")
      target = formats::ImageFormat::kPs1Raw;
    else if (format == "gme")
      target = formats::ImageFormat::kPs1Gme;
    else if (format == "vgs")
      target = formats::ImageFormat::kPs1Vgs;
    else if (!format.empty())
      return c.Fail("a PS1 card image is written as ps1, gme or vgs");
    try {
      result = formats::WritePs1Image(Bytes(in).subspan(static_cast<size_t>(kind.header)), target);
    } catch (const formats::FormatError& e) {
      return c.Fail(e.what());
    }
  } else {
    if (format.empty()) format = kind.spare ? "ps2-noecc" : "ps2";
    if (format != "ps2" && format != "ps2-noecc")
      return c.Fail("a PS2 card image is written as ps2 or ps2-noecc");
    const size_t from = kind.spare ? kPage : kData;
    const size_t pages = in.size() / from;
    for (size_t p = 0; p < pages; ++p) {
      const uint8_t* page = in.data() + p * from;
      result.insert(result.end(), page, page + kData);
      if (format == "ps2") {
        // The spare bytes are the page's code, made afresh from its data.
        // The pages of an erased block (all 0xFF) keep erased spare bytes,
        // as flash does; a page written with 0xFF among data has its code.
        const uint8_t* block = in.data() + p / kPagesPerBlock * kPagesPerBlock * from;
        const bool erased =
            std::all_of(block, block + kPagesPerBlock * from, [](uint8_t b) { return b == 0xFF; });
        const auto spare = sim::PageSpare(std::span<const uint8_t, 512>(page, kData));
        if (erased)
          result.insert(result.end(), kPage - kData, 0xFF);
        else
          result.insert(result.end(), spare.begin(), spare.end());
      }
    }
  }
  formats::WriteWholeFileAtomically(out, result);
  return kExitOk;
}

}  // namespace

int Convert(Context& c, const ConvertOptions& o) {
  const std::string &in_path = o.in, &out_path = o.out, &format = o.format;
  if (!o.overwrite && std::filesystem::exists(out_path))
    return c.Fail("\"" + out_path + "\" exists: add --overwrite to replace it");
  std::vector<uint8_t> in;
  try {
    // The largest card image: 64 MB of 528-byte pages.
    constexpr uint64_t kLargestImage = (uint64_t{64} << 20) / kData * kPage;
    in = formats::LoadWholeFile(in_path, std::max(kLargestImage, formats::kMaxSaveFileBytes));
  } catch (const formats::FormatError&) {
    return c.Fail("\"" + in_path + "\" is larger than any card image or save");
  }
  if (const auto image = ImageOf(in_path, in)) return ConvertImage(c, *image, in, out_path, format);

  std::optional<formats::SaveFormat> chosen;
  if (!format.empty()) {
    chosen = formats::FormatByName(format);
    if (!chosen)
      return c.Fail("unknown save format \"" + format + "\" (psu, max, mcs, psx or raw)");
  }
  std::vector<uint8_t> out;
  std::string reading = in_path;  // the file an error concerns
  try {
    const auto detected = formats::DetectSaveFormat(in, in_path);
    if (detected && formats::IsPs1Format(*detected)) {
      const auto save = formats::ReadPs1Save(in, in_path);
      const auto target = chosen.value_or(formats::Ps1FormatForPath(out_path));
      if (!formats::IsPs1Format(target)) return c.Fail("a PS1 save is written as mcs, psx or raw");
      reading = out_path;
      out = formats::WritePs1Save(save, target);
    } else {
      const auto save = formats::ReadPs2Save(in, in_path);
      const auto target = chosen.value_or(formats::FormatForPath(out_path));
      if (formats::IsPs1Format(target)) return c.Fail("a PS2 save is written as psu or max");
      reading = out_path;
      out = formats::WritePs2Save(save, target);
    }
  } catch (const formats::FormatError& e) {
    return c.Fail("\"" + reading + "\": " + e.what());
  }
  formats::WriteWholeFileAtomically(out_path, out);
  return kExitOk;
}

}  // namespace travosk::cli
