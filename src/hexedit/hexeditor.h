// THexEditor: the grid in which a file's bytes are shown and edited, one line
// of offset, values and characters per BytesPerLine bytes. It never edits the
// opened file: the bytes live in a piece table over a private working copy and
// reach the file only through SaveToTarget.
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QColor>
#include <QString>
#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "hexedit/hexdata.h"
#include "hexedit/hextext.h"
#include "hexedit/undo.h"

namespace travosk {

enum TOffsetDisplay { odHex, odDec, odOctal, odNone };
enum TCaretStyle { csFull, csLeftLine, csBottomLine };

struct TColors {
  QColor Background;
  QColor PositionBackground{Qt::darkRed};  // maroon
  QColor PositionText{Qt::red};
  QColor ChangedBackground;
  QColor ChangedText{Qt::red};
  QColor CursorFrame{Qt::black};
  QColor Offset{Qt::black};
  QColor OddColumn{Qt::blue};
  QColor EvenColumn{Qt::darkBlue};  // navy
  TColors();
};

// A caller passed a value the control cannot take ("Invalid SelStart", ...).
class EHexEditor : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The offset of a line as the offset column shows it: at least minDigits
// digits; octal carries a leading "0"; odNone gives an empty text.
QString FormatOffset(int64_t offset, TOffsetDisplay display, int minDigits);
// Digits an offset column needs for data of `size` bytes.
int OffsetDigits(int64_t size, TOffsetDisplay display);

class THexEditor : public QAbstractScrollArea {
  Q_OBJECT

 public:
  static constexpr int kMarkerCount = 10;

  explicit THexEditor(QWidget* parent = nullptr);
  ~THexEditor() override;

  // Published properties.
  int BytesPerLine() const { return bytesPerLine_; }
  void SetBytesPerLine(int value);
  int BytesPerColumn() const { return bytesPerColumn_; }
  void SetBytesPerColumn(int value);
  TOffsetDisplay OffsetDisplay() const { return offsetDisplay_; }
  void SetOffsetDisplay(TOffsetDisplay value);
  QString OffsetSeparator() const { return offsetSeparator_; }
  void SetOffsetSeparator(const QString& value);
  TTranslation Translation() const { return translation_; }
  void SetTranslation(TTranslation value);
  TCaretStyle CaretStyle() const { return caretStyle_; }
  void SetCaretStyle(TCaretStyle value);
  bool AutoCaretMode() const { return autoCaretMode_; }
  void SetAutoCaretMode(bool value);
  bool ShowMarkerColumn() const { return showMarkerColumn_; }
  void SetShowMarkerColumn(bool value);
  bool SwapNibbles() const { return swapNibbles_; }
  void SetSwapNibbles(bool value);
  bool MaskWhiteSpaces() const { return maskWhiteSpaces_; }
  void SetMaskWhiteSpaces(bool value);
  bool NoSizeChange() const { return noSizeChange_; }
  void SetNoSizeChange(bool value);
  QChar MaskChar() const { return maskChar_; }
  void SetMaskChar(QChar value);
  int GridLineWidth() const { return gridLineWidth_; }
  void SetGridLineWidth(int value);
  bool AllowInsertMode() const { return allowInsertMode_; }
  void SetAllowInsertMode(bool value);
  bool InsertMode() const { return insertMode_; }
  void SetInsertMode(bool value);
  bool FocusFrame() const { return focusFrame_; }
  void SetFocusFrame(bool value);
  QString BackupExtension() const { return backupExtension_; }
  void SetBackupExtension(const QString& value) { backupExtension_ = value; }
  bool CreateBackup() const { return createBackup_; }
  void SetCreateBackup(bool value) { createBackup_ = value; }
  const TColors& Colors() const { return colors_; }
  void SetColors(const TColors& value);

  // File and state.
  QString FileName() const { return fileName_; }
  bool Modified() const { return modified_; }
  bool ReadOnly() const { return readOnly_; }
  bool IsChanged(int64_t pos) const { return data_.IsChanged(pos); }
  const QString& WorkingCopyPath() const;

  // Throws InOutError (file and reason) when the file cannot be copied; the
  // data shown before stay as they were.
  void OpenForEditing(const QString& fileName);
  [[nodiscard]] bool SaveToTarget(const QString& fileName);
  // Why the last SaveToTarget failed.
  QString SaveError() const { return saveError_; }
  void NewFile(const QString& fileName = QStringLiteral("Untitled"));

  int64_t ByteCount() const { return data_.Size(); }
  int64_t CaretPosition() const { return caret_; }
  // The selection runs from SelectionStart to SelectionEnd, both included and
  // in either order; both are -1 when nothing is selected.
  int64_t SelectionStart() const { return selStart_; }
  int64_t SelectionEnd() const { return selEnd_; }
  int64_t SelectionLength() const;
  int64_t SelectionLow() const { return std::min(selStart_, selEnd_); }
  int64_t SelectionHigh() const { return std::max(selStart_, selEnd_); }
  void SetSelectionStart(int64_t value);
  void SetSelectionEnd(int64_t value);
  void Select(int64_t start, int64_t end);
  void ClearSelection();
  bool InCharField() const { return inCharField_; }
  void SetInCharField(bool value);

  uint8_t ByteAt(int64_t pos) const;
  std::vector<uint8_t> BufferFromFile(int64_t pos, int64_t count) const;

  [[nodiscard]] bool MoveCaret(int64_t offset, int origin, bool strict);
  int64_t FindBytes(QByteArray& pattern, int64_t length, bool translate, bool ignoreCase,
                    int64_t last, int64_t first) const;
  void ReplaceSelectionWith(const uint8_t* bytes, int64_t count);
  void AppendBytes(const uint8_t* bytes, int64_t count);
  void DeleteSelected();
  QByteArray CopySelection() const;
  QString ToHexText() const;
  void LoadHexText(QStringView text);
  // Shift every nibble from pos on by one nibble towards the end (insert, the
  // data grow by a byte) or the start (delete, a zero nibble comes in last).
  bool InsertNibble(int64_t pos, bool highNibble);
  bool DeleteNibble(int64_t pos, bool highNibble);
  // Re-encodes the selected characters from one character set into another.
  void ConvertSelection(TTranslation from, TTranslation to);

  void UndoLast();
  bool UndoAvailable() const { return undo_.Available(); }
  QString UndoText() const { return undo_.Text(); }
  size_t UndoCount() const { return undo_.Count(); }

  void SetMarker(int index, int64_t pos);
  int64_t Marker(int index) const;

 signals:
  void OnStateChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void changeEvent(QEvent* event) override;

 private:
  struct Hit {
    int64_t pos = -1;
    bool charField = false;
    bool lowNibble = false;
  };

  // Editing core: every change of the bytes passes here and becomes one step.
  void Splice(TUndoKind kind, int64_t pos, int64_t remove, std::span<const uint8_t> insert);
  void SetCaret(int64_t pos, bool extendSelection);
  void StateChanged();
  void ApplyCaretMode();
  void TypeHexDigit(int digit);
  void TypeCharacter(QChar ch);
  void DeleteAtCaret(bool backwards);

  // Layout in character cells, painting and hit testing (hexeditor_view.cpp).
  int CharWidth() const;
  int LineHeight() const;
  int OffsetChars() const;
  int ValueColumn(int indexInLine) const;
  int CharColumn(int indexInLine) const;
  int TotalColumns() const;
  int VisibleLines() const;
  int64_t LineCount() const;
  void UpdateScrollBars();
  void EnsureCaretVisible();
  Hit HitTest(const QPoint& point) const;
  QString CharCell(uint8_t byte) const;
  void PaintLine(QPainter& painter, int64_t line, int y, std::span<const uint8_t> bytes);

  THexData data_;
  TUndoList undo_;
  QString fileName_;
  QString saveError_;
  bool modified_ = false;
  bool readOnly_ = false;

  int64_t caret_ = 0;
  bool lowNibble_ = false;
  bool inCharField_ = false;
  int64_t selStart_ = -1;
  int64_t selEnd_ = -1;
  int64_t anchor_ = -1;
  std::array<int64_t, kMarkerCount> markers_{};

  int bytesPerLine_ = 16;
  int bytesPerColumn_ = 1;
  TOffsetDisplay offsetDisplay_ = odHex;
  QString offsetSeparator_ = QStringLiteral(":");
  TTranslation translation_ = ttAnsi;
  TCaretStyle caretStyle_ = csFull;
  bool autoCaretMode_ = true;
  bool showMarkerColumn_ = false;
  bool swapNibbles_ = false;
  bool maskWhiteSpaces_ = true;
  bool noSizeChange_ = false;
  QChar maskChar_{0x2E};
  int gridLineWidth_ = 0;
  bool allowInsertMode_ = true;
  bool insertMode_ = false;
  bool focusFrame_ = false;
  QString backupExtension_ = QStringLiteral(".bak");
  bool createBackup_ = true;
  TColors colors_;
};

}  // namespace travosk
