// End to end on a freshly formatted simulated card: saves go in through the
// file operations, the catalogue walk (root and one level, as the card
// manager walks it) reads them back through a fresh volume, and deletions
// leave the card's bytes and table as a later mount must find them.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "card/fileops.h"
#include "card/walk.h"
#include "support/card_fixture.h"
#include "support/dir_image.h"

namespace travosk::card {
namespace {

using namespace support;

struct SaveFile {
  std::string name;
  std::string data;
};

// name -> (length field, first cluster) of each listed entry, per folder;
// the root's own entries under "".
using Catalogue = std::map<std::string, std::map<std::string, std::pair<uint32_t, int32_t>>>;

// The catalogue as the card manager walks it: the root up to its count, and
// each existing folder up to the folder's count.
Catalogue Catalog(TPSFilemanager& v) {
  Catalogue out;
  TfileIP x;
  if (!v.Mount() || !ReadFirstEntry(v, x)) return out;
  const uint32_t root_count = x.Length();
  uint32_t passed = 1;
  out[""][x.Name] = {x.Length(), x.RelatCluster};
  while (passed < root_count && ReadNextEntry(v, x)) {
    ++passed;
    if (x.Deleted) continue;
    out[""][x.Name] = {x.Length(), x.RelatCluster};
    if (x.Dir != 1 || x.IsDotName()) continue;
    const uint32_t count = x.Length();
    PushPosition(v, x);
    TfileIP child;
    if (EnterDirectory(v, x) && ReadFirstEntry(v, child)) {
      uint32_t seen = 1;
      out[x.Name][child.Name] = {child.Length(), child.RelatCluster};
      while (seen < count && ReadNextEntry(v, child)) {
        ++seen;
        if (!child.Deleted) out[x.Name][child.Name] = {child.Length(), child.RelatCluster};
      }
    }
    PopPosition(v, x);
  }
  return out;
}

struct CardEndToEnd : ::testing::Test {
  CardRig rig;
  TPSFilemanager& v = rig.volume;

  void SetUp() override { ASSERT_TRUE(v.Mount()) << v.LastError(); }

  // One stream as a save archive carries it: the folder, then each file.
  void AddSave(const std::string& folder, const std::vector<SaveFile>& files) {
    std::string stream = FolderRecord(folder, static_cast<uint32_t>(files.size() + 2));
    for (const SaveFile& f : files) stream += FileRecord(f.name, f.data);
    std::istringstream in(stream);
    TfileIP d = RootDirectory();
    uint32_t count = 0;
    ASSERT_TRUE(CreateFolderFromStream(v, in, d, count));
    ASSERT_EQ(count, files.size());
    for (uint32_t i = 0; i < count; ++i) ASSERT_TRUE(WriteFileFromStream(v, in, d));
    EXPECT_EQ(in.peek(), std::char_traits<char>::eof());
  }

  // A save folder deleted as the card manager does it.
  void DeleteSave(const std::string& name) {
    TfileIP folder;
    for (const TfileIP& x : ListDirectory(v)) {
      if (x.Name == name && x.Deleted == 0) folder = x;
    }
    ASSERT_EQ(folder.Name, name);
    ASSERT_TRUE(v.Mount());
    PushPosition(v, folder);
    ASSERT_TRUE(EnterDirectory(v, folder));
    TfileIP item;
    bool more = ReadFirstEntry(v, item);
    while (more) {
      if (item.Dir == 0) DeleteEntry(v, item);
      more = ReadNextEntry(v, item);
    }
    PopPosition(v, folder);
    v.Fat[static_cast<uint32_t>(folder.RelatCluster)] &= ~kInUse;
    DeleteEntry(v, folder);
    v.StoreFat();
    StoreCountInDot(v, folder);
    rig.cache.FlushCache();
  }

  std::string Exported(const std::string& folder, const std::string& file) {
    for (const TfileIP& x : ListDirectory(v, folder)) {
      if (x.Name != file) continue;
      std::ostringstream out;
      EXPECT_TRUE(ExportEntry(v, out, x));
      return out.str().substr(512, x.Length());
    }
    ADD_FAILURE() << folder << "/" << file << " not found";
    return {};
  }
};

TEST_F(CardEndToEnd, SavesGoInListBackAndLeaveWhenDeleted) {
  const std::vector<SaveFile> first = {
      {"icon.sys", Pattern(964, 3)}, {"icon.ico", Pattern(3000, 5)}, {"empty", ""}};
  const std::vector<SaveFile> second = {{"data", Pattern(2048, 9)}};
  AddSave("BASLUS-20001", first);
  AddSave("BESLES-50000", second);
  rig.cache.FlushCache();

  // On the card: the root grew by cluster 1 for the two folder entries.
  EXPECT_EQ(LengthOnCard(rig, 0, 0), 4u);
  EXPECT_EQ(FatOnCard(rig, 0), 0x80000001u);
  EXPECT_EQ(ModeOnCard(rig, 1, 0), kFolderMode);
  EXPECT_EQ(LengthOnCard(rig, 1, 0), 5u);
  EXPECT_EQ(LengthOnCard(rig, 1, 512), 3u);
  const uint32_t second_folder = ClusterFieldOnCard(rig, 1, 512);
  EXPECT_EQ(load_le32(EntryOnCard(rig, second_folder, 0), entry::kDirEntry), 3u);

  // Through a volume that never saw the changes.
  TPSFilemanager fresh(rig.access, rig.cache);
  Catalogue cat = Catalog(fresh);
  ASSERT_EQ(cat.size(), 3u);
  EXPECT_EQ(cat[""].size(), 4u);
  ASSERT_EQ(cat["BASLUS-20001"].size(), 5u);
  EXPECT_EQ(cat["BASLUS-20001"]["icon.ico"].first, 3000u);
  EXPECT_EQ(cat["BASLUS-20001"]["empty"], std::make_pair(0u, -1));
  EXPECT_EQ(cat["BESLES-50000"]["data"].first, 2048u);
  for (const SaveFile& f : first) EXPECT_EQ(Exported("BASLUS-20001", f.name), f.data) << f.name;
  EXPECT_EQ(Exported("BESLES-50000", "data"), second[0].data);

  // Delete one file, then the whole second save.
  const uint32_t ico = static_cast<uint32_t>(cat["BASLUS-20001"]["icon.ico"].second);
  TfileIP file;
  for (const TfileIP& x : ListDirectory(v, "BASLUS-20001")) {
    if (x.Name == "icon.ico") file = x;
  }
  ASSERT_TRUE(DeleteFile(v, file));
  EXPECT_EQ(FatOnCard(rig, ico), ico + 1);  // freed, keeping its next number
  EXPECT_EQ(FatOnCard(rig, ico + 2), kFreeEntry);
  const uint32_t data_cluster = static_cast<uint32_t>(cat["BESLES-50000"]["data"].second);
  const uint32_t second_chain = FatOnCard(rig, second_folder) & 0x7FFFFFFF;
  DeleteSave("BESLES-50000");

  EXPECT_EQ(ModeOnCard(rig, 1, 512), kFolderMode & 0x7FFF);
  EXPECT_EQ(LengthOnCard(rig, 0, 0), 3u);
  for (uint32_t c : {second_folder, second_chain, data_cluster, data_cluster + 1}) {
    EXPECT_EQ(FatOnCard(rig, c) & kInUse, 0u) << c;
  }
  cat = Catalog(fresh);
  ASSERT_EQ(cat.size(), 2u);
  EXPECT_EQ(cat[""].count("BESLES-50000"), 0u);
  EXPECT_EQ(cat["BASLUS-20001"].count("icon.ico"), 0u);
  EXPECT_EQ(cat["BASLUS-20001"].size(), 4u);
  EXPECT_EQ(Exported("BASLUS-20001", "icon.sys"), first[0].data);

  // With the last save gone the card's table holds the root alone again.
  DeleteSave("BASLUS-20001");
  EXPECT_EQ(LengthOnCard(rig, 0, 0), 2u);
  EXPECT_EQ(FatOnCard(rig, 0), kChainEnd);
  for (uint32_t c = 1; c < 8135; ++c) ASSERT_EQ(FatOnCard(rig, c) & kInUse, 0u) << c;
  cat = Catalog(fresh);
  ASSERT_EQ(cat.size(), 1u);
  EXPECT_EQ(cat[""].size(), 2u);
}

}  // namespace
}  // namespace travosk::card
