// A page of a PS2 card or a SmartMedia, as the adapter moves it and as raw
// images hold it: 512 data bytes, then 16 spare bytes for the page's ECC.
// The link, the simulated adapter, the card and the image layer all count in
// these pages; the simulator uses nothing of the core, so the fact lives here.
#pragma once

#include <cstddef>

namespace travosk::page {

inline constexpr size_t kBytes = 528;      // one raw page
inline constexpr size_t kDataBytes = 512;  // what the file system sees of it
inline constexpr size_t kSpareBytes = 16;  // ECC and a few unused bytes
static_assert(kDataBytes + kSpareBytes == kBytes);

}  // namespace travosk::page
