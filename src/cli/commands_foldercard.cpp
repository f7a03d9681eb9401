#include <filesystem>

#include "cli/foldercard_convert.h"
#include "cli/outputs.h"
#include "cli/source.h"
#include "common/errors.h"
#include "formats/foldercard.h"
#include "formats/save.h"
#include "manager/foldercardimage.h"

namespace travosk::cli {

namespace {

namespace fs = std::filesystem;

// A folder that holds the emulator's index files but no superblock file is
// a damaged folder card, not some other folder.
bool LooksLikeFolderCard(const std::string& path) {
  std::error_code ec;
  if (!fs::is_directory(path, ec)) return false;
  if (fs::exists(fs::path(path) / formats::kFolderCardIndex, ec)) return true;
  for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_directory(ec) && fs::exists(it->path() / formats::kFolderCardIndex, ec)) return true;
  return false;
}

std::string WorkFolder(Context& c) {
  return c.source.workdir.empty() ? DefaultWorkFolder() : c.source.workdir;
}

}  // namespace

std::optional<int> ConvertFolderCard(Context& c, const ConvertOptions& o) {
  std::error_code ec;
  const bool from_folder = formats::IsFolderCard(o.in) || LooksLikeFolderCard(o.in);
  const bool to_folder = formats::NamesFolderCard(o.out) || fs::is_directory(o.out, ec);
  if (!from_folder && !to_folder) return std::nullopt;
  if (from_folder && to_folder)
    return c.Fail("\"" + o.in + "\" and \"" + o.out + "\" are both folder cards: copy the folder");
  int code = kExitOk;
  const std::string& failing = from_folder ? o.in : o.out;
  try {
    if (from_folder) {
      if (!MayWrite(c, o.out, o.overwrite, code)) return code;
      const auto target = ChooseImageFormat(c, o.out, o.format, false, std::nullopt, code);
      if (!target) return code;
      manager::ConvertFolderCardToImage(o.in, o.out, *target, WorkFolder(c));
    } else {
      manager::ConvertImageToFolderCard(o.in, o.out, WorkFolder(c));
    }
  } catch (const formats::FormatError& e) {
    return c.Fail(e.what());
  } catch (const InOutError& e) {
    return c.Fail("\"" + (e.file().empty() ? failing : e.file()) + "\": " + e.reason());
  }
  return kExitOk;
}

}  // namespace travosk::cli
