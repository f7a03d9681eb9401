// Blank and freshly formatted cards: the PS1 header block a format writes,
// and new card images in every layout.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/errors.h"
#include "formats/images.h"
#include "manager/newcard.h"
#include "ps1_rig.h"

namespace travosk::manager::testing {
namespace {

namespace fs = std::filesystem;

std::span<const uint8_t> FrameOf(const std::vector<uint8_t>& card, int f) {
  return std::span<const uint8_t>(card).subspan(size_t{kPS1FrameBytes} * f, kPS1FrameBytes);
}

// Every fact of a formatted card, frame by frame.
void ExpectFormattedHeaderBlock(const std::vector<uint8_t>& card) {
  ASSERT_GE(card.size(), size_t{kPS1BlockBytes});
  EXPECT_EQ(card[0], 'M');
  EXPECT_EQ(card[1], 'C');
  EXPECT_EQ(card[127], 0x0E);
  for (int f = 0; f < kPS1FramesPerBlock; ++f) {
    const auto frame = FrameOf(card, f);
    EXPECT_TRUE(ChecksumValid(frame)) << "frame " << f;
    if (f >= 1 && f <= 15) {
      EXPECT_EQ(frame[0], 0xA0) << f;
      EXPECT_EQ(load_le32(frame, 4), 0u) << f;
      EXPECT_EQ(load_le16(frame, 8), 0xFFFF) << f;
    } else if (f >= 16 && f <= 35) {
      EXPECT_EQ(load_le32(frame, 0), 0xFFFFFFFFu) << f;
      EXPECT_EQ(load_le16(frame, 8), 0xFFFF) << f;
    } else if (f >= 36 && f <= 62) {
      EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 0; })) << f;
    } else if (f == 63) {
      EXPECT_TRUE(std::equal(frame.begin(), frame.end(), card.begin())) << "write-test frame";
    }
  }
}

TEST(PS1Format, FormattedCardHasEveryFrameOfTheHeaderBlock) {
  const auto card = FormattedPS1Card();
  ASSERT_EQ(card.size(), size_t{kPS1CardBytes});
  ExpectFormattedHeaderBlock(card);
  EXPECT_TRUE(std::all_of(card.begin() + kPS1BlockBytes, card.end(), [](uint8_t b) { return b == 0; }));
}

TEST(PS1Format, FormatWritesTheHeaderBlockInSixtyFourStepsAndTakesASaveAfter) {
  PS1Rig rig;
  rig.PlaceSave({0, 1}, "BESLES-00001OLD");
  const auto before = rig.Snapshot();
  std::vector<int> steps;
  rig.mgr.Onbarprocess = [&](int& max, int&, int& process, bool&) {
    EXPECT_EQ(max, 63);
    steps.push_back(process);
  };
  ASSERT_TRUE(rig.mgr.FormatPS1Card());
  rig.mgr.Onbarprocess = nullptr;
  EXPECT_EQ(steps.size(), 65u);  // the start, then one a frame
  EXPECT_EQ(steps.back(), 64);
  const auto after = rig.Snapshot();
  ExpectFormattedHeaderBlock(after);
  EXPECT_TRUE(std::equal(after.begin() + kPS1BlockBytes, after.end(), before.begin() + kPS1BlockBytes));
  ASSERT_TRUE(rig.mgr.ScanPS1());
  EXPECT_TRUE(rig.mgr.PS1Card.Formatted);
  for (int e = 0; e < kPS1Entries; ++e) EXPECT_TRUE(rig.mgr.PS1Card.Items[e].NotInUse) << e;

  // The formatted card takes a save, as a console's would.
  formats::Ps1Save save;
  save.frame.fill(0);
  save.frame[ps1dir::kState] = ps1state::kFirst;
  store_le32(save.frame, ps1dir::kSize, kPS1BlockBytes);
  store_le16(save.frame, ps1dir::kLink, kPS1LastLink);
  const std::string name = "BESLES-00002NEW";
  std::copy(name.begin(), name.end(), save.frame.begin() + ps1dir::kName);
  save.blocks.assign(kPS1BlockBytes, 0x5A);
  ASSERT_TRUE(rig.mgr.DownloadPS1Saver(save)) << rig.mgr.LastError();
  EXPECT_EQ(rig.Block(0), save.blocks);
}

TEST(PS1Format, AScanTellsAnUnformattedCard) {
  PS1Rig rig;
  ASSERT_TRUE(rig.mgr.ScanPS1());
  EXPECT_TRUE(rig.mgr.PS1Card.Formatted);
  std::fill(rig.Card().begin(), rig.Card().begin() + kPS1BlockBytes, 0);
  ASSERT_TRUE(rig.mgr.ScanPS1());
  EXPECT_FALSE(rig.mgr.PS1Card.Formatted);
}

TEST(NewCardImage, EveryLayoutIsFormattedAndIdentifiedAsItself) {
  support::TempDir dir;
  using F = formats::ImageFormat;
  struct Case {
    const char* name;
    F layout;
    int megabytes;
    uint64_t bytes;
    uint64_t header;
  };
  for (const Case& c : {Case{"a.ps2", F::kPs2Raw, 8, 8650752, 0},
                        Case{"b.ps2", F::kPs2Raw, 16, 17301504, 0},
                        Case{"c.bin", F::kPs2NoEcc, 8, 8388608, 0},
                        Case{"d.mcr", F::kPs1Raw, 8, 131072, 0},
                        Case{"e.gme", F::kPs1Gme, 8, 131072 + 3904, 3904},
                        Case{"f.vgs", F::kPs1Vgs, 8, 131072 + 64, 64}}) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    CreateCardImage(path, c.layout, c.megabytes);
    ASSERT_EQ(fs::file_size(path), c.bytes);
    const auto kind = formats::IdentifyImageFile(path);
    ASSERT_TRUE(kind);
    EXPECT_EQ(kind->format, c.layout);
    const auto bytes = ReadFile(path);
    if (formats::IsPs1Image(c.layout)) {
      ExpectFormattedHeaderBlock(std::vector<uint8_t>(bytes.begin() + c.header, bytes.end()));
    } else {
      EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 28), "Sony PS2 Memory Card Format ");
      EXPECT_EQ(load_le32(bytes, 0x30), uint32_t(c.megabytes) * 1024);  // clusters
    }
  }
  // Nothing but the images is left beside them.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 6);
}

TEST(NewCardImage, AnExistingFileIsReplacedOnlyWhenAsked) {
  support::TempDir dir;
  const std::string path = dir.File("notes.mcr");
  WriteFile(path, {'k', 'e', 'e', 'p'});
  EXPECT_THROW(CreateCardImage(path, formats::ImageFormat::kPs1Raw), InOutError);
  EXPECT_EQ(ReadFile(path), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_THROW(CreateCardImage(dir.File("x.ps2"), formats::ImageFormat::kPs2Raw, 24), InOutError);
  EXPECT_THROW(CreateCardImage(dir.File("x.vmp"), formats::ImageFormat::kPs1Vmp), InOutError);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  CreateCardImage(path, formats::ImageFormat::kPs1Raw, 8, true);
  EXPECT_EQ(ReadFile(path), FormattedPS1Card());
}

}  // namespace
}  // namespace travosk::manager::testing
