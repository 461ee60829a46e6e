// Voice recording: RecordWav and StopRecord, the input device's
// notifications, and the recording's file. The recorder owns its state:
// the device, the one buffer and header, the target name and the window
// the device reports to. The buffer holds the whole recording; the device
// fills it a second at a time, and each second is written to the file as
// it comes, so a process that dies keeps all but the last second.
#pragma once

#include <string>

#include "control/core/core.h"
#include "telephony/line.h"

// 8 kHz, 8-bit, mono mu-law.
extern const WAVEFORMATEX kRecordFormat;

// A recording's file written as the recording goes: the 46-byte header,
// then the recorded bytes; the header's sizes are brought up to date after
// every append, so the file is a valid WAV between appends. After a failed
// write nothing more is written, and the header says what the file holds.
class RecordingFile {
public:
    RecordingFile() = default;
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;
    ~RecordingFile() { Close(); }

    // Creates (replaces) `path` with a header for no bytes. False when it
    // cannot be created or its header not written.
    bool Open(const std::string& path);
    // False once a write has failed (now or before).
    bool Append(const void* bytes, DWORD n);
    // Brings the header up to date and closes; nothing when not open.
    void Close();

    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    bool Failed() const { return failed_; }
    const std::string& path() const { return path_; }
    DWORD written() const { return written_; }
    DWORD error() const { return error_; }  // the last error of the failed write

private:
    bool WriteHeader();
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::string path_;
    DWORD written_ = 0;
    bool failed_ = false;
    DWORD error_ = 0;
};

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

    // The device is given the buffer in slices of a second, a few at a time,
    // so that the file grows as the caller speaks. On Windows the device
    // gets the whole buffer at once, as the control always gave it: Wine's
    // capture returns no 1-second buffer after a reset, so a stopped
    // recording would never end there.
#ifdef _WIN32
    static constexpr DWORD kSliceBytes = 0xFFFFFFFF;
    static constexpr int kSlices = 1;
#else
    static constexpr DWORD kSliceBytes = 8000;
    static constexpr int kSlices = 3;
#endif

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
    // Hands the device the next slice of the buffer: 0, or the log text of
    // the step that failed.
    const char* QueueSlice();
    // Takes the slices the device has returned, in order: their bytes count
    // as recorded and go to the file. A slice returned short (the device was
    // reset) ends the recording: true when one did.
    bool TakeReturned();
    bool OwnSlice(const WAVEHDR* hdr) const;
    // The file the recording goes to as it is recorded.
    void OpenFile();
    // Completes the file; the result as SaveRecording's.
    LONG CloseFile();
    // Closes the device, saves the buffer's recorded bytes and releases it.
    void Finish(bool dropCall);
    void ReleaseBuffer();
    void CloseInput();

    WAVEHDR slices_[kSlices]{};
    int first_ = 0;        // the oldest slice the device holds
    int outstanding_ = 0;  // slices the device holds
    DWORD queued_ = 0;     // bytes of the buffer handed to the device
    bool stopping_ = false;
    RecordingFile file_;
    bool named_ = false;  // file_ is the target itself, not a working name

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
// The name a recording is written under until its own name is known (the
// time-made name of its start, "....part.wav").
std::string WorkingName();
