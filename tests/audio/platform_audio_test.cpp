// The multimedia and kernel parts of the Linux platform layer on their own:
// G.711, mmio chunk searches, wave devices, taps, sources, global memory
// and files.
#include <algorithm>
#include <cstring>

#include "platform/sim/resampler.h"
#include "tests/support/audio_fixture.h"

namespace {

// ---- G.711 ------------------------------------------------------------------

TEST(G711, EveryCodeDecodesAndReencodesToItself) {
    for (int c = 0; c < 256; ++c) {
        int16_t v = sim::MuLawDecode(static_cast<uint8_t>(c));
        uint8_t back = sim::MuLawEncode(v);
        // 0x7F and 0xFF are both zero; everything else is exact.
        if (v == 0) continue;
        EXPECT_EQ(back, c) << "code " << c;
    }
}

TEST(G711, KnownValuesAndMonotonic) {
    EXPECT_EQ(sim::MuLawEncode(0), 0xFF);
    EXPECT_EQ(sim::MuLawEncode(32767), 0x80);
    EXPECT_EQ(sim::MuLawEncode(-32768), 0x00);
    EXPECT_EQ(sim::MuLawDecode(0x80), 32124);
    EXPECT_EQ(sim::MuLawDecode(0x00), -32124);
    int previous = -40000;
    for (int v = -32768; v <= 32767; v += 97) {
        int decoded = sim::MuLawDecode(sim::MuLawEncode(static_cast<int16_t>(v)));
        EXPECT_GE(decoded, previous);
        EXPECT_LE(std::abs(decoded - v), std::max(16, std::abs(v) / 16));
        previous = decoded;
    }
}

// ---- mmio -------------------------------------------------------------------

class MmioTest : public MarluneTest {};

TEST_F(MmioTest, FindChunkStaysInsideParentAndAscendSkipsPad) {
    std::string inner = wav::Chunk("odd ", "abc") + wav::Chunk("fmt ", wav::Fmt(1, 1, 8000, 16));
    // A chunk named "data" after the RIFF form: outside the parent.
    wav::Save("m.wav", wav::Riff("WAVE", inner) + wav::Chunk("data", "zz"));
    std::string name = "m.wav";
    HMMIO h = mmioOpenA(name.data(), nullptr, MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.dwDataOffset, 8u);
    MMCKINFO sub{};
    sub.ckid = mmioFOURCC('o', 'd', 'd', ' ');
    ASSERT_EQ(mmioDescend(h, &sub, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    EXPECT_EQ(sub.cksize, 3u);
    ASSERT_EQ(mmioAscend(h, &sub, 0), MMSYSERR_NOERROR);
    sub.ckid = mmioFOURCC('f', 'm', 't', ' ');
    ASSERT_EQ(mmioDescend(h, &sub, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    WAVEFORMATEX f{};
    EXPECT_EQ(mmioRead(h, reinterpret_cast<HPSTR>(&f), 16), 16);
    EXPECT_EQ(f.nSamplesPerSec, 8000u);
    mmioAscend(h, &sub, 0);
    sub.ckid = mmioFOURCC('d', 'a', 't', 'a');
    EXPECT_EQ(mmioDescend(h, &sub, &riff, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(sim::OpenMmioHandles(), 1);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(sim::OpenMmioHandles(), 0);
}

TEST_F(MmioTest, ReadStopsAtEndOfFile) {
    wav::Save("s.bin", "0123456789");
    std::string name = "s.bin";
    HMMIO h = mmioOpenA(name.data(), nullptr, MMIO_ALLOCBUF);
    char buf[32];
    EXPECT_EQ(mmioRead(h, buf, 32), 10);
    EXPECT_EQ(mmioRead(h, buf, 4), 0);
    mmioClose(h, 0);
    std::string missing = "missing.wav";
    EXPECT_EQ(mmioOpenA(missing.data(), nullptr, MMIO_ALLOCBUF), nullptr);
}

TEST_F(MmioTest, HostileChunkSizesEndTheSearchInsideTheFile) {
    const std::string fmt = wav::Chunk("fmt ", wav::Fmt(1, 1, 8000, 16));
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"junk claiming 0xFFFFFFFF", wav::Riff("WAVE", "junk" + wav::U32(0xFFFFFFFFu) + fmt)},
        {"junk claiming 0xFFFFFFFE", wav::Riff("WAVE", "junk" + wav::U32(0xFFFFFFFEu) + fmt)},
        {"junk reaching back to 0 in 32 bits", wav::Riff("WAVE", "junk" + wav::U32(0xFFFFFFF0u) + fmt)},
        {"junk one byte past the end", wav::Riff("WAVE", "junk" + wav::U32(static_cast<uint32_t>(fmt.size()) + 1) + fmt)},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        wav::Save("h.wav", c.bytes);
        std::string name = "h.wav";
        HMMIO h = mmioOpenA(name.data(), nullptr, MMIO_ALLOCBUF);
        ASSERT_NE(h, nullptr);
        MMCKINFO riff{};
        riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
        ASSERT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
        MMCKINFO sub{};
        sub.ckid = mmioFOURCC('f', 'm', 't', ' ');
        EXPECT_EQ(mmioDescend(h, &sub, &riff, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
        // The position stayed inside the file.
        LONG here = mmioSeek(h, 0, SEEK_CUR);
        EXPECT_GE(here, 0);
        EXPECT_LE(here, static_cast<LONG>(c.bytes.size()));
        mmioClose(h, 0);
    }
    // A RIFF claiming 4 GiB is searched only as far as the file goes.
    wav::Save("r.wav", "RIFF" + wav::U32(0xFFFFFFFFu) + "WAVE" + wav::Chunk("junk", "ab"));
    std::string name = "r.wav";
    HMMIO h = mmioOpenA(name.data(), nullptr, 0);
    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.cksize, 0xFFFFFFFFu);
    MMCKINFO sub{};
    sub.ckid = mmioFOURCC('d', 'a', 't', 'a');
    EXPECT_EQ(mmioDescend(h, &sub, &riff, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    mmioClose(h, 0);
}

TEST_F(MmioTest, DataClaimingMoreThanTheFileReadsWhatIsThereAndAscendStopsAtTheEnd) {
    std::string bytes = wav::Riff("WAVE", wav::Chunk("fmt ", wav::Fmt(1, 1, 8000, 16)) + "data" +
                                              wav::U32(0xFFFFFFFFu) + "0123456789");
    wav::Save("d.wav", bytes);
    std::string name = "d.wav";
    HMMIO h = mmioOpenA(name.data(), nullptr, MMIO_ALLOCBUF);
    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    MMCKINFO sub{};
    sub.ckid = mmioFOURCC('d', 'a', 't', 'a');
    ASSERT_EQ(mmioDescend(h, &sub, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    EXPECT_EQ(sub.cksize, 0xFFFFFFFFu);
    char buf[64];
    EXPECT_EQ(mmioRead(h, buf, sizeof buf), 10);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    ASSERT_EQ(mmioAscend(h, &sub, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), static_cast<LONG>(bytes.size()));
    MMCKINFO next{};
    EXPECT_EQ(mmioDescend(h, &next, &riff, 0), MMIOERR_CHUNKNOTFOUND);
    mmioClose(h, 0);
}

TEST_F(MmioTest, SeekFollowsOriginsAndRefusesOutsideTheFile) {
    wav::Save("s.bin", "0123456789");
    std::string name = "s.bin";
    HMMIO h = mmioOpenA(name.data(), nullptr, MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_END), 10) << "the file size";
    EXPECT_EQ(mmioSeek(h, 3, SEEK_SET), 3);
    char c = 0;
    EXPECT_EQ(mmioRead(h, &c, 1), 1);
    EXPECT_EQ(c, '3');
    EXPECT_EQ(mmioSeek(h, 2, SEEK_CUR), 6);
    EXPECT_EQ(mmioSeek(h, -4, SEEK_END), 6);
    EXPECT_EQ(mmioSeek(h, -7, SEEK_CUR), -1);
    EXPECT_EQ(mmioSeek(h, 0, 99), -1);
    EXPECT_EQ(mmioSeek(nullptr, 0, SEEK_SET), -1);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 6) << "a refused seek leaves the position";
    mmioClose(h, 0);
}

// ---- wave output --------------------------------------------------------------

class WaveOutTest : public MarluneTest {
protected:
    void SetUp() override {
        MarluneTest::SetUp();
        WNDCLASSA wc{};
        wc.lpfnWndProc = &Proc;
        wc.lpszClassName = "AudioTestSink";
        RegisterClassA(&wc);
        window = CreateWindowExA(0, "AudioTestSink", "sink", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        messages().clear();
        ASSERT_TRUE(sim::SetTapPath(sim::kLineDevice, "line_tap.wav"));
    }
    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
        if (msg >= MM_WOM_OPEN && msg <= MM_WIM_DATA) messages().push_back({msg, w, l});
        return DefWindowProcA(h, msg, w, l);
    }
    struct Msg {
        UINT msg;
        WPARAM w;
        LPARAM l;
    };
    static std::vector<Msg>& messages() {
        static std::vector<Msg> m;
        return m;
    }
    std::vector<UINT> Kinds() const {
        std::vector<UINT> k;
        for (auto& m : messages()) k.push_back(m.msg);
        return k;
    }
    HWND window = nullptr;
    WAVEFORMATEX pcm8k{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    WAVEFORMATEX mulaw{WAVE_FORMAT_MULAW, 1, 8000, 8000, 1, 8, 0};
    WAVEFORMATEX pcm22k{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
};

TEST_F(WaveOutTest, FormatQueryFollowsDeviceTableAndMapping) {
    EXPECT_EQ(waveOutOpen(nullptr, sim::kLineDevice, &pcm8k, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutOpen(nullptr, sim::kLineDevice, &mulaw, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutOpen(nullptr, sim::kLineDevice, &pcm22k, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(nullptr, sim::kLineDevice, &pcm22k, 0, 0, WAVE_FORMAT_QUERY | WAVE_MAPPED),
              MMSYSERR_NOERROR);
    // The sound card takes mu-law only through the mapper.
    EXPECT_EQ(waveOutOpen(nullptr, sim::kSoundCardDevice, &mulaw, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &mulaw, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    WAVEFORMATEX adpcm{2, 1, 8000, 4000, 256, 4, 0};
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &adpcm, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(nullptr, 7, &pcm8k, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
    sim::SetDevicePresent(true, sim::kLineDevice, false);
    EXPECT_EQ(waveOutOpen(nullptr, sim::kLineDevice, &pcm8k, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
    // Queries open nothing.
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
}

TEST_F(WaveOutTest, BufferPlaysInRealDurationAndTapHoldsIt) {
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, sim::kLineDevice, &pcm8k, reinterpret_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutOpen(&h, sim::kLineDevice, &pcm8k, 0, 0, 0), MMSYSERR_ALLOCATED);
    auto samples = wav::Ramp(4000);  // half a second
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<LPSTR>(samples.data());
    hdr.dwBufferLength = 8000;
    EXPECT_EQ(waveOutWrite(h, &hdr, sizeof hdr), WAVERR_UNPREPARED);
    ASSERT_EQ(waveOutPrepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    sim::RunFor(sim::kSecond);  // a second of silence first
    ASSERT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_TRUE(hdr.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(waveOutUnprepareHeader(h, &hdr, sizeof hdr), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING);
    sim::RunFor(499 * sim::kMilli);
    EXPECT_FALSE(hdr.dwFlags & WHDR_DONE);
    sim::RunFor(2 * sim::kMilli);
    EXPECT_TRUE(hdr.dwFlags & WHDR_DONE);
    EXPECT_EQ(Kinds(), (std::vector<UINT>{MM_WOM_OPEN, MM_WOM_DONE}));
    EXPECT_EQ(reinterpret_cast<WAVEHDR*>(messages().back().l), &hdr);
    EXPECT_EQ(reinterpret_cast<HWAVEOUT>(messages().back().w), h);
    EXPECT_EQ(waveOutUnprepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_INVALHANDLE);
    sim::RunPending();
    EXPECT_EQ(Kinds().back(), static_cast<UINT>(MM_WOM_CLOSE));

    const auto& tap = sim::TapSamples(sim::kLineDevice);
    ASSERT_EQ(tap.size(), 12000u);
    for (size_t i = 0; i < 8000; i += 500) EXPECT_EQ(tap[i], 0);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), tap.begin() + 8000));
}

TEST_F(WaveOutTest, ResetReturnsBufferAtOnceAndCutsTheTap) {
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, sim::kLineDevice, &mulaw, reinterpret_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    std::vector<char> data(16000, static_cast<char>(0x80));  // two seconds, loud
    WAVEHDR hdr{};
    hdr.lpData = data.data();
    hdr.dwBufferLength = 16000;
    waveOutPrepareHeader(h, &hdr, sizeof hdr);
    waveOutWrite(h, &hdr, sizeof hdr);
    sim::RunFor(500 * sim::kMilli);
    ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    EXPECT_TRUE(hdr.dwFlags & WHDR_DONE);
    EXPECT_FALSE(hdr.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(sim::TapSamples(sim::kLineDevice).size(), 4000u);
    EXPECT_EQ(sim::TapSamples(sim::kLineDevice)[100], sim::MuLawDecode(0x80));
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    sim::RunFor(3 * sim::kSecond);
    int done = 0;
    for (auto k : Kinds()) done += k == MM_WOM_DONE;
    EXPECT_EQ(done, 1) << "the cancelled end must not come later";
}

TEST_F(WaveOutTest, ABackedLineDeviceReturnsABufferOnlyOnceTheLineHasTakenIt) {
    // A line that has taken `takenUpTo` of the samples handed to it.
    static uint64_t handed, takenUpTo;
    static std::vector<uint64_t> asked;
    handed = takenUpTo = 0;
    asked.clear();
    sim::LineBackend line;
    line.play = [](const int16_t*, size_t n) { handed += n; };
    line.taken = [](uint64_t upTo) {
        asked.push_back(upTo);
        return upTo <= takenUpTo;
    };
    sim::SetLineBackend(sim::kLineDevice, line);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, sim::kLineDevice, &mulaw, reinterpret_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    std::vector<char> data(4000, static_cast<char>(0x80));
    WAVEHDR first{}, second{};
    for (WAVEHDR* hdr : {&first, &second}) {
        hdr->lpData = data.data();
        hdr->dwBufferLength = 4000;  // half a second each
        waveOutPrepareHeader(h, hdr, sizeof *hdr);
        waveOutWrite(h, hdr, sizeof *hdr);
    }
    EXPECT_EQ(handed, 8000u);
    // The clock has played both, but the line has taken neither: nothing is done.
    sim::RunFor(1500 * sim::kMilli);
    EXPECT_FALSE(first.dwFlags & WHDR_DONE);
    EXPECT_FALSE(second.dwFlags & WHDR_DONE);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.front(), 4000u);  // the first buffer's end, in line samples
    // The line takes the first: it is done at the next look, the second still waits.
    takenUpTo = 4000;
    sim::RunFor(10 * sim::kMilli);
    EXPECT_TRUE(first.dwFlags & WHDR_DONE);
    EXPECT_FALSE(second.dwFlags & WHDR_DONE);
    takenUpTo = 8000;
    sim::RunFor(10 * sim::kMilli);
    EXPECT_TRUE(second.dwFlags & WHDR_DONE);
    int done = 0;
    for (auto k : Kinds()) done += k == MM_WOM_DONE;
    EXPECT_EQ(done, 2);
    // A buffer the line has taken in time ends on the clock, as without a line.
    WAVEHDR third{};
    third.lpData = data.data();
    third.dwBufferLength = 4000;
    waveOutPrepareHeader(h, &third, sizeof third);
    waveOutWrite(h, &third, sizeof third);
    takenUpTo = 12000;
    sim::RunFor(499 * sim::kMilli);
    EXPECT_FALSE(third.dwFlags & WHDR_DONE);
    sim::RunFor(2 * sim::kMilli);
    EXPECT_TRUE(third.dwFlags & WHDR_DONE);
    // A reset returns what the line still holds at once.
    takenUpTo = 0;
    waveOutWrite(h, &third, sizeof third);
    sim::RunFor(sim::kSecond);
    EXPECT_FALSE(third.dwFlags & WHDR_DONE);
    EXPECT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    EXPECT_TRUE(third.dwFlags & WHDR_DONE);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    sim::SetLineBackend(sim::kLineDevice, sim::LineBackend{});
}

TEST_F(WaveOutTest, MappedOpenConvertsIntoTheLineTap) {
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, sim::kLineDevice, &pcm22k, 0, 0, WAVE_MAPPED), MMSYSERR_NOERROR);
    std::vector<int16_t> tone(22050, 1000);
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<LPSTR>(tone.data());
    hdr.dwBufferLength = 44100;
    waveOutPrepareHeader(h, &hdr, sizeof hdr);
    waveOutWrite(h, &hdr, sizeof hdr);
    sim::RunFor(2 * sim::kSecond);
    EXPECT_EQ(sim::TapSamples(sim::kLineDevice).size(), 8000u);
    EXPECT_EQ(sim::TapSamples(sim::kLineDevice)[4000], 1000);
    EXPECT_TRUE(messages().empty()) << "CALLBACK_NULL posts nothing";
    waveOutUnprepareHeader(h, &hdr, sizeof hdr);
    waveOutClose(h);
}

TEST_F(WaveOutTest, InjectedFailuresMatchFunctionAndDevice) {
    sim::FailWave("waveOutOpen", MMSYSERR_NOMEM, 1, sim::kLineDevice);
    HWAVEOUT h = nullptr;
    EXPECT_EQ(waveOutOpen(nullptr, sim::kLineDevice, &pcm8k, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutOpen(&h, sim::kSoundCardDevice, &pcm8k, 0, 0, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutOpen(&h, sim::kLineDevice, &pcm8k, 0, 0, 0), MMSYSERR_NOMEM);
    EXPECT_EQ(waveOutOpen(&h, sim::kLineDevice, &pcm8k, 0, 0, 0), MMSYSERR_NOERROR);
    sim::FailWave("waveOutQuery", WAVERR_SYNC, -1);
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &pcm8k, 0, 0, WAVE_FORMAT_QUERY), WAVERR_SYNC);
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &pcm8k, 0, 0, WAVE_FORMAT_QUERY), WAVERR_SYNC);
    sim::ClearWaveFaults();
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &pcm8k, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
}

// The tap file as it is on disk (no flush).
std::vector<int16_t> OnDisk(const std::string& path) { return wav::Samples16(testenv::ReadFile(path)); }

TEST_F(WaveOutTest, TapIsStreamedAsItPlaysAndValidAfterEachFlush) {
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, sim::kLineDevice, &pcm8k, 0, 0, 0), MMSYSERR_NOERROR);
    auto samples = wav::Ramp(16000);  // two seconds
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<LPSTR>(samples.data());
    hdr.dwBufferLength = 32000;
    waveOutPrepareHeader(h, &hdr, sizeof hdr);
    sim::RunFor(250 * sim::kMilli);
    ASSERT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    sim::RunFor(sim::kSecond);
    // Written up to now: nothing of what is still to play.
    sim::WriteTaps();
    auto half = OnDisk("line_tap.wav");
    ASSERT_EQ(half.size(), 10000u);
    EXPECT_EQ(half[1999], 0);
    EXPECT_TRUE(std::equal(samples.begin(), samples.begin() + 8000, half.begin() + 2000));
    EXPECT_EQ(sim::TapLength(sim::kLineDevice), 10000u);
    sim::RunFor(2 * sim::kSecond);
    waveOutUnprepareHeader(h, &hdr, sizeof hdr);
    ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    auto all = OnDisk("line_tap.wav");
    ASSERT_EQ(all.size(), 18000u) << "closing the device brings the header up to date";
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), all.begin() + 2000));
}

TEST_F(WaveOutTest, NoTapWithoutAPathAndTheSoundCardTapIsResampled) {
    ASSERT_TRUE(sim::SetTapPath(sim::kLineDevice, ""));
    EXPECT_FALSE(sim::SetTapPath(sim::kSoundCardDevice, "no/such/dir/tap.wav"));
    EXPECT_EQ(sim::TapPath(sim::kSoundCardDevice), "");
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, sim::kLineDevice, &pcm8k, 0, 0, 0), MMSYSERR_NOERROR);
    std::vector<int16_t> tone(8000, 500);
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<LPSTR>(tone.data());
    hdr.dwBufferLength = 16000;
    waveOutPrepareHeader(h, &hdr, sizeof hdr);
    waveOutWrite(h, &hdr, sizeof hdr);
    sim::RunFor(2 * sim::kSecond);
    EXPECT_TRUE(sim::TapSamples(sim::kLineDevice).empty());
    EXPECT_EQ(sim::TapLength(sim::kLineDevice), 0u);
    waveOutClose(h);

    // 8 kHz into the 22,050 Hz tap of the sound card, band-limited: the ramp
    // as it was, but for the ringing of its cut-off end.
    ASSERT_TRUE(sim::SetTapPath(sim::kSoundCardDevice, "card.wav"));
    std::vector<int16_t> ramp(8000);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i);
    hdr = WAVEHDR{};
    hdr.lpData = reinterpret_cast<LPSTR>(ramp.data());
    hdr.dwBufferLength = 16000;
    ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &pcm8k, 0, 0, 0), MMSYSERR_NOERROR);
    waveOutPrepareHeader(h, &hdr, sizeof hdr);
    const sim::Micros start = sim::Now();
    waveOutWrite(h, &hdr, sizeof hdr);
    sim::RunFor(2 * sim::kSecond);
    waveOutClose(h);
    auto tap = sim::TapSamples(sim::kSoundCardDevice);
    const size_t first = static_cast<size_t>(start * 22050 / sim::kSecond);
    ASSERT_EQ(tap.size(), first + 22050);
    for (size_t i = 0; i < 22050 - 1100; i += 1001) {
        double expected = static_cast<double>(i) * 8000 / 22050;
        EXPECT_NEAR(tap[first + i], expected, 1.0) << i;
    }
}

// ---- wave input ---------------------------------------------------------------

TEST_F(WaveOutTest, InputFillsFromSourceAndResetReturnsPartialBuffer) {
    auto voice = wav::Ramp(80000, 3);
    sim::SetInputSamples(sim::kLineDevice, voice, 8000, false);
    HWAVEIN h = nullptr;
    ASSERT_EQ(waveInOpen(&h, sim::kLineDevice, &mulaw, reinterpret_cast<DWORD_PTR>(window), 0,
                         CALLBACK_WINDOW | WAVE_MAPPED),
              MMSYSERR_NOERROR);
    std::vector<char> buf(24000, 0x55);
    WAVEHDR hdr{};
    hdr.lpData = buf.data();
    hdr.dwBufferLength = 24000;
    EXPECT_EQ(waveInAddBuffer(h, &hdr, sizeof hdr), WAVERR_UNPREPARED);
    waveInPrepareHeader(h, &hdr, sizeof hdr);
    ASSERT_EQ(waveInAddBuffer(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    sim::RunFor(sim::kSecond);  // not started: nothing recorded
    EXPECT_FALSE(hdr.dwFlags & WHDR_DONE);
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    sim::RunFor(1250 * sim::kMilli);
    EXPECT_EQ(waveInClose(h), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    EXPECT_TRUE(hdr.dwFlags & WHDR_DONE);
    ASSERT_EQ(hdr.dwBytesRecorded, 10000u);
    // Recording began one second after the caller started speaking.
    for (DWORD i = 0; i < hdr.dwBytesRecorded; ++i)
        ASSERT_EQ(static_cast<uint8_t>(buf[i]), sim::MuLawEncode(voice[8000 + i])) << i;
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    sim::RunPending();
    EXPECT_EQ(Kinds(), (std::vector<UINT>{MM_WIM_OPEN, MM_WIM_DATA, MM_WIM_CLOSE}));
    EXPECT_EQ(waveInUnprepareHeader(h, &hdr, sizeof hdr), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveOutTest, FullInputBufferComesBackAfterItsDurationWithSilenceAfterSource) {
    sim::SetInputSamples(sim::kSoundCardDevice, std::vector<int16_t>(4000, 3000), 8000, true);
    HWAVEIN h = nullptr;
    WAVEFORMATEX pcm8{WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
    ASSERT_EQ(waveInOpen(&h, WAVE_MAPPER, &pcm8, reinterpret_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    std::vector<char> buf(8000, 0);
    WAVEHDR hdr{};
    hdr.lpData = buf.data();
    hdr.dwBufferLength = 8000;
    waveInPrepareHeader(h, &hdr, sizeof hdr);
    waveInAddBuffer(h, &hdr, sizeof hdr);
    sim::RunFor(3 * sim::kSecond);  // the source is anchored at the start
    waveInStart(h);
    sim::RunFor(999 * sim::kMilli);
    EXPECT_FALSE(hdr.dwFlags & WHDR_DONE);
    sim::RunFor(2 * sim::kMilli);
    ASSERT_TRUE(hdr.dwFlags & WHDR_DONE);
    EXPECT_EQ(hdr.dwBytesRecorded, 8000u);
    EXPECT_EQ(static_cast<uint8_t>(buf[10]), (3000 >> 8) + 128);
    EXPECT_EQ(static_cast<uint8_t>(buf[7000]), 128) << "silence after the source ends";
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, InputAtAnotherRateAndInStereoTakesTheSourceConvertedToThatRate) {
    auto voice = wav::Ramp(16000, 7);
    sim::RunFor(300 * sim::kMilli);
    sim::SetInputSamples(sim::kSoundCardDevice, voice, 8000, false);  // heard from 0.3 s on
    sim::RunFor(700 * sim::kMilli);
    HWAVEIN h = nullptr;
    WAVEFORMATEX stereo{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
    ASSERT_EQ(waveInOpen(&h, WAVE_MAPPER, &stereo, 0, 0, 0), MMSYSERR_NOERROR);
    std::vector<int16_t> buf(2 * 11025, 0x1111);  // half a second
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<LPSTR>(buf.data());
    hdr.dwBufferLength = static_cast<DWORD>(buf.size() * 2);
    waveInPrepareHeader(h, &hdr, sizeof hdr);
    waveInAddBuffer(h, &hdr, sizeof hdr);
    waveInStart(h);
    sim::RunFor(600 * sim::kMilli);
    ASSERT_TRUE(hdr.dwFlags & WHDR_DONE);
    ASSERT_EQ(hdr.dwBytesRecorded, hdr.dwBufferLength);
    // The voice at 22 050 Hz, from 0.7 s into it (frame 15 435) on, in both channels.
    const std::vector<float> in(voice.begin(), voice.end());
    const auto at22k = sim::ResampleAll(in.data(), in.size(), 1, 8000, 22050, 44100);
    for (size_t i = 0; i < 11025; ++i) {
        const float expected = std::clamp(at22k[15435 + i], -32768.0f, 32767.0f);
        ASSERT_NEAR(buf[2 * i], expected, 0.5f) << i;
        ASSERT_EQ(buf[2 * i + 1], buf[2 * i]) << i;
    }
    waveInUnprepareHeader(h, &hdr, sizeof hdr);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, InputWavIsDecodedWhenNamedAndAgainOnlyWhenTheFileChanged) {
    auto record = [&](std::vector<uint8_t>& buf) {
        HWAVEIN h = nullptr;
        if (waveInOpen(&h, sim::kLineDevice, &mulaw, 0, 0, 0) != MMSYSERR_NOERROR) return false;
        WAVEHDR hdr{};
        hdr.lpData = reinterpret_cast<LPSTR>(buf.data());
        hdr.dwBufferLength = static_cast<DWORD>(buf.size());
        waveInPrepareHeader(h, &hdr, sizeof hdr);
        waveInAddBuffer(h, &hdr, sizeof hdr);
        waveInStart(h);
        sim::RunFor(sim::kSecond);
        waveInUnprepareHeader(h, &hdr, sizeof hdr);
        return waveInClose(h) == MMSYSERR_NOERROR && (hdr.dwFlags & WHDR_DONE);
    };
    EXPECT_FALSE(sim::SetInputWav(sim::kLineDevice, "missing.wav", true));
    wav::Save("voice.wav", wav::Pcm8k(std::vector<int16_t>(800, 8000)));
    ASSERT_TRUE(sim::SetInputWav(sim::kLineDevice, "voice.wav", true));
    // A file that no longer reads is refused; the sound named before stays
    // and every recording hears it.
    wav::Save("voice.wav", "not a wav any more");
    EXPECT_FALSE(sim::SetInputWav(sim::kLineDevice, "voice.wav", true));
    std::vector<uint8_t> first(800), second(800);
    ASSERT_TRUE(record(first));
    ASSERT_TRUE(record(second));
    EXPECT_EQ(first[10], sim::MuLawEncode(8000));
    EXPECT_EQ(second, first);
    // A changed file is decoded again when named.
    wav::Save("voice.wav", wav::Pcm8k(std::vector<int16_t>(1600, -3000)));
    ASSERT_TRUE(sim::SetInputWav(sim::kLineDevice, "voice.wav", true));
    ASSERT_TRUE(record(second));
    EXPECT_EQ(second[10], sim::MuLawEncode(-3000));
}

// ---- kernel -------------------------------------------------------------------

TEST(Kernel, GlobalMemoryIsTrackedAndFaultsInject) {
    int before = sim::LiveGlobalBlocks();
    HGLOBAL g = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 100);
    ASSERT_NE(g, nullptr);
    auto* p = static_cast<unsigned char*>(GlobalLock(g));
    ASSERT_EQ(p, g);
    EXPECT_EQ(p[99], 0);
    EXPECT_EQ(sim::LiveGlobalBlocks(), before + 1);
    EXPECT_EQ(GlobalFree(g), nullptr);
    EXPECT_EQ(GlobalFree(g), g) << "a second free fails";
    EXPECT_EQ(sim::LiveGlobalBlocks(), before);
    sim::FailKernel("GlobalAlloc");
    EXPECT_EQ(GlobalAlloc(GPTR, 10), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    HGLOBAL again = GlobalAlloc(GPTR, 10);
    EXPECT_NE(again, nullptr);
    GlobalFree(again);
}

class KernelFiles : public MarluneTest {};

TEST_F(KernelFiles, CreateWriteReadCloseAndFaults) {
    HANDLE f = CreateFileA("out.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileType(f), static_cast<DWORD>(FILE_TYPE_DISK));
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(f, "hello", 5, &n, nullptr));
    EXPECT_EQ(n, 5u);
    sim::FailKernel("WriteFile");
    EXPECT_FALSE(WriteFile(f, "xx", 2, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(CloseHandle(f));
    EXPECT_FALSE(CloseHandle(f));
    EXPECT_EQ(testenv::ReadFile("out.bin"), "hello");
    EXPECT_EQ(CreateFileA("no/such/dir/x", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    sim::FailKernel("CreateFileA");
    EXPECT_EQ(CreateFileA("ok.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    HANDLE r = CreateFileA("out.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char buf[8] = {};
    ASSERT_TRUE(ReadFile(r, buf, 8, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "hello");
    CloseHandle(r);
    EXPECT_EQ(sim::OpenFileHandles(), 0);
}

}  // namespace
