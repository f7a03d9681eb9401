#include "manager/inspectarchive.h"

#include <filesystem>

#include "common/errors.h"
#include "formats/files.h"

namespace travosk::manager {

std::optional<formats::Ps2Save> TryReadSave(const std::string& path) {
  try {
    return formats::ReadPs2SaveFile(path);
  } catch (const formats::FormatError&) {
  } catch (const InOutError&) {
  }
  return std::nullopt;
}

std::optional<ArchiveInfo> InspectArchive(const std::string& path) {
  const auto save = TryReadSave(path);
  if (!save) return std::nullopt;
  ArchiveInfo info;
  info.name = save->Name();
  info.files = static_cast<uint32_t>(save->files.size());
  info.clusters = save->Clusters();
  std::error_code ec;
  info.bytes = std::filesystem::file_size(path, ec);
  return info;
}

}  // namespace travosk::manager
