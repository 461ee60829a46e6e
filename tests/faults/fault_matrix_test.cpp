// Failures of docs/fault_matrix.md that no subsystem test injects: each is
// brought about through the platform layer or the virtual modem only, and
// its log text, result and events are checked.
#include <algorithm>
#include <functional>

#include "platform/sim/kernel_faults.h"
#include "tests/prompts/prompts_fixture.h"

namespace {

class FaultTest : public PromptsTest {};

TEST_F(FaultTest, ADeviceThatCannotBeClosedLogsFreeErrAndStillEndsOnce) {
    wav::Save("one.wav", wav::Pcm8k(wav::Ramp(800)));
    sim::FailWave("waveOutClose", WAVERR_STILLPLAYING, -1);
    MarkLog();
    ASSERT_EQ(ctrl->PlayWav("one.wav", 1), 0);
    ASSERT_TRUE(RunToEnd());
    sim::RunFor(sim::kSecond);
    auto log = NewLog();
    EXPECT_TRUE(Logged(log, "free err"));
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    sim::ClearWaveFaults();
}

TEST_F(FaultTest, ARecordingThatCannotBeSavedUnderEitherNameSaysSoOnce) {
    ConnectCall();
    sim::SetInputSamples(sim::kLineDevice, wav::Ramp(16000, 3), 8000, false);
    // Both the named file and the time-made name fail to open: at the start
    // (the file it is written to as it goes) and at the end again.
    sim::FailKernel("CreateFileA", 4);
    ASSERT_EQ(ctrl->RecordWav(0, "msg.wav", 1), 0);
    MarkLog();
    ASSERT_TRUE(sim::RunUntil([&] { return sink.count(EVENT_EndRecord) > 0; }, 3 * sim::kSecond));
    auto log = NewLog();
    EXPECT_TRUE(Logged(log, "录音文件无法保存"));
    EXPECT_FALSE(Logged(log, "录音另存为:"));
    EXPECT_FALSE(testenv::FileExists("msg.wav"));
    ASSERT_FALSE(sim::MessageBoxes().empty());
    EXPECT_EQ(sim::MessageBoxes().back().text, "Error Create file.");
    EXPECT_EQ(sink.count(EVENT_EndRecord), 1);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0) << "the buffer is released all the same";
}

TEST_F(FaultTest, TheSoundCardThatDoesNotReopenAfterAPhraseEndsTheList) {
    MakePack({{"你", "ni3"}, {"好", "hao3"}});
    ASSERT_EQ(ctrl->PlayStr("你hi好", 1), 0);
    ASSERT_TRUE(sim::RunUntil([&] { return module->playList.ThisF >= 2; }, 5 * sim::kSecond));
    sim::FailWave("waveOutOpen", MMSYSERR_NODRIVER, 1, sim::kSoundCardDevice);
    MarkLog();
    ASSERT_TRUE(RunToEnd());
    auto log = NewLog();
    EXPECT_TRUE(Logged(log, "取语音输出设备失败11!"));
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    // The first sound and the phrase played, the last sound never did (the
    // card's tap runs at another rate, so its buffers are counted).
    EXPECT_EQ(sim::CompletedBuffers(true, sim::kSoundCardDevice), 2);
    EXPECT_FALSE(module->playList.Busy());
}

TEST_F(FaultTest, AnIndexThatCannotBeOpenedIsPermissionDeniedAndNothingPlays) {
    MakePack({{"你", "ni3"}});
    sim::FailKernel("CreateFileA", 1);
    try {
        ctrl->PlayStr("你", 1);
        FAIL() << "no error";
    } catch (const AutomationError& e) {
        EXPECT_EQ(static_cast<uint32_t>(e.code()), 0x800A0046u);
        EXPECT_EQ(std::string(e.what()), "hanzi.dat: the character sound index cannot be read");
    }
    EXPECT_FALSE(module->playList.Busy());
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 0);
    // The next call reads the index again and plays.
    ASSERT_EQ(ctrl->PlayStr("你", 1), 0);
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(sim::CompletedBuffers(true, sim::kSoundCardDevice), 1);
}

TEST_F(FaultTest, ATextFileThatCannotBeOpenedIsPermissionDenied) {
    MakePack({{"你", "ni3"}});
    wav::Save("t.txt", "你");
    sim::FailKernel("CreateFileA", 1);
    try {
        ctrl->PlayTxtFile("t.txt", 1);
        FAIL() << "no error";
    } catch (const AutomationError& e) {
        EXPECT_EQ(static_cast<uint32_t>(e.code()), 0x800A0046u);
        EXPECT_EQ(std::string(e.what()), "t.txt: the file cannot be opened");
    }
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 0);
}

// A close refused once (the device still held its buffer) is retried after
// the device gives the buffer back: nothing stays open and the next
// playback or recording on the same device works.
TEST_F(FaultTest, AnOutputDeviceThatRefusesOneCloseIsClosedAndPlaysAgain) {
    wav::Save("one.wav", wav::Pcm8k(wav::Ramp(800)));
    sim::FailWave("waveOutClose", WAVERR_STILLPLAYING, 1);
    MarkLog();
    ASSERT_EQ(ctrl->PlayWav("one.wav", 1), 0);
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(Logged(NewLog(), "free err"));
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
    ASSERT_EQ(ctrl->PlayWav("one.wav", 1), 0);
    ASSERT_TRUE(RunToEnd(2));
}

TEST_F(FaultTest, AnInputDeviceThatRefusesOneCloseIsClosedAndRecordsAgain) {
    sim::SetInputSamples(sim::kSoundCardDevice, wav::Ramp(32000, 3), 8000, false);
    ASSERT_EQ(ctrl->RecordWav(1, "a.wav", 1), 0);
    sim::FailWave("waveInClose", WAVERR_STILLPLAYING, 1);
    ASSERT_TRUE(sim::RunUntil([&] { return sink.count(EVENT_EndRecord) == 1; }, 3 * sim::kSecond));
    EXPECT_EQ(sim::OpenWaveHandles(false), 0);
    EXPECT_EQ(testenv::ReadFile("a.wav").size(), 8000u + 46u);
    ASSERT_EQ(ctrl->RecordWav(1, "b.wav", 1), 0);
    ASSERT_TRUE(sim::RunUntil([&] { return sink.count(EVENT_EndRecord) == 2; }, 3 * sim::kSecond));
    EXPECT_EQ(testenv::ReadFile("b.wav").size(), 8000u + 46u);
}

// A failed write leaves the line's output open; the next open of the same
// device closes it instead of finding the device busy.
TEST_F(FaultTest, ALineOutputLeftOpenByAFailedWriteIsClosedWhenTheLinePlaysAgain) {
    wav::Save("one.wav", wav::Pcm8k(wav::Ramp(800)));
    ConnectCall();
    for (const char* fn : {"waveOutPrepareHeader", "waveOutWrite"}) {
        SCOPED_TRACE(fn);
        const int ended = sink.count(EVENT_EndPlayAll);
        sim::FailWave(fn, MMSYSERR_NOMEM, 1);
        EXPECT_EQ(ctrl->PlayWav("one.wav", 0), -1);
        ASSERT_EQ(ctrl->PlayWav("one.wav", 0), 0);
        ASSERT_TRUE(RunToEnd(ended + 1));
        EXPECT_EQ(sim::OpenWaveHandles(true), 0);
    }
}

// A read error part way is a file error like a failed open: no shortened
// text is spoken.
TEST_F(FaultTest, AReadErrorInATextFileIsAFileErrorAndNothingPlays) {
    MakePack({{"你", "ni3"}});
    wav::Save("t.txt", std::string(70000, '\n') + testenv::Gbk("你"));
    for (int after : {0, 1}) {
        SCOPED_TRACE(after);
        sim::FailKernel("ReadFile", 1, after);
        try {
            ctrl->PlayTxtFile("t.txt", 1);
            ADD_FAILURE() << "no error";
        } catch (const AutomationError& e) {
            EXPECT_EQ(static_cast<uint32_t>(e.code()), 0x800A0046u);
            EXPECT_EQ(std::string(e.what()), "t.txt: the file cannot be read");
        }
        EXPECT_EQ(sim::OpenFileHandles(), 0);
        sim::RunFor(sim::kSecond);
        EXPECT_EQ(sink.count(EVENT_EndPlayAll), 0);
    }
}

// During a call the recording is the call's: a failed lookup of its input
// device (refused, or no memory for the record) refuses the recording
// instead of recording the default device.
TEST_F(FaultTest, ARecordingDuringACallWhoseDeviceCannotBeFoundIsRefused) {
    ConnectCall();
    const std::vector<std::pair<const char*, std::function<void()>>> faults = {
        {"no memory", [] { sim::FailKernel("calloc", 1); }},
        {"refused", [] { vmodem_Refuse("lineGetIDA", static_cast<int32_t>(LINEERR_OPERATIONFAILED)); }},
    };
    for (auto& [what, inject] : faults) {
        SCOPED_TRACE(what);
        MarkLog();
        inject();
        EXPECT_EQ(ctrl->RecordWav(0, "msg.wav", 1), -1);
        vmodem_Refuse("lineGetIDA", 0);
        EXPECT_TRUE(Logged(NewLog(), "取输入设备失败"));
        sim::RunFor(2 * sim::kSecond);
        EXPECT_EQ(sink.count(EVENT_RecordDevOpen), 0);
        EXPECT_EQ(sim::OpenWaveHandles(false), 0);
        EXPECT_FALSE(testenv::FileExists("msg.wav"));
    }
    ASSERT_EQ(ctrl->RecordWav(0, "msg.wav", 1), 0);
    ASSERT_TRUE(sim::RunUntil([&] { return sink.count(EVENT_EndRecord) == 1; }, 3 * sim::kSecond));
}

// No memory for the translation that makes a number canonical fails the
// call like no memory for its own translation: nothing is dialled.
TEST_F(FaultTest, NoMemoryForTheCanonicalNumbersTranslationFailsCallOut) {
    ctrl->InitLine(0);
    ASSERT_EQ(ctrl->OpenLine(0), 0);
    for (int after : {0, 1}) {
        SCOPED_TRACE(after);
        MarkLog();
        sim::FailKernel("calloc", 1, after);
        EXPECT_EQ(ctrl->CallOut(0, "8008"), -1);
        auto log = NewLog();
        EXPECT_TRUE(Logged(log, "呼叫内存开辟失败"));
        EXPECT_FALSE(Logged(log, "出中继 ok"));
    }
    EXPECT_EQ(vmodem_CallCount("lineMakeCallA"), 0);
}

}  // namespace
