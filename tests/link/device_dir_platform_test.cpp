#include "link/device_dir_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/link.h"

namespace travosk::link {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Reads exactly count bytes from fd, giving up after a second.
std::vector<uint8_t> ReadExactly(int fd, size_t count) {
  std::vector<uint8_t> bytes;
  const auto deadline = steady_clock::now() + milliseconds(1000);
  while (bytes.size() < count && steady_clock::now() < deadline) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 50) <= 0) continue;
    uint8_t chunk[1024];
    const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, count - bytes.size()));
    if (n <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

void WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// What the adapter program does: stage the interface, then rename it into the
// class directory; hold both FIFOs open for reading and writing; unplug by
// renaming it out and deleting it.
class TestAdapter {
 public:
  TestAdapter(const std::string& root, uint32_t node, DeviceIdentity identity)
      : root_(root), node_(node) {
    const std::string staging = root + "/staging-" + NodeName(node);
    EXPECT_TRUE(MakeDirectories(staging));
    WriteIdentity(staging + "/" + kIdentityFileName, identity);
    EXPECT_EQ(::mkfifo((staging + "/PIPE00").c_str(), 0600), 0);
    EXPECT_EQ(::mkfifo((staging + "/PIPE01").c_str(), 0600), 0);
    to_pc_.reset(::open((staging + "/PIPE00").c_str(), O_RDWR | O_CLOEXEC));
    from_pc_.reset(::open((staging + "/PIPE01").c_str(), O_RDWR | O_CLOEXEC));
    WriteNodeKey(root, node, identity.hardware_key);
    EXPECT_TRUE(MakeDirectories(ClassDirectory(root)));
    fs::rename(staging, path());
  }
  ~TestAdapter() { Unplug(); }

  std::string path() const { return InterfacePath(root_, node_); }
  int to_pc() const { return to_pc_.get(); }
  int from_pc() const { return from_pc_.get(); }

  void Unplug() {
    if (!to_pc_.valid()) return;
    const std::string gone = root_ + "/gone-" + NodeName(node_);
    fs::rename(path(), gone);
    to_pc_.reset();
    from_pc_.reset();
    fs::remove_all(gone);
  }

 private:
  std::string root_;
  uint32_t node_;
  UniqueFd to_pc_;
  UniqueFd from_pc_;
};

DeviceIdentity AdapterIdentity() {
  DeviceIdentity identity;
  identity.vendor = 0x7E21;
  identity.product = 0xB40D;
  identity.version = 0x0100;
  identity.manufacturer = "TRAVOSK";
  identity.product_name = "Memory Card Adapter";
  identity.physical_descriptor = {'P', 'D'};
  identity.hardware_key = kAdapterIdentifier;
  return identity;
}

class DeviceDirPlatformTest : public ::testing::Test {
 protected:
  DeviceDirPlatformTest() {
    root = (fs::temp_directory_path() / "travosk-dev-XXXXXX").string();
    if (::mkdtemp(root.data()) == nullptr) ADD_FAILURE() << "mkdtemp";
    root += "/root";  // not there yet: the platform creates it
    platform = std::make_unique<DeviceDirPlatform>(root, 200);
  }
  ~DeviceDirPlatformTest() override {
    platform.reset();
    fs::remove_all(fs::path(root).parent_path());
  }
  // Waits until a notification is pending, at most a second.
  std::vector<DeviceEvent> Changes() {
    pollfd entry{platform->NotificationDescriptor(), POLLIN, 0};
    (void)::poll(&entry, 1, 1000);
    return platform->TakeDeviceEvents();
  }

  std::string root;
  std::unique_ptr<DeviceDirPlatform> platform;
};

TEST_F(DeviceDirPlatformTest, ListsInterfaceDirectoriesAndReadsTheirIdentity) {
  EXPECT_EQ(fs::status(root).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(platform->ListInterfaces(), std::vector<std::string>{});

  TestAdapter a(root, 0x2A, AdapterIdentity());
  DeviceIdentity plain;
  plain.vendor = 0x1234;
  TestAdapter b(root, 0x05, plain);
  fs::create_directory(ClassDirectory(root) + "/not-a-node");
  std::ofstream(ClassDirectory(root) + "/0000000c") << "a file, not an interface";
  EXPECT_EQ(platform->ListInterfaces(),
            (std::vector<std::string>{b.path(), a.path()}));

  const auto identity = platform->Identify(a.path());
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->attributes.vendor, 0x7E21);
  EXPECT_EQ(identity->attributes.product, 0xB40D);
  EXPECT_EQ(identity->attributes.version, 0x0100);
  EXPECT_EQ(identity->manufacturer, "TRAVOSK");
  EXPECT_EQ(identity->product, "Memory Card Adapter");
  EXPECT_FALSE(identity->serial_number) << "the device has no serial";
  ASSERT_TRUE(identity->physical_descriptor);
  EXPECT_EQ(*identity->physical_descriptor, (std::vector<uint8_t>{'P', 'D'}));
  EXPECT_FALSE(platform->AnswersFeatureReport(a.path()));

  EXPECT_EQ(platform->Identify(ClassDirectory(root) + "/not-a-node"), std::nullopt);
  EXPECT_EQ(platform->ReadHardwareKey(0x2A), kAdapterIdentifier);
  EXPECT_EQ(platform->ReadHardwareKey(0x99), "");
}

TEST_F(DeviceDirPlatformTest, PipesCarryBytesBothWays) {
  TestAdapter adapter(root, 1, AdapterIdentity());
  const Handle in = platform->OpenPipe(adapter.path() + "/PIPE00", Platform::PipeEnd::kRead);
  const Handle out = platform->OpenPipe(adapter.path() + "/PIPE01", Platform::PipeEnd::kWrite);
  ASSERT_NE(in, kInvalidHandle);
  ASSERT_NE(out, kInvalidHandle);

  const std::vector<uint8_t> packet = {0xA5, 0x69, 0x23, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(platform->WritePipe(out, packet.data(), packet.size()), 16);
  EXPECT_EQ(ReadExactly(adapter.from_pc(), 16), packet);

  // The reply arrives in two pieces; the read gathers them.
  std::vector<uint8_t> reply(512);
  for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i * 7);
  std::thread peer([&] {
    WriteAll(adapter.to_pc(), {reply.begin(), reply.begin() + 100});
    std::this_thread::sleep_for(milliseconds(30));
    WriteAll(adapter.to_pc(), {reply.begin() + 100, reply.end()});
  });
  std::vector<uint8_t> got(512);
  EXPECT_EQ(platform->ReadPipe(in, got.data(), got.size()), 512);
  peer.join();
  EXPECT_EQ(got, reply);
  platform->ClosePipe(in);
  platform->ClosePipe(out);
}

TEST_F(DeviceDirPlatformTest, SilentOrVanishedAdapterFailsTransfersInsteadOfHanging) {
  TestAdapter adapter(root, 1, AdapterIdentity());
  const Handle in = platform->OpenPipe(adapter.path() + "/PIPE00", Platform::PipeEnd::kRead);
  const Handle out = platform->OpenPipe(adapter.path() + "/PIPE01", Platform::PipeEnd::kWrite);
  uint8_t buffer[512];

  auto start = steady_clock::now();
  EXPECT_EQ(platform->ReadPipe(in, buffer, sizeof buffer), -1);
  auto waited = steady_clock::now() - start;
  EXPECT_GE(waited, milliseconds(150));
  EXPECT_LT(waited, milliseconds(2000));

  adapter.Unplug();
  start = steady_clock::now();
  EXPECT_EQ(platform->ReadPipe(in, buffer, sizeof buffer), -1);
  EXPECT_EQ(platform->WritePipe(out, buffer, 16), -1) << "EPIPE, not a fatal signal";
  EXPECT_LT(steady_clock::now() - start, milliseconds(150)) << "a gone adapter fails at once";
  platform->ClosePipe(in);
  platform->ClosePipe(out);
}

TEST_F(DeviceDirPlatformTest, PipeWithoutAdapterDoesNotOpenForWriting) {
  const std::string dir = ClassDirectory(root) + "/00000003";
  ASSERT_TRUE(MakeDirectories(dir));
  ASSERT_EQ(::mkfifo((dir + "/PIPE01").c_str(), 0600), 0);
  EXPECT_EQ(platform->OpenPipe(dir + "/PIPE01", Platform::PipeEnd::kWrite), kInvalidHandle);
  EXPECT_EQ(platform->OpenPipe(dir + "/PIPE00", Platform::PipeEnd::kRead), kInvalidHandle);
}

TEST_F(DeviceDirPlatformTest, NotificationsFollowInterfacesComingAndGoing) {
  ASSERT_GE(platform->NotificationDescriptor(), 0);
  EXPECT_TRUE(platform->TakeDeviceEvents().empty());

  auto adapter = std::make_unique<TestAdapter>(root, 0x2A, AdapterIdentity());
  EXPECT_EQ(Changes(), (std::vector<DeviceEvent>{{true, 0x2A}}));
  adapter.reset();
  EXPECT_EQ(Changes(), (std::vector<DeviceEvent>{{false, 0x2A}}));

  const std::string node_dir = ClassDirectory(root) + "/00000007";
  fs::create_directory(ClassDirectory(root) + "/not-a-node");
  std::ofstream(ClassDirectory(root) + "/00000008") << "a file";
  fs::create_directory(node_dir);
  fs::remove(node_dir);
  EXPECT_EQ(Changes(), (std::vector<DeviceEvent>{{true, 7}, {false, 7}}));
}

TEST_F(DeviceDirPlatformTest, RootOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs to give a directory away";
  const std::string planted = fs::path(root).parent_path().string() + "/planted";
  ASSERT_TRUE(MakeDirectories(ClassDirectory(planted) + "/00000001"));
  ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
  DeviceDirPlatform other(planted, 200);
  EXPECT_EQ(other.ListInterfaces(), std::nullopt);
}

}  // namespace
}  // namespace travosk::link
