// travosk-cli with the PS1 files of other tools: saves with a cheat device's
// header or none at all restore, replace and back up like ".PS1" files.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/cli.h"
#include "formats/files.h"
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

}  // namespace
}  // namespace travosk
