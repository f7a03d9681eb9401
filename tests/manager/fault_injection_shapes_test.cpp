// The append and delete fault cases again, on the card shapes where a commit
// order that holds on a fresh card can fail: a root directory whose slots
// are all taken (the new entry needs a new directory cluster), free space
// only in holes between other saves (the new save's blocks hold other saves'
// data too), saves whose table entries lie in different table blocks, a
// 16 MB and a 64 MB card, an ECC-less image, and a SmartMedia of 32-page erase blocks
// (the table shares block 0 with the superblock, so every commit rewrites
// block 0). The judge is the saves' bytes after a new mount, as in the
// other fault suites.
//
// The shapes whose commits take thousands of transactions fault at every
// transaction up to the first change and at every few past it (the summary
// lines say how many); a fault between two blocks is hit either way.
#include <gtest/gtest.h>

#include "card/fileops.h"
#include "support/fault_rig.h"

namespace travosk {
namespace {

using manager::ArchiveFile;
using support::CardMedia;
using support::ExpectNoFinding;
using support::FaultOperation;
using support::ManagerRig;

std::string Pattern(size_t n, uint8_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 37 + (i >> 9));
  return s;
}

std::string SaveName(int i) { return "BASLUS-2010" + std::to_string(i) + "SHAPE"; }

// Deletes the file `file` of every save on the card that has one.
void DeleteFiles(ManagerRig& rig, const std::string& file) {
  std::vector<card::TfileIP> found;
  bool in_save = false;
  rig.mgr.OnAddrootNode = [&](card::TfileIP& x) { in_save = x.Dir && !x.Deleted; };
  rig.mgr.OnAddChildNode = [&](card::TfileIP& x) {
    if (in_save && !x.Dir && !x.Deleted && x.Name == file) found.push_back(x);
  };
  ASSERT_TRUE(rig.mgr.Catalog());
  rig.mgr.OnAddrootNode = nullptr;
  rig.mgr.OnAddChildNode = nullptr;
  for (const auto& x : found) ASSERT_TRUE(card::DeleteFile(rig.mgr.Volume(), x));
}

// Six saves fill the root's eight slots; each had a file between its own
// and the next save's that is deleted again, so the free clusters lie in
// holes that share erase blocks with the saves around them.
void RootFullWithHoles(ManagerRig& rig) {
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(rig.AddSave(SaveName(i), {{"icon.sys", Pattern(964, static_cast<uint8_t>(i))},
                                          {"KEEP", Pattern(2500, static_cast<uint8_t>(i + 20))},
                                          {"GAP", Pattern(3100, static_cast<uint8_t>(i + 40))}}));
  }
  DeleteFiles(rig, "GAP");
}

// A save large enough that what follows it lies in the second table block
// (table entries 1,792 on), then two saves; the root's third cluster holds
// the last one alone, so deleting it frees clusters in one table block and
// ends the root's chain in another.
void TableAcrossBlocks(ManagerRig& rig) {
  ASSERT_TRUE(rig.AddSave(SaveName(0), {{"icon.sys", Pattern(964, 1)},
                                        {"BIG", Pattern(1800 * 1024, 2)}}));
  ASSERT_TRUE(rig.AddSave(SaveName(1), {{"icon.sys", Pattern(964, 3)}, {"A", Pattern(4000, 4)}}));
  ASSERT_TRUE(rig.AddSave(SaveName(2), {{"icon.sys", Pattern(964, 5)}, {"B", Pattern(6000, 6)}}));
}

// Runs the append of a new save and the delete of `victim` on the rig's
// card, each judged by every save's bytes.
void AppendAndDelete(ManagerRig& rig, const std::string& shape, const std::string& victim,
                     uint64_t every = 1, uint64_t every_before = 1) {
  const std::string name = "BESLES-59999NEW";
  const std::string archive =
      rig.WriteArchive("new.psu", name,
                       {{"icon.sys", Pattern(964, 90)},
                        {"DATA0", Pattern(9000, 91)},
                        {"DATA1", Pattern(2100, 92)}});
  for (const bool appending : {true, false}) {
    const std::string written = appending ? name : victim;
    support::SaveMap before = support::PS2Saves(rig).value(), after;
    card::TfileIP target;
    FaultOperation op{
        .name = appending ? "append" : "delete",
        .shape = shape,
        .every = every,
        .every_before = every_before,
        .prepare =
            [&] {
              if (!appending) return rig.FindFolder(victim, target);
              target = card::RootDirectory();
              return rig.mgr.Catalog();
            },
        .run =
            [&] {
              return appending ? rig.mgr.AppendSaveArchive(archive, target).done
                               : rig.mgr.DeleteSaveFolder(target).done;
            },
        .verdict = [&] { return support::JudgePS2(rig, before, after, written); },
        .after_clean_run = [&] { after = support::PS2Saves(rig).value(); }};
    ExpectNoFinding(support::RunFaultCases(rig, op));
  }
}

TEST(FaultInjectionShapes, RootDirectoryFullAndFreeSpaceInHoles) {
  ManagerRig rig;
  RootFullWithHoles(rig);
  AppendAndDelete(rig, "root directory full, free space in holes", SaveName(3));
}

TEST(FaultInjectionShapes, TableChangesInDifferentTableBlocks) {
  ManagerRig rig;
  TableAcrossBlocks(rig);
  AppendAndDelete(rig, "table across blocks, fragmented chains", SaveName(2));
}

TEST(FaultInjectionShapes, SixteenMegabyteCard) {
  ManagerRig rig({.megabytes = 16});
  TableAcrossBlocks(rig);
  AppendAndDelete(rig, "16 MB card", SaveName(2), 2);
}

// Every page command of a 64 MB card past page 65,535 carries a third
// address byte; the backup blocks lie there, so a crash between the steps of
// a protected rewrite must recover through them.
TEST(FaultInjectionShapes, SixtyFourMegabyteCard) {
  ManagerRig rig({.megabytes = 64});
  RootFullWithHoles(rig);
  AppendAndDelete(rig, "64 MB card", SaveName(3), 3, 40);
}

TEST(FaultInjectionShapes, ImageWithoutEcc) {
  ManagerRig rig({.ecc = false});
  RootFullWithHoles(rig);
  AppendAndDelete(rig, "ECC-less image", SaveName(3), 2);
}

TEST(FaultInjectionShapes, SmartMediaWith32PageBlocks) {
  ManagerRig rig({.media = CardMedia::kSmartMedia, .megabytes = 16});
  RootFullWithHoles(rig);
  AppendAndDelete(rig, "SmartMedia, 32-page blocks", SaveName(3), 3);
}

}  // namespace
}  // namespace travosk
