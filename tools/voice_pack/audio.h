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
constexpr double kActiveDbfs = -20;        // every syllable's active level (ActiveRmsDbfs)
constexpr double kActiveToleranceDb = 1.5;
constexpr double kMaxPeakDbfs = -1;
constexpr double kMaxEdgeSeconds = 0.03;   // silence at either end, below kEdgeDbfs
constexpr double kEdgeDbfs = -55;          // 35 dB under the active level: a faint consonant still counts

// libsoxr, high quality.
Samples Resample(const Samples& in, int in_rate, int out_rate);

// Cuts leading and trailing silence: everything before the first and after
// the last 5 ms frame whose RMS reaches threshold_dbfs, keeping a 10 ms
// margin that fades in and out.
Samples TrimSilence(const Samples& in, int rate, double threshold_dbfs);

constexpr double kMinAudibleSeconds = 0.05;

// Why the sound does not belong in the pack ("" when it does): its length
// is outside 0.15 to 0.8 s, it clips (a sample at full scale), it is
// silent (peak under -30 dBFS, RMS under -45 dBFS, or less than 0.05 s of
// it in 5 ms frames of -40 dBFS or more), its peak reaches -1 dBFS, its
// active level is off -20 dBFS by more than 1.5 dB, or more than 30 ms at
// either end lie below -55 dBFS.
std::string CheckSound(const Samples& s, int rate);

// Seconds of 5 ms frames whose RMS is -40 dBFS or more.
double AudibleSeconds(const Samples& s, int rate);

double PeakDbfs(const Samples& s);
double RmsDbfs(const Samples& s);

// Level of the active part: the RMS of the 10 ms frames within 20 dB of
// the loudest frame (the vowel and voiced consonants of a syllable, not its
// fade or a faint fricative edge). -200 for silence.
double ActiveRmsDbfs(const Samples& s, int rate);

// Scales the sound so that its active level is target_dbfs.
Samples Normalise(const Samples& s, int rate, double target_dbfs);

// Seconds before the first and after the last 5 ms frame whose RMS
// reaches threshold_dbfs.
struct EdgeSilence {
    double lead = 0, trail = 0;
};
EdgeSilence EdgeSilenceSeconds(const Samples& s, int rate, double threshold_dbfs);

// Fundamental frequency in Hz of each 10 ms step (0 where unvoiced): the
// normalised autocorrelation over 30 ms windows, 60 to 400 Hz, the
// shortest lag whose correlation is within 20 % of the best; a step is
// voiced when that reaches 0.7 and its level is within 30 dB of the
// loudest step.
std::vector<double> PitchTrack(const Samples& s, int rate);

// Semitones from 100 Hz.
double Semitones(double hz);

// A 425 Hz tone, 0.3 s with 10 ms fades, at the syllables' active level.
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
