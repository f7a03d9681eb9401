#include "serial/ps1_saves.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <span>

#include "common/bytes.h"
#include "manager/ps1card.h"

namespace travosk::serialtest {

using manager::kPS1BlockBytes;
using manager::kPS1FrameBytes;

namespace {
uint8_t* Frame(std::vector<uint8_t>& card, int frame) {
  return card.data() + static_cast<size_t>(frame) * kPS1FrameBytes;
}
}  // namespace

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> TwoSaves() {
  std::vector<uint8_t> card = manager::FormattedPS1Card();
  auto place = [&](std::vector<int> entries, const std::string& name, uint8_t seed) {
    for (size_t i = 0; i < entries.size(); ++i) {
      uint8_t* dir = Frame(card, manager::PS1DirectoryFrameOf(entries[i]));
      std::fill_n(dir, kPS1FrameBytes, 0);
      dir[0] = i == 0 ? 0x51 : i + 1 == entries.size() ? 0x53 : 0x52;
      if (i == 0)
        store_le32(std::span<uint8_t>(dir, 128), 4,
                   static_cast<uint32_t>(entries.size() * kPS1BlockBytes));
      const uint16_t link = i + 1 < entries.size() ? static_cast<uint16_t>(entries[i + 1]) : 0xFFFF;
      store_le16(std::span<uint8_t>(dir, 128), 8, link);
      if (i == 0) std::copy(name.begin(), name.end(), dir + 10);
      manager::PS1Checksum(dir);
      uint8_t* block = card.data() + static_cast<size_t>(entries[i] + 1) * kPS1BlockBytes;
      for (int b = 0; b < kPS1BlockBytes; ++b)
        block[b] = static_cast<uint8_t>(seed + b * 7 + (b >> 8));
      if (i == 0) {
        block[0] = 'S';
        block[1] = 'C';
        block[2] = 0x11;
        block[3] = static_cast<uint8_t>(entries.size());
        const std::string title = name.substr(12);
        std::fill_n(block + 4, 92, 0);
        std::copy(title.begin(), title.end(), block + 4);
      }
    }
  };
  place({0}, "BESLES-01000ALPHA", 0x10);
  place({1, 2}, "BESLES-02000BRAVO", 0x20);
  return card;
}

std::map<std::string, std::vector<uint8_t>> CheckedSaves(std::vector<uint8_t>& card) {
  std::map<std::string, std::vector<uint8_t>> saves;
  for (int e = 0; e < 15; ++e) {
    const uint8_t* dir = Frame(card, e + 1);
    uint8_t x = 0;
    for (int i = 0; i < 127; ++i) x ^= dir[i];
    EXPECT_EQ(x, dir[127]) << "directory frame of entry " << e;
  }
  for (int e = 0; e < 15; ++e) {
    const uint8_t* dir = Frame(card, e + 1);
    if (dir[0] != 0x51) continue;
    const uint32_t size = dir[4] | dir[5] << 8 | dir[6] << 16 | static_cast<uint32_t>(dir[7]) << 24;
    std::string name(reinterpret_cast<const char*>(dir + 10));
    std::vector<uint8_t> bytes;
    std::vector<bool> seen(15);
    int at = e;
    for (;;) {
      EXPECT_FALSE(seen[at]) << name << ": its chain runs in a circle";
      if (seen[at]) break;
      seen[at] = true;
      const uint8_t* block = card.data() + static_cast<size_t>(at + 1) * kPS1BlockBytes;
      bytes.insert(bytes.end(), block, block + kPS1BlockBytes);
      const uint8_t* d = Frame(card, at + 1);
      const int link = d[8] | d[9] << 8;
      if (link == 0xFFFF) {
        EXPECT_TRUE(at == e ? d[0] == 0x51 : d[0] == 0x53) << name << ": chain end " << at;
        break;
      }
      EXPECT_LT(link, 15);
      if (link >= 15) break;
      EXPECT_EQ(Frame(card, link + 1)[0] & 0xF0, 0x50) << name << ": links to a free block";
      at = link;
    }
    EXPECT_EQ(size, bytes.size()) << name;
    saves[name] = bytes;
  }
  return saves;
}

}  // namespace travosk::serialtest
