#include "link/device_root.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/errors.h"
#include "link/link.h"
#include "link/device_dir_platform.h"

namespace travosk::link {
namespace {

// Sets or clears an environment variable for one test and restores it.
class EnvOverride {
 public:
  EnvOverride(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvOverride() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string TempDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "travosk-root-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp";
  return pattern;
}

TEST(DeviceRoot, EnvironmentChoosesTheRoot) {
  {
    EnvOverride root("TRAVOSK_DEVICE_ROOT", "/somewhere/devs");
    EnvOverride runtime("XDG_RUNTIME_DIR", "/run/user/77");
    EXPECT_EQ(DeviceRoot(), "/somewhere/devs");
  }
  {
    EnvOverride root("TRAVOSK_DEVICE_ROOT", nullptr);
    EnvOverride runtime("XDG_RUNTIME_DIR", "/run/user/77");
    EXPECT_EQ(DeviceRoot(), "/run/user/77/travosk");
  }
  {
    EnvOverride root("TRAVOSK_DEVICE_ROOT", "");
    EnvOverride runtime("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(DeviceRoot(), "/tmp/travosk-" + std::to_string(::getuid()));
  }
  EXPECT_EQ(ClassDirectory("/r"), "/r/{5D0C2A71-93E4-4F1B-A6D2-7C3B19E8F540}");
  EXPECT_EQ(InterfacePath("/r", 0x2A), "/r/{5D0C2A71-93E4-4F1B-A6D2-7C3B19E8F540}/0000002a");
  EXPECT_EQ(NodeKeyPath("/r", 0xDEADBEEF), "/r/nodes/deadbeef");
}

TEST(DeviceRoot, PipeTimeOutComesFromTheEnvironmentWhenItIsANumber) {
  {
    EnvOverride timeout("TRAVOSK_PIPE_TIMEOUT_MS", nullptr);
    EXPECT_EQ(DefaultPipeTimeoutMs(), 3000);
  }
  {
    EnvOverride timeout("TRAVOSK_PIPE_TIMEOUT_MS", "250");
    EXPECT_EQ(DefaultPipeTimeoutMs(), 250);
    EXPECT_EQ(DeviceDirPlatform("/dev/null/x").PipeTimeoutMs(), 250);
    EXPECT_EQ(DeviceDirPlatform("/dev/null/x", 40).PipeTimeoutMs(), 40) << "an explicit value wins";
  }
  for (const char* bad : {"", "0", "-5", "12ms", "99999999999"}) {
    EnvOverride timeout("TRAVOSK_PIPE_TIMEOUT_MS", bad);
    EXPECT_EQ(DefaultPipeTimeoutMs(), 3000) << bad;
  }
}

TEST(DeviceRoot, NodeNamesAreEightLowercaseHexDigits) {
  EXPECT_EQ(NodeName(0x2A), "0000002a");
  EXPECT_EQ(ParseNodeName("0000002a"), 0x2Au);
  EXPECT_EQ(ParseNodeName("ffffffff"), 0xFFFFFFFFu);
  EXPECT_FALSE(ParseNodeName("0000002A"));
  EXPECT_FALSE(ParseNodeName("2a"));
  EXPECT_FALSE(ParseNodeName("00000002a"));
  EXPECT_FALSE(ParseNodeName("0000002g"));
  EXPECT_FALSE(ParseNodeName(".staging"));
}

TEST(DeviceRoot, MakeDirectoriesCreatesPrivateParents) {
  const std::string base = TempDirectory();
  const std::string deep = base + "/a/b/c";
  EXPECT_TRUE(MakeDirectories(deep));
  EXPECT_TRUE(MakeDirectories(deep)) << "an existing directory is fine";
  EXPECT_EQ(std::filesystem::status(base + "/a").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  std::ofstream(base + "/file") << "x";
  EXPECT_FALSE(MakeDirectories(base + "/file"));
  std::filesystem::remove_all(base);
}

TEST(Identity, WrittenFileReadsBackAndIsPlainText) {
  const std::string base = TempDirectory();
  const std::string path = base + "/identity";
  DeviceIdentity identity;
  identity.vendor = 0x7E21;
  identity.product = 0xB40D;
  identity.version = 0x0102;
  identity.manufacturer = "Maker = Co";
  identity.product_name = "Card Adapter";
  identity.serial = "SN-1";
  identity.physical_descriptor = {0x00, 0x7F, 0xFF};
  identity.hardware_key = kAdapterIdentifier;
  identity.feature = true;
  WriteIdentity(path, identity);

  std::ifstream in(path);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "vendor=7E21");

  const auto back = ReadIdentity(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->vendor, 0x7E21);
  EXPECT_EQ(back->product, 0xB40D);
  EXPECT_EQ(back->version, 0x0102);
  EXPECT_EQ(back->manufacturer, "Maker = Co");
  EXPECT_EQ(back->product_name, "Card Adapter");
  EXPECT_EQ(back->serial, "SN-1");
  EXPECT_EQ(back->physical_descriptor, (std::vector<uint8_t>{0x00, 0x7F, 0xFF}));
  EXPECT_EQ(back->hardware_key, kAdapterIdentifier);
  EXPECT_TRUE(back->feature);

  identity.serial = "two\nlines";
  EXPECT_THROW(WriteIdentity(path, identity), InOutError);
  EXPECT_TRUE(ReadIdentity(path)) << "a refused write leaves the old file";
  std::filesystem::remove_all(base);
}

TEST(Identity, ReaderToleratesUnknownKeysAndRejectsMalformedValues) {
  const std::string base = TempDirectory();
  const std::string path = base + "/identity";
  const auto read = [&](const std::string& text) {
    std::ofstream(path, std::ios::trunc) << text;
    return ReadIdentity(path);
  };
  auto minimal = read("# comment\r\nvendor=7e21\r\ncolour=blue\nproduct=d\n");
  ASSERT_TRUE(minimal);
  EXPECT_EQ(minimal->vendor, 0x7E21);
  EXPECT_EQ(minimal->product, 0x000D);
  EXPECT_EQ(minimal->manufacturer, "");
  EXPECT_FALSE(minimal->feature);

  EXPECT_FALSE(read("vendor=12345\n"));
  EXPECT_FALSE(read("vendor=\n"));
  EXPECT_FALSE(read("product=XYZ\n"));
  EXPECT_FALSE(read("physical_descriptor=ABC\n"));
  EXPECT_FALSE(read("physical_descriptor=" + std::string(514, '0') + "\n"));
  EXPECT_FALSE(read("feature=yes\n"));
  EXPECT_FALSE(read(std::string(70 * 1024, 'x')));
  EXPECT_FALSE(ReadIdentity(base + "/missing"));
  std::filesystem::remove_all(base);
}

TEST(NodeKey, WrittenKeyReadsBackAndMissingKeyIsEmpty) {
  const std::string root = TempDirectory();
  EXPECT_EQ(ReadNodeKey(root, 5), "");
  WriteNodeKey(root, 5, "USB\\VID_7E21&PID_B40D\\INST_0");
  EXPECT_EQ(ReadNodeKey(root, 5), "USB\\VID_7E21&PID_B40D\\INST_0");
  EXPECT_THROW(WriteNodeKey(root, 6, "a\nb"), InOutError);
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace travosk::link
