#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "tools/voice_pack/audio.h"

namespace voice_pack {
namespace {

Samples Tone(double hz, double seconds, int rate, double amplitude = 10000) {
    Samples s(static_cast<size_t>(seconds * rate));
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(std::clamp(amplitude * std::sin(2 * M_PI * hz * i / rate), -32768.0, 32767.0));
    return s;
}

size_t UpwardCrossings(const Samples& s) {
    size_t n = 0;
    for (size_t i = 1; i < s.size(); ++i) n += s[i - 1] < 0 && s[i] >= 0;
    return n;
}

TEST(Resample, KeepsLengthAndPitch) {
    Samples in = Tone(440, 0.5, 22050);
    Samples out = Resample(in, 22050, kPackRate);
    EXPECT_NEAR(double(out.size()), 0.5 * kPackRate, 2);
    EXPECT_NEAR(double(UpwardCrossings(out)), 220, 2);
    // Above the new Nyquist frequency: filtered out, not folded back.
    Samples high = Resample(Tone(6000, 0.5, 22050), 22050, kPackRate);
    EXPECT_LT(RmsDbfs(Samples(high.begin() + 400, high.end() - 400)), -60);
    EXPECT_TRUE(Resample({}, 22050, kPackRate).empty());
}

TEST(Trim, CutsSilenceAroundTheSoundKeepingAShortFadedMargin) {
    Samples s(4000, 0);                        // 0.5 s silence
    Samples tone = Tone(300, 0.25, kPackRate);  // 2,000 samples
    s.insert(s.end(), tone.begin(), tone.end());
    s.insert(s.end(), 3000, 3);  // low hiss
    Samples t = TrimSilence(s, kPackRate);
    EXPECT_GE(t.size(), 2000u);
    EXPECT_LE(t.size(), 2000u + 2 * 80 + 80);  // margins of 10 ms, frames of 5 ms
    EXPECT_EQ(t.front(), 0);                    // faded in
    EXPECT_LT(std::abs(int(t.back())), 200);    // faded out
    EXPECT_TRUE(TrimSilence(Samples(8000, 0), kPackRate).empty());
}

TEST(Check, LengthAndLoudnessBounds) {
    EXPECT_EQ(CheckSound(Tone(300, 0.3, kPackRate), kPackRate), "");
    EXPECT_NE(CheckSound(Tone(300, 0.14, kPackRate), kPackRate), "");
    EXPECT_NE(CheckSound(Tone(300, 0.81, kPackRate), kPackRate), "");
    EXPECT_EQ(CheckSound(Tone(300, 0.15, kPackRate), kPackRate), "");
    EXPECT_NE(CheckSound(Tone(300, 0.3, kPackRate, 20), kPackRate), "");  // -64 dBFS
    EXPECT_NE(CheckSound(Samples(2400, 0), kPackRate), "");
    EXPECT_EQ(CheckSound(Tone(300, 0.3, kPackRate, 32000), kPackRate), "");
    EXPECT_NE(CheckSound(Tone(300, 0.3, kPackRate, 40000), kPackRate), "");  // clipped at full scale
    Samples click(2400, 0);  // one loud sample in silence: not speech
    click[100] = 30000;
    EXPECT_NE(CheckSound(click, kPackRate), "");
}

TEST(Beep, IsAShortAudibleTone) {
    Samples b = Beep(kPackRate);
    EXPECT_EQ(CheckSound(b, kPackRate), "");
    EXPECT_NEAR(PeakDbfs(b), -12, 0.5);
    EXPECT_NEAR(double(UpwardCrossings(b)), 425 * 0.3, 2);
}

TEST(Wav, WritesAndReadsPcm) {
    Samples s = Tone(300, 0.2, kPackRate);
    std::string bytes = WavBytes(s, kPackRate);
    EXPECT_EQ(bytes.size(), 44 + 2 * s.size());
    auto path = (std::filesystem::temp_directory_path() / "voice_pack_wav_test.wav").string();
    WriteFile(path, bytes);
    WavInfo info = ReadWav(path);
    EXPECT_EQ(info.format, 1);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.rate, kPackRate);
    EXPECT_EQ(info.bits, 16);
    EXPECT_EQ(info.samples, s);
    WriteFile(path, bytes.substr(0, 40));  // the data chunk is cut off
    EXPECT_THROW(ReadWav(path), std::runtime_error);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace voice_pack
