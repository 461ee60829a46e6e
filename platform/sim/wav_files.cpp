// WAV files as 16-bit mono samples, over the RIFF/WAVE module.
#include <vector>

#include "platform/riff_wave.h"
#include "wave_model.h"

namespace {

// Raw bytes of `format` as 16-bit mono at the format's rate.
std::vector<int16_t> DecodeToMono16(const WAVEFORMATEX& f, const void* bytes, size_t size) {
    std::vector<int16_t> out;
    if (!bytes || f.nChannels == 0) return out;
    const auto* p = static_cast<const uint8_t*>(bytes);
    out.resize(size / wavesim::FrameBytes(f));
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<int16_t>(wavesim::SampleAt(f, p, i));
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
