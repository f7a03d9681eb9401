// Save files from anywhere through the format layer's readers: ".psu",
// ".max" (its CRC made right first, so the bytes reach the decompressor),
// ".cbs" (as it comes, and with the input as its body, compressed and
// encrypted, so the bytes reach the record reader), ".sps"/".xps" and ".psv"
// (their magic set), PS1 single saves and card image identification. A reader refuses with a
// FormatError or an InOutError, or answers a save that its format's writer
// writes and the reader then reads back to the very same save.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "common/errors.h"
#include "formats/cbs.h"
#include "formats/files.h"
#include "formats/images.h"
#include "formats/max.h"
#include "formats/ps1save.h"
#include "formats/psu.h"
#include "formats/psv.h"
#include "formats/sharkport.h"
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

// A reader of a format this system does not write: what it answers must
// make a ".psu" that reads back to the same save.
template <typename Read>
void TryReadOnly(Read read) {
  Try([&] {
    const Ps2Save save = read();
    fuzz::Require(SameSave(ReadPsu(WritePsu(save), "again.psu"), save),
                  "a save read does not write to a .psu that reads back the same");
  });
}

std::vector<uint8_t> WithMagic(Bytes file, const char* magic, size_t n) {
  std::vector<uint8_t> out(file.begin(), file.end());
  if (out.size() < n) out.resize(n, 0);
  std::memcpy(out.data(), magic, n);
  return out;
}

// `body` as a ".cbs" file's inflated body: compressed, encrypted, with a
// header that announces its length.
std::vector<uint8_t> CbsAround(Bytes body) {
  uLongf size = compressBound(body.size());
  std::vector<uint8_t> packed(size);
  if (compress2(packed.data(), &size, body.data(), body.size(), 1) != Z_OK) return {};
  packed.resize(size);
  CbsCrypt(packed);
  std::vector<uint8_t> out(0x128, 0);
  std::memcpy(out.data(), "CFU\0", 4);
  store_le32(out, 8, 0x128);
  store_le32(out, 12, static_cast<uint32_t>(body.size()));
  store_le32(out, 16, static_cast<uint32_t>(packed.size()));
  std::memcpy(out.data() + 0x14, "BESLES-00000FUZZ", 16);
  out.insert(out.end(), packed.begin(), packed.end());
  return out;
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
  const auto cbs = WithMagic(file, "CFU\0", 4);
  TryReadOnly([&] { return ReadCbs(cbs, "fuzz.cbs"); });
  const auto wrapped = CbsAround(file);
  TryReadOnly([&] { return ReadCbs(wrapped, "body.cbs"); });
  const auto sps = WithMagic(file, "\x0d\0\0\0SharkPortSave", 17);
  TryReadOnly([&] { return ReadSharkPort(sps, "fuzz.sps"); });
  auto psv = WithMagic(file, "\0VSP", 4);
  if (psv.size() >= 0x40) store_le32(psv, 0x3C, 2);
  TryReadOnly([&] { return ReadPsv(psv, "fuzz.psv"); });
  if (psv.size() >= 0x40) store_le32(psv, 0x3C, 1);
  Try([&] {
    const Ps1Save save = ReadPs1Psv(psv, "fuzz.psv");
    fuzz::Require(save.blocks.size() == save.BlockCount() * kPs1BlockBytes &&
                      load_le32(save.frame, ps1frame::kSize) == save.blocks.size(),
                  "a PS1 .psv does not answer whole blocks its frame counts");
  });
  Try([&] { (void)ReadPs2Save(file, "fuzz.bin"); });
  (void)IdentifyImage(file, size, "fuzz.gme");
  return 0;
}
