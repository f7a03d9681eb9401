// The demo PS1 card (demo-ps1.mcr): a formatted card holding a one-block, a
// two-block and a three-block save with animated icons, the last one with a
// full-width Shift-JIS title and its blocks spread over the card, plus one
// deleted save.
#include <algorithm>

#include "common/bytes.h"
#include "manager/ps1card.h"
#include "mkdata.h"

namespace travosk::mkdata {

namespace {

using manager::kPS1BlockBytes;
using manager::kPS1FrameBytes;
namespace ps1dir = manager::ps1dir;
namespace ps1title = manager::ps1title;
namespace ps1state = manager::ps1state;

constexpr size_t kTitleBytes = 64;  // the title field of a title frame

std::vector<uint8_t> Ascii(const std::string& s) {
  return {s.begin(), s.end()};
}

// "ＴＲＡＶＯＳＫ　デモ　３ブロック" in Shift-JIS.
const std::vector<uint8_t> kFullWidthTitle = {
    0x82, 0x73, 0x82, 0x71, 0x82, 0x60, 0x82, 0x75,
    0x82, 0x6E, 0x82, 0x72, 0x82, 0x6A,              // ＴＲＡＶＯＳＫ
    0x81, 0x40,                                      // 　
    0x83, 0x66, 0x83, 0x82,                          // デモ
    0x81, 0x40,                                      // 　
    0x82, 0x52,                                      // ３
    0x83, 0x75, 0x83, 0x8D, 0x83, 0x62, 0x83, 0x4E,  // ブロック
};

class PS1Image {
 public:
  PS1Image() : bytes_(manager::kPS1CardBytes, 0) {
    Frame(0)[0] = 'M';
    Frame(0)[1] = 'C';
    manager::PS1Checksum(Frame(0).data());
    for (int e = 0; e < manager::kPS1Entries; ++e)
      SetDir(e, ps1state::kDeleted, 0, manager::kPS1LastLink, "");
  }

  // Places a save of entries.size() blocks, chained in the given order.
  void AddSave(const std::vector<int>& entries, const std::string& name,
               const std::vector<uint8_t>& title, PS1Art art, uint8_t seed) {
    const int n = static_cast<int>(entries.size());
    const std::vector<uint8_t> first = PS1FirstBlock(title, DrawPS1Icon(art), n, seed);
    for (int i = 0; i < n; ++i) {
      const uint8_t state = i == 0       ? ps1state::kFirst
                            : i == n - 1 ? ps1state::kLast
                                         : ps1state::kMiddle;
      const uint16_t link =
          i < n - 1 ? static_cast<uint16_t>(entries[i + 1]) : manager::kPS1LastLink;
      SetDir(entries[i], state, i == 0 ? static_cast<uint32_t>(n * kPS1BlockBytes) : 0, link,
             i == 0 ? name : "");
      auto block = Block(entries[i]);
      if (i == 0) {
        std::copy(first.begin(), first.end(), block.begin());
      } else {
        for (size_t k = 0; k < block.size(); ++k)
          block[k] = static_cast<uint8_t>(seed + 17 * i + k * 5 + (k >> 7));
      }
    }
  }

  // Marks a save's directory frames deleted, as a console does.
  void Delete(const std::vector<int>& entries) {
    for (int e : entries) {
      auto f = Frame(manager::PS1DirectoryFrameOf(e));
      f[ps1dir::kState] = static_cast<uint8_t>(ps1state::kDeleted | (f[ps1dir::kState] & 0x0F));
      manager::PS1Checksum(f.data());
    }
  }

  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::span<uint8_t> Frame(int f) {
    return std::span<uint8_t>(bytes_).subspan(size_t{kPS1FrameBytes} * f, kPS1FrameBytes);
  }
  std::span<uint8_t> Block(int e) {
    return std::span<uint8_t>(bytes_).subspan(size_t{kPS1BlockBytes} * (e + 1), kPS1BlockBytes);
  }
  void SetDir(int e, uint8_t state, uint32_t size, uint16_t link, const std::string& name) {
    auto f = Frame(manager::PS1DirectoryFrameOf(e));
    std::fill(f.begin(), f.end(), 0);
    f[ps1dir::kState] = state;
    store_le32(f, ps1dir::kSize, size);
    store_le16(f, ps1dir::kLink, link);
    std::copy_n(name.begin(), std::min(name.size(), ps1dir::kNameMax - 1),
                f.begin() + ps1dir::kName);
    manager::PS1Checksum(f.data());
  }

  std::vector<uint8_t> bytes_;
};

}  // namespace

std::vector<uint8_t> PS1FirstBlock(const std::vector<uint8_t>& title, const PS1Icon& icon,
                                   int blocks, uint8_t seed) {
  std::vector<uint8_t> block(kPS1BlockBytes, 0);
  MutableBytes b(block);
  b[0] = 'S';
  b[1] = 'C';
  b[ps1title::kIconFlag] = static_cast<uint8_t>(0x10 | icon.frames.size());
  b[ps1title::kBlocks] = static_cast<uint8_t>(blocks);
  std::copy_n(title.begin(), std::min(title.size(), kTitleBytes), block.begin() + ps1title::kTitle);
  for (size_t i = 0; i < icon.palette.size(); ++i)
    store_le16(b, ps1title::kPalette + 2 * i, icon.palette[i]);
  for (size_t k = 0; k < icon.frames.size(); ++k)
    std::copy(icon.frames[k].begin(), icon.frames[k].end(),
              block.begin() + kPS1FrameBytes * (k + 1));
  // The game's own data after the icons.
  for (size_t i = kPS1FrameBytes * 4; i < block.size(); ++i)
    block[i] = static_cast<uint8_t>(seed + i * 3 + (i >> 8));
  return block;
}

void WriteDemoPS1(const std::string& folder) {
  PS1Image card;
  card.AddSave({0}, "BASLUS-00101TRAVOSK", Ascii("TRAVOSK DEMO  ONE BLOCK"), PS1Art::kCard, 0x11);
  card.AddSave({1, 2}, "BASLUS-00102STARS", Ascii("TWO BLOCKS OF STARS"), PS1Art::kStar, 0x22);
  card.AddSave({3}, "BASLUS-00103OLDSAVE", Ascii("A DELETED SAVE"), PS1Art::kCard, 0x33);
  card.Delete({3});
  card.AddSave({4, 6, 7}, "BISLPS-00104BALL", kFullWidthTitle, PS1Art::kBall, 0x44);
  WriteFile(folder + "/demo-ps1.mcr", card.bytes());
}

}  // namespace travosk::mkdata
