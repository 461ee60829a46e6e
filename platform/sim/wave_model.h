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
#include "wave_devices.h"

namespace wavesim {

using sim::Micros;

struct Device {
    bool present = true;
    std::vector<sim::WaveFormatSpec> formats;
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
};

struct Queued {
    WAVEHDR* header;
    uint64_t timer = 0;
    Micros start = 0;      // output: when the buffer starts playing
    Micros end = 0;        // output: when it has played
    uint64_t emitted = 0;  // output: tap samples written from it
    uint64_t lineMark = 0; // output: line samples handed over up to its end
};

struct Open {
    bool output = true;
    UINT device = 0;
    WAVEFORMATEX format{};
    HWND window = nullptr;
    DWORD flags = 0;
    std::deque<Queued> queue;
    Micros busyUntil = 0;    // output: end of the audio queued so far
    uint64_t lineSamples = 0;  // output: samples handed to a line backend
    bool started = false;    // input: recording
    Micros bufferStart = 0;  // input: when the head buffer began filling
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
bool Convertible(const WAVEFORMATEX& f);
DWORD FrameBytes(const WAVEFORMATEX& f);

// One frame of 8/16-bit PCM or mu-law as a 16-bit mono sample (channels averaged).
inline int SampleAt(const WAVEFORMATEX& f, const uint8_t* data, uint64_t frame) {
    const size_t width = f.wBitsPerSample == 16 ? 2 : 1;
    const uint8_t* p = data + frame * width * f.nChannels;
    int sum = 0;
    for (WORD c = 0; c < f.nChannels; ++c, p += width) {
        if (f.wFormatTag == WAVE_FORMAT_MULAW)
            sum += sim::MuLawDecode(*p);
        else if (width == 1)
            sum += (static_cast<int>(*p) - 128) << 8;
        else
            sum += static_cast<int16_t>(p[0] | (p[1] << 8));
    }
    return f.nChannels ? sum / f.nChannels : 0;
}
Micros Duration(const WAVEFORMATEX& f, DWORD bytes);
Open* FindOpen(uintptr_t h, bool output);
void Notify(const Open& o, uintptr_t handle, UINT msg, WAVEHDR* header);
void Complete(WAVEHDR* h);
bool InQueue(const Open& o, const WAVEHDR* h);

MMRESULT OpenDevice(bool output, uintptr_t* handleOut, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                    DWORD flags);
MMRESULT CloseDevice(bool output, uintptr_t h);
MMRESULT Prepare(bool output, uintptr_t h, LPWAVEHDR header, UINT size, bool prepare);

// Output: queues a buffer after what is queued; the tap gets it as it plays.
void QueueOutput(uintptr_t handle, Open& o, WAVEHDR* header);
// Output: every buffer back at once, the tap cut at the current time.
void ResetOutput(uintptr_t handle, Open& o);

// Input: the head buffer starts filling (when recording and not yet).
void StartHeadBuffer(uintptr_t handle);
// Input: the head buffer with what it holds so far; the rest come back
// empty when `all`.
void ReturnBuffers(uintptr_t handle, Open& o, bool all);

// Line backends (wave_backend.cpp).
void BackendStream(UINT device, bool output, bool on);
// The number of 8 kHz samples handed to the device's backend (0 without one).
size_t BackendPlay(UINT device, const WAVEFORMATEX& f, const WAVEHDR& h);
bool BackendTaken(UINT device, uint64_t upTo);
void BackendFlush(UINT device);
bool BackendHear(UINT device, Micros start, DWORD rate, size_t frames, std::vector<int16_t>& out);

}  // namespace wavesim
