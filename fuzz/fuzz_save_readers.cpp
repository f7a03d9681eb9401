// Save files from anywhere through the format layer's readers: ".psu",
// ".max" (its CRC made right first, so the bytes reach the decompressor),
// PS1 single saves and card image identification. A reader refuses with a
// FormatError or an InOutError, or answers a save that its format's writer
// writes and the reader then reads back to the very same save.
#include <cstdint>
#include <vector>

#include "common/errors.h"
#include "formats/files.h"
#include "formats/images.h"
#include "formats/max.h"
#include "formats/ps1save.h"
#include "formats/psu.h"
#include "fuzz_support.h"

using namespace travosk;
using namespace travosk::formats;

namespace {

bool SameSave(const Ps2Save& a, const Ps2Save& b) {
  if (a.Name() != b.Name() || a.files.size() != b.files.size()) return false;
  for (size_t i = 0; i < a.files.size(); ++i) {
    const Bytes x = a.files[i].Content(), y = b.files[i].Content();
    if (a.files[i].Name() != b.files[i].Name() ||
        !std::equal(x.begin(), x.end(), y.begin(), y.end()))
      return false;
  }
  return true;
}

template <typename Read>
void Try(Read read) {
  try {
    read();
  } catch (const FormatError& e) {
    fuzz::Require(*e.what() != 0, "a format error without a reason");
  } catch (const InOutError& e) {
    fuzz::Require(!e.reason().empty(), "a file error without a reason");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes file(data, size);
  Try([&] {
    const Ps2Save save = ReadPsu(file, "fuzz.psu");
    fuzz::Require(SameSave(ReadPsu(WritePsu(save), "again.psu"), save),
                  "a .psu does not read back as written");
  });

  std::vector<uint8_t> max(file.begin(), file.end());
  if (max.size() >= 16) {
    std::copy_n("Ps2PowerSave", 12, max.begin());
    std::fill_n(max.begin() + 12, 4, 0);
    store_le32(max, 12, Crc32(max));
  }
  Try([&] {
    const Ps2Save save = ReadMax(max, "fuzz.max", 0);
    fuzz::Require(SameSave(ReadMax(WriteMax(save), "again.max", 0), save),
                  "a .max does not read back as written");
  });

  Try([&] {
    const Ps1Save save = ReadPs1Save(file, "fuzz.mcs");
    const auto written = WriteMcs(save);
    fuzz::Require(ReadMcs(written, "again.mcs").blocks == save.blocks,
                  "a PS1 save does not read back as written");
  });
  Try([&] { (void)ReadPs2Save(file, "fuzz.bin"); });
  (void)IdentifyImage(file, size, "fuzz.gme");
  return 0;
}
