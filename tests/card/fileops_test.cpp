// The save file operations on a formatted simulated card: what they stage,
// what a flush puts on the card, and what a failure must leave untouched.
#include "card/fileops.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "card/walk.h"
#include "common/errors.h"
#include "support/card_fixture.h"
#include "support/dir_image.h"

namespace travosk::card {
namespace {

using namespace support;
using Names_ = std::vector<std::string>;

struct FileOps : ::testing::Test {
  CardRig rig;
  TPSFilemanager& v = rig.volume;

  void SetUp() override { ASSERT_TRUE(v.Mount()) << v.LastError(); }

  bool AddFile(const TfileIP& d, const std::string& name, const std::string& data) {
    std::istringstream in(FileRecord(name, data));
    return WriteFileFromStream(v, in, d);
  }
  // A save folder in the root; d then names it for the files that follow.
  TfileIP AddFolder(const std::string& name, uint32_t length) {
    TfileIP d = RootDirectory();
    std::istringstream in(FolderRecord(name, length));
    uint32_t count = 0;
    EXPECT_TRUE(CreateFolderFromStream(v, in, d, count));
    EXPECT_EQ(count, length - 2);
    return d;
  }
  // Length of the entry at (c, offset) as the next flush will write it.
  uint32_t StagedLength(uint32_t c, uint16_t offset) {
    std::array<uint8_t, 1024> b{};
    rig.cache.CacheReadCluster(v.ClusterPage(c), b.data());
    return load_le32(b, offset + entry::kLength);
  }
  // A file's data bytes as an export reads them from the card.
  std::string ExportedData(const TfileIP& x) {
    std::ostringstream out;
    EXPECT_TRUE(ExportEntry(v, out, x));
    return out.str().substr(512, x.Length());
  }
  TfileIP Find(const std::string& name, const std::string& folder = "") {
    for (const TfileIP& x : ListDirectory(v, folder)) {
      if (x.Name == name) return x;
    }
    ADD_FAILURE() << name << " not found";
    return {};
  }
};

TEST_F(FileOps, EmptyFileGetsNoClusterButIsCounted) {
  const auto before = rig.Snapshot();
  ASSERT_TRUE(AddFile(RootDirectory(), "EMPTY", ""));
  EXPECT_EQ(rig.Snapshot(), before);  // staged, not on the card yet
  EXPECT_EQ(v.Fat[1], kChainEnd);     // the root grew by one cluster ...
  EXPECT_EQ(v.Fat[2], kFreeEntry);    // ... and the file took none
  rig.cache.FlushCache();

  EXPECT_EQ(ClusterFieldOnCard(rig, 1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(LengthOnCard(rig, 1, 0), 0u);
  EXPECT_EQ(LengthOnCard(rig, 0, 0), 3u);  // ".", "..", "EMPTY"
  EXPECT_EQ(FatOnCard(rig, 0), 0x80000001u);
  EXPECT_EQ(FatOnCard(rig, 2), kFreeEntry);

  const TfileIP x = Find("EMPTY");
  EXPECT_EQ(x.Dir, 0);
  EXPECT_EQ(x.RelatCluster, -1);
  std::ostringstream out;
  ASSERT_TRUE(ExportEntry(v, out, x));
  EXPECT_EQ(out.str().size(), 512u);
  ASSERT_TRUE(DeleteFile(v, x));
  EXPECT_EQ(LengthOnCard(rig, 0, 0), 2u);
  EXPECT_EQ(FatOnCard(rig, 0), kChainEnd);  // the emptied root cluster left
  EXPECT_EQ(FatOnCard(rig, 1), kFreeEntry);
}

TEST_F(FileOps, FileOf1025BytesTakesTwoChainedClusters) {
  const std::string data = Pattern(1025);
  std::istringstream in(FileRecord("BIG", data) + "TAIL");
  ASSERT_TRUE(WriteFileFromStream(v, in, RootDirectory()));
  EXPECT_EQ(in.tellg(), 512 + 2048);
  rig.cache.FlushCache();

  // Root cluster 1 holds the entry; the data went to 2 and 3.
  EXPECT_EQ(ClusterFieldOnCard(rig, 1, 0), 2u);
  EXPECT_EQ(LengthOnCard(rig, 1, 0), 1025u);
  EXPECT_EQ(FatOnCard(rig, 2), 0x80000003u);
  EXPECT_EQ(FatOnCard(rig, 3), kChainEnd);
  const Cluster first = ReadRel(rig, 2);
  const Cluster second = ReadRel(rig, 3);
  EXPECT_EQ(std::string(first.begin(), first.end()), data.substr(0, 1024));
  EXPECT_EQ(second[0], static_cast<uint8_t>(data[1024]));

  const TfileIP x = Find("BIG");
  std::ostringstream out;
  ASSERT_TRUE(ExportEntry(v, out, x));
  const std::string archive = out.str();
  ASSERT_EQ(archive.size(), 512u + 2048u);
  const auto header = BuildHeader(x);
  EXPECT_EQ(archive.substr(0, 512), std::string(header.begin(), header.end()));
  EXPECT_EQ(archive.substr(512, 1025), data);
}

TEST_F(FileOps, FolderCountsFilesInAsTheyLand) {
  TfileIP d = RootDirectory();
  std::istringstream in(FolderRecord("SAVE", 5));
  uint32_t count = 0;
  ASSERT_TRUE(CreateFolderFromStream(v, in, d, count));
  EXPECT_EQ(count, 3u);
  // Root cluster 1 took the folder's entry (slot index 2); cluster 2 is its
  // first cluster, whose "." records that index.
  EXPECT_EQ(d.Dir, 0);
  EXPECT_EQ(d.RelatCluster, 2);
  EXPECT_EQ(d.HeadCluster, 2);
  EXPECT_EQ(d.ParentCluster, 1u);
  EXPECT_EQ(d.ParentOffset, 0);
  EXPECT_EQ(StagedLength(1, 0), 2u);
  EXPECT_EQ(StagedLength(0, 0), 3u);

  for (uint32_t i = 0; i < count; ++i) {
    ASSERT_TRUE(AddFile(d, "F" + std::to_string(i), Pattern(10, static_cast<uint8_t>(i))));
    EXPECT_EQ(StagedLength(1, 0), 3u + i);
  }
  rig.cache.FlushCache();
  EXPECT_EQ(LengthOnCard(rig, 1, 0), 5u);
  EXPECT_EQ(ClusterFieldOnCard(rig, 1, 0), 2u);
  EXPECT_EQ(load_le32(EntryOnCard(rig, 2, 0), entry::kDirEntry), 2u);
  EXPECT_EQ(Names(ListDirectory(v, "SAVE")), (Names_{".", "..", "F0", "F1", "F2"}));
}

TEST_F(FileOps, FullFolderGrowsByAClusterWhoseOtherSlotIsErased) {
  const auto erased = [](auto first, auto last) {
    return std::all_of(first, last, [](uint8_t b) { return b == 0xFF; });
  };
  TfileIP d = AddFolder("SAVE", 3);
  ASSERT_TRUE(AddFile(d, "FILE", Pattern(10)));
  rig.cache.FlushCache();
  EXPECT_EQ(FatOnCard(rig, 2), 0x80000003u);
  EXPECT_EQ(FatOnCard(rig, 3), kChainEnd);
  const Entry partner = EntryOnCard(rig, 3, 512);
  EXPECT_TRUE(erased(partner.begin(), partner.end()));
  EXPECT_EQ(LengthOnCard(rig, 1, 0), 3u);

  // The slot offered in the new cluster: its index counts "." as 0.
  TfileIP other = AddFolder("OTHER", 2);
  FreeSlot slot;
  ASSERT_TRUE(FindFreeSlot(v, other, slot));
  EXPECT_EQ(slot.cluster, v.Fat[static_cast<uint32_t>(other.HeadCluster)] & 0x7FFFFFFF);
  EXPECT_EQ(slot.offset, 0);
  EXPECT_EQ(slot.index, 2u);
  EXPECT_TRUE(erased(slot.bytes.begin(), slot.bytes.end()));
}

TEST_F(FileOps, DeletedSlotIsTakenBeforeTheFolderGrows) {
  TfileIP d = AddFolder("SAVE", 5);
  for (const char* name : {"A", "B", "C"}) ASSERT_TRUE(AddFile(d, name, Pattern(10)));
  rig.cache.FlushCache();
  ASSERT_TRUE(DeleteFile(v, Find("B", "SAVE")));

  const std::vector<uint32_t> fat = v.Fat;
  FreeSlot slot;
  ASSERT_TRUE(FindFreeSlot(v, d, slot));
  EXPECT_EQ(slot.index, 3u);
  EXPECT_EQ(slot.cluster, 3u);
  EXPECT_EQ(slot.offset, 512);
  EXPECT_EQ(v.Fat, fat);  // no cluster was added

  ASSERT_TRUE(AddFile(d, "D", Pattern(10)));
  rig.cache.FlushCache();
  EXPECT_EQ(Names(ListDirectory(v, "SAVE")), (Names_{".", "..", "A", "D", "C"}));
  EXPECT_EQ(LengthOnCard(rig, 1, 0), 5u);
}

TEST_F(FileOps, DeletingFilesUnlinksFolderClustersThatEmptyAtItsEnd) {
  // Folder clusters: 2 (".", ".."), 3 (A, B), 6 (C, D); data in 4, 5, 7, 8.
  TfileIP d = AddFolder("SAVE", 6);
  for (const char* name : {"A", "B", "C", "D"}) ASSERT_TRUE(AddFile(d, name, Pattern(10)));
  rig.cache.FlushCache();
  ASSERT_EQ(FatOnCard(rig, 3), 0x80000006u);

  ASSERT_TRUE(DeleteFile(v, Find("A", "SAVE")));
  EXPECT_EQ(ModeOnCard(rig, 3, 0), 0x0417);
  EXPECT_EQ(FatOnCard(rig, 4), kFreeEntry);
  ASSERT_TRUE(DeleteFile(v, Find("B", "SAVE")));
  // Cluster 3 stays in the chain so that C and D keep their places.
  EXPECT_EQ(FatOnCard(rig, 2), 0x80000003u);
  EXPECT_EQ(FatOnCard(rig, 3), 0x80000006u);
  EXPECT_EQ(LengthOnCard(rig, 1, 0), 6u);
  EXPECT_EQ(Names(ListDirectory(v, "SAVE")), (Names_{".", "..", "~A", "~B", "C", "D"}));

  // Once the last cluster empties it leaves, and the emptied cluster before it.
  ASSERT_TRUE(DeleteFile(v, Find("D", "SAVE")));
  ASSERT_TRUE(DeleteFile(v, Find("C", "SAVE")));
  EXPECT_EQ(LengthOnCard(rig, 1, 0), 2u);
  EXPECT_EQ(FatOnCard(rig, 2), kChainEnd);  // the first cluster stays
  EXPECT_EQ(FatOnCard(rig, 3), kFreeEntry);
  EXPECT_EQ(FatOnCard(rig, 6), kFreeEntry);
  for (uint32_t c : {4u, 5u, 7u, 8u}) EXPECT_EQ(FatOnCard(rig, c), kFreeEntry) << c;
  EXPECT_EQ(Names(ListDirectory(v, "SAVE")), (Names_{".", ".."}));
}

TEST_F(FileOps, AFolderClusterWhoseFirstSlotAloneIsFreeStaysLinked) {
  // Folder clusters: 2 (".", ".."), 3 (A, B), 6 (C): A's slot freed first.
  TfileIP d = AddFolder("SAVE", 5);
  for (const char* name : {"A", "B", "C"}) ASSERT_TRUE(AddFile(d, name, Pattern(10)));
  rig.cache.FlushCache();
  ASSERT_TRUE(DeleteFile(v, Find("A", "SAVE")));
  EXPECT_EQ(FatOnCard(rig, 3), 0x80000006u);
  // The last cluster empties; the one before holds B in its second slot.
  ASSERT_TRUE(DeleteFile(v, Find("C", "SAVE")));
  EXPECT_EQ(FatOnCard(rig, 2), 0x80000003u);
  EXPECT_EQ(FatOnCard(rig, 3), kChainEnd);
  EXPECT_EQ(FatOnCard(rig, 6), kFreeEntry);
  EXPECT_EQ(Names(ListDirectory(v, "SAVE")), (Names_{".", "..", "~A", "B"}));
  EXPECT_EQ(ExportedData(Find("B", "SAVE")), Pattern(10));
  // B deleted too: the cluster is empty and leaves.
  ASSERT_TRUE(DeleteFile(v, Find("B", "SAVE")));
  EXPECT_EQ(FatOnCard(rig, 2), kChainEnd);
  EXPECT_EQ(FatOnCard(rig, 3), kFreeEntry);
  EXPECT_EQ(Names(ListDirectory(v, "SAVE")), (Names_{".", ".."}));
}

TEST_F(FileOps, DeletingTheFirstOfTwoEntriesLeavesTheirClusterLinked) {
  TfileIP d = AddFolder("SAVE", 4);
  for (const char* name : {"A", "B"}) ASSERT_TRUE(AddFile(d, name, Pattern(10)));
  rig.cache.FlushCache();
  ASSERT_TRUE(DeleteFile(v, Find("A", "SAVE")));
  EXPECT_EQ(FatOnCard(rig, 2), 0x80000003u);
  EXPECT_EQ(Names(ListDirectory(v, "SAVE")), (Names_{".", "..", "~A", "B"}));
  EXPECT_EQ(ExportedData(Find("B", "SAVE")), Pattern(10));
}

TEST_F(FileOps, ExportOf100ByteFileWritesHeaderAndOneCluster) {
  const std::string data = Pattern(100);
  ASSERT_TRUE(AddFile(RootDirectory(), "icon.sys", data));
  rig.cache.FlushCache();
  const TfileIP x = Find("icon.sys");

  const std::string path = rig.dir.File("icon.bin");
  { std::ofstream(path) << std::string(5000, 'x'); }  // replaced, not appended to
  ASSERT_TRUE(ExportFileToPath(v, path, x));
  std::ifstream in(path, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(file.size(), 512u + 1024u);
  EXPECT_EQ(file.substr(64, 8), std::string("icon.sys"));
  EXPECT_EQ(file.substr(512, 100), data);
  EXPECT_EQ(file.substr(612), std::string(924, '\0'));

  // Only existing files go to a PC file; "." and ".." give their header to a
  // stream; folders and deleted entries give nothing.
  const std::vector<TfileIP> root = ListDirectory(v);
  TfileIP deleted = x;
  deleted.Deleted = 1;
  std::ostringstream out;
  ASSERT_TRUE(ExportEntry(v, out, root[0]));
  EXPECT_EQ(out.str().size(), 512u);
  EXPECT_FALSE(ExportEntry(v, out, deleted));
  EXPECT_FALSE(ExportFileToPath(v, rig.dir.File("dot.bin"), root[0]));
  EXPECT_FALSE(ExportFileToPath(v, rig.dir.File("gone.bin"), deleted));
  EXPECT_FALSE(ExportFileToPath(v, rig.dir.File("no/such/folder.bin"), x));
  EXPECT_EQ(out.str().size(), 512u);
  std::ostringstream broken;
  broken.setstate(std::ios::badbit);
  EXPECT_THROW((void)ExportEntry(v, broken, x, "broken"), InOutError);

  std::vector<std::string> files;
  for (const auto& f : std::filesystem::directory_iterator(rig.dir.path())) {
    files.push_back(f.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (Names_{"PS2M.cfg", "card.ps2", "icon.bin", "~PS2M.tmp"}));
}

TEST_F(FileOps, DeleteFileRefusesFoldersAndDeletedEntriesAndChangesNothing) {
  AddFolder("SAVE", 2);
  ASSERT_TRUE(AddFile(RootDirectory(), "FILE", Pattern(10)));
  rig.cache.FlushCache();
  TfileIP gone = Find("FILE");
  ASSERT_TRUE(DeleteFile(v, gone));
  gone = Find("FILE");
  ASSERT_EQ(gone.Deleted, 1);
  const TfileIP folder = Find("SAVE");

  const auto before = rig.Snapshot();
  const std::vector<uint32_t> fat = v.Fat;
  EXPECT_FALSE(DeleteFile(v, folder));
  EXPECT_FALSE(DeleteFile(v, gone));
  EXPECT_EQ(rig.Snapshot(), before);
  EXPECT_EQ(v.Fat, fat);
  EXPECT_EQ(rig.cache.BlocksToWrite(), 0);
}

TEST_F(FileOps, RefusedHeadersAddNothing) {
  const auto before = rig.Snapshot();
  const auto refused_folder = [&](const std::string& stream) {
    TfileIP d = RootDirectory();
    std::istringstream in(stream);
    uint32_t count = 0;
    return !CreateFolderFromStream(v, in, d, count) && d.Dir == 1 && d.RelatCluster == 0;
  };
  EXPECT_TRUE(refused_folder(FolderRecord(".", 3)));
  EXPECT_TRUE(refused_folder(FolderRecord("..", 3)));
  EXPECT_TRUE(refused_folder(FolderRecord("FILE", 3, kFileMode)));
  EXPECT_TRUE(refused_folder(FolderRecord("SHORT", 1)));
  std::string reserved = FolderRecord("SAVE", 3);
  reserved[2] = 1;
  EXPECT_TRUE(refused_folder(reserved));
  // A folder must bring its own "." and "..".
  std::string no_dots = FolderRecord("SAVE", 3);
  std::fill(no_dots.begin() + 512, no_dots.end(), '\0');
  EXPECT_TRUE(refused_folder(no_dots));

  const auto refused_file = [&](std::string stream) {
    std::istringstream in(stream);
    return !WriteFileFromStream(v, in, RootDirectory());
  };
  EXPECT_TRUE(refused_file(FileRecord("..", "x")));
  EXPECT_TRUE(refused_file(FileRecord("SUB", "", kFolderMode)));
  std::string odd = FileRecord("FILE", "x");
  odd[3] = 1;
  EXPECT_TRUE(refused_file(odd));

  // A card without a free cluster takes nothing either.
  for (uint32_t c = 0; c < v.FatEntryCount(); ++c) v.Fat[c] |= kInUse;
  EXPECT_TRUE(refused_file(FileRecord("FILE", "x")));

  EXPECT_EQ(rig.Snapshot(), before);
  EXPECT_EQ(Names(ListDirectory(v)), (Names_{".", ".."}));
}

TEST_F(FileOps, StreamThatEndsEarlyFailsAndLeavesCardAndTableAsTheyWere) {
  const auto before = rig.Snapshot();
  const std::vector<uint32_t> fat = v.Fat;
  std::string record = FileRecord("CUT", Pattern(3000));
  record.resize(512 + 1500);
  const std::string path = rig.dir.File("cut.bin");
  { std::ofstream(path, std::ios::binary) << record; }
  try {
    (void)WriteFileFromPath(v, path, RootDirectory());
    ADD_FAILURE() << "no InOutError";
  } catch (const InOutError& e) {
    EXPECT_EQ(e.file(), path);
  }
  EXPECT_EQ(rig.Snapshot(), before);
  EXPECT_EQ(v.Fat, fat);
  EXPECT_EQ(rig.cache.SlotCount(), 0);

  std::istringstream header_only(record.substr(0, 100));
  EXPECT_THROW((void)WriteFileFromStream(v, header_only, RootDirectory()), InOutError);
  TfileIP d = RootDirectory();
  uint32_t count = 0;
  std::istringstream no_dots(FolderRecord("SAVE", 2).substr(0, 700));
  EXPECT_THROW((void)CreateFolderFromStream(v, no_dots, d, count), InOutError);
  EXPECT_EQ(rig.Snapshot(), before);

  // The whole file goes in and reaches the card; a missing one is refused.
  // (The mount drops what the failed stream operations staged.)
  ASSERT_TRUE(v.Mount());
  { std::ofstream(path, std::ios::binary) << FileRecord("WHOLE", Pattern(1500)); }
  ASSERT_TRUE(WriteFileFromPath(v, path, RootDirectory()));
  EXPECT_EQ(rig.cache.SlotCount(), 0);
  EXPECT_EQ(LengthOnCard(rig, 1, 0), 1500u);
  EXPECT_FALSE(WriteFileFromPath(v, rig.dir.File("missing.bin"), RootDirectory()));
}

TEST_F(FileOps, LoopingChainsEndWithCardErrorAndChangeNothing) {
  // A file whose chain runs 2 -> 3 -> 2, and one whose cluster is off the table.
  SetFatOnCard(rig, 0, 0x80000001);
  SetFatOnCard(rig, 1, kChainEnd);
  SetFatOnCard(rig, 2, 0x80000003);
  SetFatOnCard(rig, 3, 0x80000002);
  PutEntry(rig, 1, 0, MakeEntry(kFileMode, 3000, 2, "LOOP"));
  PutEntry(rig, 1, 512, MakeEntry(kFileMode, 10, 9000, "STRAY"));
  ASSERT_TRUE(v.Mount());
  const TfileIP loop = Find("LOOP");
  const TfileIP stray = Find("STRAY");

  ChainReader chain(v, 2);
  std::array<uint8_t, 1024> b{};
  int clusters = 0;
  EXPECT_THROW(while (chain.Next(b.data()))++ clusters, CardError);
  EXPECT_EQ(clusters, 2);
  std::ostringstream out;
  EXPECT_THROW((void)ExportEntry(v, out, loop), CardError);
  EXPECT_THROW((void)ExportEntry(v, out, stray), CardError);
  EXPECT_THROW((void)ExportFileToPath(v, rig.dir.File("loop.bin"), loop), CardError);
  EXPECT_FALSE(std::filesystem::exists(rig.dir.File("loop.bin")));

  const auto before = rig.Snapshot();
  const std::vector<uint32_t> fat = v.Fat;
  EXPECT_THROW((void)DeleteFile(v, loop), CardError);
  EXPECT_EQ(rig.Snapshot(), before);
  EXPECT_EQ(v.Fat, fat);
  EXPECT_EQ(rig.cache.SlotCount(), 0);

  // The root's own chain looping back to its first cluster.
  SetFatOnCard(rig, 1, 0x80000000);
  ASSERT_TRUE(v.Mount());
  FreeSlot slot;
  EXPECT_THROW((void)CountEntries(v, RootDirectory()), CardError);
  EXPECT_THROW((void)FindFreeSlot(v, RootDirectory(), slot), CardError);
}

}  // namespace
}  // namespace travosk::card
