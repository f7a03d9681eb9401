// convert: save files between formats and card images between layouts,
// without a card; new: a blank formatted card image. Reads go through the format layer's readers, so whatever
// restores also converts; nothing is written unless the whole input read.
#include <algorithm>
#include <filesystem>

#include "cli/commands.h"
#include "cli/foldercard_convert.h"
#include "cli/outputs.h"
#include "common/errors.h"
#include "formats/files.h"
#include "formats/images.h"
#include "cli/source.h"
#include "common/atomic_file.h"
#include "manager/newcard.h"
#include "manager/resizecard.h"

namespace travosk::cli {

namespace {

int ConvertImage(Context& c, const formats::ImageKind& kind, const std::vector<uint8_t>& in,
                 const ConvertOptions& o) {
  const std::string &in_path = o.in, &out = o.out, &format = o.format;
  int code = kExitOk;
  const bool same_extension = formats::PathExtension(in_path) == formats::PathExtension(out);
  const auto target = ChooseImageFormat(
      c, out, format, kind.ps1, same_extension ? std::optional(kind.format) : std::nullopt, code);
  if (!target) return code;
  if (!o.size.empty()) {
    if (kind.ps1) return c.Fail("a PS1 card holds 128 KB: --size is for PS2 cards");
    try {
      const std::string work =
          c.source.workdir.empty() ? DefaultWorkFolder() : c.source.workdir;
      manager::ResizeCardImage(in_path, out, *target, std::stoi(o.size), work, o.overwrite);
    } catch (const InOutError& e) {
      return c.Fail("\"" + out + "\" was not made: " + Reason(e.reason()));
    }
    return kExitOk;
  }
  std::vector<uint8_t> result;
  try {
    result = formats::ConvertCardImage(in, kind, *target);
  } catch (const formats::FormatError& e) {
    return c.Fail(e.what());
  }
  formats::WriteWholeFileAtomically(out, result);
  return kExitOk;
}

int ConvertPs2Image(Context& c, const formats::ImageKind& kind, const ConvertOptions& o) {
  const std::string problem = formats::ImageOpenProblem(kind, std::filesystem::file_size(o.in));
  if (!problem.empty()) return c.Fail("\"" + o.in + "\" is " + problem);
  if (!o.size.empty()) return ConvertImage(c, kind, {}, o);
  int code = kExitOk;
  const bool same_extension = formats::PathExtension(o.in) == formats::PathExtension(o.out);
  const auto target = ChooseImageFormat(
      c, o.out, o.format, false, same_extension ? std::optional(kind.format) : std::nullopt, code);
  if (!target) return code;
  try {
    AtomicFile out(o.out);
    formats::ConvertPs2ImageFile(o.in, kind, *target, out.stream());
    out.Commit();
  } catch (const InOutError& e) {
    return c.Fail("\"" + o.out + "\" was not made: " + Reason(e.reason()));
  }
  return kExitOk;
}

}  // namespace

int Convert(Context& c, const ConvertOptions& o) {
  const std::string &in_path = o.in, &out_path = o.out, &format = o.format;
  int code = kExitOk;
  if (const auto folder_card = ConvertFolderCard(c, o)) return *folder_card;
  if (std::error_code ec; std::filesystem::is_directory(in_path, ec))
    return c.Fail("\"" + in_path + "\" is a folder, not a save file or card image");
  if (!MayWrite(c, out_path, o.overwrite, code)) return code;
  // A PS2 card goes through an erase block at a time, never whole in memory.
  std::optional<formats::ImageKind> ps2;
  try {
    ps2 = formats::IdentifyPs2CardImageFile(in_path);
  } catch (const InOutError& e) {
    return c.Fail("\"" + in_path + "\": " + Reason(e.reason()));
  }
  if (ps2) return ConvertPs2Image(c, *ps2, o);
  std::vector<uint8_t> in;
  try {
    in = formats::LoadWholeFile(in_path,
                                std::max(formats::kLargestImageBytes, formats::kMaxSaveFileBytes));
  } catch (const formats::FormatError&) {
    return c.Fail("\"" + in_path + "\" is larger than any card image or save");
  }
  if (!o.size.empty() && !formats::IdentifyCardImage(in, in_path))
    return c.Fail("\"" + in_path + "\" is no PS2 card image: --size moves a card's saves");
  if (const auto image = formats::IdentifyCardImage(in, in_path))
    return ConvertImage(c, *image, in, o);

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
    megabytes = std::stoi(o.size);  // "16M": the table admits only sizes of PS2 cards
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
