// PS1 single saves in the layouts of other tools: each writer's file reads
// back to the same save through detection by content (whatever its name),
// the cheat devices' 54-byte header carries the name and an ASCII title, a
// raw file takes its name from the file's, and damaged files are refused.
#include "formats/ps1save.h"

#include <gtest/gtest.h>

#include "common/errors.h"
#include "formats/files.h"

namespace travosk::formats {
namespace {

Ps1Save TwoBlockSave() {
  Ps1Save save;
  save.frame = MakePs1Frame("BESLES-01234SAVE", 2);
  save.blocks.resize(2 * kPs1BlockBytes);
  for (size_t i = 0; i < save.blocks.size(); ++i) save.blocks[i] = static_cast<uint8_t>(i * 7);
  const uint8_t title[] = {'S', 'C', 0x11, 2, 0x82, 0x60, 0x82, 0x81, 0x81, 0x40, 0x82, 0x50, 0};
  std::copy(std::begin(title), std::end(title), save.blocks.begin());
  return save;
}

TEST(Ps1SaveFiles, EveryLayoutReadsBackByContent) {
  const Ps1Save save = TwoBlockSave();
  const struct {
    SaveFormat format;
    size_t header;
  } layouts[] = {{SaveFormat::kMcs, 128}, {SaveFormat::kPsx, 54}, {SaveFormat::kRaw, 0}};
  for (const auto& l : layouts) {
    const auto file = WritePs1Save(save, l.format);
    ASSERT_EQ(file.size(), l.header + save.blocks.size());
    // A misleading extension: the content decides (the raw file is named
    // by the path it is read from).
    EXPECT_EQ(DetectSaveFormat(file, "x.mcs"), l.format);
    const auto back = ReadPs1Save(file, "dir/BESLES-01234SAVE.raw");
    EXPECT_EQ(back.blocks, save.blocks);
    EXPECT_EQ(back.frame, save.frame) << FormatName(l.format);
  }
  // The header of the cheat devices: the name, its NUL, the title in ASCII.
  const auto psx = WritePsx(save);
  EXPECT_EQ(std::string(psx.begin(), psx.begin() + 17), std::string("BESLES-01234SAVE\0", 17));
  EXPECT_EQ(std::string(psx.begin() + 21, psx.begin() + 26), std::string("Aa 1\0", 5));

  // Names from paths, as far as a PS1 save name goes.
  EXPECT_EQ(Ps1NameFromPath("/a/BASLUS-00067DRACULA"), "BASLUS-00067DRACULA");
  EXPECT_EQ(Ps1NameFromPath("BASLUS-00067DRACULAXYZ.raw"), "BASLUS-00067DRACULAX");
  EXPECT_EQ(Ps1NameFromPath("B?SLUS*\x01.RAW"), "B_SLUS__");
  EXPECT_EQ(Ps1FormatForPath("BESLES-01234SAVE"), SaveFormat::kRaw);
  EXPECT_EQ(Ps1FormatForPath("x.MCB"), SaveFormat::kPsx);
  EXPECT_EQ(Ps1FormatForPath("save"), SaveFormat::kMcs);
}

TEST(Ps1SaveFiles, DamagedFilesAreRefused) {
  const auto psx = WritePsx(TwoBlockSave());
  const auto raw = WriteRawPs1(TwoBlockSave());
  auto bytes = [](const std::vector<uint8_t>& v, size_t n) {
    return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
  };
  std::vector<uint8_t> nameless = psx;
  nameless[0] = 0;
  std::vector<uint8_t> untitled = raw;
  untitled[0] = 'X';
  std::vector<uint8_t> sixteen(16 * kPs1BlockBytes, 0);
  sixteen[0] = 'S';
  sixteen[1] = 'C';
  const struct {
    std::vector<uint8_t> file;
    const char* path;
  } cases[] = {
      {bytes(psx, 40), "t.psx"},                    // ends inside its header
      {bytes(psx, psx.size() - 1), "t.psx"},        // a block cut short
      {nameless, "t.psx"},                          // no name
      {bytes(raw, kPs1BlockBytes + 100), "t.raw"},  // not whole blocks
      {untitled, "BESLES-01234SAVE.raw"},           // no title frame
      {raw, "/x/"},                                 // a path with no file name
      {sixteen, "BESLES-01234BIG.raw"},             // more blocks than a card has
  };
  for (const auto& c : cases)
    EXPECT_THROW(ReadPs1Save(c.file, c.path), FormatError) << c.path << " " << c.file.size();
}

}  // namespace
}  // namespace travosk::formats
