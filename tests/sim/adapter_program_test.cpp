// travosk-adapter's image creation and its exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sim/ecc.h"
#include "sim_test_util.h"

namespace travosk::sim {
namespace {

using testing::ScratchDir;

class AdapterProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("TRAVOSK_BIN");
    if (!bin) GTEST_SKIP() << "TRAVOSK_BIN is not set (run through CTest)";
    program_ = std::string(bin) + "/travosk-adapter";
  }
  // Exit status of the program with these arguments (no shell quoting needed
  // for the scratch paths used here); its stderr is kept out of the log.
  int Run(const std::string& args) {
    const std::string line = "'" + program_ + "' " + args + " >/dev/null 2>&1";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ScratchDir dir_;
  std::string program_;
};

// Page 0 of a formatted image: the superblock's magic, with its code in the spare bytes.
void ExpectFormatted(const std::string& path, MediumKind kind, uint64_t bytes) {
  ASSERT_EQ(std::filesystem::file_size(path), bytes);
  auto m = Medium::Open(path, kind);
  const std::string magic = "Sony PS2 Memory Card Format ";
  EXPECT_TRUE(std::equal(magic.begin(), magic.end(), m->bytes().begin()));
  const auto spare = PageSpare(std::span<const uint8_t, 512>(m->bytes().first<512>()));
  EXPECT_TRUE(std::equal(spare.begin(), spare.end(), m->bytes().begin() + 512));
}

TEST_F(AdapterProgram, CreatesBlankAndFormattedImages) {
  const auto ps2 = dir_.File("card.ps2");
  EXPECT_EQ(Run("create ps2 " + ps2 + " --formatted"), 0);
  ExpectFormatted(ps2, MediumKind::kPS2, kPS2CardBytes);

  const auto sm = dir_.File("sm16.bin");
  EXPECT_EQ(Run("create sm16 " + sm + " --formatted"), 0);
  ExpectFormatted(sm, MediumKind::kSmartMedia, 32768ull * kRawPageBytes);

  // Creating again replaces the image whole: blank means erased.
  EXPECT_EQ(Run("create ps2 " + ps2), 0);
  auto blank = Medium::Open(ps2, MediumKind::kPS2);
  EXPECT_TRUE(std::all_of(blank->bytes().begin(), blank->bytes().end(),
                          [](uint8_t b) { return b == 0xFF; }));

  const auto ps1 = dir_.File("card.mcr");
  EXPECT_EQ(Run("create ps1 " + ps1), 0);
  EXPECT_EQ(std::filesystem::file_size(ps1), kPS1CardBytes);
  // A formatted PS1 card: the "MC" header (its checksum 0x0E), free
  // directory frames, and the header again in the write-test frame 63.
  EXPECT_EQ(Run("create ps1 " + ps1 + " --formatted"), 0);
  auto formatted = Medium::Open(ps1, MediumKind::kPS1);
  const auto b = formatted->bytes();
  EXPECT_EQ(b[0], 'M');
  EXPECT_EQ(b[1], 'C');
  EXPECT_EQ(b[127], 0x0E);
  EXPECT_EQ(b[128], 0xA0);
  EXPECT_EQ(b[16 * 128], 0xFF);
  EXPECT_TRUE(std::equal(b.begin(), b.begin() + 128, b.begin() + 63 * 128));

  // Nothing but the images themselves is left behind.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.path())) ++entries;
  EXPECT_EQ(entries, 3u);
}

TEST_F(AdapterProgram, UsageErrorsAndFailuresHaveTheirExitStatus) {
  EXPECT_EQ(Run("create"), 2);
  EXPECT_EQ(Run("create tape " + dir_.File("x")), 2);
  EXPECT_EQ(Run("--no-such-option"), 2);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("x")));

  // An image that cannot be used ends the program before anything is plugged in.
  std::ofstream(dir_.File("short.ps2")) << "too short";
  const auto root = dir_.File("root");
  EXPECT_EQ(Run("--card " + dir_.File("short.ps2") + " --device-root " + root), 1);
  EXPECT_EQ(Run("--card " + dir_.File("missing") + " --device-root " + root), 1);
  EXPECT_EQ(Run("create ps2 " + dir_.File("no-such-dir/card.ps2")), 1);
  EXPECT_FALSE(std::filesystem::exists(root));
}

}  // namespace
}  // namespace travosk::sim
