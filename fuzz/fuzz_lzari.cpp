// LZARI streams from anywhere: the first four bytes give the length to
// inflate (kept below 1 MB so a run stays quick), the rest is the stream. A
// stream either inflates to exactly that length or is refused; what it
// inflates to compresses and inflates back to the same bytes.
#include <cstdint>

#include "common/bytes.h"
#include "formats/lzari.h"
#include "formats/save.h"
#include "fuzz_support.h"

using namespace travosk;
using namespace travosk::formats;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const Bytes input(data, size);
  const uint64_t length = load_le32(input, 0) & 0xFFFFF;
  std::vector<uint8_t> out;
  try {
    out = LzariDecompress(input.subspan(4), length);
  } catch (const FormatError&) {
    return 0;
  }
  fuzz::Require(out.size() == length, "a stream inflated to another length than asked");
  fuzz::Require(LzariDecompress(LzariCompress(out), out.size()) == out,
                "compressed bytes do not inflate back");
  return 0;
}
