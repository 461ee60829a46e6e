#include "tests/support/heap_peak.h"

#include <malloc.h>

#include <atomic>

// g++ says AddressSanitizer with __SANITIZE_ADDRESS__, clang with __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HEAP_PEAK_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(HEAP_PEAK_UNDER_ASAN)
namespace heappeak {
bool Available() { return false; }
void Start() {}
size_t Rise() { return 0; }
}  // namespace heappeak
#else
namespace {
std::atomic<long long> gLive{0};
std::atomic<long long> gStart{0};
std::atomic<long long> gPeak{0};

void Grow(void* p) {
    if (!p) return;
    long long now = gLive.fetch_add(static_cast<long long>(malloc_usable_size(p))) +
                    static_cast<long long>(malloc_usable_size(p));
    long long peak = gPeak.load(std::memory_order_relaxed);
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
}
void Shrink(void* p) {
    if (p) gLive.fetch_sub(static_cast<long long>(malloc_usable_size(p)));
}
}  // namespace

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t n, size_t size);
extern "C" void* __libc_realloc(void* p, size_t size);
extern "C" void __libc_free(void* p);

// These take the place of the C library's allocator for the whole program.
extern "C" void* malloc(size_t size) {
    void* p = __libc_malloc(size);
    Grow(p);
    return p;
}
extern "C" void* calloc(size_t n, size_t size) {
    void* p = __libc_calloc(n, size);
    Grow(p);
    return p;
}
extern "C" void* realloc(void* old, size_t size) {
    size_t before = old ? malloc_usable_size(old) : 0;
    void* p = __libc_realloc(old, size);
    if (p || size == 0) gLive.fetch_sub(static_cast<long long>(before));
    if (!p && size != 0) return nullptr;
    Grow(p);
    return p;
}
extern "C" void free(void* p) {
    Shrink(p);
    __libc_free(p);
}

namespace heappeak {
bool Available() { return true; }
void Start() {
    gStart = gLive.load();
    gPeak = gStart.load();
}
size_t Rise() { return static_cast<size_t>(gPeak.load() - gStart.load()); }
}  // namespace heappeak
#endif
