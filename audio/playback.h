// Opening the wave-output device for the current sound and queueing it.
#pragma once

#include "platform/platform.h"

struct Module;

// Open the call's device `id` (passed as its low 16 bits, through the
// mapper) or the default device for the current sound's format, with
// notifications to `window`. 0 when open (the format record released, a
// new playback header allocated); -1 to -7 otherwise.
LONG OpenLineWaveOut(Module& m, HWND window, LONG id);
LONG OpenDefaultWaveOut(Module& m, HWND window);
// Queues the current sound's data through the playback header. The output
// handle when queued; 0 otherwise (after a failed prepare or write the
// header, and the data when the header owns it, are released).
HWAVEOUT WriteCurrentSound(Module& m);
