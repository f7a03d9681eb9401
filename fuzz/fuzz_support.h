// What the fuzz targets share: a private scratch folder per process, the way
// a target reports a broken promise, the reading of an input as patches over
// a card image, and the simulated cards the targets start from. Everything is
// built once per process and put back after each input, so that every input
// meets the same card.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "manager/ps2mfmsys.h"
#include "sim/loopback_platform.h"

namespace travosk::fuzz {

// A folder of this process under $TRAVOSK_FUZZ_TMP, else /dev/shm when it can
// be written, else the system's temp folder. Removed when the process exits
// normally; a crash leaves it for the caller's clean-up (scripts/run-fuzz
// points TRAVOSK_FUZZ_TMP into a folder of its own).
const std::string& ScratchFolder();
std::string ScratchFile(const std::string& name);

// Reports a broken invariant and aborts, so that the fuzzer keeps the input.
[[noreturn]] void Fail(const std::string& what);
inline void Require(bool holds, const char* what) {
  if (!holds) Fail(what);
}

void WriteFile(const std::string& path, std::span<const uint8_t> bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

// An input read as a list of patches, each
//   u8 selector, u16 offset (little-endian), u8 length - 1, then the bytes;
// a selector with bit 7 clear places the patch in the image's first 64 KiB,
// where the tables and directories of a small card live; with bit 7 set the
// offset is (selector & 0x7F) << 16 | offset, anywhere in the image. Offsets
// wrap at the image's end; a patch is cut at the end of the image and of the
// input.
struct Patch {
  size_t offset;
  size_t length;
};
std::vector<Patch> ApplyPatches(std::span<const uint8_t> input, std::span<uint8_t> image);
// Writes one patch in that encoding (for the seed corpus).
void AppendPatch(std::vector<uint8_t>& out, size_t offset, std::span<const uint8_t> bytes);

// A card manager on an in-process adapter whose medium lives in the scratch
// folder.
class SimulatedCard {
 public:
  std::span<uint8_t> Image() { return session_.adapter.card()->bytes(); }
  manager::TPS2MFMSYS& Manager() { return *mgr_; }
  sim::Adapter& Adapter() { return session_.adapter; }
  // The image as it was when the card was made ready.
  const std::vector<uint8_t>& Pristine() const { return pristine_; }
  bool Unchanged();
  // Puts the pristine bytes back, over the given ranges or everywhere, and
  // forgets the waits the link made.
  void Restore(const std::vector<Patch>& ranges);
  void RestoreAll();
  // Forgets the waits the link made (the test clock records each of them).
  void ForgetWaits();
  // Takes the current image as the pristine one.
  void Seal();

 protected:
  SimulatedCard(sim::MediumKind kind, const std::string& image_name);
  ~SimulatedCard();

 private:
  sim::LoopbackSession session_;
  std::unique_ptr<manager::TPS2MFMSYS> mgr_;
  std::vector<uint8_t> pristine_;
};

// An 8 MB PS2 card with a fresh file system and the given saves on it.
struct SaveSpec {
  std::string folder;
  std::vector<std::pair<std::string, std::string>> files;  // name, data
};
class PS2Card : public SimulatedCard {
 public:
  explicit PS2Card(const std::vector<SaveSpec>& saves);
};
// The two saves that the card-image targets start from: a game save of three
// files (an empty one among them) and a one-file save.
std::vector<SaveSpec> TwoSaves();
std::string BuildArchive(const SaveSpec& save);

// A PS1 card: the "MC" header, saves placed in the given directory entries
// (a save of several entries is chained in that order), every other entry
// free.
struct PS1SaveSpec {
  std::vector<int> entries;
  std::string name;
  std::string title;
  bool deleted = false;  // its directory frames marked free, its blocks kept
};
class PS1Card : public SimulatedCard {
 public:
  explicit PS1Card(const std::vector<PS1SaveSpec>& saves);
};
// A one-block save, a two-block save and a deleted save, leaving 11 blocks free.
std::vector<PS1SaveSpec> SomePS1Saves();
// A ".PS1" file of n blocks.
std::vector<uint8_t> BuildPS1SaveFile(int blocks, const std::string& name, uint32_t size);

}  // namespace travosk::fuzz
