// The folder card's index file: a YAML map from names to small maps of
// integers, as the emulator writes it:
//
//   $ROOT:
//     timeCreated: 1700000000
//     timeModified: 1700000000
//   ICON.SYS:
//     order: 1
//     timeCreated: 1700000000
//     timeModified: 1700000000
//
// "$ROOT" (older files "%ROOT") holds the folder's own times; every other key
// names a file of the folder. Times are seconds of the card stamp's fields
// read as UTC. The reader takes the block form above and the flow form
// ("{$ROOT: {timeCreated: 0, timeModified: 0}}") with plain or quoted keys;
// anything else is refused as a damaged index.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace travosk::formats::folderindex {

inline constexpr std::string_view kRoot = "$ROOT";
inline constexpr std::string_view kOldRoot = "%ROOT";

struct Record {
  std::string key;
  std::map<std::string, int64_t> values;  // "order", "timeCreated", "timeModified"
  std::optional<int64_t> Get(std::string_view name) const;
};

// Throws FormatError (with `source` in the message) for text that is no such
// index: a line that is not "key:" or "key: value", a value that is not an
// integer, a key given twice, more than a card could hold.
std::vector<Record> Parse(std::string_view text, const std::string& source);

// The block form, keys quoted where a plain YAML scalar could not carry them.
std::string Write(const std::vector<Record>& records);

}  // namespace travosk::formats::folderindex
