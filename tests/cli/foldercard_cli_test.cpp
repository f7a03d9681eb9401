// travosk-cli with folder cards: the independent tool's card made into a
// folder card, changed through --image and made into a card image again.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "../formats/peer_files.h"
#include "cli/cli.h"
#include "support/card_fixture.h"

namespace travosk {
namespace {

namespace fs = std::filesystem;
using testing::PeerFolder;

struct Result {
  int code;
  std::string out;
  std::string err;
};

class CliFolderCard : public ::testing::Test {
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
  support::TempDir dir;
};

TEST_F(CliFolderCard, PeerCardBecomesAFolderCardThatTakesChangesAndConvertsBack) {
  const std::string card = dir.File("peer_card.ps2"), folder = dir.File("card");
  fs::copy_file(PeerFolder() + "/peer_card.ps2", card);
  ASSERT_EQ(Run({"convert", card, folder + "/"}).code, 0);
  const auto listed = Run({"ls", "--image", folder});
  ASSERT_EQ(listed.code, 0) << listed.err;
  // The same saves, and the layout named for what it is.
  const std::string image_listed = Run({"ls", "--image", card}).out;
  const auto saves_of = [](const std::string& out) { return out.substr(0, out.find("image format:")); };
  EXPECT_EQ(saves_of(listed.out), saves_of(image_listed));
  EXPECT_NE(listed.out.find("image format: folder card\n"), std::string::npos) << listed.out;

  // Changes reach the folder when the command ends.
  ASSERT_EQ(Run({"delete", "BASLUS-60002BETA", "--yes", "--image", folder}).code, 0);
  EXPECT_TRUE(fs::exists(folder + "/_pcsx2_deleted_BASLUS-60002BETA/garage.dat"));
  EXPECT_EQ(Run({"ls", "--image", folder}).out.find("BASLUS-60002BETA"), std::string::npos);
  const auto restore = Run({"restore", PeerFolder() + "/BASLUS-60002BETA.max", "--image", folder});
  ASSERT_EQ(restore.code, 0) << restore.err;
  EXPECT_TRUE(fs::exists(folder + "/BASLUS-60002BETA/_pcsx2_index"));

  const std::string back = dir.File("back.mc2");
  ASSERT_EQ(Run({"convert", folder + "/", back}).code, 0);
  EXPECT_EQ(fs::file_size(back), 8388608u);
  const auto again = Run({"ls", "--image", back});
  for (const char* save : {"BESLES-60001ALPHA", "BASLUS-60002BETA", "BISLPS-60003GAMMA"})
    EXPECT_NE(again.out.find(save), std::string::npos) << save;

  // A folder card without its superblock file is named as such; nothing is made.
  fs::remove(folder + "/_pcsx2_superblock");
  const auto refused = Run({"convert", folder + "/", dir.File("x.ps2")});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("_pcsx2_superblock"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(dir.File("x.ps2")));
}

}  // namespace
}  // namespace travosk
