// The FIFO server in this process, for what the program test cannot steer:
// replies the PC never read, transactions it abandoned, node numbers.
#include "sim/fifo_server.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "link/device_root.h"
#include "link/device_dir_platform.h"
#include "link/ps2mcom.h"
#include "sim_test_util.h"

namespace travosk::sim {
namespace {

using namespace std::chrono_literals;
using testing::ScratchDir;

// A server serving on its own thread until the end of the scope.
class Serving {
 public:
  Serving(Adapter& adapter, const std::string& root)
      : server(adapter, root), thread_([this] { server.Serve(); }) {}
  ~Serving() {
    server.RequestStop();
    thread_.join();
  }
  FifoServer server;

 private:
  std::thread thread_;
};

struct Pc {
  explicit Pc(const std::string& root) : platform(root, 1000), link(platform, clock), com(link) {
    link.FindAdapter();
  }
  link::DeviceDirPlatform platform;
  link::FakeClock clock;
  link::Link link;
  link::TPS2Mcom com;
};

TEST(FifoServer, AStaleReplyIsNotTakenAsTheNextAnswer) {
  ScratchDir dir;
  Medium::CreateBlank(dir.File("card"), MediumKind::kPS2);
  Adapter adapter;
  adapter.InsertCard(Medium::Open(dir.File("card"), MediumKind::kPS2));
  Serving s(adapter, dir.File("root"));
  Pc pc(dir.File("root"));
  ASSERT_TRUE(pc.link.IsConnected());

  // The ReadCardSpecs reply (00 02 ...) is left unread; the status must still
  // arrive as the answer to the status command.
  ASSERT_TRUE(pc.link.SendCommand(link::BuildCommand(0x51, 0x26, 0, 0)));
  EXPECT_TRUE(pc.com.DetectAdapter());
  EXPECT_FALSE(pc.com.LinkFault);
  uint8_t r[8] = {};
  pc.com.ReadCardSpecs(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
  EXPECT_EQ(r[1], 0x02);
  EXPECT_EQ(r[5], 64);
}

TEST(FifoServer, AnAbandonedWriteDoesNotSwallowTheNextProgramsPackets) {
  ScratchDir dir;
  Medium::CreateBlank(dir.File("card"), MediumKind::kPS2);
  Adapter adapter;
  adapter.InsertCard(Medium::Open(dir.File("card"), MediumKind::kPS2));
  Serving s(adapter, dir.File("root"));
  s.server.SetAbandonMs(50);
  {
    Pc gone(dir.File("root"));  // sends a page write and leaves before its data
    ASSERT_TRUE(gone.link.SendCommand(link::BuildCommand(0xC8, 0xA2, 0x00, 0x00)));
  }
  std::this_thread::sleep_for(300ms);
  Pc pc(dir.File("root"));
  EXPECT_TRUE(pc.com.DetectAdapter());
  const auto bytes = adapter.card()->bytes();
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + 528, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(adapter.counters().pages_written, 0u);
}

TEST(FifoServer, NodesAreTakenLowestFreeFirstAndUnplugLeavesNothing) {
  ScratchDir dir;
  const std::string root = dir.File("root");
  Adapter a, b;
  std::string first_path;
  {
    FifoServer first(a, root);
    FifoServer second(b, root);
    EXPECT_EQ(first.Node(), 1u);
    EXPECT_EQ(second.Node(), 2u);
    EXPECT_EQ(first.DevicePath(), link::InterfacePath(root, 1));
    EXPECT_EQ(link::ReadNodeKey(root, 2), kUsbHardwareKey);
    const auto id = link::ReadIdentity(second.DevicePath() + "/" + link::kIdentityFileName);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(id->vendor, kUsbVendor);
    EXPECT_EQ(id->product, kUsbProduct);
    EXPECT_FALSE(id->feature);
    first_path = first.DevicePath();
    first.Unplug();
    EXPECT_FALSE(std::filesystem::exists(first_path));
    EXPECT_EQ(link::ReadNodeKey(root, 1), "");
    FifoServer third(a, root);  // the freed number is used again
    EXPECT_EQ(third.Node(), 1u);
  }
  // Only the empty class and node directories remain.
  EXPECT_TRUE(std::filesystem::is_empty(link::ClassDirectory(root)));
  EXPECT_TRUE(std::filesystem::is_empty(link::NodesDirectory(root)));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(root)) ++entries;
  EXPECT_EQ(entries, 2u);
}

TEST(FifoServer, TheInterfaceOfAKilledAdapterIsSweptAway) {
  ScratchDir dir;
  const std::string root = dir.File("root");
  Adapter live_adapter, a;
  FifoServer live(live_adapter, root);  // node 1, served
  // Node 2 as a killed adapter leaves it: complete, but nobody holds its FIFOs.
  const std::string dead = link::InterfacePath(root, 2);
  ASSERT_TRUE(std::filesystem::create_directory(dead));
  ASSERT_EQ(::mkfifo((dead + "/" + link::kReadPipeName).c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dead + "/" + link::kWritePipeName).c_str(), 0600), 0);
  link::WriteIdentity(dead + "/" + link::kIdentityFileName, link::DeviceIdentity{});
  link::WriteNodeKey(root, 2, kUsbHardwareKey);

  FifoServer fresh(a, root);
  EXPECT_EQ(fresh.Node(), 2u);  // swept, so its number was free again
  EXPECT_TRUE(std::filesystem::exists(live.DevicePath()));
  link::DeviceDirPlatform platform(root, 1000);
  const auto interfaces = platform.ListInterfaces();
  ASSERT_TRUE(interfaces.has_value());
  EXPECT_EQ(interfaces->size(), 2u);
}

}  // namespace
}  // namespace travosk::sim
