// The repair mends what an interrupted write or another tool leaves, keeps
// every save's bytes, and changes nothing when it meets damage it cannot
// mend safely.
#include "card/repair.h"

#include <gtest/gtest.h>

#include "card/checker.h"
#include "common/bytes.h"
#include "support/fault_rig.h"
#include "support/manager_fixture.h"

namespace travosk {
namespace {

using Kind = card::RepairAction::Kind;
using support::ManagerRig;
using support::PokeFat;

// Two saves: A takes three clusters, B one, C two.
struct Card {
  ManagerRig rig;
  Card() {
    EXPECT_TRUE(rig.AddSave("SAVE1", {{"A", std::string(3000, 'a')}, {"B", "b"}}));
    EXPECT_TRUE(rig.AddSave("SAVE2", {{"C", std::string(2048, 'c')}}));
  }
  uint32_t FileCluster(const std::string& name) {
    uint32_t cluster = 0;
    rig.mgr.OnAddChildNode = [&](card::TfileIP& x) {
      if (x.Name == name) cluster = static_cast<uint32_t>(x.RelatCluster);
    };
    EXPECT_TRUE(rig.mgr.Catalog());
    rig.mgr.OnAddChildNode = nullptr;
    return cluster;
  }
  card::RepairPlan Plan() {
    EXPECT_TRUE(rig.mgr.Volume().Mount());
    return card::PlanRepair(rig.mgr.Volume());
  }
};

TEST(Repair, MendsLostClustersCountsAndChainsIntoFreeClustersAndKeepsEverySave) {
  Card card;
  const auto saves = support::PS2Saves(card.rig).value();
  const uint32_t a = card.FileCluster("A");
  auto image = card.rig.medium().bytes();
  PokeFat(image, 4000, 0xFFFFFFFF);
  PokeFat(image, a + 2, 0x80000000 | 5000);  // A's last cluster links on into a free one
  // The root's "." (relative cluster 0, card page 82) records 3 entries,
  // which leaves SAVE2 out.
  store_le32(image.subspan(82 * 528, 512), 4, 3);

  const auto plan = card.Plan();
  EXPECT_TRUE(plan.refusals.empty());
  ASSERT_EQ(plan.actions.size(), 3u);
  for (const auto& action : plan.actions) {
    SCOPED_TRACE(action.where + ": " + action.what);
    switch (action.kind) {
      case Kind::kFreeLost:
        EXPECT_EQ(action.cluster, 4000u);
        break;
      case Kind::kCutChain:
        EXPECT_EQ(action.where, "/SAVE1/A");
        EXPECT_EQ(action.cluster, a + 2);
        break;
      case Kind::kSetCount:
        EXPECT_EQ(action.where, "/");
        EXPECT_EQ(action.count, 4u);
        break;
    }
  }
  card::ApplyRepair(card.rig.mgr.Volume(), plan);
  EXPECT_TRUE(support::PS2CardHealthy(card.rig));
  EXPECT_EQ(support::PS2Saves(card.rig).value(), saves);
  EXPECT_EQ(support::PeekFat(card.rig.medium().bytes(), 5000), 0x7FFFFFFFu);
  EXPECT_TRUE(card.Plan().actions.empty());
}

TEST(Repair, RefusesWhatItCannotMendAndThenChangesNothing) {
  Card card;
  PokeFat(card.rig.medium().bytes(), 4000, 0xFFFFFFFF);
  // B's chain runs on into C's: two saves claim one cluster.
  PokeFat(card.rig.medium().bytes(), card.FileCluster("B"), 0x80000000 | card.FileCluster("C"));
  const auto before = card.rig.Snapshot();
  const auto plan = card.Plan();
  ASSERT_FALSE(plan.refusals.empty());
  bool cross_linked = false;
  for (const auto& r : plan.refusals) cross_linked |= r.find("another chain") != std::string::npos;
  EXPECT_TRUE(cross_linked);
  EXPECT_FALSE(plan.CanApply());
  card::ApplyRepair(card.rig.mgr.Volume(), plan);
  EXPECT_EQ(card.rig.Snapshot(), before);
}


TEST(Repair, AFolderChainIntoAFreeClusterKeepsEveryLiveEntryWhateverItsCount) {
  Card card;
  ASSERT_TRUE(card.rig.AddSave("SAVE3", {{"D", std::string(1500, 'd')}}));
  ASSERT_TRUE(card.rig.AddSave("SAVE4", {{"E", std::string(700, 'e')}}));
  const auto saves = support::PS2Saves(card.rig).value();
  ASSERT_EQ(saves.size(), 4u);
  // The root's six entries fill three clusters; its last links on into a
  // free cluster, and its "." (card page 82) records 4 entries.
  auto image = card.rig.medium().bytes();
  const uint32_t second = support::PeekFat(image, 0) & 0x7FFFFFFF;
  const uint32_t third = support::PeekFat(image, second) & 0x7FFFFFFF;
  ASSERT_EQ(support::PeekFat(image, third), 0xFFFFFFFFu);
  PokeFat(image, third, 0x80000000 | 5000);
  store_le32(image.subspan(82 * 528, 512), 4, 4);

  const auto plan = card.Plan();
  ASSERT_TRUE(plan.CanApply());
  for (const auto& action : plan.actions) {
    SCOPED_TRACE(action.where + ": " + action.what);
    EXPECT_NE(action.kind, Kind::kFreeLost);
    if (action.kind == Kind::kCutChain) {
      EXPECT_EQ(action.cluster, third);
    }
    if (action.kind == Kind::kSetCount) {
      EXPECT_EQ(action.count, 6u);
    }
  }
  card::ApplyRepair(card.rig.mgr.Volume(), plan);
  EXPECT_TRUE(support::PS2CardHealthy(card.rig));
  EXPECT_EQ(support::PS2Saves(card.rig).value(), saves);
}

TEST(Repair, ACardWithDamagedBackupBlockNumbersIsReadButNeverWritten) {
  // Block 5 holds the root and the saves' first clusters; as a backup block
  // number it would be erased by a recovery or overwritten by a rewrite.
  for (const size_t field : {size_t{0x40}, size_t{0x44}}) {
    SCOPED_TRACE(field);
    Card card;
    const auto saves = support::PS2Saves(card.rig).value();
    store_le32(card.rig.medium().bytes().subspan(0, 512), field, 5);
    // A marker in backup block 2 as an interrupted rewrite leaves it.
    std::fill_n(card.rig.medium().bytes().begin() + 1022 * 16 * 528, 4, 0x81);
    const auto before = card.rig.Snapshot();
    ASSERT_TRUE(card.rig.mgr.Volume().Mount());
    const auto report = card::CheckFileSystem(card.rig.mgr.Volume());
    ASSERT_FALSE(report.Healthy());
    EXPECT_EQ(report.findings.front().kind, card::CheckFinding::Kind::kSuperblock);
    EXPECT_FALSE(card.Plan().CanApply());
    EXPECT_EQ(support::PS2Saves(card.rig).value(), saves);
    card::TfileIP root = card::RootDirectory();
    const std::string archive = card.rig.WriteArchive("new.psu", "SAVE9", {{"F", "f"}});
    EXPECT_FALSE(card.rig.mgr.AppendSaveArchive(archive, root));
    card::TfileIP folder;
    ASSERT_TRUE(card.rig.FindFolder("SAVE1", folder));
    EXPECT_FALSE(card.rig.mgr.DeleteSaveFolder(folder));
    EXPECT_EQ(card.rig.Snapshot(), before);
  }
}

}  // namespace
}  // namespace travosk
