// Faults after which the session goes on: one transfer that fails once while
// the adapter stays plugged (a page write, an erase, a read, the commit's
// read-back), and an unplug or silence after which the adapter is plugged
// back in. Each operation is faulted at every transaction, then the next
// command of the session runs on the same link
// (a restore of another save), and only then is the card mounted afresh and
// judged by the bytes of every save: the one written wholly old, wholly new or
// absent (and as the operation reported), the next command's save whole when
// it reported success, every other save unchanged, no two folders of a name.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <set>

#include "card/checker.h"
#include "card/fileip.h"
#include "card/volume.h"
#include "common/bytes.h"
#include "manager/savereplace.h"
#include "support/fault_rig.h"

namespace travosk {
namespace {

using manager::ArchiveFile;
using manager::ReplaceResult;
using support::ManagerRig;
using support::SaveMap;

std::string Pattern(size_t n, uint8_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 29 + (i >> 6));
  return s;
}

const std::string kKeep = "BASLUS-20001KEEP";
const std::string kEdit = "BESLES-50002EDIT";
const std::string kNext = "BASLUS-20009NEXT";
const std::vector<ArchiveFile> kEditFiles = {{"icon.sys", Pattern(964, 3)},
                                             {"SAVE", Pattern(2500, 4)}};

// What an operation told its user about the save it writes.
enum class Told { kNew, kOld, kFailed };

struct SessionOp {
  std::string name;
  std::set<std::string> written;  // saves that may be old, new or absent
  std::function<bool()> prepare;  // on the fresh card, before the fault
  std::function<Told()> run;
  // A save that reached the card whole after one failed transfer must be
  // reported as written (a failed confirmation is no failed write).
  bool tells_what_landed = false;
};

// A failed read-back is one of the transfers that may fail once; unplug and
// silence are followed by the adapter coming back, as a user plugs it in
// again, and the session goes on without a new catalogue.
enum class Fault { kFailOnce, kUnplug, kSilent };
const char* FaultName(Fault f) {
  switch (f) {
    case Fault::kFailOnce:
      return "one failed transfer";
    case Fault::kUnplug:
      return "an unplug";
    case Fault::kSilent:
      return "silence";
  }
  return "";
}

struct Tally {
  std::map<std::string, uint64_t> cases;
  uint64_t harmed = 0;
};

// Runs op at every fault, then the next command, and judges the card.
Tally RunSessionFaults(ManagerRig& rig, const SessionOp& op) {
  const std::vector<uint8_t> image = rig.Snapshot();
  const std::string next_archive = rig.WriteArchive(
      "next.psu", kNext, {{"icon.sys", Pattern(964, 9)}, {"NEXT", Pattern(3100, 10)}});
  auto next = [&] {
    card::TfileIP root = card::RootDirectory();
    return rig.mgr.AppendSaveArchive(next_archive, root).done;
  };
  auto fresh = [&] {
    support::RestoreImage(rig, image);
    support::Reconnect(rig);
    return op.prepare();
  };
  Tally tally;
  // The saves before, after a clean run, and the next command's save.
  const SaveMap before = support::PS2Saves(rig).value();
  EXPECT_TRUE(fresh());
  rig.adapter().ResetCounters();
  EXPECT_EQ(op.run(), Told::kNew) << op.name << ": the clean run fails";
  const uint64_t transactions = rig.adapter().counters().transactions;
  EXPECT_TRUE(next());
  const SaveMap after = support::PS2Saves(rig).value();

  // A read that comes back with other bytes cannot be told from data
  // (fault_corrupt_read_test.cpp).
  for (Fault fault : {Fault::kFailOnce, Fault::kUnplug, Fault::kSilent}) {
    for (uint64_t k = 0; k < transactions; ++k) {
      const std::string where = op.name + " with " + FaultName(fault) + " at " +
                                std::to_string(k) + " of " + std::to_string(transactions);
      if (!fresh()) {
        ADD_FAILURE() << where << ": the preparation fails";
        continue;
      }
      if (fault == Fault::kFailOnce)
        rig.adapter().FailOnceAfter(k);
      else if (fault == Fault::kUnplug)
        rig.adapter().UnplugAfter(k);
      else
        rig.adapter().SilentAfter(k);
      ++tally.cases[FaultName(fault)];
      const Told told = op.run();
      if (fault != Fault::kFailOnce) support::Replug(rig.session);
      const bool next_done = next();
      support::Reconnect(rig);
      const auto now = support::PS2Saves(rig);
      std::string why;
      if (!now) {
        why = "the card cannot be listed";
      } else {
        for (const auto& [name, bytes] : *now) {
          if (name == kNext) continue;
          if (op.written.count(name)) {
            const auto b = before.find(name);
            const auto a = after.find(name);
            const bool is_old = b != before.end() && b->second == bytes;
            const bool is_new = a != after.end() && a->second == bytes;
            if (!is_old && !is_new) why = name + " is neither old nor new";
            if (told == Told::kNew && !is_new) why = name + " was said written but is not new";
            if (told == Told::kOld && !is_old) why = name + " was said kept but is not old";
            if (op.tells_what_landed && fault == Fault::kFailOnce && is_new && !is_old &&
                told != Told::kNew)
              why = name + " was written but reported as not";
          } else if (!before.count(name) || before.at(name) != bytes) {
            why = name + " should not be there or changed";
          }
        }
        for (const auto& [name, bytes] : before)
          if (!op.written.count(name) && !now->count(name)) why = name + " is gone";
        for (const auto& name : op.written)
          if (told == Told::kOld && before.count(name) && !now->count(name))
            why = name + " was said kept but is gone";
        const auto n = now->find(kNext);
        if (n != now->end() ? n->second != after.at(kNext) : next_done)
          why = "the next command's save is not as written";
        for (const auto& f : card::CheckFileSystem(rig.mgr.Volume()).findings)
          if (f.kind != card::CheckFinding::Kind::kLostCluster && why.empty())
            why = std::string("the card shows a ") + card::KindName(f.kind) + ": " + f.what;
      }
      if (!why.empty()) {
        if (++tally.harmed <= 8) ADD_FAILURE() << where << ": " << why;
      }
    }
  }
  support::RestoreImage(rig, image);
  support::Reconnect(rig);
  std::cout << "session faults: ";
  const char* sep = "";
  for (const auto& [kind, n] : tally.cases) {
    std::cout << sep << kind << " " << n << " cases";
    sep = ", ";
  }
  std::cout << "; saves harmed: " << tally.harmed << " [" << op.name << ": N " << transactions
            << "]\n";
  return tally;
}

class SessionFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig.AddSave(kKeep, {{"icon.sys", Pattern(964, 1)}, {"KEEP", Pattern(4000, 2)}}));
    ASSERT_TRUE(rig.AddSave(kEdit, kEditFiles));
  }
  Told Replace(const std::string& archive) {
    std::filesystem::remove(backup);
    switch (manager::ReplaceSave(rig.mgr, archive, folder, backup)) {
      case ReplaceResult::kDone:
        return Told::kNew;
      case ReplaceResult::kFailedRestored:
      case ReplaceResult::kNoRoom:
      case ReplaceResult::kBackupFailed:
        return Told::kOld;
      case ReplaceResult::kFailedLost:
        break;
    }
    return Told::kFailed;
  }
  ManagerRig rig;
  card::TfileIP folder;
  std::string backup = rig.dir.File("kept.psu");
};

TEST_F(SessionFaults, AnInPlaceEditSurvivesAFailedTransferAndTheNextCommand) {
  // Bytes of SAVE's second cluster changed: one erase block rewritten in place.
  ASSERT_TRUE(rig.FindFolder(kEdit, folder));
  const std::string original = rig.dir.File("original.psu");
  ASSERT_TRUE(rig.mgr.BackupSaveFolder(original, folder));
  std::string bytes = support::ReadFileBytes(original);
  const size_t save_data = 512 * 3 + 512 + 1024 + 512;
  for (size_t i = 1024; i < 2048; i += 37) bytes[save_data + i] ^= 0x5A;
  const std::string archive = rig.dir.File("edited.psu");
  support::WriteFileBytes(archive, bytes);
  const SessionOp op{.name = "in-place edit",
                     .written = {kEdit},
                     .prepare = [&] { return rig.FindFolder(kEdit, folder); },
                     .run = [&] { return Replace(archive); },
                     .tells_what_landed = true};
  EXPECT_EQ(RunSessionFaults(rig, op).harmed, 0u);
}

TEST_F(SessionFaults, RestoreOverwriteSurvivesAFailedTransferAndTheNextCommand) {
  const std::string archive = rig.WriteArchive(
      "other.psu", kEdit, {{"icon.sys", Pattern(964, 5)}, {"SAVE", Pattern(5200, 6)}});
  const SessionOp op{.name = "restore --overwrite",
                     .written = {kEdit},
                     .prepare = [&] { return rig.FindFolder(kEdit, folder); },
                     .run = [&] { return Replace(archive); },
                     .tells_what_landed = true};
  EXPECT_EQ(RunSessionFaults(rig, op).harmed, 0u);
}

// A set delete as the window runs it: the second save's delete follows the
// first on the same link, whatever the first's fault left behind.
TEST_F(SessionFaults, ASetDeleteSurvivesAFailedTransferAndTheNextCommand) {
  card::TfileIP keep;
  const SessionOp set_delete{
      .name = "set delete",
      .written = {kEdit, kKeep},
      .prepare = [&] { return rig.FindFolder(kEdit, folder) && rig.FindFolder(kKeep, keep); },
      .run =
          [&] {
            // As the window deletes a set: no catalogue between the saves.
            const bool first = rig.mgr.DeleteSaveFolder(folder).done;
            const bool second = rig.mgr.DeleteSaveFolder(keep).done;
            return first && second ? Told::kNew : Told::kFailed;
          }};
  EXPECT_EQ(RunSessionFaults(rig, set_delete).harmed, 0u);
}

TEST_F(SessionFaults, ARestoreSurvivesAFailedTransferAndTheNextCommand) {
  const std::string archive = rig.WriteArchive(
      "new.psu", "BASLUS-20005NEW", {{"icon.sys", Pattern(964, 7)}, {"NEW", Pattern(2900, 8)}});
  card::TfileIP root;
  const SessionOp restore{.name = "restore",
                          .written = {"BASLUS-20005NEW"},
                          .prepare =
                              [&] {
                                root = card::RootDirectory();
                                return rig.mgr.Catalog();
                              },
                          .run = [&] {
                            return rig.mgr.AppendSaveArchive(archive, root) ? Told::kNew
                                                                            : Told::kFailed;
                          }};
  EXPECT_EQ(RunSessionFaults(rig, restore).harmed, 0u);
}

// The data bytes of relative cluster c as the card image holds them.
std::string ClusterBytes(ManagerRig& rig, uint32_t c) {
  const auto image = rig.medium().bytes();
  const uint32_t page = 2 * (load_le32(image, 0x34) + c);
  std::string out;
  for (uint32_t p = page; p < page + 2; ++p)
    out.append(reinterpret_cast<const char*>(image.data()) + size_t(p) * 528, 512);
  return out;
}

TEST(SessionFaultsOnDamage, AFailedDeleteLeaksNoTableChangeIntoTheNextCommand) {
  ManagerRig rig;
  const std::string loop = "BASLUS-20007LOOP";
  ASSERT_TRUE(rig.AddSave(loop, {{"icon.sys", Pattern(964, 1)}, {"DATA", Pattern(3000, 2)}}));
  ASSERT_TRUE(rig.AddSave(kKeep, {{"icon.sys", Pattern(964, 3)}, {"KEEP", Pattern(2000, 4)}}));
  // The files of the damaged save, as the catalogue lists them.
  std::map<std::string, card::TfileIP> files;
  bool in_loop = false;
  rig.mgr.OnAddrootNode = [&](card::TfileIP& x) { in_loop = x.Dir && x.Name == loop; };
  rig.mgr.OnAddChildNode = [&](card::TfileIP& x) {
    if (in_loop && !x.Dir) files[x.Name] = x;
  };
  ASSERT_TRUE(rig.mgr.Catalog());
  rig.mgr.OnAddrootNode = nullptr;
  rig.mgr.OnAddChildNode = nullptr;
  ASSERT_EQ(files.size(), 2u);
  const auto icon = static_cast<uint32_t>(files["icon.sys"].RelatCluster);
  const auto data = static_cast<uint32_t>(files["DATA"].RelatCluster);
  // DATA's chain loops from its second cluster back to its first.
  const uint32_t second = support::PeekFat(rig.medium().bytes(), data) & card::kNextMask;
  support::PokeFat(rig.medium().bytes(), second, data | card::kInUse);
  support::Reconnect(rig);
  const std::string icon_bytes = ClusterBytes(rig, icon);

  // A set delete as the window runs it: both saves from one catalogue.
  card::TfileIP damaged, keep;
  ASSERT_TRUE(rig.FindFolder(loop, damaged));
  ASSERT_TRUE(rig.FindFolder(kKeep, keep));
  EXPECT_FALSE(rig.mgr.DeleteSaveFolder(damaged));
  EXPECT_TRUE(rig.mgr.DeleteSaveFolder(keep));
  // The failed delete freed nothing: icon.sys keeps its cluster through the
  // next commit and the restore after it.
  EXPECT_TRUE(support::PeekFat(rig.medium().bytes(), icon) & card::kInUse);
  ASSERT_TRUE(rig.AddSave("BASLUS-20008NEW", {{"icon.sys", Pattern(964, 5)},
                                              {"NEW", Pattern(6000, 6)}}));
  EXPECT_TRUE(support::PeekFat(rig.medium().bytes(), icon) & card::kInUse);
  EXPECT_TRUE(ClusterBytes(rig, icon) == icon_bytes) << "icon.sys was written over";
}

}  // namespace
}  // namespace travosk
