// WAV files as 16-bit mono samples, over the RIFF/WAVE module: any sample
// type the devices decode, channels mixed to mono.
#include <cstring>
#include <vector>

#include "riff_wave.h"
#include "wave_model.h"

namespace sim {

bool LoadWav(const std::string& path, std::vector<int16_t>& samples, DWORD& rate) {
    riff::WaveInfo info;
    std::vector<uint8_t> data;
    wavesim::Layout layout;
    if (!riff::ReadFile(path, info, data)) return false;
    // The whole record, for an extensible one's sub-format.
    WAVEFORMATEXTENSIBLE record{};
    memcpy(&record, info.fmt, sizeof record);
    if (!wavesim::ReadLayout(record.Format, layout) || layout.rate == 0 || layout.channels > 8) return false;
    const DWORD frame = layout.FrameBytes();
    samples.resize(data.size() / frame);
    wavesim::MonoS16(layout, data.data(), 0, samples.size(), samples.data());
    rate = layout.rate;
    return true;
}

}  // namespace sim
