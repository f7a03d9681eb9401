// Search folds both sides alike: full-width letters, digits and signs to
// their ASCII forms, the ideographic space to a space, half-width katakana
// (with a following voiced or semi-voiced mark) to full-width katakana, and
// letter case away. Card titles are Shift-JIS and are written in either
// width by the games; the user types whichever their keyboard gives.
#include <string>

#include "common/sjis.h"
#include "library/library.h"

namespace travosk::library {

namespace {

// Full-width katakana of the half-width forms U+FF66..U+FF9D, in order.
constexpr char32_t kHalfKana[] = {
    0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5, 0x30E7, 0x30C3,  // ｦ..ｯ
    0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF, 0x30B1,  // ｰ..ｹ
    0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6,  // ｺ..ﾃ
    0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8,  // ﾄ..ﾍ
    0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9,  // ﾎ..ﾗ
    0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3,                                  // ﾘ..ﾝ
};

std::u32string Decode(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += n;
  }
  return out;
}

void Encode(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The voiced (mark 1) or semi-voiced (mark 2) form of a full-width katakana,
// or 0 when it has none.
char32_t Voiced(char32_t kana, int mark) {
  if (kana == 0x30A6 && mark == 1) return 0x30F4;  // ウ → ヴ
  const bool ka_to = kana >= 0x30AB && kana <= 0x30C8 && kana != 0x30C3 && (kana % 2) == 1;
  const bool ka_to_even = (kana >= 0x30C4 && kana <= 0x30C8) && (kana % 2) == 0;
  if (mark == 1 && (ka_to || ka_to_even)) return kana + 1;
  if (kana >= 0x30CF && kana <= 0x30DB && (kana - 0x30CF) % 3 == 0) return kana + mark;
  return 0;
}

}  // namespace

std::string FoldForSearch(std::string_view utf8) {
  const auto in = Decode(utf8);
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    if (cp >= 0xFF01 && cp <= 0xFF5E) cp -= 0xFEE0;  // full-width ASCII
    if (cp == 0x3000) cp = ' ';
    if (cp >= 0xFF66 && cp <= 0xFF9D) {
      cp = kHalfKana[cp - 0xFF66];
      if (i + 1 < in.size() && (in[i + 1] == 0xFF9E || in[i + 1] == 0xFF9F)) {
        if (const char32_t v = Voiced(cp, in[i + 1] == 0xFF9E ? 1 : 2)) {
          cp = v;
          ++i;
        }
      }
    }
    if (cp == 0xFF9E) cp = 0x309B;
    if (cp == 0xFF9F) cp = 0x309C;
    if (cp >= 'A' && cp <= 'Z') cp += 'a' - 'A';
    Encode(cp, out);
  }
  return out;
}

bool SaveMatches(const SaveEntry& save, std::string_view folded) {
  if (folded.empty()) return true;
  for (const std::string& field : {save.name, save.product})
    if (FoldForSearch(field).find(folded) != std::string::npos) return true;
  // The product code also as typed without its dash ("SLES50001").
  std::string plain = save.product;
  std::erase(plain, '-');
  if (!plain.empty() && FoldForSearch(plain).find(folded) != std::string::npos) return true;
  return FoldForSearch(DecodeShiftJis(save.title)).find(folded) != std::string::npos;
}

}  // namespace travosk::library
