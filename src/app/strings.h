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

inline QString Hex8(uint32_t value) {
  return QString::number(value, 16).toUpper().rightJustified(8, '0');
}

}  // namespace travosk
