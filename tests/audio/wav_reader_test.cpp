// The WAV reader: every result code with its one log line, chunk searches,
// and the file closed after every outcome.
#include <cstring>

#include "audio/wav_reader.h"
#include "tests/audio/alloc_fault.h"
#include "tests/audio/audio_fixture.h"

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
        LONG r = ReadWav(*module, "t.wav");
        EXPECT_EQ(sim::OpenMmioHandles(), 0) << "file left open";
        auto log = NewLog();
        EXPECT_EQ(log.size(), 1u);
        if (logLine && !log.empty()) *logLine = log.back();
        return r;
    }
    void ExpectEmptySound() {
        EXPECT_EQ(module->sound.format, nullptr);
        EXPECT_EQ(module->sound.data, nullptr);
    }
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
    EXPECT_EQ(ReadWav(*module, "nowhere/none.wav"), -1);
    EXPECT_EQ(NewLog(), Texts{"!hmmio"});
    ExpectEmptySound();
}

TEST_F(WavReaderTest, OutOfMemoryForFormatOrData) {
    if (!allocfault::Available()) GTEST_SKIP() << "the sanitizer owns the heap";
    // A 34-byte format record and 12,345 bytes of data: sizes nothing else asks for.
    std::string fmt34 = wav::Fmt(1, 1, 8000, 16) + wav::U16(16) + std::string(16, 'e');
    std::string bytes = wav::Riff("WAVE", wav::Chunk("fmt ", fmt34) + wav::Chunk("data", std::string(12345, 'd')));
    std::string line;
    allocfault::FailCallocOfSize(34);
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
    const WaveSound& s = module->sound;
    ASSERT_EQ(s.formatSize, 50u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.format), 50), fmt50);
    ASSERT_EQ(s.dataSize, samples.size());
    EXPECT_EQ(std::string(s.data, s.dataSize), samples);
    EXPECT_TRUE(s.owned);
}

TEST_F(WavReaderTest, OnlyTheFirstWaveFormIsRead) {
    std::string first = wav::Riff("WAVE", kFmt + wav::Chunk("data", wav::Pcm16({1, 2, 3})));
    std::string second = wav::Riff("WAVE", kFmt + wav::Chunk("data", wav::Pcm16({7, 8, 9, 10})));
    ASSERT_EQ(Read(first + second), 0);
    EXPECT_EQ(module->sound.dataSize, 6u);
}

TEST_F(WavReaderTest, FailedReadLeavesNoBlockOfAnEarlierSound) {
    ASSERT_EQ(Read(wav::Pcm8k(wav::Ramp(64))), 0);
    // The sound is handed on (as playback does), then a read fails.
    WAVEFORMATEX* oldFormat = module->sound.format;
    char* oldData = module->sound.data;
    module->sound.owned = false;
    EXPECT_EQ(Read(wav::Riff("WAVE", kFmt + wav::Chunk("data", ""))), -7);
    ExpectEmptySound();
    free(oldFormat);
    free(oldData);
}

TEST_F(WavReaderTest, InjectedMmioFailuresCloseTheFile) {
    std::string good = wav::Pcm8k(wav::Ramp(64));
    sim::FailMmio("mmioRead");
    EXPECT_EQ(Read(good), -5);
    sim::FailMmio("mmioDescend");
    EXPECT_EQ(Read(good), -2);
    sim::FailMmio("mmioOpen");
    MarkLog();
    EXPECT_EQ(ReadWav(*module, "t.wav"), -1);
    EXPECT_EQ(NewLog(), Texts{"!hmmio"});
}

}  // namespace
