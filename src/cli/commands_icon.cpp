// `icon`: a save's own 3D icon rendered to a PNG file, or the generic
// picture when the save has no icon that can be used.
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/commands.h"
#include "manager/listing.h"
#include "cli/png.h"
#include "manager/icons.h"
#include "manager/saveicon.h"

namespace travosk::cli {

namespace {

namespace fs = std::filesystem;

// The supplied "PS2ICO.bmp": in the working folder, where TRAVOSK_DATA
// points, or beside the programs.
std::optional<manager::RgbaImage> GenericPicture(const std::string& work_folder) {
  std::vector<fs::path> places = {fs::path(work_folder) / manager::kGenericIconFile};
  if (const char* data = std::getenv("TRAVOSK_DATA"))
    places.push_back(fs::path(data) / manager::kGenericIconFile);
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec).parent_path();
  for (const char* dir : {"../data", "../share/travosk"})
    places.push_back(self / dir / manager::kGenericIconFile);
  for (const auto& place : places) {
    std::ifstream in(place, std::ios::binary);
    if (!in) continue;
    std::vector<uint8_t> bytes(manager::kIconBitmapBytes);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (auto picture = manager::DecodeGenericIcon(bytes)) return picture;
  }
  return std::nullopt;
}

}  // namespace

int WriteIcon(Context& c, const IconOptions& o) {
  c.source.only_reads = true;  // an image that may not be written is opened read-only
  const std::string &save = o.save, &out_path = o.out;
  const int size = o.size;
  int code = kExitOk;
  FoundSave found;
  if (!OpenListedSave(c, save, found, code)) return code;
  auto& m = found.source->Manager();
  std::string error;

  if (auto icon = manager::LoadSaveIcon(m, found.save->files, error)) {
    manager::IconView view;
    view.size = size;
    view.phase = manager::IconFramePhase(icon->icon, o.frame);
    WritePng(out_path, manager::RenderIcon(icon->icon, icon->look, view));
    return kExitOk;
  }
  const auto generic = GenericPicture(m.WorkFolder());
  if (!generic) return c.Fail(error + "; the generic picture PS2ICO.bmp was not found either");
  c.err << "travosk-cli: " << save << ": " << error << "; the generic picture is written\n";
  WritePng(out_path, manager::ScaleNearest(*generic, size));
  return kExitOk;
}

}  // namespace travosk::cli
