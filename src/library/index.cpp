#include "library/index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/atomic_file.h"
#include "common/errors.h"
#include "formats/foldercard.h"

namespace fs = std::filesystem;

namespace travosk::library {

namespace {

constexpr std::string_view kMagic = "travosk-library-index 2";
// The bytes a fingerprint covers: a PS2 card's superblock, indirect table
// and first allocation-table cluster; a PS1 card's header and directory.
// Size and time catch what a PC program changes; the fingerprint what a
// device that keeps a file's time changes in the card's tables.
constexpr size_t kFingerprintBytes = 16 * 1024;
// An index larger than this is no index of ours.
constexpr uint64_t kLargestIndex = 256ull << 20;
constexpr size_t kLargestField = 4096;

uint64_t Mix(uint64_t h, uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  return h * 0xFF51AFD7ED558CCDull;
}

uint64_t HashBytes(uint64_t h, const char* data, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    std::memcpy(&v, data + i, 8);
    h = Mix(h, v);
  }
  for (; i < n; ++i) h = Mix(h, static_cast<unsigned char>(data[i]));
  return Mix(h, n);
}

uint64_t HeadHash(const std::string& path, uint64_t h) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return h;
  std::array<char, kFingerprintBytes> head;
  const ssize_t n = ::pread(fd, head.data(), head.size(), 0);
  ::close(fd);
  return n > 0 ? HashBytes(h, head.data(), static_cast<size_t>(n)) : h;
}

int64_t MtimeNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::string Hex(std::string_view s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(s.size() * 2 + 1);
  out.push_back('x');  // an empty field stays a field
  for (unsigned char c : s) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

bool Unhex(const std::string& s, std::string& out) {
  if (s.empty() || s[0] != 'x' || s.size() % 2 == 0 || s.size() > 2 * kLargestField + 1)
    return false;
  out.clear();
  for (size_t i = 1; i < s.size(); i += 2) {
    int v = 0;
    for (size_t k = 0; k < 2; ++k) {
      const char c = s[i + k];
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    out.push_back(static_cast<char>(v));
  }
  return true;
}

bool Number(const std::string& s, uint64_t& v) {
  if (s.empty() || s.size() > 20) return false;
  v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  std::string f;
  while (std::getline(in, f, '\t')) out.push_back(f);
  return out;
}

bool ParseCard(const std::vector<std::string>& f, std::string& path, CardKey& key, CardEntry& c,
               uint64_t& saves) {
  uint64_t size, mtime, fp, ps1, folder, readable, capacity, free;
  if (f.size() != 13 || f[0] != "C" || !Unhex(f[1], path) || !Number(f[2], size) ||
      !Number(f[3], mtime) || !Number(f[4], fp) || !Unhex(f[5], c.format) || !Number(f[6], ps1) ||
      !Number(f[7], folder) || !Number(f[8], readable) || !Unhex(f[9], c.problem) ||
      !Number(f[10], capacity) || !Number(f[11], free) || !Number(f[12], saves) || saves > 4096)
    return false;
  key = {size, static_cast<int64_t>(mtime), fp};
  c.path = path;
  c.ps1 = ps1 != 0;
  c.folder_card = folder != 0;
  c.readable = readable != 0;
  c.capacity = capacity;
  c.free = free;
  return true;
}

bool ParseSave(const std::vector<std::string>& f, SaveEntry& s) {
  uint64_t size, entry;
  if (f.size() != 7 || f[0] != "S" || !Unhex(f[1], s.name) || !Unhex(f[2], s.title) ||
      !Number(f[3], size) || !Unhex(f[4], s.modified) || !Number(f[5], entry) || entry > 16 ||
      !Unhex(f[6], s.icon))
    return false;
  s.size = size;
  s.entry = static_cast<int>(entry) - 1;
  s.product = ProductCode(s.name);
  return true;
}

}  // namespace

std::string HashName(const std::string& text) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx",
                static_cast<unsigned long long>(HashBytes(0, text.data(), text.size())));
  return buf;
}

std::optional<CardKey> KeyOf(const std::string& root, const std::string& relative) {
  const std::string path = (fs::path(root) / relative).string();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  if (!S_ISDIR(st.st_mode)) {
    return CardKey{static_cast<uint64_t>(st.st_size), MtimeNs(st), HeadHash(path, 0)};
  }
  // A folder card: every file and folder in it, by name, size and time.
  CardKey key{0, MtimeNs(st), 0};
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
    struct stat s {};
    if (::stat(it->path().c_str(), &s) != 0) return std::nullopt;
    key.size += static_cast<uint64_t>(s.st_size);
    key.mtime_ns = std::max(key.mtime_ns, MtimeNs(s));
    names.push_back(it->path().string() + "\t" + std::to_string(s.st_size) + "\t" +
                    std::to_string(MtimeNs(s)));
  }
  if (ec) return std::nullopt;
  std::sort(names.begin(), names.end());
  for (const auto& n : names) key.fingerprint = HashBytes(key.fingerprint, n.data(), n.size());
  key.fingerprint =
      HeadHash((fs::path(path) / formats::kFolderCardSuperblock).string(), key.fingerprint);
  return key;
}

const CardEntry* Index::Find(const std::string& path, const CardKey& key) const {
  const auto it = entries_.find(path);
  if (it == entries_.end() || !(it->second.first == key)) return nullptr;
  return &it->second.second;
}

void Index::Put(const CardEntry& card, const CardKey& key) { entries_[card.path] = {key, card}; }

void Index::KeepOnly(const std::vector<std::string>& paths) {
  std::map<std::string, std::pair<CardKey, CardEntry>> kept;
  for (const auto& p : paths)
    if (auto it = entries_.find(p); it != entries_.end()) kept.insert(*it);
  entries_ = std::move(kept);
}

Index LoadIndex(const std::string& index_path, const std::string& root) {
  std::error_code ec;
  const auto size = fs::file_size(index_path, ec);
  if (ec || size > kLargestIndex) return {};
  std::ifstream in(index_path, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || line != std::string(kMagic) + "\t" + Hex(root)) return {};
  Index index;
  while (std::getline(in, line)) {
    std::string path;
    CardKey key;
    CardEntry card;
    uint64_t saves = 0;
    if (!ParseCard(Fields(line), path, key, card, saves) || path.empty()) return {};
    for (uint64_t i = 0; i < saves; ++i) {
      SaveEntry save;
      if (!std::getline(in, line) || !ParseSave(Fields(line), save)) return {};
      card.saves.push_back(std::move(save));
    }
    if (index.Find(path, key)) return {};  // the same card twice: not ours
    index.Put(card, key);
  }
  return index;
}

void SaveIndex(const std::string& index_path, const std::string& root, const Index& index) {
  std::error_code ec;
  fs::create_directories(fs::path(index_path).parent_path(), ec);
  std::ostringstream out;
  out << kMagic << "\t" << Hex(root) << "\n";
  for (const auto& [path, value] : index.Entries()) {
    const auto& [key, c] = value;
    out << "C\t" << Hex(path) << "\t" << key.size << "\t" << key.mtime_ns << "\t"
        << key.fingerprint << "\t" << Hex(c.format) << "\t" << c.ps1 << "\t" << c.folder_card
        << "\t" << c.readable << "\t" << Hex(c.problem) << "\t" << c.capacity << "\t" << c.free
        << "\t" << c.saves.size() << "\n";
    for (const auto& s : c.saves)
      out << "S\t" << Hex(s.name) << "\t" << Hex(s.title) << "\t" << s.size << "\t"
          << Hex(s.modified) << "\t" << (s.entry + 1) << "\t" << Hex(s.icon) << "\n";
  }
  AtomicFile file(index_path);
  file.stream() << out.str();
  file.Commit();
}

}  // namespace travosk::library
