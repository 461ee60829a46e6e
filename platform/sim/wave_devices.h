// Control surface of the virtual wave devices (Linux platform layer).
//
// Device ids, the same for output and input: 0 is the default sound card
// (what WAVE_MAPPER maps to), 1 is the modem's line device (the id the
// virtual modem reports for "wave/out" and "wave/in" of the current call).
// An output device whose tap has a path streams what it plays to that WAV
// file: 16-bit mono PCM at the device's tap rate, from clock 0, silence
// where nothing played; nothing is kept in memory. Each input
// device records from a source: samples placed on the clock, silence
// outside them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "win32/mmsystem.h"

namespace sim {

constexpr UINT kSoundCardDevice = 0;
constexpr UINT kLineDevice = 1;
constexpr UINT kWaveDeviceCount = 2;
// Matches any device in fault injection.
constexpr int kAnyDevice = -1;

struct WaveFormatSpec {
    WORD tag = WAVE_FORMAT_PCM;
    WORD channels = 1;
    DWORD rate = 8000;
    WORD bits = 16;
    bool operator==(const WaveFormatSpec&) const = default;
};

// Formats a device takes natively. A WAVE_MAPPED open, or an open through
// WAVE_MAPPER, also takes any PCM (8/16-bit, 1-2 channels, 1-192 kHz) or
// 8-bit mu-law/A-law, which the mapper converts.
void SetDeviceFormats(bool output, UINT device, std::vector<WaveFormatSpec> formats);
std::vector<WaveFormatSpec> DeviceFormats(bool output, UINT device);
// A device that is not present answers MMSYSERR_BADDEVICEID.
void SetDevicePresent(bool output, UINT device, bool present);

// Failure injection. `function` is the platform function's name
// ("waveOutOpen", "waveOutWrite", "waveInStart", ...); "waveOutQuery" and
// "waveInQuery" match only format queries, "waveOutOpen"/"waveInOpen" only
// real opens. The next `count` calls on `device` (kAnyDevice for any; for
// handle-based functions the device of the handle) answer `result`.
// count -1: every call until cleared.
void FailWave(const std::string& function, MMRESULT result, int count = 1, int device = kAnyDevice);
void ClearWaveFaults();

// ---- output taps -------------------------------------------------------
DWORD TapRate(UINT device);
// Starts the device's tap file at `path` (empty: no tap). Samples are
// written as the device plays; the header is brought up to date on every
// close of the device, by WriteTaps() and by the readers below. False when
// the file cannot be created (the device then has no tap).
bool SetTapPath(UINT device, const std::string& path);
std::string TapPath(UINT device);
void WriteTaps();
// What the tap file holds up to now (empty without a tap), and its length
// in samples.
std::vector<int16_t> TapSamples(UINT device);
uint64_t TapLength(UINT device);
// `count` samples of the tap from sample `from` on, read from its file
// alone: silence where nothing has been played (yet).
std::vector<int16_t> TapSpan(UINT device, uint64_t from, size_t count);

// ---- input sources -----------------------------------------------------
// The samples the input device hears. anchorAtStart false: sample 0 is
// heard at the current clock time; true: at each waveInStart.
void SetInputSamples(UINT device, std::vector<int16_t> samples, DWORD rate, bool anchorAtStart);
// Same from a WAV file (PCM 8/16-bit or mu-law, any channels), read and
// decoded here once (again only when the file changed). False when the
// file cannot be read.
bool SetInputWav(UINT device, const std::string& path, bool anchorAtStart);
void ClearInput(UINT device);

// ---- line backends -----------------------------------------------------
// A provider that carries the line's audio backs a device id: `stream` when
// the output or input device opens (true) and closes (false); `play` with
// each output buffer as it is queued (16-bit mono, 8 kHz); `flush` when the
// output is reset; `hear` fills `n` 16-bit samples at 8 kHz heard from
// clock time `start` on; `taken` says whether the line has taken the
// output's first `upTo` samples (counted from the device's opening): an
// output buffer is done when the clock has played it and the line has taken
// it (a modem's flow control paces it; asked again every 10 ms until then).
// `heardUntil` is the clock time up to which the line has delivered what
// `hear` gives (absent: all of it at once): an input buffer is full once
// the clock has passed its end and the line has delivered up to it (a
// modem sends in pieces), or 250 ms after its end at the latest. An input
// at another rate than 8 kHz is converted as one stream per recording, so
// its buffers also wait for the converter's look-ahead (up to about 0.15 s).
// A backend with no functions removes the device's.
struct LineBackend {
    std::function<void(bool output, bool on)> stream;
    std::function<void(const int16_t* samples, size_t n)> play;
    std::function<void()> flush;
    std::function<void(int64_t start, int16_t* out, size_t n)> hear;
    std::function<bool(uint64_t upTo)> taken;
    std::function<int64_t()> heardUntil;
};
void SetLineBackend(UINT device, LineBackend backend);

// ---- state, for tests --------------------------------------------------
int OpenWaveHandles(bool output);
bool DeviceBusy(bool output, UINT device);
// Number of buffers each device has completed (played or filled).
int CompletedBuffers(bool output, UINT device);

// ---- multimedia files --------------------------------------------------
int OpenMmioHandles();
// "mmioOpen" (no handle), "mmioDescend" (chunk not found), "mmioRead"
// (returns -1), "mmioAscend"; the next `count` calls fail.
void FailMmio(const std::string& function, int count = 1);

// ---- WAV helpers -------------------------------------------------------
// Reads a WAV's samples as 16-bit mono (channels averaged).
bool LoadWav(const std::string& path, std::vector<int16_t>& samples, DWORD& rate);

}  // namespace sim
