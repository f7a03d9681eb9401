#include "sim/medium.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/errors.h"
#include "sim_test_util.h"

namespace travosk::sim {
namespace {

using testing::ScratchDir;

bool AllBytes(std::span<const uint8_t> b, uint8_t v) {
  return std::all_of(b.begin(), b.end(), [v](uint8_t x) { return x == v; });
}

TEST(Medium, BlankImagesHaveTheirKindsSizeAndContents) {
  ScratchDir dir;
  Medium::CreateBlank(dir.File("ps2"), MediumKind::kPS2);
  auto ps2 = Medium::Open(dir.File("ps2"), MediumKind::kPS2);
  EXPECT_EQ(ps2->bytes().size(), kPS2CardBytes);
  EXPECT_EQ(ps2->pages(), 16384u);
  EXPECT_EQ(ps2->pages_per_block(), 16u);
  EXPECT_TRUE(AllBytes(ps2->bytes(), 0xFF));

  Medium::CreateBlank(dir.File("ps2-16"), MediumKind::kPS2, 16);
  EXPECT_EQ(Medium::Open(dir.File("ps2-16"), MediumKind::kPS2)->pages(), 32768u);

  Medium::CreateBlank(dir.File("ps1"), MediumKind::kPS1);
  auto ps1 = Medium::Open(dir.File("ps1"), MediumKind::kPS1);
  EXPECT_EQ(ps1->bytes().size(), kPS1CardBytes);
  EXPECT_TRUE(AllBytes(ps1->bytes(), 0x00));

  const std::pair<int, uint8_t> sizes[] = {
      {4, 0xE5}, {8, 0xE6}, {16, 0x73}, {32, 0x75}, {64, 0x76}};
  for (auto [mb, code] : sizes) {
    const auto name = dir.File("sm" + std::to_string(mb));
    Medium::CreateBlank(name, MediumKind::kSmartMedia, mb);
    auto sm = Medium::Open(name, MediumKind::kSmartMedia);
    const auto* g = SmartMediaBySize(mb);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(sm->pages(), g->pages);
    EXPECT_EQ(uint64_t(sm->pages()) * 512, uint64_t(mb) * 1024 * 1024);
    EXPECT_EQ(sm->pages_per_block(), mb <= 8 ? 16u : 32u);
    EXPECT_EQ(sm->device_code(), code);
    EXPECT_EQ(SmartMediaByImageBytes(sm->bytes().size()), g);
    EXPECT_TRUE(AllBytes(sm->bytes(), 0xFF));
  }
  EXPECT_EQ(SmartMediaBySize(2), nullptr);
  EXPECT_THROW(Medium::CreateBlank(dir.File("x"), MediumKind::kSmartMedia, 128), InOutError);
  EXPECT_THROW(Medium::CreateBlank(dir.File("x"), MediumKind::kPS2, 0), InOutError);
  EXPECT_FALSE(std::filesystem::exists(dir.File("x")));
}

TEST(Medium, OpenRefusesImagesOfTheWrongSizeOrMissing) {
  ScratchDir dir;
  auto make = [&](const std::string& name, size_t bytes) {
    std::ofstream(dir.File(name), std::ios::binary) << std::string(bytes, '\xFF');
    return dir.File(name);
  };
  EXPECT_THROW(Medium::Open(dir.File("missing"), MediumKind::kPS2), InOutError);
  EXPECT_THROW(Medium::Open(make("empty", 0), MediumKind::kPS2), InOutError);
  EXPECT_THROW(Medium::Open(make("half-block", 528 * 8), MediumKind::kPS2), InOutError);
  EXPECT_THROW(Medium::Open(make("ps1-short", 131071), MediumKind::kPS1), InOutError);
  EXPECT_THROW(Medium::Open(make("sm-odd", 528 * 100), MediumKind::kSmartMedia), InOutError);
  EXPECT_THROW(Medium::Open(dir.path().string(), MediumKind::kPS2), InOutError);
  try {
    Medium::Open(dir.File("missing"), MediumKind::kPS1);
  } catch (const InOutError& e) {
    EXPECT_EQ(e.file(), dir.File("missing"));
    EXPECT_FALSE(e.reason().empty());
  }
  // One erase block is the smallest PS2 image.
  EXPECT_EQ(Medium::Open(make("one-block", 528 * 16), MediumKind::kPS2)->pages(), 16u);
}

TEST(Medium, ChangesPersistInTheImageFile) {
  ScratchDir dir;
  const auto name = dir.File("card.ps2");
  Medium::CreateBlank(name, MediumKind::kPS2);
  {
    auto m = Medium::Open(name, MediumKind::kPS2);
    m->bytes()[0] = 0x12;
    m->bytes()[kPS2CardBytes - 1] = 0x34;
  }
  auto again = Medium::Open(name, MediumKind::kPS2);
  EXPECT_EQ(again->bytes()[0], 0x12);
  EXPECT_EQ(again->bytes()[kPS2CardBytes - 1], 0x34);
  EXPECT_EQ(again->bytes()[1], 0xFF);

  // A fresh blank replaces the image whole.
  Medium::CreateBlank(name, MediumKind::kPS1);
  EXPECT_EQ(std::filesystem::file_size(name), kPS1CardBytes);
}

}  // namespace
}  // namespace travosk::sim
