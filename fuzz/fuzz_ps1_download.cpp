// A ".PS1" file from anywhere downloaded onto a PS1 card that holds saves. A
// download that fails leaves the card as it was; one that succeeds leaves
// every save that was there untouched and puts the file's blocks, in chain
// order, into blocks that were free. The card scans afterwards either way.
#include <cstdint>
#include <vector>

#include "common/bytes.h"
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

std::span<const uint8_t> Block(std::span<const uint8_t> image, int entry) {
  return image.subspan(size_t{kPS1BlockBytes} * (entry + 1), kPS1BlockBytes);
}

std::span<const uint8_t> DirFrame(std::span<const uint8_t> image, int entry) {
  return image.subspan(size_t{kPS1FrameBytes} * PS1DirectoryFrameOf(entry), kPS1FrameBytes);
}

bool InUse(std::span<const uint8_t> image, int entry) {
  return (DirFrame(image, entry)[ps1dir::kState] & 0xF0) == ps1state::kInUse;
}

bool Same(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

void CheckPlacedSave(std::span<const uint8_t> before, std::span<const uint8_t> after,
                     std::span<const uint8_t> file) {
  const int blocks = static_cast<int>((file.size() - kPS1SaveHeaderBytes) / kPS1BlockBytes);
  int first = -1;
  for (int e = 0; e < kPS1Entries; ++e) {
    if (InUse(before, e)) {
      fuzz::Require(
          Same(DirFrame(before, e), DirFrame(after, e)) && Same(Block(before, e), Block(after, e)),
          "a download changed a save that was on the card");
    } else if (InUse(after, e) && DirFrame(after, e)[ps1dir::kState] == ps1state::kFirst) {
      fuzz::Require(first < 0, "a download made two first blocks");
      first = e;
    }
  }
  fuzz::Require(first >= 0, "a successful download placed no first block");
  fuzz::Require(Same(DirFrame(after, first).subspan(ps1dir::kName, ps1dir::kNameMax),
                     file.subspan(ps1dir::kName, ps1dir::kNameMax)),
                "the downloaded save lost its name");
  int e = first;
  for (int i = 0; i < blocks; ++i) {
    fuzz::Require(e >= 0 && e < kPS1Entries && !InUse(before, e) && InUse(after, e),
                  "the downloaded chain leaves the free blocks");
    fuzz::Require(
        Same(Block(after, e),
             file.subspan(kPS1SaveHeaderBytes + size_t{kPS1BlockBytes} * i, kPS1BlockBytes)),
        "a downloaded block differs from the file");
    const uint16_t link = load_le16(DirFrame(after, e), ps1dir::kLink);
    e = i + 1 < blocks ? link : -1;
    if (i + 1 == blocks) fuzz::Require(link == kPS1LastLink, "the downloaded chain does not end");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PS1Card& c = Card();
  auto& m = c.Manager();
  const std::string path = fuzz::ScratchFile("input.PS1");
  fuzz::WriteFile(path, {data, size});
  c.Adapter().ResetCounters();

  bool placed = false;
  try {
    placed = m.DownloadPS1Saver(path).done;
  } catch (const InOutError& e) {
    fuzz::Require(!e.reason().empty(), "a save file error without a reason");
  }
  if (placed) {
    CheckPlacedSave(c.Pristine(), c.Image(), {data, size});
  } else {
    fuzz::Require(c.Adapter().counters().frames_written == 0 && c.Unchanged(),
                  "a failed download changed the card");
  }
  fuzz::Require(m.ScanPS1(), "the card does not scan after a download");
  c.RestoreAll();
  return 0;
}
