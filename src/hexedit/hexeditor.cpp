#include "hexedit/hexeditor.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPalette>
#include <QScrollBar>
#include <algorithm>

#include "common/errors.h"
#include "hexedit/hexfiles.h"

namespace travosk {

namespace {

// The backup's name: the last extension of the file name replaced (or one
// added), as a backup of "save.psu" is "save.bak".
QString BackupName(const QString& fileName, const QString& extension) {
  const QFileInfo info(fileName);
  const QString name = info.fileName();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QString stem = dot > 0 ? name.left(dot) : name;
  return info.dir().filePath(stem + extension);
}

bool SameFile(const QString& a, const QString& b) {
  const QFileInfo ia(a);
  const QFileInfo ib(b);
  if (ia.exists() && ib.exists()) return ia.canonicalFilePath() == ib.canonicalFilePath();
  return ia.absoluteFilePath() == ib.absoluteFilePath();
}

}  // namespace

TColors::TColors()
    : Background(QPalette().color(QPalette::Base)),
      ChangedBackground(QPalette().color(QPalette::Base)) {}

QString FormatOffset(int64_t offset, TOffsetDisplay display, int minDigits) {
  switch (display) {
    case odHex:
      return QStringLiteral("%1").arg(offset, minDigits, 16, QLatin1Char('0')).toUpper();
    case odDec:
      return QStringLiteral("%1").arg(offset, minDigits, 10, QLatin1Char('0'));
    case odOctal:
      return QLatin1Char('0') + QStringLiteral("%1").arg(offset, minDigits, 8, QLatin1Char('0'));
    case odNone:
      break;
  }
  return QString();
}

int OffsetDigits(int64_t size, TOffsetDisplay display) {
  const int base = display == odHex ? 16 : display == odOctal ? 8 : 10;
  int digits = 1;
  for (int64_t v = std::max<int64_t>(size, 1); v >= base; v /= base) ++digits;
  return display == odNone ? 0 : std::max(digits, display == odHex ? 8 : 10);
}

THexEditor::THexEditor(QWidget* parent) : QAbstractScrollArea(parent) {
  markers_.fill(-1);
  QFont font(QStringLiteral("Courier New"), 10);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  setFont(font);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  fileName_ = QStringLiteral("Untitled");
  UpdateScrollBars();
}

THexEditor::~THexEditor() = default;

const QString& THexEditor::WorkingCopyPath() const {
  static const QString none;
  return data_.WorkingCopy() ? data_.WorkingCopy()->Path() : none;
}

void THexEditor::StateChanged() {
  UpdateScrollBars();
  viewport()->update();
  emit OnStateChanged();
}

// ---- properties ---------------------------------------------------------

void THexEditor::SetBytesPerLine(int value) {
  if (value < 1 || value > 256) throw EHexEditor("Invalid BytesPerLine argument");
  bytesPerLine_ = value;
  StateChanged();
}

void THexEditor::SetBytesPerColumn(int value) {
  bytesPerColumn_ = std::clamp(value, 1, 256);
  StateChanged();
}

void THexEditor::SetOffsetDisplay(TOffsetDisplay value) {
  offsetDisplay_ = value;
  StateChanged();
}

void THexEditor::SetOffsetSeparator(const QString& value) {
  offsetSeparator_ = value;
  StateChanged();
}

void THexEditor::SetTranslation(TTranslation value) {
  translation_ = value;
  StateChanged();
}

void THexEditor::SetCaretStyle(TCaretStyle value) {
  caretStyle_ = value;
  viewport()->update();
}

void THexEditor::SetAutoCaretMode(bool value) {
  autoCaretMode_ = value;
  ApplyCaretMode();
}

void THexEditor::SetShowMarkerColumn(bool value) {
  showMarkerColumn_ = value;
  StateChanged();
}

void THexEditor::SetSwapNibbles(bool value) {
  swapNibbles_ = value;
  viewport()->update();
}

void THexEditor::SetMaskWhiteSpaces(bool value) {
  maskWhiteSpaces_ = value;
  viewport()->update();
}

void THexEditor::SetNoSizeChange(bool value) {
  noSizeChange_ = value;
  if (value) SetInsertMode(false);
}

void THexEditor::SetMaskChar(QChar value) {
  maskChar_ = value;
  viewport()->update();
}

void THexEditor::SetGridLineWidth(int value) {
  gridLineWidth_ = std::clamp(value, 0, 4);
  viewport()->update();
}

void THexEditor::SetAllowInsertMode(bool value) {
  allowInsertMode_ = value;
  if (!value) SetInsertMode(false);
}

void THexEditor::SetInsertMode(bool value) {
  insertMode_ = value && allowInsertMode_ && !noSizeChange_;
  ApplyCaretMode();
  StateChanged();
}

void THexEditor::ApplyCaretMode() {
  if (autoCaretMode_) caretStyle_ = insertMode_ ? csLeftLine : csFull;
  viewport()->update();
}

void THexEditor::SetFocusFrame(bool value) {
  focusFrame_ = value;
  viewport()->update();
}

void THexEditor::SetColors(const TColors& value) {
  colors_ = value;
  viewport()->update();
}

// ---- files --------------------------------------------------------------

void THexEditor::OpenForEditing(const QString& fileName) {
  // The new copy is complete before anything of the old state goes, so a file
  // that cannot be read leaves the editor as it was.
  std::unique_ptr<TWorkingCopy> copy = TWorkingCopy::CopyOf(fileName);
  const bool writable = ::access(QFile::encodeName(fileName).constData(), W_OK) == 0;
  data_.Reset(std::move(copy));
  undo_.Clear();
  fileName_ = fileName;
  modified_ = false;
  readOnly_ = !writable;
  caret_ = 0;
  lowNibble_ = false;
  selStart_ = selEnd_ = anchor_ = -1;
  markers_.fill(-1);
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  StateChanged();
}

bool THexEditor::SaveToTarget(const QString& fileName) {
  saveError_.clear();
  QString reason;
  if (createBackup_ && modified_ && SameFile(fileName, fileName_) && QFileInfo::exists(fileName_)) {
    const QString backup = BackupName(fileName, backupExtension_);
    QFile source(fileName_);
    if (!source.open(QIODevice::ReadOnly)) {
      saveError_ = source.errorString();
      return false;
    }
    const bool copied = WriteFileAtomically(
        backup, [&](int fd, QString* why) { return CopyDescriptor(source.handle(), fd, why); },
        &reason);
    if (!copied) {
      saveError_ = reason + QStringLiteral(": ") + backup;
      return false;
    }
  }
  const bool written = WriteFileAtomically(
      fileName, [&](int fd, QString* why) { return data_.WriteTo(fd, why); }, &reason);
  if (!written) {
    saveError_ = reason + QStringLiteral(": ") + fileName;
    return false;
  }
  data_.ClearChangeMarks();
  modified_ = false;
  readOnly_ = false;
  fileName_ = fileName;
  undo_.Clear();
  StateChanged();
  return true;
}

void THexEditor::NewFile(const QString& fileName) {
  data_.Reset(nullptr);
  undo_.Clear();
  fileName_ = fileName;
  modified_ = false;
  readOnly_ = false;
  caret_ = 0;
  lowNibble_ = false;
  selStart_ = selEnd_ = anchor_ = -1;
  markers_.fill(-1);
  StateChanged();
}

// ---- caret and selection ------------------------------------------------

int64_t THexEditor::SelectionLength() const {
  return selStart_ < 0 ? 0 : SelectionHigh() - SelectionLow() + 1;
}

void THexEditor::SetSelectionStart(int64_t value) {
  if (value < -1 || value >= ByteCount()) throw EHexEditor("Invalid SelStart");
  if (value < 0) {
    ClearSelection();
    return;
  }
  selStart_ = value;
  if (selEnd_ < 0) selEnd_ = value;
  StateChanged();
}

void THexEditor::SetSelectionEnd(int64_t value) {
  if (value < -1 || value >= ByteCount()) throw EHexEditor("Invalid SelEnd");
  if (value < 0) {
    ClearSelection();
    return;
  }
  selEnd_ = value;
  if (selStart_ < 0) selStart_ = value;
  StateChanged();
}

void THexEditor::Select(int64_t start, int64_t end) {
  if (start < 0 || start >= ByteCount()) throw EHexEditor("Invalid SelStart");
  if (end < 0 || end >= ByteCount()) throw EHexEditor("Invalid SelEnd");
  selStart_ = anchor_ = start;
  selEnd_ = end;
  caret_ = end;
  lowNibble_ = false;
  EnsureCaretVisible();
  StateChanged();
}

void THexEditor::ClearSelection() {
  selStart_ = selEnd_ = anchor_ = -1;
  StateChanged();
}

void THexEditor::SetInCharField(bool value) {
  inCharField_ = value;
  lowNibble_ = false;
  viewport()->update();
}

void THexEditor::SetCaret(int64_t pos, bool extendSelection) {
  pos = std::clamp<int64_t>(pos, 0, ByteCount());
  if (extendSelection && ByteCount() > 0) {
    if (anchor_ < 0) anchor_ = std::min(caret_, ByteCount() - 1);
    selStart_ = anchor_;
    selEnd_ = std::min(pos, ByteCount() - 1);
  } else {
    selStart_ = selEnd_ = anchor_ = -1;
  }
  caret_ = pos;
  lowNibble_ = false;
  EnsureCaretVisible();
  StateChanged();
}

bool THexEditor::MoveCaret(int64_t offset, int origin, bool strict) {
  const int64_t size = ByteCount();
  if (size == 0) return false;
  int64_t target = offset;
  if (origin == 1) target = caret_ + offset;
  if (origin == 2) target = offset + size - 1;
  if (target < 0) {
    if (strict) return false;
    target = 0;
  } else if (target >= size) {
    if (strict) return false;
    target = size - 1;
  }
  SetCaret(target, false);
  return true;
}

uint8_t THexEditor::ByteAt(int64_t pos) const {
  return data_.At(pos);
}

std::vector<uint8_t> THexEditor::BufferFromFile(int64_t pos, int64_t count) const {
  if (pos < 0 || count < 0 || pos > ByteCount() || count > ByteCount() - pos) {
    throw EHexEditor("Invalid BufferFromFile argument");
  }
  return data_.Read(pos, count);
}

void THexEditor::SetMarker(int index, int64_t pos) {
  if (index < 0 || index >= kMarkerCount) throw EHexEditor("SetMarker : Invalid marker index");
  markers_[static_cast<size_t>(index)] = pos;
  viewport()->update();
}

int64_t THexEditor::Marker(int index) const {
  if (index < 0 || index >= kMarkerCount) throw EHexEditor("SetMarker : Invalid marker index");
  return markers_[static_cast<size_t>(index)];
}

}  // namespace travosk
