// An 8 MB PS2 card image damaged at will: the input is a list of patches over
// a formatted card holding two saves, so that the fuzzer reaches the tables,
// directories and chains without first having to build a file system. The
// card is mounted and catalogued, checked, and every save it lists is backed
// up. None of it may write the card, and a backup that fails leaves no file.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "card/checker.h"
#include "common/errors.h"
#include "fuzz_support.h"
#include "manager/inspectarchive.h"

using namespace travosk;

namespace {

fuzz::PS2Card& Card() {
  static fuzz::PS2Card card(fuzz::TwoSaves());
  return card;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PS2Card& c = Card();
  auto& m = c.Manager();
  const auto patches = fuzz::ApplyPatches({data, size}, c.Image());
  c.Adapter().ResetCounters();

  std::vector<card::TfileIP> saves;
  m.OnAddrootNode = [&saves](card::TfileIP& x) {
    if (x.Dir && !x.Deleted && !x.IsDotName() && saves.size() < 64) saves.push_back(x);
  };
  bool listed = false;
  try {
    listed = m.Catalog();
  } catch (const CardError&) {
  }
  m.OnAddrootNode = nullptr;

  if (listed) {
    try {
      const card::CheckReport report = card::CheckFileSystem(m.Volume());
      for (const auto& f : report.findings)
        fuzz::Require(!f.what.empty() && card::KindName(f.kind) != nullptr,
                      "a finding says nothing");
    } catch (const CardError&) {
    }
    const std::string backup = fuzz::ScratchFile("backup.psu");
    for (card::TfileIP& folder : saves) {
      bool written = false;
      try {
        written = m.BackupSaveFolder(backup, folder).done;
      } catch (const CardError&) {
      } catch (const InOutError&) {
      }
      if (written) {
        // What the system writes, it must be able to read back.
        fuzz::Require(manager::InspectArchive(backup).has_value(), "a backup does not inspect");
        std::remove(backup.c_str());
      } else {
        fuzz::Require(!std::filesystem::exists(backup), "a failed backup left a file");
      }
    }
  }

  fuzz::Require(!c.Adapter().counters().first_change, "reading a card wrote to it");
  c.Restore(patches);
  return 0;
}
