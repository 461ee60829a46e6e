// The one owning type for sound memory: a block from the standard heap
// (calloc/free) with exactly one owner, and a sound made of a format record
// and sample data. Sounds are shared by reference (the current sound, the
// play list's items, a queued playback buffer); each block is freed once,
// when its last holder lets go.
#pragma once

#include <cstdlib>
#include <memory>

#include "platform/platform.h"

class HeapBlock {
public:
    HeapBlock() = default;
    // A zero-filled block of `size` bytes; empty when it cannot be had.
    static HeapBlock Allocate(size_t size) {
        HeapBlock b;
        if (size) b.p_.reset(static_cast<char*>(calloc(1, size)));
        if (b.p_) b.size_ = size;
        return b;
    }
    char* get() const { return p_.get(); }
    size_t size() const { return size_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    struct Free {
        void operator()(char* p) const { free(p); }
    };
    std::unique_ptr<char, Free> p_;
    size_t size_ = 0;
};

struct Sound {
    HeapBlock format;  // the "fmt " chunk's bytes, used as a WAVEFORMATEX
    HeapBlock data;    // the "data" chunk's bytes

    const WAVEFORMATEX* Format() const { return reinterpret_cast<const WAVEFORMATEX*>(format.get()); }
    DWORD FormatSize() const { return static_cast<DWORD>(format.size()); }
    char* Data() const { return data.get(); }
    DWORD DataSize() const { return static_cast<DWORD>(data.size()); }
};

using SoundRef = std::shared_ptr<const Sound>;
