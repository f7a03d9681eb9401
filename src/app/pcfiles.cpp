#include "app/pcfiles.h"

#include <QFileInfo>

#include "formats/files.h"
#include "manager/inspectarchive.h"

namespace travosk {

SaveFileFacts PS2SaveFileFacts(const QString& path) {
  const int64_t length = QFileInfo(path).size();
  const auto info = manager::InspectArchive(PathOf(path));
  if (!info) return {ArchiveSaveName(path), length};
  const QByteArray head = ReadFilePrefix(path, 512);
  const auto format = formats::DetectSaveFormat(ToBytes(head), PathOf(path));
  if (format == formats::SaveFormat::kPsu || !format) return {info->name, length};
  return {info->name, static_cast<int64_t>(info->clusters * formats::kBlockBytes)};
}

}  // namespace travosk
