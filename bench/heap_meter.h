// A meter of the C++ heap: the program's operator new and delete count the
// bytes in use and the most that were in use at once since the last reset,
// so that a benchmark can say how much memory one operation needed.
// Allocations made with malloc directly (by the C library) are not seen.
#pragma once

#include <cstddef>

namespace travosk::bench::heap {

size_t InUse();
// The most bytes in use at once since the last ResetPeak.
size_t Peak();
void ResetPeak();

}  // namespace travosk::bench::heap
