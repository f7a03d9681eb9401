// The adapter fails at every transaction of the PS1 operations that write a
// card: a save download, a save delete and a whole-card download. Frame
// writes get no answer, so a silent adapter must be caught by the read that
// confirms the last frame. A save cut short is judged by the saves on the
// card: every other save as before, the one written wholly old, new or
// absent; blocks in use that no save holds are counted, not refused. The
// whole-card download is judged apart: it is destructive by nature.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>

#include "ps1_rig.h"
#include "support/fault_rig.h"

namespace travosk::manager::testing {
namespace {

using support::ExpectNoFinding;
using support::FaultTally;

// A card with a one-block save in entry 0 and a three-block save in entries
// 1, 4 and 5; entries 2, 3 and 6 on are free.
void PopulateCard(PS1Rig& rig) {
  rig.PlaceSave({0}, "BASLUS-00001ONE");
  rig.PlaceSave({1, 4, 5}, "BASLUS-00002THREE");
  ASSERT_TRUE(support::PS1DirectoryConsistent(rig.Card()));
}

// Judges by the saves: `written` may be old, new or absent.
support::FaultOperation BySaves(PS1Rig& rig, support::FaultOperation op,
                                const std::string& written) {
  auto before = std::make_shared<support::SaveMap>(support::PS1Saves(rig.Card()));
  auto after = std::make_shared<support::SaveMap>();
  op.after_clean_run = [&rig, after] { *after = support::PS1Saves(rig.Card()); };
  op.verdict = [&rig, before, after, written] {
    return support::JudgePS1(rig.Card(), *before, *after, written);
  };
  return op;
}

TEST(FaultInjection, DownloadingAPS1SaveFailsVisiblyAtEveryTransaction) {
  PS1Rig rig;
  PopulateCard(rig);
  // A ".PS1" file of three blocks: it lands in entries 2, 3 and 6.
  constexpr int kBlocks = 3;
  std::vector<uint8_t> file(kPS1FrameBytes + size_t{kPS1BlockBytes} * kBlocks);
  file[ps1dir::kState] = ps1state::kFirst;
  store_le32(file, ps1dir::kSize, kBlocks * kPS1BlockBytes);
  store_le16(file, ps1dir::kLink, kPS1LastLink);
  const std::string name = "BASLUS-00003NEW";
  std::copy(name.begin(), name.end(), file.begin() + ps1dir::kName);
  for (size_t i = kPS1FrameBytes; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 13);
  const std::string path = rig.dir.File("save.PS1");
  WriteFile(path, file);
  ExpectNoFinding(support::RunFaultCases(
      rig, BySaves(rig,
                   {.name = "PS1 save download",
                    .run = [&] { return rig.mgr.DownloadPS1Saver(path).done; }},
                   name)));
}

TEST(FaultInjection, DownloadingAPS1SaveOntoANearlyFullCard) {
  // Thirteen blocks taken, in saves whose chains jump over the two free
  // entries (5 and 11): the new save takes exactly the last two.
  PS1Rig rig;
  rig.PlaceSave({0, 1, 2}, "BASLUS-00011A");
  rig.PlaceSave({3, 4, 6, 7}, "BASLUS-00012B");
  rig.PlaceSave({8}, "BASLUS-00013C");
  rig.PlaceSave({9, 10, 12, 13, 14}, "BASLUS-00014D");
  ASSERT_TRUE(support::PS1DirectoryConsistent(rig.Card()));
  constexpr int kBlocks = 2;
  std::vector<uint8_t> file(kPS1FrameBytes + size_t{kPS1BlockBytes} * kBlocks);
  file[ps1dir::kState] = ps1state::kFirst;
  store_le32(file, ps1dir::kSize, kBlocks * kPS1BlockBytes);
  store_le16(file, ps1dir::kLink, kPS1LastLink);
  const std::string name = "BASLUS-00015FULL";
  std::copy(name.begin(), name.end(), file.begin() + ps1dir::kName);
  for (size_t i = kPS1FrameBytes; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7);
  const std::string path = rig.dir.File("full.PS1");
  WriteFile(path, file);
  ExpectNoFinding(support::RunFaultCases(
      rig, BySaves(rig,
                   {.name = "PS1 save download",
                    .shape = "nearly full card",
                    .run = [&] { return rig.mgr.DownloadPS1Saver(path).done; }},
                   name)));
}

TEST(FaultInjection, DeletingAPS1SaveFailsVisiblyAtEveryTransaction) {
  PS1Rig rig;
  PopulateCard(rig);
  ExpectNoFinding(support::RunFaultCases(
      rig,
      BySaves(rig,
              {.name = "PS1 save delete", .run = [&] { return rig.mgr.DeletePS1Saver(1).done; }},
              "BASLUS-00002THREE")));
}

TEST(FaultInjection, DownloadingAPS1CardFailsVisiblyAtEveryTransaction) {
  PS1Rig rig;
  PopulateCard(rig);
  // The card image to download: the same card with other saves on it.
  const std::vector<uint8_t> before = rig.Snapshot();
  for (int e = 0; e < kPS1Entries; ++e) rig.SetDir(e, ps1state::kDeleted, 0, kPS1LastLink, "");
  rig.PlaceSave({3, 9}, "BASLUS-00004OTHER");
  const std::string path = rig.dir.File("card.pss");
  WriteFile(path, rig.Snapshot());
  support::RestoreImage(rig, before);
  ExpectNoFinding(support::RunFaultCases(
      rig, {.name = "PS1 card download", .run = [&] { return rig.mgr.DownloadPS1Card(path); }}));
}

}  // namespace
}  // namespace travosk::manager::testing
