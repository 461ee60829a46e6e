// Reads a RIFF/WAVE file into a sound: the "fmt " chunk's bytes as the
// format record and the "data" chunk's bytes as the sample data.
#pragma once

#include "control/core/core.h"
#include "control/core/sound_buffer.h"

// 0 when `sound` holds the file's format record and sample data; -1 to -9
// otherwise, with `sound` empty. Every chunk size is checked against what
// the file holds before anything is allocated: a chunk that claims more is
// a short read. Writes one log entry per call.
LONG ReadWav(const Core& core, const char* path, SoundRef& sound);
