// WAV files as 16-bit mono samples, over the RIFF/WAVE module.
#include <vector>

#include "g711.h"
#include "riff_wave.h"
#include "wave_model.h"

namespace {

// Raw bytes of `format` as 16-bit mono at the format's rate.
std::vector<int16_t> DecodeToMono16(const WAVEFORMATEX& f, const void* bytes, size_t size) {
    std::vector<int16_t> out;
    if (!bytes || f.nChannels == 0) return out;
    const auto* p = static_cast<const uint8_t*>(bytes);
    const size_t width = f.wBitsPerSample == 16 ? 2 : 1;
    const size_t frame = width * f.nChannels;
    out.resize(size / frame);
    int16_t* o = out.data();
    for (size_t i = 0; i + frame <= size; i += frame) {
        int sum = 0;
        for (size_t c = 0; c < f.nChannels; ++c) {
            const uint8_t* s = p + i + c * width;
            if (f.wFormatTag == WAVE_FORMAT_MULAW)
                sum += sim::MuLawDecode(*s);
            else if (width == 1)
                sum += (static_cast<int>(*s) - 128) << 8;
            else
                sum += static_cast<int16_t>(s[0] | (s[1] << 8));
        }
        *o++ = static_cast<int16_t>(sum / f.nChannels);
    }
    return out;
}

}  // namespace

namespace sim {

bool LoadWav(const std::string& path, std::vector<int16_t>& samples, DWORD& rate) {
    riff::WaveInfo info;
    std::vector<uint8_t> data;
    if (!riff::ReadFile(path, info, data) || !wavesim::Convertible(info.format)) return false;
    samples = DecodeToMono16(info.format, data.data(), data.size());
    rate = info.format.nSamplesPerSec;
    return true;
}

}  // namespace sim
