#include "hexedit/hextext.h"

#include <iconv.h>

#include <array>
#include <mutex>

namespace travosk {

namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";

int DigitValue(QChar c) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

using CharTable = std::array<char16_t, 256>;

// Tables come from the C library's converters rather than from hand-typed
// lists, so every set is complete and consistent with the system's.
CharTable BuildTable(const char* charset) {
  CharTable table{};
  table.fill(0xFFFD);
  iconv_t cd = iconv_open("UTF-16LE", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (int b = 0; b < 0x80; ++b) table[b] = static_cast<char16_t>(b);
    return table;
  }
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    unsigned char out[8] = {};
    char* inPtr = &in;
    size_t inLeft = 1;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof(out);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) &&
        sizeof(out) - outLeft == 2) {
      table[b] = static_cast<char16_t>(out[0] | (out[1] << 8));
    }
  }
  iconv_close(cd);
  return table;
}

const CharTable& Table(TTranslation translation) {
  static std::once_flag once;
  static std::array<CharTable, 5> tables;
  std::call_once(once, [] {
    tables[ttAnsi] = BuildTable("CP1252");
    tables[ttDos8] = BuildTable("CP437");
    tables[ttMac] = BuildTable("MACINTOSH");
    tables[ttEBCDIC] = BuildTable("IBM038");
    tables[ttASCII].fill(0xFFFD);
    for (int b = 0; b < 0x80; ++b) tables[ttASCII][b] = static_cast<char16_t>(b);
  });
  const int index = translation >= ttAnsi && translation <= ttEBCDIC ? translation : ttAnsi;
  return tables[index];
}

}  // namespace

QString BytesToHexText(std::span<const uint8_t> bytes, bool swapNibbles) {
  QString text(static_cast<qsizetype>(bytes.size() * 2), Qt::Uninitialized);
  QChar* out = text.data();
  for (const uint8_t b : bytes) {
    const int first = swapNibbles ? (b & 0x0F) : (b >> 4);
    const int second = swapNibbles ? (b >> 4) : (b & 0x0F);
    *out++ = QLatin1Char(kUpperDigits[first]);
    *out++ = QLatin1Char(kUpperDigits[second]);
  }
  return text;
}

QByteArray HexTextToBytes(QStringView text, bool swapNibbles) {
  QByteArray bytes;
  bytes.reserve(text.size() / 2);
  int pending = -1;
  for (const QChar c : text) {
    const int v = DigitValue(c);
    if (v < 0) continue;
    if (pending < 0) {
      pending = v;
      continue;
    }
    const int b = swapNibbles ? (v << 4) | pending : (pending << 4) | v;
    bytes.append(static_cast<char>(b));
    pending = -1;
  }
  return bytes;
}

QByteArray FindHexToBytes(QStringView text) {
  QString digits;
  for (const QChar c : text) {
    if (DigitValue(c) >= 0) digits.append(c);
  }
  if (digits.size() % 2 != 0) digits.prepend(QLatin1Char('0'));
  return HexTextToBytes(digits, false);
}

QChar ByteToChar(TTranslation translation, uint8_t byte) {
  return QChar(Table(translation)[byte]);
}

int CharToByte(TTranslation translation, QChar ch) {
  const CharTable& table = Table(translation);
  for (int b = 0; b < 256; ++b) {
    if (table[b] == ch.unicode() && ch.unicode() != 0xFFFD) return b;
  }
  return -1;
}

void TranslateFromAnsi(TTranslation translation, std::span<uint8_t> bytes) {
  if (translation == ttAnsi) return;
  for (uint8_t& b : bytes) {
    const int mapped = CharToByte(translation, ByteToChar(ttAnsi, b));
    if (mapped >= 0) b = static_cast<uint8_t>(mapped);
  }
}

const uint8_t* AnsiLowerCaseTable() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
      const int lower = CharToByte(ttAnsi, ByteToChar(ttAnsi, static_cast<uint8_t>(b)).toLower());
      t[b] = static_cast<uint8_t>(lower >= 0 ? lower : b);
    }
    return t;
  }();
  return table.data();
}

}  // namespace travosk
