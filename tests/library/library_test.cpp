// A folder of cards as one library, made by the program itself: PS2 cards of
// both page layouts, a folder card, PS1 cards raw and with a header, and a
// damaged card among them. Listing, search, the index, split into per-game
// cards and merge back judged by every save's bytes, and a move whose target
// cannot take the save.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "card/fileip.h"
#include "card/layout.h"
#include "formats/files.h"
#include "formats/iconsys.h"
#include "formats/images.h"
#include "formats/psu.h"
#include "formats/save.h"
#include "library/index.h"
#include "library/library.h"
#include "library/reorganise.h"
#include "manager/foldercardimage.h"
#include "manager/imagesession.h"
#include "manager/newcard.h"
#include "manager/ps1card.h"
#include "library_rig.h"
#include "support/card_fixture.h"

namespace travosk::library::testing {
namespace {

std::vector<std::string> Names(const CardEntry& c) {
  std::vector<std::string> names;
  for (const auto& s : c.saves) names.push_back(s.name);
  return names;
}

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    options.work_folder = Work();
    options.index_path = DefaultIndexPath(lib.path());
  }
  TempDir lib, cache;
  OpenOptions options;
};

// An emulator's folder: cards of both PS2 page layouts, a folder card, PS1
// cards raw and with a header, a damaged card. Then the per-game and loader
// layouts named from their folders.
TEST_F(LibraryTest, ListsEveryCardOfEveryLayoutAndSearchesAcrossThem) {
  MakePs2Card(lib.File("Mcd001.ps2"), formats::ImageFormat::kPs2Raw,
              {Ps2("BESLES-50001GAME", "Sky Racer", 1), Ps2("BASLUS-20312DATA", "Moon Golf", 2)});
  MakePs2Card(lib.File("Mcd002.ps2"), formats::ImageFormat::kPs2NoEcc,
              {Ps2("BISLPS-25001SAVE", kFullWidthTitle, 3)});
  MakePs2Card(lib.File("conv.ps2"), formats::ImageFormat::kPs2Raw,
              {Ps2("BESLES-50002OTHER", "Deep Sea", 4)});
  manager::ConvertImageToFolderCard(lib.File("conv.ps2"), lib.File("Mcd003"), Work());
  fs::remove(lib.File("conv.ps2"));
  MakePs1Card(lib.File("Mcd004.mcd"), formats::ImageFormat::kPs1Raw,
              {Ps1("BESCES-00344RACE", "Track Star", 5)});
  MakePs1Card(lib.File("Mcd005.gme"), formats::ImageFormat::kPs1Gme,
              {Ps1("BASLUS-00101", "Old Game", 6)});
  // Damaged: a card whose superblock is gone, and a file cut short.
  MakePs2Card(lib.File("Mcd006.ps2"), formats::ImageFormat::kPs2Raw, {});
  {
    std::fstream f(lib.File("Mcd006.ps2"), std::ios::in | std::ios::out | std::ios::binary);
    f.write(std::string(512, 'X').data(), 512);
  }
  std::ofstream(lib.File("Mcd007.ps2")) << "short";

  const Library first = OpenLibrary(lib.path(), options);
  EXPECT_EQ(first.layout, DeviceLayout::kEmulator);
  ASSERT_EQ(first.cards.size(), 7u);
  EXPECT_EQ(first.cards_read, 7u);
  std::map<std::string, const CardEntry*> by_path;
  for (const auto& c : first.cards) by_path[c.path] = &c;
  EXPECT_EQ(Names(*by_path["Mcd001.ps2"]),
            (std::vector<std::string>{"BESLES-50001GAME", "BASLUS-20312DATA"}));
  EXPECT_EQ(by_path["Mcd001.ps2"]->saves[0].title, "Sky Racer");
  EXPECT_EQ(by_path["Mcd001.ps2"]->saves[0].product, "SLES-50001");
  EXPECT_EQ(by_path["Mcd001.ps2"]->saves[0].modified.substr(0, 4), "2024");
  EXPECT_EQ(Names(*by_path["Mcd003"]), std::vector<std::string>{"BESLES-50002OTHER"});
  EXPECT_TRUE(by_path["Mcd003"]->folder_card);
  EXPECT_TRUE(by_path["Mcd004.mcd"]->ps1);
  EXPECT_EQ(by_path["Mcd004.mcd"]->saves.at(0).product, "SCES-00344");
  EXPECT_EQ(by_path["Mcd004.mcd"]->saves.at(0).title, "Track Star");
  EXPECT_EQ(Names(*by_path["Mcd005.gme"]), std::vector<std::string>{"BASLUS-00101"});
  for (const char* damaged : {"Mcd006.ps2", "Mcd007.ps2"}) {
    EXPECT_FALSE(by_path[damaged]->readable) << damaged;
    EXPECT_FALSE(by_path[damaged]->problem.empty()) << damaged;
  }

  // Search: name, code as typed with or without its dash, title in either width.
  auto matches = [&](const std::string& text) {
    std::vector<std::string> out;
    for (const auto& c : first.cards)
      for (const auto& s : c.saves)
        if (SaveMatches(s, FoldForSearch(text))) out.push_back(s.name);
    return out;
  };
  EXPECT_EQ(matches("final saga"), std::vector<std::string>{"BISLPS-25001SAVE"});
  EXPECT_EQ(matches("ＳＡＧＡ"), std::vector<std::string>{"BISLPS-25001SAVE"});
  EXPECT_EQ(matches("sles50002"), std::vector<std::string>{"BESLES-50002OTHER"});
  EXPECT_EQ(matches("SCES-00344"), std::vector<std::string>{"BESCES-00344RACE"});
  EXPECT_EQ(matches("moon"), std::vector<std::string>{"BASLUS-20312DATA"});
  EXPECT_TRUE(matches("nothing like it").empty());
  EXPECT_EQ(FoldForSearch("ｶﾞｰﾃﾞﾝ ﾊﾟﾝﾁ"), FoldForSearch("ガーデン　パンチ"));

  // The index: a second listing reads nothing; a changed card alone is read
  // again; a hostile index is dropped and rebuilt.
  const Library second = OpenLibrary(lib.path(), options);
  EXPECT_EQ(second.cards_read, 0u);
  EXPECT_EQ(Names(second.cards[0]), Names(first.cards[0]));
  EXPECT_FALSE(second.cards[5].readable);
  fs::remove(lib.File("Mcd002.ps2"));
  MakePs2Card(lib.File("Mcd002.ps2"), formats::ImageFormat::kPs2NoEcc,
              {Ps2("BISLPS-25009NEW", "New", 7)});
  const Library third = OpenLibrary(lib.path(), options);
  EXPECT_EQ(third.cards_read, 1u);
  EXPECT_EQ(Names(third.cards[1]), std::vector<std::string>{"BISLPS-25009NEW"});
  for (const std::string& hostile : {std::string("travosk-library-index 1\tx00\nC\tzz\n"), std::string(4096, '\xff'),
                                     std::string()}) {
    std::ofstream(options.index_path, std::ios::trunc) << hostile;
    const Library again = OpenLibrary(lib.path(), options);
    EXPECT_EQ(again.cards_read, 7u);
    EXPECT_EQ(Names(again.cards[1]), std::vector<std::string>{"BISLPS-25009NEW"});
  }

  // Device layouts told by their folders.
  EXPECT_EQ(DetectLayout({"SLES-50001/SLES-50001-1.mc2", "SLES-50001/SLES-50001-2.mc2",
                          "SCES-00344/SCES-00344-1.mcd"}),
            DeviceLayout::kPerGame);
  EXPECT_EQ(DetectLayout({"MemoryCards/PS2/Card1/Card1-1.mcd", "MemoryCards/PS1/SCES-00344/SCES-00344-1.mcd"}),
            DeviceLayout::kMemoryCards);
  EXPECT_EQ(DetectLayout({"VMC/game.bin", "VMC/other.bin"}), DeviceLayout::kVirtualCards);
  EXPECT_EQ(DetectLayout({"SCES-00344.mcr", "SLUS-00101.mcr"}), DeviceLayout::kPs1PerGame);
  EXPECT_EQ(DetectLayout({"a/b/c.ps2", "x.bin"}), DeviceLayout::kLoose);
}

// Split a crowded card into per-game cards, then merge those back into one:
// every save's bytes the same at each step; a merge of clashing names or of
// more than a card holds writes nothing.
TEST_F(LibraryTest, SplitsIntoPerGameCardsAndMergesBackByteForByte) {
  MakePs2Card(lib.File("Mcd001.ps2"), formats::ImageFormat::kPs2Raw,
              {Ps2("BESLES-50001GAME", "One", 1), Ps2("BESLES-50001OPTS", "One opts", 2),
               Ps2("BASLUS-20312DATA", "Two", 3), Ps2("MYSAVE", "none", 4)});
  const auto before = SaveBytes(lib.File("Mcd001.ps2"));
  ASSERT_EQ(before.size(), 4u);

  const auto made = SplitCard(lib.path(), "Mcd001.ps2", DeviceLayout::kPerGame, Work());
  ASSERT_EQ(made.size(), 3u);
  std::map<std::string, std::vector<uint8_t>> split;
  for (const auto& nc : made) {
    for (auto& [name, bytes] : SaveBytes(lib.File(nc.path))) split[name] = bytes;
  }
  EXPECT_EQ(split, before);
  EXPECT_EQ(made[0].path, "OTHER/OTHER-1.mc2");
  EXPECT_EQ(made[1].path, "SLES-50001/SLES-50001-1.mc2");
  EXPECT_EQ(made[1].saves, (std::vector<std::string>{"BESLES-50001GAME", "BESLES-50001OPTS"}));
  EXPECT_EQ(formats::IdentifyImageFile(lib.File(made[1].path))->format, formats::ImageFormat::kPs2NoEcc);
  EXPECT_EQ(SaveBytes(lib.File("Mcd001.ps2")), before);  // the source stays
  // A second split takes the next channel.
  EXPECT_EQ(SplitCard(lib.path(), "Mcd001.ps2", DeviceLayout::kPerGame, Work())[1].path,
            "SLES-50001/SLES-50001-2.mc2");

  std::vector<std::string> parts;
  for (const auto& nc : made) parts.push_back(nc.path);
  const auto merged = MergeCards(lib.path(), parts, "merged.ps2", Work());
  EXPECT_EQ(merged.saves.size(), 4u);
  EXPECT_EQ(SaveBytes(lib.File("merged.ps2")), before);

  // Two saves of one name: nothing written.
  EXPECT_THROW(MergeCards(lib.path(), {"Mcd001.ps2", "merged.ps2"}, "clash.ps2", Work()),
               ReorganiseError);
  EXPECT_FALSE(fs::exists(lib.File("clash.ps2")));

  // PS1: sixteen one-block saves over two cards do not fit one card.
  std::vector<formats::Ps1Save> a, b;
  for (int i = 0; i < 8; ++i) a.push_back(Ps1("BESCES-0034" + std::to_string(i), "A", i));
  for (int i = 0; i < 8; ++i) b.push_back(Ps1("BASLUS-0010" + std::to_string(i), "B", i));
  MakePs1Card(lib.File("a.mcr"), formats::ImageFormat::kPs1Raw, a);
  MakePs1Card(lib.File("b.mcr"), formats::ImageFormat::kPs1Raw, b);
  EXPECT_THROW(MergeCards(lib.path(), {"a.mcr", "b.mcr"}, "ab.mcr", Work()), ReorganiseError);
  EXPECT_FALSE(fs::exists(lib.File("ab.mcr")));
  const auto ps1_before = SaveBytes(lib.File("a.mcr"));
  const auto ps1_made = SplitCard(lib.path(), "a.mcr", DeviceLayout::kMemoryCards, Work());
  ASSERT_EQ(ps1_made.size(), 8u);
  EXPECT_EQ(ps1_made[0].path, "MemoryCards/PS1/SCES-00340/SCES-00340-1.mcd");
  std::map<std::string, std::vector<uint8_t>> ps1_split;
  for (const auto& nc : ps1_made)
    for (auto& [name, bytes] : SaveBytes(lib.File(nc.path))) ps1_split[name] = bytes;
  EXPECT_EQ(ps1_split, ps1_before);
}

// A move puts the save on its target and then takes it off its source; when
// the target cannot take it the source keeps it, and no file is left behind.
TEST_F(LibraryTest, MoveLeavesTheSaveOnItsSourceWhenTheTargetWriteFails) {
  MakePs2Card(lib.File("from.ps2"), formats::ImageFormat::kPs2Raw,
              {Ps2("BESLES-50001GAME", "One", 1), Ps2("BASLUS-20312DATA", "Two", 2)});
  MakePs2Card(lib.File("to.ps2"), formats::ImageFormat::kPs2Raw, {Ps2("BESLES-50009X", "X", 3)});
  const auto from_before = SaveBytes(lib.File("from.ps2"));
  const auto to_before = SaveBytes(lib.File("to.ps2"));

  CopySave(lib.path(), "from.ps2", "BESLES-50001GAME", "to.ps2", true, Work());
  auto from_after = SaveBytes(lib.File("from.ps2"));
  auto to_after = SaveBytes(lib.File("to.ps2"));
  EXPECT_EQ(from_after.count("BESLES-50001GAME"), 0u);
  EXPECT_EQ(from_after.at("BASLUS-20312DATA"), from_before.at("BASLUS-20312DATA"));
  EXPECT_EQ(to_after.at("BESLES-50001GAME"), from_before.at("BESLES-50001GAME"));
  EXPECT_EQ(to_after.at("BESLES-50009X"), to_before.at("BESLES-50009X"));

  // A target that holds a save of that name, and a full target: refused,
  // both cards' bytes as they were.
  CopySave(lib.path(), "to.ps2", "BESLES-50009X", "from.ps2", false, Work());
  EXPECT_EQ(SaveBytes(lib.File("from.ps2")).at("BESLES-50009X"), to_before.at("BESLES-50009X"));
  const auto from_file = formats::LoadWholeFile(lib.File("from.ps2"), 80 << 20);
  EXPECT_THROW(CopySave(lib.path(), "to.ps2", "BESLES-50009X", "from.ps2", false, Work()),
               ReorganiseError);
  EXPECT_EQ(formats::LoadWholeFile(lib.File("from.ps2"), 80 << 20), from_file);
  std::vector<formats::Ps1Save> full;
  for (int i = 0; i < 15; ++i) full.push_back(Ps1("BESCES-0100" + std::to_string(i % 10) + char('A' + i), "F", i));
  MakePs1Card(lib.File("full.mcr"), formats::ImageFormat::kPs1Raw, full);
  MakePs1Card(lib.File("one.mcr"), formats::ImageFormat::kPs1Raw, {Ps1("BESCES-00344RACE", "R", 1)});
  const auto full_file = formats::LoadWholeFile(lib.File("full.mcr"), 1 << 20);
  const auto one_file = formats::LoadWholeFile(lib.File("one.mcr"), 1 << 20);
  EXPECT_THROW(CopySave(lib.path(), "one.mcr", "BESCES-00344RACE", "full.mcr", true, Work()),
               ReorganiseError);
  EXPECT_EQ(formats::LoadWholeFile(lib.File("full.mcr"), 1 << 20), full_file);
  EXPECT_EQ(formats::LoadWholeFile(lib.File("one.mcr"), 1 << 20), one_file);
  for (const auto& e : fs::directory_iterator(lib.path()))
    EXPECT_NE(e.path().filename().string().rfind(".travosk-", 0), 0u) << e.path();
}

}  // namespace
}  // namespace travosk::library::testing
