// Module-wide state of the wave-input device and the recording buffer.
#pragma once

#include <string>

#include "platform/platform.h"

struct RecordState {
    LONG deviceId = 0;          // -1: the default device (WAVE_MAPPER)
    HWAVEIN hWaveIn = nullptr;  // as last opened; not cleared on close
    std::string targetName;     // empty: a name made from the time
    LONG bufferSize = 0;
    HGLOBAL bufferMemory = nullptr;  // null once released
    WAVEHDR header{};

    void ReleaseBuffer() {
        if (bufferMemory) GlobalFree(bufferMemory);
        bufferMemory = nullptr;
        header.lpData = nullptr;
        header.dwUser = 0;
    }

    RecordState() = default;
    RecordState(const RecordState&) = delete;
    RecordState& operator=(const RecordState&) = delete;
    ~RecordState() { ReleaseBuffer(); }
};
