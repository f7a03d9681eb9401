// The adapter fails at every transaction of a save append, a save delete, a
// replace and the write-back of an edited save, once unplugged and once gone
// silent. No case may claim success, touch the card before the commit's
// first change, throw anything but the system's own errors, or wait. After
// each fault and a new mount (which completes or discards an interrupted
// rewrite through the backup blocks) no save may be harmed: every save but
// the one written is byte for byte as before, and the one written is wholly
// old, wholly new or absent; a card left with findings is repaired and must
// then check healthy.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>

#include "card/fileip.h"
#include "manager/savereplace.h"
#include "support/fault_rig.h"

namespace travosk {
namespace {

using manager::ArchiveFile;
using support::ExpectNoFinding;
using support::FaultOperation;
using support::FaultTally;
using support::ManagerRig;

std::string Pattern(size_t n, uint8_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 31 + (i >> 7));
  return s;
}

const std::string kKeepName = "BASLUS-20001KEEP";
const std::vector<ArchiveFile> kKeepFiles = {{"icon.sys", Pattern(964, 1)},
                                             {"KEEP", Pattern(5000, 2)}};
const std::string kEditName = "BESLES-50002EDIT";
const std::vector<ArchiveFile> kEditFiles = {
    {"icon.sys", Pattern(964, 3)}, {"SAVE", Pattern(2500, 4)}, {"SYS", Pattern(300, 5)}};

// The card that every case of this file starts from: two saves on it.
void PopulateCard(ManagerRig& rig) {
  ASSERT_TRUE(rig.AddSave(kKeepName, kKeepFiles));
  ASSERT_TRUE(rig.AddSave(kEditName, kEditFiles));
}

// Judges the cases by the saves: `written` may be old, new or absent, every
// other save must be as on the template card.
struct SaveJudge {
  SaveJudge(ManagerRig& rig, std::string written) : rig(rig), written(std::move(written)) {}
  FaultOperation& Attach(FaultOperation& op) {
    before = support::PS2Saves(rig).value();
    op.after_clean_run = [this] { after = support::PS2Saves(rig).value(); };
    op.verdict = [this] { return support::JudgePS2(rig, before, after, written); };
    return op;
  }
  ManagerRig& rig;
  std::string written;
  support::SaveMap before, after;
};

// The save of that name on the card holds exactly these files, byte for byte.
bool SaveHolds(ManagerRig& rig, const std::string& name, const std::vector<ArchiveFile>& files) {
  std::map<std::string, card::TfileIP> found;
  bool in_save = false;
  auto& m = rig.mgr;
  m.OnAddrootNode = [&](card::TfileIP& x) { in_save = x.Dir && !x.Deleted && x.Name == name; };
  m.OnAddChildNode = [&](card::TfileIP& x) {
    if (in_save && !x.Dir && !x.Deleted) found[x.Name] = x;
  };
  const bool catalogued = m.Catalog();
  m.OnAddrootNode = nullptr;
  m.OnAddChildNode = nullptr;
  if (!catalogued || found.size() != files.size()) return false;
  const std::string out = rig.dir.File("exported.bin");
  for (const auto& f : files) {
    auto it = found.find(f.name);
    if (it == found.end() || it->second.Length() != f.data.size()) return false;
    if (!m.ExportFile(out, it->second)) return false;
    const std::string bytes = support::ReadFileBytes(out);
    if (bytes.size() < 512 + f.data.size() || bytes.compare(512, f.data.size(), f.data) != 0)
      return false;
  }
  std::remove(out.c_str());
  return true;
}

TEST(FaultInjection, AppendingASaveFailsVisiblyAtEveryTransaction) {
  ManagerRig rig;
  PopulateCard(rig);
  // Several files and the whole allocation table: the commit writes several
  // erase blocks, so faults land between blocks as well as inside one.
  const std::string name = "BASLUS-20003NEW";
  const std::vector<ArchiveFile> files = {
      {"icon.sys", Pattern(964, 7)}, {"DATA0", Pattern(3000, 8)}, {"DATA1", Pattern(1500, 9)}};
  const std::string archive = rig.WriteArchive("new.psu", name, files);
  card::TfileIP root;
  SaveJudge judge(rig, name);
  FaultOperation op{.name = "append",
                    .prepare =
                        [&] {
                          root = card::RootDirectory();
                          return rig.mgr.Catalog();
                        },
                    .run = [&] { return rig.mgr.AppendSaveArchive(archive, root).done; }};
  ExpectNoFinding(support::RunFaultCases(rig, judge.Attach(op)));
  // The rig is back on the template: the clean run's save is not on it.
  EXPECT_FALSE(SaveHolds(rig, name, files));
  EXPECT_TRUE(SaveHolds(rig, kEditName, kEditFiles));
}

TEST(FaultInjection, DeletingASaveFailsVisiblyAtEveryTransaction) {
  ManagerRig rig;
  PopulateCard(rig);
  card::TfileIP folder;
  SaveJudge judge(rig, kEditName);
  FaultOperation op{.name = "delete",
                    .prepare = [&] { return rig.FindFolder(kEditName, folder); },
                    .run = [&] { return rig.mgr.DeleteSaveFolder(folder).done; }};
  ExpectNoFinding(support::RunFaultCases(rig, judge.Attach(op)));
}

// Writes `archive` back over the edit save at every fault. Whatever the fault
// cut short, one of the two saves is whole on the card, or the old one is
// whole in its backup file.
void ExpectWriteBackNeverLosesTheSave(ManagerRig& rig, const std::string& name,
                                      const std::string& archive,
                                      const std::vector<ArchiveFile>& edited) {
  const std::string backup = rig.dir.File("backup.psu");
  card::TfileIP folder;
  auto prepare = [&] {
    std::filesystem::remove(backup);
    return rig.FindFolder(kEditName, folder);
  };
  // What the backup of the old save holds, for the cases that keep it.
  ASSERT_TRUE(prepare());
  ASSERT_TRUE(rig.mgr.BackupSaveFolder(backup, folder));
  const std::string old_backup = support::ReadFileBytes(backup);

  SaveJudge judge(rig, kEditName);
  FaultOperation op{
      .name = name,
      .prepare = prepare,
      .run =
          [&] {
            return manager::ReplaceSave(rig.mgr, archive, folder, backup) ==
                   manager::ReplaceResult::kDone;
          },
      .claim_holds =
          [&] { return SaveHolds(rig, kEditName, edited) && support::PS2CardHealthy(rig); }};
  judge.Attach(op);
  const auto verdict = op.verdict;
  op.verdict = [&, verdict] {
    // A save absent from the card must be whole in its backup file.
    const bool kept = SaveHolds(rig, kEditName, edited) || SaveHolds(rig, kEditName, kEditFiles) ||
                      support::ReadFileBytes(backup) == old_backup;
    EXPECT_TRUE(kept) << "the edited save is lost";
    return verdict();
  };
  ExpectNoFinding(support::RunFaultCases(rig, op));
}

TEST(FaultInjection, WritingBackAnEditedSaveNeverLosesIt) {
  ManagerRig rig;
  PopulateCard(rig);
  // The edited save: one file grows by two clusters, one changes in place.
  std::vector<ArchiveFile> edited = kEditFiles;
  edited[1].data = Pattern(4600, 11);
  edited[2].data = Pattern(300, 12);
  const std::string archive = rig.WriteArchive("edited.psu", kEditName, edited);
  ExpectWriteBackNeverLosesTheSave(rig, "edit write-back", archive, edited);
}

TEST(FaultInjection, WritingBackAnEditOfDataBytesNeverLosesIt) {
  ManagerRig rig;
  PopulateCard(rig);
  // The hex editor's usual case: bytes of a file changed, no header touched.
  // The new bytes go over the old ones where they lie.
  card::TfileIP folder;
  ASSERT_TRUE(rig.FindFolder(kEditName, folder));
  const std::string original = rig.dir.File("original.psu");
  ASSERT_TRUE(rig.mgr.BackupSaveFolder(original, folder));
  std::string bytes = support::ReadFileBytes(original);
  // SAVE's data: after the folder's three records and icon.sys (header and
  // one block), SAVE's header.
  const size_t save_data = 512 * 3 + 512 + 1024 + 512;
  // Its second cluster alone: one erase block, rewritten whole or not at all.
  // Then its second and third: two blocks, which go through delete and
  // append so that the save is never half old and half new.
  for (const size_t end : {size_t{2048}, size_t{2500}}) {
    std::string changed = bytes;
    for (size_t i = 1024; i < end; i += 97) changed[save_data + i] ^= 0x3C;
    const std::string archive = rig.dir.File("edited.psu");
    support::WriteFileBytes(archive, changed);
    std::vector<ArchiveFile> edited = kEditFiles;
    edited[1].data = changed.substr(save_data, 2500);
    ExpectWriteBackNeverLosesTheSave(
        rig, end == 2048 ? "edit write-back in place" : "edit write-back over two blocks", archive,
        edited);
  }
}

}  // namespace
}  // namespace travosk
