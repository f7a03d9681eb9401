// The directory walk over cards planted byte by byte in a formatted image.
#include "card/walk.h"

#include <gtest/gtest.h>

#include "common/errors.h"
#include "support/card_fixture.h"
#include "support/dir_image.h"

namespace travosk::card {
namespace {

using namespace support;

struct Walk : ::testing::Test {
  CardRig rig;
  TPSFilemanager& v = rig.volume;

  void Mount() { ASSERT_TRUE(v.Mount()) << v.LastError(); }
  // Gives the root a second cluster (relative 1) holding the two entries.
  void SecondRootCluster(const Entry& first, const Entry& second) {
    SetFatOnCard(rig, 0, 0x80000001);
    SetFatOnCard(rig, 1, kChainEnd);
    PutEntry(rig, 1, 0, first);
    PutEntry(rig, 1, 512, second);
  }
};

TEST(DecodeEntry, ClassesByModeAndReservedWord) {
  std::array<uint8_t, 1024> c{};
  TfileIP x;
  x.Name = "before";
  x.Dir = 1;
  x.RelatCluster = 77;
  x.Header.fill(0xAA);

  // Empty slots (mode 0x0000 or 0xFFFF) are not valid; the name stays.
  EXPECT_FALSE(DecodeEntry(c.data(), 0, x));
  EXPECT_EQ(x.Name, "before");
  EXPECT_EQ(x.Header, (std::array<uint8_t, 32>{}));
  std::fill(c.begin() + 512, c.end(), 0xFF);
  EXPECT_FALSE(DecodeEntry(c.data(), 512, x));

  // A deleted entry keeps the kind and cluster of the record it replaces.
  const Entry deleted = MakeEntry(0x0417, 100, 5, "GONE");
  std::copy(deleted.begin(), deleted.end(), c.begin());
  EXPECT_TRUE(DecodeEntry(c.data(), 0, x));
  EXPECT_EQ(x.Deleted, 1);
  EXPECT_EQ(x.Name, "GONE");
  EXPECT_EQ(x.Dir, 1);
  EXPECT_EQ(x.RelatCluster, 77);
  EXPECT_EQ(x.Length(), 100u);

  // A non-zero reserved word makes even an existing entry invalid.
  const Entry bad = MakeEntry(kFileMode, 1, 5, "BAD");
  std::copy(bad.begin(), bad.end(), c.begin());
  c[3] = 1;
  EXPECT_FALSE(DecodeEntry(c.data(), 0, x));
  EXPECT_EQ(x.Name, "GONE");
  EXPECT_EQ(x.Header, (std::array<uint8_t, 32>{}));

  // Existing: a file, a folder, and any name that begins with a full stop.
  c[3] = 0;
  EXPECT_TRUE(DecodeEntry(c.data(), 0, x));
  EXPECT_EQ(x.Dir, 0);
  EXPECT_EQ(x.Deleted, 0);
  EXPECT_EQ(x.RelatCluster, 5);
  const Entry folder = MakeEntry(kFolderMode, 2, 9, "SAVE");
  std::copy(folder.begin(), folder.end(), c.begin() + 512);
  EXPECT_TRUE(DecodeEntry(c.data(), 512, x));
  EXPECT_EQ(x.Dir, 1);
  EXPECT_EQ(x.RelatCluster, 9);
  const Entry dotted = MakeEntry(kFileMode, 1, 5, ".hidden");
  std::copy(dotted.begin(), dotted.end(), c.begin());
  EXPECT_TRUE(DecodeEntry(c.data(), 0, x));
  EXPECT_EQ(x.Dir, 1);
  EXPECT_EQ(x.RelatCluster, -1);
}

TEST_F(Walk, FreshRootListsItsTwoEntriesAndEnds) {
  Mount();
  TfileIP x;
  ASSERT_TRUE(ReadFirstEntry(v, x));
  EXPECT_EQ(x.Name, ".");
  EXPECT_EQ(x.Dir, 1);
  EXPECT_EQ(x.RelatCluster, -1);
  EXPECT_EQ(x.Length(), 2u);  // the root's entry count
  EXPECT_EQ(x.NowCluster, 0u);
  EXPECT_EQ(x.NowOffset, 0);
  EXPECT_EQ(x.NextCluster, 0);
  EXPECT_EQ(x.NextOffset, 512);

  ASSERT_TRUE(ReadNextEntry(v, x));
  EXPECT_EQ(x.Name, "..");
  EXPECT_EQ(x.NowOffset, 512);
  EXPECT_EQ(x.NextCluster, -1);  // the root has one cluster
  EXPECT_EQ(x.HeadCluster, 0);
  EXPECT_EQ(x.ParentCluster, 0u);

  const TfileIP after = x;
  EXPECT_FALSE(ReadNextEntry(v, x));
  EXPECT_EQ(x.Name, after.Name);  // nothing read
  EXPECT_EQ(x.NowOffset, after.NowOffset);
}

TEST_F(Walk, DotNamedFileIsAnUnenterableDirectoryAndLastClusterEndsAfterItsEmptySlot) {
  Entry empty{};
  SecondRootCluster(MakeEntry(kFileMode, 10, 5, ".hidden"), empty);
  Mount();
  TfileIP x;
  ASSERT_TRUE(ReadFirstEntry(v, x));
  ASSERT_TRUE(ReadNextEntry(v, x));
  EXPECT_EQ(x.NextCluster, 1);
  EXPECT_EQ(x.NextOffset, 0);

  ASSERT_TRUE(ReadNextEntry(v, x));
  EXPECT_EQ(x.Name, ".hidden");
  EXPECT_EQ(x.Dir, 1);
  EXPECT_EQ(x.RelatCluster, -1);
  EXPECT_EQ(x.NowCluster, 1u);
  EXPECT_FALSE(EnterDirectory(v, x));

  // The second slot of the last cluster is read and ends the directory; later
  // calls end at once without reading.
  EXPECT_FALSE(ReadNextEntry(v, x));
  EXPECT_EQ(x.NowOffset, 512);
  EXPECT_EQ(x.NextCluster, -1);
  rig.ResetCounters();
  EXPECT_FALSE(ReadNextEntry(v, x));
  EXPECT_FALSE(ReadNextEntry(v, x));
  EXPECT_EQ(rig.counters().pages_read, 0u);
}

TEST_F(Walk, NonZeroAttributeWordStopsTheListingAtThatEntry) {
  Entry odd = MakeEntry(kFileMode, 10, 5, "ODD");
  odd[entry::kAttributes + 31] = 1;
  SecondRootCluster(odd, MakeEntry(kFileMode, 10, 6, "NEXT"));
  Mount();
  TfileIP x;
  ASSERT_TRUE(ReadFirstEntry(v, x));
  ASSERT_TRUE(ReadNextEntry(v, x));
  EXPECT_FALSE(ReadNextEntry(v, x));
  EXPECT_EQ(x.Name, "ODD");  // decoded, but refused
}

TEST_F(Walk, DeletedEntryComesBackMarkedWithThePreviousKind) {
  SecondRootCluster(MakeEntry(kFolderMode, 2, 3, "SAVE"), MakeEntry(0x0417, 10, 9, "OLD"));
  Mount();
  TfileIP x;
  ASSERT_TRUE(ReadFirstEntry(v, x));
  ASSERT_TRUE(ReadNextEntry(v, x));
  ASSERT_TRUE(ReadNextEntry(v, x));
  ASSERT_EQ(x.Name, "SAVE");
  ASSERT_TRUE(ReadNextEntry(v, x));
  EXPECT_EQ(x.Name, "OLD");
  EXPECT_EQ(x.Deleted, 1);
  EXPECT_EQ(x.Dir, 1);
  EXPECT_EQ(x.RelatCluster, 3);
}

// Root: ".", ".." | "SAVE" (folder at 2), "ROOTFILE". Folder: ".", ".." |
// "DATA" and an unused slot, in clusters 2 and 3.
struct WalkFolder : Walk {
  void SetUp() override {
    SecondRootCluster(MakeEntry(kFolderMode, 3, 2, "SAVE"), MakeEntry(kFileMode, 5, 4, "ROOTFILE"));
    SetFatOnCard(rig, 2, 0x80000003);
    SetFatOnCard(rig, 3, kChainEnd);
    SetFatOnCard(rig, 4, kChainEnd);
    SetFatOnCard(rig, 5, kChainEnd);
    PutEntry(rig, 2, 0, MakeEntry(kDotMode, 0, 0, "."));
    PutEntry(rig, 2, 512, MakeEntry(kDotDotMode, 0, 0, ".."));
    PutEntry(rig, 3, 0, MakeEntry(kFileMode, 5, 5, "DATA"));
    Mount();
  }
};

TEST_F(WalkFolder, VisitAFolderAndComeBackToTheOuterParent) {
  TfileIP x;
  ASSERT_TRUE(ReadFirstEntry(v, x));
  ASSERT_TRUE(ReadNextEntry(v, x));
  ASSERT_TRUE(ReadNextEntry(v, x));
  ASSERT_EQ(x.Name, "SAVE");

  PushPosition(v, x);
  ASSERT_TRUE(EnterDirectory(v, x));
  TfileIP child;
  ASSERT_TRUE(ReadFirstEntry(v, child));
  EXPECT_EQ(child.Name, ".");
  EXPECT_EQ(child.HeadCluster, 2);
  EXPECT_EQ(child.ParentCluster, 1u);  // the folder's own entry
  EXPECT_EQ(child.ParentOffset, 0);
  ASSERT_TRUE(ReadNextEntry(v, child));
  ASSERT_TRUE(ReadNextEntry(v, child));
  EXPECT_EQ(child.Name, "DATA");
  EXPECT_EQ(child.NowCluster, 3u);
  EXPECT_EQ(child.HeadCluster, 2);
  EXPECT_EQ(child.ParentCluster, 1u);
  EXPECT_FALSE(ReadNextEntry(v, child));

  TfileIP folder;
  PopPosition(v, folder);
  EXPECT_EQ(folder.Name, "SAVE");
  ASSERT_TRUE(ReadNextEntry(v, x));
  EXPECT_EQ(x.Name, "ROOTFILE");
  EXPECT_EQ(x.NowCluster, 1u);
  EXPECT_EQ(x.NowOffset, 512);
  // The entry names the root's "." as its directory's entry, not the folder.
  EXPECT_EQ(x.ParentCluster, 0u);
  EXPECT_EQ(x.ParentOffset, 0);
  EXPECT_EQ(x.HeadCluster, 0);
  EXPECT_FALSE(ReadNextEntry(v, x));
}

TEST_F(WalkFolder, StackRefusesASixtyFifthLevelAndIgnoresPopsWhenEmpty) {
  TfileIP x;
  x.Name = "level";
  PopPosition(v, x);  // empty: nothing happens
  EXPECT_EQ(x.Name, "level");
  EXPECT_EQ(v.StackDepth, 0);
  for (int i = 0; i < kStackLevels; ++i) PushPosition(v, x);
  EXPECT_THROW(PushPosition(v, x), CardError);
  EXPECT_EQ(v.StackDepth, kStackLevels);
}

TEST_F(WalkFolder, GoesOnFromAClusterItsCallerUnlinked) {
  // A third folder cluster (4) after cluster 3, whose second slot is unused:
  // deleting DATA empties cluster 3, and the caller unlinks it mid-walk.
  SetFatOnCard(rig, 3, 0x80000006);
  SetFatOnCard(rig, 6, kChainEnd);
  PutEntry(rig, 6, 0, MakeEntry(kFileMode, 5, 7, "LATER"));
  Mount();
  TfileIP x;
  ASSERT_TRUE(ReadFirstEntry(v, x));
  ASSERT_TRUE(ReadNextEntry(v, x));
  ASSERT_TRUE(ReadNextEntry(v, x));
  PushPosition(v, x);
  ASSERT_TRUE(EnterDirectory(v, x));
  ASSERT_TRUE(ReadFirstEntry(v, x));
  ASSERT_TRUE(ReadNextEntry(v, x));
  ASSERT_TRUE(ReadNextEntry(v, x));
  ASSERT_EQ(x.Name, "DATA");
  v.Fat[2] = 0x80000006;
  v.Fat[3] = kFreeEntry;
  EXPECT_FALSE(ReadNextEntry(v, x));  // the unused slot beside DATA
  ASSERT_TRUE(ReadNextEntry(v, x));
  EXPECT_EQ(x.Name, "LATER");
  EXPECT_EQ(x.NowCluster, 6u);
}

TEST_F(Walk, LoopingOrStrayDirectoryChainsEndTheWalk) {
  SecondRootCluster(MakeEntry(kFileMode, 1, 5, "A"), MakeEntry(kFileMode, 1, 6, "B"));
  SetFatOnCard(rig, 1, 0x80000000);  // back to the root's first cluster
  Mount();
  TfileIP x;
  ASSERT_TRUE(ReadFirstEntry(v, x));
  int read = 1;
  while (ReadNextEntry(v, x) && read < 100) ++read;
  EXPECT_EQ(read, 4);  // ".", "..", "A", "B", and no second round
  EXPECT_EQ(x.NextCluster, -1);

  // A link that leaves the table, and a folder whose cluster lies outside it.
  SetFatOnCard(rig, 1, 0x80007000);
  Mount();
  ASSERT_TRUE(ReadFirstEntry(v, x));
  read = 1;
  while (ReadNextEntry(v, x) && read < 100) ++read;
  EXPECT_EQ(read, 4);
  TfileIP stray = x;
  stray.Dir = 1;
  stray.RelatCluster = 9000;
  EXPECT_FALSE(EnterDirectory(v, stray));
}

}  // namespace
}  // namespace travosk::card
