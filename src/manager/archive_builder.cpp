#include "manager/archive_builder.h"

#include "formats/psu.h"

namespace travosk::manager {

std::string BuildSaveArchive(const std::string& folder, const std::vector<ArchiveFile>& files,
                             std::time_t when) {
  formats::Ps2Save save = formats::MakeSave(folder, when);
  for (const auto& f : files) {
    const auto content = Bytes(reinterpret_cast<const uint8_t*>(f.data.data()), f.data.size());
    formats::AddFile(
        save, formats::MakeFile(
                  formats::MakeEntry(f.mode, static_cast<uint32_t>(f.data.size()), f.name, when),
                  content));
  }
  const auto bytes = formats::WritePsu(save);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace travosk::manager
