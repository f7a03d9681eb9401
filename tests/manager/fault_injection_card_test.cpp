// The adapter fails at every transaction of the whole-card operations: the
// format (a full erase) of a PS2 card and of a SmartMedia, and the SmartMedia
// PC format. Their erase and write commands get no answer, so these cases
// show above all that a silent adapter is not taken for a finished format.
// A whole-card rewrite cut short leaves a card that is neither the old one
// nor the new one; such cards are counted, not refused.
#include <gtest/gtest.h>

#include <iostream>

#include "support/fault_rig.h"

namespace travosk {
namespace {

using support::CardMedia;
using support::ExpectNoFinding;
using support::FaultTally;
using support::ManagerRig;

constexpr size_t kRecordBytes = 528;
constexpr int kImagePages = 1152;

// A card with a save on it, so that an erase has something to lose.
void AddASave(ManagerRig& rig) {
  ASSERT_TRUE(rig.AddSave("BASLUS-20001FMT", {{"icon.sys", std::string(964, 'i')},
                                              {"DATA", std::string(2100, 'd')}}));
}

FaultTally FormatCases(ManagerRig& rig, const std::string& name) {
  return support::RunFaultCases(rig, {.name = name, .run = [&] { return rig.mgr.FormatCard(); }});
}

TEST(FaultInjection, FormattingAPS2CardFailsVisiblyAtEveryTransaction) {
  // The smallest card the system sizes keeps the erase at 128 blocks.
  ManagerRig rig({.media = CardMedia::kPS2, .megabytes = 1});
  AddASave(rig);
  ExpectNoFinding(FormatCases(rig, "format PS2 card"));
}

TEST(FaultInjection, FormattingASmartMediaFailsVisiblyAtEveryTransaction) {
  ManagerRig rig({.media = CardMedia::kSmartMedia, .megabytes = 4});
  AddASave(rig);
  ExpectNoFinding(FormatCases(rig, "format SmartMedia"));
}

TEST(FaultInjection, PCFormatFailsVisiblyAtEveryTransaction) {
  ManagerRig rig({.media = CardMedia::kSmartMedia, .megabytes = 4});
  AddASave(rig);
  // An image of our own: record p's data bytes follow from p, so that a
  // page written from the wrong record would show.
  std::string image(kRecordBytes * kImagePages, '\xEE');
  for (int p = 0; p < kImagePages; ++p)
    for (size_t i = 0; i < 512; ++i) image[p * kRecordBytes + i] = static_cast<char>(p * 5 + i);
  support::WriteFileBytes(rig.dir.File("pcf4M.bin"), image);
  ExpectNoFinding(support::RunFaultCases(
      rig, {.name = "PC format", .run = [&] { return rig.mgr.FormatToPC("pcf4M.bin"); }}));
}

}  // namespace
}  // namespace travosk
