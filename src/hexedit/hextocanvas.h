// THexToCanvas lays the editor's bytes out on a page: a header line, as many
// data lines as fit between the margins, and an optional page text in the
// last line slot. Printing and the print preview draw through it.
#pragma once

#include <QFont>
#include <QString>
#include <cstdint>

#include "hexedit/hexeditor.h"

class QPainter;

namespace travosk {

enum TMemFieldDisplay { mfHex, mfDec, mfOctal };

class THexToCanvas {
 public:
  THexToCanvas();

  // Draws one page from `first` and returns the offset after the last byte
  // drawn (first itself when not one line fits); nothing is drawn when last <
  // first. Without an editor the result is the largest offset.
  int64_t PaintPage(QPainter& canvas, int64_t first, const QString& pageText,
                    const QString& headerText, int64_t last);

  // Takes the grid's font, layout and nibble order for printing.
  void TakeEditorSettings();

  // The text of one data line: offset, values, characters.
  QString LineText(int64_t offset, const uint8_t* bytes, int count) const;

  THexEditor* HexEditor = nullptr;
  QFont Font;
  TOffsetDisplay OffsetDisplay = odHex;
  QString OffsetSeparator = QStringLiteral(":");
  TMemFieldDisplay MemFieldDisplay = mfHex;
  QString MemFieldSeparator = QStringLiteral(" ");
  bool DisplayCharField = true;
  QString CharFieldSeparator;
  bool ShrinkToFit = false;
  bool StretchToFit = false;
  int BytesPerColumn = 1;
  bool SwapNibbles = false;
  // Margins in device pixels of the canvas.
  int LeftMargin = 0;
  int TopMargin = 0;
  int RightMargin = 0;
  int BottomMargin = 0;

  int BytesPerLine() const { return bytesPerLine_; }
  // "Invalid Line Length argument" for anything but 1 to 256.
  void SetBytesPerLine(int value);
  // Line height of the last page drawn, in device pixels.
  int LastLineHeight() const { return lineHeight_; }

 private:
  QFont FittedFont(QPainter& canvas, int width) const;

  int bytesPerLine_ = 16;
  int lineHeight_ = 0;
};

}  // namespace travosk
