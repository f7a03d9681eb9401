// Saves of other formats through the card: the golden ".max" and ".psu" files
// of an independent tool restore to files equal to the ones that went into
// them, and a card save backed up as ".max" restores byte for byte.
#include <gtest/gtest.h>

#include "../formats/peer_files.h"
#include "formats/files.h"
#include "support/manager_fixture.h"

namespace travosk {
namespace {

using support::ManagerRig;
using testing::PeerFolder;
using testing::PeerSave;

formats::Ps2Save OnCard(ManagerRig& rig, const std::string& name) {
  card::TfileIP folder;
  EXPECT_TRUE(rig.FindFolder(name, folder)) << name;
  formats::Ps2Save save;
  bool isbreak = false;
  rig.mgr.ReadSaveFromCard(folder, save, isbreak);
  return save;
}

void ExpectPeerFiles(const formats::Ps2Save& save, const std::string& folder) {
  const auto expected = PeerSave(folder);
  ASSERT_EQ(save.files.size(), expected.size()) << folder;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(save.files[i].Name(), expected[i].name);
    const Bytes got = save.files[i].Content();
    EXPECT_TRUE(
        std::equal(got.begin(), got.end(), expected[i].bytes.begin(), expected[i].bytes.end()))
        << folder << "/" << expected[i].name;
  }
}

TEST(SaveFormats, GoldenSavesRestoreAndMaxBackupsRoundTrip) {
  if (PeerFolder().empty()) GTEST_SKIP() << "no golden files";
  ManagerRig rig;
  for (const std::string file :
       {"BESLES-60001ALPHA.max", "BASLUS-60002BETA.max", "BISLPS-60003GAMMA.psu"}) {
    const std::string name = file.substr(0, file.find('.'));
    ASSERT_TRUE(rig.mgr.Catalog());
    card::TfileIP root = card::RootDirectory();
    ASSERT_TRUE(rig.mgr.AppendSaveArchive(PeerFolder() + "/" + file, root)) << file;
    ExpectPeerFiles(OnCard(rig, name), name);

    // Card -> ".max" -> another card keeps every file byte.
    card::TfileIP folder;
    ASSERT_TRUE(rig.FindFolder(name, folder));
    const std::string max = rig.dir.File(name + ".max");
    ASSERT_TRUE(rig.mgr.BackupSaveFolder(max, folder));
    EXPECT_EQ(formats::DetectSaveFormat(testing::ReadAll(max), "x"), formats::SaveFormat::kMax);
    ManagerRig other;
    ASSERT_TRUE(other.mgr.Catalog());
    card::TfileIP other_root = card::RootDirectory();
    ASSERT_TRUE(other.mgr.AppendSaveArchive(max, other_root));
    ExpectPeerFiles(OnCard(other, name), name);
  }
}

TEST(SaveFormats, DamagedMaxLeavesTheCardAsItWas) {
  if (PeerFolder().empty()) GTEST_SKIP() << "no golden files";
  ManagerRig rig;
  auto bytes = testing::ReadAll(PeerFolder() + "/BESLES-60001ALPHA.max");
  bytes[bytes.size() / 2] ^= 0x10;  // the CRC no longer holds
  const std::string path = rig.dir.File("damaged.max");
  support::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
  const auto before = rig.Snapshot();
  ASSERT_TRUE(rig.mgr.Catalog());
  card::TfileIP root = card::RootDirectory();
  EXPECT_FALSE(rig.mgr.AppendSaveArchive(path, root));
  EXPECT_NE(rig.mgr.LastError().find("CRC"), std::string::npos) << rig.mgr.LastError();
  EXPECT_EQ(rig.Snapshot(), before);
}

}  // namespace
}  // namespace travosk
