// Audio tests: WAV files made in the test, a control with its window, and
// helpers to connect a call on the virtual modem.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "peers/virtual_modem/virtual_modem.h"
#include "platform/riff_wave.h"
#include "platform/sim/g711.h"
#include "platform/sim/kernel_faults.h"
#include "platform/sim/wave_devices.h"
#include "tests/support/test_env.h"

namespace wav {

inline std::string U16(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
inline std::string U32(uint32_t v) {
    return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}

// One chunk with its header and pad byte; `declared` overrides the size.
inline std::string Chunk(const std::string& id, const std::string& body, int64_t declared = -1) {
    std::string c = id + U32(declared < 0 ? static_cast<uint32_t>(body.size()) : static_cast<uint32_t>(declared)) + body;
    if (body.size() % 2) c += '\0';
    return c;
}

inline std::string Riff(const std::string& form, const std::string& chunks) {
    return "RIFF" + U32(static_cast<uint32_t>(4 + chunks.size())) + form + chunks;
}

inline std::string Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    uint16_t align = static_cast<uint16_t>(channels * (bits / 8));
    return U16(tag) + U16(channels) + U32(rate) + U32(rate * align) + U16(align) + U16(bits);
}

inline std::string Pcm16(const std::vector<int16_t>& samples) {
    std::string s;
    for (int16_t v : samples) s += U16(static_cast<uint16_t>(v));
    return s;
}

// A recognisable signal: a rising ramp, distinct for each seed.
inline std::vector<int16_t> Ramp(size_t n, int seed = 1) {
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<int16_t>(((i * 37 + seed * 1000) % 20000) - 10000);
    return v;
}

// 8 kHz mono 16-bit PCM file of the samples.
inline std::string Pcm8k(const std::vector<int16_t>& samples) {
    const std::string data = Pcm16(samples);
    auto header = riff::Header(riff::Pcm16Format(8000), 16, static_cast<DWORD>(data.size()));
    return std::string(header.begin(), header.end()) + data;
}

// The samples of a 16-bit PCM WAV held in memory (empty when it is not one).
inline std::vector<int16_t> Samples16(const std::string& bytes) {
    riff::WaveInfo info;
    std::vector<int16_t> v;
    if (!riff::Parse(bytes.data(), bytes.size(), info) || info.format.wBitsPerSample != 16) return v;
    v.resize(info.dataSize / 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int16_t>(riff::GetU16(reinterpret_cast<const uint8_t*>(bytes.data()) + info.dataOffset + 2 * i));
    return v;
}

inline void Save(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace wav

class AudioTest : public MarluneTest {
protected:
    void SetUp() override {
        MarluneTest::SetUp();
        vmodem_Reset();
        ASSERT_TRUE(sim::SetTapPath(sim::kSoundCardDevice, "card_tap.wav"));
        ASSERT_TRUE(sim::SetTapPath(sim::kLineDevice, "line_tap.wav"));
    }

    // InitLine/OpenLine on modem device 0, an offered call answered.
    void ConnectCall() {
        ASSERT_NE(ctrl->InitLine(0), "-1");
        ASSERT_EQ(ctrl->OpenLine(0), 0);
        sim::RunPending();
        ASSERT_NE(vmodem_Offer(0, "5551234"), 0u);
        sim::RunPending();
        ASSERT_EQ(ctrl->AnswerTp(), 0);
        sim::RunPending();
    }

    void MarkLog() { mark_ = LogTexts().size(); }
    std::vector<std::string> NewLog() const {
        auto all = LogTexts();
        return std::vector<std::string>(all.begin() + static_cast<long>(std::min(mark_, all.size())), all.end());
    }

private:
    size_t mark_ = 0;
};

using Texts = std::vector<std::string>;
