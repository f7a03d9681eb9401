// The one suite that runs the real adapter program: discovery, arrival,
// traffic and removal through FIFOs in a temporary device root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "link/device_root.h"
#include "link/device_dir_platform.h"
#include "link/ps2mcom.h"
#include "sim_test_util.h"
#include "support/child_process.h"

extern char** environ;

namespace travosk::sim {
namespace {

using namespace std::chrono_literals;
using testing::ScratchDir;

// travosk-adapter as a child process whose stdout we read; killed and reaped
// however the test ends.
class AdapterProcess {
 public:
  explicit AdapterProcess(const std::vector<std::string>& args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    stdout_ = out[0];
    if (rc != 0) pid_ = -1;
  }
  ~AdapterProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(stdout_);
  }
  bool started() const { return pid_ > 0; }

  // The first line on stdout, waiting at most `limit`.
  std::string ReadLine(std::chrono::milliseconds limit) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (line.empty() || line.back() != '\n') {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{stdout_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
      char c;
      if (::read(stdout_, &c, 1) != 1) return {};
      line.push_back(c);
    }
    line.pop_back();
    return line;
  }

  void Signal(int sig) { ::kill(pid_, sig); }

  // The exit status, or -1 when the process has not ended within `limit`.
  int Wait(std::chrono::milliseconds limit) { return support::WaitForExit(pid_, limit); }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
};

std::vector<link::DeviceEvent> WaitForChanges(link::DeviceDirPlatform& platform) {
  pollfd p{platform.NotificationDescriptor(), POLLIN, 0};
  if (p.fd < 0 || ::poll(&p, 1, 10000) <= 0) return {};
  std::this_thread::sleep_for(20ms);  // let the rest of the burst arrive
  return platform.TakeDeviceEvents();
}

TEST(FifoEndToEnd, AdapterProgramArrivesServesAndLeaves) {
  const char* bin = std::getenv("TRAVOSK_BIN");
  if (!bin) GTEST_SKIP() << "TRAVOSK_BIN is not set (run through CTest)";
  ScratchDir dir;
  const std::string root = dir.File("devices");
  const std::string image = dir.File("card.ps2");
  Medium::CreateBlank(image, MediumKind::kPS2);

  // The PC side watches the device root before the adapter is plugged in.
  link::DeviceDirPlatform platform(root, 5000);
  link::FakeClock clock;  // the program needs none of the protocol's waits
  link::Link link(platform, clock);
  link.FindAdapter();
  EXPECT_FALSE(link.IsConnected());

  AdapterProcess adapter(
      {std::string(bin) + "/travosk-adapter", "--card", image, "--device-root", root});
  ASSERT_TRUE(adapter.started());
  const std::string device_path = adapter.ReadLine(20s);
  ASSERT_FALSE(device_path.empty()) << "the adapter did not report its device path";

  // The arrival, followed as the main window would.
  auto changes = WaitForChanges(platform);
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(link::DeviceChangeOf(changes.back()).event, link::kDeviceArrival);
  EXPECT_EQ(link::DeviceChangeOf(changes.back()).device_type, link::kDevTypeDevNode);
  EXPECT_EQ(link.ReadHardwareKey(changes.back().node), link::kAdapterIdentifier);
  for (const auto& c : changes) link.HandleDeviceChange(link::DeviceChangeOf(c));
  EXPECT_TRUE(link.IsConnected());
  EXPECT_EQ(link.DevicePath(), device_path);

  // Start-up discovery finds the same interface with the adapter's identity.
  link.FindAdapter();
  EXPECT_EQ(link.DevicePath(), device_path);
  link::THidDeviceData record;
  link.ScanAdapterInterfaces(record, link::kAdapterIdentifier);
  EXPECT_EQ(record.device_path, device_path);
  EXPECT_EQ(record.manufacturer, kUsbManufacturer);

  link::TPS2Mcom com(link);
  ASSERT_TRUE(com.DetectAdapter());
  uint8_t r[8] = {};
  com.ReadCardSpecs(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
  EXPECT_EQ(r[2], 16);
  EXPECT_EQ(r[5], 64);

  link::Page page{};
  for (size_t i = 0; i < 512; ++i) page[i] = static_cast<uint8_t>(i ^ 0x5C);
  com.WritePS2Page(0x21, 0x03, page);  // page 0x0321
  link::Page back{};
  back.fill(0xEE);
  com.ReadPS2Page(0x21, 0x03, back);
  EXPECT_FALSE(com.LinkFault);
  EXPECT_TRUE(std::equal(page.begin(), page.begin() + 512, back.begin()));
  {
    auto seen = Medium::Open(image, MediumKind::kPS2);  // the image holds it as well
    EXPECT_TRUE(std::equal(page.begin(), page.begin() + 512,
                           seen->bytes().begin() + 0x321 * kRawPageBytes));
  }

  // The unplug: the program removes its interface and ends.
  adapter.Signal(SIGTERM);
  EXPECT_EQ(adapter.Wait(20s), 0);
  EXPECT_FALSE(std::filesystem::exists(device_path));
  EXPECT_FALSE(std::filesystem::exists(link::NodeKeyPath(root, changes.back().node)));

  // Before the notification is handled the pipes are still open, and a
  // transfer fails at once on the vanished peer instead of waiting.
  const auto start = std::chrono::steady_clock::now();
  com.LinkFault = false;
  EXPECT_FALSE(com.DetectAdapter());
  EXPECT_TRUE(com.LinkFault);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);

  changes = WaitForChanges(platform);
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(link::DeviceChangeOf(changes.back()).event, link::kDeviceRemoveComplete);
  EXPECT_EQ(link::DeviceChangeOf(changes.back()).device_type, link::kDevTypeDevNode);
  for (const auto& c : changes) link.HandleDeviceChange(link::DeviceChangeOf(c));
  EXPECT_FALSE(link.IsConnected());
  EXPECT_FALSE(link.ReadPipeOpen());
  EXPECT_FALSE(link.WritePipeOpen());
  com.LinkFault = false;
  EXPECT_FALSE(com.DetectAdapter());
  EXPECT_TRUE(com.LinkFault);
}

// The adapter program plugged in below a fresh device root with some
// arguments, and a PC side connected to it.
struct FaultyAdapter {
  explicit FaultyAdapter(const std::vector<std::string>& faults)
      : image(dir.File("card.ps2")), root(dir.File("devices")) {
    Medium::CreateBlank(image, MediumKind::kPS2);
    std::vector<std::string> args = {std::string(std::getenv("TRAVOSK_BIN")) + "/travosk-adapter",
                                     "--card", image, "--device-root", root};
    args.insert(args.end(), faults.begin(), faults.end());
    process = std::make_unique<AdapterProcess>(args);
    device_path = process->ReadLine(20s);
    link.FindAdapter();
  }
  // Answers are waited for long; where none may come, briefly.
  void Expect(bool answer) { platform.SetPipeTimeoutMs(answer ? 20000 : 300); }
  ScratchDir dir;
  std::string image, root;
  link::DeviceDirPlatform platform{root, 20000};
  link::FakeClock clock;
  link::Link link{platform, clock};
  link::TPS2Mcom com{link};
  std::unique_ptr<AdapterProcess> process;
  std::string device_path;
};

link::Page Filled(uint8_t value) {
  link::Page page;
  page.fill(value);
  return page;
}

TEST(FifoEndToEnd, AdapterProgramTakesFaultsFromItsCommandLine) {
  if (!std::getenv("TRAVOSK_BIN")) GTEST_SKIP() << "TRAVOSK_BIN is not set (run through CTest)";
  {
    // Packet 1 is a page write, which a FIFO cannot refuse in a way the PC
    // sees: the failure lands on the next command that answers, packet 2.
    FaultyAdapter a({"--fail-once-at", "1"});
    ASSERT_FALSE(a.device_path.empty());
    ASSERT_TRUE(a.link.IsConnected());
    a.com.WritePS2Page(0, 0, Filled(0x11));
    a.com.WritePS2Page(5, 0, Filled(0x22));
    link::Page back{};
    a.Expect(false);
    a.com.ReadPS2Page(0, 0, back);
    EXPECT_TRUE(a.com.LinkFault);
    a.com.LinkFault = false;
    // The adapter is still there, and both writes went through.
    a.Expect(true);
    a.com.ReadPS2Page(0, 0, back);
    EXPECT_EQ(back[0], 0x11);
    a.com.ReadPS2Page(5, 0, back);
    EXPECT_EQ(back[0], 0x22);
    EXPECT_FALSE(a.com.LinkFault);
    EXPECT_TRUE(std::filesystem::exists(a.device_path));
  }
  {
    // A read refused once gets no answer; the next one is served.
    FaultyAdapter a({"--fail-once-at", "0"});
    ASSERT_TRUE(a.link.IsConnected());
    link::Page back{};
    a.Expect(false);
    a.com.ReadPS2Page(0, 0, back);
    EXPECT_TRUE(a.com.LinkFault);
    a.com.LinkFault = false;
    a.Expect(true);
    EXPECT_TRUE(a.com.DetectAdapter());
    EXPECT_FALSE(a.com.LinkFault);
  }
  {
    // Two packets served, then the interface leaves and the program ends.
    FaultyAdapter a({"--unplug-after", "2"});
    ASSERT_TRUE(a.link.IsConnected());
    a.Expect(true);
    EXPECT_TRUE(a.com.DetectAdapter());
    a.com.WritePS2Page(0, 0, Filled(0x33));  // its packet is the third: the unplug
    EXPECT_EQ(a.process->Wait(20s), 0);
    EXPECT_FALSE(std::filesystem::exists(a.device_path));
    link::Page back{};
    a.com.ReadPS2Page(0, 0, back);
    EXPECT_TRUE(a.com.LinkFault);
    auto seen = Medium::Open(a.image, MediumKind::kPS2);
    EXPECT_EQ(seen->bytes()[0], 0xFF);  // the write's packet was the third
  }
  {
    // One packet answered, then nothing; the interface stays.
    FaultyAdapter a({"--silent-after", "1"});
    ASSERT_TRUE(a.link.IsConnected());
    a.Expect(true);
    link::Page back{};
    a.com.ReadPS2Page(0, 0, back);
    EXPECT_FALSE(a.com.LinkFault);
    a.Expect(false);
    a.com.ReadPS2Page(0, 0, back);
    EXPECT_TRUE(a.com.LinkFault);
    EXPECT_TRUE(std::filesystem::exists(a.device_path));
    EXPECT_EQ(a.process->Wait(0ms), -1);  // still running
  }
}

}  // namespace
}  // namespace travosk::sim
