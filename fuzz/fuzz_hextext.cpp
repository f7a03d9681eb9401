// Hex text as the hex editor reads it from the clipboard, an import or the
// find box. The first input byte chooses the nibble order, the text's
// encoding (UTF-8 or UTF-16) and a character set; the rest is the text. The
// digits that come out pair up exactly, print back as the text's own digits,
// and every character a set maps to a byte maps back.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "fuzz_support.h"
#include "hexedit/hextext.h"

using namespace travosk;

namespace {

bool IsHexDigit(QChar c) {
  const char16_t u = c.unicode();
  return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  const bool swap = flags & 1;
  const auto body = std::span<const uint8_t>(data + 1, size - 1);
  QString text;
  if (flags & 2) {
    // UTF-16 code units, lone surrogates and all; copied, since the input
    // need not be aligned for them.
    std::u16string units(body.size() / 2, u'\0');
    std::memcpy(units.data(), body.data(), units.size() * sizeof(char16_t));
    text = QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()));
  } else {
    text = QString::fromUtf8(reinterpret_cast<const char*>(body.data()),
                             static_cast<qsizetype>(body.size()));
  }

  QString digits;
  for (const QChar c : text)
    if (IsHexDigit(c)) digits.append(c.toUpper());

  const QByteArray bytes = HexTextToBytes(text, swap);
  fuzz::Require(bytes.size() == digits.size() / 2, "hex text gave the wrong number of bytes");
  const QString printed =
      BytesToHexText(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                              static_cast<size_t>(bytes.size())),
                     swap);
  fuzz::Require(printed == digits.left(bytes.size() * 2),
                "hex text does not print back as its digits");

  const QByteArray found = FindHexToBytes(text);
  fuzz::Require(found.size() == (digits.size() + 1) / 2,
                "the find box's hex gave the wrong number of bytes");

  const auto translation = static_cast<TTranslation>((flags >> 2) % 5);
  for (qsizetype i = 0; i < text.size() && i < 64; ++i) {
    const int b = CharToByte(translation, text[i]);
    if (b >= 0)
      fuzz::Require(ByteToChar(translation, static_cast<uint8_t>(b)) == text[i],
                    "a character set does not map a byte back to its character");
  }
  return 0;
}
