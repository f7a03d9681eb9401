// The card manager's catalogue, delete, commit and whole-card erase.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "card/checker.h"
#include "card/fileops.h"
#include "card/walk.h"
#include "common/bytes.h"
#include "manager/savereplace.h"
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
  EXPECT_EQ(rig.adapter().counters().blocks_erased, 5u);
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

  rig.mgr.Access().Medium = 0;
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

}  // namespace
}  // namespace travosk
