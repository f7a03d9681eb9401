// THexEditor's editing operations: each one is a splice of the piece table
// recorded as one undo step.
#include <QScrollBar>
#include <algorithm>

#include "hexedit/hexeditor.h"

namespace travosk {

void THexEditor::Splice(TUndoKind kind, int64_t pos, int64_t remove,
                        std::span<const uint8_t> insert) {
  TUndoStep step;
  step.kind = kind;
  step.pos = pos;
  step.insertedLength = static_cast<int64_t>(insert.size());
  step.caret = caret_;
  step.selStart = selStart_;
  step.selEnd = selEnd_;
  step.modified = modified_;
  step.removed = data_.Replace(pos, remove, insert);
  undo_.Push(std::move(step));
  modified_ = true;
}

void THexEditor::UndoLast() {
  std::optional<TUndoStep> step = undo_.Pop();
  if (!step) return;
  (void)data_.ReplaceWithPieces(step->pos, step->insertedLength, step->removed);
  modified_ = step->modified;
  caret_ = std::min(step->caret, ByteCount());
  selStart_ = step->selStart < ByteCount() ? step->selStart : -1;
  selEnd_ = step->selEnd < ByteCount() ? step->selEnd : -1;
  if (selStart_ < 0 || selEnd_ < 0) selStart_ = selEnd_ = -1;
  anchor_ = selStart_;
  lowNibble_ = false;
  EnsureCaretVisible();
  StateChanged();
}

int64_t THexEditor::FindBytes(QByteArray& pattern, int64_t length, bool translate, bool ignoreCase,
                              int64_t last, int64_t first) const {
  length = std::min<int64_t>(length, pattern.size());
  last = std::min(last, ByteCount() - 1);
  first = std::max<int64_t>(first, 0);
  if (length <= 0 || last - first + 1 < length) return -1;
  auto* bytes = reinterpret_cast<uint8_t*>(pattern.data());
  std::span<uint8_t> used(bytes, static_cast<size_t>(length));
  if (translate) TranslateFromAnsi(translation_, used);
  const uint8_t* fold = nullptr;
  if (ignoreCase) {
    fold = AnsiLowerCaseTable();
    for (uint8_t& b : used) b = fold[b];
  }
  return data_.Find(used, fold, first, last);
}

void THexEditor::ReplaceSelectionWith(const uint8_t* bytes, int64_t count) {
  if (count < 0 || (count > 0 && bytes == nullptr)) return;
  std::span<const uint8_t> insert(bytes, static_cast<size_t>(count));
  int64_t pos = caret_;
  int64_t remove = 0;
  TUndoKind kind = TUndoKind::InsertBuffer;
  if (SelectionLength() > 0) {
    pos = SelectionLow();
    remove = SelectionLength();
    kind = TUndoKind::ReplaceSelection;
  }
  if (noSizeChange_) {
    // A fixed size keeps the selection's length: longer runs are cut, shorter
    // ones replace only as many bytes from the selection's start.
    insert = insert.first(static_cast<size_t>(std::min(count, remove)));
    remove = static_cast<int64_t>(insert.size());
  }
  if (insert.empty() && remove == 0) return;
  Splice(kind, pos, remove, insert);
  if (insert.empty()) {
    selStart_ = selEnd_ = anchor_ = -1;
    caret_ = std::min(pos, ByteCount());
  } else {
    selStart_ = anchor_ = pos;
    selEnd_ = pos + static_cast<int64_t>(insert.size()) - 1;
    caret_ = selEnd_;
  }
  lowNibble_ = false;
  EnsureCaretVisible();
  StateChanged();
}

void THexEditor::AppendBytes(const uint8_t* bytes, int64_t count) {
  if (count <= 0 || bytes == nullptr || noSizeChange_) return;
  const int64_t pos = ByteCount();
  Splice(TUndoKind::AppendBuffer, pos, 0,
         std::span<const uint8_t>(bytes, static_cast<size_t>(count)));
  selStart_ = anchor_ = pos;
  selEnd_ = pos + count - 1;
  caret_ = selEnd_;
  lowNibble_ = false;
  EnsureCaretVisible();
  StateChanged();
}

void THexEditor::DeleteSelected() {
  if (SelectionLength() == 0 || noSizeChange_) return;
  const int64_t pos = SelectionLow();
  Splice(TUndoKind::BytesRemoved, pos, SelectionLength(), {});
  selStart_ = selEnd_ = anchor_ = -1;
  caret_ = std::min(pos, ByteCount());
  lowNibble_ = false;
  EnsureCaretVisible();
  StateChanged();
}

QByteArray THexEditor::CopySelection() const {
  if (SelectionLength() == 0) return QByteArray();
  QByteArray out(static_cast<qsizetype>(SelectionLength()), Qt::Uninitialized);
  data_.Read(SelectionLow(), SelectionLength(), reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

QString THexEditor::ToHexText() const {
  QString text;
  text.reserve(static_cast<qsizetype>(ByteCount() * 2));
  std::vector<uint8_t> chunk(static_cast<size_t>(THexData::kWindowSize));
  for (int64_t at = 0; at < ByteCount(); at += THexData::kWindowSize) {
    const int64_t len = std::min(THexData::kWindowSize, ByteCount() - at);
    data_.Read(at, len, chunk.data());
    text += BytesToHexText(std::span<const uint8_t>(chunk.data(), static_cast<size_t>(len)),
                           swapNibbles_);
  }
  return text;
}

void THexEditor::LoadHexText(QStringView text) {
  const QByteArray bytes = HexTextToBytes(text, swapNibbles_);
  if (bytes.isEmpty() && ByteCount() == 0) return;
  Splice(TUndoKind::ReplaceSelection, 0, ByteCount(),
         std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                  static_cast<size_t>(bytes.size())));
  selStart_ = selEnd_ = anchor_ = -1;
  caret_ = 0;
  lowNibble_ = false;
  EnsureCaretVisible();
  StateChanged();
}

namespace {

std::vector<uint8_t> Nibbles(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> nibbles;
  nibbles.reserve(bytes.size() * 2 + 2);
  for (const uint8_t b : bytes) {
    nibbles.push_back(b >> 4);
    nibbles.push_back(b & 0x0F);
  }
  return nibbles;
}

std::vector<uint8_t> PackNibbles(const std::vector<uint8_t>& nibbles) {
  std::vector<uint8_t> out(nibbles.size() / 2);
  for (size_t k = 0; k < out.size(); ++k) {
    out[k] = static_cast<uint8_t>((nibbles[2 * k] << 4) | nibbles[2 * k + 1]);
  }
  return out;
}

}  // namespace

bool THexEditor::InsertNibble(int64_t pos, bool highNibble) {
  if (pos < 0 || pos >= ByteCount() || noSizeChange_) return false;
  // Shifting by half a byte moves every later byte; the tail is rebuilt once
  // and recorded as one step. The data grow by one byte whose low nibble is 0.
  std::vector<uint8_t> nibbles = Nibbles(data_.Read(pos, ByteCount() - pos));
  nibbles.insert(nibbles.begin() + (highNibble ? 0 : 1), 0);
  nibbles.push_back(0);
  Splice(TUndoKind::InsertNibble, pos, ByteCount() - pos, PackNibbles(nibbles));
  StateChanged();
  return true;
}

bool THexEditor::DeleteNibble(int64_t pos, bool highNibble) {
  if (pos < 0 || pos >= ByteCount() || noSizeChange_) return false;
  // The size stays; the last byte's low nibble becomes 0.
  std::vector<uint8_t> nibbles = Nibbles(data_.Read(pos, ByteCount() - pos));
  nibbles.erase(nibbles.begin() + (highNibble ? 0 : 1));
  nibbles.push_back(0);
  Splice(TUndoKind::DeleteNibble, pos, ByteCount() - pos, PackNibbles(nibbles));
  StateChanged();
  return true;
}
void THexEditor::ConvertSelection(TTranslation from, TTranslation to) {
  if (SelectionLength() == 0) return;
  std::vector<uint8_t> bytes = data_.Read(SelectionLow(), SelectionLength());
  for (uint8_t& b : bytes) {
    const int mapped = CharToByte(to, ByteToChar(from, b));
    if (mapped >= 0) b = static_cast<uint8_t>(mapped);
  }
  const int64_t low = SelectionLow();
  const int64_t high = SelectionHigh();
  Splice(TUndoKind::Convert, low, SelectionLength(), bytes);
  selStart_ = anchor_ = low;
  selEnd_ = high;
  StateChanged();
}

// ---- typing ---------------------------------------------------------------

void THexEditor::TypeHexDigit(int digit) {
  const int64_t size = ByteCount();
  const bool atEnd = caret_ >= size;
  if (atEnd && noSizeChange_) return;
  // The first digit shown is the high nibble, or the low one when swapped.
  const bool highNibble = lowNibble_ == swapNibbles_;
  const auto place = [&](uint8_t old) -> uint8_t {
    return highNibble ? static_cast<uint8_t>((old & 0x0F) | (digit << 4))
                      : static_cast<uint8_t>((old & 0xF0) | digit);
  };
  if (!lowNibble_ && (insertMode_ || atEnd)) {
    const uint8_t b = place(0);
    Splice(TUndoKind::InsertBuffer, caret_, 0, std::span<const uint8_t>(&b, 1));
  } else {
    const uint8_t b = place(data_.At(caret_));
    Splice(TUndoKind::ByteChanged, caret_, 1, std::span<const uint8_t>(&b, 1));
  }
  selStart_ = selEnd_ = anchor_ = -1;
  if (lowNibble_) {
    ++caret_;
    lowNibble_ = false;
  } else {
    lowNibble_ = true;
  }
  EnsureCaretVisible();
  StateChanged();
}

void THexEditor::TypeCharacter(QChar ch) {
  const int byte = CharToByte(translation_, ch);
  if (byte < 0) return;
  const bool atEnd = caret_ >= ByteCount();
  if (atEnd && noSizeChange_) return;
  const auto b = static_cast<uint8_t>(byte);
  if (insertMode_ || atEnd) {
    Splice(TUndoKind::InsertBuffer, caret_, 0, std::span<const uint8_t>(&b, 1));
  } else {
    Splice(TUndoKind::ByteChanged, caret_, 1, std::span<const uint8_t>(&b, 1));
  }
  selStart_ = selEnd_ = anchor_ = -1;
  ++caret_;
  lowNibble_ = false;
  EnsureCaretVisible();
  StateChanged();
}

void THexEditor::DeleteAtCaret(bool backwards) {
  if (SelectionLength() > 0) {
    DeleteSelected();
    return;
  }
  if (!insertMode_ || noSizeChange_) return;
  const int64_t pos = backwards ? caret_ - 1 : caret_;
  if (pos < 0 || pos >= ByteCount()) return;
  Splice(TUndoKind::BytesRemoved, pos, 1, {});
  caret_ = pos;
  lowNibble_ = false;
  EnsureCaretVisible();
  StateChanged();
}

}  // namespace travosk
