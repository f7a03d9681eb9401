// travosk-cli on card images: listings, JSON, extract, delete, backup and
// restore, mkfs, check, PS1 commands and exit codes.
#include "cli/cli.h"
#include "cli/manual.h"
#include "cli/table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "support/manager_fixture.h"
#include "run_cli.h"

namespace travosk {
namespace {

using support::ManagerRig;
using support::ReadFileBytes;

using testing::Result;
using testing::RunCli;

class Cli : public ::testing::Test {
 protected:
  // A card image with two saves, written by the card manager; the rig stays
  // alive so its temporary folder does, but the command line opens the image
  // on its own.
  void SetUp() override {
    const std::string title = "\x82\x65\x82\x68\x82\x71\x82\x72\x82\x73";  // "ＦＩＲＳＴ"
    std::string icon_sys(964, '\0');
    icon_sys.replace(0, 4, "PS2D");
    icon_sys.replace(0xC0, title.size(), title);
    icon_sys[6] = 6;  // the second line starts with "Ｓ"
    ASSERT_TRUE(rig.AddSave("BASLUS-20001", {{"icon.sys", icon_sys}, {"DATA", data}}));
    ASSERT_TRUE(rig.AddSave("BASLUS-20002", {{"GAME", "game"}}));
    workdir = rig.dir.File("cli-home");
  }

  Result Run(std::vector<std::string> args, const std::string& input = "", bool tty = false) {
    return RunCli(std::move(args), workdir, input, tty);
  }

  ManagerRig rig;
  std::string data = std::string(1500, 'z') + "end";
  std::string workdir;
};

TEST_F(Cli, ListsSavesWithDecodedTitlesAsTextAndJson) {
  const auto text = Run({"ls", "--image", rig.image_path()});
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_NE(text.out.find("BASLUS-20001"), std::string::npos);
  EXPECT_NE(text.out.find("ＦＩＲ ＳＴ"), std::string::npos);

  // Options stand before or after the command's name.
  const auto json = Run({"--json", "ls", "--image=" + rig.image_path()});
  ASSERT_EQ(json.code, 0) << json.err;
  EXPECT_EQ(json.out.rfind("{\"saves\": [{\"name\": \"BASLUS-20001\", \"title\": \"ＦＩＲ ＳＴ\", "
                           "\"title_lines\": [\"ＦＩＲ\", \"ＳＴ\"]",
                           0),
            0u)
      << json.out;
  EXPECT_NE(json.out.find("\"used\": "), std::string::npos);
  EXPECT_NE(json.out.find("\"free\": "), std::string::npos);
  EXPECT_NE(json.out.find("\"capacity\": 8388608"), std::string::npos);
}

TEST_F(Cli, ListsOneSaveAndExtractsAFileToItsExactLength) {
  const auto files = Run({"--image", rig.image_path(), "ls", "BASLUS-20001"});
  ASSERT_EQ(files.code, 0) << files.err;
  EXPECT_NE(files.out.find("icon.sys"), std::string::npos);
  EXPECT_NE(files.out.find("8417"), std::string::npos);

  const std::string out = rig.dir.File("DATA.bin");
  const auto r = Run({"extract", "BASLUS-20001/DATA", out, "--image", rig.image_path()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(out), data);
  EXPECT_EQ(Run({"extract", "BASLUS-20001/NOPE", out, "--image", rig.image_path()}).code, 1);
}

TEST_F(Cli, DestructiveCommandsNeedYesWithoutATerminal) {
  const auto before = rig.Snapshot();
  const auto refused = Run({"delete", "BASLUS-20002", "--image", rig.image_path()});
  EXPECT_EQ(refused.code, 2);
  EXPECT_EQ(rig.Snapshot(), before);

  const auto declined = Run({"delete", "BASLUS-20002", "--image", rig.image_path()}, "n\n", true);
  EXPECT_EQ(declined.code, 1);
  EXPECT_EQ(rig.Snapshot(), before);

  const auto done = Run({"delete", "BASLUS-20002", "--yes", "--image", rig.image_path()});
  ASSERT_EQ(done.code, 0) << done.err;
  const auto listing = Run({"ls", "--image", rig.image_path()});
  EXPECT_EQ(listing.out.find("BASLUS-20002"), std::string::npos);
  EXPECT_EQ(Run({"delete", "BASLUS-20002", "--yes", "--image", rig.image_path()}).code, 1);
}

TEST_F(Cli, BackupAndRestoreAskBeforeReplacingASave) {
  const std::string archive = rig.dir.File("save.psu");
  ASSERT_EQ(Run({"backup", "BASLUS-20001", archive, "--image", rig.image_path()}).code, 0);

  const auto exists = Run({"restore", archive, "--image", rig.image_path()});
  EXPECT_EQ(exists.code, 1);
  EXPECT_NE(exists.err.find("--overwrite"), std::string::npos);

  ASSERT_EQ(Run({"restore", archive, "--overwrite", "--image", rig.image_path()}).code, 0);
  ASSERT_EQ(Run({"restore", archive, "--keep-both", "--image", rig.image_path()}).code, 0);
  const auto json = Run({"ls", "--json", "--image", rig.image_path()});
  size_t copies = 0;
  for (size_t at = json.out.find("\"BASLUS-20001\""); at != std::string::npos;
       at = json.out.find("\"BASLUS-20001\"", at + 1))
    ++copies;
  // Both are kept, the second under a name of its own.
  EXPECT_EQ(copies, 1u);
  EXPECT_NE(json.out.find("\"BASLUS-20001_1\""), std::string::npos) << json.out;
  EXPECT_EQ(Run({"check", "--image", rig.image_path()}).code, 0);
}

TEST_F(Cli, BackupOfASaveHoldingAFolderFailsNamingIt) {
  rig.LoadImage(support::PeerCard("peer_nested.ps2"));
  const std::string archive = rig.dir.File("nested.psu");
  const auto r = Run({"backup", "BESLES-60005NESTED", archive, "--image", rig.image_path()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("\"EXTRA\""), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(archive));
}

TEST_F(Cli, CheckReportsDamageAndMkfsGivesAnEmptyCard) {
  support::PokeFat(rig.medium().bytes(), 5000, 0xFFFFFFFF);
  const auto damaged = Run({"check", "--image", rig.image_path()});
  EXPECT_EQ(damaged.code, 1);
  EXPECT_NE(damaged.out.find("lost cluster"), std::string::npos);

  ASSERT_EQ(Run({"mkfs", "--yes", "--image", rig.image_path()}).code, 0);
  const auto empty = Run({"ls", "--json", "--image", rig.image_path()});
  ASSERT_EQ(empty.code, 0);
  EXPECT_EQ(empty.out.rfind("{\"saves\": []", 0), 0u);
  EXPECT_EQ(Run({"check", "--image", rig.image_path()}).code, 0);
}

TEST_F(Cli, LsCompletesAWriteThatAnInterruptionCutShortAndSaysSoOnce) {
  // The rewrite of the root directory's block (pages 80..95) through the
  // backup blocks, cut short right after the block was erased: its new
  // contents are whole in backup block 1 (pages 16,368..) under a complete
  // marker in backup block 2 (pages 16,352..).
  auto& a = rig.mgr.Access();
  ASSERT_TRUE(a.OpenCard());
  constexpr uint32_t kRoot = 80, kCopy = 16368, kMarker = 16352;
  std::vector<uint8_t> contents(16 * 528);
  link::Page page{};
  for (uint32_t j = 0; j < 16; ++j) {
    a.SeekPage(kRoot + j);
    ASSERT_TRUE(a.ReadPage(page));
    std::copy(page.begin(), page.end(), contents.begin() + j * 528);
  }
  link::Page mark{};
  store_le32(mark, 0, 5 | 0x80000000u);
  ASSERT_TRUE(a.EraseBlock(kCopy) && a.WritePage(kMarker, mark) &&
              a.ProgramBlock(kCopy, contents.data()) && a.WritePage(kMarker + 1, mark) &&
              a.EraseBlock(kRoot));

  const auto mended = Run({"--image", rig.image_path(), "ls"});
  ASSERT_EQ(mended.code, 0) << mended.err;
  EXPECT_NE(mended.out.find("BASLUS-20001"), std::string::npos);
  EXPECT_NE(mended.out.find("BASLUS-20002"), std::string::npos);
  EXPECT_EQ(mended.err,
            "travosk-cli: an interrupted write to the card was completed (erase block 5)\n");
  const auto image = rig.Snapshot();
  for (uint32_t j = 0; j < 16; ++j) {
    EXPECT_TRUE(std::equal(contents.begin() + j * 528, contents.begin() + j * 528 + 512,
                           image.begin() + (kRoot + j) * 528));
    EXPECT_TRUE(std::all_of(image.begin() + (kMarker + j) * 528,
                            image.begin() + (kMarker + j + 1) * 528,
                            [](uint8_t b) { return b == 0xFF; }));
  }
  const auto again = Run({"--image", rig.image_path(), "check"});
  EXPECT_EQ(again.code, 0) << again.out;
  EXPECT_EQ(again.err, "");
}

TEST_F(Cli, CheckRepairShowsItsPlanAndFreesALostClusterOnlyWhenConfirmed) {
  const auto clean = rig.Snapshot();
  support::PokeFat(rig.medium().bytes(), 5000, 0xFFFFFFFF);
  const auto damaged = rig.Snapshot();

  const auto unconfirmed = Run({"check", "--repair", "--image", rig.image_path()});
  EXPECT_EQ(unconfirmed.code, 2);
  EXPECT_NE(unconfirmed.err.find("cluster 5000: free"), std::string::npos) << unconfirmed.err;
  EXPECT_EQ(rig.Snapshot(), damaged);
  const auto declined = Run({"check", "--repair", "--image", rig.image_path()}, "n\n", true);
  EXPECT_EQ(declined.code, 1);
  EXPECT_EQ(rig.Snapshot(), damaged);

  const auto repaired = Run({"check", "--repair", "--yes", "--image", rig.image_path()});
  ASSERT_EQ(repaired.code, 0) << repaired.err;
  EXPECT_NE(repaired.out.find("no problems found"), std::string::npos);
  // The card is the clean one again, but for backup block 1 (pages 16,368
  // on), which keeps the table block's copy.
  const auto now = rig.Snapshot();
  const size_t copy = size_t{16368} * 528;
  EXPECT_TRUE(std::equal(now.begin(), now.begin() + copy, clean.begin()));
  EXPECT_EQ(Run({"check", "--image", rig.image_path()}).code, 0);
}

TEST_F(Cli, UsageErrorsAndMissingCardsHaveTheirExitCodes) {
  EXPECT_EQ(Run({}).code, 2);
  EXPECT_EQ(Run({"frobnicate"}).code, 2);
  EXPECT_EQ(Run({"ls", "--slot", "drawer"}).code, 2);
  const auto missing = Run({"ls", "--image", rig.dir.File("nothing.img")});
  EXPECT_EQ(missing.code, 1);
  EXPECT_FALSE(missing.err.empty());
}

TEST_F(Cli, NamesItselfAndItsVersionAndHasAManualOfEveryCommand) {
  const auto version = Run({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out.rfind("travosk-cli ", 0), 0u) << version.out;
  EXPECT_NE(Run({"--help"}).out.find("Usage: travosk-cli [OPTIONS] SUBCOMMAND"), std::string::npos);
  EXPECT_NE(Run({"ps1", "backup", "--help"}).out.find("Usage: travosk-cli ps1 backup"),
            std::string::npos);
  std::ostringstream manual;
  cli::WriteManual(manual);
  for (const auto& command : cli::Commands()) {
    if (!command.declare) continue;  // a group
    EXPECT_NE(manual.str().find(".SS " + std::string(command.name)), std::string::npos)
        << command.name;
  }
  EXPECT_NE(manual.str().find(".SS ps1 backup N FILE [\\-\\-format TEXT]"), std::string::npos);
}

TEST(CliPS1, RestoresListsBacksUpAndDeletesSaves) {
  ManagerRig rig({support::CardMedia::kPS1, 8, false});
  // A formatted PS1 card: "MC" header, every directory frame free.
  auto image = rig.medium().bytes();
  image[0] = 'M';
  image[1] = 'C';
  image[127] = 'M' ^ 'C';
  for (int e = 1; e <= 15; ++e) {
    uint8_t* f = image.data() + e * 128;
    f[0] = 0xA0;
    f[8] = f[9] = 0xFF;
    uint8_t x = 0;
    for (int i = 0; i < 127; ++i) x ^= f[i];
    f[127] = x;
  }
  // A one-block save file: its directory frame, then 8,192 bytes of data.
  std::string save(128 + 8192, '\0');
  save[0] = 0x51;
  const std::string name = "BISLPS-00001GAME";
  save.replace(10, name.size(), name);
  save[4] = 0x00;
  save[5] = 0x20;  // 8,192 bytes
  save[8] = save[9] = static_cast<char>(0xFF);
  save.replace(128, 2, "SC");
  save[128 + 2] = 0x11;
  save[128 + 3] = 1;
  save.replace(128 + 4, 5, "TITLE");
  const std::string file = rig.dir.File("save.PS1");
  support::WriteFileBytes(file, save);
  const std::string home = "--workdir=" + rig.dir.File("home");

  auto run = [&](std::vector<std::string> args) {
    args.push_back(home);
    args.push_back("--image=" + rig.image_path());
    std::istringstream in;
    std::ostringstream out, err;
    const int code = cli::Run(args, in, out, err, {});
    return Result{code, out.str(), err.str()};
  };
  ASSERT_EQ(run({"ps1", "restore", file}).code, 0);
  const auto listing = run({"ps1", "ls"});
  ASSERT_EQ(listing.code, 0) << listing.err;
  EXPECT_NE(listing.out.find(name), std::string::npos);
  EXPECT_NE(listing.out.find("TITLE"), std::string::npos);

  const std::string back = rig.dir.File("back.PS1");
  ASSERT_EQ(run({"ps1", "backup", "1", back}).code, 0);
  EXPECT_EQ(ReadFileBytes(back).substr(128), save.substr(128));

  const std::string dump = rig.dir.File("card.pss");
  ASSERT_EQ(run({"ps1", "dump", dump}).code, 0);
  EXPECT_EQ(ReadFileBytes(dump).size(), 131072u);
  EXPECT_EQ(run({"ps1", "delete", "1"}).code, 2);
  ASSERT_EQ(run({"ps1", "delete", "1", "--yes"}).code, 0);
  EXPECT_EQ(run({"ps1", "ls"}).out.find(name), std::string::npos);
  ASSERT_EQ(run({"ps1", "write", dump, "--yes"}).code, 0);
  EXPECT_NE(run({"ps1", "ls"}).out.find(name), std::string::npos);
  EXPECT_EQ(run({"ls"}).code, 1) << "a PS1 card has no PS2 listing";

  // A save of that name on the card: replaced, or kept beside the new one, as
  // asked; without either answer nothing happens.
  const auto asked = run({"ps1", "restore", file});
  EXPECT_EQ(asked.code, 1);
  EXPECT_NE(asked.err.find("--overwrite"), std::string::npos);
  std::string other = save;
  other.replace(128 + 4, 5, "OTHER");
  const std::string other_file = rig.dir.File("other.PS1");
  support::WriteFileBytes(other_file, other);
  ASSERT_EQ(run({"ps1", "restore", other_file, "--overwrite"}).code, 0);
  auto listed = run({"ps1", "ls"}).out;
  EXPECT_NE(listed.find("OTHER"), std::string::npos);
  EXPECT_EQ(listed.find("TITLE"), std::string::npos);
  EXPECT_NE(listed.find("1 saves"), std::string::npos) << listed;
  ASSERT_EQ(run({"ps1", "restore", file, "--keep-both"}).code, 0);
  listed = run({"ps1", "ls"}).out;
  EXPECT_NE(listed.find("OTHER"), std::string::npos);
  EXPECT_NE(listed.find("TITLE"), std::string::npos);
  EXPECT_NE(listed.find("2 saves"), std::string::npos) << listed;
}

}  // namespace
}  // namespace travosk
