// Heap failure for the audio tests: the next calloc of exactly `size` bytes
// returns null. Not available under AddressSanitizer, which owns the heap.
#pragma once

#include <cstddef>

namespace allocfault {
bool Available();
void FailCallocOfSize(size_t size);
// The largest calloc asked for since the last reset.
void ResetLargest();
size_t Largest();
}  // namespace allocfault
