// The card checker finds each planted fault and calls a healthy card healthy.
#include "card/checker.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/bytes.h"
#include "support/manager_fixture.h"

namespace travosk {
namespace {

using Kind = card::CheckFinding::Kind;
using support::ManagerRig;

// A card with two saves whose clusters are known: the root (relative 0,
// then 1 when it grows), SAVE1's folder and files, SAVE2's.
struct DamagedCard {
  ManagerRig rig;
  DamagedCard() {
    EXPECT_TRUE(rig.AddSave("SAVE1", {{"A", std::string(3000, 'a')}, {"B", "b"}}));
    EXPECT_TRUE(rig.AddSave("SAVE2", {{"C", std::string(2048, 'c')}}));
  }
  card::CheckReport Check() {
    EXPECT_TRUE(rig.mgr.Volume().Mount());
    return card::CheckFileSystem(rig.mgr.Volume());
  }
  // First cluster of a file, from the catalogue.
  uint32_t FileCluster(const std::string& name) {
    uint32_t cluster = 0;
    rig.mgr.OnAddChildNode = [&](card::TfileIP& x) {
      if (x.Name == name) cluster = static_cast<uint32_t>(x.RelatCluster);
    };
    EXPECT_TRUE(rig.mgr.Catalog());
    rig.mgr.OnAddChildNode = nullptr;
    return cluster;
  }
  bool Finds(Kind kind) {
    for (const auto& f : Check().findings)
      if (f.kind == kind) return true;
    return false;
  }
};

TEST(CardChecker, AHealthyCardIsHealthy) {
  DamagedCard card;
  const auto report = card.Check();
  for (const auto& f : report.findings) ADD_FAILURE() << card::KindName(f.kind) << ": " << f.what;
  EXPECT_EQ(report.directories, 3u);
  EXPECT_EQ(report.files, 3u);
}

TEST(CardChecker, FindsEachPlantedFault) {
  struct Case {
    const char* what;
    Kind kind;
    std::function<void(DamagedCard&)> plant;
  };
  const Case cases[] = {
      {"a chain that links back into itself", Kind::kChainCycle,
       [](DamagedCard& d) {
         const uint32_t a = d.FileCluster("A");
         support::PokeFat(d.rig.medium().bytes(), a + 1, 0x80000000 | a);
       }},
      {"a chain that leaves the allocatable area", Kind::kChainOutside,
       [](DamagedCard& d) {
         support::PokeFat(d.rig.medium().bytes(), d.FileCluster("C"), 0x80000000 | 8150);
       }},
      {"two files sharing a cluster", Kind::kCrossLinked,
       [](DamagedCard& d) {
         support::PokeFat(d.rig.medium().bytes(), d.FileCluster("B"),
                          0x80000000 | d.FileCluster("C"));
       }},
      {"a chain into a free cluster", Kind::kChainFree,
       [](DamagedCard& d) {
         support::PokeFat(d.rig.medium().bytes(), d.FileCluster("C") + 1, 0x7FFFFFFF);
       }},
      {"a cluster in use that nothing reaches", Kind::kLostCluster,
       [](DamagedCard& d) { support::PokeFat(d.rig.medium().bytes(), 4000, 0xFFFFFFFF); }},
      {"a \".\" that names another entry of the root as its folder's", Kind::kBadEntry,
       [](DamagedCard& d) {
         card::TfileIP save;
         ASSERT_TRUE(d.rig.FindFolder("SAVE2", save));
         // "." opens the folder's first cluster (relative r is physical r + 41).
         const size_t page = (static_cast<size_t>(save.RelatCluster) + 41) * 2;
         store_le32(d.rig.medium().bytes(), page * 528 + card::entry::kDirEntry, 2);
       }},
      {"a chain shorter than the file's length", Kind::kLengthMismatch,
       [](DamagedCard& d) {
         const uint32_t a = d.FileCluster("A");
         support::PokeFat(d.rig.medium().bytes(), a + 1, 0xFFFFFFFF);
         support::PokeFat(d.rig.medium().bytes(), a + 2, 0x7FFFFFFF);
       }},
  };
  for (const auto& c : cases) {
    DamagedCard card;
    c.plant(card);
    EXPECT_TRUE(card.Finds(c.kind)) << c.what;
  }
}

}  // namespace
}  // namespace travosk
