#include "hexedit/undo.h"

namespace travosk {

QString UndoDescription(TUndoKind kind) {
  switch (kind) {
    case TUndoKind::ByteChanged:
      return QStringLiteral("Byte changed");
    case TUndoKind::BytesRemoved:
      return QStringLiteral("Byte(s) removed");
    case TUndoKind::InsertBuffer:
      return QStringLiteral("Insert buffer");
    case TUndoKind::ReplaceSelection:
      return QStringLiteral("Replace selection");
    case TUndoKind::AppendBuffer:
      return QStringLiteral("Append buffer");
    case TUndoKind::InsertNibble:
      return QStringLiteral("Insert nibble");
    case TUndoKind::DeleteNibble:
      return QStringLiteral("Delete nibble");
    case TUndoKind::Convert:
      return QStringLiteral("Convert");
  }
  return QString();
}

void TUndoList::Push(TUndoStep step) {
  if (steps_.size() >= kMaxSteps) steps_.pop_front();
  steps_.push_back(std::move(step));
}

std::optional<TUndoStep> TUndoList::Pop() {
  if (steps_.empty()) return std::nullopt;
  TUndoStep step = std::move(steps_.back());
  steps_.pop_back();
  return step;
}

QString TUndoList::Text() const {
  return steps_.empty() ? QStringLiteral("No Undo") : UndoDescription(steps_.back().kind);
}

}  // namespace travosk
