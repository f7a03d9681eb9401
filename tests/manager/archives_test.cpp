// Save archives: backups that restore byte for byte, archives of other tools,
// refused headers, and replacing a save without ever losing the old one.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "card/checker.h"
#include "common/bytes.h"
#include "common/errors.h"
#include "manager/findsave.h"
#include "manager/savereplace.h"
#include "support/manager_fixture.h"

namespace travosk {
namespace {

using manager::ArchiveFile;
using support::ManagerRig;
using support::ReadFileBytes;
using support::WriteFileBytes;

std::string Pattern(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + seed * 7) & 0xFF);
  return s;
}

// Headers equal except the card's cluster and entry-index fields (16..23).
void ExpectSameHeader(const std::string& a, const std::string& b, size_t at) {
  EXPECT_EQ(a.substr(at, 16), b.substr(at, 16)) << "at " << at;
  EXPECT_EQ(a.substr(at + 24, 512 - 24), b.substr(at + 24, 512 - 24)) << "at " << at;
}

TEST(SaveArchive, BackupRestoresByteForByteOnAFreshCard) {
  const std::vector<ArchiveFile> files = {
      {"icon.sys", Pattern(964, 1)}, {"EMPTY", ""}, {"ONE", "x"}, {"BIG", Pattern(70000, 2)}};
  ManagerRig source;
  ASSERT_TRUE(source.AddSave("BESLES-12345GAME", files));
  card::TfileIP folder;
  ASSERT_TRUE(source.FindFolder("BESLES-12345GAME", folder));
  const std::string backup = source.dir.File("backup.psu");
  ASSERT_TRUE(source.mgr.BackupSaveFolder(backup, folder));
  const std::string original = ReadFileBytes(source.dir.File("BESLES-12345GAME.psu"));
  const std::string written = ReadFileBytes(backup);

  // Same layout as the archive it came from: headers equal but for the card's
  // own cluster fields, data equal, padding zero.
  ASSERT_EQ(written.size(), original.size());
  ExpectSameHeader(written, original, 0);
  size_t at = 512 * 3;
  for (const auto& f : files) {
    ExpectSameHeader(written, original, at);
    at += 512;
    const size_t padded = (f.data.size() + 1023) / 1024 * 1024;
    EXPECT_EQ(written.substr(at, f.data.size()), f.data) << f.name;
    at += padded;
  }

  ManagerRig target;
  ASSERT_TRUE(target.mgr.Catalog());
  card::TfileIP root = card::RootDirectory();
  ASSERT_TRUE(target.mgr.AppendSaveArchive(backup, root));
  card::TfileIP restored;
  ASSERT_TRUE(target.FindFolder("BESLES-12345GAME", restored));
  const std::string again = target.dir.File("again.psu");
  ASSERT_TRUE(target.mgr.BackupSaveFolder(again, restored));
  EXPECT_EQ(ReadFileBytes(again).size(), written.size());
  ExpectSameHeader(ReadFileBytes(again), written, 0);
  ASSERT_TRUE(target.mgr.Volume().Mount());
  EXPECT_TRUE(card::CheckFileSystem(target.mgr.Volume()).Healthy());
}

TEST(SaveArchive, AnEmptySaveFolderIsCreatedAndCommitted) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("EMPTYSAVE", {}));
  card::TfileIP folder;
  ASSERT_TRUE(rig.FindFolder("EMPTYSAVE", folder));
  EXPECT_EQ(folder.Length(), 2u);
}

TEST(SaveArchive, RefusedHeadersLeaveTheCardUnchanged) {
  ManagerRig rig;
  const std::string good = manager::BuildSaveArchive("SAVE", {{"A", "data"}}, 0);
  struct Case {
    const char* what;
    size_t at;
    uint8_t value;
  };
  const std::vector<Case> cases = {
      {"reserved bytes 2..3 of the folder header", 2, 1},
      {"a folder header without the directory bit", 0, 0x17},
      {"a folder length of 1", 4, 1},
      {"a file header that is a folder", 1536 + 0, 0x27},
      {"a file header with bytes 2..3 set", 1536 + 3, 0x80},
  };
  ASSERT_TRUE(rig.mgr.Catalog());
  const auto before = rig.Snapshot();
  for (const auto& c : cases) {
    std::string bad = good;
    bad[c.at] = static_cast<char>(c.value);
    const std::string path = rig.dir.File("bad.psu");
    WriteFileBytes(path, bad);
    ASSERT_TRUE(rig.mgr.Catalog());
    card::TfileIP root = card::RootDirectory();
    EXPECT_FALSE(rig.mgr.AppendSaveArchive(path, root)) << c.what;
    EXPECT_EQ(rig.Snapshot(), before) << c.what;
  }
  for (const char* name : {".", ".."}) {
    const std::string path = rig.dir.File("dot.psu");
    WriteFileBytes(path, manager::BuildSaveArchive(name, {}, 0));
    ASSERT_TRUE(rig.mgr.Catalog());
    card::TfileIP root = card::RootDirectory();
    EXPECT_FALSE(rig.mgr.AppendSaveArchive(path, root)) << name;
    EXPECT_EQ(rig.Snapshot(), before) << name;
  }
}

TEST(SaveArchive, ATruncatedArchiveFailsWithTheFileErrorAndCommitsNothing) {
  ManagerRig rig;
  std::string archive = manager::BuildSaveArchive("SAVE", {{"A", Pattern(5000, 3)}}, 0);
  archive.resize(archive.size() - 100);
  const std::string path = rig.dir.File("short.psu");
  WriteFileBytes(path, archive);
  ASSERT_TRUE(rig.mgr.Catalog());
  const auto before = rig.Snapshot();
  card::TfileIP root = card::RootDirectory();
  EXPECT_THROW((void)rig.mgr.AppendSaveArchive(path, root), InOutError);
  EXPECT_EQ(rig.Snapshot(), before);
  // Nothing of the failed append is waiting in the cache for a later commit.
  ASSERT_TRUE(rig.AddSave("OTHER", {{"B", "b"}}));
  card::TfileIP folder;
  EXPECT_FALSE(rig.FindFolder("SAVE", folder));
}

TEST(SaveArchive, AFullCardRefusesTheAppendAndKeepsItsContent) {
  ManagerRig rig({support::CardMedia::kSmartMedia, 4, true});
  ASSERT_TRUE(rig.mgr.Catalog());
  const auto before = rig.Snapshot();
  const std::string path =
      rig.WriteArchive("huge.psu", "HUGE", {{"DATA", Pattern(5 * 1024 * 1024, 4)}});
  card::TfileIP root = card::RootDirectory();
  EXPECT_FALSE(rig.mgr.AppendSaveArchive(path, root));
  EXPECT_EQ(rig.Snapshot(), before);
}

TEST(SaveArchive, ALinkFaultDuringBackupLeavesNoArchive) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("SAVE", {{"A", Pattern(20000, 5)}}));
  card::TfileIP folder;
  ASSERT_TRUE(rig.FindFolder("SAVE", folder));
  const std::string path = rig.dir.File("out.psu");
  WriteFileBytes(path, "previous contents");
  rig.adapter().UnplugAfter(5);
  EXPECT_FALSE(rig.mgr.BackupSaveFolder(path, folder));
  EXPECT_EQ(ReadFileBytes(path), "previous contents");
}

TEST(SaveArchive, ASaveHoldingAFolderIsNeitherBackedUpNorReplaced) {
  // Written by another tool: BESLES-60005NESTED holds a folder EXTRA with a file.
  ManagerRig rig;
  rig.LoadImage(support::PeerCard("peer_nested.ps2"));
  auto nested = manager::FindSave(rig.mgr, "BESLES-60005NESTED");
  ASSERT_TRUE(nested);
  const std::string path = rig.dir.File("nested.psu");
  EXPECT_FALSE(rig.mgr.BackupSaveFolder(path, *nested));
  EXPECT_NE(rig.mgr.LastError().find("\"EXTRA\""), std::string::npos) << rig.mgr.LastError();
  EXPECT_FALSE(std::filesystem::exists(path));

  // An overwrite (and an edit's write-back) backs the old save up first: it
  // must not delete a save whose backup would leave part of it behind.
  const auto before = rig.Snapshot();
  const std::string archive =
      rig.WriteArchive("new.psu", "BESLES-60005NESTED", {{"top.bin", Pattern(100, 3)}});
  EXPECT_EQ(manager::ReplaceSave(rig.mgr, archive, *nested, rig.dir.File("~old.psu")),
            manager::ReplaceResult::kBackupFailed);
  EXPECT_EQ(rig.Snapshot(), before);
}

TEST(ReplaceSave, ReplacesTheSaveAndKeepsTheOldOneWhenTheNewCannotBeWritten) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("SAVE", {{"OLD", Pattern(3000, 6)}}));
  auto existing = manager::FindSave(rig.mgr, "SAVE");
  ASSERT_TRUE(existing);
  const std::string fresh = rig.WriteArchive("new.psu", "SAVE", {{"NEW", Pattern(100, 7)}});
  EXPECT_EQ(manager::ReplaceSave(rig.mgr, fresh, *existing, rig.dir.File("~old.psu")),
            manager::ReplaceResult::kDone);
  card::TfileIP file;
  rig.mgr.OnAddChildNode = [&](card::TfileIP& x) {
    if (!x.Dir) file = x;
  };
  ASSERT_TRUE(rig.mgr.Catalog());
  EXPECT_EQ(file.Name, "NEW");

  // An archive that passes inspection but fails on the card: its second
  // file's header claims to be a folder.
  std::string broken = manager::BuildSaveArchive("SAVE", {{"A", "a"}, {"B", "b"}}, 0);
  broken[512 * 3 + 512 + 1024] = 0x27;
  const std::string bad = rig.dir.File("bad.psu");
  WriteFileBytes(bad, broken);
  existing = manager::FindSave(rig.mgr, "SAVE");
  ASSERT_TRUE(existing);
  EXPECT_EQ(manager::ReplaceSave(rig.mgr, bad, *existing, rig.dir.File("~old.psu")),
            manager::ReplaceResult::kFailedRestored);
  rig.mgr.OnAddChildNode = [&](card::TfileIP& x) {
    if (!x.Dir) file = x;
  };
  ASSERT_TRUE(rig.mgr.Catalog());
  EXPECT_EQ(file.Name, "NEW");
}

TEST(ReplaceSave, AnEditOfDataBytesWritesOnlyTheBlocksItChanged) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("OTHER", {{"KEEP", Pattern(5000, 1)}}));
  ASSERT_TRUE(rig.AddSave(
      "SAVE",
      {{"icon.sys", Pattern(964, 2)}, {"BIG", Pattern(40 * 1024, 3)}, {"SMALL", Pattern(300, 4)}}));
  auto existing = manager::FindSave(rig.mgr, "SAVE");
  ASSERT_TRUE(existing);
  const std::string orig = rig.dir.File("orig.psu");
  ASSERT_TRUE(rig.mgr.BackupSaveFolder(orig, *existing));
  const std::string old_bytes = ReadFileBytes(orig);
  auto other = manager::FindSave(rig.mgr, "OTHER");
  ASSERT_TRUE(other);
  const std::string other_file = rig.dir.File("other.psu");
  ASSERT_TRUE(rig.mgr.BackupSaveFolder(other_file, *other));
  const std::string other_bytes = ReadFileBytes(other_file);

  // The folder header, "." and "..", icon.sys (header and one block), then
  // BIG's header: its 21st block starts here.
  const size_t big_block20 = 512 * 3 + 512 + 1024 + 512 + 20 * 1024;
  auto replace = [&](const std::string& bytes) {
    const std::string path = rig.dir.File("edited.psu");
    WriteFileBytes(path, bytes);
    existing = manager::FindSave(rig.mgr, "SAVE");
    rig.adapter().ResetCounters();
    return manager::ReplaceSave(rig.mgr, path, *existing, rig.dir.File("~old.psu"));
  };
  auto backup_now = [&](const std::string& name) {
    auto save = manager::FindSave(rig.mgr, name);
    const std::string path = rig.dir.File("now.psu");
    return save && rig.mgr.BackupSaveFolder(path, *save) ? ReadFileBytes(path) : std::string();
  };

  // Written back unchanged: nothing reaches the card.
  EXPECT_EQ(replace(old_bytes), manager::ReplaceResult::kDone);
  EXPECT_EQ(rig.adapter().counters().blocks_erased, 0u);
  EXPECT_EQ(backup_now("SAVE"), old_bytes);

  // Two bytes in one cluster of BIG: one erase block is rewritten (through
  // the backup blocks, as it holds live data: its copy, two marker pages and
  // two more erases), the save stays where it was, and the backup file is
  // gone.
  std::string edited = old_bytes;
  edited[big_block20 + 5] ^= 0x5A;
  edited[big_block20 + 700] ^= 0x11;
  EXPECT_EQ(replace(edited), manager::ReplaceResult::kDone);
  EXPECT_EQ(rig.adapter().counters().blocks_erased, 1u + 2u);
  EXPECT_EQ(rig.adapter().counters().pages_written, 16u + 16u + 2u);
  EXPECT_FALSE(std::filesystem::exists(rig.dir.File("~old.psu")));
  EXPECT_EQ(backup_now("SAVE"), edited);
  EXPECT_EQ(backup_now("OTHER"), other_bytes);
  EXPECT_TRUE(card::CheckFileSystem(rig.mgr.Volume()).Healthy());

  // A changed header (BIG's modification time) is a different save: it goes
  // the long way, through delete and append, and still arrives whole.
  std::string restamped = edited;
  restamped[512 * 3 + 512 + 1024 + card::entry::kModified] ^= 0x01;
  EXPECT_EQ(replace(restamped), manager::ReplaceResult::kDone);
  EXPECT_GT(rig.adapter().counters().blocks_erased, 1u);
  const std::string now = backup_now("SAVE");
  ASSERT_EQ(now.size(), restamped.size());
  ExpectSameHeader(now, restamped, 512 * 3 + 512 + 1024);
  EXPECT_EQ(now.substr(512 * 3 + 512 + 1024 + 512, 40 * 1024),
            restamped.substr(512 * 3 + 512 + 1024 + 512, 40 * 1024));
  EXPECT_TRUE(card::CheckFileSystem(rig.mgr.Volume()).Healthy());
}

TEST(KeptCopyPath, NamesAFileOfItsOwnAfterTheSave) {
  support::TempDir dir;
  const std::string folder = dir.File("savers");
  const std::string first = manager::KeptCopyPath(folder, "BASLUS-21003SIZES", ".psu");
  EXPECT_EQ(first, folder + "/BASLUS-21003SIZES_1.psu");
  support::WriteFileBytes(first, "kept");
  EXPECT_EQ(manager::KeptCopyPath(folder, "BASLUS-21003SIZES", ".psu"),
            folder + "/BASLUS-21003SIZES_2.psu");
  EXPECT_EQ(support::ReadFileBytes(first), "kept");
  // A name never leads out of the folder.
  EXPECT_EQ(manager::KeptCopyPath(folder, "../X", ".PS1"), folder + "/.._X_1.PS1");
  EXPECT_EQ(manager::KeptCopyPath(folder, "", ".PS1"), folder + "/save_1.PS1");
}

TEST(ReplaceSave, ASaveThatCannotFitIsNotTriedAndTheOldOneStays) {
  ManagerRig rig({support::CardMedia::kSmartMedia, 4, true});
  ASSERT_TRUE(rig.AddSave("SAVE", {{"OLD", Pattern(3000, 8)}}));
  auto existing = manager::FindSave(rig.mgr, "SAVE");
  ASSERT_TRUE(existing);
  const auto before = rig.Snapshot();
  const std::string huge =
      rig.WriteArchive("huge.psu", "SAVE", {{"BIG", Pattern(5 * 1024 * 1024, 9)}});
  EXPECT_EQ(manager::ReplaceSave(rig.mgr, huge, *existing, rig.dir.File("~old.psu")),
            manager::ReplaceResult::kNoRoom);
  EXPECT_EQ(rig.Snapshot(), before);
}

}  // namespace
}  // namespace travosk
