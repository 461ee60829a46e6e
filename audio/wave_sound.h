// The current sound: the format record and sample data of the last WAV read.
#pragma once

#include <cstdlib>

#include "platform/platform.h"

struct WaveSound {
    WAVEFORMATEX* format = nullptr;  // the "fmt " chunk's bytes, calloc'd
    DWORD formatSize = 0;
    char* data = nullptr;  // the "data" chunk's bytes, calloc'd
    DWORD dataSize = 0;
    // True while the blocks are this sound's own (a file read for PlayWav);
    // false when they belong to the play list's tables or to the playback
    // header.
    bool owned = false;

    // Forgets the blocks without releasing them.
    void Clear() {
        format = nullptr;
        formatSize = 0;
        data = nullptr;
        dataSize = 0;
        owned = false;
    }
    // Releases the blocks when they are the sound's own, then forgets them.
    void Release() {
        if (owned) {
            free(format);
            free(data);
        }
        Clear();
    }

    WaveSound() = default;
    WaveSound(const WaveSound&) = delete;
    WaveSound& operator=(const WaveSound&) = delete;
    ~WaveSound() { Release(); }
};
