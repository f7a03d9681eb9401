// The bytes the hex editor shows: a piece table over the working copy. The
// working copy is never written; every edit appends its new bytes to an
// in-memory buffer and rewrites the short list of pieces, so opening a file of
// any size costs one kernel copy and memory grows only with the edits.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "hexedit/hexfiles.h"

namespace travosk {

// A run of bytes either from the working copy or from the added-bytes buffer.
struct TPiece {
  bool added = false;
  int64_t from = 0;
  int64_t length = 0;
  bool operator==(const TPiece&) const = default;
};
using TPieces = std::vector<TPiece>;

class THexData {
 public:
  // Bytes of the working copy are read through a window of this size.
  static constexpr int64_t kWindowSize = 64 * 1024;

  THexData();
  ~THexData();

  // Takes a new working copy (or none, for empty data); the previous one is
  // released, which removes its file.
  void Reset(std::unique_ptr<TWorkingCopy> copy);
  const TWorkingCopy* WorkingCopy() const { return copy_.get(); }

  int64_t Size() const { return size_; }
  // Copies n bytes from pos; pos and n must lie within the data. Throws
  // InOutError when the working copy cannot be read.
  void Read(int64_t pos, int64_t n, uint8_t* out) const;
  std::vector<uint8_t> Read(int64_t pos, int64_t n) const;
  uint8_t At(int64_t pos) const;

  // Replaces remove bytes at pos with insert and returns the pieces that held
  // the removed bytes, which stay valid for undoing: nothing they refer to is
  // ever overwritten.
  TPieces Replace(int64_t pos, int64_t remove, std::span<const uint8_t> insert);
  TPieces ReplaceWithPieces(int64_t pos, int64_t remove, const TPieces& insert);

  // A byte is changed when it was typed, pasted or converted since the last
  // open or save.
  bool IsChanged(int64_t pos) const;
  void ClearChangeMarks() { unmarkedAdded_ = static_cast<int64_t>(added_.size()); }

  // Lowest offset in [first, last - length + 1] where pattern matches, or -1.
  // With fold, each data byte is mapped through the 256-entry table first.
  int64_t Find(std::span<const uint8_t> pattern, const uint8_t* fold, int64_t first,
               int64_t last) const;

  // Streams every byte to fd.
  [[nodiscard]] bool WriteTo(int fd, QString* reason) const;

  size_t PieceCount() const { return pieces_.size(); }

 private:
  size_t PieceAt(int64_t pos) const;
  size_t SplitAt(int64_t pos);
  void Reindex();
  void ReadCopy(int64_t pos, int64_t n, uint8_t* out) const;

  std::unique_ptr<TWorkingCopy> copy_;
  std::vector<uint8_t> added_;
  TPieces pieces_;
  std::vector<int64_t> starts_;  // data offset of each piece
  int64_t size_ = 0;
  int64_t unmarkedAdded_ = 0;  // added bytes below this index carry no change mark
  mutable std::vector<uint8_t> window_;
  mutable int64_t windowPos_ = 0;
  mutable int64_t windowLen_ = 0;
};

}  // namespace travosk
