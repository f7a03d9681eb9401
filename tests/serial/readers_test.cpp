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
#include "serial/serial_testbed.h"
#include "sim/ps1readers.h"

namespace travosk {
namespace {

namespace fs = std::filesystem;
using manager::kPS1BlockBytes;
using manager::kPS1FrameBytes;
using sim::ReaderKind;

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

uint8_t* Frame(std::vector<uint8_t>& card, int frame) {
  return card.data() + static_cast<size_t>(frame) * kPS1FrameBytes;
}

// A formatted card holding "BESLES-01000ALPHA" (entry 0) and the two-block
// "BESLES-02000BRAVO" (entries 1 and 2), every data byte from its position.
std::vector<uint8_t> TwoSaves() {
  std::vector<uint8_t> card = manager::FormattedPS1Card();
  auto place = [&](std::vector<int> entries, const std::string& name, uint8_t seed) {
    for (size_t i = 0; i < entries.size(); ++i) {
      uint8_t* dir = Frame(card, manager::PS1DirectoryFrameOf(entries[i]));
      std::fill_n(dir, kPS1FrameBytes, 0);
      dir[0] = i == 0 ? 0x51 : i + 1 == entries.size() ? 0x53 : 0x52;
      if (i == 0)
        store_le32(std::span<uint8_t>(dir, 128), 4,
                   static_cast<uint32_t>(entries.size() * kPS1BlockBytes));
      const uint16_t link = i + 1 < entries.size() ? static_cast<uint16_t>(entries[i + 1]) : 0xFFFF;
      store_le16(std::span<uint8_t>(dir, 128), 8, link);
      if (i == 0) std::copy(name.begin(), name.end(), dir + 10);
      manager::PS1Checksum(dir);
      uint8_t* block = card.data() + static_cast<size_t>(entries[i] + 1) * kPS1BlockBytes;
      for (int b = 0; b < kPS1BlockBytes; ++b)
        block[b] = static_cast<uint8_t>(seed + b * 7 + (b >> 8));
      if (i == 0) {
        block[0] = 'S';
        block[1] = 'C';
        block[2] = 0x11;
        block[3] = static_cast<uint8_t>(entries.size());
        const std::string title = name.substr(12);
        std::fill_n(block + 4, 92, 0);
        std::copy(title.begin(), title.end(), block + 4);
      }
    }
  };
  place({0}, "BESLES-01000ALPHA", 0x10);
  place({1, 2}, "BESLES-02000BRAVO", 0x20);
  return card;
}

// The card's directory as an independent reader takes it (formats.md): every
// directory frame's checksum holds, and every save's chain runs first,
// middle..., last through entries in use, each once, as long as its size
// says. Answers the saves, name by name, with their bytes.
std::map<std::string, std::vector<uint8_t>> CheckedSaves(std::vector<uint8_t>& card) {
  std::map<std::string, std::vector<uint8_t>> saves;
  for (int e = 0; e < 15; ++e) {
    const uint8_t* dir = Frame(card, e + 1);
    uint8_t x = 0;
    for (int i = 0; i < 127; ++i) x ^= dir[i];
    EXPECT_EQ(x, dir[127]) << "directory frame of entry " << e;
  }
  for (int e = 0; e < 15; ++e) {
    const uint8_t* dir = Frame(card, e + 1);
    if (dir[0] != 0x51) continue;
    const uint32_t size = dir[4] | dir[5] << 8 | dir[6] << 16 | static_cast<uint32_t>(dir[7]) << 24;
    std::string name(reinterpret_cast<const char*>(dir + 10));
    std::vector<uint8_t> bytes;
    std::vector<bool> seen(15);
    int at = e;
    for (;;) {
      EXPECT_FALSE(seen[at]) << name << ": its chain runs in a circle";
      if (seen[at]) break;
      seen[at] = true;
      const uint8_t* block = card.data() + static_cast<size_t>(at + 1) * kPS1BlockBytes;
      bytes.insert(bytes.end(), block, block + kPS1BlockBytes);
      const uint8_t* d = Frame(card, at + 1);
      const int link = d[8] | d[9] << 8;
      if (link == 0xFFFF) {
        EXPECT_TRUE(at == e ? d[0] == 0x51 : d[0] == 0x53) << name << ": chain end " << at;
        break;
      }
      EXPECT_LT(link, 15);
      if (link >= 15) break;
      EXPECT_EQ(Frame(card, link + 1)[0] & 0xF0, 0x50) << name << ": links to a free block";
      at = link;
    }
    EXPECT_EQ(size, bytes.size()) << name;
    saves[name] = bytes;
  }
  return saves;
}

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

}  // namespace
}  // namespace travosk
