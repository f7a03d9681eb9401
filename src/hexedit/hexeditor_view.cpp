// THexEditor's grid: layout in character cells of the fixed-pitch font,
// painting of the visible lines, and keyboard and mouse editing.
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "hexedit/hexeditor.h"

namespace travosk {

namespace {
constexpr int kMarkerChars = 2;
}

int THexEditor::CharWidth() const {
  return std::max(1, QFontMetrics(font()).horizontalAdvance(QLatin1Char('0')));
}

int THexEditor::LineHeight() const {
  return QFontMetrics(font()).height() + gridLineWidth_;
}

int THexEditor::OffsetChars() const {
  const int marker = showMarkerColumn_ ? kMarkerChars : 0;
  if (offsetDisplay_ == odNone) return marker;
  const int digits =
      OffsetDigits(ByteCount(), offsetDisplay_) + (offsetDisplay_ == odOctal ? 1 : 0);
  return marker + digits + static_cast<int>(offsetSeparator_.size()) + 1;
}

int THexEditor::ValueColumn(int indexInLine) const {
  return OffsetChars() + indexInLine * 2 + indexInLine / bytesPerColumn_;
}

int THexEditor::CharColumn(int indexInLine) const {
  const int groups = (bytesPerLine_ + bytesPerColumn_ - 1) / bytesPerColumn_;
  return OffsetChars() + bytesPerLine_ * 2 + groups + 1 + indexInLine;
}

int THexEditor::TotalColumns() const {
  return CharColumn(bytesPerLine_) + 1;
}

int THexEditor::VisibleLines() const {
  return std::max(1, viewport()->height() / std::max(1, LineHeight()));
}

int64_t THexEditor::LineCount() const {
  // One more line than the bytes fill when the past-the-end cell starts it.
  return ByteCount() / bytesPerLine_ + 1;
}

void THexEditor::UpdateScrollBars() {
  const int64_t lines = LineCount();
  const int64_t maxLine = std::max<int64_t>(0, lines - VisibleLines());
  verticalScrollBar()->setRange(0, static_cast<int>(std::min<int64_t>(maxLine, INT32_MAX)));
  verticalScrollBar()->setPageStep(VisibleLines());
  const int width = TotalColumns() * CharWidth();
  horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
  horizontalScrollBar()->setPageStep(std::max(1, viewport()->width()));
  horizontalScrollBar()->setSingleStep(CharWidth());
}

void THexEditor::EnsureCaretVisible() {
  UpdateScrollBars();
  const int64_t line = caret_ / bytesPerLine_;
  const int top = verticalScrollBar()->value();
  if (line < top) {
    verticalScrollBar()->setValue(static_cast<int>(line));
  } else if (line >= top + VisibleLines()) {
    verticalScrollBar()->setValue(static_cast<int>(line - VisibleLines() + 1));
  }
}

QString THexEditor::CharCell(uint8_t byte) const {
  const QChar ch = ByteToChar(translation_, byte);
  const bool blank = ch.unicode() < 0x20 || ch.unicode() == 0x7F || !ch.isPrint();
  if (blank && (maskWhiteSpaces_ || ch.unicode() == 0xFFFD || ch.unicode() < 0x20)) {
    return QString(maskChar_);
  }
  return blank ? QStringLiteral(" ") : QString(ch);
}

THexEditor::Hit THexEditor::HitTest(const QPoint& point) const {
  Hit hit;
  const int cw = CharWidth();
  const int64_t line = verticalScrollBar()->value() + point.y() / std::max(1, LineHeight());
  const int column = (point.x() + horizontalScrollBar()->value()) / cw;
  int index = -1;
  if (column >= CharColumn(0)) {
    index = std::min(column - CharColumn(0), bytesPerLine_ - 1);
    hit.charField = true;
  } else {
    for (int i = bytesPerLine_ - 1; i >= 0; --i) {
      if (column >= ValueColumn(i)) {
        index = i;
        hit.lowNibble = column - ValueColumn(i) >= 1;
        break;
      }
    }
    if (index < 0) index = 0;
  }
  hit.pos = std::min(line * bytesPerLine_ + index, ByteCount());
  if (hit.pos == ByteCount()) hit.lowNibble = false;
  return hit;
}

void THexEditor::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.setFont(font());
  painter.fillRect(viewport()->rect(), colors_.Background);
  const int lh = LineHeight();
  const int64_t first = verticalScrollBar()->value();
  const int64_t lastLine = std::min<int64_t>(first + VisibleLines() + 1, LineCount());
  const int64_t from = first * bytesPerLine_;
  const int64_t to = std::min(ByteCount(), lastLine * bytesPerLine_);
  std::vector<uint8_t> bytes;
  if (to > from) bytes = data_.Read(from, to - from);
  painter.translate(-horizontalScrollBar()->value(), 0);
  for (int64_t line = first; line < lastLine; ++line) {
    const int64_t start = line * bytesPerLine_;
    const size_t offset = static_cast<size_t>(start - from);
    const size_t count =
        start < to ? static_cast<size_t>(std::min<int64_t>(bytesPerLine_, to - start)) : 0;
    PaintLine(painter, line, static_cast<int>((line - first) * lh),
              std::span<const uint8_t>(bytes).subspan(std::min(offset, bytes.size()), count));
  }
  painter.resetTransform();
  if (focusFrame_ && hasFocus()) {
    painter.setPen(QPen(colors_.CursorFrame, 1, Qt::DotLine));
    painter.drawRect(viewport()->rect().adjusted(0, 0, -1, -1));
  }
}

void THexEditor::PaintLine(QPainter& painter, int64_t line, int y, std::span<const uint8_t> bytes) {
  const int cw = CharWidth();
  const int lh = LineHeight();
  const int ascent = QFontMetrics(font()).ascent();
  const int64_t start = line * bytesPerLine_;
  const bool caretLine = caret_ / bytesPerLine_ == line;
  const auto cell = [&](int column, int chars) {
    return QRect(column * cw, y, chars * cw, lh - gridLineWidth_);
  };
  const auto text = [&](int column, const QString& s, const QColor& color) {
    painter.setPen(color);
    painter.drawText(column * cw, y + ascent, s);
  };
  if (showMarkerColumn_) {
    for (int m = 0; m < kMarkerCount; ++m) {
      if (markers_[static_cast<size_t>(m)] >= start &&
          markers_[static_cast<size_t>(m)] < start + bytesPerLine_) {
        text(0, QString::number(m), colors_.Offset);
      }
    }
  }
  if (offsetDisplay_ != odNone) {
    const int column = showMarkerColumn_ ? kMarkerChars : 0;
    const QString offset =
        FormatOffset(start, offsetDisplay_, OffsetDigits(ByteCount(), offsetDisplay_));
    QColor color = colors_.Offset;
    if (caretLine) {
      painter.fillRect(cell(column, static_cast<int>(offset.size())), colors_.PositionBackground);
      color = colors_.PositionText;
    }
    text(column, offset, color);
    text(column + static_cast<int>(offset.size()), offsetSeparator_, colors_.Offset);
  }
  const QPalette pal = palette();
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int64_t pos = start + static_cast<int64_t>(i);
    const int index = static_cast<int>(i);
    const bool selected = SelectionLength() > 0 && pos >= SelectionLow() && pos <= SelectionHigh();
    const bool changed = data_.IsChanged(pos);
    QColor fg = (index / bytesPerColumn_) % 2 == 0 ? colors_.OddColumn : colors_.EvenColumn;
    QColor charFg = colors_.Offset;
    if (changed) {
      painter.fillRect(cell(ValueColumn(index), 2), colors_.ChangedBackground);
      painter.fillRect(cell(CharColumn(index), 1), colors_.ChangedBackground);
      fg = charFg = colors_.ChangedText;
    }
    if (selected) {
      painter.fillRect(cell(ValueColumn(index), 2), pal.color(QPalette::Highlight));
      painter.fillRect(cell(CharColumn(index), 1), pal.color(QPalette::Highlight));
      fg = charFg = pal.color(QPalette::HighlightedText);
    }
    text(ValueColumn(index), BytesToHexText(bytes.subspan(i, 1), swapNibbles_), fg);
    text(CharColumn(index), CharCell(bytes[i]), charFg);
  }
  if (caretLine) {
    const int index = static_cast<int>(caret_ - start);
    const QRect valueCell = cell(ValueColumn(index) + (lowNibble_ ? 1 : 0), 1);
    const QRect charCell = cell(CharColumn(index), 1);
    const QRect active = inCharField_ ? charCell : valueCell;
    const QRect other = inCharField_ ? cell(ValueColumn(index), 2) : charCell;
    painter.setPen(QPen(colors_.CursorFrame, 1, Qt::DotLine));
    painter.drawRect(other.adjusted(0, 0, -1, -1));
    switch (caretStyle_) {
      case csFull:
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(active, Qt::white);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(colors_.CursorFrame);
        painter.drawRect(active.adjusted(0, 0, -1, -1));
        break;
      case csLeftLine:
        painter.fillRect(QRect(active.left(), active.top(), 2, active.height()),
                         colors_.CursorFrame);
        break;
      case csBottomLine:
        painter.fillRect(QRect(active.left(), active.bottom() - 1, active.width(), 2),
                         colors_.CursorFrame);
        break;
    }
  }
  if (gridLineWidth_ > 0) {
    painter.setPen(QPen(pal.color(QPalette::Mid), gridLineWidth_));
    painter.drawLine(0, y + lh - 1, TotalColumns() * cw, y + lh - 1);
  }
}

void THexEditor::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void THexEditor::scrollContentsBy(int, int) {
  viewport()->update();
}

void THexEditor::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    UpdateScrollBars();
    viewport()->update();
  }
}

void THexEditor::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void THexEditor::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

void THexEditor::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const Hit hit = HitTest(event->position().toPoint());
  inCharField_ = hit.charField;
  SetCaret(hit.pos, (event->modifiers() & Qt::ShiftModifier) != 0);
  lowNibble_ = hit.lowNibble && !inCharField_;
  anchor_ = (event->modifiers() & Qt::ShiftModifier) ? anchor_ : std::min(hit.pos, ByteCount() - 1);
  viewport()->update();
}

void THexEditor::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || anchor_ < 0) return;
  const Hit hit = HitTest(event->position().toPoint());
  if (hit.pos == caret_) return;
  SetCaret(hit.pos, true);
}

void THexEditor::keyPressEvent(QKeyEvent* event) {
  const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
  const bool ctrl = (event->modifiers() & Qt::ControlModifier) != 0;
  const int64_t bpl = bytesPerLine_;
  const int64_t page = static_cast<int64_t>(VisibleLines()) * bpl;
  switch (event->key()) {
    case Qt::Key_Left:
      SetCaret(caret_ - 1, shift);
      return;
    case Qt::Key_Right:
      SetCaret(caret_ + 1, shift);
      return;
    case Qt::Key_Up:
      if (caret_ >= bpl) SetCaret(caret_ - bpl, shift);
      return;
    case Qt::Key_Down:
      if (caret_ + bpl <= ByteCount()) SetCaret(caret_ + bpl, shift);
      return;
    case Qt::Key_PageUp:
      SetCaret(caret_ - std::min(page, caret_ / bpl * bpl), shift);
      return;
    case Qt::Key_PageDown:
      SetCaret(std::min(caret_ + page, ByteCount()), shift);
      return;
    case Qt::Key_Home:
      SetCaret(ctrl ? 0 : caret_ / bpl * bpl, shift);
      return;
    case Qt::Key_End:
      SetCaret(ctrl ? ByteCount() : std::min(caret_ / bpl * bpl + bpl - 1, ByteCount()), shift);
      return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      SetInCharField(!inCharField_);
      return;
    case Qt::Key_Insert:
      if (!shift && !ctrl) SetInsertMode(!insertMode_);
      return;
    case Qt::Key_Delete:
      DeleteAtCaret(false);
      return;
    case Qt::Key_Backspace:
      DeleteAtCaret(true);
      return;
    default:
      break;
  }
  const QString typed = event->text();
  if (ctrl || typed.size() != 1 || !typed[0].isPrint()) {
    QAbstractScrollArea::keyPressEvent(event);
    return;
  }
  if (inCharField_) {
    TypeCharacter(typed[0]);
    return;
  }
  const int digit = QStringLiteral("0123456789abcdef").indexOf(typed[0].toLower());
  if (digit >= 0) TypeHexDigit(digit);
}

}  // namespace travosk
