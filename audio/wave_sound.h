// The current sound: the format record and sample data of the last WAV read.
#pragma once

#include "platform/platform.h"

struct WaveSound {
    WAVEFORMATEX* format = nullptr;  // the "fmt " chunk's bytes, calloc'd
    DWORD formatSize = 0;
    char* data = nullptr;  // the "data" chunk's bytes, calloc'd
    DWORD dataSize = 0;
};
