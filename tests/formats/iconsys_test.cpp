#include "formats/iconsys.h"

#include <gtest/gtest.h>

#include "peer_files.h"

namespace travosk::formats {
namespace {

using testing::PeerFolder;
using testing::ReadAll;

// The title runs from 0xC0 up to the icon file names at 0x104: 68 bytes, as
// the independent tool's files place them. A title of 34 full-width
// characters reads whole, the two that lie past its 64th byte included.
TEST(IconSys, TitleHoldsSixtyEightBytes) {
  if (PeerFolder().empty()) GTEST_SKIP() << "no golden files";
  std::vector<uint8_t> sys = ReadAll(PeerFolder() + "/payload/BASLUS-60002BETA/icon.sys");
  ASSERT_EQ(sys.size(), iconsys::kBytes);
  const IconSysText peer = ReadIconSysText(sys);
  EXPECT_EQ(peer.title_lines[0], "BETA RACERS");
  EXPECT_EQ(peer.title_lines[1], "EASON 2");
  EXPECT_EQ(peer.icon_files, (std::array<std::string, 3>{"b.ico", "b.ico", "b.ico"}));

  for (size_t i = 0; i < 34; ++i) {
    sys[0xC0 + 2 * i] = 0x82;  // "Ａ" to "Ｚ", then "Ａ" to "Ｈ"
    sys[0xC0 + 2 * i + 1] = static_cast<uint8_t>(0x60 + i % 26);
  }
  store_le16(sys, 6, 32);
  const IconSysText full = ReadIconSysText(sys);
  EXPECT_EQ(full.title.size(), 68u);
  EXPECT_EQ(full.title_lines[0].size(), 32u);
  EXPECT_EQ(full.title_lines[1].size(), 36u);
  EXPECT_TRUE(full.title_lines[1].ends_with("\x82\x66\x82\x67")) << full.title_lines[1];
  EXPECT_EQ(full.icon_files[0], "b.ico");
}

}  // namespace
}  // namespace travosk::formats
