#include "tests/audio/alloc_fault.h"

#include <atomic>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
namespace allocfault {
bool Available() { return false; }
void FailCallocOfSize(size_t) {}
}  // namespace allocfault
#else
namespace {
std::atomic<size_t> gFailSize{0};
}

extern "C" void* __libc_calloc(size_t n, size_t size);

// Takes the place of the C library's calloc for the whole test program
// (the control's shared library included).
extern "C" void* calloc(size_t n, size_t size) {
    size_t want = gFailSize.load(std::memory_order_relaxed);
    if (want != 0 && n * size == want && gFailSize.compare_exchange_strong(want, 0)) return nullptr;
    return __libc_calloc(n, size);
}

namespace allocfault {
bool Available() { return true; }
void FailCallocOfSize(size_t size) { gFailSize = size; }
}  // namespace allocfault
#endif
