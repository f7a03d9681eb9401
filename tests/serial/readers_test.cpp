// Each serial PS1 card reader, emulated by its board's firmware behind a
// USB-serial bridge, driven through the command line as a user drives it:
// detection, an empty slot, whole-card transfers, saves, garbled frames, a
// board unplugged in the middle of a write, and a port where something else
// answers. Results are judged by the bytes of the emulated card.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "cli/run_cli.h"
#include "common/bytes.h"
#include "manager/ps1card.h"
#include "serial/ps1_saves.h"
#include "serial/serial_testbed.h"
#include "sim/ps1readers.h"

namespace travosk {
namespace {

namespace fs = std::filesystem;
using serialtest::CheckedSaves;
using serialtest::ReadBytes;
using serialtest::TwoSaves;
using serialtest::WriteBytes;
using sim::ReaderKind;

struct Kind {
  ReaderKind kind;
  const char* name;
};

class ReaderTest : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("travosk-readers-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "devices");
    ::setenv("TRAVOSK_DEVICE_ROOT", (dir_ / "devices").c_str(), 1);
    port_ = bed_.Add(firmware_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  testing::Result Cli(std::vector<std::string> args, bool with_reader = true) {
    if (with_reader) args.insert(args.begin(), {"--reader", port_});
    return testing::RunCli(args, (dir_ / "work").string());
  }
  // Changes the board's state while its firmware does not run.
  template <class F>
  void Board(F change) {
    std::lock_guard lock(bed_.mutex());
    change(firmware_);
  }
  std::vector<uint8_t> CardNow() {
    std::lock_guard lock(bed_.mutex());
    return card_;
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::vector<uint8_t> card_ = TwoSaves();
  sim::ReaderFirmware firmware_{GetParam().kind, &card_};
  serialtest::SerialTestbed bed_;
  fs::path dir_;
  std::string port_;
};

TEST_P(ReaderTest, IsFoundAndTellsAnEmptySlot) {
  auto r = Cli({"devices"}, false);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("reader " + port_ + ": " + GetParam().name), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("card slot: PS1 card"), std::string::npos) << r.out;
  r = Cli({"ps1", "ls"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("BESLES-01000ALPHA"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("BESLES-02000BRAVO"), std::string::npos) << r.out;

  Board([](sim::ReaderFirmware& f) { f.Insert(nullptr); });
  r = Cli({"devices", "--json"});
  EXPECT_NE(r.out.find("\"card\": \"empty\""), std::string::npos) << r.out;
  r = Cli({"ps1", "ls"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no card in " + std::string(GetParam().name)), std::string::npos) << r.err;
}

TEST_P(ReaderTest, CopiesTheWholeCardBothWaysAtTheFloorOfTheWire) {
  auto r = Cli({"ps1", "dump", Path("card.mcr")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(Path("card.mcr")), CardNow());
  // One request per frame and no frame twice: the probe, the slot check and
  // the frames' requests and replies, within a tenth of the frames alone.
  const bool dex = GetParam().kind == ReaderKind::kDexDrive;
  const uint64_t read_floor = 1024u * (dex ? 6 + 133 : 3 + 130);
  Board([&](sim::ReaderFirmware& f) {
    EXPECT_LE(f.bytes_in + f.bytes_out, read_floor * 11 / 10);
    // A MemCARDuino board's slot check reads frame 0; the DexDrive says.
    EXPECT_EQ(f.frames_read, dex ? 1024u : 1025u);
    f.bytes_in = f.bytes_out = 0;
  });

  std::vector<uint8_t> other = manager::FormattedPS1Card();
  for (size_t i = 8192; i < other.size(); ++i) other[i] = static_cast<uint8_t>(i * 13);
  WriteBytes(Path("other.mcr"), other);
  r = Cli({"--yes", "ps1", "write", Path("other.mcr")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(CardNow(), other);
  const uint64_t write_floor = 1024u * (dex ? 137 + 4 : 132 + 1);
  Board(
      [&](sim::ReaderFirmware& f) { EXPECT_LE(f.bytes_in + f.bytes_out, write_floor * 11 / 10); });
}

TEST_P(ReaderTest, BacksUpDeletesAndRestoresASave) {
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

TEST_P(ReaderTest, AGarbledFrameIsAskedForAgainThenNamed) {
  Board([](sim::ReaderFirmware& f) { f.faults.corrupt_reads = 2; });
  auto r = Cli({"ps1", "dump", Path("card.mcr")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(Path("card.mcr")), CardNow());

  // A directory that does not read cleanly stops the restore before it
  // writes anything.
  Cli({"ps1", "backup", "2", Path("bravo.mcs")});
  Cli({"--yes", "ps1", "delete", "2"});
  const auto card = CardNow();
  Board([](sim::ReaderFirmware& f) {
    f.faults.corrupt_reads = 1000;
    f.frames_written = 0;
  });
  r = Cli({"ps1", "restore", Path("bravo.mcs")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("frame"), std::string::npos) << r.err;
  EXPECT_EQ(CardNow(), card);
  Board([](sim::ReaderFirmware& f) {
    EXPECT_EQ(f.frames_written, 0u);
    f.faults.corrupt_reads = 0;
  });

  if (GetParam().kind == ReaderKind::kDexDrive) return;  // the drive has no refusal of a write
  // A frame write refused for its checksum (4E) is sent again.
  Board([](sim::ReaderFirmware& f) { f.faults.garble_writes = 2; });
  r = Cli({"ps1", "restore", Path("bravo.mcs")});
  ASSERT_EQ(r.code, 0) << r.err;
  auto now = CardNow();
  EXPECT_EQ(CheckedSaves(now).count("BESLES-02000BRAVO"), 1u);
}

TEST_P(ReaderTest, UnpluggedInTheMiddleOfAWriteLeavesTheOldOrTheNewSave) {
  Cli({"ps1", "backup", "2", Path("bravo.mcs")});
  Cli({"--yes", "ps1", "delete", "2"});
  const std::vector<uint8_t> base = CardNow();
  std::vector<uint8_t> fresh = TwoSaves();
  const auto whole = CheckedSaves(fresh).at("BESLES-02000BRAVO");
  // Before the first frame, inside the data, and at the directory frames.
  for (int writes : {0, 70, 128, 129}) {
    SCOPED_TRACE(writes);
    Board([&](sim::ReaderFirmware& f) {
      card_ = base;
      f.Replug();
      f.faults.silent_after_writes = writes;
    });
    auto r = Cli({"ps1", "restore", Path("bravo.mcs")});
    EXPECT_EQ(r.code, 1);
    Board([](sim::ReaderFirmware& f) { f.Replug(); });
    auto card = CardNow();
    const auto saves = CheckedSaves(card);
    if (saves.count("BESLES-02000BRAVO")) {
      EXPECT_EQ(saves.at("BESLES-02000BRAVO"), whole);
    }
    EXPECT_EQ(saves.count("BESLES-01000ALPHA"), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Readers, ReaderTest,
                         ::testing::Values(Kind{ReaderKind::kMemCARDuino, "MemCARDuino"},
                                           Kind{ReaderKind::kPS1CardLink, "PS1CardLink"},
                                           Kind{ReaderKind::kDexDrive, "DexDrive"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OtherDevice, OnThePortIsNoReader) {
  const fs::path dir = fs::temp_directory_path() / ("travosk-modem-" + std::to_string(::getpid()));
  fs::create_directories(dir / "devices");
  ::setenv("TRAVOSK_DEVICE_ROOT", (dir / "devices").c_str(), 1);
  serialtest::SerialTestbed bed;
  sim::ReaderFirmware modem(ReaderKind::kModem, nullptr);
  const std::string port = bed.Add(modem);
  auto r = testing::RunCli({"--reader", port, "ps1", "ls"}, (dir / "work").string());
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no PS1 card reader answers on \"" + port + "\""), std::string::npos)
      << r.err;
  r = testing::RunCli({"devices"}, (dir / "work").string());
  EXPECT_NE(r.out.find("reader " + port + ": no PS1 card reader answers"), std::string::npos)
      << r.out;
  fs::remove_all(dir);
}

TEST(ReaderSlots, APS1CardLinkIsTurnedToTheSlotNamedAndOtherReadersHaveOne) {
  const fs::path dir = fs::temp_directory_path() / ("travosk-slots-" + std::to_string(::getpid()));
  fs::create_directories(dir / "devices");
  ::setenv("TRAVOSK_DEVICE_ROOT", (dir / "devices").c_str(), 1);
  const std::string work = (dir / "work").string();
  std::vector<uint8_t> first = TwoSaves();
  std::vector<uint8_t> second = manager::FormattedPS1Card();
  for (size_t i = 8192; i < second.size(); ++i) second[i] = static_cast<uint8_t>(i * 29);
  const std::vector<uint8_t> first_before = first, second_before = second;
  serialtest::SerialTestbed bed;
  sim::ReaderFirmware cardlink(ReaderKind::kPS1CardLink, &first);
  cardlink.InsertSecond(&second);
  sim::ReaderFirmware duino(ReaderKind::kMemCARDuino, &first);
  const std::string link_port = bed.Add(cardlink), duino_port = bed.Add(duino);

  auto r = testing::RunCli(
      {"--reader", link_port, "--reader-slot", "2", "ps1", "dump", (dir / "2.mcr").string()}, work);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "2.mcr"), second_before);
  // The console keeps its slot: a command without one turns it back to 1.
  r = testing::RunCli({"--reader", link_port, "ps1", "dump", (dir / "1.mcr").string()}, work);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "1.mcr"), first_before);
  r = testing::RunCli({"--reader", link_port, "--reader-slot", "2", "--yes", "ps1", "write",
                       (dir / "1.mcr").string()},
                      work);
  ASSERT_EQ(r.code, 0) << r.err;
  {
    std::lock_guard lock(bed.mutex());
    EXPECT_EQ(second, first_before);
    EXPECT_EQ(first, first_before);
  }

  r = testing::RunCli({"--reader", duino_port, "--reader-slot", "2", "ps1", "ls"}, work);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("MemCARDuino 0.8 on " + duino_port + " has one card slot"),
            std::string::npos)
      << r.err;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace travosk
