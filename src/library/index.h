// The library's index: each card's listing as it was last read, kept in the
// user's cache folder and keyed by the card file's size, modification time
// and a fingerprint of its first pages (superblock and allocation tables; a
// PS1 card's whole directory), so that a listing
// reads again only the cards that changed. The index is a convenience: one
// that cannot be read, or that holds anything out of shape, is dropped whole
// and rebuilt; it only ever stands for a listing, never for a card's bytes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "library/library.h"

namespace travosk::library {

struct CardKey {
  uint64_t size = 0;
  int64_t mtime_ns = 0;
  uint64_t fingerprint = 0;
  bool operator==(const CardKey&) const = default;
};

// The key of a card file or folder card; nullopt when it cannot be read.
std::optional<CardKey> KeyOf(const std::string& root, const std::string& relative_path);

class Index {
 public:
  const CardEntry* Find(const std::string& path, const CardKey& key) const;
  void Put(const CardEntry& card, const CardKey& key);
  void KeepOnly(const std::vector<std::string>& paths);
  size_t Size() const { return entries_.size(); }
  const std::map<std::string, std::pair<CardKey, CardEntry>>& Entries() const { return entries_; }

 private:
  std::map<std::string, std::pair<CardKey, CardEntry>> entries_;
};

// An empty index when the file is missing, unreadable, of another library or
// out of shape anywhere.
Index LoadIndex(const std::string& index_path, const std::string& root);
// Written through a temporary file; throws InOutError.
void SaveIndex(const std::string& index_path, const std::string& root, const Index& index);

// A short hexadecimal name for a text (the library folder's index file).
std::string HashName(const std::string& text);

}  // namespace travosk::library
