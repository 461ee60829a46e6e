// Voice recording: a full and a stopped recording from the caller's voice,
// file names, the file's header, and every way a recording fails to start.
#include <cstdio>

#include "audio/recording.h"
#include "tests/support/audio_fixture.h"

namespace {

uint32_t U32At(const std::string& s, size_t at) {
    const auto* b = reinterpret_cast<const uint8_t*>(s.data() + at);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
    return out;
}

class RecordingTest : public AudioTest {
protected:
    void SetUp() override {
        AudioTest::SetUp();
        MakeControl();
        voice = wav::Ramp(8000 * 40, 9);
    }
    // The caller starts speaking now.
    void CallerSpeaks() { sim::SetInputSamples(sim::kLineDevice, voice, 8000, false); }
    // Checks the 46-byte header against n recorded bytes.
    void ExpectHeader(const std::string& file, uint32_t n) {
        ASSERT_EQ(file.size(), n + 46u);
        EXPECT_EQ(file.substr(0, 4), "RIFF");
        EXPECT_EQ(U32At(file, 4), n + 38);
        EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(U32At(file, 16), 18u);
        const std::string format("\x07\x00\x01\x00\x40\x1f\x00\x00\x40\x1f\x00\x00\x01\x00\x08\x00\x00\x00", 18);
        EXPECT_EQ(file.substr(20, 18), format);
        EXPECT_EQ(file.substr(38, 4), "data");
        EXPECT_EQ(U32At(file, 42), n);
    }
    void ExpectVoice(const std::string& file, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i)
            ASSERT_EQ(static_cast<uint8_t>(file[46 + i]), sim::MuLawEncode(voice[i])) << "sample " << i;
    }
    std::vector<int16_t> voice;
};

TEST_F(RecordingTest, ThirtySecondsFromTheCallerDropsTheCallAndEndsOnce) {
    ConnectCall();
    const HCALL call = module->line.hCall;
    ASSERT_NE(call, 0u);
    CallerSpeaks();
    MarkLog();
    ASSERT_EQ(ctrl->RecordWav(0, "msg.wav", 30), 0);
    EXPECT_EQ(sink.count(EVENT_RecordDevOpen), 0) << "the open is reported from the message loop";
    sim::RunPending();
    ASSERT_EQ(sink.count(EVENT_RecordDevOpen), 1);
    EXPECT_EQ(sink.events.back().args.at(0).lVal, 1);
    sim::RunFor(29 * sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndRecord), 0);
    // Written as it is recorded: already a valid file of every whole second.
    {
        const std::string early = testenv::ReadFile("msg.wav");
        ASSERT_GE(early.size(), 46u);
        const uint32_t n = U32At(early, 42);
        EXPECT_EQ(n, 29 * 8000u);
        ExpectHeader(early, n);
        ExpectVoice(early, n);
    }
    sim::RunFor(2 * sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndRecord), 1);
    EXPECT_EQ(vmodem_CallState(call), static_cast<uint32_t>(LINECALLSTATE_IDLE));
    std::string file = testenv::ReadFile("msg.wav");
    ExpectHeader(file, 240000);
    ExpectVoice(file, 240000);
    // The line's own entries about the dropped call follow.
    auto log = NewLog();
    log.resize(std::min<size_t>(log.size(), 8));
    EXPECT_EQ(log, (Texts{"recordwav begin", "msg.wav", "开始为录音作准备......", "音频信号 检测准备成功",
                               "录音准备完毕 开始在缓冲区接收数据.....", "已打开输入设备", "消息:录音缓冲区已满",
                               "消息:报告录制完毕"}));
    EXPECT_FALSE(sim::DeviceBusy(false, sim::kLineDevice));
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
    EXPECT_EQ(sim::OpenFileHandles(), 0);
    // sox reads it as 8 kHz mu-law.
    std::string info = Shell("sox --i msg.wav 2>&1");
    if (info.find("Sample Rate") == std::string::npos) GTEST_SKIP() << "sox not available: " << info;
    EXPECT_NE(info.find("Sample Rate    : 8000"), std::string::npos) << info;
    EXPECT_NE(info.find("u-law"), std::string::npos) << info;
    EXPECT_NE(info.find("240000 samples"), std::string::npos) << info;
}

TEST_F(RecordingTest, StopRecordAfterFiveSecondsKeepsWhatWasRecorded) {
    ConnectCall();
    const HCALL call = module->line.hCall;
    CallerSpeaks();
    ASSERT_EQ(ctrl->RecordWav(0, "msg.wav", 30), 0);
    sim::RunFor(5 * sim::kSecond);
    MarkLog();
    EXPECT_EQ(ctrl->StopRecord(), 0);
    EXPECT_EQ(NewLog(), Texts{"停止录音"});
    EXPECT_EQ(sink.count(EVENT_EndRecord), 0);
    sim::RunPending();
    EXPECT_EQ(sink.count(EVENT_EndRecord), 1);
    EXPECT_EQ(vmodem_CallState(call), static_cast<uint32_t>(LINECALLSTATE_IDLE));
    std::string file = testenv::ReadFile("msg.wav");
    ASSERT_GE(file.size(), 46u);
    uint32_t n = U32At(file, 42);
    EXPECT_NEAR(static_cast<double>(n), 40000.0, 8.0);
    ExpectHeader(file, n);
    ExpectVoice(file, n);
    sim::RunFor(40 * sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndRecord), 1);
}

TEST_F(RecordingTest, EmptyNameIsMadeFromTheTimeOfTheEnd) {
    ASSERT_EQ(ctrl->RecordWav(1, "", 3), 0);
    sim::RunFor(4 * sim::kSecond);
    // Clock epoch 2004-03-05 09:00:00, three seconds recorded.
    EXPECT_TRUE(testenv::FileExists("2004_March_05_09_00_03.wav"));
    EXPECT_EQ(testenv::ReadFile("2004_March_05_09_00_03.wav").size(), 24046u);
    EXPECT_EQ(RecordingNameNow(), "2004_March_05_09_00_04.wav");
}

TEST_F(RecordingTest, WithoutCallRecordsFromDefaultDeviceAndLogsFailedDrop) {
    std::vector<int16_t> mic(8000, -2000);
    sim::SetInputSamples(sim::kSoundCardDevice, mic, 8000, true);
    MarkLog();
    ASSERT_EQ(ctrl->RecordWav(0, "mic.wav", 1), 0);
    sim::RunFor(2 * sim::kSecond);
    ASSERT_EQ(sink.count(EVENT_RecordDevOpen), 1);
    EXPECT_EQ(sink.events.front().args.at(0).lVal, -1);
    EXPECT_EQ(sink.count(EVENT_EndRecord), 1);
    auto log = NewLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "消息:lineDrop err"), log.end());
    std::string file = testenv::ReadFile("mic.wav");
    ASSERT_EQ(file.size(), 8046u);
    EXPECT_EQ(static_cast<uint8_t>(file[100]), sim::MuLawEncode(-2000));
}

TEST_F(RecordingTest, ASecondRecordingWhileOneRunsIsRefusedAndTheFirstIsKept) {
    ConnectCall();
    CallerSpeaks();
    ASSERT_EQ(ctrl->RecordWav(0, "first.wav", 2), 0);
    sim::RunFor(sim::kSecond);
    MarkLog();
    // The other device is free, but the running recording owns the buffer.
    EXPECT_EQ(ctrl->RecordWav(1, "second.wav", 5), -1);
    EXPECT_EQ(NewLog(), (Texts{"recordwav begin", "录音设备忙"}));
    sim::RunFor(6 * sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_RecordDevOpen), 1);
    EXPECT_EQ(sink.count(EVENT_EndRecord), 1);
    std::string file = testenv::ReadFile("first.wav");
    ExpectHeader(file, 16000);
    ExpectVoice(file, 16000);
    EXPECT_FALSE(testenv::FileExists("second.wav"));
    // Once it has ended, the next recording starts.
    EXPECT_EQ(ctrl->RecordWav(1, "second.wav", 1), 0);
    sim::RunFor(2 * sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndRecord), 2);
    EXPECT_EQ(testenv::ReadFile("second.wav").size(), 8046u);
}

TEST_F(RecordingTest, UncreatableFileShowsBoxAndKeepsTheRecording) {
    ASSERT_EQ(ctrl->RecordWav(1, "no/such/dir/msg.wav", 2), 0);
    sim::RunFor(3 * sim::kSecond);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    // The box says where the recording went.
    EXPECT_EQ(sim::MessageBoxes()[0].text, "Error Create file.\r\n录音另存为:"
                                               "2004_March_05_09_00_02.wav");
    EXPECT_EQ(sim::MessageBoxes()[0].caption, "");
    EXPECT_EQ(sim::MessageBoxes()[0].owner, nullptr);
    EXPECT_EQ(sink.count(EVENT_EndRecord), 1);
    EXPECT_EQ(testenv::ReadFile("2004_March_05_09_00_02.wav").size(), 16046u);
    auto log = LogTexts();
    EXPECT_NE(std::find(log.begin(), log.end(), "2004_March_05_09_00_02.wav"), log.end());
}

// A write that fails part-way never leaves a broken file as the only copy:
// the named file is removed and the whole recording is saved under the
// time-made name, which the log and the box name.
TEST_F(RecordingTest, FailedWriteSavesTheWholeRecordingUnderTheFallbackName) {
    for (int failing : {1, 2}) {
        SCOPED_TRACE(failing);
        const size_t boxes = sim::MessageBoxes().size();
        CallerSpeaks();
        ASSERT_EQ(ctrl->RecordWav(1, "w.wav", 1), 0);
        sim::SetInputSamples(sim::kSoundCardDevice, voice, 8000, false);
        sim::RunFor(500 * sim::kMilli);
        // The first write (header) or the second (the recorded bytes) fails.
        sim::FailKernel("WriteFile", 1, failing - 1);
        MarkLog();
        sim::RunFor(sim::kSecond);
        auto log = NewLog();
        EXPECT_NE(std::find(log.begin(), log.end(), "录音文件写入错误"), log.end());
        EXPECT_FALSE(testenv::FileExists("w.wav")) << "no broken file is left under the name";
        auto at = std::find(log.begin(), log.end(), "录音另存为:");
        ASSERT_NE(at, log.end());
        ASSERT_NE(at + 1, log.end());
        const std::string saved = *(at + 1);
        std::string file = testenv::ReadFile(saved);
        ExpectHeader(file, 8000);
        ASSERT_EQ(sim::MessageBoxes().size(), boxes + 1);
        EXPECT_NE(sim::MessageBoxes().back().text.find(saved), std::string::npos);
        EXPECT_EQ(sim::OpenFileHandles(), 0);
        std::remove(saved.c_str());
        sim::RunFor(sim::kSecond);
    }
    EXPECT_EQ(sink.count(EVENT_EndRecord), 2);
}

// A write in the third second fails (a disk filling up) and the time-made
// name cannot be created either: the file keeps the seconds written before
// as a valid WAV and nothing more is written to it, the debugger output
// names the file and the error, and the end still comes with one EndRecord.
TEST_F(RecordingTest, WritesFailingMidwayKeepWhatWasWrittenAsAValidFile) {
    ConnectCall();
    CallerSpeaks();
    ASSERT_EQ(ctrl->RecordWav(0, "full.wav", 10), 0);
    // The header at the start, then two writes each second (bytes, header).
    sim::FailKernel("WriteFile", 1, 5);
    sim::FailKernel("CreateFileA", -1);
    sim::RunFor(11 * sim::kSecond);
    sim::FailKernel("CreateFileA", 0);
    EXPECT_EQ(sink.count(EVENT_EndRecord), 1);
    const std::string file = testenv::ReadFile("full.wav");
    ASSERT_GE(file.size(), 46u);
    const uint32_t n = U32At(file, 42);
    EXPECT_GE(n, 2 * 8000u);
    EXPECT_LE(n, 3 * 8000u);
    ExpectHeader(file, n);
    ExpectVoice(file, n);
    bool named = false;
    for (auto& text : sim::DebugOutput()) named = named || text.find("recording full.wav: write failed") == 0;
    EXPECT_TRUE(named);
    auto log = LogTexts();
    EXPECT_NE(std::find(log.begin(), log.end(), "录音文件写入错误"), log.end());
    EXPECT_EQ(sim::OpenFileHandles(), 0);
}

// Destroying the control while it records saves what was recorded so far as
// one valid file and frees the recorder, so the next control records.
TEST_F(RecordingTest, DestroyedControlSavesItsRecordingAndFreesTheDevice) {
    ConnectCall();
    CallerSpeaks();
    ASSERT_EQ(ctrl->RecordWav(0, "cut.wav", 30), 0);
    sim::RunFor(5 * sim::kSecond);
    ctrl.reset();
    EXPECT_EQ(sim::OpenWaveHandles(false), 0);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
    std::string file = testenv::ReadFile("cut.wav");
    ASSERT_GE(file.size(), 46u);
    const uint32_t n = U32At(file, 42);
    EXPECT_NEAR(static_cast<double>(n), 40000.0, 400.0);
    ExpectHeader(file, n);
    ExpectVoice(file, n);
    sim::RunFor(sim::kSecond);  // a late notification finds nothing to do

    CMarluneCtrl& next = MakeControl();
    MarkLog();
    ASSERT_EQ(next.RecordWav(1, "next.wav", 1), 0);
    sim::RunFor(2 * sim::kSecond);
    EXPECT_EQ(testenv::ReadFile("next.wav").size(), 8046u);
    auto log = NewLog();
    EXPECT_EQ(std::find(log.begin(), log.end(), "录音设备忙"), log.end());
}

TEST_F(RecordingTest, TimeOutOfRangeTouchesNoDevice) {
    for (LONG t : {0, -5, 33555}) {
        MarkLog();
        EXPECT_EQ(ctrl->RecordWav(1, "x.wav", t), -1);
        // The line's own entries about the dropped call follow.
    auto log = NewLog();
    log.resize(std::min<size_t>(log.size(), 8));
    EXPECT_EQ(log, (Texts{"recordwav begin", "record time err"}));
    }
    EXPECT_EQ(sim::OpenWaveHandles(false), 0);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
}

TEST_F(RecordingTest, EveryStartFailureClosesDeviceAndFiresNothing) {
    struct Row {
        const char* name;
        std::function<void()> inject;
        LONG dev;
        const char* text;
    };
    ConnectCall();
    std::vector<Row> rows = {
        {"query default", [] { sim::FailWave("waveInQuery", WAVERR_BADFORMAT); }, 1, "录音格式错误1"},
        {"query line", [] { sim::FailWave("waveInQuery", WAVERR_BADFORMAT); }, 0, "录音格式错误2"},
        {"open default", [] { sim::FailWave("waveInOpen", MMSYSERR_ALLOCATED); }, 1, "录音设备打开错误1"},
        {"open line", [] { sim::FailWave("waveInOpen", MMSYSERR_NODRIVER); }, 0, "录音设备打开错误2"},
        {"memory", [] { sim::FailKernel("GlobalAlloc"); }, 0, "内存不足"},
        {"lock", [] { sim::FailKernel("GlobalLock"); }, 1, "内存不足"},
        {"prepare", [] { sim::FailWave("waveInPrepareHeader", MMSYSERR_NOMEM); }, 0, "信息头错误"},
        {"add buffer", [] { sim::FailWave("waveInAddBuffer", MMSYSERR_NOMEM); }, 1, "创建空间失败"},
        {"start", [] { sim::FailWave("waveInStart", MMSYSERR_ERROR); }, 0, "录音启动失败"},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.inject();
        MarkLog();
        EXPECT_EQ(ctrl->RecordWav(row.dev, "f.wav", 5), -1);
        EXPECT_EQ(NewLog().back(), row.text);
        sim::RunFor(6 * sim::kSecond);
        EXPECT_EQ(sim::OpenWaveHandles(false), 0);
        EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
        EXPECT_EQ(sink.count(EVENT_RecordDevOpen), 0);
        EXPECT_EQ(sink.count(EVENT_EndRecord), 0);
    }
    // Nothing was left behind to block the next recording.
    EXPECT_EQ(ctrl->RecordWav(0, "f.wav", 1), 0);
    sim::RunFor(2 * sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_RecordDevOpen), 1);
    EXPECT_EQ(sink.count(EVENT_EndRecord), 1);
    EXPECT_EQ(testenv::ReadFile("f.wav").size(), 8046u);
}

TEST_F(RecordingTest, StopRecordWithoutRecordingOnlyLogs) {
    MarkLog();
    EXPECT_EQ(ctrl->StopRecord(), static_cast<LONG>(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(NewLog(), Texts{"停止录音"});
    sim::RunFor(sim::kSecond);
    EXPECT_TRUE(sink.events.empty());
}

}  // namespace
