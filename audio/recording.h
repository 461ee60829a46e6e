// Recording the call's (or the default) wave-input device into a WAV file.
#pragma once

#include <string>

#include "platform/platform.h"

struct Module;

// 8 kHz, 8-bit, mono mu-law.
extern const WAVEFORMATEX kRecordFormat;

// Opens device `id` (-1: the default device) for the recording format,
// with notifications to the playback state's window, and queues one
// buffer of the record state's size. The input handle when recording;
// null on any failure (the device closed again, the buffer released).
HWAVEIN StartWaveIn(Module& m, LONG id);
// Writes the header's recorded bytes as a 46-byte-header mu-law WAV named
// `name` (empty: the local time, "%Y_%B_%d_%H_%M_%S.wav"). 0 when written
// under `name`; -1 when that file could not be created (the recording is
// then written under the time-made name).
LONG SaveRecording(Module& m, const std::string& name, const WAVEHDR& header);
// The time-made name for a recording ending now.
std::string RecordingNameNow();
