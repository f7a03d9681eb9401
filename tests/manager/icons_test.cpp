#include "manager/icons.h"

#include <gtest/gtest.h>

#include <map>

#include "ps1_rig.h"

namespace travosk::manager::testing {
namespace {

using formats::IconSysTitleLines;
using formats::JoinTitleLines;

// A PS1 save as the decoder reads it: 512-byte lead-in, then the title frame
// and the icon frames.
std::vector<uint8_t> SaveImage(uint8_t icon_flag) {
  std::vector<uint8_t> save(2560, 0);
  save[512] = 'S';
  save[513] = 'C';
  save[514] = icon_flag;
  store_le16(save, 608 + 0, 0x7FFF);
  store_le16(save, 608 + 2, 0x001F);
  store_le16(save, 608 + 4, 0x8000);
  store_le16(save, 608 + 6, 0x03E0);  // green
  save[640] = 0x21;                   // frame 0, row 0, byte 0
  save[640 + 128 + 127] = 0x33;       // frame 1, row 15, last byte
  return save;
}

TEST(IconBitmap, HeaderPaletteAndPixelsAsWritten) {
  support::TempDir dir;
  std::vector<uint8_t> palette(768, 0), pixels(1024);
  palette[0] = 1;    // blue of entry 0
  palette[767] = 9;  // red of entry 255
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i);
  WriteIconBitmap(palette.data(), pixels.data(), dir.File("x.bmp"));
  const auto bmp = ReadFile(dir.File("x.bmp"));
  ASSERT_EQ(bmp.size(), 2102u);
  const std::vector<uint8_t> header{
      'B',  'M',  0x36, 0x08, 0,  0,        // "BM", file size 2102
      0,    0,    0,    0,                  // reserved
      0x36, 0x04, 0,    0,                  // pixels at 1078
      40,   0,    0,    0,                  // info header size
      32,   0,    0,    0,    32, 0, 0, 0,  // width, height (bottom-up)
      1,    0,    8,    0,                  // planes, bits per pixel
      0,    0,    0,    0,                  // no compression
      0,    4,    0,    0,                  // 1024 pixel bytes
      0,    0,    0,    0,    0,  0, 0, 0,  // resolutions
      0,    0,    0,    0,    0,  0, 0, 0,  // colours used, important
  };
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin(), bmp.begin() + 54), header);
  EXPECT_EQ(bmp[54], 1);
  EXPECT_EQ(bmp[57], 0);  // the fourth byte of each entry
  EXPECT_EQ(bmp[54 + 255 * 4 + 2], 9);
  EXPECT_EQ(bmp[1078 + 300], static_cast<uint8_t>(300));
}

TEST(IconDecode, PaletteColoursAndDoubledPixels) {
  support::TempDir dir;
  const auto save = SaveImage(0x11);
  const DecodedIcon icon = DecodePS1Icon(save, 640, dir.File("~ico.bmp"));
  EXPECT_EQ(ReadFile(dir.File("~ico.bmp")),
            std::vector<uint8_t>(icon.bitmap.begin(), icon.bitmap.end()));

  // Palette entries: blue, green, red, 0.
  auto entry = [&](int i) {
    return std::vector<uint8_t>(icon.bitmap.begin() + 54 + 4 * i, icon.bitmap.begin() + 58 + 4 * i);
  };
  EXPECT_EQ(entry(0), (std::vector<uint8_t>{248, 248, 248, 0}));
  EXPECT_EQ(entry(1), (std::vector<uint8_t>{0, 0, 248, 0}));
  EXPECT_EQ(entry(2), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(entry(3), (std::vector<uint8_t>{0, 248, 0, 0}));
  EXPECT_EQ(entry(16), (std::vector<uint8_t>{0, 0, 0, 0}));

  // Byte 0x21 at the top-left: index 1 then 2, each a 2 × 2 square in the top
  // two rows, which the bitmap stores last.
  for (int stored_row : {30, 31}) {
    const uint8_t* row = icon.bitmap.data() + 1078 + stored_row * 32;
    EXPECT_EQ(std::vector<uint8_t>(row, row + 5), (std::vector<uint8_t>{1, 1, 2, 2, 0}))
        << stored_row;
  }
  EXPECT_EQ(icon.bitmap[1078 + 29 * 32], 0);
  // The convenience pixels are top row first, red green blue.
  EXPECT_EQ(std::vector<uint8_t>(icon.rgb.begin(), icon.rgb.begin() + 9),
            (std::vector<uint8_t>{248, 0, 0, 248, 0, 0, 0, 0, 0}));

  // Frame 1's last source byte lands at the bottom-right of the bitmap.
  const DecodedIcon second = DecodePS1Icon(save, 640 + 128, dir.File("~ico.bmp"));
  EXPECT_EQ(second.bitmap[1078 + 28], 3);
  EXPECT_EQ(second.bitmap[1078 + 32 + 31], 3);
}

TEST(IconDecode, CardSaveFramesAndTitle) {
  PS1Rig rig;
  rig.PlaceSave({4}, "BASLUS-00050ICON");
  const auto save = SaveImage(0x12);
  auto block = rig.Card().subspan(size_t{kPS1BlockBytes} * 5, 2048);
  std::copy(save.begin() + 512, save.end(), block.begin());
  const std::string title("FIRST\0\0SECOND", 13);
  std::copy(title.begin(), title.end(), block.begin() + 4);

  const PS1IconSet set = LoadCardPS1Icons(rig.mgr, 4, 2);
  ASSERT_EQ(set.frames.size(), 2u);
  EXPECT_EQ(set.title, "FIRSTSECOND");
  const auto licc = ReadFile(rig.dir.File("~licc.i"));
  ASSERT_EQ(licc.size(), 2560u);
  EXPECT_EQ(std::vector<uint8_t>(licc.begin(), licc.begin() + 512), std::vector<uint8_t>(512, 0));
  EXPECT_TRUE(std::equal(licc.begin() + 512, licc.end(), block.begin()));
  EXPECT_EQ(ReadFile(rig.dir.File("~ico.bmp")),
            std::vector<uint8_t>(set.frames[1].bitmap.begin(), set.frames[1].bitmap.end()));

  EXPECT_TRUE(LoadCardPS1Icons(rig.mgr, 4, 0).frames.empty());  // icon flag 0: no image
  EXPECT_TRUE(LoadCardPS1Icons(rig.mgr, 15, 1).frames.empty());

  rig.session.adapter.UnplugAfter(3);
  EXPECT_TRUE(LoadCardPS1Icons(rig.mgr, 4, 2).frames.empty());
}

// The catalogue's child entries of every save, by "folder/name".
std::map<std::string, card::TfileIP> ChildEntries(TPS2MFMSYS& mgr) {
  std::map<std::string, card::TfileIP> entries;
  std::string folder;
  mgr.OnAddrootNode = [&](card::TfileIP& x) { folder = x.Name; };
  mgr.OnAddChildNode = [&](card::TfileIP& x) { entries[folder + "/" + x.Name] = x; };
  EXPECT_TRUE(mgr.Catalog());
  mgr.OnAddrootNode = nullptr;
  mgr.OnAddChildNode = nullptr;
  return entries;
}

TEST(IconSys, TitleJoinsItsLinesAndNamesTheIcons) {
  support::ManagerRig rig;
  std::string icon_sys(964, '\0');
  icon_sys.replace(0, 4, "PS2D");
  icon_sys.replace(0xC0, 14, std::string("LINE1\0\0\x82\x60LINE2", 14));
  icon_sys.replace(0x104, 8, "list.ico");
  icon_sys.replace(0x144, 8, "copy.ico");
  icon_sys.replace(0x184, 7, "del.ico");
  ASSERT_TRUE(rig.AddSave("BASLUS-00060", {{"icon.sys", icon_sys}, {"DATA", "x"}}));
  auto entries = ChildEntries(rig.mgr);
  ASSERT_EQ(entries.count("BASLUS-00060/icon.sys"), 1u);

  const IconSysInfo info = ReadIconSys(rig.mgr, entries["BASLUS-00060/icon.sys"], 1);
  EXPECT_EQ(info.title, "LINE1\x82\x60LINE2");
  EXPECT_EQ(info.icon_file, "list.ico");
  EXPECT_EQ(ReadIconSys(rig.mgr, entries["BASLUS-00060/icon.sys"], 3).icon_file, "del.ico");
  EXPECT_EQ(ReadFile(rig.dir.File("~temp.i")).size(), 512u + 1024);

  // A folder entry cannot be exported: nothing from the last export shows.
  EXPECT_EQ(ReadIconSys(rig.mgr, entries["BASLUS-00060/."], 1).title, "");
}

TEST(IconSys, TitleLinesJoinWithASpaceWhereNeitherSideHasOne) {
  EXPECT_EQ(JoinTitleLines("TRAVOSK DEMO", "FIRST SAVE"), "TRAVOSK DEMO FIRST SAVE");
  EXPECT_EQ(JoinTitleLines("Test Save ", "Slot 01"), "Test Save Slot 01");
  EXPECT_EQ(JoinTitleLines("Test Save", " Slot 01"), "Test Save Slot 01");
  EXPECT_EQ(JoinTitleLines("\x82\x60\x81\x40", "\x82\x61"), "\x82\x60\x81\x40\x82\x61");
  EXPECT_EQ(JoinTitleLines("\x82\x60", "\x82\x61"), "\x82\x60 \x82\x61");
  EXPECT_EQ(JoinTitleLines("ONE LINE", ""), "ONE LINE");
  EXPECT_EQ(JoinTitleLines("", "ONE LINE"), "ONE LINE");

  // The break at the offset the header gives, in bytes; one past the title
  // leaves a single line.
  std::string icon_sys(964, '\0');
  icon_sys.replace(0, 4, "PS2D");
  icon_sys.replace(0xC0, 22, "BIG SAVEABOUT ONE MEGA");
  icon_sys[6] = 8;
  const auto bytes = [&] { return Bytes(reinterpret_cast<const uint8_t*>(icon_sys.data()), icon_sys.size()); };
  auto lines = IconSysTitleLines(bytes());
  EXPECT_EQ(lines[0], "BIG SAVE");
  EXPECT_EQ(lines[1], "ABOUT ONE MEGA");
  icon_sys[6] = static_cast<char>(200);
  lines = IconSysTitleLines(bytes());
  EXPECT_EQ(lines[0], "BIG SAVEABOUT ONE MEGA");
  EXPECT_EQ(lines[1], "");
}

TEST(IconSys, FolderWithoutIconSysShowsItsLastFileAsAPS1Save) {
  support::ManagerRig rig;
  const auto save = SaveImage(0x13);
  std::string data(save.begin() + 512, save.end());
  data.replace(4, 5, "TITLE");
  data.resize(8192, '\x5A');
  ASSERT_TRUE(rig.AddSave("BESCES-00070", {{"BESCES-00070", data}}));
  auto entries = ChildEntries(rig.mgr);

  const PS1IconSet set = LoadFolderPS1Icons(rig.mgr, entries["BESCES-00070/BESCES-00070"]);
  EXPECT_EQ(set.title, "TITLE");
  ASSERT_EQ(set.frames.size(), 3u);
  EXPECT_EQ(set.frames[0].bitmap[1078 + 31 * 32 + 2], 2);
  EXPECT_EQ(set.frames[1].bitmap[1078 + 28], 3);
  EXPECT_EQ(ReadFile(rig.dir.File("~lics.i")).size(), 512u + 8192);

  EXPECT_TRUE(LoadFolderPS1Icons(rig.mgr, entries["BESCES-00070/.."]).frames.empty());
}

}  // namespace
}  // namespace travosk::manager::testing
