// WAV files as 16-bit mono samples, over the RIFF/WAVE module: any sample
// type the devices decode, channels mixed to mono.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/riff_wave.h"
#include "wave_model.h"

namespace {

// The first 40 bytes of the file's "fmt " chunk (zeros past its end): an
// extensible record whole.
bool FormatRecord(const std::string& path, WAVEFORMATEXTENSIBLE& record) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    bool found = false;
    uint8_t head[12];
    if (fread(head, 1, 12, f) == 12 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "WAVE", 4) == 0) {
        uint8_t ck[8];
        while (!found && fread(ck, 1, 8, f) == 8) {
            const uint32_t size = riff::GetU32(ck + 4);
            if (memcmp(ck, "fmt ", 4) == 0) {
                record = WAVEFORMATEXTENSIBLE{};
                found = fread(&record, 1, std::min<size_t>(size, sizeof record), f) >= 16;
                break;
            }
            if (fseeko(f, static_cast<off_t>(size) + (size & 1), SEEK_CUR) != 0) break;
        }
    }
    fclose(f);
    return found;
}

}  // namespace

namespace sim {

bool LoadWav(const std::string& path, std::vector<int16_t>& samples, DWORD& rate) {
    riff::WaveInfo info;
    std::vector<uint8_t> data;
    WAVEFORMATEXTENSIBLE record{};
    wavesim::Layout layout;
    if (!riff::ReadFile(path, info, data) || !FormatRecord(path, record)) return false;
    if (!wavesim::ReadLayout(record.Format, layout) || layout.rate == 0 || layout.channels > 8) return false;
    samples.resize(data.size() / layout.FrameBytes());
    wavesim::MonoS16(layout, data.data(), 0, samples.size(), samples.data());
    rate = layout.rate;
    return true;
}

}  // namespace sim
