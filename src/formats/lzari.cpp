#include "formats/lzari.h"

#include <algorithm>
#include <array>

#include "formats/save.h"

namespace travosk::formats {

namespace {

constexpr int kWindow = 4096;                         // N: ring buffer size
constexpr int kMaxMatch = 60;                         // F: longest match
constexpr int kThreshold = 2;                         // a match must be longer than this
constexpr int kChars = 256 - kThreshold + kMaxMatch;  // literals and match lengths: 314
constexpr uint32_t kQ1 = 1u << 15;  // the coder's quarter range (15-bit precision)
constexpr uint32_t kQ2 = 2 * kQ1;
constexpr uint32_t kQ3 = 3 * kQ1;
constexpr uint32_t kQ4 = 4 * kQ1;
constexpr uint32_t kMaxCum = kQ1 - 1;
// A stream may be read a few bits past its last byte (the coder looks
// ahead); more than this means the body was cut or damaged.
constexpr uint64_t kSlackBits = 64;

// The adaptive model that coder and decoder keep in step: symbol frequencies
// kept sorted (most frequent first) with their cumulative sums, and a fixed
// distribution of match positions that favours near ones.
class Model {
 public:
  Model() {
    sym_cum_[kChars] = 0;
    for (int sym = kChars; sym >= 1; --sym) {
      const int ch = sym - 1;
      char_to_sym_[ch] = sym;
      sym_to_char_[sym] = ch;
      sym_freq_[sym] = 1;
      sym_cum_[sym - 1] = sym_cum_[sym] + sym_freq_[sym];
    }
    sym_freq_[0] = 0;
    position_cum_[kWindow] = 0;
    for (int i = kWindow; i >= 1; --i) position_cum_[i - 1] = position_cum_[i] + 10000 / (i + 200);
  }

  void Update(int sym) {
    if (sym_cum_[0] >= kMaxCum) {
      uint32_t c = 0;
      for (int i = kChars; i > 0; --i) {
        sym_cum_[i] = c;
        c += (sym_freq_[i] = (sym_freq_[i] + 1) >> 1);
      }
      sym_cum_[0] = c;
    }
    int i = sym;
    while (sym_freq_[i] == sym_freq_[i - 1]) --i;
    if (i < sym) {
      const int ch_i = sym_to_char_[i];
      const int ch_sym = sym_to_char_[sym];
      sym_to_char_[i] = ch_sym;
      sym_to_char_[sym] = ch_i;
      char_to_sym_[ch_i] = sym;
      char_to_sym_[ch_sym] = i;
    }
    ++sym_freq_[i];
    while (--i >= 0) ++sym_cum_[i];
  }

  // The symbol whose cumulative range holds x.
  int SymbolAt(uint32_t x) const {
    int i = 1, j = kChars;
    while (i < j) {
      const int k = (i + j) / 2;
      if (sym_cum_[k] > x)
        i = k + 1;
      else
        j = k;
    }
    return i;
  }
  int PositionAt(uint32_t x) const {
    int i = 1, j = kWindow;
    while (i < j) {
      const int k = (i + j) / 2;
      if (position_cum_[k] > x)
        i = k + 1;
      else
        j = k;
    }
    return i - 1;
  }

  std::array<int, kChars> char_to_sym_{};
  std::array<int, kChars + 1> sym_to_char_{};
  std::array<uint32_t, kChars + 1> sym_freq_{};
  std::array<uint32_t, kChars + 1> sym_cum_{};
  std::array<uint32_t, kWindow + 1> position_cum_{};
};

class Encoder {
 public:
  explicit Encoder(std::vector<uint8_t>& out) : out_(out) {}

  void Char(Model& m, int ch) {
    const int sym = m.char_to_sym_[ch];
    Narrow(m.sym_cum_[sym - 1], m.sym_cum_[sym], m.sym_cum_[0]);
    m.Update(sym);
  }
  void Position(const Model& m, int position) {
    Narrow(m.position_cum_[position], m.position_cum_[position + 1], m.position_cum_[0]);
  }
  void End() {
    ++shifts_;
    Output(low_ < kQ1 ? 0 : 1);
    if (bit_mask_ != 0x80) out_.push_back(bit_buffer_);
  }

 private:
  void Narrow(uint32_t cum_high, uint32_t cum_low, uint32_t total) {
    const uint64_t range = high_ - low_;
    high_ = low_ + static_cast<uint32_t>(range * cum_high / total);
    low_ += static_cast<uint32_t>(range * cum_low / total);
    for (;;) {
      if (high_ <= kQ2) {
        Output(0);
      } else if (low_ >= kQ2) {
        Output(1);
        low_ -= kQ2;
        high_ -= kQ2;
      } else if (low_ >= kQ1 && high_ <= kQ3) {
        ++shifts_;
        low_ -= kQ1;
        high_ -= kQ1;
      } else {
        break;
      }
      low_ += low_;
      high_ += high_;
    }
  }
  void PutBit(int bit) {
    if (bit) bit_buffer_ |= bit_mask_;
    if ((bit_mask_ >>= 1) == 0) {
      out_.push_back(bit_buffer_);
      bit_buffer_ = 0;
      bit_mask_ = 0x80;
    }
  }
  void Output(int bit) {
    PutBit(bit);
    for (; shifts_ > 0; --shifts_) PutBit(!bit);
  }

  std::vector<uint8_t>& out_;
  uint32_t low_ = 0, high_ = kQ4;
  uint64_t shifts_ = 0;
  uint8_t bit_buffer_ = 0, bit_mask_ = 0x80;
};

class Decoder {
 public:
  explicit Decoder(Bytes in) : in_(in) {
    for (int i = 0; i < 17; ++i) value_ = 2 * value_ + GetBit();
  }

  int Char(Model& m) {
    const uint64_t range = high_ - low_;
    const int sym = m.SymbolAt(
        static_cast<uint32_t>(((uint64_t{value_} - low_ + 1) * m.sym_cum_[0] - 1) / range));
    Narrow(range, m.sym_cum_[sym - 1], m.sym_cum_[sym], m.sym_cum_[0]);
    const int ch = m.sym_to_char_[sym];
    m.Update(sym);
    return ch;
  }
  int Position(const Model& m) {
    const uint64_t range = high_ - low_;
    const int position = m.PositionAt(
        static_cast<uint32_t>(((uint64_t{value_} - low_ + 1) * m.position_cum_[0] - 1) / range));
    Narrow(range, m.position_cum_[position], m.position_cum_[position + 1], m.position_cum_[0]);
    return position;
  }
  bool Overrun() const { return bits_ > in_.size() * 8 + kSlackBits; }

 private:
  void Narrow(uint64_t range, uint32_t cum_high, uint32_t cum_low, uint32_t total) {
    high_ = low_ + static_cast<uint32_t>(range * cum_high / total);
    low_ += static_cast<uint32_t>(range * cum_low / total);
    for (;;) {
      if (low_ >= kQ2) {
        value_ -= kQ2;
        low_ -= kQ2;
        high_ -= kQ2;
      } else if (low_ >= kQ1 && high_ <= kQ3) {
        value_ -= kQ1;
        low_ -= kQ1;
        high_ -= kQ1;
      } else if (high_ > kQ2) {
        break;
      }
      low_ += low_;
      high_ += high_;
      value_ = 2 * value_ + GetBit();
    }
  }
  uint32_t GetBit() {
    const uint64_t at = bits_++;
    if (at / 8 >= in_.size()) return 0;
    return (in_[static_cast<size_t>(at / 8)] >> (7 - at % 8)) & 1;
  }

  Bytes in_;
  uint64_t bits_ = 0;
  uint32_t low_ = 0, high_ = kQ4, value_ = 0;
};

// Longest earlier match for the bytes at `pos` of `text` (the window's
// initial spaces, then the input), through hash chains over 3-byte prefixes.
class MatchFinder {
 public:
  explicit MatchFinder(const std::vector<uint8_t>& text) : text_(text), prev_(text.size(), -1) {
    head_.fill(-1);
  }
  void Insert(size_t pos) {
    if (pos + 3 > text_.size()) return;
    const uint32_t h = Hash(pos);
    prev_[pos] = head_[h];
    head_[h] = static_cast<int32_t>(pos);
  }
  // Answers the length (0 when below 3) and the distance back.
  int Find(size_t pos, size_t end, int& distance) const {
    if (pos + 3 > end) return 0;
    const size_t limit = std::min<size_t>(kMaxMatch, end - pos);
    int best = 0;
    int tries = 256;
    for (int32_t cand = head_[Hash(pos)]; cand >= 0 && tries-- > 0; cand = prev_[cand]) {
      const size_t back = pos - static_cast<size_t>(cand);
      if (back > static_cast<size_t>(kWindow - kMaxMatch)) break;
      if (text_[cand + best] != text_[pos + best]) continue;
      size_t len = 0;
      while (len < limit && text_[cand + len] == text_[pos + len]) ++len;
      if (static_cast<int>(len) > best) {
        best = static_cast<int>(len);
        distance = static_cast<int>(back);
        if (len == limit) break;
      }
    }
    return best > kThreshold ? best : 0;
  }

 private:
  uint32_t Hash(size_t pos) const {
    return ((uint32_t{text_[pos]} << 10) ^ (uint32_t{text_[pos + 1]} << 5) ^ text_[pos + 2]) &
           (kHashSize - 1);
  }
  static constexpr uint32_t kHashSize = 1 << 15;
  const std::vector<uint8_t>& text_;
  std::vector<int32_t> prev_;
  std::array<int32_t, kHashSize> head_{};
};

}  // namespace

std::vector<uint8_t> LzariCompress(Bytes input) {
  std::vector<uint8_t> out;
  out.reserve(input.size() / 2 + 16);
  if (input.empty()) return out;
  // The window starts filled with spaces; matches may reach into them.
  constexpr size_t kStart = kWindow - kMaxMatch;
  // No save is larger; the bound also lets the compiler see that the
  // window's size cannot wrap.
  if (input.size() > kMaxSaveBytes) throw FormatError("the data is larger than any save");
  std::vector<uint8_t> text(kStart + input.size(), ' ');
  std::copy_n(input.data(), input.size(), text.data() + kStart);
  MatchFinder finder(text);
  for (size_t p = kStart - kMaxMatch; p < kStart; ++p) finder.Insert(p);

  Model model;
  Encoder enc(out);
  size_t pos = kStart;
  while (pos < text.size()) {
    int distance = 0;
    const int len = finder.Find(pos, text.size(), distance);
    if (len == 0) {
      enc.Char(model, text[pos]);
      finder.Insert(pos++);
      continue;
    }
    enc.Char(model, 255 - kThreshold + len);
    enc.Position(model, distance - 1);
    for (int i = 0; i < len; ++i) finder.Insert(pos++);
  }
  enc.End();
  return out;
}

std::vector<uint8_t> LzariDecompress(Bytes stream, uint64_t size) {
  if (size > kMaxSaveBytes) throw FormatError("the compressed body claims more than a card holds");
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(size));
  if (size == 0) return out;
  std::array<uint8_t, kWindow> window;
  window.fill(' ');
  size_t r = kWindow - kMaxMatch;
  Model model;
  Decoder dec(stream);
  while (out.size() < size) {
    if (dec.Overrun()) throw FormatError("the compressed body ends before the save does");
    const int c = dec.Char(model);
    if (c < 256) {
      out.push_back(static_cast<uint8_t>(c));
      window[r] = static_cast<uint8_t>(c);
      r = (r + 1) & (kWindow - 1);
      continue;
    }
    const size_t from = (r - static_cast<size_t>(dec.Position(model)) - 1) & (kWindow - 1);
    const int len = c - 255 + kThreshold;
    // The announced length ends the save, even inside a match.
    for (int k = 0; k < len && out.size() < size; ++k) {
      const uint8_t b = window[(from + static_cast<size_t>(k)) & (kWindow - 1)];
      out.push_back(b);
      window[r] = b;
      r = (r + 1) & (kWindow - 1);
    }
  }
  return out;
}

}  // namespace travosk::formats
