// travosk-cli with the formats of other tools: ECC-less card images listed,
// written and kept in their own layout, ".max" backups and restores, backups
// of every save, and conversions between formats and layouts.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "../formats/peer_files.h"
#include "cli/cli.h"
#include "formats/files.h"
#include "support/card_fixture.h"
#include "support/manager_fixture.h"

namespace travosk {
namespace {

namespace fs = std::filesystem;
using testing::PeerFolder;
using testing::ReadAll;

struct Result {
  int code;
  std::string out;
  std::string err;
};

class CliFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    if (PeerFolder().empty()) GTEST_SKIP() << "no golden files";
  }
  Result Run(std::vector<std::string> args) {
    args.push_back("--workdir=" + dir.File("home"));
    std::istringstream in;
    std::ostringstream out, err;
    const int code = cli::Run(args, in, out, err, cli::Terminal{});
    return {code, out.str(), err.str()};
  }
  std::string Copy(const std::string& name) {
    const std::string to = dir.File(name);
    fs::copy_file(PeerFolder() + "/" + name, to);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
    return to;
  }
  support::TempDir dir;
};

TEST_F(CliFormats, EccLessImageListsTakesARestoreAndKeepsItsLayout) {
  const std::string card = Copy("peer_card_noecc.ps2");
  const auto ls = Run({"ls", "--image", card});
  ASSERT_EQ(ls.code, 0) << ls.err;
  for (const char* save : {"BESLES-60001ALPHA", "BASLUS-60002BETA", "BISLPS-60003GAMMA"})
    EXPECT_NE(ls.out.find(save), std::string::npos) << save;
  EXPECT_NE(ls.out.find("no ECC"), std::string::npos) << ls.out;

  ASSERT_EQ(Run({"delete", "BASLUS-60002BETA", "--yes", "--image", card}).code, 0);
  const auto restore = Run({"restore", PeerFolder() + "/BASLUS-60002BETA.max", "--image", card});
  ASSERT_EQ(restore.code, 0) << restore.err;
  EXPECT_EQ(fs::file_size(card), 8388608u);
  EXPECT_EQ(Run({"check", "--image", card}).code, 0);

  // Read back from the file alone, through our reader: the restored save's
  // files are the golden ones.
  const std::string max = dir.File("beta.max");
  ASSERT_EQ(Run({"backup", "BASLUS-60002BETA", max, "--image", card}).code, 0);
  const auto save = formats::ReadPs2SaveFile(max);
  const auto expected = testing::PeerSave("BASLUS-60002BETA");
  ASSERT_EQ(save.files.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const Bytes got = save.files[i].Content();
    EXPECT_TRUE(
        std::equal(got.begin(), got.end(), expected[i].bytes.begin(), expected[i].bytes.end()));
  }
}

TEST_F(CliFormats, ConvertsImageLayoutsAsTheOtherToolWritesThem) {
  // The independent tool's ECC-less image, given its spare bytes, is its own
  // image with ECC byte for byte; and back.
  const std::string raw = dir.File("card.ps2"), back = dir.File("back.bin");
  ASSERT_EQ(Run({"convert", PeerFolder() + "/peer_card_noecc.ps2", raw, "--format", "ps2"}).code,
            0);
  EXPECT_EQ(ReadAll(raw), ReadAll(PeerFolder() + "/peer_card.ps2"));
  ASSERT_EQ(Run({"convert", raw, back}).code, 0);
  EXPECT_EQ(ReadAll(back), ReadAll(PeerFolder() + "/peer_card_noecc.ps2"));
  EXPECT_EQ(Run({"convert", raw, back}).code, 1);  // OUT exists
}

TEST_F(CliFormats, BackupAllWritesEverySaveOnceAndConvertRoundTrips) {
  const std::string card = Copy("peer_card.ps2");
  const std::string out = dir.File("saves");
  const auto all = Run({"backup", "--all", out, "--format", "max", "--image", card});
  ASSERT_EQ(all.code, 0) << all.err;
  for (const char* save : {"BESLES-60001ALPHA", "BASLUS-60002BETA", "BISLPS-60003GAMMA"})
    EXPECT_TRUE(fs::exists(out + "/" + save + ".max")) << save;
  const auto again = Run({"backup", "--all", out, "--format", "max", "--image", card});
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("--overwrite"), std::string::npos);

  const std::string psu = dir.File("gamma.psu");
  ASSERT_EQ(Run({"convert", out + "/BISLPS-60003GAMMA.max", psu}).code, 0);
  const auto save = formats::ReadPs2SaveFile(psu);
  const auto expected = testing::PeerSave("BISLPS-60003GAMMA");
  ASSERT_EQ(save.files.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const Bytes got = save.files[i].Content();
    EXPECT_TRUE(
        std::equal(got.begin(), got.end(), expected[i].bytes.begin(), expected[i].bytes.end()));
  }
}

TEST_F(CliFormats, SixteenMegabyteImagesInBothLayoutsAndOddOnesRefused) {
  // A blank ECC-less 16 MB card: made a file system, given a save, checked,
  // and moved to 528-byte pages and back unchanged.
  const std::string card = dir.File("card16.bin"), ecc = dir.File("card16.ps2"),
                    back = dir.File("back16.bin");
  support::WriteFileBytes(card, std::string(16u << 20, '\xFF'));
  ASSERT_EQ(Run({"mkfs", "--yes", "--image", card}).code, 0);
  const auto restore = Run({"restore", PeerFolder() + "/BASLUS-60002BETA.max", "--image", card});
  ASSERT_EQ(restore.code, 0) << restore.err;
  EXPECT_EQ(fs::file_size(card), 16u << 20);
  EXPECT_EQ(Run({"check", "--image", card}).code, 0);
  ASSERT_EQ(Run({"convert", card, ecc, "--format", "ps2"}).code, 0);
  EXPECT_EQ(fs::file_size(ecc), (16u << 20) / 512 * 528);
  const auto ls = Run({"ls", "--image", ecc});
  EXPECT_NE(ls.out.find("BASLUS-60002BETA"), std::string::npos) << ls.err;
  EXPECT_EQ(Run({"check", "--image", ecc}).code, 0);
  ASSERT_EQ(Run({"convert", ecc, back}).code, 0);
  EXPECT_EQ(ReadAll(back), ReadAll(card));

  // 24 MB is no size of a PS2 card: a clear refusal that names the sizes.
  const std::string odd = dir.File("card24.bin");
  support::WriteFileBytes(odd, std::string(24u << 20, '\xFF'));
  const auto refused = Run({"ls", "--image", odd});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("1, 2, 4, 8, 16, 32 or 64 MB"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace travosk
