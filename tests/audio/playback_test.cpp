// Wave playback: PlayWav and StopPlayWav on both devices, the open and
// write tables, the fallback sound and the end notice.
#include "audio/playback.h"
#include "audio/wav_reader.h"
#include "tests/support/playback_probe.h"
#include "tests/support/audio_fixture.h"

namespace {

class PlaybackTest : public AudioTest {
protected:
    void SetUp() override {
        AudioTest::SetUp();
        MakeControl();
        voice = wav::Ramp(4000, 5);  // half a second at 8 kHz
        wav::Save("hello.wav", wav::Pcm8k(voice));
    }
    int EndPlayAlls() const { return sink.count(EVENT_EndPlayAll); }
    bool Contains(const Texts& log, const std::string& text) const {
        return std::find(log.begin(), log.end(), text) != log.end();
    }
    std::vector<int16_t> voice;
};

TEST_F(PlaybackTest, DefaultDevicePlaysWholeSoundThenOneEndPlayAll) {
    MarkLog();
    ASSERT_EQ(ctrl->PlayWav("hello.wav", 1), 0);
    EXPECT_EQ(ctrl->m_outID, -1);
    EXPECT_EQ(NewLog(), (Texts{("取输出设备成功"), ("读入语音数据成功"), ("打开放音声卡ok"), ("开空间完毕"),
                               ("播放......")}));
    sim::RunFor(400 * sim::kMilli);
    EXPECT_EQ(EndPlayAlls(), 0);
    MarkLog();
    sim::RunFor(200 * sim::kMilli);
    EXPECT_EQ(EndPlayAlls(), 1);
    EXPECT_EQ(sink.count(EVENT_EndPlay), 0);
    EXPECT_EQ(NewLog(), (Texts{("单个播放完毕"), ("取得放音消息......所有缓冲放音完毕")}));
    EXPECT_FALSE(sim::DeviceBusy(true, sim::kSoundCardDevice));
    EXPECT_FALSE(PlaybackProbe::HasBuffer(module->playback));
    // Half a second at the sound card's 22,050 Hz, not silent.
    const auto& tap = sim::TapSamples(sim::kSoundCardDevice);
    ASSERT_GE(tap.size(), 11000u);
    EXPECT_NE(*std::max_element(tap.begin(), tap.end()), 0);
    sim::RunFor(5 * sim::kSecond);
    EXPECT_EQ(EndPlayAlls(), 1);
}

TEST_F(PlaybackTest, CallDeviceWithoutCallFails) {
    MarkLog();
    EXPECT_EQ(ctrl->PlayWav("hello.wav", 0), -1);
    EXPECT_EQ(NewLog(), Texts{("取输出设备失败")});
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
}

TEST_F(PlaybackTest, CallDevicePlaysToTheCallerAndTapHoldsIt) {
    ConnectCall();
    sim::RunFor(sim::kSecond);
    const sim::Micros start = sim::Now();
    MarkLog();
    ASSERT_EQ(ctrl->PlayWav("hello.wav", 0), 0);
    EXPECT_EQ(ctrl->m_outID, 1);
    EXPECT_EQ(NewLog(), (Texts{("取输出设备成功"), ("读入语音数据成功"), "wave open ok", ("打开放音线路成功"),
                               ("开空间完毕"), ("播放......")}));
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(EndPlayAlls(), 1);
    const auto& tap = sim::TapSamples(sim::kLineDevice);
    size_t at = static_cast<size_t>(start * 8000 / sim::kSecond);
    ASSERT_GE(tap.size(), at + voice.size());
    EXPECT_TRUE(std::equal(voice.begin(), voice.end(), tap.begin() + static_cast<long>(at)));
    EXPECT_FALSE(sim::DeviceBusy(true, sim::kLineDevice));
}

TEST_F(PlaybackTest, MissingFilePlaysFallbackSound) {
    wav::Save("wu2.wav", wav::Pcm8k(std::vector<int16_t>(800, 1234)));
    MarkLog();
    EXPECT_EQ(ctrl->PlayWav("missing.wav", 1), 0);
    auto log = NewLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], "!hmmio");
    EXPECT_EQ(log[2], ("读入语音数据成功"));
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(EndPlayAlls(), 1);
}

TEST_F(PlaybackTest, NoSoundAtAllOpensNothing) {
    EXPECT_EQ(ctrl->PlayWav("missing.wav", 1), -2);
    ConnectCall();
    MarkLog();
    EXPECT_EQ(ctrl->PlayWav("missing.wav", 0), -1);
    auto log = NewLog();
    EXPECT_TRUE(Contains(log, "wave open err5"));
    EXPECT_TRUE(Contains(log, "playwav 的 wavoutopen错误"));
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(EndPlayAlls(), 0);
}

TEST_F(PlaybackTest, RefusedFormatOnBothDevices) {
    // IMA ADPCM: neither device nor the mapper takes it.
    std::string adpcm = wav::U16(0x11) + wav::U16(1) + wav::U32(8000) + wav::U32(4055) + wav::U16(256) +
                        wav::U16(4) + wav::U16(2) + wav::U16(505);
    wav::Save("adpcm.wav", wav::Riff("WAVE", wav::Chunk("fmt ", adpcm) + wav::Chunk("data", std::string(512, 1))));
    ConnectCall();
    MarkLog();
    EXPECT_EQ(ctrl->PlayWav("adpcm.wav", 0), -1);
    auto log = NewLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "wave open err5");
    EXPECT_EQ(log.back(), ("playwav 的 wavoutopen错误"));
    MarkLog();
    EXPECT_EQ(ctrl->PlayWav("adpcm.wav", 1), -2);
    EXPECT_EQ(NewLog().back(), "wave open err5");
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
}

TEST_F(PlaybackTest, FormatShorterThanPcmHeaderIsRefused) {
    std::string fmt14 = wav::Fmt(1, 1, 8000, 16).substr(0, 14);
    wav::Save("short.wav", wav::Riff("WAVE", wav::Chunk("fmt ", fmt14) + wav::Chunk("data", std::string(100, 1))));
    MarkLog();
    EXPECT_EQ(ctrl->PlayWav("short.wav", 1), -2);
    EXPECT_EQ(NewLog().back(), "wave open err5");
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
}

TEST_F(PlaybackTest, OpenResultsMapToTheirCodesAndTexts) {
    struct Row {
        const char* fault;
        MMRESULT result;
        LONG code;
        const char* text;
    };
    std::vector<Row> rows = {
        {"waveOutQuery", MMSYSERR_ALLOCATED, -1, "wave open err1"},
        {"waveOutQuery", MMSYSERR_BADDEVICEID, -2, "wave open err2"},
        {"waveOutOpen", MMSYSERR_NODRIVER, -3, "wave open err3"},
        {"waveOutOpen", MMSYSERR_NOMEM, -4, "wave open err4"},
        {"waveOutQuery", WAVERR_BADFORMAT, -5, "wave open err5"},
        {"waveOutOpen", WAVERR_SYNC, -6, "wave open err6"},
        {"waveOutQuery", MMSYSERR_ERROR, -7, "打开放音线路失败1"},
        {"waveOutOpen", MMSYSERR_NOTSUPPORTED, -7, "打开放音线路失败"},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.text);
        ASSERT_EQ(ReadWav(module->core, "hello.wav", module->playback.sound), 0);
        sim::FailWave(row.fault, row.result);
        MarkLog();
        EXPECT_EQ(module->playback.OpenLineWaveOut(ctrl->GetSafeHwnd(), 1), row.code);
        EXPECT_EQ(NewLog().back(), std::string(row.text));
        EXPECT_EQ(sim::OpenWaveHandles(true), 0);
        module->playback.sound.reset();
    }
}

TEST_F(PlaybackTest, DefaultDeviceOpenTable) {
    // A named query failure ends the open with its own text...
    ASSERT_EQ(ReadWav(module->core, "hello.wav", module->playback.sound), 0);
    sim::FailWave("waveOutQuery", MMSYSERR_NOMEM);
    MarkLog();
    EXPECT_EQ(module->playback.OpenDefaultWaveOut(ctrl->GetSafeHwnd()), -4);
    EXPECT_EQ(NewLog(), Texts{"wave open err4"});
    // ...any other goes on to the open, which may fail on its own.
    sim::FailWave("waveOutQuery", MMSYSERR_ERROR);
    sim::FailWave("waveOutOpen", MMSYSERR_ERROR);
    MarkLog();
    EXPECT_EQ(module->playback.OpenDefaultWaveOut(ctrl->GetSafeHwnd()), -7);
    EXPECT_EQ(NewLog(), Texts{("打开声卡错误")});
    sim::FailWave("waveOutQuery", MMSYSERR_ERROR);
    EXPECT_EQ(module->playback.OpenDefaultWaveOut(ctrl->GetSafeHwnd()), 0);
    EXPECT_TRUE(PlaybackProbe::HasBuffer(module->playback));
    EXPECT_EQ(waveOutClose(module->playback.hWaveOut), MMSYSERR_NOERROR);
}

TEST_F(PlaybackTest, BusyDeviceStopsEarlierPlaybackOnce) {
    ASSERT_EQ(ctrl->PlayWav("hello.wav", 1), 0);
    sim::RunFor(100 * sim::kMilli);
    MarkLog();
    // The query does not see the device busy; the open does.
    EXPECT_EQ(ctrl->PlayWav("hello.wav", 1), -2);
    EXPECT_EQ(NewLog().back(), "打开声卡错误");
    sim::RunFor(2 * sim::kSecond);
    EXPECT_EQ(EndPlayAlls(), 1);
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
}

TEST_F(PlaybackTest, FailedWriteOrPrepareReportsDeviceFailure) {
    sim::FailWave("waveOutWrite", MMSYSERR_NOMEM);
    MarkLog();
    EXPECT_EQ(ctrl->PlayWav("hello.wav", 1), -2);
    EXPECT_EQ(NewLog().back(), ("向线路播放数据错误"));
    EXPECT_FALSE(PlaybackProbe::HasBuffer(module->playback));
    sim::RunFor(2 * sim::kSecond);
    EXPECT_EQ(EndPlayAlls(), 0);
    // The device stays open until StopPlayWav closes it.
    EXPECT_EQ(ctrl->StopPlayWav(), 0);
    ConnectCall();
    sim::FailWave("waveOutPrepareHeader", MMSYSERR_NOMEM);
    MarkLog();
    EXPECT_EQ(ctrl->PlayWav("hello.wav", 0), -1);
    EXPECT_EQ(NewLog().back(), ("准备播放头部错误1"));
    EXPECT_EQ(ctrl->StopPlayWav(), 0);
}

TEST_F(PlaybackTest, WriteWithoutOpenDeviceIsRefused) {
    MarkLog();
    EXPECT_EQ(module->playback.WriteCurrentSound(), nullptr);
    EXPECT_EQ(NewLog(), Texts{("设备未响应")});
}

TEST_F(PlaybackTest, StopPlayWavEndsPlaybackWithOneEndPlayAll) {
    MarkLog();
    EXPECT_EQ(ctrl->StopPlayWav(), static_cast<LONG>(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(NewLog(), Texts{("停止放音")});
    ASSERT_EQ(ctrl->PlayWav("hello.wav", 1), 0);
    sim::RunFor(100 * sim::kMilli);
    EXPECT_EQ(ctrl->StopPlayWav(), 0);
    EXPECT_EQ(EndPlayAlls(), 0) << "the end comes as a message";
    sim::RunFor(2 * sim::kSecond);
    EXPECT_EQ(EndPlayAlls(), 1);
    EXPECT_FALSE(PlaybackProbe::HasBuffer(module->playback));
    // About 100 ms reached the sound card.
    EXPECT_NEAR(static_cast<double>(sim::TapSamples(sim::kSoundCardDevice).size()), 2205.0, 30.0);
}

TEST_F(PlaybackTest, DestroyingTheControlWhilePlayingStopsTheDevice) {
    ASSERT_EQ(ctrl->PlayWav("hello.wav", 1), 0);
    sim::RunFor(100 * sim::kMilli);
    ctrl.reset();
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
    sim::RunFor(sim::kSecond);  // the posted end finds no window
}

// An open output device is never forgotten: a device left open by a failed
// write is closed when the other device opens, and the call's device keeps
// working afterwards.
TEST_F(PlaybackTest, DeviceLeftOpenByFailedWriteIsClosedWhenTheOtherOpens) {
    ConnectCall();
    sim::FailWave("waveOutWrite", MMSYSERR_NOMEM);
    EXPECT_EQ(ctrl->PlayWav("hello.wav", 0), -1);
    EXPECT_TRUE(sim::DeviceBusy(true, sim::kLineDevice));
    ASSERT_EQ(ctrl->PlayWav("hello.wav", 1), 0);
    EXPECT_FALSE(sim::DeviceBusy(true, sim::kLineDevice));
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(EndPlayAlls(), 1);
    for (int i = 0; i < 3; ++i) {
        MarkLog();
        ASSERT_EQ(ctrl->PlayWav("hello.wav", 0), 0);
        EXPECT_FALSE(Contains(NewLog(), "wave open err1"));
        sim::RunFor(sim::kSecond);
        EXPECT_EQ(EndPlayAlls(), 2 + i);
    }
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
    EXPECT_EQ(PlaybackProbe::Outputs(module->playback), 0u);
}

// Opening the other device stops the one playing as StopPlayWav does (its
// own EndPlayAll); the new playback then plays whole and ends on its own.
TEST_F(PlaybackTest, OpeningTheOtherDeviceStopsThePlayingOneOnly) {
    ConnectCall();
    std::vector<sim::Micros> ends;
    ASSERT_EQ(ctrl->PlayWav("hello.wav", 1), 0);
    sim::RunFor(100 * sim::kMilli);
    const sim::Micros switched = sim::Now();
    MarkLog();
    ASSERT_EQ(ctrl->PlayWav("hello.wav", 0), 0);
    EXPECT_TRUE(Contains(NewLog(), "停止放音"));
    EXPECT_FALSE(sim::DeviceBusy(true, sim::kSoundCardDevice));
    sim::RunUntil([&] { return EndPlayAlls() == 1; }, sim::kSecond);
    EXPECT_EQ(EndPlayAlls(), 1);
    EXPECT_LT(sim::Now() - switched, 10 * sim::kMilli) << "the stopped playback ends at once";
    sim::RunUntil([&] { return EndPlayAlls() == 2; }, 2 * sim::kSecond);
    EXPECT_EQ(EndPlayAlls(), 2);
    EXPECT_GE(sim::Now() - switched, 490 * sim::kMilli) << "the call's playback plays whole";
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(EndPlayAlls(), 2);
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
}

// A file whose only chunk claims 4 GiB plays the fallback sound instead of
// taking the host down.
TEST_F(PlaybackTest, HostileSizeFallsBackToTheFallbackSound) {
    wav::Save("huge.wav", "RIFF" + wav::U32(136) + "WAVE" + "fmt " + wav::U32(16) + wav::Fmt(1, 1, 8000, 16) + "data" +
                              wav::U32(0xFFFFFFFFu) + std::string(100, 'x'));
    wav::Save("wu2.wav", wav::Pcm8k(wav::Ramp(800, 9)));
    MarkLog();
    ASSERT_EQ(ctrl->PlayWav("huge.wav", 1), 0);
    auto log = NewLog();
    EXPECT_TRUE(Contains(log, "读入语音err1"));
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(EndPlayAlls(), 1);
}

}  // namespace
