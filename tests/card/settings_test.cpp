// The settings file "PS2M.cfg" as the card access object loads and saves it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "card/fileaccess.h"
#include "common/errors.h"
#include "sim/loopback_platform.h"
#include "support/card_fixture.h"

namespace travosk::card {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct Settings : ::testing::Test {
  support::TempDir dir;
  sim::LoopbackSession session;
  TPSfileaccess access{session.link};
  std::string path = dir.File("PS2M.cfg");
};

TEST_F(Settings, MissingFileIsCreatedWithTheDefaults) {
  access.Init(dir.path());
  EXPECT_EQ(access.SettingsFolder, dir.path() + "/");
  EXPECT_EQ(ReadFile(path), "888\r\n00000000\r\n");
  EXPECT_EQ(access.Com->PortBase, 0x378);
  EXPECT_EQ(access.Com->ConnectDelay, 0);
  EXPECT_EQ(access.Medium, Slot::kNone);
}

TEST_F(Settings, LinesAreReadAsDecimalWithEitherLineEnd) {
  WriteFile(path, "632\r\n16\r\n");
  access.Init(dir.path() + "/");
  EXPECT_EQ(access.Com->PortBase, 632);
  EXPECT_EQ(access.Com->ConnectDelay, 16);

  WriteFile(path, "70000\n-3\n");  // the port keeps its low 16 bits
  access.LoadSettings();
  EXPECT_EQ(access.Com->PortBase, 70000 & 0xFFFF);
  EXPECT_EQ(access.Com->ConnectDelay, -3);

  WriteFile(path, "\r\n");  // empty and missing lines take their defaults
  access.LoadSettings();
  EXPECT_EQ(access.Com->PortBase, 0x378);
  EXPECT_EQ(access.Com->ConnectDelay, 0);
}

TEST_F(Settings, BadLineTakesItsDefaultAndIsReportedAfterSetup) {
  WriteFile(path, "abc\r\n5\r\n");
  try {
    access.Init(dir.path());
    FAIL() << "no conversion error";
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
  // The object is usable: Com exists with the good setting and the default.
  ASSERT_NE(access.Com, nullptr);
  EXPECT_EQ(access.Com->PortBase, 0x378);
  EXPECT_EQ(access.Com->ConnectDelay, 5);
  EXPECT_EQ(access.Medium, Slot::kNone);

  WriteFile(path, "632\r\n12x\r\n");
  EXPECT_THROW(access.LoadSettings(), ConversionError);
  EXPECT_EQ(access.Com->PortBase, 632);
  EXPECT_EQ(access.Com->ConnectDelay, 0);

  WriteFile(path, "888\r\n99999999999\r\n");  // beyond 32 bits is no integer either
  EXPECT_THROW(access.LoadSettings(), ConversionError);
  EXPECT_EQ(access.Com->ConnectDelay, 0);
}

TEST_F(Settings, SaveWritesPlainDecimalLinesAndReportsFailure) {
  access.Init(dir.path());
  access.SaveSettings(0x278, 16);
  EXPECT_EQ(ReadFile(path), "632\r\n16\r\n");
  access.SaveSettings(0x378, -5);
  EXPECT_EQ(ReadFile(path), "888\r\n-5\r\n");
  access.LoadSettings();
  EXPECT_EQ(access.Com->ConnectDelay, -5);

  access.SettingsFolder = dir.File("missing") + "/";
  EXPECT_THROW(access.SaveSettings(1, 2), InOutError);
  EXPECT_EQ(ReadFile(path), "888\r\n-5\r\n");
}

TEST_F(Settings, InitDefaultsLeavesNoFile) {
  access.InitDefaults();
  ASSERT_NE(access.Com, nullptr);
  EXPECT_EQ(access.Com->PortBase, 0x378);
  EXPECT_FALSE(std::ifstream(path).good());
  access.Done();
  EXPECT_EQ(access.Com, nullptr);
}

}  // namespace
}  // namespace travosk::card
