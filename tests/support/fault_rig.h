// Fault injection for card manager operations: one operation is run against
// the simulated adapter once cleanly, to learn how many transactions it takes
// (N) and which of them first changed the card (F), and then once for every
// transaction index k < N and each fault mode, the adapter failing at
// transaction k. Every case starts from the same prepared card image, copied
// into the medium, so nothing is formatted or built per case.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "support/manager_fixture.h"

namespace travosk::support {

enum class FaultMode {
  kUnplug,  // every transfer from transaction k on fails
  kSilent,  // writes from transaction k on are swallowed, reads fail
};
const char* FaultModeName(FaultMode mode);

// What one operation under test needs from its suite. prepare runs on the
// fresh card before the fault is armed (the catalogue an operation needs, as
// the window would have run it) and answers whether it worked; run is the
// operation itself and answers whether it reported success; consistent
// judges the card after a fault that hit the commit, with the adapter back.
// An operation that rewrites the whole card (an erase, a PC format, a PS1
// card image) leaves no file system to check part-way: without a judge of
// its own, its card counts as consistent only when it is the card before the
// operation or the card after a clean run.
// What a fault left on the card, judged with the adapter back and the card
// mounted again (which completes or discards an interrupted rewrite).
struct FaultVerdict {
  bool harmed = false;       // a save not being written changed, or the written
                             // one is neither wholly old, wholly new nor absent,
                             // or the repair did not leave a healthy card
  bool unreachable = false;  // clusters (PS1: blocks) in use that nothing reaches
  std::string why;           // for the failure message when harmed
};

// Every save on a card by name, each as one string of what a reader sees:
// its entries (cluster numbers left out, since a save written again lands
// elsewhere) and the bytes of its files. nullopt when the card does not
// mount or cannot be listed.
using SaveMap = std::map<std::string, std::string>;
std::optional<SaveMap> PS2Saves(ManagerRig& rig);
// The PS1 card's saves read straight from its image: directory frame (links
// left out) and blocks in chain order.
SaveMap PS1Saves(std::span<const uint8_t> card);

// Compares the saves after a fault with the saves before (and after a clean
// run): every save but `written` as before, `written` as before, as after or
// absent. Then checks the PS2 card. What an interruption may leave and a
// repair mends without touching a save is clusters nothing reaches and a
// directory count that does not fit its slots; any other finding (a chain
// into a free cluster, a length that does not fit its chain...) is harm even
// when the repair mends it. A card with findings is repaired as
// `check --repair` would, and must then check healthy and still hold the
// same saves.
FaultVerdict JudgePS2(ManagerRig& rig, const SaveMap& before, const SaveMap& after,
                      const std::string& written);
FaultVerdict JudgePS1(std::span<const uint8_t> card, const SaveMap& before, const SaveMap& after,
                      const std::string& written);

struct FaultOperation {
  std::string name{};
  // The card shape the cases start from ("root directory full", ...), for the
  // summary line.
  std::string shape{};
  // Faults land at every transaction up to the first change and at the last
  // one, and past the first change at every `every`-th: a shape whose commit
  // takes thousands of transactions keeps its run time bounded.
  uint64_t every = 1;
  // And before the first change at every `every_before`-th (and at F): on a
  // large card, where each case compares the whole image, the reads before
  // the first change are sampled too.
  uint64_t every_before = 1;
  std::function<bool()> prepare{};
  std::function<bool()> run{};
  std::function<bool()> consistent{};
  // Judges, with the adapter back, a success that the operation claimed under
  // a fault: true when the claim holds, because the fault came after the work
  // was done (in a closing catalogue, say). Without it every claim is a
  // finding.
  std::function<bool()> claim_holds{};
  // Judges the saves after a fault that hit the commit, with the adapter
  // back. An operation with a verdict is measured by saves harmed (which
  // must be none) instead of by consistent.
  std::function<FaultVerdict()> verdict{};
  // Runs once after the clean run, on the card it left (to learn the saves
  // a whole commit gives).
  std::function<void()> after_clean_run{};
};

// One operation's results. Only torn commits are measured rather than
// required to be zero.
struct FaultTally {
  std::string name;
  std::string shape;
  uint64_t every = 1;
  uint64_t every_before = 1;
  std::map<std::string, uint64_t> cases_by_mode;  // by FaultModeName
  uint64_t transactions = 0;  // N of the clean run
  uint64_t first_change = 0;  // F of the clean run
  uint64_t cases = 0;
  uint64_t hangs = 0;                   // cases that ran past the time bound
  uint64_t crashes = 0;                 // exceptions other than InOutError and CardError
  uint64_t reported_success = 0;        // the operation claimed success under a fault
  uint64_t unchanged_card_failures = 0; // k <= F, and yet the image changed
  uint64_t torn = 0;                    // k > F and the card is inconsistent afterwards
  uint64_t late_faults = 0;             // the fault came after the work; success was true
  bool judged = false;                  // measured by the verdict's two counts below
  uint64_t harmed = 0;                  // cases that harmed a save
  uint64_t unreachable = 0;             // cases that left clusters nothing reaches
  FaultTally& operator+=(const FaultTally& o);
};

// "fault injection: <cases> cases, hangs 0, crashes 0, unchanged-card
// failures <n>", then "saves harmed: <h>, left with unreachable clusters:
// <m>" for an operation judged by its saves, "torn commits found <t>" for a
// whole-card one, then the operation's name, its card shape, N and F, the
// sampling and the cases of each fault kind when the tally has a name. When a program ran several operations, their
// total follows at its end, without a name.
void PrintTally(std::ostream& out, const FaultTally& tally);

// Prints the tally to stdout and expects no finding: cases ran (two for each
// transaction of the clean run that the sampling keeps), none hung, crashed, claimed success or
// changed the card too early.
void ExpectNoFinding(const FaultTally& tally);

// Drives the cases on a rig whose medium holds the prepared card. The rig's
// image at the call is the template every case starts from; it is the image
// again when the function returns. Records a test failure (and counts it) for
// every case that claims success, changes the card before its first changing
// transaction, throws anything but InOutError or CardError, or runs long.
FaultTally RunFaultCases(ManagerRig& rig, const FaultOperation& op);

// Plugs the rig's adapter back in after a fault and reattaches the link, as a
// user would after replugging the adapter; the manager's cache is dropped.
void Reconnect(ManagerRig& rig);
// Copies the bytes into the rig's medium (the image must have its size).
void RestoreImage(ManagerRig& rig, const std::vector<uint8_t>& image);

// Mounts the PS2 file system of the rig's card and runs the checker: false
// when the card does not mount, cannot be read, or shows any finding.
bool PS2CardHealthy(ManagerRig& rig);
// The PS1 directory is sound: every block in use carries a valid checksum and
// belongs to exactly one save whose chain, from its first block, runs through
// blocks in use to a last link, with as many blocks as its size needs.
bool PS1DirectoryConsistent(std::span<const uint8_t> card);

}  // namespace travosk::support
