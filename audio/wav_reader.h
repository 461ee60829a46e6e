// Reads a RIFF/WAVE file into the module's current sound.
#pragma once

#include "platform/platform.h"

struct Module;

// 0 when the current sound holds the file's format record and sample data
// (both calloc'd, owned by the sound); -1 to -9 otherwise, with the current
// sound empty. Writes one log entry per call.
LONG ReadWav(Module& m, const char* path);
