// 16-bit mono sound: resampling, trimming, the pack's checks, WAV files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace voice_pack {

using Samples = std::vector<int16_t>;

constexpr int kPackRate = 8000;
constexpr double kMinSeconds = 0.15;
constexpr double kMaxSeconds = 0.8;

// libsoxr, high quality.
Samples Resample(const Samples& in, int in_rate, int out_rate);

// Cuts leading and trailing silence: everything before the first and after
// the last 5 ms frame whose RMS reaches the threshold (-40 dB below the
// loudest frame, and at least -50 dBFS), keeping a 10 ms margin that fades
// in and out.
Samples TrimSilence(const Samples& in, int rate);

constexpr double kMinAudibleSeconds = 0.05;

// Why the sound does not belong in the pack ("" when it does): its length
// is outside 0.15 to 0.8 s, it clips (a sample at full scale), or it is silent (peak under -30 dBFS, RMS under
// -45 dBFS, or less than 0.05 s of it in 5 ms frames of -40 dBFS or more).
std::string CheckSound(const Samples& s, int rate);

// Seconds of 5 ms frames whose RMS is -40 dBFS or more.
double AudibleSeconds(const Samples& s, int rate);

double PeakDbfs(const Samples& s);
double RmsDbfs(const Samples& s);

// A 425 Hz tone, 0.3 s at -12 dBFS with 10 ms fades.
Samples Beep(int rate);

// A canonical 44-byte-header PCM WAV, mono 16-bit.
std::string WavBytes(const Samples& s, int rate);
void WriteFile(const std::string& path, const std::string& bytes);

struct WavInfo {
    int format = 0, channels = 0, rate = 0, bits = 0;
    Samples samples;
};
// Reads a PCM WAV (fmt and data chunks, any order); throws std::runtime_error naming the file.
WavInfo ReadWav(const std::string& path);

}  // namespace voice_pack
