// The play-list sequencer, with lists composed by PlayStr from a small voice
// pack: sounds, English phrases, pending text, missing sounds, stops and
// device failures.
#include "audio/playback.h"
#include "audio/wav_reader.h"
#include "control/core/text_to_speech.h"
#include "prompts/play_list.h"
#include <sys/stat.h>

#include "tests/support/playback_probe.h"
#include "tests/support/audio_fixture.h"

namespace {

class PlayListTest : public AudioTest {
protected:
    // Characters 甲乙丙丁 sound wav\s0 to wav\s3; 戊 names a sound that
    // is missing, with no fallback sound either.
    void SetUp() override {
        AudioTest::SetUp();
        MakeControl();
        sim::SetTapPath(sim::kLineDevice, "line_tap.wav");
        mkdir("wav", 0777);
        std::string index;
        for (int i = 0; i < 4; ++i) {
            sounds.push_back(wav::Ramp(800 + 400 * i, i + 1));  // 0.1 s, 0.15 s, ...
            wav::Save("wav/s" + std::to_string(i) + ".wav", wav::Pcm8k(sounds.back()));
            index += kChars[i] + std::string(1, '\0') + "x" + "s" + std::to_string(i) + std::string(1, '\0');
        }
        index += kChars[4] + std::string(1, '\0') + "x" + "gone" + std::string(1, '\0');
        wav::Save("hanzi.dat", index);
    }
    PlaySequencer& list() { return module->playList; }
    // The text to compose grows item by item.
    void AddSound(int n) { text += kChars[n]; }
    void AddMissing() { text += kChars[4]; }
    void AddEnglish(const std::string& words) { text += " " + words + " "; }
    // PlayStr of the text on the line (device 1) or the sound card (-1).
    void Start(LONG device) { ASSERT_EQ(ctrl->PlayStr(text, device == -1 ? 1 : 0), 0); }

    static inline const std::string kChars[5] = {"甲", "乙", "丙", "丁", "戊"};
    std::string text;
    bool RunToEnd(sim::Micros limit = 30 * sim::kSecond) {
        return sim::RunUntil([&] { return sink.count(EVENT_EndPlayAll) > 0; }, limit);
    }
    void ExpectIdle() {
        EXPECT_TRUE(list().ItemKinds.empty());
        EXPECT_TRUE(list().ItemTexts.empty());
        EXPECT_EQ(list().ThisF, 1);
        EXPECT_EQ(list().PendingText, "");
        EXPECT_TRUE(list().ItemSounds.empty());
        EXPECT_FALSE(PlaybackProbe::HasBuffer(module->playback));
        EXPECT_EQ(PlaybackProbe::Outputs(module->playback), 0u);
        EXPECT_EQ(sim::OpenWaveHandles(true), 0);
    }
    // Where `samples` first occur in the tap, or npos.
    static size_t Find(const std::vector<int16_t>& tap, const std::vector<int16_t>& samples) {
        auto it = std::search(tap.begin(), tap.end(), samples.begin(), samples.end());
        return it == tap.end() ? std::string::npos : static_cast<size_t>(it - tap.begin());
    }
    std::vector<std::vector<int16_t>> sounds;
};

TEST_F(PlayListTest, SoundsOnlyPlayBackToBackThenEndOnce) {
    ConnectCall();
    for (int i = 0; i < 3; ++i) AddSound(i);
    Start(1);
    MarkLog();
    sim::RunUntil([&] { return list().ThisF == 2; }, sim::kSecond);
    EXPECT_EQ(NewLog(), (Texts{"单个播放完毕", "汉字继续...", "1", "播放......"}));
    ASSERT_TRUE(RunToEnd());
    auto log = NewLog();
    EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
              (Texts{"单个播放完毕", "取得放音消息......所有缓冲放音完毕"}));
    EXPECT_NE(std::find(log.begin(), log.end(), "2"), log.end());
    sim::RunFor(5 * sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    ExpectIdle();
    // The caller heard the three sounds without gaps.
    const auto& tap = sim::TapSamples(sim::kLineDevice);
    size_t a = Find(tap, sounds[0]), b = Find(tap, sounds[1]), c = Find(tap, sounds[2]);
    ASSERT_NE(a, std::string::npos);
    EXPECT_EQ(b, a + sounds[0].size());
    EXPECT_EQ(c, b + sounds[1].size());
}

TEST_F(PlayListTest, SoundEnglishSoundGoesThroughTheTimer) {
    ConnectCall();
    AddSound(0);
    AddEnglish("hello");
    AddSound(2);
    Start(1);
    MarkLog();
    ASSERT_TRUE(RunToEnd());
    auto log = NewLog();
    Texts start(log.begin(), log.begin() + 6);
    EXPECT_EQ(start, (Texts{"单个播放完毕", "英语继续...", "开始说下列英语:", "完成设备设置", "hello", "set timer ok!"}));
    auto done = std::find(log.begin(), log.end(), "放音完毕");
    ASSERT_NE(done, log.end());
    EXPECT_EQ(Texts(done, log.end()),
              (Texts{"放音完毕", "wave open ok", "打开放音线路成功", "开空间完毕", "单个播放完毕", "汉字继续...", "2",
                     "播放......", "单个播放完毕", "取得放音消息......所有缓冲放音完毕"}));
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    ExpectIdle();
    // The phrase was heard on the line between the two sounds.
    const auto& tap = sim::TapSamples(sim::kLineDevice);
    size_t first = Find(tap, sounds[0]), last = Find(tap, sounds[2]);
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(last, std::string::npos);
    size_t from = first + sounds[0].size();
    ASSERT_GT(last, from + 800) << "a phrase takes a while";
    int loud = 0;
    for (size_t i = from; i < last; ++i) loud += std::abs(tap[i]) > 500;
    EXPECT_GT(loud, 400) << "the English phrase reached the caller";
}

TEST_F(PlayListTest, ListEndingInEnglishEndsInTheTimer) {
    AddSound(1);
    AddEnglish("goodbye");
    Start(-1);
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(LogTexts().back(), "取得放音消息......所有缓冲放音完毕");
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    ExpectIdle();
    EXPECT_EQ(module->core.speech->GetStatus(), 0);
}

TEST_F(PlayListTest, EnglishFirstThenSoundReopensWithThatSoundsFormat) {
    AddEnglish("one");
    AddSound(3);
    Start(-1);
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    // The phrase's buffer, then the sound's, both on the sound card.
    EXPECT_EQ(sim::CompletedBuffers(true, sim::kSoundCardDevice), 2);
    ExpectIdle();
}

TEST_F(PlayListTest, SingleItemEndsAtFirstNotification) {
    AddSound(0);
    Start(-1);
    MarkLog();
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(NewLog(), (Texts{"单个播放完毕", "取得放音消息......所有缓冲放音完毕"}));
    ExpectIdle();
}

TEST_F(PlayListTest, SoundWithoutDataEndsTheListEarly) {
    AddSound(0);
    AddMissing();
    AddSound(2);
    // Item 1 has no sound (its file and the fallback are missing); item 2
    // must not be played.
    Start(-1);
    ASSERT_EQ(list().ItemSounds.size(), 3u);
    EXPECT_EQ(list().ItemSounds[1], nullptr);
    MarkLog();
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(NewLog(), (Texts{"单个播放完毕", "lpWaveData1[ThisF]==NULL", "取得放音消息......所有缓冲放音完毕"}));
    EXPECT_EQ(sim::CompletedBuffers(true, sim::kSoundCardDevice), 1);
    ExpectIdle();
}

// Items may share one sound; it is released with the last of them. (Built
// on the sequencer directly: the composer reads each item's own.)
TEST_F(PlayListTest, ItemsSharingBlocksAreReleasedOnce) {
    SoundRef first, second;
    ASSERT_EQ(ReadWav(module->core, "wav/s0.wav", first), 0);
    ASSERT_EQ(ReadWav(module->core, "wav/s1.wav", second), 0);
    ASSERT_TRUE(list().AddSound("wav\\s0.wav", first));
    ASSERT_TRUE(list().AddSound("wav\\s1.wav", second));
    ASSERT_TRUE(list().AddSound("wav\\missing.wav", second));
    std::weak_ptr<const Sound> shared = second;
    first.reset();
    second.reset();
    ASSERT_EQ(list().Start(*ctrl, -1, false), 0);
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(sim::CompletedBuffers(true, sim::kSoundCardDevice), 3);
    ExpectIdle();
    EXPECT_TRUE(shared.expired()) << "the shared sound is released with its last item";
}

TEST_F(PlayListTest, PendingTextThatCannotStartStillEndsOnce) {
    AddSound(0);
    Start(-1);
    list().PendingText = "剩下的文字";
    list().PendingDev = 1;
    // The index is gone by the time the rest is composed.
    std::rename("hanzi.dat", "away.dat");
    MarkLog();
    ASSERT_TRUE(RunToEnd());
    auto log = NewLog();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[2], "还有等待放音的数据");
    // Without the index the pending text cannot be composed, and says why.
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& e) {
        return e.find("hanzi.dat") != std::string::npos;
    }));
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    ExpectIdle();
}

TEST_F(PlayListTest, StopPlayWavEndsTheListWithOneEndPlayAll) {
    for (int i = 0; i < 4; ++i) AddSound(i);
    Start(-1);
    list().PendingText = "不再播放";
    sim::RunUntil([&] { return list().ThisF == 2; }, sim::kSecond);
    EXPECT_EQ(ctrl->StopPlayWav(), 0);
    EXPECT_TRUE(list().ItemKinds.empty());
    sim::RunFor(5 * sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    EXPECT_EQ(sim::CompletedBuffers(true, sim::kSoundCardDevice), 2) << "the stopped buffer and nothing after it";
    ExpectIdle();
}

TEST_F(PlayListTest, StopPlayWavDuringPhraseEndsInTheTimer) {
    AddSound(0);
    AddEnglish("a longer sentence to speak");
    AddSound(1);
    Start(-1);
    sim::RunUntil([&] { return list().ThisF == 2; }, sim::kSecond);
    ASSERT_NE(module->core.speech->GetStatus(), 0);
    ctrl->StopPlayWav();
    ASSERT_TRUE(RunToEnd());
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    // The first sound and the phrase; the sound after the phrase never plays.
    EXPECT_EQ(sim::CompletedBuffers(true, sim::kSoundCardDevice), 2);
    ExpectIdle();
}

TEST_F(PlayListTest, DeviceThatDoesNotReopenAfterPhraseEndsTheList) {
    ConnectCall();
    AddSound(0);
    AddEnglish("hi");
    AddSound(1);
    Start(1);
    sim::RunUntil([&] { return list().ThisF == 2; }, sim::kSecond);
    sim::FailWave("waveOutOpen", MMSYSERR_NODRIVER, 1, sim::kLineDevice);
    MarkLog();
    ASSERT_TRUE(RunToEnd());
    auto log = NewLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "取语音输出设备失败111!"), log.end());
    ExpectIdle();
}

TEST_F(PlayListTest, FailedWriteEndsTheList) {
    AddSound(0);
    AddSound(1);
    AddSound(2);
    Start(-1);
    sim::FailWave("waveOutWrite", MMSYSERR_NOMEM);
    MarkLog();
    ASSERT_TRUE(RunToEnd());
    auto log = NewLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "向线路播放数据错误"), log.end());
    EXPECT_EQ(sim::CompletedBuffers(true, sim::kSoundCardDevice), 1);
    ExpectIdle();
}

TEST_F(PlayListTest, TestMethodWithNothingPlayingEndsOnce) {
    MarkLog();
    EXPECT_EQ(ctrl->Test(), 0);
    sim::RunFor(10 * sim::kMilli);
    EXPECT_EQ(NewLog(), (Texts{"放音完毕", "取得放音消息......所有缓冲放音完毕"}));
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
}

TEST_F(PlayListTest, TestDuringAPlayWavLeavesThatPlaybackAlone) {
    // 0.1 s of sound on the default device; the tick of Test ends the empty
    // list at once, but the sound plays on and ends with its own EndPlayAll.
    ASSERT_EQ(ctrl->PlayWav("wav\\s0.wav", 1), 0);
    EXPECT_EQ(ctrl->Test(), 0);
    sim::RunFor(2 * sim::kMilli);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    EXPECT_EQ(sim::OpenWaveHandles(true), 1);
    ASSERT_TRUE(PlaybackProbe::HasBuffer(module->playback));
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 2);
    EXPECT_EQ(sim::CompletedBuffers(true, sim::kSoundCardDevice), 1);
    ExpectIdle();
}

TEST_F(PlayListTest, ListHoldsNineThousandNineHundredNinetyNineItems) {
    SoundRef one;
    ASSERT_EQ(ReadWav(module->core, "wav/s0.wav", one), 0);
    while (list().ItemCount() < 9998) ASSERT_TRUE(list().AddSound("wav\\s0.wav", one));
    EXPECT_TRUE(list().AddEnglish("last"));
    EXPECT_FALSE(list().AddSound("wav\\s0.wav", one));
    EXPECT_FALSE(list().AddEnglish("one too many"));
    EXPECT_EQ(list().ItemCount(), 9999u);
}

}  // namespace
