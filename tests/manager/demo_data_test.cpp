// The generated supplied files and demo cards, read back through the card
// manager: what the demo shows is what the files hold.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "card/checker.h"
#include "manager/icons.h"
#include "manager/saveicon.h"
#include "ps1_rig.h"

namespace travosk::manager::testing {
namespace {

namespace fs = std::filesystem;

// The build's data folder: TRAVOSK_DATA, or "data" beside TRAVOSK_BIN.
std::string DataFolder() {
  if (const char* data = std::getenv("TRAVOSK_DATA")) return data;
  if (const char* bin = std::getenv("TRAVOSK_BIN")) return std::string(bin) + "/../data";
  return {};
}

std::string DataFile(const std::string& name) {
  return DataFolder() + "/" + name;
}

#define REQUIRE_DATA(name)                                                          \
  if (DataFolder().empty()) GTEST_SKIP() << "neither TRAVOSK_DATA nor TRAVOSK_BIN"; \
  ASSERT_TRUE(fs::exists(DataFile(name))) << DataFile(name)

// A card manager on a copy of a demo image.
class DemoRig {
 public:
  DemoRig(const std::string& name, sim::MediumKind kind) {
    const std::string image = dir.File(name);
    fs::copy_file(DataFile(name), image);
    if (kind == sim::MediumKind::kSmartMedia)
      session.adapter.InsertSmartMedia(sim::Medium::Open(image, kind));
    else
      session.adapter.InsertCard(sim::Medium::Open(image, kind));
    mgr.InitSystem(dir.path());
    mgr.Access().Medium = kind == sim::MediumKind::kSmartMedia ? Slot::kSmartMedia : Slot::kCard;
  }
  ~DemoRig() { mgr.DoneSystem(); }

  // Catalogue entries: folders by name, and their files by "folder/name".
  std::map<std::string, card::TfileIP> Catalogue() {
    std::map<std::string, card::TfileIP> entries;
    std::string folder;
    mgr.OnAddrootNode = [&](card::TfileIP& x) {
      folder = x.Name;
      entries[x.Name] = x;
    };
    mgr.OnAddChildNode = [&](card::TfileIP& x) { entries[folder + "/" + x.Name] = x; };
    EXPECT_TRUE(mgr.Catalog());
    return entries;
  }

  support::TempDir dir;
  sim::LoopbackSession session;
  TPS2MFMSYS mgr{session.link};
};

std::string Str(std::initializer_list<uint8_t> bytes) {
  return {bytes.begin(), bytes.end()};
}

TEST(DemoData, SuppliedIconAndPCFormatImages) {
  REQUIRE_DATA("PS2ICO.bmp");
  const auto bmp = ReadFile(DataFile("PS2ICO.bmp"));
  ASSERT_EQ(bmp.size(), 2102u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(load_le32(bmp, 18), 32u);
  EXPECT_EQ(load_le16(bmp, 28), 8u);
  for (const char* name : {"pcf4M.bin", "pcf8M.bin", "pcf16M.bin", "pcf32M.bin"}) {
    const auto image = ReadFile(DataFile(name));
    ASSERT_EQ(image.size(), 1152u * 528) << name;
    // The SmartMedia card information structure opens pages 0 and 1: a PC
    // reader knows the card by its first ten bytes. All else is erased.
    const std::vector<uint8_t> cis_head = {0x01, 0x03, 0xD9, 0x01, 0xFF,  // device tuple
                                           0x18, 0x02, 0xDF, 0x01,        // JEDEC tuple
                                           0x20};                         // manufacturer
    for (size_t page : {0u, 1u}) {
      const auto at = image.begin() + page * 528;
      EXPECT_TRUE(std::equal(cis_head.begin(), cis_head.end(), at)) << name << " page " << page;
      EXPECT_EQ(at[0x6B], 0x14) << name;  // no link, then the end of the chain
      EXPECT_EQ(at[0x6D], 0xFF) << name;
      EXPECT_TRUE(std::all_of(at + 0x6E, at + 528, [](uint8_t b) { return b == 0xFF; })) << name;
    }
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 528, image.begin() + 528)) << name;
    EXPECT_TRUE(
        std::all_of(image.begin() + 2 * 528, image.end(), [](uint8_t b) { return b == 0xFF; }));
  }
}

TEST(DemoData, PS1CardHoldsChainedSavesWithIcons) {
  REQUIRE_DATA("demo-ps1.mcr");
  DemoRig rig("demo-ps1.mcr", sim::MediumKind::kPS1);
  auto card = rig.session.adapter.card()->bytes();
  EXPECT_EQ(card[0], 'M');
  EXPECT_EQ(card[127], 0x0E);
  for (int f = 1; f <= 15; ++f) EXPECT_TRUE(ChecksumValid(card.subspan(128 * f, 128))) << f;

  ASSERT_TRUE(rig.mgr.PS1Catalog());
  const auto& items = rig.mgr.PS1Card.Items;
  const std::vector<std::pair<int, uint8_t>> states = {{0, 0x51}, {1, 0x51}, {2, 0x53},
                                                       {3, 0xA1}, {4, 0x51}, {5, 0xA0},
                                                       {6, 0x52}, {7, 0x53}, {8, 0xA0}};
  for (auto [e, state] : states) EXPECT_EQ(items[e].DirFrame[0], state) << e;
  EXPECT_EQ(items[1].Link, 2);
  EXPECT_EQ(items[4].Link, 6);
  EXPECT_EQ(items[6].Link, 7);
  EXPECT_EQ(items[7].Link, 0xFFFF);
  EXPECT_EQ(items[0].IconFrames, 1);
  EXPECT_EQ(items[1].IconFrames, 2);
  EXPECT_EQ(items[4].IconFrames, 3);
  EXPECT_EQ(items[4].Size, 3 * 8192);
  EXPECT_EQ(items[4].FileName, "BISLPS-00104BALL");
  EXPECT_EQ(items[4].Title.substr(0, 4), Str({0x82, 0x73, 0x82, 0x71}));  // "ＴＲ"

  EXPECT_EQ(LoadCardPS1Icons(rig.mgr, 4, items[4].IconFrames).frames.size(), 3u);
  ASSERT_TRUE(rig.mgr.UploadPS1Saver(rig.dir.File("ball.PS1"), 4));
  EXPECT_EQ(fs::file_size(rig.dir.File("ball.PS1")), 128u + 3 * 8192);
}

TEST(DemoData, PS2CardHoldsSavesWithTitlesAndAFolderPS1Icon) {
  REQUIRE_DATA("demo-ps2.ps2");
  DemoRig rig("demo-ps2.ps2", sim::MediumKind::kPS2);
  auto entries = rig.Catalogue();
  int saves = 0;
  for (const auto& [name, x] : entries)
    if (name.find('/') == std::string::npos && x.Dir && !x.IsDotName()) ++saves;
  EXPECT_GE(saves, 6);
  EXPECT_EQ(entries["BASLUS-21003SIZES/EMPTY.DAT"].Length(), 0u);
  EXPECT_EQ(entries["BASLUS-21004BIGDATA/BIG.BIN"].Length(), 1000000u);

  const IconSysInfo ascii = ReadIconSys(rig.mgr, entries["BASLUS-21001TRAVOSK/icon.sys"], 1);
  EXPECT_EQ(ascii.title, "TRAVOSK DEMOFIRST SAVE");
  // Shown, the two lines read as one with a space at the break.
  EXPECT_EQ(formats::JoinTitleLines(ascii.title_lines[0], ascii.title_lines[1]),
            "TRAVOSK DEMO FIRST SAVE");
  EXPECT_EQ(ascii.icon_file, "list.ico");
  const IconSysInfo sjis = ReadIconSys(rig.mgr, entries["BISLPS-21002MEMCARD/icon.sys"], 1);
  EXPECT_EQ(sjis.title.substr(0, 4), Str({0x83, 0x81, 0x83, 0x82}));  // "メモ"

  const PS1IconSet spinner =
      LoadFolderPS1Icons(rig.mgr, entries["BESCES-21006SPINNER/BESCES-21006SPINNER"]);
  EXPECT_EQ(spinner.title, "SPINNING TOP");
  EXPECT_EQ(spinner.frames.size(), 3u);

  ASSERT_TRUE(rig.mgr.Volume().Mount());
  EXPECT_TRUE(card::CheckFileSystem(rig.mgr.Volume()).Healthy());
}

// Every demo save with an "ICON.SYS" carries a real-layout icon, some of
// them animated or with compressed textures, except the one whose icon file
// is missing on purpose.
TEST(DemoData, PS2SavesCarryTheirOwnIcons) {
  REQUIRE_DATA("demo-ps2.ps2");
  DemoRig rig("demo-ps2.ps2", sim::MediumKind::kPS2);
  auto entries = rig.Catalogue();
  std::map<std::string, std::vector<card::TfileIP>> folders;
  for (const auto& [name, x] : entries)
    if (auto slash = name.find('/'); slash != std::string::npos)
      folders[name.substr(0, slash)].push_back(x);
  int animated = 0, compressed = 0;
  for (const char* save : {"BASLUS-21001TRAVOSK", "BISLPS-21002MEMCARD", "BASLUS-21003SIZES",
                           "BASLUS-21004BIGDATA", "BISLPS-21005ADVENTURE"}) {
    std::string error;
    const auto icon = LoadSaveIcon(rig.mgr, folders[save], error);
    ASSERT_TRUE(icon) << save << ": " << error;
    animated += icon->icon.shapes > 1;
    compressed += (icon->icon.texture_type & formats::icofile::kCompressed) != 0;
  }
  EXPECT_GE(animated, 2);
  EXPECT_GE(compressed, 2);
  std::string error;
  EXPECT_FALSE(LoadSaveIcon(rig.mgr, folders["BASLUS-21007ICONONLY"], error));
  EXPECT_NE(error.find("none.ico"), std::string::npos) << error;
}

TEST(DemoData, SmartMediaHoldsTwoSaves) {
  REQUIRE_DATA("demo-sm16.bin");
  DemoRig rig("demo-sm16.bin", sim::MediumKind::kSmartMedia);
  auto entries = rig.Catalogue();
  EXPECT_EQ(entries.count("BASLUS-21101SMART"), 1u);
  EXPECT_EQ(entries.count("BESCES-21102STARS"), 1u);
  EXPECT_EQ(
      LoadFolderPS1Icons(rig.mgr, entries["BESCES-21102STARS/BESCES-21102STARS"]).frames.size(),
      2u);
}

}  // namespace
}  // namespace travosk::manager::testing
