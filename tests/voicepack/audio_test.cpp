#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "tools/voice_pack/audio.h"
#include "tools/voice_pack/contour.h"

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
    Samples t = TrimSilence(s, kPackRate, -55);
    EXPECT_GE(t.size(), 2000u);
    EXPECT_LE(t.size(), 2000u + 2 * 80 + 80);  // margins of 10 ms, frames of 5 ms
    EXPECT_EQ(t.front(), 0);                    // faded in
    EXPECT_LT(std::abs(int(t.back())), 200);    // faded out
    EXPECT_TRUE(TrimSilence(Samples(8000, 0), kPackRate, -55).empty());
    // A sound that runs to both ends keeps its own samples and gains faded margins.
    Samples u = TrimSilence(tone, kPackRate, -55);
    ASSERT_EQ(u.size(), tone.size() + 160);
    EXPECT_TRUE(std::equal(tone.begin(), tone.end(), u.begin() + 80));
    EdgeSilence e = EdgeSilenceSeconds(u, kPackRate, -55);
    EXPECT_NEAR(e.lead, 0.01, 0.0051);
    EXPECT_NEAR(e.trail, 0.01, 0.0051);
}

TEST(Level, ActiveLevelIgnoresQuietPartsAndNormalises) {
    Samples s = Tone(300, 0.2, kPackRate, 4634);  // RMS -20 dBFS
    EXPECT_NEAR(ActiveRmsDbfs(s, kPackRate), -20, 0.1);
    Samples padded(800, 0);  // 0.1 s of silence and a quiet tail do not lower it
    padded.insert(padded.end(), s.begin(), s.end());
    Samples tail = Tone(300, 0.2, kPackRate, 100);
    padded.insert(padded.end(), tail.begin(), tail.end());
    EXPECT_NEAR(ActiveRmsDbfs(padded, kPackRate), -20, 0.1);
    EXPECT_LT(RmsDbfs(padded), -23);  // the plain RMS does drop
    Samples quiet = Tone(300, 0.2, kPackRate, 800);
    EXPECT_NEAR(ActiveRmsDbfs(Normalise(quiet, kPackRate, -20), kPackRate), -20, 0.1);
    EXPECT_EQ(ActiveRmsDbfs(Samples(800, 0), kPackRate), -200);
    EXPECT_EQ(Normalise(Samples(800, 0), kPackRate, -20), Samples(800, 0));
}

// A glottal-like pulse train whose frequency glides, with a formant ringing
// after each pulse and a little jitter, as a synthetic voice makes.
Samples Glide(double from_hz, double to_hz, double seconds, double jitter = 0.01) {
    Samples s(static_cast<size_t>(seconds * kPackRate), 0);
    double t = 0;
    int n = 0;
    while (t < seconds) {
        const double hz = from_hz + (to_hz - from_hz) * t / seconds;
        for (size_t i = 0; i < 120; ++i) {
            size_t at = static_cast<size_t>(t * kPackRate) + i;
            if (at >= s.size()) break;
            s[at] = static_cast<int16_t>(s[at] + 8000 * std::exp(-double(i) / 25) * std::cos(2 * M_PI * 800 * i / kPackRate));
        }
        t += (1 + ((n++ % 2) ? jitter : -jitter)) / hz;
    }
    return s;
}

TEST(Pitch, FollowsAGlideAndLeavesNoiseUnvoiced) {
    const std::pair<double, double> glides[] = {{150, 250}, {250, 120}, {90, 90}};
    for (auto [from, to] : glides) {
        auto f0 = PitchTrack(Glide(from, to, 0.4), kPackRate);
        ASSERT_GE(f0.size(), 30u);
        // Each voiced step near the glide's frequency at its time.
        size_t voiced = 0;
        for (size_t i = 0; i < f0.size(); ++i) {
            if (f0[i] <= 0) continue;
            ++voiced;
            const double t = (i * 80 + 120 + 60) / 8000.0;  // the middle of the window and its lag
            EXPECT_NEAR(Semitones(f0[i]), Semitones(from + (to - from) * t / 0.4), 1.0) << from << "->" << to;
        }
        EXPECT_GE(voiced, f0.size() * 9 / 10) << from << "->" << to;
    }
    Samples noise(3200);
    uint32_t x = 1;
    for (auto& v : noise) v = static_cast<int16_t>(int((x = x * 1664525 + 1013904223) >> 20) - 2048);
    auto f0 = PitchTrack(noise, kPackRate);
    EXPECT_LE(std::count_if(f0.begin(), f0.end(), [](double hz) { return hz > 0; }), 2);
}

TEST(Check, LengthLevelAndEdgeBounds) {
    const double at_level = 4634;  // an RMS of -20 dBFS
    EXPECT_EQ(CheckSound(Tone(300, 0.3, kPackRate, at_level), kPackRate), "");
    EXPECT_EQ(CheckSound(Tone(300, 0.15, kPackRate, at_level), kPackRate), "");
    EXPECT_NE(CheckSound(Tone(300, 0.14, kPackRate, at_level), kPackRate), "");
    EXPECT_NE(CheckSound(Tone(300, 0.81, kPackRate, at_level), kPackRate), "");
    EXPECT_NE(CheckSound(Tone(300, 0.3, kPackRate, 20), kPackRate), "");  // -64 dBFS
    EXPECT_NE(CheckSound(Samples(2400, 0), kPackRate), "");
    EXPECT_NE(CheckSound(Tone(300, 0.3, kPackRate, at_level * 1.3), kPackRate), "");  // 2.3 dB too loud
    EXPECT_NE(CheckSound(Tone(300, 0.3, kPackRate, at_level / 1.3), kPackRate), "");  // 2.3 dB too quiet
    Samples peaky = Tone(300, 0.3, kPackRate, at_level);
    peaky[1000] = 30000;  // -0.8 dBFS
    EXPECT_NE(CheckSound(peaky, kPackRate), "");
    Samples late(400, 0);  // 50 ms of silence first
    Samples body = Tone(300, 0.25, kPackRate, at_level);
    late.insert(late.end(), body.begin(), body.end());
    EXPECT_NE(CheckSound(late, kPackRate), "");
    Samples click(2400, 0);  // one loud sample in silence: not speech
    click[100] = 30000;
    EXPECT_NE(CheckSound(click, kPackRate), "");
}

TEST(Beep, IsAShortToneAtTheSyllablesLevel) {
    Samples b = Beep(kPackRate);
    EXPECT_EQ(CheckSound(b, kPackRate), "");
    EXPECT_NEAR(ActiveRmsDbfs(b, kPackRate), kActiveDbfs, 0.2);
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

// A voice-like sound: ten harmonics falling off, its pitch gliding from
// `from` to `to` Hz over `glide` seconds and then staying.
Samples Glide(double from, double to, double glide, double seconds, int rate) {
    Samples s(static_cast<size_t>(seconds * rate));
    double phase = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / rate, f = t < glide ? from + (to - from) * t / glide : to;
        phase += 2 * M_PI * f / rate;
        double v = 0;
        for (int h = 1; h <= 10; ++h) v += std::sin(h * phase) / h;
        s[i] = static_cast<int16_t>(4000 * v);
    }
    return s;
}

TEST(Contour, TheOnsetRisesToTheLevelAndTheRestStays) {
    const int rate = 22050;
    const Samples in = Glide(177, 222, 0.1, 0.3, rate);
    struct Case {
        int tone;
        double first_low;  // most semitones the first voiced frames may lie under 222 Hz
    } cases[] = {{1, 0.7}, {4, 0.7}, {2, 6}};  // tone 2 is left as it is
    for (auto& c : cases) {
        const Samples out = LevelOnset(in, rate, c.tone);
        ASSERT_EQ(out.size(), in.size()) << c.tone;
        const std::vector<double> f0 = PitchTrack(out, rate);
        ASSERT_GT(f0.size(), 20u);
        for (size_t i = 1; i < 6; ++i) {
            ASSERT_GT(f0[i], 0) << "tone " << c.tone << " frame " << i;
            EXPECT_LT(12 * std::log2(222 / f0[i]), c.first_low) << "tone " << c.tone << " frame " << i;
        }
        if (c.tone == 2) {
            EXPECT_EQ(out, in);
            EXPECT_GT(12 * std::log2(222 / f0[1]), 2);  // the glide is there to level
        }
        // After the glide, the sound itself.
        for (size_t i = size_t(0.2 * rate); i < out.size(); ++i) ASSERT_EQ(out[i], in[i]) << "tone " << c.tone << " at " << i;
    }
}

TEST(Contour, TheDcOffsetGoesAndTheSpeechStays) {
    Samples in = Tone(300, 0.3, 22050);
    for (auto& v : in) v = static_cast<int16_t>(v + 600);  // 1.8 % of full scale
    EXPECT_GT(DcPercent(in), 1.5);
    const Samples out = RemoveDc(in, 22050);
    EXPECT_LT(std::abs(DcPercent(out)), 0.05);
    EXPECT_NEAR(RmsDbfs(out), RmsDbfs(Tone(300, 0.3, 22050)), 0.3);
}

}  // namespace
}  // namespace voice_pack
