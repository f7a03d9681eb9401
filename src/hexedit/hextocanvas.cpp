#include "hexedit/hextocanvas.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <cmath>
#include <limits>
#include <vector>

namespace travosk {

namespace {

QString ValueText(uint8_t b, TMemFieldDisplay display, bool swapNibbles) {
  switch (display) {
    case mfDec:
      return QStringLiteral("%1").arg(b, 3, 10, QLatin1Char('0'));
    case mfOctal:
      return QStringLiteral("%1").arg(b, 3, 8, QLatin1Char('0'));
    case mfHex:
      break;
  }
  return BytesToHexText(std::span<const uint8_t>(&b, 1), swapNibbles);
}

}  // namespace

THexToCanvas::THexToCanvas() : Font(QStringLiteral("Courier New"), 10) {
  Font.setStyleHint(QFont::TypeWriter);
  Font.setFixedPitch(true);
}

void THexToCanvas::SetBytesPerLine(int value) {
  if (value < 1 || value > 256) throw EHexEditor("Invalid Line Length argument");
  bytesPerLine_ = value;
}

void THexToCanvas::TakeEditorSettings() {
  if (HexEditor == nullptr) return;
  Font = HexEditor->font();
  BytesPerColumn = HexEditor->BytesPerColumn();
  OffsetSeparator = HexEditor->OffsetSeparator();
  OffsetDisplay = HexEditor->OffsetDisplay();
  SetBytesPerLine(HexEditor->BytesPerLine());
  SwapNibbles = HexEditor->SwapNibbles();
  MemFieldDisplay = mfHex;
  MemFieldSeparator = QStringLiteral(" ");
  DisplayCharField = true;
  CharFieldSeparator.clear();
}

QString THexToCanvas::LineText(int64_t offset, const uint8_t* bytes, int count) const {
  QString line;
  if (OffsetDisplay != odNone) {
    const int64_t size = HexEditor ? HexEditor->ByteCount() : offset;
    line += FormatOffset(offset, OffsetDisplay, OffsetDigits(size, OffsetDisplay));
    line += OffsetSeparator + QLatin1Char(' ');
  }
  const int width = MemFieldDisplay == mfHex ? 2 : 3;
  const int perColumn = std::max(1, BytesPerColumn);
  for (int i = 0; i < bytesPerLine_; ++i) {
    if (i > 0 && i % perColumn == 0) line += MemFieldSeparator;
    line += i < count ? ValueText(bytes[i], MemFieldDisplay, SwapNibbles)
                      : QString(width, QLatin1Char(' '));
  }
  if (DisplayCharField) {
    line += QLatin1Char(' ') + CharFieldSeparator;
    const TTranslation translation = HexEditor ? HexEditor->Translation() : ttAnsi;
    const QChar mask = HexEditor ? HexEditor->MaskChar() : QChar(0x2E);
    for (int i = 0; i < count; ++i) {
      const QChar ch = ByteToChar(translation, bytes[i]);
      line += ch.isPrint() && ch.unicode() >= 0x20 ? ch : mask;
    }
  }
  return line;
}

QFont THexToCanvas::FittedFont(QPainter& canvas, int width) const {
  // A full line of sample bytes measures the widest line the page can get.
  const std::vector<uint8_t> sample(static_cast<size_t>(bytesPerLine_), 'W');
  const QString line = LineText(0, sample.data(), bytesPerLine_);
  QFont font = Font;
  const auto fits = [&](double points) {
    QFont f = Font;
    f.setPointSizeF(points);
    return QFontMetricsF(f, canvas.device()).horizontalAdvance(line) <= width;
  };
  const double current = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
  if (fits(current) && !StretchToFit) return font;
  if (!StretchToFit && !ShrinkToFit) return font;
  double low = 0.5;
  double high = StretchToFit ? 1000.0 : current;
  for (int i = 0; i < 40; ++i) {
    const double mid = (low + high) / 2;
    (fits(mid) ? low : high) = mid;
  }
  font.setPointSizeF(low);
  return font;
}

int64_t THexToCanvas::PaintPage(QPainter& canvas, int64_t first, const QString& pageText,
                                const QString& headerText, int64_t last) {
  if (HexEditor == nullptr) return std::numeric_limits<int64_t>::max();
  last = std::min(last, HexEditor->ByteCount() - 1);
  if (last < first || first < 0) return first;
  const QPaintDevice* device = canvas.device();
  const int width = device->width() - LeftMargin - RightMargin;
  canvas.setFont(FittedFont(canvas, width));
  const QFontMetrics metrics(canvas.font(), canvas.device());
  const int textHeight = metrics.height();
  lineHeight_ = static_cast<int>(std::lround(textHeight * 1.2));
  if (lineHeight_ == textHeight) ++lineHeight_;
  int limit = device->height() - BottomMargin;
  if (!pageText.isEmpty()) {
    limit -= lineHeight_;
    canvas.drawText(LeftMargin, limit + metrics.ascent(), pageText);
  }
  int y = TopMargin;
  canvas.drawText(LeftMargin, y + metrics.ascent(), headerText);
  y += lineHeight_;
  int64_t pos = first;
  while (pos <= last && y + lineHeight_ <= limit) {
    const int count = static_cast<int>(std::min<int64_t>(bytesPerLine_, last - pos + 1));
    const std::vector<uint8_t> line = HexEditor->BufferFromFile(pos, count);
    canvas.drawText(LeftMargin, y + metrics.ascent(), LineText(pos, line.data(), count));
    pos += count;
    y += lineHeight_;
  }
  return pos;
}

}  // namespace travosk
