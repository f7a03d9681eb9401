// The USB platform through the real libusb against an emulated kernel:
// discovery, identity, pipes, faults and hot-plug in this process, and whole
// card operations by the command line in a child process, compared byte for
// byte with the same operations on card images.
#include "link/usb_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <iterator>
#include <thread>

#include "link/link.h"
#include "link/ps2mcom.h"
#include "sim/adapter.h"
#include "sim/medium.h"
#include "support/card_fixture.h"
#include "usb_testbed.h"

namespace travosk::usbtest {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr uint32_t kNode12 = 1 << 8 | 2;  // bus 1, address 2
const std::string kPeer = "/work/shared/fixtures/peer/";

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Copy(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
  return to;
}

// An adapter holding a copy of a card image.
struct Card {
  Card(const std::string& image, sim::MediumKind kind) {
    adapter.InsertCard(sim::Medium::Open(image, kind));
  }
  sim::Adapter adapter;
};

std::array<uint8_t, link::kPacketBytes> Packet(uint8_t c0, uint8_t c1) {
  std::array<uint8_t, link::kPacketBytes> p{};
  p[0] = c0;
  p[1] = c1;
  return p;
}

// The status request: CA 59 03 00 answers A0 21.
bool AnswersStatus(link::Link& link) {
  auto status = Packet(0xCA, 0x59);
  status[2] = 0x03;
  std::array<uint8_t, 512> reply{};
  return link.SendCommand(status) && link.ReadPipe(reply.data(), reply.size()) &&
         reply[0] == 0xA0 && reply[1] == 0x21;
}

class UsbTest : public ::testing::Test {
 protected:
  support::TempDir dir;
  UsbTestbed bed;
  link::FakeClock clock;
};

TEST_F(UsbTest, DiscoveryFindsTheAdaptersAndOnlyThem) {
  sim::Adapter first, second, other_product, other_vendor;
  {
    link::UsbPlatform none(300);
    EXPECT_EQ(none.ListInterfaces(), std::vector<std::string>{});
    link::Link link(none, clock);
    link.FindAdapter();
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.ReadPipeOpen());
  }
  bed.Add(other_product, {.port = 4, .product = 0x0001});
  bed.Add(other_vendor, {.port = 5, .vendor = 0x1234});
  {
    link::UsbPlatform strangers(300);
    EXPECT_EQ(strangers.ListInterfaces(), std::vector<std::string>{});
  }
  bed.Add(first, {.port = 2});
  bed.Add(second, {.port = 3, .serial = "TV0002"});
  link::UsbPlatform platform(300);
  EXPECT_EQ(platform.ListInterfaces(), (std::vector<std::string>{"usb:1-2", "usb:1-3"}));
  EXPECT_EQ(platform.InterfaceKind("usb:1-2"), "USB adapter");

  // The last adapter that opens is the one the link keeps; the identity
  // record holds the descriptors' strings.
  link::Link link(platform, clock);
  link::THidDeviceData record;
  link.ScanAdapterInterfaces(record, link::kAdapterIdentifier);
  EXPECT_EQ(link.DevicePath(), "usb:1-3");
  EXPECT_EQ(record.device_path, "usb:1-3");
  EXPECT_EQ(record.manufacturer, sim::kUsbManufacturer);
  EXPECT_EQ(record.product_name, sim::kUsbProductName);
  EXPECT_EQ(record.serial_number, "TV0002");
  EXPECT_EQ(record.physical_descriptor, "");
  const auto identity = platform.Identify("usb:1-2");
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->attributes.vendor, sim::kUsbVendor);
  EXPECT_EQ(identity->attributes.product, sim::kUsbProduct);
  EXPECT_EQ(identity->attributes.version, sim::kUsbVersion);
  EXPECT_EQ(platform.Identify("usb:1-4"), std::nullopt);  // not an adapter
  EXPECT_EQ(platform.ReadHardwareKey(kNode12), "USB\\VID_7E21&PID_B40D\\TV0001");
  EXPECT_EQ(platform.ReadHardwareKey(1 << 8 | 4), "USB\\VID_7E21&PID_0001\\TV0001");
  EXPECT_EQ(platform.ReadHardwareKey(9 << 8 | 9), "");

  // The pipes claim interface 0 once and release it with the last of them.
  link.FindAdapter();
  ASSERT_TRUE(link.IsConnected());
  ASSERT_TRUE(link.ReadPipeOpen() && link.WritePipeOpen());
  EXPECT_EQ(bed.Seen("CLAIMINTERFACE"), 1u);
  EXPECT_TRUE(AnswersStatus(link));
  EXPECT_EQ(second.counters().transactions, 1u);
  EXPECT_EQ(first.counters().transactions, 0u);
  link.ClosePipes();
  EXPECT_EQ(bed.Seen("RELEASEINTERFACE"), 1u);
}

TEST_F(UsbTest, StallTimeOutAndRemovalFailTheTransferWithoutHanging) {
  Card card(Copy(kPeer + "peer_card.ps2", dir.File("card.ps2")), sim::MediumKind::kPS2);
  const std::string syspath = bed.Add(card.adapter);
  link::UsbPlatform platform(300);
  link::Link link(platform, clock);
  link.FindAdapter();
  ASSERT_TRUE(link.ReadPipeOpen());
  std::array<uint8_t, 512> page{};
  const auto read_page = [&] {
    return link.SendCommand(Packet(0xA5, 0x69)) && link.ReadPipe(page.data(), page.size());
  };
  ASSERT_TRUE(read_page());

  // A stalled read endpoint fails that read, is cleared, and the next works.
  bed.SetFaults(syspath, {.stall_next_read = true});
  EXPECT_FALSE(read_page());
  EXPECT_EQ(bed.Seen("CLEAR_HALT"), 1u);
  EXPECT_TRUE(read_page());

  // An adapter that stops answering: the read times out and its transfer is
  // taken back from the kernel.
  card.adapter.SilentAfter(0);
  auto start = std::chrono::steady_clock::now();
  // The wait has a bound of its own: a transfer without a time-out would
  // otherwise hang until the test runner gives up. Past it, an answer ends
  // the waiting read, and the case fails.
  auto silent_read = std::async(std::launch::async, read_page);
  if (silent_read.wait_for(10s) != std::future_status::ready) {
    ADD_FAILURE() << "a read from a silent adapter was still waiting after 10 s";
    card.adapter.ClearFaults();
    (void)link.SendCommand(Packet(0xA5, 0x69));
    if (silent_read.wait_for(10s) != std::future_status::ready) {
      std::cerr << "the waiting read could not be ended\n";
      std::_Exit(1);
    }
  }
  EXPECT_FALSE(silent_read.get());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_GE(bed.Seen("DISCARDURB"), 1u);
  card.adapter.ClearFaults();
  EXPECT_TRUE(read_page());

  // Unplugged: every transfer fails at once, and stays failed.
  bed.Remove(syspath);
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(read_page());
  EXPECT_FALSE(link.WritePipe(page.data(), 16));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  link.ClosePipes();
}

TEST_F(UsbTest, ArrivalAndRemovalComeThroughTheNotificationDescriptor) {
  link::UsbPlatform platform(300);
  link::Link link(platform, clock);
  const int fd = platform.NotificationDescriptor();
  ASSERT_GE(fd, 0);
  const auto wait = [&] {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 5000) == 1;
  };
  sim::Adapter adapter;
  const std::string syspath = bed.Add(adapter, {.announce = true});
  ASSERT_TRUE(wait());
  const auto arrived = platform.TakeDeviceEvents();
  ASSERT_EQ(arrived.size(), 1u);
  EXPECT_EQ(arrived[0], (link::DeviceEvent{true, kNode12}));
  EXPECT_TRUE(link.HandleDeviceChange(link::DeviceChangeOf(arrived[0])));
  EXPECT_TRUE(link.IsConnected());
  EXPECT_EQ(link.DevicePath(), "usb:1-2");
  EXPECT_TRUE(link.ReadPipeOpen() && link.WritePipeOpen());

  bed.Remove(syspath);
  ASSERT_TRUE(wait());
  const auto left = platform.TakeDeviceEvents();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_FALSE(left[0].arrival);
  EXPECT_EQ(left[0].node, kNode12);
  EXPECT_TRUE(link.HandleDeviceChange(link::DeviceChangeOf(left[0])));
  EXPECT_FALSE(link.IsConnected());
  EXPECT_FALSE(link.ReadPipeOpen());
}

// travosk-cli in a child process, which inherits the preload and the test
// bed; killed when it runs past its time.
struct CliResult {
  int code = -1;
  std::string out, err;
};

CliResult RunCli(const std::vector<std::string>& args, const std::string& home, uid_t user = 0) {
  const char* bin = std::getenv("TRAVOSK_BIN");
  const std::string cli = std::string(bin != nullptr ? bin : "build/bin") + "/travosk-cli";
  const std::string out_file = home + "/cli.out", err_file = home + "/cli.err";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::setenv("TRAVOSK_HOME", home.c_str(), 1);
    ::setenv("TRAVOSK_DEVICE_ROOT", (home + "/devices").c_str(), 1);
    if (user != 0 && (::setgid(user) != 0 || ::setuid(user) != 0)) ::_exit(126);
    std::vector<char*> argv{const_cast<char*>(cli.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(cli.c_str(), argv.data());
    ::_exit(127);
  }
  CliResult result;
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      result.err = "hung";
      return result;
    }
    std::this_thread::sleep_for(20ms);
  }
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = Slurp(out_file);
  result.err = Slurp(err_file);
  return result;
}

TEST_F(UsbTest, CommandLineFindsTheAdapterAndTellsWhenItMayNotOpenIt) {
  const auto none = RunCli({"devices"}, dir.path());
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.out, "no adapter found\n");

  Card card(Copy(kPeer + "peer_card.ps2", dir.File("card.ps2")), sim::MediumKind::kPS2);
  bed.Add(card.adapter, {.readable = false});
  const auto found = RunCli({"devices"}, dir.path());
  EXPECT_EQ(found.code, 0) << found.err;
  EXPECT_NE(found.out.find("* usb:1-2  (USB adapter)\n"), std::string::npos) << found.out;
  EXPECT_NE(found.out.find("card slot: PS2 card, 16384 pages"), std::string::npos) << found.out;

  // Another user, without the udev rule's access: one line names the rule.
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  fs::permissions(dir.path(), fs::perms::all);
  const auto refused = RunCli({"devices"}, dir.path(), nobody->pw_uid);
  EXPECT_EQ(refused.code, 1) << refused.err;
  EXPECT_EQ(refused.out, "no adapter found\n");
  EXPECT_NE(refused.err.find("No permission to open the USB adapter at usb:1-2"), std::string::npos)
      << refused.err;
  EXPECT_NE(refused.err.find("70-travosk.rules"), std::string::npos) << refused.err;
}

// Each card operation through USB and the same on a copy of the card as an
// image: the cards, the listings and any file written come out byte for
// byte the same.
TEST_F(UsbTest, CardOperationsThroughUsbMatchTheSameOnImages) {
  const char* data = std::getenv("TRAVOSK_DATA");
  ASSERT_NE(data, nullptr);
  // A PS1 save, and the demo card without it to put it back on.
  const std::string save = dir.File("save.PS1");
  const std::string demo = Copy(std::string(data) + "/demo-ps1.mcr", dir.File("demo.mcr"));
  const auto saved = RunCli({"ps1", "backup", "1", save, "--image", demo}, dir.path());
  ASSERT_EQ(saved.code, 0) << saved.err;
  const auto deleted = RunCli({"ps1", "delete", "1", "--yes", "--image", demo}, dir.path());
  ASSERT_EQ(deleted.code, 0) << deleted.err;

  struct Case {
    std::string image;
    sim::MediumKind kind;
    std::vector<std::string> args;
    bool writes_file = false;
  };
  const std::vector<Case> cases = {
      {kPeer + "peer_card.ps2", sim::MediumKind::kPS2, {"ls"}},
      {kPeer + "peer_holes.ps2",
       sim::MediumKind::kPS2,
       {"restore", kPeer + "BISLPS-60003GAMMA.psu"}},
      {kPeer + "peer_card.ps2",
       sim::MediumKind::kPS2,
       {"backup", "BESLES-60001ALPHA", "OUT.psu"},
       true},
      {kPeer + "peer_card.ps2", sim::MediumKind::kPS2, {"delete", "BASLUS-60002BETA", "--yes"}},
      {demo, sim::MediumKind::kPS1, {"ps1", "restore", save}},
  };
  int port = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const std::string tag = std::to_string(port);
    const std::string usb_image = Copy(c.image, dir.File("usb" + tag));
    const std::string file_image = Copy(c.image, dir.File("file" + tag));
    const std::string before = Slurp(usb_image);
    auto usb_args = c.args, file_args = c.args;
    if (c.writes_file) {
      usb_args.back() = dir.File("usb" + tag + ".psu");
      file_args.back() = dir.File("file" + tag + ".psu");
    }
    file_args.insert(file_args.end(), {"--image", file_image});

    Card card(usb_image, c.kind);
    const std::string syspath = bed.Add(card.adapter, {.port = port++});
    const auto through_usb = RunCli(usb_args, dir.path());
    const auto on_image = RunCli(file_args, dir.path());
    EXPECT_EQ(through_usb.code, 0) << through_usb.err;
    EXPECT_EQ(on_image.code, 0) << on_image.err;
    // An image names its file format after the listing; a card in an adapter has none.
    std::string image_out = on_image.out;
    if (const auto at = image_out.find("image format: "); at != std::string::npos)
      image_out.erase(at);
    EXPECT_EQ(through_usb.out, image_out);
    const auto medium = card.adapter.card()->bytes();
    const std::string after(medium.begin(), medium.end());
    EXPECT_EQ(after, Slurp(file_image));
    EXPECT_EQ(after != before, c.args[0] != "ls" && c.args[0] != "backup");
    if (c.writes_file) {
      EXPECT_TRUE(Slurp(dir.File("usb" + tag + ".psu")) == Slurp(dir.File("file" + tag + ".psu")));
      EXPECT_GT(Slurp(dir.File("usb" + tag + ".psu")).size(), 1000u);
    }
    if (c.args[0] == "ls") {
      EXPECT_NE(through_usb.out.find("BISLPS-60003GAMMA"), std::string::npos) << through_usb.out;
    }
    bed.Remove(syspath);
  }
}

// The adapter pulled out at the first transaction that would change the
// card: the command fails with a link fault, soon, and the card is as it was.
TEST_F(UsbTest, RemovalBeforeTheCommitLeavesTheCardUnchanged) {
  const std::string clean_image = Copy(kPeer + "peer_holes.ps2", dir.File("clean.ps2"));
  const std::vector<std::string> args = {"restore", kPeer + "BISLPS-60003GAMMA.psu"};
  uint64_t first_change = 0;
  {
    Card card(clean_image, sim::MediumKind::kPS2);
    const std::string syspath = bed.Add(card.adapter, {.port = 2});
    ASSERT_EQ(RunCli(args, dir.path()).code, 0);
    ASSERT_TRUE(card.adapter.counters().first_change.has_value());
    first_change = *card.adapter.counters().first_change;
    bed.Remove(syspath);
  }
  const std::string image = Copy(kPeer + "peer_holes.ps2", dir.File("pulled.ps2"));
  const std::string before = Slurp(image);
  Card card(image, sim::MediumKind::kPS2);
  bed.Add(card.adapter, {.port = 3});
  card.adapter.UnplugAfter(first_change);
  const auto start = std::chrono::steady_clock::now();
  const auto pulled = RunCli(args, dir.path());
  EXPECT_EQ(pulled.code, 1) << pulled.out << pulled.err;
  EXPECT_NE(pulled.err, "hung");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
  const auto medium = card.adapter.card()->bytes();
  EXPECT_TRUE(std::string(medium.begin(), medium.end()) == before)
      << "first change " << first_change << ", transactions "
      << card.adapter.counters().transactions << "\n"
      << pulled.err;
}

}  // namespace
}  // namespace travosk::usbtest
