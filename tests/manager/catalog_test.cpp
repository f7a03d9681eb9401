// The card manager's catalogue, delete, commit and whole-card erase.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "card/checker.h"
#include "card/fileops.h"
#include "card/walk.h"
#include "common/bytes.h"
#include "manager/findsave.h"
#include "manager/cardroom.h"

#include "support/manager_fixture.h"

namespace travosk {
namespace {

using manager::ArchiveFile;
using support::ManagerRig;

std::string Bytes(size_t n, char fill) { return std::string(n, fill); }

struct Events {
  std::vector<std::string> log;
  void Attach(manager::TPS2MFMSYS& m) {
    m.OnAddMainNode = [this](card::TfileIP&) { log.push_back("main"); };
    m.OnAddrootNode = [this](card::TfileIP& x) { log.push_back("root " + x.Name); };
    m.OnAddChildNode = [this](card::TfileIP& x) { log.push_back("child " + x.Name); };
    m.OnCatalogbarbegin = [this](card::TfileIP&, int&, int&, int&, bool&) { log.push_back("begin"); };
    m.OnCatalogbarEnd = [this](card::TfileIP&, int& max, int&, int& process, bool&) {
      log.push_back("end " + std::to_string(process) + "/" + std::to_string(max));
    };
    m.OnErroroninit = [this] { log.push_back("error"); };
  }
};

TEST(Catalog, ReportsTheCardThenEachSaveWithItsEntries) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("BASLUS-00001", {{"icon.sys", Bytes(964, 'i')}, {"DATA", Bytes(10, 'd')}}));
  ASSERT_TRUE(rig.AddSave("BASLUS-00002", {{"DATA", Bytes(3000, 'e')}}));
  Events events;
  events.Attach(rig.mgr);
  ASSERT_TRUE(rig.mgr.Catalog());
  const std::vector<std::string> expected = {
      "main", "begin", "root .", "root ..", "root BASLUS-00001", "child .", "child ..",
      "child icon.sys", "child DATA", "root BASLUS-00002", "child .", "child ..", "child DATA",
      "end 100/100"};
  EXPECT_EQ(events.log, expected);
}

TEST(Catalog, StopsWhenTheBeginHandlerAsksAndFailsOnAnUnformattedCard) {
  ManagerRig rig;
  Events events;
  events.Attach(rig.mgr);
  rig.mgr.OnCatalogbarbegin = [&](card::TfileIP&, int&, int&, int&, bool& isbreak) {
    events.log.push_back("begin");
    isbreak = true;
  };
  EXPECT_FALSE(rig.mgr.Catalog());
  EXPECT_EQ(events.log, (std::vector<std::string>{"main", "begin"}));

  ManagerRig blank({support::CardMedia::kPS2, 8, false});
  Events blank_events;
  blank_events.Attach(blank.mgr);
  EXPECT_FALSE(blank.mgr.Catalog());
  EXPECT_EQ(blank_events.log, std::vector<std::string>{"error"});
}

TEST(DeleteSaveFolder, RemovesTheSaveAndFreesItsClusters) {
  ManagerRig rig;
  ASSERT_TRUE(rig.mgr.Catalog());
  const uint64_t free_before = manager::FreeClusters(rig.mgr.Volume());
  ASSERT_TRUE(rig.AddSave("SAVE1", {{"A", Bytes(5000, 'a')}, {"B", Bytes(1, 'b')}}));
  ASSERT_TRUE(rig.AddSave("SAVE2", {{"C", Bytes(100, 'c')}}));
  card::TfileIP folder;
  ASSERT_TRUE(rig.FindFolder("SAVE1", folder));
  ASSERT_TRUE(rig.mgr.DeleteSaveFolder(folder));

  card::TfileIP gone;
  EXPECT_FALSE(rig.FindFolder("SAVE1", gone));
  ASSERT_TRUE(rig.FindFolder("SAVE2", gone));
  // Left in use: the root's second cluster (it grew for SAVE1), and SAVE2's
  // two folder clusters (".", ".." and C) and its data cluster.
  EXPECT_EQ(manager::FreeClusters(rig.mgr.Volume()), free_before - 4);
  ASSERT_TRUE(rig.mgr.Volume().Mount());
  const auto report = card::CheckFileSystem(rig.mgr.Volume());
  for (const auto& f : report.findings) ADD_FAILURE() << card::KindName(f.kind) << " " << f.where << ": " << f.what;
}

void ExpectHealthy(manager::TPS2MFMSYS& m) {
  ASSERT_TRUE(m.Volume().Mount());
  const auto report = card::CheckFileSystem(m.Volume());
  for (const auto& f : report.findings)
    ADD_FAILURE() << card::KindName(f.kind) << " " << f.where << ": " << f.what;
}

TEST(DeleteSaveFolder, FreesEverythingOfSavesAnotherToolWrote) {
  // HOLES: its folder's third cluster holds only the entries of two files
  // that tool removed. NESTED: it holds a folder with a file. Free bytes are
  // the other tool's own figures: before the delete, and of a fresh card.
  const struct {
    const char* image;
    const char* save;
    uint64_t free_before;
  } cards[] = {{"peer_holes.ps2", "BESLES-60004HOLES", 8284160},
               {"peer_nested.ps2", "BESLES-60005NESTED", 8285184}};
  for (const auto& c : cards) {
    SCOPED_TRACE(c.save);
    ManagerRig rig;
    rig.LoadImage(support::PeerCard(c.image));
    auto save = manager::FindSave(rig.mgr, c.save);
    ASSERT_TRUE(save);
    EXPECT_EQ(manager::FreeClusters(rig.mgr.Volume()) * 1024, c.free_before);
    ASSERT_TRUE(rig.mgr.DeleteSaveFolder(*save)) << rig.mgr.LastError();
    ExpectHealthy(rig.mgr);
    EXPECT_EQ(manager::FreeClusters(rig.mgr.Volume()) * 1024, 8329216u);
  }
}

// The index of a save's entry in the root, from the root's chain.
uint32_t RootIndexOf(const card::TPSFilemanager& v, const card::TfileIP& x) {
  uint32_t index = 0;
  for (uint32_t c = 0; c != x.NowCluster; index += 2) {
    const uint32_t a = v.Fat[c];
    if (a == card::kChainEnd || !(a & card::kInUse) || index > v.Fat.size()) return 0xFFFFFFFF;
    c = a & 0x7FFFFFFF;
  }
  return index + x.NowOffset / 512;
}

// What the save's "." records as its entry's index in the root.
uint32_t DotIndexOf(ManagerRig& rig, const card::TfileIP& x) {
  std::array<uint8_t, 1024> cluster{};
  rig.mgr.Volume().ReadCluster(static_cast<uint32_t>(x.RelatCluster), cluster.data());
  return load_le32(cluster, card::entry::kDirEntry);
}

TEST(DeleteSaveFolder, NeighboursThatLeaveMoveNoOtherSave) {
  ManagerRig rig;
  for (const char* name : {"SAVE1", "SAVE2", "SAVE3", "SAVE4"})
    ASSERT_TRUE(rig.AddSave(name, {{"A", Bytes(100, 'a')}}));
  for (const char* name : {"SAVE1", "SAVE2"}) {
    auto save = manager::FindSave(rig.mgr, name);
    ASSERT_TRUE(save && rig.mgr.DeleteSaveFolder(*save));
  }
  for (const char* name : {"SAVE3", "SAVE4"}) {
    auto save = manager::FindSave(rig.mgr, name);
    ASSERT_TRUE(save);
    EXPECT_EQ(DotIndexOf(rig, *save), RootIndexOf(rig.mgr.Volume(), *save)) << name;
  }
  ExpectHealthy(rig.mgr);
  const auto report = card::CheckFileSystem(rig.mgr.Volume());
  EXPECT_EQ(manager::FreeClusters(rig.mgr.Volume()) + report.clusters_in_use, 8135u);

  // The emptied root cluster takes the next save.
  ASSERT_TRUE(rig.AddSave("SAVE5", {{"A", Bytes(100, 'a')}}));
  auto added = manager::FindSave(rig.mgr, "SAVE5");
  ASSERT_TRUE(added);
  EXPECT_EQ(RootIndexOf(rig.mgr.Volume(), *added), 2u);
  EXPECT_EQ(DotIndexOf(rig, *added), 2u);
  ExpectHealthy(rig.mgr);
}

TEST(DeleteSaveFolder, CancelledThroughIsbreakCommitsNothing) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("SAVE1", {{"A", Bytes(100, 'a')}, {"B", Bytes(100, 'b')}}));
  card::TfileIP folder;
  ASSERT_TRUE(rig.FindFolder("SAVE1", folder));
  const auto before = rig.Snapshot();
  rig.mgr.OnFilebarprocess = [](card::TfileIP&, int&, int&, int&, bool& isbreak) { isbreak = true; };
  EXPECT_FALSE(rig.mgr.DeleteSaveFolder(folder));
  EXPECT_EQ(rig.Snapshot(), before);
  rig.mgr.OnFilebarprocess = nullptr;
  EXPECT_TRUE(rig.FindFolder("SAVE1", folder));
}

TEST(DeleteSaveFolder, RefusesFilesAndDotEntries) {
  ManagerRig rig;
  card::TfileIP file;
  file.Name = "FILE";
  EXPECT_FALSE(rig.mgr.DeleteSaveFolder(file));
  card::TfileIP dot;
  dot.Dir = 1;
  dot.Name = "..";
  EXPECT_FALSE(rig.mgr.DeleteSaveFolder(dot));
  EXPECT_EQ(rig.adapter().counters().transactions, 0u);
}

TEST(FlushCard, WritesEachTouchedBlockOnceWithAProgressStepAfterEach) {
  ManagerRig rig;
  ASSERT_TRUE(rig.mgr.Catalog());
  // Rewriting the allocation table into a cache that does not know the card
  // touches its 32 clusters: pages 18..81, erase blocks 1 to 5.
  rig.mgr.Cache().ResetCache();
  rig.mgr.Volume().StoreFat();
  rig.adapter().ResetCounters();
  std::vector<std::pair<int, int>> steps;
  rig.mgr.OnFilebarprocess = [&](card::TfileIP&, int& max, int&, int& process, bool&) {
    steps.emplace_back(process, max);
  };
  rig.mgr.FlushCard();
  EXPECT_EQ(steps, (std::vector<std::pair<int, int>>{{0, 4}, {0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}}));
  // Each through the backup blocks: the table is live data.
  EXPECT_EQ(rig.adapter().counters().blocks_erased, 5u * 3u);
  EXPECT_EQ(rig.mgr.Cache().SlotCount(), 0);
}

TEST(EraseCard, ErasesEveryBlockAndFormatCardRefusesTheImageMedium) {
  ManagerRig rig;
  int beeps = 0;
  rig.mgr.Beep = [&] { ++beeps; };
  int last = -1;
  rig.mgr.Onbarprocess = [&](int& max, int&, int& process, bool&) {
    EXPECT_EQ(max, 1024);
    last = process;
  };
  ASSERT_TRUE(rig.mgr.FormatCard());
  EXPECT_EQ(last, 1024);
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(rig.adapter().counters().blocks_erased, 1024u);
  for (uint8_t b : rig.medium().bytes()) ASSERT_EQ(b, 0xFF);
  EXPECT_FALSE(rig.mgr.Catalog());

  rig.mgr.Access().Medium = Slot::kNone;
  rig.adapter().ResetCounters();
  EXPECT_FALSE(rig.mgr.FormatCard());
  EXPECT_EQ(rig.adapter().counters().transactions, 0u);
}

TEST(EraseCard, AnAdapterThatGoesAwayFailsTheErase) {
  ManagerRig rig;
  ASSERT_TRUE(rig.mgr.CheckLink());
  rig.adapter().UnplugAfter(10);
  EXPECT_FALSE(rig.mgr.EraseCard());
}

TEST(ExportFile, AnswersWhetherThePcFileWasWritten) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("SAVE1", {{"A", Bytes(100, 'a')}}));
  card::TfileIP file;
  rig.mgr.OnAddChildNode = [&](card::TfileIP& x) {
    if (x.Name == "A") file = x;
  };
  ASSERT_TRUE(rig.mgr.Catalog());
  ASSERT_EQ(file.Name, "A");
  const std::string out = rig.dir.File("A.bin");
  ASSERT_TRUE(rig.mgr.ExportFile(out, file));
  const std::string data = support::ReadFileBytes(out);
  ASSERT_EQ(data.size(), 512u + 1024u);
  EXPECT_EQ(data.substr(512, 100), Bytes(100, 'a'));
  EXPECT_FALSE(rig.mgr.ExportFile(rig.dir.File("missing/dir/A.bin"), file));
}

TEST(FindSave, ACardThatFailsToAnswerIsNotACardWithoutTheSave) {
  // A restore that took "could not read" for "not there" would write a second
  // copy beside the save it was told to replace.
  ManagerRig rig;
  for (const char* name : {"SAVE1", "SAVE2", "SAVE3"})
    ASSERT_TRUE(rig.AddSave(name, {{"A", Bytes(3000, 'a')}}));
  rig.adapter().ResetCounters();
  ASSERT_TRUE(manager::FindSave(rig.mgr, "SAVE3"));
  const uint64_t transactions = rig.adapter().counters().transactions;
  for (uint64_t k = 0; k < transactions; ++k) {
    rig.adapter().FailOnceAfter(k);
    bool unreadable = false;
    const auto found = manager::FindSave(rig.mgr, "SAVE3", &unreadable);
    EXPECT_TRUE(found || unreadable) << "failed transfer " << k << " of " << transactions;
    rig.adapter().ClearFaults();
  }
  bool unreadable = true;
  EXPECT_FALSE(manager::FindSave(rig.mgr, "SAVE9", &unreadable));
  EXPECT_FALSE(unreadable);
}

}  // namespace
}  // namespace travosk
