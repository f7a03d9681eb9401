// A save archive from anywhere appended onto a freshly formatted card. An
// append that reports success must leave a card the checker finds healthy,
// holding no more clusters than the archive's own inspection promised; one
// that fails, by false or by an error, must leave the card as it was.
#include <cstdint>
#include <span>

#include "card/checker.h"
#include "card/fileip.h"
#include "common/errors.h"
#include "fuzz_support.h"
#include "manager/cardroom.h"
#include "manager/inspectarchive.h"

using namespace travosk;

namespace {

fuzz::PS2Card& Card() {
  static fuzz::PS2Card card({});
  return card;
}

std::string Findings(const card::CheckReport& report) {
  std::string text;
  for (const auto& f : report.findings)
    text += std::string("\n  ") + card::KindName(f.kind) + " " + f.where + ": " + f.what;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PS2Card& c = Card();
  auto& m = c.Manager();
  const std::string path = fuzz::ScratchFile("input.psu");
  fuzz::WriteFile(path, {data, size});

  fuzz::Require(m.Catalog(), "the fresh card does not catalogue");
  const uint64_t free_before = manager::FreeClusters(m.Volume());
  c.Adapter().ResetCounters();

  bool appended = false;
  try {
    card::TfileIP root = card::RootDirectory();
    appended = m.AppendSaveArchive(path, root).done;
  } catch (const InOutError& e) {
    fuzz::Require(!e.reason().empty(), "an archive error without a reason");
  } catch (const CardError& e) {
    fuzz::Require(*e.what() != '\0', "a card error without a message");
  }

  if (!appended) {
    // The counters spare the comparison of 8 MB when nothing was sent.
    if (c.Adapter().counters().first_change) {
      fuzz::Require(c.Unchanged(), "a failed append changed the card");
      c.RestoreAll();
    }
    c.ForgetWaits();
    return 0;
  }

  fuzz::Require(m.Catalog(), "the card does not catalogue after a successful append");
  const card::CheckReport report = card::CheckFileSystem(m.Volume());
  if (!report.Healthy()) fuzz::Fail("a successful append left a damaged card:" + Findings(report));
  const auto info = manager::InspectArchive(path);
  fuzz::Require(info.has_value(), "an archive that appended does not inspect");
  const uint64_t free_after = manager::FreeClusters(m.Volume());
  fuzz::Require(free_before - free_after <= info->clusters,
                "the append took more clusters than the inspection promised");
  c.RestoreAll();
  return 0;
}
