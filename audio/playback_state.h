// Module-wide state of the wave-output device.
#pragma once

#include "platform/platform.h"

struct PlaybackState {
    LONG deviceId = 0;           // -1: the default device (WAVE_MAPPER)
    HWAVEOUT hWaveOut = nullptr;  // as last opened; not cleared on close
    HWND notifyWindow = nullptr;  // CALLBACK_WINDOW target
    WAVEHDR* header = nullptr;    // calloc'd by each successful open
};
