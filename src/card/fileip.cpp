// The record that names the root directory for the file operations.
#include "card/fileip.h"

#include <cstdio>
#include <ctime>
#include <string>

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

std::optional<std::time_t> CardTimeToTime(Bytes t) {
  if (t.size() < 8) return std::nullopt;
  std::tm tm{};
  tm.tm_sec = t[1];
  tm.tm_min = t[2];
  tm.tm_hour = t[3];
  tm.tm_mday = t[4];
  tm.tm_mon = t[5] - 1;
  tm.tm_year = load_le16(t, 6) - 1900;
  if (tm.tm_sec > 59 || tm.tm_min > 59 || tm.tm_hour > 23 || tm.tm_mday < 1 || tm.tm_mday > 31 ||
      tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_year < 70)
    return std::nullopt;
  std::tm normalised = tm;
  const std::time_t japan = timegm(&normalised);
  // The 31st of a 30-day month rolls over into the next: no such day.
  if (normalised.tm_mday != tm.tm_mday) return std::nullopt;
  return japan - kJapanOffsetSeconds;
}

std::string FormatLocalTime(std::time_t when) {
  std::tm t{};
  localtime_r(&when, &t);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &t);
  return buf;
}

std::string FormatCardTimeLocal(Bytes stamp8) {
  const auto when = CardTimeToTime(stamp8);
  return when ? FormatLocalTime(*when) : FormatCardTime(stamp8);
}

std::optional<std::time_t> ParseLocalTime(std::string_view text) {
  std::tm t{};
  int used = 0;
  const std::string s(text);
  if (std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &t.tm_year, &t.tm_mon, &t.tm_mday,
                  &t.tm_hour, &t.tm_min, &t.tm_sec, &used) != 6 ||
      static_cast<size_t>(used) != s.size()) {
    t = std::tm{};
    used = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d%n", &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &used) != 5 ||
        static_cast<size_t>(used) != s.size())
      return std::nullopt;
  }
  if (t.tm_mon < 1 || t.tm_mon > 12 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 ||
      t.tm_min > 59 || t.tm_sec > 59 || t.tm_year < 1970 || t.tm_year > 65535)
    return std::nullopt;
  const int day = t.tm_mday;
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;  // the zone's own rule for that day
  const std::time_t when = std::mktime(&t);
  if (when == static_cast<std::time_t>(-1) || t.tm_mday != day) return std::nullopt;
  return when;
}

}  // namespace travosk::card
