// The record that names the root directory for the file operations.
#include "card/fileip.h"

#include <cstdio>

namespace travosk::card {

TfileIP RootDirectory() {
  // The root is relative cluster 0, and its entry count lives in its own "."
  // entry: every cluster and offset field stays 0.
  TfileIP root;
  root.Dir = 1;
  return root;
}

namespace {
constexpr int kJapanOffsetSeconds = 9 * 3600;
}  // namespace

void StoreCardTime(MutableBytes b, size_t at, std::time_t when) {
  std::time_t local = when + kJapanOffsetSeconds;
  std::tm t{};
  gmtime_r(&local, &t);
  b[at] = 0;
  b[at + 1] = static_cast<uint8_t>(t.tm_sec);
  b[at + 2] = static_cast<uint8_t>(t.tm_min);
  b[at + 3] = static_cast<uint8_t>(t.tm_hour);
  b[at + 4] = static_cast<uint8_t>(t.tm_mday);
  b[at + 5] = static_cast<uint8_t>(t.tm_mon + 1);
  store_le16(b, at + 6, static_cast<uint16_t>(t.tm_year + 1900));
}

std::string FormatCardTime(Bytes t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", load_le16(t, 6), t[5], t[4], t[3],
                t[2], t[1]);
  return buf;
}

}  // namespace travosk::card
