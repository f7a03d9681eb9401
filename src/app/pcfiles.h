// Reading the heads of the PC files that the workflows look into before they
// hand them to the card manager.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

#include "app/strings.h"
#include "common/bytes.h"
#include "common/errors.h"
#include "manager/inspectarchive.h"

namespace travosk {

// The bytes of a byte array, as the core reads them.
inline Bytes ToBytes(const QByteArray& a) {
  return {reinterpret_cast<const uint8_t*>(a.constData()), static_cast<size_t>(a.size())};
}

// The first count bytes of a file (fewer when it is shorter).
inline QByteArray ReadFilePrefix(const QString& path, qint64 count) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw InOutError(PathOf(path), file.errorString().toStdString());
  return file.read(count);
}

// The name of the save in a save file of any readable format; empty when the
// file holds none. A file that cannot be opened throws InOutError.
inline std::string ArchiveSaveName(const QString& path) {
  (void)ReadFilePrefix(path, 1);
  const auto info = manager::InspectArchive(PathOf(path));
  return info ? info->name : std::string();
}

// What the save commands need of a save file before the card manager reads
// it whole: the save's name and the bytes it counts against the free space.
struct SaveFileFacts {
  std::string name;
  int64_t bytes = 0;
};
// A PS2 save file of any format the core reads. A ".psu" counts its length;
// a compressed one the clusters its save takes. A file the core does not
// read gives the archive's name field and its length, and its append fails.
SaveFileFacts PS2SaveFileFacts(const QString& path);

}  // namespace travosk
