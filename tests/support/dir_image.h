// Directory entries, clusters and allocation table entries of a formatted
// 8 MB card image, read and planted straight in the image (not through the
// adapter), so tests can build the cards they need and check what reached the
// card byte for byte. Also the PC-side streams of a file or a save folder.
#pragma once

#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "card/fileip.h"
#include "card/walk.h"
#include "common/bytes.h"
#include "support/card_fixture.h"

namespace travosk::support {

// The layout that the formatter writes on an 8 MB card.
inline constexpr uint32_t kAllocOffset = 41;     // absolute cluster of relative cluster 0
inline constexpr uint32_t kFirstFatCluster = 9;  // FAT clusters 9 ... 40

inline constexpr uint16_t kFileMode = 0x8417;
inline constexpr uint16_t kFolderMode = 0x8427;
inline constexpr uint16_t kDotMode = 0x8427;
inline constexpr uint16_t kDotDotMode = 0xA426;

using Entry = std::array<uint8_t, 512>;
using Cluster = std::array<uint8_t, 1024>;

// The data bytes of relative cluster c.
inline Cluster ReadRel(CardRig& rig, uint32_t c) {
  Cluster out{};
  const uint32_t page = (c + kAllocOffset) * 2;
  auto a = rig.PageData(page);
  auto b = rig.PageData(page + 1);
  std::copy(a.begin(), a.end(), out.begin());
  std::copy(b.begin(), b.end(), out.begin() + 512);
  return out;
}

inline void WriteRel(CardRig& rig, uint32_t c, const Cluster& bytes) {
  const uint32_t page = (c + kAllocOffset) * 2;
  auto a = rig.PageData(page);
  auto b = rig.PageData(page + 1);
  std::copy(bytes.begin(), bytes.begin() + 512, a.begin());
  std::copy(bytes.begin() + 512, bytes.end(), b.begin());
}

// FAT entry k lives in FAT cluster 9 + k / 256, 128 entries a page.
inline std::span<uint8_t> FatSlot(CardRig& rig, uint32_t k) {
  const uint32_t j = k % 256;
  const uint32_t page = (kFirstFatCluster + k / 256) * 2 + j / 128;
  return rig.PageData(page).subspan((j % 128) * 4, 4);
}
inline uint32_t FatOnCard(CardRig& rig, uint32_t k) {
  return load_le32(FatSlot(rig, k), 0);
}
inline void SetFatOnCard(CardRig& rig, uint32_t k, uint32_t value) {
  store_le32(FatSlot(rig, k), 0, value);
}

inline Entry MakeEntry(uint16_t mode, uint32_t length, uint32_t cluster, const std::string& name) {
  Entry e{};
  store_le16(e, card::entry::kMode, mode);
  store_le32(e, card::entry::kLength, length);
  store_le32(e, card::entry::kCluster, cluster);
  std::copy(name.begin(), name.end(), e.begin() + card::entry::kName);
  return e;
}

inline Entry EntryOnCard(CardRig& rig, uint32_t c, uint16_t offset) {
  const Cluster cl = ReadRel(rig, c);
  Entry e{};
  std::copy(cl.begin() + offset, cl.begin() + offset + 512, e.begin());
  return e;
}

inline void PutEntry(CardRig& rig, uint32_t c, uint16_t offset, const Entry& e) {
  Cluster cl = ReadRel(rig, c);
  std::copy(e.begin(), e.end(), cl.begin() + offset);
  WriteRel(rig, c, cl);
}

inline uint32_t LengthOnCard(CardRig& rig, uint32_t c, uint16_t offset) {
  return load_le32(EntryOnCard(rig, c, offset), card::entry::kLength);
}
inline uint32_t ClusterFieldOnCard(CardRig& rig, uint32_t c, uint16_t offset) {
  return load_le32(EntryOnCard(rig, c, offset), card::entry::kCluster);
}
inline uint16_t ModeOnCard(CardRig& rig, uint32_t c, uint16_t offset) {
  return load_le16(EntryOnCard(rig, c, offset), card::entry::kMode);
}

// Bytes with a recognisable pattern: byte i is (i * 7 + seed) mod 251.
inline std::string Pattern(size_t n, uint8_t seed = 1) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + seed) % 251);
  return s;
}

inline void Append(std::string& s, const Entry& e) {
  s.append(e.begin(), e.end());
}

// A file as the file operations read it: its header, then its data padded to
// whole clusters.
inline std::string FileRecord(const std::string& name, const std::string& data,
                              uint16_t mode = kFileMode) {
  std::string s;
  Append(s, MakeEntry(mode, static_cast<uint32_t>(data.size()), 0, name));
  s += data;
  s.append((1024 - data.size() % 1024) % 1024, '\0');
  return s;
}

// A save folder's header with the given length, then its "." and "..".
inline std::string FolderRecord(const std::string& name, uint32_t length,
                                uint16_t mode = kFolderMode) {
  std::string s;
  Append(s, MakeEntry(mode, length, 0, name));
  Append(s, MakeEntry(kDotMode, 0, 0, "."));
  Append(s, MakeEntry(kDotDotMode, 0, 0, ".."));
  return s;
}

// The records of a fresh walk: the root's entries, or with a folder name the
// entries of that root folder, each up to the walk's first false answer.
inline std::vector<card::TfileIP> ListDirectory(card::TPSFilemanager& v,
                                                const std::string& folder = "") {
  std::vector<card::TfileIP> root;
  std::vector<card::TfileIP> inside;
  if (!v.Mount()) return {};
  card::TfileIP x;
  if (!card::ReadFirstEntry(v, x)) return {};
  do {
    root.push_back(x);
    if (!folder.empty() && x.Name == folder && x.Dir == 1 && x.Deleted == 0) {
      card::PushPosition(v, x);
      card::TfileIP child;
      if (card::EnterDirectory(v, x) && card::ReadFirstEntry(v, child)) {
        do inside.push_back(child);
        while (inside.size() < 1000 && card::ReadNextEntry(v, child));
      }
      card::PopPosition(v, x);
    }
  } while (root.size() < 1000 && card::ReadNextEntry(v, x));
  return folder.empty() ? root : inside;
}

inline std::vector<std::string> Names(const std::vector<card::TfileIP>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) out.push_back(e.Deleted ? "~" + e.Name : e.Name);
  return out;
}

}  // namespace travosk::support
