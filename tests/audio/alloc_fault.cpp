#include "tests/audio/alloc_fault.h"

#include <atomic>
#include <cstdlib>

// g++ says AddressSanitizer with __SANITIZE_ADDRESS__, clang with __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ALLOC_FAULT_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(ALLOC_FAULT_UNDER_ASAN)
namespace allocfault {
bool Available() { return false; }
void FailCallocOfSize(size_t) {}
void ResetLargest() {}
size_t Largest() { return 0; }
}  // namespace allocfault
#else
namespace {
std::atomic<size_t> gFailSize{0};
std::atomic<size_t> gLargest{0};
}

extern "C" void* __libc_calloc(size_t n, size_t size);

// Takes the place of the C library's calloc for the whole test program
// (the control's shared library included).
extern "C" void* calloc(size_t n, size_t size) {
    size_t asked = n * size;
    size_t seen = gLargest.load(std::memory_order_relaxed);
    while (asked > seen && !gLargest.compare_exchange_weak(seen, asked)) {
    }
    size_t want = gFailSize.load(std::memory_order_relaxed);
    if (want != 0 && n * size == want && gFailSize.compare_exchange_strong(want, 0)) return nullptr;
    return __libc_calloc(n, size);
}

namespace allocfault {
bool Available() { return true; }
void FailCallocOfSize(size_t size) { gFailSize = size; }
void ResetLargest() { gLargest = 0; }
size_t Largest() { return gLargest; }
}  // namespace allocfault
#endif
