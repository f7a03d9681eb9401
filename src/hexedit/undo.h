// The editor's undo list: each step records where the data were spliced, how
// many bytes went in and the pieces that came out, so undoing puts the old
// pieces back without copying any bytes.
#pragma once

#include <QString>
#include <cstdint>
#include <deque>
#include <optional>

#include "hexedit/hexdata.h"

namespace travosk {

enum class TUndoKind {
  ByteChanged = 0,
  BytesRemoved = 1,
  InsertBuffer = 2,
  ReplaceSelection = 3,
  AppendBuffer = 4,
  InsertNibble = 5,
  DeleteNibble = 6,
  Convert = 7,
};

QString UndoDescription(TUndoKind kind);

struct TUndoStep {
  TUndoKind kind = TUndoKind::ByteChanged;
  int64_t pos = 0;
  int64_t insertedLength = 0;
  TPieces removed;
  // What the user saw before the step, restored with it.
  int64_t caret = 0;
  int64_t selStart = -1;
  int64_t selEnd = -1;
  bool modified = false;
};

class TUndoList {
 public:
  static constexpr size_t kMaxSteps = 100;

  // Adds a step; the oldest is dropped when the list is full.
  void Push(TUndoStep step);
  std::optional<TUndoStep> Pop();
  bool Available() const { return !steps_.empty(); }
  // Description of the newest step, "No Undo" when there is none.
  QString Text() const;
  size_t Count() const { return steps_.size(); }
  void Clear() { steps_.clear(); }

 private:
  std::deque<TUndoStep> steps_;
};

}  // namespace travosk
