// Voice recording: RecordWav and StopRecord, the input device's
// notifications, and the recording's file. The recorder owns its state:
// the device, the one buffer and header, the target name and the window
// the device reports to.
#pragma once

#include <string>

#include "control/core/core.h"
#include "telephony/line.h"

// 8 kHz, 8-bit, mono mu-law.
extern const WAVEFORMATEX kRecordFormat;

class Recorder {
public:
    Recorder(Core& core, Line& line) : core_(core), line_(line) {}
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    LONG deviceId = 0;          // -1: the default device (WAVE_MAPPER)
    HWAVEIN hWaveIn = nullptr;  // as last opened; not cleared on close
    std::string targetName;     // empty: a name made from the time
    LONG bufferSize = 0;
    HGLOBAL bufferMemory = nullptr;  // null when no recording runs
    WAVEHDR header{};
    HWND window = nullptr;  // where the input device reports

    bool Recording() const { return bufferMemory != nullptr; }

    // ---- automation members ------------------------------------------
    LONG RecordWav(ControlSite& site, LONG Dev, const std::string& FileName, LONG Time);
    LONG StopRecord();

    // ---- notifications -------------------------------------------------
    LRESULT OnWimOpen(ControlSite& site, HWAVEIN in);
    LRESULT OnWimData(ControlSite& site, WAVEHDR* hdr);

    // The window the recording reports to is going away: the device is
    // stopped, what was recorded so far is saved and everything released,
    // without events (nobody is left to hear them).
    void Abandon(HWND goingAway);

private:
    HWAVEIN StartWaveIn(LONG id);
    HWAVEIN FailStart(const char* text);
    // Closes the device, saves the buffer's recorded bytes and releases it.
    void Finish(bool dropCall);
    void ReleaseBuffer();
    void CloseInput();

    Core& core_;
    Line& line_;
};

// Writes the header's recorded bytes as a mu-law WAV named `name` (empty:
// the local time, "%Y_%B_%d_%H_%M_%S.wav"). 0 when written under `name`.
// When that file cannot be created or written, the recording is written
// whole under the time-made name instead, a box and the log say where, and
// the result is -1.
LONG SaveRecording(const Core& core, const std::string& name, const WAVEHDR& header);
// The time-made name for a recording ending now.
std::string RecordingNameNow();
