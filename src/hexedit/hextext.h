// Hex text, the form in which the editor's bytes go to the clipboard and to
// exported files, and the character sets of the character field.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <span>

namespace travosk {

// Two digits of "0123456789ABCDEF" per byte, high nibble first (low nibble
// first when swapped), no separators.
QString BytesToHexText(std::span<const uint8_t> bytes, bool swapNibbles);

// Every hex digit (either case) counts and everything else is skipped; the
// digits pair up into bytes, the first of a pair being the high nibble (the
// low one when swapped); an unpaired last digit is dropped.
QByteArray HexTextToBytes(QStringView text, bool swapNibbles);

// The find box's reading of hex: the digits only, a "0" put in front while
// their number is odd, then pairs high nibble first.
QByteArray FindHexToBytes(QStringView text);

enum TTranslation { ttAnsi, ttDos8, ttASCII, ttMac, ttEBCDIC };

// The character a byte stands for in a character set; U+FFFD where the set
// has none.
QChar ByteToChar(TTranslation translation, uint8_t byte);
// The byte of a character in a character set, or -1.
int CharToByte(TTranslation translation, QChar ch);
// Converts bytes given in the Ansi set into translation, in place; a byte
// whose character the set lacks is kept.
void TranslateFromAnsi(TTranslation translation, std::span<uint8_t> bytes);
// Byte-wise lower-casing of the Ansi set, as the system lower-cases text.
const uint8_t* AnsiLowerCaseTable();

}  // namespace travosk
