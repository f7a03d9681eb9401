// convert: save files between formats and card images between layouts,
// without a card; new: a blank formatted card image. Reads go through the format layer's readers, so whatever
// restores also converts; nothing is written unless the whole input read.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "cli/commands.h"
#include "cli/outputs.h"
#include "common/errors.h"
#include "formats/files.h"
#include "formats/images.h"
#include "manager/newcard.h"
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
                 const std::string& in_path, const std::string& out, const std::string& format) {
  int code = kExitOk;
  const bool same_extension = formats::PathExtension(in_path) == formats::PathExtension(out);
  const auto target = ChooseImageFormat(
      c, out, format, kind.ps1, same_extension ? std::optional(kind.format) : std::nullopt, code);
  if (!target) return code;
  std::vector<uint8_t> result;
  if (kind.ps1) {
    try {
      result = formats::WritePs1Image(Bytes(in).subspan(static_cast<size_t>(kind.header)), *target);
    } catch (const formats::FormatError& e) {
      return c.Fail(e.what());
    }
  } else {
    const bool ecc = *target == formats::ImageFormat::kPs2Raw;
    const size_t from = kind.spare ? kPage : kData;
    const size_t pages = in.size() / from;
    for (size_t p = 0; p < pages; ++p) {
      const uint8_t* page = in.data() + p * from;
      result.insert(result.end(), page, page + kData);
      if (ecc) {
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
  int code = kExitOk;
  if (std::error_code ec; std::filesystem::is_directory(in_path, ec))
    return c.Fail("\"" + in_path + "\" is a folder, not a save file or card image");
  if (!MayWrite(c, out_path, o.overwrite, code)) return code;
  std::vector<uint8_t> in;
  try {
    // The largest card image: 64 MB of 528-byte pages.
    constexpr uint64_t kLargestImage = (uint64_t{64} << 20) / kData * kPage;
    in = formats::LoadWholeFile(in_path, std::max(kLargestImage, formats::kMaxSaveFileBytes));
  } catch (const formats::FormatError&) {
    return c.Fail("\"" + in_path + "\" is larger than any card image or save");
  }
  if (const auto image = ImageOf(in_path, in))
    return ConvertImage(c, *image, in, in_path, out_path, format);

  // A save converts to a save format of its own kind; the name must fit it.
  std::vector<uint8_t> out;
  std::string reading = in_path;  // the file an error concerns
  try {
    const auto detected = formats::DetectSaveFormat(in, in_path);
    if (detected && formats::IsPs1Format(*detected)) {
      const auto save = formats::ReadPs1Save(in, in_path);
      const auto target = ChooseSaveFormat(
          c, out_path, format,
          {formats::SaveFormat::kMcs, formats::SaveFormat::kPsx, formats::SaveFormat::kRaw},
          "PS1 save", code);
      if (!target) return code;
      reading = out_path;
      out = formats::WritePs1Save(save, *target);
    } else {
      const auto save = formats::ReadPs2Save(in, in_path);
      const auto target = ChooseSaveFormat(
          c, out_path, format, {formats::SaveFormat::kPsu, formats::SaveFormat::kMax}, "PS2 save",
          code);
      if (!target) return code;
      reading = out_path;
      out = formats::WritePs2Save(save, *target);
    }
  } catch (const formats::FormatError& e) {
    return c.Fail("\"" + reading + "\": " + Reason(e.what()));
  } catch (const InOutError& e) {
    return c.Fail("\"" + reading + "\": " + Reason(e.reason()));
  }
  formats::WriteWholeFileAtomically(out_path, out);
  return kExitOk;
}

int NewImage(Context& c, const NewOptions& o) {
  int code = kExitOk;
  // The card kind: --kind, else what --format or the name says.
  std::optional<bool> ps1;
  if (!o.kind.empty()) ps1 = o.kind == "ps1";
  if (!ps1 && !o.format.empty())
    if (const auto f = formats::ImageFormatByName(o.format)) ps1 = formats::IsPs1Image(*f);
  if (!ps1) {
    const auto named = formats::ImageFormatsForPath(o.file);
    if (named.empty())
      return c.Fail("\"" + o.file + "\" is no name for a card image: give it a card image's "
                    "extension (.ps2, .mc2, .bin, .mcr, .mcd, .gme, .vgs, ...), or --kind or --format");
    ps1 = formats::IsPs1Image(named[0]);
  }
  const auto layout = ChooseImageFormat(c, o.file, o.format, *ps1, std::nullopt, code);
  if (!layout) return code;
  int megabytes = 8;
  if (!o.size.empty()) {
    if (*ps1) return c.Fail("a PS1 card holds 128 KB: --size is for PS2 cards");
    megabytes = o.size == "16M" ? 16 : 8;
  }
  if (!MayWrite(c, o.file, o.overwrite, code)) return code;
  try {
    manager::CreateCardImage(o.file, *layout, megabytes, o.overwrite);
  } catch (const InOutError& e) {
    return c.Fail("\"" + o.file + "\" was not made: " + Reason(e.reason()));
  }
  if (c.json)
    c.out << "{\"file\": " << JsonString(o.file) << ", \"format\": "
          << JsonString(std::string(formats::ImageFormatName(*layout))) << "}\n";
  else
    c.out << o.file << ": " << formats::ImageFormatName(*layout) << ", formatted\n";
  return kExitOk;
}

}  // namespace travosk::cli
