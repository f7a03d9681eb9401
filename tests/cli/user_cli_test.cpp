// travosk-cli as a new user meets it: blank cards made and formatted,
// commands that refuse to write over files or in a format their name does
// not say, plain messages, titles and times as they read, and saves of one
// name kept apart.
#include "cli/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "card/fileip.h"
#include "manager/ps1card.h"
#include "support/manager_fixture.h"
#include "run_cli.h"

namespace travosk {
namespace {

namespace fs = std::filesystem;
using support::ManagerRig;
using support::ReadFileBytes;
using support::WriteFileBytes;

using testing::Result;
using testing::RunCli;

class UserCli : public ::testing::Test {
 protected:
  Result Run(std::vector<std::string> args, const std::string& input = "", bool tty = false) {
    return RunCli(std::move(args), dir.File("home"), input, tty);
  }
  // A one-block PS1 save file (".PS1") named `name`, its title `title`.
  std::string PS1SaveFile(const std::string& file, const std::string& name,
                          const std::string& title) {
    std::string save(128 + 8192, '\0');
    save[0] = 0x51;
    save.replace(10, name.size(), name);
    save[5] = 0x20;  // 8,192 bytes
    save[8] = save[9] = static_cast<char>(0xFF);
    save.replace(128, 2, "SC");
    save[130] = 0x11;
    save[131] = 1;
    save.replace(132, title.size(), title);
    const std::string path = dir.File(file);
    WriteFileBytes(path, save);
    return path;
  }
  // A .psu backed up from a card the card manager wrote.
  std::string PS2SaveFile(const std::string& name) {
    ManagerRig source;
    EXPECT_TRUE(source.AddSave(name, {{"DATA", "payload of " + name}}));
    const std::string path = dir.File(name + ".psu");
    EXPECT_EQ(Run({"backup", name, path, "--image", source.image_path()}).code, 0);
    return path;
  }

  support::TempDir dir;
};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(UserCli, Ps1FormatLeavesAFormattedCardThatTakesASave) {
  ManagerRig rig({support::CardMedia::kPS1, 8, false});  // all zeros: never formatted
  const std::string image = "--image=" + rig.image_path();
  const auto unformatted = Run({"ps1", "ls", image});
  EXPECT_EQ(unformatted.code, 0);
  EXPECT_TRUE(Has(unformatted.out, "not formatted")) << unformatted.out;
  EXPECT_FALSE(Has(unformatted.out, "bytes free"));
  const auto json = Run({"ps1", "ls", "--json", image});
  EXPECT_TRUE(Has(json.out, "\"formatted\": false")) << json.out;
  const std::string file = PS1SaveFile("save.PS1", "BISLPS-00001GAME", "TITLE");
  const auto refused = Run({"ps1", "restore", file, image});
  EXPECT_EQ(refused.err, "travosk-cli: restore failed: the card is not formatted\n");

  EXPECT_EQ(Run({"ps1", "format", image}).code, 2) << "asks first";
  const auto formatted = Run({"ps1", "format", "--yes", image});
  ASSERT_EQ(formatted.code, 0) << formatted.err;
  const auto card = rig.Snapshot();
  const auto fresh = manager::FormattedPS1Card();
  EXPECT_TRUE(std::equal(fresh.begin(), fresh.end(), card.begin()));
  EXPECT_TRUE(Has(Run({"ps1", "ls", image}).out, "0 saves, 0 bytes used, 122880 bytes free"));
  ASSERT_EQ(Run({"ps1", "restore", file, image}).code, 0);
  EXPECT_TRUE(Has(Run({"ps1", "ls", image}).out, "BISLPS-00001GAME"));
}

TEST_F(UserCli, NewMakesEveryLayoutFormattedAndTakesARestore) {
  const std::string ps2_save = PS2SaveFile("BASLUS-20001");
  const std::string ps1_save = PS1SaveFile("one.PS1", "BISLPS-00001GAME", "TITLE");
  struct Case {
    std::vector<std::string> args;
    std::string format;  // as ls names it
    bool ps1;
  };
  const std::vector<Case> cases = {
      {{"a.ps2"}, "PS2 image (528-byte pages)", false},
      {{"b.bin"}, "PS2 image (512-byte pages, no ECC)", false},
      {{"c.mcd", "--kind", "ps2"}, "PS2 image (512-byte pages, no ECC)", false},
      {{"d.img", "--format", "ps2-noecc", "--size", "16M"}, "PS2 image (512-byte pages, no ECC)", false},
      {{"e.mcr"}, "PS1 image (raw)", true},
      {{"f.gme"}, "PS1 image (DexDrive .gme)", true},
      {{"g.vgs"}, "PS1 image (.vgs/.mem)", true},
      {{"h.mem", "--format", "vgs"}, "PS1 image (.vgs/.mem)", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const std::string path = dir.File(c.args[0]);
    std::vector<std::string> args = {"new", path};
    args.insert(args.end(), c.args.begin() + 1, c.args.end());
    const auto made = Run(args);
    ASSERT_EQ(made.code, 0) << made.err;
    const std::string image = "--image=" + path;
    if (c.ps1) {
      const auto listed = Run({"ps1", "ls", image});
      EXPECT_TRUE(Has(listed.out, "0 saves")) << listed.out;
      EXPECT_TRUE(Has(listed.out, c.format)) << listed.out;
      ASSERT_EQ(Run({"ps1", "restore", ps1_save, image}).code, 0);
      EXPECT_TRUE(Has(Run({"ps1", "ls", image}).out, "BISLPS-00001GAME"));
    } else {
      const auto listed = Run({"ls", "--json", image});
      EXPECT_EQ(listed.out.rfind("{\"saves\": []", 0), 0u) << listed.out;
      EXPECT_TRUE(Has(listed.out, c.format)) << listed.out;
      const bool big = c.args.size() > 3;
      EXPECT_TRUE(Has(listed.out, big ? "\"capacity\": 16777216" : "\"capacity\": 8388608"));
      ASSERT_EQ(Run({"restore", ps2_save, image}).code, 0);
      EXPECT_TRUE(Has(Run({"ls", image}).out, "BASLUS-20001"));
      EXPECT_EQ(Run({"check", image}).code, 0);
    }
  }

  // An existing file is kept unless --overwrite; a name that says no card,
  // or another layout than --format, makes nothing.
  const std::string notes = dir.File("notes.mcr");
  WriteFileBytes(notes, "my notes");
  const auto kept = Run({"new", notes});
  EXPECT_EQ(kept.code, 1);
  EXPECT_TRUE(Has(kept.err, notes)) << kept.err;
  EXPECT_EQ(ReadFileBytes(notes), "my notes");
  ASSERT_EQ(Run({"new", notes, "--overwrite"}).code, 0);
  EXPECT_EQ(fs::file_size(notes), 131072u);
  EXPECT_EQ(Run({"new", dir.File("card.img")}).code, 1);
  EXPECT_EQ(Run({"new", dir.File("x.mcr"), "--format", "gme"}).code, 1);
  EXPECT_EQ(Run({"new", dir.File("y.mcr"), "--size", "16M"}).code, 1);
  EXPECT_EQ(Run({"new", dir.File("z.ps2"), "--kind", "ps1"}).code, 1);
  for (const char* name : {"card.img", "x.mcr", "y.mcr", "z.ps2"})
    EXPECT_FALSE(fs::exists(dir.File(name))) << name;
}

TEST_F(UserCli, BackupWritesOverNoFileAndOnlyInAFormatItsNameSays) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("BASLUS-20001", {{"DATA", "data"}}));
  const std::string image = "--image=" + rig.image_path();
  const std::string notes = dir.File("notes.psu");
  WriteFileBytes(notes, "my notes");
  const auto refused = Run({"backup", "BASLUS-20001", notes, image});
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.err, "travosk-cli: \"" + notes + "\" exists: add --overwrite to replace it\n");
  EXPECT_EQ(ReadFileBytes(notes), "my notes");
  ASSERT_EQ(Run({"backup", "BASLUS-20001", notes, "--overwrite", image}).code, 0);
  EXPECT_NE(ReadFileBytes(notes), "my notes");

  const std::string rez = dir.File("rez.bin");
  const auto unnamed = Run({"backup", "BASLUS-20001", rez, image});
  EXPECT_EQ(unnamed.code, 1);
  EXPECT_TRUE(Has(unnamed.err, "names no save format")) << unnamed.err;
  EXPECT_FALSE(fs::exists(rez));
  ASSERT_EQ(Run({"backup", "BASLUS-20001", rez, "--format", "max", image}).code, 0);
  EXPECT_EQ(ReadFileBytes(rez).substr(0, 4), "Ps2P");  // a .max, as asked
  EXPECT_EQ(Run({"backup", "BASLUS-20001", dir.File("a.max"), "--format", "psu", image}).code, 1);
  EXPECT_EQ(Run({"backup", "BASLUS-20001", dir.File("a.mcs"), image}).code, 1);
  EXPECT_FALSE(fs::exists(dir.File("a.max")));
  EXPECT_FALSE(fs::exists(dir.File("a.mcs")));
  const auto folder = Run({"backup", "BASLUS-20001", dir.path(), "--overwrite", image});
  EXPECT_EQ(folder.err, "travosk-cli: \"" + dir.path() + "\" is a folder, not a file\n");
}

TEST_F(UserCli, ConvertWritesOnlyWhatTheOutputNameSays) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("BASLUS-20001", {{"DATA", "data"}}));
  const std::string card = rig.image_path();
  const std::string psu = PS2SaveFile("BASLUS-20002");
  const std::string ps1 = PS1SaveFile("one.PS1", "BISLPS-00001GAME", "TITLE");
  // A card image only to a card layout, a save only to a save format of its kind.
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {card, "x.psu"}, {psu, "x.ps2"}, {ps1, "x.psu"}, {psu, "x.mcs"}, {ps1, "x.mcr"},
           {card, "x.mcr"}, {psu, "x.bin"}}) {
    const auto r = Run({"convert", in, dir.File(out)});
    EXPECT_EQ(r.code, 1) << in << " -> " << out;
    EXPECT_FALSE(fs::exists(dir.File(out))) << out;
  }
  EXPECT_EQ(Run({"convert", card, dir.File("y.bin"), "--format", "ps2"}).code, 1);
  EXPECT_EQ(Run({"convert", psu, dir.File("y.max"), "--format", "psu"}).code, 1);
  EXPECT_FALSE(fs::exists(dir.File("y.bin")));
  EXPECT_FALSE(fs::exists(dir.File("y.max")));

  // The same extension in and out keeps the layout: an ECC-less image stays one.
  ASSERT_EQ(Run({"convert", card, dir.File("noecc.bin")}).code, 0);
  EXPECT_EQ(fs::file_size(dir.File("noecc.bin")), 8388608u);
  ASSERT_EQ(Run({"convert", dir.File("noecc.bin"), dir.File("again.bin")}).code, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("again.bin")), ReadFileBytes(dir.File("noecc.bin")));
  ASSERT_EQ(Run({"convert", dir.File("noecc.bin"), dir.File("back.ps2")}).code, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("back.ps2")), ReadFileBytes(card));
  ASSERT_EQ(Run({"convert", psu, dir.File("z.max")}).code, 0);
  ASSERT_EQ(Run({"convert", psu, dir.File("z.dat"), "--format", "psu"}).code, 0);
  ASSERT_EQ(Run({"convert", ps1, dir.File("z.psx")}).code, 0);
  const auto folder = Run({"convert", dir.path(), dir.File("w.psu")});
  EXPECT_TRUE(Has(folder.err, "is a folder")) << folder.err;
}

TEST_F(UserCli, TitlesReadWithASpaceAtTheBreakAndTimesInLocalTime) {
  ManagerRig rig;
  std::string icon_sys(964, '\0');
  icon_sys.replace(0, 4, "PS2D");
  icon_sys.replace(0xC0, 22, "TRAVOSK DEMOFIRST SAVE");
  icon_sys[6] = 12;
  ASSERT_TRUE(rig.AddSave("BASLUS-20001", {{"icon.sys", icon_sys}}));
  const std::string image = "--image=" + rig.image_path();
  EXPECT_TRUE(Has(Run({"ls", image}).out, "TRAVOSK DEMO FIRST SAVE"));
  const auto json = Run({"ls", "--json", image});
  EXPECT_TRUE(Has(json.out, "\"title\": \"TRAVOSK DEMO FIRST SAVE\", \"title_lines\": "
                            "[\"TRAVOSK DEMO\", \"FIRST SAVE\"]"))
      << json.out;

  // The file's stamp, in Japan time on the card, shown in the zone the
  // user is in.
  card::TfileIP folder;
  ASSERT_TRUE(rig.FindFolder("BASLUS-20001", folder));
  const Bytes stamp = Bytes(folder.Header).subspan(card::entry::kCreated, 8);
  const std::string japan = card::FormatCardTime(stamp);
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  ::setenv("TZ", "JST-9", 1);
  ::tzset();
  const auto in_japan = Run({"ls", "BASLUS-20001", image});
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
  const auto in_utc = Run({"ls", "BASLUS-20001", image});
  const auto when = card::CardTimeToTime(stamp);
  old ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
  ::tzset();
  ASSERT_TRUE(when);
  EXPECT_TRUE(Has(in_japan.out, japan)) << in_japan.out;
  std::tm utc{};
  gmtime_r(&*when, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  EXPECT_TRUE(Has(in_utc.out, text)) << in_utc.out;
  EXPECT_FALSE(Has(in_utc.out, japan)) << in_utc.out;
}

TEST_F(UserCli, EraseWipesAndFormatMakesAnEmptyFileSystem) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("BASLUS-20001", {{"DATA", "data"}}));
  const std::string image = "--image=" + rig.image_path();
  const auto before = rig.Snapshot();
  EXPECT_EQ(Run({"format", image}).code, 2);
  EXPECT_EQ(Run({"erase", image}).code, 2);
  EXPECT_EQ(rig.Snapshot(), before);
  ASSERT_EQ(Run({"format", "--yes", image}).code, 0);
  EXPECT_EQ(Run({"ls", "--json", image}).out.rfind("{\"saves\": []", 0), 0u);
  ASSERT_EQ(Run({"erase", "--yes", image}).code, 0);
  const auto erased = Run({"check", image});
  EXPECT_EQ(erased.err, "travosk-cli: check failed: the card carries no PS2 file system\n");
  ASSERT_EQ(Run({"mkfs", "--yes", image}).code, 0);
  EXPECT_EQ(Run({"check", image}).code, 0);
  const auto help = Run({"--help"}).out;
  EXPECT_TRUE(Has(help, "erase")) << help;
}

TEST_F(UserCli, MessagesAreOnePlainLine) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("BASLUS-20001", {{"DATA", "data"}}));
  const std::string image = "--image=" + rig.image_path();
  const auto folder = Run({"restore", dir.path(), image});
  EXPECT_EQ(folder.err, "travosk-cli: \"" + dir.path() + "\" is a folder, not a save file\n");
  EXPECT_EQ(Run({"ps1", "restore", dir.path(), image}).err, folder.err);
  const auto ps2_as_ps1 = Run({"ps1", "ls", image});
  EXPECT_EQ(ps2_as_ps1.err, "travosk-cli: the card is a PS2 card (use the commands without ps1)\n");

  // A backup of every save where the user kept a file that exists says so.
  const std::string out = dir.File("all");
  fs::create_directories(out);
  WriteFileBytes(out + "/BASLUS-20001.psu", "mine");
  ASSERT_TRUE(rig.AddSave("BASLUS-20002", {{"DATA", "two"}}));
  const auto kept = Run({"backup", "--all", out, image}, "n\n", true);
  ASSERT_EQ(kept.code, 0) << kept.err;
  EXPECT_EQ(ReadFileBytes(out + "/BASLUS-20001.psu"), "mine");
  EXPECT_TRUE(fs::exists(out + "/BASLUS-20002.psu"));
  EXPECT_TRUE(Has(kept.out, "kept as it was: " + out + "/BASLUS-20001.psu")) << kept.out;
  EXPECT_TRUE(Has(kept.out, "1 of 2 saves backed up")) << kept.out;
}

TEST_F(UserCli, SavesOfOneNameAreKeptApart) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("BASLUS-20001", {{"DATA", "first"}}));
  const std::string image = "--image=" + rig.image_path();
  const std::string psu = PS2SaveFile("BASLUS-20001");
  const auto before = rig.Snapshot();
  const auto both = Run({"restore", psu, "--overwrite", "--keep-both", image});
  EXPECT_EQ(both.code, 2);
  EXPECT_TRUE(Has(both.err, "not both")) << both.err;
  EXPECT_EQ(rig.Snapshot(), before);

  const auto kept = Run({"restore", psu, "--keep-both", image});
  ASSERT_EQ(kept.code, 0) << kept.err;
  EXPECT_TRUE(Has(kept.err, "\"BASLUS-20001_1\"")) << kept.err;
  EXPECT_EQ(Run({"check", image}).code, 0);
  const auto listed = Run({"ls", image}).out;
  EXPECT_TRUE(Has(listed, "BASLUS-20001 ")) << listed;
  EXPECT_TRUE(Has(listed, "BASLUS-20001_1 ")) << listed;
  // Each keeps its own bytes.
  ASSERT_EQ(Run({"extract", "BASLUS-20001/DATA", dir.File("one"), image}).code, 0);
  ASSERT_EQ(Run({"extract", "BASLUS-20001_1/DATA", dir.File("two"), image}).code, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("one")), "first");
  EXPECT_EQ(ReadFileBytes(dir.File("two")), "payload of BASLUS-20001");

  // The same on a PS1 card.
  ManagerRig ps1({support::CardMedia::kPS1, 8, false});
  const std::string ps1_image = "--image=" + ps1.image_path();
  ASSERT_EQ(Run({"ps1", "format", "--yes", ps1_image}).code, 0);
  const std::string name = "BESLES-01234GAMEDATA";  // the 20 characters a name may have
  const std::string a = PS1SaveFile("a.PS1", name, "OLD");
  const std::string b = PS1SaveFile("b.PS1", name, "NEW");
  ASSERT_EQ(Run({"ps1", "restore", a, ps1_image}).code, 0);
  const auto ps1_before = ps1.Snapshot();
  EXPECT_EQ(Run({"ps1", "restore", b, "--overwrite", "--keep-both", ps1_image}).code, 2);
  EXPECT_EQ(ps1.Snapshot(), ps1_before);
  const auto ps1_kept = Run({"ps1", "restore", b, "--keep-both", ps1_image});
  ASSERT_EQ(ps1_kept.code, 0) << ps1_kept.err;
  EXPECT_TRUE(Has(ps1_kept.err, "\"BESLES-01234GAMEDA_1\"")) << ps1_kept.err;
  const auto ps1_listed = Run({"ps1", "ls", ps1_image}).out;
  EXPECT_TRUE(Has(ps1_listed, name + " ")) << ps1_listed;
  EXPECT_TRUE(Has(ps1_listed, "BESLES-01234GAMEDA_1")) << ps1_listed;
  EXPECT_TRUE(Has(ps1_listed, "NEW")) << ps1_listed;
  EXPECT_TRUE(Has(ps1_listed, "OLD")) << ps1_listed;
}

TEST_F(UserCli, ACardHoldingTwoSavesOfOneNameIsReportedListedBackedUpAndEmptied) {
  ManagerRig rig;
  // Two entries of one name, as another program (or an older version of
  // this one) left them.
  ASSERT_TRUE(rig.AddSave("BASLUS-20001", {{"DATA", "first"}}));
  ASSERT_TRUE(rig.AddSave("BASLUS-20001", {{"DATA", "second"}}));
  const std::string image = "--image=" + rig.image_path();
  const auto check = Run({"check", image});
  EXPECT_EQ(check.code, 1);
  EXPECT_TRUE(Has(check.out, "duplicate name: /BASLUS-20001")) << check.out;
  const auto listed = Run({"ls", "--json", image}).out;
  EXPECT_NE(listed.find("\"BASLUS-20001\"", listed.find("\"BASLUS-20001\"") + 1), std::string::npos)
      << listed;

  const std::string out = dir.File("all");
  const auto all = Run({"backup", "--all", out, image});
  ASSERT_EQ(all.code, 0) << all.err;
  // One file each, neither over the other.
  ManagerRig target;
  const std::string t = "--image=" + target.image_path();
  ASSERT_EQ(Run({"restore", out + "/BASLUS-20001.psu", t}).code, 0);
  ASSERT_EQ(Run({"restore", out + "/BASLUS-20001_1.psu", "--keep-both", t}).code, 0);
  ASSERT_EQ(Run({"extract", "BASLUS-20001/DATA", dir.File("one"), t}).code, 0);
  ASSERT_EQ(Run({"extract", "BASLUS-20001_1/DATA", dir.File("two"), t}).code, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("one")), "first");
  EXPECT_EQ(ReadFileBytes(dir.File("two")), "second");

  // Each is deleted in turn: the first a name reaches, then the other.
  ASSERT_EQ(Run({"delete", "BASLUS-20001", "--yes", image}).code, 0);
  EXPECT_EQ(Run({"check", image}).code, 0);
  ASSERT_EQ(Run({"extract", "BASLUS-20001/DATA", dir.File("left"), image}).code, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("left")), "second");
  ASSERT_EQ(Run({"delete", "BASLUS-20001", "--yes", image}).code, 0);
  EXPECT_EQ(Run({"ls", "--json", image}).out.rfind("{\"saves\": []", 0), 0u);
}

}  // namespace
}  // namespace travosk
