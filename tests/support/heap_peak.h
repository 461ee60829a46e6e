// Live heap bytes of the whole test program (the control's library
// included), for checks that memory does not grow with the data. Not
// available under AddressSanitizer, which owns the heap.
#pragma once

#include <cstddef>

namespace heappeak {
bool Available();
// Starts a measurement at the current live size.
void Start();
// The most the live size rose above the start since Start().
size_t Rise();
}  // namespace heappeak
