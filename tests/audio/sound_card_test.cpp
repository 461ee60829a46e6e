// The sound card as a modern one: the formats it and the mapper take, the
// samples each reaches the tap with, clean rate conversion (a stepped tone
// sweep's spectrum in the taps) and the shared table of sound files made
// from ones Debian ships, played with PlayWav and checked against sox's
// decoding of them.
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <functional>

#include "audio/wav_reader.h"
#include "platform/sim/mmreg.h"
#include "platform/sim/resampler.h"
#include "tests/support/audio_fixture.h"
#include "tests/support/wav_corpus.h"

namespace {

// A format record, plain or extensible, with consistent block and byte rate.
struct Record {
    WAVEFORMATEXTENSIBLE x{};
    const WAVEFORMATEX* get() const { return &x.Format; }
};

Record Plain(WORD tag, WORD channels, DWORD rate, WORD bits) {
    Record r;
    r.x.Format.wFormatTag = tag;
    r.x.Format.nChannels = channels;
    r.x.Format.nSamplesPerSec = rate;
    r.x.Format.wBitsPerSample = bits;
    r.x.Format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    r.x.Format.nAvgBytesPerSec = rate * r.x.Format.nBlockAlign;
    return r;
}

Record Extensible(WORD subTag, WORD channels, DWORD rate, WORD bits, WORD valid, DWORD mask) {
    Record r = Plain(WAVE_FORMAT_EXTENSIBLE, channels, rate, bits);
    r.x.Format.cbSize = 22;
    r.x.Samples.wValidBitsPerSample = valid;
    r.x.dwChannelMask = mask;
    r.x.SubFormat = WaveSubFormat(subTag);
    return r;
}

constexpr DWORD kStereo = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
constexpr DWORD kFivePointOne = 0x3F;

TEST(SoundCardFormats, WhatTheCardAndTheMapperTakeAndWhatTheyRefuse) {
    Record noExtension = Extensible(WAVE_FORMAT_PCM, 2, 44100, 16, 16, kStereo);
    noExtension.x.Format.cbSize = 0;
    Record badAlign = Plain(WAVE_FORMAT_PCM, 2, 48000, 24);
    badAlign.x.Format.nBlockAlign = 4;
    Record unknownSub = Extensible(WAVE_FORMAT_PCM, 2, 44100, 16, 16, kStereo);
    unknownSub.x.SubFormat.Data4[7] ^= 1;
    struct Case {
        const char* name;
        Record format;
        UINT device;
        DWORD flags;
        MMRESULT expected;
    } cases[] = {
        {"24-bit stereo 48 kHz, mapper", Plain(WAVE_FORMAT_PCM, 2, 48000, 24), WAVE_MAPPER, 0, MMSYSERR_NOERROR},
        {"24-bit stereo 48 kHz, card", Plain(WAVE_FORMAT_PCM, 2, 48000, 24), 0, 0, MMSYSERR_NOERROR},
        {"32-bit mono 44.1 kHz", Plain(WAVE_FORMAT_PCM, 1, 44100, 32), 0, 0, MMSYSERR_NOERROR},
        {"float stereo 44.1 kHz", Plain(WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 32), 0, 0, MMSYSERR_NOERROR},
        {"extensible 16-bit stereo", Extensible(WAVE_FORMAT_PCM, 2, 44100, 16, 16, kStereo), 0, 0, MMSYSERR_NOERROR},
        {"extensible 24 bits in 32", Extensible(WAVE_FORMAT_PCM, 2, 96000, 32, 24, kStereo), 0, 0, MMSYSERR_NOERROR},
        {"extensible float 192 kHz", Extensible(WAVE_FORMAT_IEEE_FLOAT, 1, 192000, 32, 32, 4), 0, 0, MMSYSERR_NOERROR},
        // The mapper downmixes and converts rates; the card itself is stereo at the usual rates.
        {"5.1 float, card", Extensible(WAVE_FORMAT_IEEE_FLOAT, 6, 48000, 32, 32, kFivePointOne), 0, 0, WAVERR_BADFORMAT},
        {"5.1 float, mapper", Extensible(WAVE_FORMAT_IEEE_FLOAT, 6, 48000, 32, 32, kFivePointOne), WAVE_MAPPER, 0,
         MMSYSERR_NOERROR},
        {"8 channels, mapped open", Plain(WAVE_FORMAT_PCM, 8, 48000, 16), 0, WAVE_MAPPED, MMSYSERR_NOERROR},
        {"24-bit at 12 345 Hz, card", Plain(WAVE_FORMAT_PCM, 1, 12345, 24), 0, 0, WAVERR_BADFORMAT},
        {"24-bit at 12 345 Hz, mapper", Plain(WAVE_FORMAT_PCM, 1, 12345, 24), WAVE_MAPPER, 0, MMSYSERR_NOERROR},
        {"A-law, mapper", Plain(WAVE_FORMAT_ALAW, 1, 8000, 8), WAVE_MAPPER, 0, MMSYSERR_NOERROR},
        {"8-bit at 4 kHz, mapper (as always)", Plain(WAVE_FORMAT_PCM, 1, 4000, 8), WAVE_MAPPER, 0, MMSYSERR_NOERROR},
        // Refused by both.
        {"24-bit at 4 kHz", Plain(WAVE_FORMAT_PCM, 1, 4000, 24), WAVE_MAPPER, 0, WAVERR_BADFORMAT},
        {"9 channels", Extensible(WAVE_FORMAT_PCM, 9, 48000, 16, 16, 0), WAVE_MAPPER, 0, WAVERR_BADFORMAT},
        {"64-bit float", Extensible(WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 64, 64, kStereo), WAVE_MAPPER, 0, WAVERR_BADFORMAT},
        {"20-bit plain PCM", Plain(WAVE_FORMAT_PCM, 1, 8000, 20), WAVE_MAPPER, 0, WAVERR_BADFORMAT},
        {"valid bits over the container", Extensible(WAVE_FORMAT_PCM, 2, 48000, 16, 20, kStereo), WAVE_MAPPER, 0,
         WAVERR_BADFORMAT},
        {"extensible without its extension", noExtension, WAVE_MAPPER, 0, WAVERR_BADFORMAT},
        {"unknown sub-format", unknownSub, WAVE_MAPPER, 0, WAVERR_BADFORMAT},
        {"block align of another format", badAlign, WAVE_MAPPER, 0, WAVERR_BADFORMAT},
        // The line keeps its narrow formats; the mapper converts to it what it always did.
        {"line, mapped 16-bit 22 kHz", Plain(WAVE_FORMAT_PCM, 1, 22050, 16), 1, WAVE_MAPPED, MMSYSERR_NOERROR},
        {"line, mapped 24-bit", Plain(WAVE_FORMAT_PCM, 1, 8000, 24), 1, WAVE_MAPPED, WAVERR_BADFORMAT},
        {"line, mapped float", Plain(WAVE_FORMAT_IEEE_FLOAT, 1, 8000, 32), 1, WAVE_MAPPED, WAVERR_BADFORMAT},
        {"line, extensible 16-bit mono 8 kHz", Extensible(WAVE_FORMAT_PCM, 1, 8000, 16, 16, 4), 1, WAVE_MAPPED,
         WAVERR_BADFORMAT},
        {"line, A-law", Plain(WAVE_FORMAT_ALAW, 1, 8000, 8), 1, WAVE_MAPPED, WAVERR_BADFORMAT},
    };
    for (const auto& c : cases)
        EXPECT_EQ(waveOutOpen(nullptr, c.device, c.format.get(), 0, 0, WAVE_FORMAT_QUERY | c.flags), c.expected) << c.name;
}

class SoundCardTest : public AudioTest {
protected:
    // Opens `format` on `device`, plays `bytes` in `pieces` buffers back to
    // back and closes once they have played. The tap index the sound starts at.
    size_t Play(UINT device, const WAVEFORMATEX* format, const std::string& bytes, size_t pieces = 1) {
        HWAVEOUT h = nullptr;
        EXPECT_EQ(waveOutOpen(&h, device, format, 0, 0, device == sim::kLineDevice ? WAVE_MAPPED : 0),
                  MMSYSERR_NOERROR);
        if (!h) return 0;
        const UINT tapped = device == WAVE_MAPPER ? sim::kSoundCardDevice : device;
        const size_t first = static_cast<size_t>(sim::Now() * sim::TapRate(tapped) / sim::kSecond);
        std::vector<WAVEHDR> headers(pieces);
        const size_t block = format->nBlockAlign, frames = bytes.size() / block;
        for (size_t i = 0; i < pieces; ++i) {
            const size_t from = frames * i / pieces, to = frames * (i + 1) / pieces;
            headers[i].lpData = const_cast<char*>(bytes.data()) + from * block;
            headers[i].dwBufferLength = static_cast<DWORD>((to - from) * block);
            waveOutPrepareHeader(h, &headers[i], sizeof(WAVEHDR));
            EXPECT_EQ(waveOutWrite(h, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        }
        sim::RunFor(static_cast<sim::Micros>(frames) * sim::kSecond / format->nSamplesPerSec + 100 * sim::kMilli);
        for (auto& hdr : headers) waveOutUnprepareHeader(h, &hdr, sizeof(WAVEHDR));
        EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
        return first;
    }
};

std::string Le(int64_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

// At the tap's own rate the card's samples arrive unconverted: each frame's
// channels, decoded and averaged, rounded to 16 bits.
TEST_F(SoundCardTest, EverySampleTypeReachesTheTapDecodedAndMixed) {
    const DWORD rate = sim::TapRate(sim::kSoundCardDevice);
    const size_t n = 2205;
    // Channel c of frame i, in [-1, 1).
    auto x = [](size_t i, int c) { return std::sin(0.013 * static_cast<double>(i) * (c + 1) + c) * (0.9 - 0.2 * c); };
    struct Case {
        const char* name;
        Record format;
        std::function<std::string(double)> encode;
        double scale;  // the encoded value on the 16-bit scale
        std::function<double(double)> decoded;
    };
    auto q = [](double v, double full) { return std::floor(v * full + 0.5); };
    const Case cases[] = {
        {"24-bit stereo", Plain(WAVE_FORMAT_PCM, 2, rate, 24), [&](double v) { return Le(static_cast<int64_t>(q(v, 8388608)), 3); }, 1,
         [&](double v) { return q(v, 8388608) / 256; }},
        {"32-bit stereo", Plain(WAVE_FORMAT_PCM, 2, rate, 32), [&](double v) { return Le(static_cast<int64_t>(q(v, 2147483648.0)), 4); }, 1,
         [&](double v) { return q(v, 2147483648.0) / 65536; }},
        {"float stereo", Plain(WAVE_FORMAT_IEEE_FLOAT, 2, rate, 32),
         [](double v) {
             float f = static_cast<float>(v);
             return std::string(reinterpret_cast<const char*>(&f), 4);
         },
         1, [](double v) { return static_cast<double>(static_cast<float>(v)) * 32768; }},
        {"extensible 16-bit stereo", Extensible(WAVE_FORMAT_PCM, 2, rate, 16, 16, kStereo),
         [&](double v) { return Le(static_cast<int64_t>(q(v, 32768)), 2); }, 1, [&](double v) { return q(v, 32768); }},
        {"extensible 20 bits in 24, 3 channels", Extensible(WAVE_FORMAT_PCM, 3, rate, 24, 20, 7),
         [&](double v) { return Le(static_cast<int64_t>(q(v, 524288)) * 16, 3); }, 1,
         [&](double v) { return q(v, 524288) / 16; }},
    };
    for (const auto& c : cases) {
        const WORD channels = c.format.get()->nChannels;
        std::string bytes;
        std::vector<double> expected(n);
        for (size_t i = 0; i < n; ++i) {
            double sum = 0;
            for (int ch = 0; ch < channels; ++ch) {
                bytes += c.encode(x(i, ch));
                sum += c.decoded(x(i, ch));
            }
            expected[i] = sum / channels;
        }
        const size_t first = Play(WAVE_MAPPER, c.format.get(), bytes);
        const auto tap = sim::TapSamples(sim::kSoundCardDevice);
        ASSERT_EQ(tap.size(), first + n) << c.name;
        double worst = 0;
        for (size_t i = 0; i < n; ++i) worst = std::max(worst, std::abs(tap[first + i] - expected[i]));
        EXPECT_LE(worst, 0.5 + 1e-9) << c.name;
    }
}

TEST_F(SoundCardTest, ALawDecodesAsG711Says) {
    // Codes and their values in G.711's A-law table.
    const std::vector<std::pair<uint8_t, int16_t>> table = {
        {0xD5, 8}, {0x55, -8}, {0xAA, 32256}, {0x2A, -32256}, {0xD4, 24}, {0xC5, 264}, {0xF5, 528}, {0x80, 5504}};
    std::string bytes;
    for (auto& [code, value] : table) bytes += std::string(100, static_cast<char>(code));
    Record alaw = Plain(WAVE_FORMAT_ALAW, 1, sim::TapRate(sim::kSoundCardDevice), 8);
    const size_t first = Play(WAVE_MAPPER, alaw.get(), bytes);
    const auto tap = sim::TapSamples(sim::kSoundCardDevice);
    ASSERT_EQ(tap.size(), first + bytes.size());
    for (size_t k = 0; k < table.size(); ++k) EXPECT_EQ(tap[first + 100 * k + 50], table[k].second) << k;
}

// ---- the spectrum of the taps ------------------------------------------------

// Magnitudes of the Hann-windowed DFT of `n` samples from `from`, bins 0..n/2.
std::vector<double> Spectrum(const std::vector<int16_t>& s, size_t from, size_t n) {
    std::vector<double> w(n);
    for (size_t i = 0; i < n; ++i) w[i] = s[from + i] * (0.5 - 0.5 * std::cos(2 * M_PI * i / n));
    std::vector<double> mag(n / 2 + 1);
    for (size_t k = 0; k <= n / 2; ++k) {
        // Goertzel for bin k.
        const double coeff = 2 * std::cos(2 * M_PI * k / n);
        double s1 = 0, s2 = 0;
        for (size_t i = 0; i < n; ++i) {
            const double s0 = w[i] + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        mag[k] = std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coeff * s1 * s2));
    }
    return mag;
}

double Db(double ratio) { return 20 * std::log10(std::max(ratio, 1e-12)); }

// Tones of `seconds` each, one after the other, as 16-bit mono at `rate`.
std::string Tones(const std::vector<double>& freqs, DWORD rate, double seconds, double amplitude) {
    std::vector<int16_t> v;
    const size_t each = static_cast<size_t>(rate * seconds);
    for (double f : freqs)
        for (size_t i = 0; i < each; ++i)
            v.push_back(static_cast<int16_t>(std::lrint(amplitude * std::sin(2 * M_PI * f * static_cast<double>(i) / rate))));
    return wav::Pcm16(v);
}

TEST_F(SoundCardTest, EightKilohertzSweepOnTheCardLeavesNoImageAboveMinus60Db) {
    const std::vector<double> freqs = {250, 750, 1250, 1750, 2250, 2750, 3250, 3600};
    Record pcm8k = Plain(WAVE_FORMAT_PCM, 1, 8000, 16);
    // In 16 buffers, so that the conversion runs across their joins.
    const size_t first = Play(WAVE_MAPPER, pcm8k.get(), Tones(freqs, 8000, 0.5, 16000), 16);
    const auto tap = sim::TapSamples(sim::kSoundCardDevice);
    const DWORD rate = sim::TapRate(sim::kSoundCardDevice);
    ASSERT_EQ(tap.size(), first + freqs.size() * rate / 2);
    const size_t n = 4096;
    for (size_t t = 0; t < freqs.size(); ++t) {
        const auto mag = Spectrum(tap, first + t * rate / 2 + (rate / 2 - n) / 2, n);
        const size_t peak = static_cast<size_t>(std::max_element(mag.begin(), mag.end()) - mag.begin());
        EXPECT_NEAR(static_cast<double>(peak) * rate / n, freqs[t], 2.0 * rate / n) << freqs[t];
        double image = 0;
        for (size_t k = static_cast<size_t>(4100.0 * n / rate); k < mag.size(); ++k) image = std::max(image, mag[k]);
        EXPECT_LT(Db(image / mag[peak]), -60) << "tone " << freqs[t] << " Hz";
        // The tone keeps its level (the window's gain is n/4 for a full-scale sine of amplitude A: A n / 4).
        EXPECT_NEAR(Db(mag[peak] / (16000.0 * n / 4)), 0, 1.5) << freqs[t];
    }
}

TEST_F(SoundCardTest, SweepMappedToTheLineLeavesNoAliasAboveMinus60Db) {
    // Tones the line passes, then tones above its band that must not fold into it.
    const std::vector<double> pass = {400, 1500, 3000}, stop = {4400, 5500, 7000, 9000, 10500};
    std::vector<double> freqs = pass;
    freqs.insert(freqs.end(), stop.begin(), stop.end());
    Record pcm22k = Plain(WAVE_FORMAT_PCM, 1, 22050, 16);
    const size_t first = Play(sim::kLineDevice, pcm22k.get(), Tones(freqs, 22050, 0.5, 16000), 5);
    const auto tap = sim::TapSamples(sim::kLineDevice);
    ASSERT_EQ(tap.size(), first + freqs.size() * 4000);
    const size_t n = 2048;
    double reference = 0;
    for (size_t t = 0; t < freqs.size(); ++t) {
        const auto mag = Spectrum(tap, first + t * 4000 + (4000 - n) / 2, n);
        const double loudest = *std::max_element(mag.begin(), mag.end());
        if (t < pass.size()) {
            reference = std::max(reference, loudest);
            EXPECT_NEAR(Db(loudest / (16000.0 * n / 4)), 0, 1.5) << freqs[t];
        } else {
            EXPECT_LT(Db(loudest / reference), -60) << "tone " << freqs[t] << " Hz folded into the line";
        }
    }
}

// Records `seconds` from the line, opened mapped in 16-bit mono at `rate`,
// in `pieces` buffers one after the other, from the moment the caller starts.
std::vector<int16_t> RecordLine(DWORD rate, double seconds, size_t pieces) {
    HWAVEIN h = nullptr;
    Record format = Plain(WAVE_FORMAT_PCM, 1, rate, 16);
    EXPECT_EQ(waveInOpen(&h, sim::kLineDevice, format.get(), 0, 0, WAVE_MAPPED), MMSYSERR_NOERROR);
    if (!h) return {};
    const size_t total = static_cast<size_t>(rate * seconds);
    std::vector<int16_t> samples(total);
    std::vector<WAVEHDR> headers(pieces);
    for (size_t i = 0; i < pieces; ++i) {
        const size_t from = total * i / pieces, to = total * (i + 1) / pieces;
        headers[i].lpData = reinterpret_cast<LPSTR>(samples.data() + from);
        headers[i].dwBufferLength = static_cast<DWORD>((to - from) * 2);
        waveInPrepareHeader(h, &headers[i], sizeof(WAVEHDR));
        waveInAddBuffer(h, &headers[i], sizeof(WAVEHDR));
    }
    EXPECT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    sim::RunFor(static_cast<sim::Micros>(seconds * sim::kSecond) + 100 * sim::kMilli);
    for (auto& hdr : headers) {
        EXPECT_TRUE(hdr.dwFlags & WHDR_DONE);
        waveInUnprepareHeader(h, &hdr, sizeof(WAVEHDR));
    }
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    return samples;
}

std::vector<int16_t> Pcm16Samples(const std::string& bytes) {
    std::vector<int16_t> v(bytes.size() / 2);
    memcpy(v.data(), bytes.data(), v.size() * 2);
    return v;
}

TEST_F(SoundCardTest, CallerAt8KilohertzRecordedAt22KilohertzLeavesNoImageAboveMinus60Db) {
    const std::vector<double> freqs = {250, 1250, 2250, 3250, 3600};
    sim::SetInputSamples(sim::kLineDevice, Pcm16Samples(Tones(freqs, 8000, 0.5, 16000)), 8000, true);
    // In 14 buffers of a length that is no whole number of source samples.
    const auto rec = RecordLine(22050, 0.5 * freqs.size(), 14);
    const size_t n = 4096, each = 11025;
    for (size_t t = 0; t < freqs.size(); ++t) {
        const auto mag = Spectrum(rec, t * each + (each - n) / 2, n);
        const size_t peak = static_cast<size_t>(std::max_element(mag.begin(), mag.end()) - mag.begin());
        EXPECT_NEAR(static_cast<double>(peak) * 22050 / n, freqs[t], 2.0 * 22050 / n) << freqs[t];
        double image = 0;
        for (size_t k = static_cast<size_t>(4100.0 * n / 22050); k < mag.size(); ++k) image = std::max(image, mag[k]);
        EXPECT_LT(Db(image / mag[peak]), -60) << "tone " << freqs[t] << " Hz";
        EXPECT_NEAR(Db(mag[peak] / (16000.0 * n / 4)), 0, 1.5) << freqs[t];
    }
}

TEST_F(SoundCardTest, CallerAt22KilohertzRecordedAt8KilohertzLeavesNoAliasAboveMinus60Db) {
    const std::vector<double> pass = {400, 1500, 3000}, stop = {4400, 5500, 7000, 9000, 10500};
    std::vector<double> freqs = pass;
    freqs.insert(freqs.end(), stop.begin(), stop.end());
    sim::SetInputSamples(sim::kLineDevice, Pcm16Samples(Tones(freqs, 22050, 0.5, 16000)), 22050, true);
    const auto rec = RecordLine(8000, 0.5 * freqs.size(), 10);
    const size_t n = 2048;
    double reference = 0;
    for (size_t t = 0; t < freqs.size(); ++t) {
        const auto mag = Spectrum(rec, t * 4000 + (4000 - n) / 2, n);
        const double loudest = *std::max_element(mag.begin(), mag.end());
        if (t < pass.size()) {
            reference = std::max(reference, loudest);
            EXPECT_NEAR(Db(loudest / (16000.0 * n / 4)), 0, 1.5) << freqs[t];
        } else {
            EXPECT_LT(Db(loudest / reference), -60) << "tone " << freqs[t] << " Hz folded into the recording";
        }
    }
}

// ---- sound files made from Debian's by an outside encoder --------------------

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// sox's own decoding of the file: its channels mixed to mono, as floats on
// the 16-bit scale.
std::vector<float> SoxMono(const std::string& path) {
    const std::string raw = "sox_ref.f32";
    if (!Shell("sox -D '" + path + "' -t raw -e floating-point -b 32 -c 1 " + raw)) return {};
    const std::string bytes = testenv::ReadFile(raw);
    std::vector<float> v(bytes.size() / 4);
    memcpy(v.data(), bytes.data(), v.size() * 4);
    for (float& f : v) f *= 32768.0f;
    return v;
}

// Whether `expected` (UTF-8) appear in `log` (GBK) in that order.
bool LoggedInOrder(const std::vector<std::string>& log, const std::vector<std::string>& expected) {
    auto at = log.begin();
    for (const auto& text : expected) {
        at = std::find(at, log.end(), testenv::Gbk(text));
        if (at == log.end()) return false;
        ++at;
    }
    return true;
}

// Every file of the shared table gives its ReadWav result, PlayWav result
// and log entries; what plays reaches the tap as sox decodes it, converted
// to the tap's rate.
TEST_F(SoundCardTest, CorpusFilesGiveTheirResultsAndPlayTheirSamples) {
    const std::string support = MARLUNE_SOURCE_DIR "/tests/support/";
    const auto files = corpus::Read(support + "wav_corpus.txt");
    ASSERT_FALSE(files.empty());
    ASSERT_TRUE(Shell("bash " + support + "make_wav_corpus.sh " + support + "wav_corpus.txt corpus"));
    MakeControl();
    const DWORD tapRate = sim::TapRate(sim::kSoundCardDevice);
    for (const auto& file : files) {
        const std::string path = "corpus/" + file.name;
        SoundRef sound;
        EXPECT_EQ(ReadWav(module->core, path.c_str(), sound), file.read) << file.name;
        sim::RunFor(50 * sim::kMilli);
        const size_t first = static_cast<size_t>(sim::Now() * tapRate / sim::kSecond);
        const int ends = sink.count(EVENT_EndPlayAll);
        MarkLog();
        EXPECT_EQ(ctrl->PlayWav(path, 1), file.play) << file.name;
        EXPECT_TRUE(LoggedInOrder(NewLog(), file.log)) << file.name;
        if (file.play != 0) {
            EXPECT_EQ(sim::OpenWaveHandles(true), 0) << file.name;
            continue;
        }
        const std::vector<float> reference = SoxMono(path);
        ASSERT_FALSE(reference.empty()) << file.name;
        const DWORD rate = sound->Format()->nSamplesPerSec;
        sim::RunFor(static_cast<sim::Micros>(reference.size()) * sim::kSecond / rate + 50 * sim::kMilli);
        EXPECT_EQ(sink.count(EVENT_EndPlayAll), ends + 1) << file.name;
        const size_t length = reference.size() * tapRate / rate;
        const auto expected = sim::ResampleAll(reference.data(), reference.size(), 1, rate, tapRate, length);
        const auto tap = sim::TapSamples(sim::kSoundCardDevice);
        ASSERT_GE(tap.size(), first + length) << file.name;
        double worst = 0, energy = 0;
        for (size_t i = 0; i < length; ++i) {
            worst = std::max(worst, std::abs(tap[first + i] - static_cast<double>(expected[i])));
            energy += static_cast<double>(tap[first + i]) * tap[first + i];
        }
        EXPECT_GT(energy, 0) << file.name;
        EXPECT_LE(worst, 2.0) << file.name;
    }
}

}  // namespace
