// LZARI: LZ77 over a 4,096-byte window (matches of 3..60 bytes) whose
// literals, match lengths and match positions are coded by an adaptive
// arithmetic coder, as the ".max" save format uses it. The stream starts with
// the uncompressed length (u32) in the format's own header, not here.
#pragma once

#include <cstdint>
#include <vector>

#include "common/bytes.h"

namespace travosk::formats {

std::vector<uint8_t> LzariCompress(Bytes input);
// Decodes exactly `size` bytes; throws FormatError when the stream runs out
// well before them (a damaged or cut body), never answering part of a save.
std::vector<uint8_t> LzariDecompress(Bytes stream, uint64_t size);

}  // namespace travosk::formats
