// TfileIP: one decoded directory entry. It names a file, a folder or a
// position in a directory for the file operations, and travels in the card
// manager's node events.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "card/layout.h"
#include "common/bytes.h"

namespace travosk::card {

struct TfileIP {
  uint8_t Dir = 0;
  uint8_t Deleted = 0;
  std::string Name;
  uint16_t ParentOffset = 0;
  uint32_t ParentCluster = 0;
  uint16_t HeadOffset = 0;
  int32_t HeadCluster = 0;
  uint16_t NowOffset = 0;
  uint32_t NowCluster = 0;
  uint16_t NextOffset = 0;
  int32_t NextCluster = 0;
  int32_t RelatCluster = 0;
  std::array<uint8_t, 32> Header{};

  // Header bytes 4..7: a folder's entry count, a file's size.
  uint32_t Length() const { return load_le32(Header, entry::kLength); }
  bool IsDotName() const { return Name == "." || Name == ".."; }
};

// A record that names the root as a directory to write into.
TfileIP RootDirectory();

// Card time stamps (8 bytes): 0, seconds, minutes, hours, day, month, and the
// year as u16, in Japan time (UTC+9), as the console keeps them.
void StoreCardTime(MutableBytes b, size_t at, std::time_t when);
// "YYYY-MM-DD hh:mm:ss" of a stamp, in the Japan time it was stored in.
std::string FormatCardTime(Bytes stamp8);
// The moment a stamp names (UTC seconds); nullopt for a stamp that names
// none (a zero stamp of another tool, month 13, ...).
std::optional<std::time_t> CardTimeToTime(Bytes stamp8);
// "YYYY-MM-DD hh:mm:ss" of a moment in the user's local time (TZ).
std::string FormatLocalTime(std::time_t when);
// A stamp as the user reads it: in local time; one that names no moment as
// it was stored.
std::string FormatCardTimeLocal(Bytes stamp8);
// "YYYY-MM-DD hh:mm:ss" (or "YYYY-MM-DD hh:mm") taken as the user's local
// time, for StoreCardTime; nullopt when the text is no such time.
std::optional<std::time_t> ParseLocalTime(std::string_view text);

}  // namespace travosk::card
