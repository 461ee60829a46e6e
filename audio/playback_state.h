// Module-wide state of the wave-output device.
#pragma once

#include <cstdlib>

#include "platform/platform.h"

struct PlaybackState {
    LONG deviceId = 0;            // -1: the default device (WAVE_MAPPER)
    HWAVEOUT hWaveOut = nullptr;  // as last opened; not cleared on close
    HWND notifyWindow = nullptr;  // CALLBACK_WINDOW target
    WAVEHDR* header = nullptr;    // calloc'd by each successful open
    // The header's lpData is released with the header (a single PlayWav);
    // otherwise it belongs to the play list's tables.
    bool headerOwnsData = false;

    void ReleaseHeader() {
        if (!header) return;
        if (headerOwnsData) free(header->lpData);
        free(header);
        header = nullptr;
        headerOwnsData = false;
    }

    PlaybackState() = default;
    PlaybackState(const PlaybackState&) = delete;
    PlaybackState& operator=(const PlaybackState&) = delete;
    ~PlaybackState() { ReleaseHeader(); }
};
