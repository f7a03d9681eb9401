// The PS3 memory card adaptor, emulated by its firmware behind the adaptor's
// USB descriptors on umockdev's test bed (tests/usb), driven through the
// command line as a user drives it: detection with a PS1 card, none and a PS2
// card, whole-card transfers, saves, garbled frames and the adaptor pulled
// out in the middle of a write. Results are judged by the bytes of the card.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/run_cli.h"
#include "manager/ps1card.h"
#include "serial/ps1_saves.h"
#include "sim/ps3adaptor.h"
#include "usb/usb_testbed.h"

namespace travosk {
namespace {

namespace fs = std::filesystem;
using serialtest::CheckedSaves;
using serialtest::ReadBytes;
using serialtest::TwoSaves;
using serialtest::WriteBytes;
using sim::AdaptorCard;
using sim::AdaptorFirmware;

constexpr const char* kPath = "usb:1-2";
constexpr const char* kAny = "usb:054c:02ea";

class PS3AdaptorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("travosk-ps3-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "devices");
    ::setenv("TRAVOSK_DEVICE_ROOT", (dir_ / "devices").c_str(), 1);
    usbtest::UsbDeviceSetup setup;
    setup.vendor = sim::kPS3AdaptorVendor;
    setup.product = sim::kPS3AdaptorProduct;
    setup.version = 0x0100;
    setup.manufacturer = "Sony";
    setup.product_name = "Memory Card Adaptor";
    setup.serial.clear();
    // Full speed: 64-byte packets, the bulk pair and an interrupt endpoint.
    setup.endpoints = {{0x81, 2, 64}, {0x02, 2, 64}, {0x83, 3, 8}};
    syspath_ = bed_.Add(function_, setup);
  }
  void TearDown() override { fs::remove_all(dir_); }

  testing::Result Cli(std::vector<std::string> args, const std::string& reader = kAny) {
    if (!reader.empty()) args.insert(args.begin(), {"--reader", reader});
    return testing::RunCli(args, (dir_ / "work").string());
  }
  template <class F>
  void Adaptor(F change) {
    auto hold = bed_.Hold(syspath_);
    change(firmware_);
  }
  std::vector<uint8_t> CardNow() {
    auto hold = bed_.Hold(syspath_);
    return card_;
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::vector<uint8_t> card_ = TwoSaves();
  AdaptorFirmware firmware_{AdaptorCard::kPS1, &card_};
  usbtest::FunctionOf<AdaptorFirmware> function_{firmware_};
  usbtest::UsbTestbed bed_;
  std::string syspath_;
  fs::path dir_;
};

TEST_F(PS3AdaptorTest, IsFoundAndTellsWhatItsSlotHolds) {
  auto r = Cli({"devices"}, "");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find(std::string("reader ") + kPath + ": PS3 memory card adaptor on " + kPath +
                       "\n  card slot: PS1 card"),
            std::string::npos)
      << r.out;
  for (const char* name : {kAny, kPath}) {
    r = Cli({"ps1", "ls"}, name);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("BESLES-01000ALPHA"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("BESLES-02000BRAVO"), std::string::npos) << r.out;
  }
  r = Cli({"ps1", "ls"}, "usb:9-9");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no PS3 memory card adaptor at \"usb:9-9\""), std::string::npos) << r.err;

  Adaptor([](AdaptorFirmware& f) { f.Insert(AdaptorCard::kNone); });
  r = Cli({"devices", "--json"});
  EXPECT_NE(r.out.find("\"card\": \"empty\""), std::string::npos) << r.out;
  r = Cli({"ps1", "ls"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find(std::string("no card in PS3 memory card adaptor on ") + kPath),
            std::string::npos)
      << r.err;

  // A PS2 card is named and refused, and nothing is asked of it.
  const auto before = CardNow();
  Adaptor([](AdaptorFirmware& f) {
    f.Insert(AdaptorCard::kPS2);
    f.frames_read = f.frames_written = 0;
  });
  r = Cli({"--yes", "ps1", "delete", "2"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("is a PS2 card"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("authentication"), std::string::npos) << r.err;
  EXPECT_EQ(CardNow(), before);
  Adaptor([](AdaptorFirmware& f) { EXPECT_EQ(f.frames_read + f.frames_written, 0u); });
}

TEST_F(PS3AdaptorTest, CopiesTheWholeCardBothWaysAtOneRoundTripPerFrame) {
  auto r = Cli({"ps1", "dump", Path("card.mcr")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(Path("card.mcr")), CardNow());
  Adaptor([](AdaptorFirmware& f) {
    EXPECT_EQ(f.frames_read, 1024u);
    EXPECT_LE(f.bytes_in + f.bytes_out, 1024u * 2 * 144 * 11 / 10);
    f.bytes_in = f.bytes_out = 0;
  });

  std::vector<uint8_t> other = manager::FormattedPS1Card();
  for (size_t i = 8192; i < other.size(); ++i) other[i] = static_cast<uint8_t>(i * 13);
  WriteBytes(Path("other.mcr"), other);
  r = Cli({"--yes", "ps1", "write", Path("other.mcr")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(CardNow(), other);
  Adaptor(
      [](AdaptorFirmware& f) { EXPECT_LE(f.bytes_in + f.bytes_out, 1024u * 2 * 142 * 11 / 10); });
}

TEST_F(PS3AdaptorTest, BacksUpDeletesAndRestoresASave) {
  const auto before = CheckedSaves(card_);
  auto r = Cli({"ps1", "backup", "2", Path("bravo.mcs")});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Cli({"--yes", "ps1", "delete", "2"});
  ASSERT_EQ(r.code, 0) << r.err;
  auto card = CardNow();
  auto saves = CheckedSaves(card);
  EXPECT_EQ(saves.count("BESLES-02000BRAVO"), 0u);
  EXPECT_EQ(saves["BESLES-01000ALPHA"], before.at("BESLES-01000ALPHA"));

  r = Cli({"ps1", "restore", Path("bravo.mcs")});
  ASSERT_EQ(r.code, 0) << r.err;
  card = CardNow();
  EXPECT_EQ(CheckedSaves(card), before);
}

TEST_F(PS3AdaptorTest, AGarbledFrameIsReadAgainThenNamed) {
  Adaptor([](AdaptorFirmware& f) { f.faults.corrupt_reads = 2; });
  auto r = Cli({"ps1", "dump", Path("card.mcr")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(Path("card.mcr")), CardNow());

  // A directory that does not read cleanly stops the restore before it
  // writes anything.
  Cli({"ps1", "backup", "2", Path("bravo.mcs")});
  Cli({"--yes", "ps1", "delete", "2"});
  const auto card = CardNow();
  Adaptor([](AdaptorFirmware& f) {
    f.faults.corrupt_reads = 1000;
    f.frames_written = 0;
  });
  r = Cli({"ps1", "restore", Path("bravo.mcs")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("read with a bad checksum 3 times"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("frame "), std::string::npos) << r.err;
  EXPECT_EQ(CardNow(), card);
  Adaptor([](AdaptorFirmware& f) {
    EXPECT_EQ(f.frames_written, 0u);
    f.faults.corrupt_reads = 0;
    f.faults.garble_writes = 2;  // the card refuses two frames' checksums (4E): sent again
  });
  r = Cli({"ps1", "restore", Path("bravo.mcs")});
  ASSERT_EQ(r.code, 0) << r.err;
  auto now = CardNow();
  EXPECT_EQ(CheckedSaves(now).count("BESLES-02000BRAVO"), 1u);
}

TEST_F(PS3AdaptorTest, PulledOutInTheMiddleOfAWriteLeavesTheOldOrTheNewSave) {
  Cli({"ps1", "backup", "2", Path("bravo.mcs")});
  Cli({"--yes", "ps1", "delete", "2"});
  const std::vector<uint8_t> base = CardNow();
  std::vector<uint8_t> fresh = TwoSaves();
  const auto whole = CheckedSaves(fresh).at("BESLES-02000BRAVO");
  // Before the first frame, inside the data, and at the directory frames.
  for (int writes : {0, 70, 128, 129}) {
    SCOPED_TRACE(writes);
    Adaptor([&](AdaptorFirmware& f) {
      card_ = base;
      f.Replug();
      f.faults.unplug_after_writes = writes;
    });
    auto r = Cli({"ps1", "restore", Path("bravo.mcs")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("gone"), std::string::npos) << r.err;
    Adaptor([](AdaptorFirmware& f) { f.Replug(); });
    auto card = CardNow();
    const auto saves = CheckedSaves(card);
    if (saves.count("BESLES-02000BRAVO")) {
      EXPECT_EQ(saves.at("BESLES-02000BRAVO"), whole);
    }
    EXPECT_EQ(saves.count("BESLES-01000ALPHA"), 1u);
  }
}

}  // namespace
}  // namespace travosk
