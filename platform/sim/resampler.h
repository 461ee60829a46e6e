// Sample-rate conversion for the wave devices, the mapper and the ALSA
// feed: libsoxr at high quality (linear phase, passband to 91% of the
// lower Nyquist, images and aliases below -100 dB), on interleaved floats
// on the 16-bit scale. Where libsoxr cannot be loaded, conversions run on
// by linear interpolation and one line on stderr says why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct soxr;

namespace sim {

class Resampler {
public:
    Resampler(double from, double to, unsigned channels);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Appends what `frames` more input frames give (the converter holds back
    // its filter's reach until more input or the end).
    void Process(const float* in, size_t frames, std::vector<float>& out);
    // The input has ended: appends what the converter still holds.
    void Flush(std::vector<float>& out);

private:
    void Run(const float* in, size_t frames, std::vector<float>& out);
    void Linear(const float* in, size_t frames, std::vector<float>& out);
    soxr* s_ = nullptr;  // null: linear interpolation
    std::vector<float> last_;  // linear: the previous input frame
    double at_ = 0;            // linear: the next output's place after it, in input frames
    double ratio_;
    unsigned channels_;
};

// A whole buffer converted, `outFrames` frames long: the converter's output
// cut or padded with silence to the length the buffer lasts at the new rate.
std::vector<float> ResampleAll(const float* in, size_t frames, unsigned channels, double from, double to,
                               size_t outFrames);

}  // namespace sim
