// ".max" saves: the golden files of an independent tool read back into the
// files that went into them, our writer lays the body out as that tool does,
// and damaged or hostile files are refused whole.
#include "formats/max.h"

#include <gtest/gtest.h>

#include <random>

#include "common/errors.h"
#include "formats/files.h"
#include "formats/lzari.h"
#include "formats/psu.h"
#include "peer_files.h"

namespace travosk::formats {
namespace {

using testing::PeerFolder;
using testing::PeerSave;
using testing::ReadAll;

constexpr std::time_t kWhen = 1700000000;

void ExpectFiles(const Ps2Save& save, const std::string& folder) {
  const auto expected = PeerSave(folder);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(save.Name(), folder);
  ASSERT_EQ(save.files.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(save.files[i].Name(), expected[i].name);
    const Bytes got = save.files[i].Content();
    EXPECT_TRUE(
        std::equal(got.begin(), got.end(), expected[i].bytes.begin(), expected[i].bytes.end()))
        << folder << "/" << expected[i].name;
  }
}

TEST(MaxFormat, GoldenFilesReadAsTheManifestAndWriteTheSameLayout) {
  if (PeerFolder().empty()) GTEST_SKIP() << "no golden files";
  for (const std::string folder : {"BESLES-60001ALPHA", "BASLUS-60002BETA"}) {
    const auto golden = ReadAll(PeerFolder() + "/" + folder + ".max");
    const Ps2Save save = ReadPs2Save(golden, folder + ".max");
    ExpectFiles(save, folder);

    // Ours: the same header fields and, inflated, the very same body.
    const auto ours = WriteMax(save);
    EXPECT_TRUE(std::equal(golden.begin(), golden.begin() + 0x50, ours.begin(), ours.begin() + 0x50,
                           [](uint8_t, uint8_t) { return true; }));
    for (size_t at : {0x00u, 0x10u, 0x30u}) {
      const size_t n = at == 0 ? 12 : 32;
      EXPECT_TRUE(std::equal(golden.begin() + at, golden.begin() + at + n, ours.begin() + at))
          << folder << " header at " << at;
    }
    EXPECT_EQ(load_le32(ours, 0x54), load_le32(golden, 0x54));
    EXPECT_EQ(load_le32(ours, 0x58), load_le32(golden, 0x58));
    EXPECT_EQ(load_le32(ours, 0x50) + 0x58u, ours.size());
    std::vector<uint8_t> zeroed = ours;
    std::fill_n(zeroed.begin() + 12, 4, 0);
    EXPECT_EQ(Crc32(zeroed), load_le32(ours, 12));
    const auto golden_body = LzariDecompress(Bytes(golden).subspan(0x5C), load_le32(golden, 0x58));
    const auto our_body = LzariDecompress(Bytes(ours).subspan(0x5C), load_le32(ours, 0x58));
    EXPECT_EQ(our_body, golden_body) << folder;
  }
}

TEST(MaxFormat, PsuToMaxToPsuKeepsEveryFileByte) {
  if (PeerFolder().empty()) GTEST_SKIP() << "no golden files";
  for (const std::string folder : {"BESLES-60001ALPHA", "BASLUS-60002BETA", "BISLPS-60003GAMMA"}) {
    const std::string path = PeerFolder() + "/" + folder + ".psu";
    const auto psu = ReadPsu(ReadAll(path), path);
    const auto max = WriteMax(psu);
    const auto back = ReadMax(max, "x.max", kWhen);
    ExpectFiles(back, folder);
    const auto again = ReadPsu(WritePsu(back), "x.psu");
    ExpectFiles(again, folder);
  }
}

TEST(Lzari, RoundTripsWhatMatchesAndWhatDoesNot) {
  std::mt19937 rng(7);
  std::vector<uint8_t> noise(70000), text;
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  for (int i = 0; text.size() < 200000; ++i) {
    const std::string line = "line " + std::to_string(i % 97) + "    of a save\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  for (const auto* input : {&noise, &text}) {
    const auto packed = LzariCompress(*input);
    EXPECT_EQ(LzariDecompress(packed, input->size()), *input);
  }
  EXPECT_LT(LzariCompress(text).size(), text.size() / 8);
  EXPECT_TRUE(LzariDecompress({}, 0).empty());
}

// A small save's .max, with `edit` applied and the CRC made right again.
std::vector<uint8_t> Damaged(const std::function<void(std::vector<uint8_t>&)>& edit,
                             bool fix_crc = true) {
  Ps2Save save = MakeSave("BASLUS-20001MAX", kWhen);
  std::vector<uint8_t> data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  AddFile(save, MakeFile(MakeEntry(kFileMode, 5000, "DATA", kWhen), data));
  auto file = WriteMax(save);
  edit(file);
  if (fix_crc && file.size() >= 16) {
    std::fill_n(file.begin() + 12, 4, 0);
    store_le32(file, 12, Crc32(file));
  }
  return file;
}

TEST(MaxFormat, HostileFilesAreRefusedWhole) {
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
  };
  const std::vector<Case> cases = {
      {"bad magic", Damaged([](auto& f) { f[0] = 'X'; }, false)},
      {"bad CRC", Damaged([](auto& f) { f[0x70] ^= 1; }, false)},
      {"cut short", Damaged([](auto& f) { f.resize(f.size() - 10); })},
      {"header alone", Damaged([](auto& f) { f.resize(0x40); }, false)},
      {"compressed length past the end", Damaged([](auto& f) { store_le32(f, 0x50, 0x7FFFFFFF); })},
      {"body claims 4 GB", Damaged([](auto& f) { store_le32(f, 0x58, 0xFFFFFFFF); })},
      {"body claims more than a card", Damaged([](auto& f) { store_le32(f, 0x58, 65 << 20); })},
      {"more files than the body holds", Damaged([](auto& f) { store_le32(f, 0x54, 1000); })},
      {"file count 0xFFFFFFFF", Damaged([](auto& f) { store_le32(f, 0x54, 0xFFFFFFFF); })},
      {"stream cut, length kept", Damaged([](auto& f) {
         f.resize(0x5C + 20);
         store_le32(f, 0x50, 24);
       })},
      {"no folder name", Damaged([](auto& f) { f[0x10] = 0; })},
      // A bomb: a tiny stream announced as a whole card's worth.
      {"small body announced as 60 MB", Damaged([](auto& f) { store_le32(f, 0x58, 60 << 20); })},
  };
  for (const auto& c : cases) {
    bool refused = false;
    try {
      (void)ReadPs2Save(c.file, "hostile.max");
    } catch (const FormatError& e) {
      refused = std::string(e.what()).size() > 0;
    } catch (const InOutError&) {
      refused = true;
    }
    EXPECT_TRUE(refused) << c.name;
  }
}

}  // namespace
}  // namespace travosk::formats
