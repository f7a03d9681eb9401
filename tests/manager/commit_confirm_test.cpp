// The read-back that confirms a commit must look at a block the commit wrote:
// blocks that an operation only read stay in the cache but are not rewritten,
// so reading one of them back would confirm nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "card/formatter.h"
#include "link/clock.h"
#include "link/link.h"
#include "manager/archive_builder.h"
#include "manager/ps2mfmsys.h"
#include "manager/findsave.h"

#include "sim/adapter.h"
#include "sim/loopback_platform.h"
#include "support/card_fixture.h"
#include "support/tap_platform.h"

namespace travosk::manager {
namespace {

TEST(CommitConfirmation, ReadsBackABlockTheCommitWrote) {
  support::TempDir dir;
  sim::Adapter adapter;
  sim::LoopbackPlatform loopback;
  support::TapPlatform tap(loopback);
  link::FakeClock clock;
  link::Link link(tap, clock);
  const std::string image = dir.File("card.ps2");
  sim::Medium::CreateBlank(image, sim::MediumKind::kPS2);
  adapter.InsertCard(sim::Medium::Open(image, sim::MediumKind::kPS2));
  loopback.Plug(adapter);
  link.FindAdapter();
  TPS2MFMSYS mgr(link);
  mgr.InitSystem(dir.path());
  mgr.Access().Medium = Slot::kCard;
  ASSERT_TRUE(mgr.Access().OpenCard());
  ASSERT_TRUE(card::FormatFileSystem(mgr.Access(), support::kFormatTime));

  // Saves of 40 clusters each: the root's third cluster lands far from its
  // first two, so deleting the first save counts the root through a block
  // that the delete only reads, and that block is the cache's last slot.
  for (const char* name : {"SAVE-A", "SAVE-B", "SAVE-C", "SAVE-D"}) {
    const std::string path = dir.File(std::string(name) + ".psu");
    std::ofstream(path, std::ios::binary) << BuildSaveArchive(
        name, {{"DATA", std::string(40 * 1024, name[5])}}, support::kFormatTime);
    card::TfileIP root = card::RootDirectory();
    ASSERT_TRUE(mgr.Catalog());
    ASSERT_TRUE(mgr.AppendSaveArchive(path, root));
  }
  auto save = FindSave(mgr, "SAVE-A");
  ASSERT_TRUE(save);

  tap.packets.clear();
  bool last_slot_only_read = false;
  mgr.OnFilebarprocess = [&](card::TfileIP&, int&, int&, int&, bool&) {
    const int slots = mgr.Cache().SlotCount();
    if (slots > 0) last_slot_only_read = !mgr.Cache().SlotWritten(slots - 1);
  };
  ASSERT_TRUE(mgr.DeleteSaveFolder(*save));
  EXPECT_TRUE(last_slot_only_read);

  std::set<uint32_t> erased;
  for (const auto& p : tap.packets)
    if (p[0] == 0x8C && p[1] == 0x67) erased.insert(p[2] | p[3] << 8);
  ASSERT_FALSE(erased.empty());
  const auto& last = tap.packets.back();
  ASSERT_EQ(last[0], 0xA5);  // the read-back of a page
  const uint32_t page = last[2] | last[3] << 8;
  EXPECT_EQ(erased.count(page - page % 16), 1u) << "read back page " << page;
  mgr.DoneSystem();
}

}  // namespace
}  // namespace travosk::manager
