// Titles on cards are Shift-JIS (CP932) bytes. The core keeps them raw; the
// front ends decode them for display. Invalid sequences become U+FFFD and
// never an error.
#pragma once

#include <iconv.h>

#include <cerrno>
#include <string>
#include <string_view>

namespace travosk {

inline std::string DecodeShiftJis(std::string_view raw) {
  std::string out;
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (unsigned char ch : raw) out += ch < 0x80 ? static_cast<char>(ch) : '?';
    return out;
  }
  std::string in(raw);
  char* src = in.data();
  size_t src_left = in.size();
  while (src_left > 0) {
    char buf[256];
    char* dst = buf;
    size_t dst_left = sizeof buf;
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buf, static_cast<size_t>(dst - buf));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a sequence cut short): one replacement character
      // for the offending byte, then go on after it.
      out += "\xEF\xBF\xBD";
      ++src;
      --src_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace travosk
