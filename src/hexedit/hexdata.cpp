#include "hexedit/hexdata.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace travosk {

THexData::THexData() = default;
THexData::~THexData() = default;

void THexData::Reset(std::unique_ptr<TWorkingCopy> copy) {
  copy_ = std::move(copy);
  added_.clear();
  added_.shrink_to_fit();
  pieces_.clear();
  unmarkedAdded_ = 0;
  windowLen_ = 0;
  if (copy_ && copy_->Size() > 0) pieces_.push_back({false, 0, copy_->Size()});
  Reindex();
}

void THexData::Reindex() {
  starts_.resize(pieces_.size());
  int64_t at = 0;
  for (size_t i = 0; i < pieces_.size(); ++i) {
    starts_[i] = at;
    at += pieces_[i].length;
  }
  size_ = at;
}

size_t THexData::PieceAt(int64_t pos) const {
  const auto it = std::upper_bound(starts_.begin(), starts_.end(), pos);
  return static_cast<size_t>(it - starts_.begin()) - 1;
}

size_t THexData::SplitAt(int64_t pos) {
  if (pos >= size_) return pieces_.size();
  const size_t k = PieceAt(pos);
  const int64_t inside = pos - starts_[k];
  if (inside == 0) return k;
  TPiece right = pieces_[k];
  right.from += inside;
  right.length -= inside;
  pieces_[k].length = inside;
  pieces_.insert(pieces_.begin() + static_cast<ptrdiff_t>(k) + 1, right);
  starts_.insert(starts_.begin() + static_cast<ptrdiff_t>(k) + 1, pos);
  return k + 1;
}

TPieces THexData::ReplaceWithPieces(int64_t pos, int64_t remove, const TPieces& insert) {
  if (pos < 0 || remove < 0 || pos > size_ || remove > size_ - pos) {
    throw std::out_of_range("hex data range");
  }
  const size_t i = SplitAt(pos);
  const size_t j = SplitAt(pos + remove);
  TPieces removed(pieces_.begin() + static_cast<ptrdiff_t>(i),
                  pieces_.begin() + static_cast<ptrdiff_t>(j));
  pieces_.erase(pieces_.begin() + static_cast<ptrdiff_t>(i),
                pieces_.begin() + static_cast<ptrdiff_t>(j));
  TPieces fresh;
  for (const TPiece& p : insert) {
    if (p.length > 0) fresh.push_back(p);
  }
  pieces_.insert(pieces_.begin() + static_cast<ptrdiff_t>(i), fresh.begin(), fresh.end());
  // Typing appends to the added buffer byte by byte; joining neighbours that
  // continue each other keeps the table as short as the edits are coarse.
  TPieces merged;
  merged.reserve(pieces_.size());
  for (const TPiece& p : pieces_) {
    if (!merged.empty() && merged.back().added == p.added &&
        merged.back().from + merged.back().length == p.from) {
      merged.back().length += p.length;
    } else {
      merged.push_back(p);
    }
  }
  pieces_ = std::move(merged);
  Reindex();
  return removed;
}

TPieces THexData::Replace(int64_t pos, int64_t remove, std::span<const uint8_t> insert) {
  TPieces pieces;
  if (!insert.empty()) {
    pieces.push_back(
        {true, static_cast<int64_t>(added_.size()), static_cast<int64_t>(insert.size())});
  }
  // Validate before growing the buffer so a refused edit leaves no trace.
  if (pos < 0 || remove < 0 || pos > size_ || remove > size_ - pos) {
    throw std::out_of_range("hex data range");
  }
  added_.insert(added_.end(), insert.begin(), insert.end());
  return ReplaceWithPieces(pos, remove, pieces);
}

bool THexData::IsChanged(int64_t pos) const {
  if (pos < 0 || pos >= size_) return false;
  const size_t k = PieceAt(pos);
  const TPiece& p = pieces_[k];
  return p.added && p.from + (pos - starts_[k]) >= unmarkedAdded_;
}

void THexData::ReadCopy(int64_t pos, int64_t n, uint8_t* out) const {
  if (n >= kWindowSize) {
    copy_->ReadAt(pos, n, out);
    return;
  }
  if (pos < windowPos_ || pos + n > windowPos_ + windowLen_) {
    window_.resize(kWindowSize);
    windowLen_ = 0;
    windowPos_ = pos;
    const int64_t len = std::min(kWindowSize, copy_->Size() - pos);
    copy_->ReadAt(pos, len, window_.data());
    windowLen_ = len;
  }
  std::memcpy(out, window_.data() + (pos - windowPos_), static_cast<size_t>(n));
}

void THexData::Read(int64_t pos, int64_t n, uint8_t* out) const {
  if (pos < 0 || n < 0 || pos > size_ || n > size_ - pos) throw std::out_of_range("hex data range");
  if (n == 0) return;
  size_t k = PieceAt(pos);
  while (n > 0) {
    const TPiece& p = pieces_[k];
    const int64_t inside = pos - starts_[k];
    const int64_t take = std::min(n, p.length - inside);
    if (p.added) {
      std::memcpy(out, added_.data() + p.from + inside, static_cast<size_t>(take));
    } else {
      ReadCopy(p.from + inside, take, out);
    }
    out += take;
    pos += take;
    n -= take;
    ++k;
  }
}

std::vector<uint8_t> THexData::Read(int64_t pos, int64_t n) const {
  std::vector<uint8_t> out(static_cast<size_t>(n));
  Read(pos, n, out.data());
  return out;
}

uint8_t THexData::At(int64_t pos) const {
  uint8_t b = 0;
  Read(pos, 1, &b);
  return b;
}

int64_t THexData::Find(std::span<const uint8_t> pattern, const uint8_t* fold, int64_t first,
                       int64_t last) const {
  const auto m = static_cast<int64_t>(pattern.size());
  last = std::min(last, size_ - 1);
  if (m <= 0 || first < 0 || last - first + 1 < m) return -1;
  // Windows overlap by m - 1 bytes so a match across their border is seen.
  std::vector<uint8_t> buffer(static_cast<size_t>(kWindowSize + m - 1));
  const std::boyer_moore_horspool_searcher searcher(pattern.begin(), pattern.end());
  for (int64_t at = first; at + m - 1 <= last; at += kWindowSize) {
    const int64_t len = std::min<int64_t>(kWindowSize + m - 1, last + 1 - at);
    Read(at, len, buffer.data());
    if (fold != nullptr) {
      for (int64_t i = 0; i < len; ++i) buffer[i] = fold[buffer[i]];
    }
    const auto end = buffer.begin() + len;
    const auto hit = std::search(buffer.begin(), end, searcher);
    if (hit != end) return at + (hit - buffer.begin());
  }
  return -1;
}

bool THexData::WriteTo(int fd, QString* reason) const {
  std::vector<uint8_t> buffer(static_cast<size_t>(kWindowSize));
  try {
    for (int64_t at = 0; at < size_; at += kWindowSize) {
      const int64_t len = std::min(kWindowSize, size_ - at);
      Read(at, len, buffer.data());
      if (!WriteAll(fd, buffer.data(), len, reason)) return false;
    }
  } catch (const std::exception& e) {
    *reason = QString::fromLocal8Bit(e.what());
    return false;
  }
  return true;
}

}  // namespace travosk
