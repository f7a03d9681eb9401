// Odd hex text, read by the hex text reader and imported into the hex editor:
// lone and unpaired digits, prefixes, letters past F, full-width digits,
// accents, lone surrogates, NULs, line breaks and a megabyte of digits. Only
// ASCII hex digits count; everything else is skipped and an unpaired last
// digit is dropped, never an error. The import replaces the editor's contents
// with exactly those bytes, and empty text leaves an empty file empty.
#include <QtTest>
#include <cstdio>

#include "hexedit/hexeditor.h"
#include "hexedit/hextext.h"

using namespace travosk;

namespace {

struct HexCase {
  const char* name;
  QString text;
  bool swap;
  QByteArray bytes;  // what the reader makes of it
};

QString WithNul() {
  QString s = QStringLiteral("1");
  s.append(QChar(0));
  s.append(QLatin1Char('2'));
  return s;
}

QString LoneSurrogate() {
  QString s;
  s.append(QChar(0xD800));
  s.append(QStringLiteral("12"));
  s.append(QChar(0xDFFF));
  return s;
}

QList<HexCase> Cases() {
  return {
      {"empty", QString(), false, {}},
      {"one digit", QStringLiteral("A"), false, {}},
      {"odd number of digits", QStringLiteral("ABC"), false, QByteArray::fromHex("AB")},
      {"0x prefix", QStringLiteral("0x12"), false, QByteArray::fromHex("01")},
      {"letters past F", QStringLiteral("g h i z G"), false, {}},
      {"full-width digits", QString::fromUtf8("\xEF\xBC\x90\xEF\xBC\x91\xEF\xBC\xA1"), false, {}},
      {"accents between digits",
       QString::fromUtf8("\xC3\xA9"
                         "1\xC3\xA8"
                         "2"),
       false, QByteArray::fromHex("12")},
      {"lone surrogates", LoneSurrogate(), false, QByteArray::fromHex("12")},
      {"a NUL between digits", WithNul(), false, QByteArray::fromHex("12")},
      {"line breaks and tabs", QStringLiteral("\r\n\t4 1\r\n"), false, QByteArray::fromHex("41")},
      {"mixed case", QStringLiteral("aBcD"), false, QByteArray::fromHex("ABCD")},
      {"swapped nibbles, odd", QStringLiteral("123"), true, QByteArray::fromHex("21")},
      {"a megabyte of digits", QString(1 << 20, QLatin1Char('F')), false,
       QByteArray(1 << 19, char(0xFF))},
  };
}

}  // namespace

class HexTextHostileTest : public QObject {
  Q_OBJECT

 private slots:
  void everyOddTextReadsAsItsDigits() {
    int cases = 0, passed = 0;
    for (const HexCase& c : Cases()) {
      ++cases;
      const QByteArray read = HexTextToBytes(c.text, c.swap);

      THexEditor ed;
      ed.NewFile();
      ed.SetSwapNibbles(c.swap);
      ed.LoadHexText(c.text);
      const std::vector<uint8_t> all = ed.BufferFromFile(0, ed.ByteCount());
      const QByteArray imported(reinterpret_cast<const char*>(all.data()),
                                static_cast<qsizetype>(all.size()));

      const bool ok = read == c.bytes && imported == c.bytes;
      if (!ok)
        qWarning("hex text \"%s\": read %d bytes, imported %d, expected %d", c.name,
                 int(read.size()), int(imported.size()), int(c.bytes.size()));
      passed += ok;
    }
    // The find box pads an odd number of digits in front instead.
    const QList<QPair<QString, QByteArray>> find = {
        {QStringLiteral("ABC"), QByteArray::fromHex("0ABC")},
        {QString(), {}},
        {QStringLiteral("zz"), {}},
        {LoneSurrogate(), QByteArray::fromHex("12")},
    };
    for (const auto& [text, bytes] : find) {
      ++cases;
      const bool ok = FindHexToBytes(text) == bytes;
      if (!ok) qWarning("find box hex \"%s\" reads wrong", qPrintable(text.left(16)));
      passed += ok;
    }
    std::printf("hostile inputs (hex text): %d cases, %d passed\n", cases, passed);
    QCOMPARE(passed, cases);
  }
};

QTEST_MAIN(HexTextHostileTest)
#include "hextext_hostile_test.moc"
