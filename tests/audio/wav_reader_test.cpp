// The WAV reader: every result code with its one log line, chunk searches,
// and the file closed after every outcome.
#include <cstring>

#include "audio/wav_reader.h"
#include "tests/audio/alloc_fault.h"
#include "tests/support/audio_fixture.h"

namespace {

class WavReaderTest : public AudioTest {
protected:
    void SetUp() override {
        AudioTest::SetUp();
        MakeControl();
    }
    // Reads `bytes` saved as a file; checks one log line and a closed file.
    LONG Read(const std::string& bytes, std::string* logLine = nullptr) {
        wav::Save("t.wav", bytes);
        MarkLog();
        LONG r = ReadWav(module->core, "t.wav", sound);
        EXPECT_EQ(sim::OpenMmioHandles(), 0) << "file left open";
        auto log = NewLog();
        EXPECT_EQ(log.size(), 1u);
        if (logLine && !log.empty()) *logLine = log.back();
        return r;
    }
    void ExpectEmptySound() { EXPECT_EQ(sound, nullptr); }
    SoundRef sound;
};

const std::string kFmt = wav::Chunk("fmt ", wav::Fmt(1, 1, 8000, 16));

TEST_F(WavReaderTest, FailureRowsGiveTheirCodeAndText) {
    struct Row {
        const char* name;
        std::string bytes;
        LONG code;
        const char* text;
    };
    const std::string data = wav::Chunk("data", wav::Pcm16(wav::Ramp(100)));
    std::vector<Row> rows = {
        {"another RIFF form", wav::Riff("AVI ", wav::Chunk("LIST", "hdrl")), -2, "读入语音err8"},
        {"not RIFF at all", "just some text, not a sound file", -2, "读入语音err8"},
        {"no fmt chunk", wav::Riff("WAVE", data), -3, "读入语音err7"},
        {"format cut short", "RIFF" + wav::U32(40) + "WAVE" + "fmt " + wav::U32(16) + "0123456789", -5,
         "读入语音err5"},
        {"data before fmt", wav::Riff("WAVE", data + kFmt), -6, "读入语音err4"},
        {"empty data", wav::Riff("WAVE", kFmt + wav::Chunk("data", "")), -7, "读入语音err3"},
        {"data cut short", wav::Riff("WAVE", kFmt + "data" + wav::U32(1000) + std::string(300, 'x')), -9,
         "读入语音err1"},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string line;
        EXPECT_EQ(Read(row.bytes, &line), row.code);
        EXPECT_EQ(line, std::string(row.text));
        ExpectEmptySound();
    }
}

TEST_F(WavReaderTest, MissingFileLogsNoHandle) {
    MarkLog();
    EXPECT_EQ(ReadWav(module->core, "nowhere/none.wav", sound), -1);
    EXPECT_EQ(NewLog(), Texts{"!hmmio"});
    ExpectEmptySound();
}

TEST_F(WavReaderTest, OutOfMemoryForFormatOrData) {
    if (!allocfault::Available()) GTEST_SKIP() << "the sanitizer owns the heap";
    // A 46-byte format record and 12,345 bytes of data: sizes nothing else asks for.
    std::string fmt46 = wav::Fmt(1, 1, 8000, 16) + wav::U16(28) + std::string(28, 'e');
    std::string bytes = wav::Riff("WAVE", wav::Chunk("fmt ", fmt46) + wav::Chunk("data", std::string(12345, 'd')));
    std::string line;
    allocfault::FailCallocOfSize(46);
    EXPECT_EQ(Read(bytes, &line), -4);
    EXPECT_EQ(line, ("读入语音err6"));
    ExpectEmptySound();
    allocfault::FailCallocOfSize(12345);
    EXPECT_EQ(Read(bytes, &line), -8);
    EXPECT_EQ(line, ("读入语音err2"));
    ExpectEmptySound();
    allocfault::FailCallocOfSize(0);
}

TEST_F(WavReaderTest, SkipsListAndKeepsWholeFiftyByteFormat) {
    // 50-byte fmt: 18 bytes of header with cbSize 32, then 32 extra bytes.
    std::string fmt50 = wav::Fmt(1, 1, 8000, 16) + wav::U16(32);
    for (int i = 0; i < 32; ++i) fmt50 += char('A' + i);
    ASSERT_EQ(fmt50.size(), 50u);
    std::string samples = wav::Pcm16(wav::Ramp(401));
    // An odd-sized LIST chunk ahead of fmt: its pad byte must be skipped too.
    std::string bytes = wav::Riff("WAVE", wav::Chunk("LIST", "INFOabc") + wav::Chunk("fmt ", fmt50) +
                                              wav::Chunk("junk", "x") + wav::Chunk("data", samples));
    std::string line;
    ASSERT_EQ(Read(bytes, &line), 0);
    EXPECT_EQ(line, ("读入语音数据成功"));
    ASSERT_NE(sound, nullptr);
    ASSERT_EQ(sound->FormatSize(), 50u);
    EXPECT_EQ(std::string(sound->format.get(), 50), fmt50);
    ASSERT_EQ(sound->DataSize(), samples.size());
    EXPECT_EQ(std::string(sound->Data(), sound->DataSize()), samples);
}

TEST_F(WavReaderTest, OnlyTheFirstWaveFormIsRead) {
    std::string first = wav::Riff("WAVE", kFmt + wav::Chunk("data", wav::Pcm16({1, 2, 3})));
    std::string second = wav::Riff("WAVE", kFmt + wav::Chunk("data", wav::Pcm16({7, 8, 9, 10})));
    ASSERT_EQ(Read(first + second), 0);
    EXPECT_EQ(sound->DataSize(), 6u);
}

TEST_F(WavReaderTest, FailedReadLeavesNoEarlierSoundAndKeepsItForItsHolder) {
    ASSERT_EQ(Read(wav::Pcm8k(wav::Ramp(64))), 0);
    // The sound is handed on (as playback does), then a read fails.
    SoundRef held = sound;
    EXPECT_EQ(Read(wav::Riff("WAVE", kFmt + wav::Chunk("data", ""))), -7);
    ExpectEmptySound();
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->DataSize(), 128u);
}

// A chunk's size is a claim: one that the file cannot hold is a short read,
// whatever its value, and nothing larger than the file is allocated.
TEST_F(WavReaderTest, ChunkSizesBeyondTheFileAreShortReads) {
    struct Row {
        const char* name;
        uint32_t fmtSize, dataSize;
        LONG code;
        const char* text;
    };
    const std::string pcm = wav::Pcm16(wav::Ramp(40));
    std::vector<Row> rows = {
        {"data claims 4 GiB", 16, 0xFFFFFFFFu, -9, "读入语音err1"},
        {"data claims 2 GiB", 16, 0x80000000u, -9, "读入语音err1"},
        {"data claims 2 GiB less one", 16, 0x7FFFFFFFu, -9, "读入语音err1"},
        {"data claims one byte more", 16, 81, -9, "读入语音err1"},
        {"fmt claims 4 GiB", 0xFFFFFFFFu, 80, -5, "读入语音err5"},
        {"fmt claims 2 GiB", 0x80000000u, 80, -5, "读入语音err5"},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string bytes = "RIFF" + wav::U32(0xFFFFFFFFu) + "WAVE" + "fmt " + wav::U32(row.fmtSize) +
                            wav::Fmt(1, 1, 8000, 16) + "data" + wav::U32(row.dataSize) + pcm;
        allocfault::ResetLargest();
        std::string line;
        EXPECT_EQ(Read(bytes, &line), row.code);
        EXPECT_EQ(line, std::string(row.text));
        ExpectEmptySound();
        EXPECT_LE(allocfault::Largest(), 8192u + bytes.size());
    }
    // The same file with honest sizes plays.
    std::string honest = "RIFF" + wav::U32(0xFFFFFFFFu) + "WAVE" + "fmt " + wav::U32(16) + wav::Fmt(1, 1, 8000, 16) +
                         "data" + wav::U32(80) + pcm;
    EXPECT_EQ(Read(honest), 0);
}

TEST_F(WavReaderTest, InjectedMmioFailuresCloseTheFile) {
    std::string good = wav::Pcm8k(wav::Ramp(64));
    sim::FailMmio("mmioRead");
    EXPECT_EQ(Read(good), -5);
    sim::FailMmio("mmioDescend");
    EXPECT_EQ(Read(good), -2);
    sim::FailMmio("mmioOpen");
    MarkLog();
    EXPECT_EQ(ReadWav(module->core, "t.wav", sound), -1);
    EXPECT_EQ(NewLog(), Texts{"!hmmio"});
}

}  // namespace
