// The virtual wave devices' model, shared by the device code
// (wave_devices.cpp) and the platform functions (wave_functions.cpp).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "g711.h"
#include "sim.h"
#include "tap_file.h"
#include "resampler.h"
#include "wave_devices.h"
#include "wave_format.h"

namespace wavesim {

using sim::Micros;

struct Device {
    bool present = true;
    std::vector<sim::WaveFormatSpec> formats;
    // Takes its formats in extensible records too; what the mapper converts
    // for it is the wide set (any sample type, 1-8 channels, 8-192 kHz).
    bool modern = false;
    uintptr_t openHandle = 0;
    int completed = 0;
};

struct Tap {
    DWORD rate = 8000;
    std::string path;
    sim::TapFile file;
};

struct Source {
    std::shared_ptr<const std::vector<int16_t>> samples;
    DWORD rate = 8000;
    bool anchorAtStart = false;
    Micros start = 0;
    // The samples at the rate a recording last asked for, converted as far
    // as recordings have reached; kept while the samples and that rate stay.
    struct Converted {
        std::shared_ptr<const std::vector<int16_t>> from;
        DWORD rate = 0;
        std::shared_ptr<sim::Resampler> resampler;
        size_t fed = 0;
        std::vector<int16_t> samples;
    };
    std::shared_ptr<Converted> converted;
};

struct Queued {
    WAVEHDR* header;
    uint64_t timer = 0;
    Micros start = 0;      // output: when the buffer starts playing
    Micros end = 0;        // output: when it has played
    uint64_t emitted = 0;  // output: tap samples written from it
    uint64_t lineMark = 0; // output: line samples handed over up to its end
    uint64_t fed = 0;      // output: frames given to the tap's stream
};

// The tap's view of an open output: its buffers, back to back, converted to
// the tap's rate as one stream (a gap or a reset starts a new one).
struct TapStream {
    bool on = false;
    uint64_t at = 0;        // tap index of the stream's first sample
    uint64_t frames = 0;    // input frames fed
    uint64_t written = 0;   // samples written to the tap
    std::vector<int16_t> pending;  // produced, not yet written
    std::shared_ptr<sim::Resampler> resampler;  // null at the tap's own rate
};

struct Open {
    bool output = true;
    UINT device = 0;
    WAVEFORMATEX format{};
    Layout layout;
    HWND window = nullptr;
    DWORD flags = 0;
    std::deque<Queued> queue;
    Micros busyUntil = 0;    // output: end of the audio queued so far
    uint64_t lineSamples = 0;  // output: samples handed to a line backend
    bool started = false;    // input: recording
    Micros bufferStart = 0;  // input: when the head buffer began filling
    TapStream tap;           // output
};

struct Fault {
    MMRESULT result;
    int count;
    int device;
};

struct WaveDeviceTable {
    Device out[sim::kWaveDeviceCount];
    Device in[sim::kWaveDeviceCount];
    Tap taps[sim::kWaveDeviceCount];
    Source sources[sim::kWaveDeviceCount];
    std::map<uintptr_t, Open> opens;
    uintptr_t nextHandle = 0x7000;
    std::map<std::string, std::vector<Fault>> faults;
};

WaveDeviceTable& WaveDevices();

bool Injected(const std::string& fn, UINT device, MMRESULT& result);
// What the mapper converts for a device (the old narrow set for a line device).
bool Convertible(const WAVEFORMATEX& f, bool modern);
DWORD FrameBytes(const WAVEFORMATEX& f);

// Frames [from, from + n) of the buffer as 16-bit mono (the channels' mean).
void MonoS16(const Layout& l, const uint8_t* data, uint64_t from, size_t n, int16_t* out);
Micros Duration(const WAVEFORMATEX& f, DWORD bytes);
Open* FindOpen(uintptr_t h, bool output);
void Notify(const Open& o, uintptr_t handle, UINT msg, WAVEHDR* header);
void Complete(WAVEHDR* h);
bool InQueue(const Open& o, const WAVEHDR* h);

MMRESULT OpenDevice(bool output, uintptr_t* handleOut, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                    DWORD flags);
MMRESULT CloseDevice(bool output, uintptr_t h);
MMRESULT Prepare(bool output, uintptr_t h, LPWAVEHDR header, UINT size, bool prepare);

// Taps (wave_tap.cpp). The tap up to `upTo`, converting what that takes.
void AdvanceTap(Open& o, Micros upTo);
// The stream has ended (its last buffer played, or a gap follows): all of it.
void FinishTap(Open& o);
// A reset: the tap up to `upTo` and no further.
void CutTap(Open& o, Micros upTo);
// The head buffer is done: converted whole before it goes back.
void TapBufferDone(Open& o);
void FlushTap(UINT device);

// Output: queues a buffer after what is queued; the tap gets it as it plays.
void QueueOutput(uintptr_t handle, Open& o, WAVEHDR* header);
// Output: every buffer back at once, the tap cut at the current time.
void ResetOutput(uintptr_t handle, Open& o);

// Input: the head buffer starts filling (when recording and not yet).
// Starts the head input buffer at clock time `start` (-1: now).
void StartHeadBuffer(uintptr_t handle, Micros start = -1);
// Input: the head buffer with what it holds so far; the rest come back
// empty when `all`.
void ReturnBuffers(uintptr_t handle, Open& o, bool all);

// Line backends (wave_backend.cpp).
void BackendStream(UINT device, bool output, bool on);
// The number of 8 kHz samples handed to the device's backend (0 without one).
size_t BackendPlay(UINT device, const Layout& l, const WAVEHDR& h);
bool BackendTaken(UINT device, uint64_t upTo);
bool BackendHeard(UINT device, Micros upTo);
void BackendFlush(UINT device);
bool BackendHear(UINT device, Micros start, DWORD rate, size_t frames, std::vector<int16_t>& out);

}  // namespace wavesim
