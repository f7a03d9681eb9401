// A card manager on a loopback adapter holding a PS1 card, with helpers that
// lay out directory frames, title frames and block data straight in the
// card's image, so that tests can check every byte an operation touched.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "manager/ps1card.h"
#include "manager/ps2mfmsys.h"
#include "support/manager_fixture.h"

namespace travosk::manager::testing {

class PS1Rig : public support::ManagerRig {
 public:
  PS1Rig() : ManagerRig({.media = support::CardMedia::kPS1}) {
    // A freshly formatted card: the "MC" header and 15 free entries.
    Frame(0)[0] = 'M';
    Frame(0)[1] = 'C';
    PS1Checksum(Frame(0).data());
    for (int e = 0; e < kPS1Entries; ++e) SetDir(e, ps1state::kDeleted, 0, kPS1LastLink, "");
  }

  std::span<uint8_t> Card() { return medium().bytes(); }
  std::span<uint8_t> Frame(int f) {
    return Card().subspan(size_t{kPS1FrameBytes} * f, kPS1FrameBytes);
  }
  std::span<uint8_t> Dir(int e) { return Frame(e + 1); }
  const sim::Counters& counters() { return session.adapter.counters(); }

  void SetDir(int e, uint8_t state, uint32_t size, uint16_t link, const std::string& name) {
    auto f = Dir(e);
    std::fill(f.begin(), f.end(), 0);
    f[ps1dir::kState] = state;
    store_le32(f, ps1dir::kSize, size);
    store_le16(f, ps1dir::kLink, link);
    std::copy(name.begin(), name.end(), f.begin() + ps1dir::kName);
    PS1Checksum(f.data());
  }
  // Block data of entry e: every byte derived from the seed and its position.
  void FillBlock(int e, uint8_t seed) {
    auto b = Card().subspan(size_t{kPS1BlockBytes} * (e + 1), kPS1BlockBytes);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  }
  std::vector<uint8_t> Block(int e) {
    auto b = Card().subspan(size_t{kPS1BlockBytes} * (e + 1), kPS1BlockBytes);
    return {b.begin(), b.end()};
  }
  // A save of n blocks placed in the given entries, chained in order.
  void PlaceSave(const std::vector<int>& entries, const std::string& name) {
    const size_t n = entries.size();
    for (size_t i = 0; i < n; ++i) {
      const uint8_t state = i == 0       ? ps1state::kFirst
                            : i + 1 == n ? ps1state::kLast
                                         : ps1state::kMiddle;
      const uint16_t link = i + 1 < n ? static_cast<uint16_t>(entries[i + 1]) : kPS1LastLink;
      SetDir(entries[i], state, i == 0 ? static_cast<uint32_t>(n * kPS1BlockBytes) : 0, link,
             i == 0 ? name : "");
      FillBlock(entries[i], static_cast<uint8_t>(entries[i] * 16 + 1));
    }
  }
};

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline bool ChecksumValid(std::span<const uint8_t> frame) {
  uint8_t x = 0;
  for (size_t i = 0; i < 127; ++i) x ^= frame[i];
  return x == frame[127];
}

}  // namespace travosk::manager::testing
