// Conversions between the card's raw 8-bit texts, PC paths and Qt strings.
#pragma once

#include <QFile>
#include <QString>
#include <string>

#include "common/sjis.h"

namespace travosk {

// A name or title from a card, decoded from Shift-JIS for display.
inline QString Decoded(const std::string& raw) {
  return QString::fromStdString(DecodeShiftJis(raw));
}

// A PC path as the core takes it.
inline std::string PathOf(const QString& path) { return QFile::encodeName(path).toStdString(); }

// A save's name as a PC file name: path separators and control characters
// become "_", and a name of dots alone gets a "_" in front.
inline QString SafeFileName(QString name) {
  for (QChar& c : name)
    if (c == '/' || c == '\\' || c.unicode() < 0x20) c = '_';
  if (name.isEmpty() || name.count('.') == name.size()) name.prepend('_');
  return name;
}

inline QString Hex8(uint32_t value) {
  return QString::number(value, 16).toUpper().rightJustified(8, '0');
}

}  // namespace travosk
