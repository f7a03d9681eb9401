// travosk-cli with the PS1 files of other tools: saves with a cheat device's
// header or none at all restore, replace and back up like ".PS1" files; card
// images of every layout list and take a restore as a raw image does, keeping
// their headers, and convert writes the layouts other tools read.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/cli.h"
#include "formats/files.h"
#include "formats/images.h"
#include "formats/ps1save.h"
#include "support/card_fixture.h"
#include "support/manager_fixture.h"

namespace travosk {
namespace {

namespace fs = std::filesystem;
using support::ReadFileBytes;
using support::WriteFileBytes;

// A formatted PS1 card: "MC", then fifteen free directory frames.
std::string FormattedCard() {
  std::string card(131072, '\0');
  auto seal = [&](size_t at) {
    char x = 0;
    for (size_t i = 0; i < 127; ++i) x = static_cast<char>(x ^ card[at + i]);
    card[at + 127] = x;
  };
  card[0] = 'M';
  card[1] = 'C';
  seal(0);
  for (size_t e = 1; e <= 15; ++e) {
    card[e * 128] = static_cast<char>(0xA0);
    card[e * 128 + 8] = card[e * 128 + 9] = static_cast<char>(0xFF);
    seal(e * 128);
  }
  return card;
}

formats::Ps1Save Save(const std::string& name, size_t blocks, const std::string& title) {
  formats::Ps1Save save;
  save.frame = formats::MakePs1Frame(name, blocks);
  save.blocks.resize(blocks * formats::kPs1BlockBytes);
  for (size_t i = 0; i < save.blocks.size(); ++i)
    save.blocks[i] = static_cast<uint8_t>(i * 13 + title.size());
  const std::string head = "SC\x11" + std::string(1, static_cast<char>(blocks)) + title;
  std::copy(head.begin(), head.end(), save.blocks.begin());
  save.blocks[head.size()] = 0;
  return save;
}

std::string FileOf(const formats::Ps1Save& save, formats::SaveFormat format) {
  const auto bytes = formats::WritePs1Save(save, format);
  return {bytes.begin(), bytes.end()};
}

class CliPs1Formats : public ::testing::Test {
 protected:
  struct Result {
    int code;
    std::string out;
    std::string err;
  };
  Result Run(std::vector<std::string> args, const std::string& image) {
    args.push_back("--workdir=" + dir.File("home"));
    args.push_back("--image=" + image);
    std::istringstream in;
    std::ostringstream out, err;
    const int code = cli::Run(args, in, out, err, cli::Terminal{});
    return {code, out.str(), err.str()};
  }
  support::TempDir dir;
};

TEST_F(CliPs1Formats, SavesWithOtherHeadersRestoreReplaceAndBackUp) {
  const std::string card = dir.File("card.mcr");
  WriteFileBytes(card, FormattedCard());
  const auto big = Save("BESLES-00002BIG", 14, "BIG");
  const auto small = Save("BASLUS-00001SMALL", 1, "SMALL");
  const std::string raw = dir.File("BESLES-00002BIG"), psx = dir.File("small.psx");
  WriteFileBytes(raw, FileOf(big, formats::SaveFormat::kRaw));
  WriteFileBytes(psx, FileOf(small, formats::SaveFormat::kPsx));
  ASSERT_EQ(Run({"ps1", "restore", raw}, card).code, 0);
  const auto restored = Run({"ps1", "restore", psx}, card);
  ASSERT_EQ(restored.code, 0) << restored.err;
  const auto ls = Run({"ps1", "ls"}, card).out;
  EXPECT_NE(ls.find("BESLES-00002BIG"), std::string::npos) << ls;
  EXPECT_NE(ls.find("BASLUS-00001SMALL"), std::string::npos) << ls;

  // Each writer by the name it is given; each file holds the save's blocks.
  for (const char* name : {"back.mcs", "back.psx", "BASLUS-00001SMALL", "forced.bin"}) {
    const std::string out = dir.File(name);
    std::vector<std::string> args = {"ps1", "backup", "15", out};
    if (std::string(name) == "forced.bin") args.insert(args.end(), {"--format", "raw"});
    ASSERT_EQ(Run(args, card).code, 0) << name;
    const auto back = formats::ReadPs1SaveFile(out);
    EXPECT_EQ(back.blocks, small.blocks) << name;
    EXPECT_EQ(back.Name(), std::string(name) == "forced.bin" ? "forced.bin" : small.Name());
  }
  EXPECT_EQ(ReadFileBytes(dir.File("BASLUS-00001SMALL")), FileOf(small, formats::SaveFormat::kRaw));

  // The card is full; a new SMALL in a ".mcs" file with bytes after its
  // block replaces the old one: its one block, not the file's length, counts.
  const auto newer = Save("BASLUS-00001SMALL", 1, "NEWER");
  const std::string mcs = dir.File("newer.mcs");
  WriteFileBytes(mcs, FileOf(newer, formats::SaveFormat::kMcs) + std::string(6000, 'x'));
  const auto replaced = Run({"ps1", "restore", mcs, "--overwrite"}, card);
  ASSERT_EQ(replaced.code, 0) << replaced.err;
  EXPECT_NE(Run({"ps1", "ls"}, card).out.find("NEWER"), std::string::npos);

  // A header cut short is refused with its reason, and the card is unchanged.
  const std::string before = ReadFileBytes(card);
  WriteFileBytes(psx, FileOf(small, formats::SaveFormat::kPsx).substr(0, 8000));
  const auto refused = Run({"ps1", "restore", psx, "--overwrite"}, card);
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("54-byte header"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadFileBytes(card), before);
}

// Two saves of one name (another tool wrote them): a restore over the name
// replaces the first, the one a console loads, and the second keeps every byte.
TEST_F(CliPs1Formats, ARestoreOverATwiceNamedSaveReplacesTheFirst) {
  std::string image = FormattedCard();
  auto place = [&image](const formats::Ps1Save& save, size_t entry) {
    std::copy(save.frame.begin(), save.frame.end(), image.begin() + (entry + 1) * 128);
    std::copy(save.blocks.begin(), save.blocks.end(), image.begin() + (entry + 1) * 8192);
  };
  place(Save("BASLUS-00003TWIN", 1, "FIRST"), 0);
  place(Save("BASLUS-00003TWIN", 1, "SECOND"), 1);
  const std::string card = dir.File("twins.mcr");
  WriteFileBytes(card, image);
  const std::string newer = dir.File("newer.mcs");
  WriteFileBytes(newer, FileOf(Save("BASLUS-00003TWIN", 1, "NEWER"), formats::SaveFormat::kMcs));

  const auto replaced = Run({"ps1", "restore", newer, "--overwrite"}, card);
  ASSERT_EQ(replaced.code, 0) << replaced.err;
  const std::string after = ReadFileBytes(card);
  EXPECT_EQ(after.substr(2 * 128, 128), image.substr(2 * 128, 128));
  EXPECT_EQ(after.substr(2 * 8192, 8192), image.substr(2 * 8192, 8192));
  const auto ls = Run({"ps1", "ls"}, card).out;
  EXPECT_NE(ls.find("NEWER"), std::string::npos) << ls;
  EXPECT_NE(ls.find("SECOND"), std::string::npos) << ls;
  EXPECT_EQ(ls.find("FIRST"), std::string::npos) << ls;
}

TEST_F(CliPs1Formats, ImagesOfEveryLayoutListAndChangeAsARawImageDoes) {
  const std::string card = dir.File("card.mcr");
  WriteFileBytes(card, FormattedCard());
  const std::string first = dir.File("first.psx"), second = dir.File("BESCES-00003SECOND");
  WriteFileBytes(first, FileOf(Save("BASLUS-00001FIRST", 2, "FIRST"), formats::SaveFormat::kPsx));
  WriteFileBytes(second,
                 FileOf(Save("BESCES-00003SECOND", 1, "SECOND"), formats::SaveFormat::kRaw));
  ASSERT_EQ(Run({"ps1", "restore", first}, card).code, 0);
  const std::string before = ReadFileBytes(card);
  const std::string listed = Run({"ps1", "ls"}, card).out;
  ASSERT_EQ(Run({"ps1", "restore", second}, card).code, 0);
  const std::string after = ReadFileBytes(card);
  const Bytes raw(reinterpret_cast<const uint8_t*>(before.data()), before.size());

  // The same card in every layout: the same list, the same change to the
  // card's bytes, and the header as it was.
  const auto gme = formats::WritePs1Image(raw, formats::ImageFormat::kPs1Gme);
  const auto vgs = formats::WritePs1Image(raw, formats::ImageFormat::kPs1Vgs);
  std::string zeroed_gme(gme.begin(), gme.end());
  std::fill(zeroed_gme.begin(), zeroed_gme.begin() + 3904, '\0');  // as some tools leave it
  std::string vmp(128, '\0');
  vmp.replace(1, 3, "PMV");
  vmp[4] = static_cast<char>(0x80);
  vmp += before;
  const struct {
    std::string name, file;
    size_t header;
  } images[] = {
      {"a.mcd", before, 0},
      {"a.mc", before, 0},
      {"a.bin", before, 0},
      {"a.ddf", before, 0},
      {"a.pss", before, 0},
      {"a.gme", {gme.begin(), gme.end()}, 3904},
      {"z.gme", zeroed_gme, 3904},
      {"a.vgs", {vgs.begin(), vgs.end()}, 64},
      {"a.mem", {vgs.begin(), vgs.end()}, 64},
      {"a.vmp", vmp, 128},
  };
  for (const auto& image : images) {
    const std::string path = dir.File(image.name);
    WriteFileBytes(path, image.file);
    const auto ls = Run({"ps1", "ls"}, path);
    ASSERT_EQ(ls.code, 0) << image.name << ls.err;
    EXPECT_EQ(ls.out.substr(0, listed.find("image format")),
              listed.substr(0, listed.find("image format")))
        << image.name;
    const auto restored = Run({"ps1", "restore", second}, path);
    const std::string now = ReadFileBytes(path);
    EXPECT_EQ(now.substr(0, image.header), image.file.substr(0, image.header)) << image.name;
    if (image.name == "a.vmp") {
      // Read only: refused with its reason, the file as it was.
      EXPECT_EQ(restored.code, 1);
      EXPECT_NE(restored.err.find("read only"), std::string::npos) << restored.err;
      EXPECT_EQ(now, image.file);
    } else {
      EXPECT_EQ(restored.code, 0) << image.name << restored.err;
      EXPECT_EQ(now.substr(image.header), after) << image.name;
    }
  }

  // convert: DexDrive's documented fields, VGS's, the card bytes after them,
  // and back to a raw image; a .vmp is not written.
  const std::string out_gme = dir.File("out.gme"), out_mem = dir.File("out.mem"),
                    back = dir.File("back.mcr");
  ASSERT_EQ(Run({"convert", card, out_gme}, card).code, 0);
  ASSERT_EQ(Run({"convert", out_gme, out_mem}, card).code, 0);
  ASSERT_EQ(Run({"convert", out_mem, back}, card).code, 0);
  const std::string g = ReadFileBytes(out_gme), m = ReadFileBytes(out_mem);
  EXPECT_EQ(g.substr(0, 12), std::string("123-456-STD\0", 12));
  EXPECT_EQ(g.substr(0x10, 8), std::string("\0\0\x01\0\x01MQS", 8));  // first save: 2 blocks
  EXPECT_EQ(g.substr(0x25, 4), std::string("\0\x01\xFF\xFF", 4));     // links of frames 0..3
  EXPECT_EQ(m.substr(0, 20), std::string("VgsM\x01\0\0\0\x01\0\0\0\x01\0\0\0\0\x02\0\0", 20));
  EXPECT_EQ(g.substr(3904), after);
  EXPECT_EQ(m.substr(64), after);
  EXPECT_EQ(ReadFileBytes(back), after);
  EXPECT_EQ(Run({"convert", card, dir.File("out.vmp")}, card).code, 1);
  EXPECT_FALSE(fs::exists(dir.File("out.vmp")));

  // The whole card to and from files of those layouts.
  const std::string dumped = dir.File("dumped.gme");
  ASSERT_EQ(Run({"ps1", "dump", dumped}, card).code, 0);
  EXPECT_EQ(ReadFileBytes(dumped), g);
  WriteFileBytes(card, before);
  ASSERT_EQ(Run({"ps1", "write", out_mem, "--yes"}, card).code, 0);
  EXPECT_EQ(ReadFileBytes(card), after);
}

// What a restore cut short before its first directory frame leaves: blocks
// marked in use, chained, that no save starts. `ps1 ls` counts them free;
// a restore must find them free too, and `ps1 check` reports them.
TEST_F(CliPs1Formats, BlocksThatNoSaveHoldsAreFreeForARestoreAndCheckFreesThem) {
  std::string orphaned = FormattedCard();
  for (size_t e = 2; e <= 14; ++e) {
    const size_t at = e * 128;
    orphaned[at] = static_cast<char>(e == 14 ? 0x53 : 0x52);
    const uint16_t link = e == 14 ? 0xFFFF : static_cast<uint16_t>(e);  // entry e + 1 - 1
    orphaned[at + 8] = static_cast<char>(link & 0xFF);
    orphaned[at + 9] = static_cast<char>(link >> 8);
    char x = 0;
    for (size_t i = 0; i < 127; ++i) x = static_cast<char>(x ^ orphaned[at + i]);
    orphaned[at + 127] = x;
  }
  const std::string card = dir.File("orphans.mcr");
  WriteFileBytes(card, orphaned);
  EXPECT_NE(Run({"ps1", "ls"}, card).out.find("122880 bytes free"), std::string::npos);
  const std::string big = dir.File("BESLES-00002BIG");
  WriteFileBytes(big, FileOf(Save("BESLES-00002BIG", 14, "BIG"), formats::SaveFormat::kRaw));
  const auto restored = Run({"ps1", "restore", big}, card);
  EXPECT_EQ(restored.code, 0) << restored.err;
  EXPECT_NE(Run({"ps1", "ls"}, card).out.find("BESLES-00002BIG"), std::string::npos);
  EXPECT_EQ(Run({"ps1", "check"}, card).code, 0);

  WriteFileBytes(card, orphaned);
  const auto found = Run({"ps1", "check"}, card);
  EXPECT_EQ(found.code, 1);
  EXPECT_NE(found.out.find("13 blocks"), std::string::npos) << found.out;
  EXPECT_EQ(ReadFileBytes(card), orphaned) << "a check without --repair changes nothing";
  const auto repaired = Run({"ps1", "check", "--repair", "--yes"}, card);
  EXPECT_EQ(repaired.code, 0) << repaired.out << repaired.err;
  EXPECT_EQ(Run({"ps1", "check"}, card).code, 0);
  EXPECT_EQ(ReadFileBytes(card).substr(0, 128), orphaned.substr(0, 128));
  EXPECT_EQ(static_cast<uint8_t>(ReadFileBytes(card)[2 * 128]), 0xA0);
}

}  // namespace
}  // namespace travosk
