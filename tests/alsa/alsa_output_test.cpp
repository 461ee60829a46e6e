// The sound-card output device plays through ALSA in real-time mode: what
// it played arrives on the PCM sample for sample, fed as it becomes due; a
// missing PCM leaves the device working virtually with one notice; a reset
// stops the feed; off or on the virtual clock nothing reaches ALSA.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "tests/alsa/alsa_fixture.h"

namespace {

// A buffer opened and written on the sound card through the platform calls.
struct CardPlay {
    HWAVEOUT handle = nullptr;
    WAVEHDR header{};
    std::string data;

    MMRESULT Start(UINT device, WORD tag, WORD channels, DWORD rate, WORD bits, std::string bytes) {
        data = std::move(bytes);
        WAVEFORMATEX f{};
        f.wFormatTag = tag;
        f.nChannels = channels;
        f.nSamplesPerSec = rate;
        f.wBitsPerSample = bits;
        f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
        f.nAvgBytesPerSec = rate * f.nBlockAlign;
        MMRESULT r = waveOutOpen(&handle, device, &f, 0, 0, CALLBACK_NULL);
        if (r != MMSYSERR_NOERROR) return r;
        header.lpData = data.data();
        header.dwBufferLength = static_cast<DWORD>(data.size());
        waveOutPrepareHeader(handle, &header, sizeof header);
        return waveOutWrite(handle, &header, sizeof header);
    }
    bool Done() const { return (header.dwFlags & WHDR_DONE) != 0; }
    void Close() {
        waveOutUnprepareHeader(handle, &header, sizeof header);
        waveOutClose(handle);
    }
};

std::string Bytes16(const std::vector<int16_t>& v) { return wav::Pcm16(v); }

class AlsaOutputTest : public AlsaTest {};

TEST_F(AlsaOutputTest, PlayWavOnTheSoundCardArrivesOnThePcmAsItBecomesDue) {
    const auto voice = wav::Ramp(4000, 3);  // half a second at 8 kHz
    wav::Save("hello.wav", wav::Pcm8k(voice));
    MakeControl();
    sim::SetRealTime(true);
    const sim::Micros t0 = WallNow();
    ASSERT_EQ(ctrl->PlayWav("hello.wav", 1), 0);

    // A quarter of a second in: no more than what is due plus the lead.
    sim::RunFor(250 * sim::kMilli);
    const uint64_t fed = sim::SoundCardFeedState().frames;
    const sim::Micros elapsed = Since(t0);
    EXPECT_GT(fed, 0u);
    EXPECT_LE(fed, static_cast<uint64_t>((elapsed + 60 * sim::kMilli) * 8000 / sim::kSecond));
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 0);

    // The device's own timing: the sound ends after half a second on the wall clock.
    ASSERT_TRUE(sim::RunUntil([&] { return sink.count(EVENT_EndPlayAll) == 1; }, 2 * sim::kSecond));
    EXPECT_GE(Since(t0), 500 * sim::kMilli);
    EXPECT_EQ(sim::CompletedBuffers(true, sim::kSoundCardDevice), 1);
    ctrl->StopPlayWav();
    ASSERT_TRUE(sim::WaitSoundCardIdle(2 * sim::kSecond));

    const auto state = sim::SoundCardFeedState();
    EXPECT_EQ(state.streams, 1u);
    EXPECT_EQ(state.frames, voice.size());
    EXPECT_EQ(state.problem, "");
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(testenv::ReadFile(capture), Bytes16(voice));
}

TEST_F(AlsaOutputTest, EveryFormatTheCardTakesReachesAlsaAs16BitAtItsOwnRateAndChannels) {
    sim::SetRealTime(true);
    auto play = [&](UINT device, WORD tag, WORD channels, DWORD rate, WORD bits, const std::string& bytes) {
        CardPlay p;
        ASSERT_EQ(p.Start(device, tag, channels, rate, bits, bytes), MMSYSERR_NOERROR);
        ASSERT_TRUE(sim::RunUntil([&] { return p.Done(); }, 2 * sim::kSecond));
        p.Close();
        ASSERT_TRUE(sim::WaitSoundCardIdle(2 * sim::kSecond));
    };

    // 8-bit stereo at 11,025 Hz: each byte, less 128, in the high byte.
    std::string eight;
    std::vector<int16_t> eightExpected;
    for (int i = 0; i < 2 * 1650; ++i) {
        const auto b = static_cast<uint8_t>((i * 7 + (i % 2) * 90) & 0xFF);
        eight += static_cast<char>(b);
        eightExpected.push_back(static_cast<int16_t>((b - 128) * 256));
    }
    play(sim::kSoundCardDevice, WAVE_FORMAT_PCM, 2, 11025, 8, eight);
    EXPECT_EQ(Captured(), eightExpected);

    // Mu-law through the mapper: every code decoded.
    std::string mulaw;
    std::vector<int16_t> mulawExpected;
    for (int i = 0; i < 1200; ++i) {
        mulaw += static_cast<char>(i % 256);
        mulawExpected.push_back(sim::MuLawDecode(static_cast<uint8_t>(i % 256)));
    }
    play(WAVE_MAPPER, WAVE_FORMAT_MULAW, 1, 8000, 8, mulaw);
    EXPECT_EQ(Captured(), mulawExpected);

    // 16-bit stereo at 44,100 Hz: byte for byte.
    const auto stereo = wav::Ramp(2 * 4410, 5);
    play(sim::kSoundCardDevice, WAVE_FORMAT_PCM, 2, 44100, 16, Bytes16(stereo));
    EXPECT_EQ(testenv::ReadFile(capture), Bytes16(stereo));

    const auto state = sim::SoundCardFeedState();
    EXPECT_EQ(state.streams, 3u);
    EXPECT_EQ(state.frames, 1650u + 1200u + 4410u);
}

// Magnitudes of the Hann-windowed DFT of `n` samples from `from`, bins 0..n/2.
std::vector<double> Spectrum(const std::vector<int16_t>& s, size_t from, size_t n) {
    std::vector<double> mag(n / 2 + 1);
    for (size_t k = 0; k <= n / 2; ++k) {
        const double coeff = 2 * std::cos(2 * M_PI * k / n);
        double s1 = 0, s2 = 0;
        for (size_t i = 0; i < n; ++i) {
            const double s0 = s[from + i] * (0.5 - 0.5 * std::cos(2 * M_PI * i / n)) + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        mag[k] = std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coeff * s1 * s2));
    }
    return mag;
}

TEST_F(AlsaOutputTest, APcmThatDoesNotTakeTheRateGetsTheSoundConvertedCleanly) {
    // A PCM that takes 48 kHz only, unless ALSA's own rate conversion is allowed.
    std::ofstream(dir + "/asoundrc", std::ios::app) << "pcm.marlune_48k {\n"
                                                       "    type plug\n"
                                                       "    slave {\n"
                                                       "        pcm { type file slave.pcm { type null } file \"" << capture << "\" format \"raw\" }\n"
                                                       "        rate 48000\n"
                                                       "    }\n"
                                                       "}\n";
    setenv("MARLUNE_ALSA_DEVICE", "marlune_48k", 1);
    sim::SetRealTime(true);
    const std::vector<double> freqs = {1000, 3000};
    std::vector<int16_t> tones;
    for (double f : freqs)
        for (int i = 0; i < 2400; ++i) tones.push_back(static_cast<int16_t>(std::lrint(16000 * std::sin(2 * M_PI * f * i / 8000))));
    CardPlay p;
    ASSERT_EQ(p.Start(WAVE_MAPPER, WAVE_FORMAT_PCM, 1, 8000, 16, Bytes16(tones)), MMSYSERR_NOERROR);
    ASSERT_TRUE(sim::RunUntil([&] { return p.Done(); }, 2 * sim::kSecond));
    p.Close();
    ASSERT_TRUE(sim::WaitSoundCardIdle(2 * sim::kSecond));
    EXPECT_EQ(sim::SoundCardFeedState().rate, 48000u);
    const auto got = Captured();
    EXPECT_NEAR(static_cast<double>(got.size()), 6.0 * tones.size(), 64.0);
    const size_t n = 8192;
    ASSERT_GE(got.size(), 6 * tones.size() / 2 + n);
    for (size_t t = 0; t < freqs.size(); ++t) {
        const auto mag = Spectrum(got, t * 14400 + (14400 - n) / 2, n);
        const size_t peak = static_cast<size_t>(std::max_element(mag.begin(), mag.end()) - mag.begin());
        EXPECT_NEAR(peak * 48000.0 / n, freqs[t], 12.0);
        double image = 0;
        for (size_t k = 4100 * n / 48000; k < mag.size(); ++k) image = std::max(image, mag[k]);
        EXPECT_LT(20 * std::log10(image / mag[peak]), -60) << freqs[t] << " Hz";
    }
}

TEST_F(AlsaOutputTest, MissingDeviceLeavesPlaybackVirtualWithOneNotice) {
    setenv("MARLUNE_ALSA_DEVICE", "nonexistent", 1);
    const auto voice = wav::Ramp(2400, 2);  // 0.3 s
    wav::Save("hello.wav", wav::Pcm8k(voice));
    MakeControl();
    sim::SetRealTime(true);
    for (int round = 1; round <= 2; ++round) {
        const sim::Micros t0 = WallNow();
        ASSERT_EQ(ctrl->PlayWav("hello.wav", 1), 0);
        ASSERT_TRUE(sim::RunUntil([&] { return sink.count(EVENT_EndPlayAll) == round; }, 2 * sim::kSecond));
        EXPECT_GE(Since(t0), 300 * sim::kMilli);
        EXPECT_EQ(sim::CompletedBuffers(true, sim::kSoundCardDevice), round);
    }
    ctrl->StopPlayWav();
    ASSERT_TRUE(sim::WaitSoundCardIdle(2 * sim::kSecond));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("sound-card output is not audible"), std::string::npos) << notices[0];
    EXPECT_NE(notices[0].find("\"nonexistent\""), std::string::npos) << notices[0];
    EXPECT_NE(notices[0].find(strerror(ENOENT)), std::string::npos) << notices[0];
    const auto state = sim::SoundCardFeedState();
    EXPECT_EQ(state.streams, 0u);
    EXPECT_EQ(state.frames, 0u);
    EXPECT_EQ(state.problem, notices[0]);
}

TEST_F(AlsaOutputTest, ResetMidPlayStopsTheFeed) {
    sim::SetRealTime(true);
    const auto voice = wav::Ramp(16000, 4);  // two seconds
    CardPlay p;
    const sim::Micros t0 = WallNow();
    ASSERT_EQ(p.Start(sim::kSoundCardDevice, WAVE_FORMAT_PCM, 1, 8000, 16, Bytes16(voice)), MMSYSERR_NOERROR);
    sim::RunFor(300 * sim::kMilli);
    ASSERT_EQ(waveOutReset(p.handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(p.Done());
    const sim::Micros atReset = Since(t0);
    usleep(100000);  // a write under way ends
    const uint64_t fed = sim::SoundCardFeedState().frames;
    EXPECT_GT(fed, 0u);
    EXPECT_LE(fed, static_cast<uint64_t>((atReset + 60 * sim::kMilli) * 8000 / sim::kSecond));

    sim::RunFor(300 * sim::kMilli);
    EXPECT_EQ(sim::SoundCardFeedState().frames, fed);
    p.Close();
    ASSERT_TRUE(sim::WaitSoundCardIdle(2 * sim::kSecond));
    EXPECT_EQ(sim::SoundCardFeedState().frames, fed);
    // What did reach ALSA is the start of the sound, nothing after it.
    const auto got = Captured();
    ASSERT_LE(got.size(), fed);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), voice.begin()));
}

TEST_F(AlsaOutputTest, OffOrOnTheVirtualClockNothingReachesAlsa) {
    const auto voice = wav::Ramp(1600, 6);
    // Virtual clock: no ALSA at all.
    {
        CardPlay p;
        ASSERT_EQ(p.Start(sim::kSoundCardDevice, WAVE_FORMAT_PCM, 1, 8000, 16, Bytes16(voice)), MMSYSERR_NOERROR);
        sim::RunFor(sim::kSecond);
        EXPECT_TRUE(p.Done());
        p.Close();
    }
    // Real time with the sound card turned off; the line device never plays through ALSA.
    sim::SetRealTime(true);
    sim::SetSoundCardAudible(false);
    {
        CardPlay p;
        ASSERT_EQ(p.Start(sim::kSoundCardDevice, WAVE_FORMAT_PCM, 1, 8000, 16, Bytes16(voice)), MMSYSERR_NOERROR);
        ASSERT_TRUE(sim::RunUntil([&] { return p.Done(); }, sim::kSecond));
        p.Close();
    }
    sim::SetSoundCardAudible(true);
    {
        CardPlay p;
        ASSERT_EQ(p.Start(sim::kLineDevice, WAVE_FORMAT_PCM, 1, 8000, 16, Bytes16(voice)), MMSYSERR_NOERROR);
        ASSERT_TRUE(sim::RunUntil([&] { return p.Done(); }, sim::kSecond));
        p.Close();
    }
    ASSERT_TRUE(sim::WaitSoundCardIdle(sim::kSecond));
    EXPECT_EQ(sim::SoundCardFeedState().streams, 0u);
    EXPECT_EQ(sim::SoundCardFeedState().frames, 0u);
    EXPECT_FALSE(testenv::FileExists(capture));
    EXPECT_EQ(sim::CompletedBuffers(true, sim::kSoundCardDevice), 2);
    EXPECT_TRUE(notices.empty());
}

}  // namespace
