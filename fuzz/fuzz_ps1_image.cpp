// A PS1 card image damaged at will (patches over a card holding saves): the
// catalogue, the upload of every entry to a ".PS1" file, and the delete of
// every save the catalogue shows. An upload either makes a whole file or
// none; a delete touches nothing but the state and checksum bytes of
// directory frames.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/errors.h"
#include "fuzz_support.h"
#include "manager/ps1card.h"

using namespace travosk;
using namespace travosk::manager;

namespace {

fuzz::PS1Card& Card() {
  static fuzz::PS1Card card(fuzz::SomePS1Saves());
  return card;
}

// After deletes the image may differ from `before` only in the state and
// checksum bytes of directory frames, and a changed state must read deleted.
// The frames outside the directory are compared in bulk.
bool OnlyDirectoryStatesChanged(std::span<const uint8_t> before, std::span<const uint8_t> after) {
  const size_t first = size_t{kPS1FrameBytes} * kPS1DirectoryFrame;
  const size_t end = first + size_t{kPS1FrameBytes} * kPS1Entries;
  if (std::memcmp(before.data(), after.data(), first) != 0 ||
      std::memcmp(before.data() + end, after.data() + end, before.size() - end) != 0)
    return false;
  for (size_t f = first; f < end; f += kPS1FrameBytes) {
    const uint8_t* b = before.data() + f;
    const uint8_t* a = after.data() + f;
    if (std::memcmp(b + 1, a + 1, ps1dir::kChecksum - 1) != 0) return false;
    if (a[ps1dir::kState] != b[ps1dir::kState] && (a[ps1dir::kState] & 0xF0) != ps1state::kDeleted)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PS1Card& c = Card();
  auto& m = c.Manager();
  const auto patches = fuzz::ApplyPatches({data, size}, c.Image());

  int rooted = 0;
  m.OnPS1rootNode = [&rooted](int, TPs1FileitemRec&) { ++rooted; };
  fuzz::Require(m.PS1Catalog(), "the PS1 catalogue failed on a working adapter");
  fuzz::Require(rooted == kPS1Entries && m.PS1Card.Count == kPS1Entries,
                "the PS1 catalogue did not list every entry");
  m.OnPS1rootNode = nullptr;

  const std::string file = fuzz::ScratchFile("save.PS1");
  for (int e = 0; e < kPS1Entries; ++e) {
    bool uploaded = false;
    try {
      uploaded = m.UploadPS1Saver(file, e).done;
    } catch (const InOutError&) {
    }
    if (!uploaded) {
      fuzz::Require(!std::filesystem::exists(file), "a failed upload left a file");
      continue;
    }
    // The directory frame, then whole blocks enough for the size it records.
    const int64_t recorded = m.PS1Card.Items[e].Size;
    const uint64_t blocks = (static_cast<uint64_t>(recorded) + kPS1BlockBytes - 1) / kPS1BlockBytes;
    fuzz::Require(recorded > 0 && std::filesystem::file_size(file) ==
                                      kPS1SaveHeaderBytes + blocks * kPS1BlockBytes,
                  "an upload wrote a file of the wrong size");
    std::remove(file.c_str());
  }

  const std::vector<uint8_t> before(c.Image().begin(), c.Image().end());
  for (int e = 0; e < kPS1Entries; ++e) {
    const TPs1FileitemRec& item = m.PS1Card.Items[e];
    if (item.NotInUse || item.NoTitle) continue;
    // A chain that runs into another save's first block takes that save
    // along: it is then no longer the one the scan listed, and is left be.
    const auto deleted = m.DeletePS1Saver(e);
    fuzz::Require(deleted.done || deleted.card_changed, "a delete failed");
  }
  fuzz::Require(!m.DeletePS1Saver(-1) && !m.DeletePS1Saver(kPS1Entries),
                "a delete of a block the card does not have succeeded");
  fuzz::Require(OnlyDirectoryStatesChanged(before, c.Image()), "a delete changed more than states");

  c.RestoreAll();
  return 0;
}
