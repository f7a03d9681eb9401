#include <gtest/gtest.h>

#include <filesystem>

#include "common/errors.h"
#include "ps1_rig.h"

namespace travosk::manager::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A ".PS1" file: a first-block directory frame for `blocks` blocks, then data.
std::vector<uint8_t> SaveFile(int blocks, const std::string& name, size_t extra = 0) {
  std::vector<uint8_t> file(kPS1FrameBytes + size_t{kPS1BlockBytes} * blocks + extra);
  file[ps1dir::kState] = ps1state::kFirst;
  store_le32(file, ps1dir::kSize, static_cast<uint32_t>(blocks * kPS1BlockBytes));
  store_le16(file, ps1dir::kLink, kPS1LastLink);
  std::copy(name.begin(), name.end(), file.begin() + ps1dir::kName);
  for (size_t i = kPS1FrameBytes; i < file.size(); ++i)
    file[i] = static_cast<uint8_t>(i * 13 + (i >> 9));
  return file;
}

std::vector<uint8_t> FileBlock(const std::vector<uint8_t>& file, int b) {
  auto first = file.begin() + kPS1FrameBytes + std::ptrdiff_t{kPS1BlockBytes} * b;
  return {first, first + kPS1BlockBytes};
}

TEST(PS1Directory, ParsesFramesAndChecksum) {
  std::array<uint8_t, 128> frame{};
  frame[0] = 0x52;
  store_le32(frame, 4, 0x2000);
  store_le16(frame, 8, 0x0003);
  std::fill(frame.begin() + 10, frame.begin() + 40, 'A');  // name runs on: at most 21
  TPs1FileitemRec item;
  item.FirstImage = 7;
  ParsePS1Directory(item, frame.data());
  EXPECT_EQ(item.NoTitle, 1);
  EXPECT_EQ(item.FileName, "");
  EXPECT_EQ(item.FirstImage, 0);
  EXPECT_EQ(item.BlockType, 2);
  EXPECT_EQ(item.NotInUse, 0);
  EXPECT_EQ(item.HasNext, 1);
  EXPECT_EQ(item.Link, 3);
  EXPECT_EQ(item.Size, 0x2000);

  frame[0] = 0xA1;
  ParsePS1Directory(item, frame.data());
  EXPECT_EQ(item.NoTitle, 0);
  EXPECT_EQ(item.NotInUse, 1);
  EXPECT_EQ(item.FileName, std::string(21, 'A'));

  PS1Checksum(frame.data());
  EXPECT_TRUE(ChecksumValid(frame));
}

TEST(PS1Card, CatalogueReportsCardThenEveryEntryInOrder) {
  PS1Rig rig;
  rig.PlaceSave({0}, "BASLUS-00001ONE");
  rig.PlaceSave({1, 4}, "BASLUS-00002TWO");
  auto title = rig.Frame(PS1BlockFirstFrame(0));
  std::fill(title.begin(), title.end(), 0);
  title[0] = 'S';
  title[1] = 'C';
  title[2] = 0x13;
  std::string text = "LINE ONE";
  std::copy(text.begin(), text.end(), title.begin() + 4);

  std::vector<std::string> events;
  int bar_events = 0, first_max = -1;
  rig.mgr.Onbarprocess = [&](int& max, int&, int&, bool&) {
    if (bar_events++ == 0) first_max = max;
  };
  rig.mgr.OnPS1MainNode = [&](int index, TPs1FileitemRec& item) {
    events.push_back("main" + std::to_string(index));
    EXPECT_TRUE(item.FileName.empty() && item.Title.empty() && item.Size == 0 && item.Link == 0);
    EXPECT_EQ(item.DirFrame, (std::array<uint8_t, 128>{}));
  };
  rig.mgr.OnPS1rootNode = [&](int index, TPs1FileitemRec&) {
    events.push_back("root" + std::to_string(index));
  };
  ASSERT_TRUE(rig.mgr.PS1Catalog());

  std::vector<std::string> expected{"main15"};
  for (int e = 0; e < 15; ++e) expected.push_back("root" + std::to_string(e));
  EXPECT_EQ(events, expected);
  EXPECT_EQ(bar_events, 16);
  EXPECT_EQ(first_max, 14);
  EXPECT_EQ(rig.mgr.PS1Card.Count, 15);

  const auto& one = rig.mgr.PS1Card.Items[0];
  EXPECT_EQ(one.FileName, "BASLUS-00001ONE");
  EXPECT_EQ(one.Title, "LINE ONE");
  EXPECT_EQ(one.IconFrames, 3);
  EXPECT_EQ(one.Size, 8192);
  const auto& middle = rig.mgr.PS1Card.Items[4];
  EXPECT_EQ(middle.NoTitle, 1);
  EXPECT_EQ(middle.BlockType, 3);
  EXPECT_EQ(rig.mgr.PS1Card.Items[1].Link, 4);
  EXPECT_EQ(rig.mgr.PS1Card.Items[2].NotInUse, 1);
  // No title frame is read for a following block: the header frame (is the
  // card formatted?), 15 directory frames and 14 titles.
  EXPECT_EQ(rig.counters().frames_read, 30u);
  EXPECT_TRUE(rig.mgr.PS1Card.Formatted);
}

// Another tool may leave two saves of one name; the one a console loads is
// the first the directory names, and every lookup by name reaches that one.
TEST(PS1Card, ASaveIsFoundByNameAtTheFirstEntryThatOpensOne) {
  PS1Rig rig;
  rig.SetDir(0, ps1state::kDeleted | 1, kPS1BlockBytes, kPS1LastLink, "BASLUS-00050TWIN");
  rig.PlaceSave({6}, "BASLUS-00051OTHER");
  rig.PlaceSave({2, 3}, "BASLUS-00050TWIN");
  rig.PlaceSave({9}, "BASLUS-00050TWIN");
  ASSERT_TRUE(rig.mgr.ScanPS1());
  EXPECT_EQ(FindPS1Save(rig.mgr.PS1Card, "BASLUS-00050TWIN"), 2);
  EXPECT_EQ(FindPS1Save(rig.mgr.PS1Card, "BASLUS-00051OTHER"), 6);
  EXPECT_EQ(FindPS1Save(rig.mgr.PS1Card, "BASLUS-00050"), std::nullopt);
  EXPECT_EQ(PS1SaveEntries(rig.mgr.PS1Card), (std::vector<int>{2, 6, 9}));
  EXPECT_EQ(PS1UsedBytes(rig.mgr.PS1Card), 4 * kPS1BlockBytes);
}

TEST(PS1Card, CatalogueStopsWhenAskedOrWhenTheLinkFails) {
  PS1Rig rig;
  int nodes = 0;
  rig.mgr.OnPS1rootNode = [&](int, TPs1FileitemRec&) { ++nodes; };
  rig.mgr.Onbarprocess = [&](int&, int&, int& process, bool& isbreak) { isbreak = process == 3; };
  EXPECT_FALSE(rig.mgr.PS1Catalog());
  EXPECT_EQ(nodes, 0);
  EXPECT_EQ(rig.mgr.PS1Card.Count, 4);

  rig.mgr.Onbarprocess = nullptr;
  rig.session.adapter.UnplugAfter(5);
  EXPECT_FALSE(rig.mgr.PS1Catalog());
  EXPECT_EQ(nodes, 0);
  EXPECT_FALSE(rig.mgr.LastError().empty());
}

TEST(PS1Saver, DownloadRefusesWhatDoesNotFitBeforeWriting) {
  PS1Rig rig;
  const std::string path = rig.dir.File("save.PS1");

  WriteFile(path, SaveFile(1, "BASLUS-00009ONE"));
  for (int e = 0; e < 15; ++e) rig.PlaceSave({e}, "FULL");
  rig.session.adapter.ResetCounters();
  EXPECT_FALSE(rig.mgr.DownloadPS1Saver(path));
  EXPECT_EQ(rig.counters().frames_written, 0u);

  // Two free blocks for a three-block save: the whole save is refused.
  rig.SetDir(3, ps1state::kDeleted, 0, kPS1LastLink, "");
  rig.SetDir(9, 0xA1, 0, kPS1LastLink, "");
  WriteFile(path, SaveFile(3, "BASLUS-00009THREE"));
  auto before = rig.Snapshot();
  EXPECT_FALSE(rig.mgr.DownloadPS1Saver(path));
  EXPECT_EQ(rig.counters().frames_written, 0u);
  EXPECT_EQ(rig.Snapshot(), before);

  // Shorter than one block with its header frame.
  WriteFile(path, SaveFile(1, "BASLUS-00009ONE", 0));
  fs::resize_file(path, 8319);
  EXPECT_FALSE(rig.mgr.DownloadPS1Saver(path));
  EXPECT_EQ(rig.counters().frames_written, 0u);

  // A header that asks for more blocks than the file holds.
  auto short_save = SaveFile(1, "BASLUS-00009ONE");
  store_le32(short_save, ps1dir::kSize, 2 * kPS1BlockBytes);
  WriteFile(path, short_save);
  EXPECT_THROW((void)rig.mgr.DownloadPS1Saver(path), InOutError);
  EXPECT_EQ(rig.counters().frames_written, 0u);
  EXPECT_EQ(rig.Snapshot(), before);
}

TEST(PS1Saver, DownloadTakesOnlyFreeBlocksOfAFormattedCard) {
  PS1Rig rig;
  const std::string path = rig.dir.File("one.PS1");
  WriteFile(path, SaveFile(1, "BASLUS-00014ONE"));
  // Free are 0xA0 and the deleted blocks 0xA1..0xA3; anything else is not.
  const uint8_t states[] = {0xFF, 0x00, 0xA4, 0xAF, 0x21, 0x51};
  for (int e = 0; e < kPS1Entries; ++e) rig.SetDir(e, states[e % 6], 0, kPS1LastLink, "");
  rig.SetDir(13, 0xA3, 0, kPS1LastLink, "");
  auto before = rig.Snapshot();
  ASSERT_TRUE(rig.mgr.DownloadPS1Saver(path));
  EXPECT_EQ(rig.Dir(13)[0], ps1state::kFirst);
  auto after = rig.Snapshot();
  std::copy_n(before.begin() + 14 * kPS1FrameBytes, kPS1FrameBytes,
              after.begin() + 14 * kPS1FrameBytes);
  std::copy_n(before.begin() + 14 * kPS1BlockBytes, kPS1BlockBytes,
              after.begin() + 14 * kPS1BlockBytes);
  EXPECT_EQ(after, before);  // only entry 13's frame and block changed

  // No block left free; then a card without its "MC" header, not formatted.
  rig.session.adapter.ResetCounters();
  EXPECT_FALSE(rig.mgr.DownloadPS1Saver(path));
  PS1Rig blank;
  blank.Frame(0)[0] = 0;
  blank.Frame(0)[1] = 0;
  before = blank.Snapshot();
  EXPECT_FALSE(blank.mgr.DownloadPS1Saver(path));
  EXPECT_NE(blank.mgr.LastError().find("not formatted"), std::string::npos)
      << blank.mgr.LastError();
  EXPECT_EQ(blank.Snapshot(), before);
  for (auto* r : {&rig, &blank}) EXPECT_EQ(r->counters().frames_written, 0u);
}

TEST(PS1Saver, DownloadOneBlock) {
  PS1Rig rig;
  const std::string path = rig.dir.File("one.PS1");
  const auto file = SaveFile(1, "BASLUS-00010ONE", 100);  // trailing bytes are ignored
  WriteFile(path, file);
  ASSERT_TRUE(rig.mgr.DownloadPS1Saver(path));
  auto dir = rig.Dir(0);
  EXPECT_EQ(dir[0], 0x51);
  EXPECT_EQ(load_le16(dir, 8), 0xFFFF);
  EXPECT_EQ(load_cstr(dir, 10, 21), "BASLUS-00010ONE");
  EXPECT_TRUE(ChecksumValid(dir));
  EXPECT_EQ(rig.Block(0), FileBlock(file, 0));
  EXPECT_EQ(rig.counters().frames_written, 65u);
  EXPECT_EQ(rig.Dir(1)[0], ps1state::kDeleted);
}

TEST(PS1Saver, DownloadChainsFreeBlocksFirstMiddleLast) {
  PS1Rig rig;
  for (int e : {0, 1, 3, 4, 5}) rig.PlaceSave({e}, "USED");
  const std::string path = rig.dir.File("two.PS1");
  const auto two = SaveFile(2, "BASLUS-00011TWO");
  WriteFile(path, two);
  ASSERT_TRUE(rig.mgr.DownloadPS1Saver(path));
  // Blocks 3 and 7 are entries 2 and 6.
  EXPECT_EQ(rig.Dir(2)[0], 0x51);
  EXPECT_EQ(load_le16(rig.Dir(2), 8), 6);
  EXPECT_EQ(rig.Dir(6)[0], 0x53);
  EXPECT_EQ(load_le16(rig.Dir(6), 8), 0xFFFF);
  std::vector<uint8_t> rest(rig.Dir(6).begin() + 10, rig.Dir(6).begin() + 127);
  EXPECT_EQ(rest, std::vector<uint8_t>(117, 0));
  EXPECT_EQ(load_le32(rig.Dir(6), 4), 0u);
  EXPECT_TRUE(ChecksumValid(rig.Dir(2)));
  EXPECT_TRUE(ChecksumValid(rig.Dir(6)));
  EXPECT_EQ(rig.Block(2), FileBlock(two, 0));
  EXPECT_EQ(rig.Block(6), FileBlock(two, 1));

  const std::string path3 = rig.dir.File("three.PS1");
  WriteFile(path3, SaveFile(3, "BASLUS-00012THREE"));
  ASSERT_TRUE(rig.mgr.DownloadPS1Saver(path3));
  EXPECT_EQ(rig.Dir(7)[0], 0x51);
  EXPECT_EQ(rig.Dir(8)[0], 0x52);
  EXPECT_EQ(rig.Dir(9)[0], 0x53);
  EXPECT_EQ(load_le16(rig.Dir(7), 8), 8);
  EXPECT_EQ(load_le16(rig.Dir(8), 8), 9);
}

TEST(PS1Saver, DownloadThatLosesTheLinkLeavesTheDirectoryAlone) {
  PS1Rig rig;
  const std::string path = rig.dir.File("two.PS1");
  WriteFile(path, SaveFile(2, "BASLUS-00013TWO"));
  auto before = rig.Snapshot();
  rig.session.adapter.UnplugAfter(15 + 100);  // the directory read, then part of the data
  EXPECT_FALSE(rig.mgr.DownloadPS1Saver(path));
  auto after = rig.Snapshot();
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + kPS1BlockBytes, after.begin()));
}

TEST(PS1Saver, UploadFollowsTheChainAndReplacesOnlyWhenComplete) {
  PS1Rig rig;
  rig.PlaceSave({2, 5}, "BASLUS-00020TWO");
  const std::string path = rig.dir.File("up.PS1");
  ASSERT_TRUE(rig.mgr.UploadPS1Saver(path, 2));
  const auto file = ReadFile(path);
  ASSERT_EQ(file.size(), 128u + 2 * 8192);
  EXPECT_TRUE(std::equal(file.begin(), file.begin() + 128, rig.Dir(2).begin()));
  EXPECT_EQ(FileBlock(file, 0), rig.Block(2));  // frames 192..255
  EXPECT_EQ(FileBlock(file, 1), rig.Block(5));  // frames 384..447

  // A link fault half-way keeps the earlier file and leaves no other behind.
  WriteFile(path, {'O', 'L', 'D'});
  rig.session.adapter.UnplugAfter(15 + 40);
  EXPECT_FALSE(rig.mgr.UploadPS1Saver(path, 2));
  EXPECT_EQ(ReadFile(path), (std::vector<uint8_t>{'O', 'L', 'D'}));
  for (const auto& name : FolderEntries(rig.dir.path()))
    EXPECT_EQ(name.find("up.PS1."), std::string::npos) << name;
}

TEST(PS1Saver, UploadRefusesFreeEntriesAndDamagedChains) {
  PS1Rig rig;
  const std::string path = rig.dir.File("up.PS1");
  EXPECT_FALSE(rig.mgr.UploadPS1Saver(path, 0));
  EXPECT_FALSE(rig.mgr.UploadPS1Saver(path, 15));
  EXPECT_FALSE(fs::exists(path));

  // 0 -> 1 -> 0 with a size of three blocks: the chain cycles.
  rig.PlaceSave({0, 1}, "CYCLE");
  store_le32(rig.Dir(0), ps1dir::kSize, 3 * kPS1BlockBytes);
  store_le16(rig.Dir(1), ps1dir::kLink, 0);
  EXPECT_FALSE(rig.mgr.UploadPS1Saver(path, 0));
  EXPECT_FALSE(fs::exists(path));

  // A size larger than the card with a chain that ends: reading stops at the
  // card's last block.
  rig.PlaceSave({3}, "HUGE");
  store_le32(rig.Dir(3), ps1dir::kSize, 0x7FFFFFFF);
  EXPECT_FALSE(rig.mgr.UploadPS1Saver(path, 3));
  EXPECT_FALSE(fs::exists(path));
}

TEST(PS1Saver, DeleteMarksTheChainAndChangesNothingElse) {
  PS1Rig rig;
  rig.PlaceSave({3, 8, 10}, "BASLUS-00030THREE");
  rig.PlaceSave({0}, "BASLUS-00031ONE");
  auto before = rig.Snapshot();
  ASSERT_TRUE(rig.mgr.DeletePS1Saver(3));
  EXPECT_EQ(rig.Dir(3)[0], 0xA1);
  EXPECT_EQ(rig.Dir(8)[0], 0xA2);
  EXPECT_EQ(rig.Dir(10)[0], 0xA3);
  auto after = rig.Snapshot();
  for (int e : {3, 8, 10}) {
    EXPECT_TRUE(ChecksumValid(rig.Dir(e)));
    const size_t at = size_t{128} * (e + 1);
    before[at] = after[at];
    before[at + 127] = after[at + 127];
  }
  EXPECT_EQ(after, before);
  EXPECT_EQ(rig.counters().frames_written, 3u);

  EXPECT_FALSE(rig.mgr.DeletePS1Saver(-1));
  EXPECT_FALSE(rig.mgr.DeletePS1Saver(15));
}

// A console or another program between the list and the command: the save
// the list named is gone, and what now holds its blocks is left as it is.
TEST(PS1Saver, ASaveGoneSinceTheScanIsNeitherDeletedNorBackedUp) {
  for (const bool reused_first_block : {true, false}) {
    PS1Rig rig;
    rig.PlaceSave({3, 8}, "BASLUS-00030OLD");
    ASSERT_TRUE(rig.mgr.ScanPS1());
    if (reused_first_block) {
      rig.PlaceSave({3, 5}, "BASLUS-00032NEW");
    } else {
      rig.Dir(3)[ps1dir::kState] = 0xA1;  // deleted, its link to 8 kept
      rig.Dir(8)[ps1dir::kState] = 0xA3;
      rig.PlaceSave({8, 9}, "BASLUS-00032NEW");
    }
    const auto before = rig.Snapshot();
    const auto deleted = rig.mgr.DeletePS1Saver(3);
    EXPECT_FALSE(deleted.done);
    EXPECT_TRUE(deleted.card_changed);
    EXPECT_NE(deleted.reason.find("BASLUS-00030OLD"), std::string::npos) << deleted.reason;
    const std::string path = rig.dir.File("old.PS1");
    EXPECT_TRUE(rig.mgr.UploadPS1Saver(path, 3).card_changed);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(rig.Snapshot(), before);
    // Read again, the card's list names the new save, and the commands reach it.
    ASSERT_TRUE(rig.mgr.ScanPS1());
    EXPECT_TRUE(rig.mgr.DeletePS1Saver(reused_first_block ? 3 : 8).done);
  }
}

TEST(PS1Saver, DeleteStopsOnACyclingChain) {
  PS1Rig rig;
  rig.PlaceSave({0, 1, 2}, "LOOP");
  store_le16(rig.Dir(2), ps1dir::kLink, 0);
  ASSERT_TRUE(rig.mgr.DeletePS1Saver(0));
  EXPECT_EQ(rig.counters().frames_written, 3u);
  EXPECT_EQ(rig.Dir(0)[0], 0xA1);
  EXPECT_EQ(rig.Dir(2)[0], 0xA3);
}

TEST(PS1Image, UploadAndDownloadWholeCard) {
  PS1Rig rig;
  rig.PlaceSave({0, 6}, "BASLUS-00040TWO");
  const std::string path = rig.dir.File("card.pss");
  ASSERT_TRUE(rig.mgr.UploadPS1Card(path));
  EXPECT_EQ(ReadFile(path), rig.Snapshot());

  // A cancelled upload leaves the earlier image as it was.
  rig.mgr.Onbarprocess = [](int&, int&, int& process, bool& isbreak) { isbreak = process == 500; };
  rig.FillBlock(6, 0x99);
  EXPECT_FALSE(rig.mgr.UploadPS1Card(path));
  EXPECT_NE(ReadFile(path), rig.Snapshot());
  rig.mgr.Onbarprocess = nullptr;

  // Downloading the image puts the card back; frames beyond a short image are
  // never guessed: the file is refused.
  auto image = ReadFile(path);
  ASSERT_TRUE(rig.mgr.DownloadPS1Card(path));
  EXPECT_EQ(rig.Snapshot(), image);

  image.pop_back();
  WriteFile(path, image);
  rig.session.adapter.ResetCounters();
  EXPECT_FALSE(rig.mgr.DownloadPS1Card(path));
  EXPECT_EQ(rig.counters().frames_written, 0u);
  EXPECT_FALSE(rig.mgr.DownloadPS1Card(rig.dir.File("missing.pss")));
}

TEST(PS1Image, UploadThatLosesTheLinkWritesNoFile) {
  PS1Rig rig;
  const std::string path = rig.dir.File("card.pss");
  rig.session.adapter.UnplugAfter(300);
  EXPECT_FALSE(rig.mgr.UploadPS1Card(path));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(rig.mgr.LastError().empty());
  for (const auto& name : FolderEntries(rig.dir.path()))
    EXPECT_EQ(name.find("card.pss"), std::string::npos) << name;
}

}  // namespace
}  // namespace travosk::manager::testing
