// PlayStr: the composer's examples with the sounds the caller hears, numbers,
// letters, capacity and the pending rest, queued calls, texts with nothing
// to play, start failures and a missing index.
#include "tests/support/playback_probe.h"
#include "tests/prompts/prompts_fixture.h"

namespace {

class PlayStrTest : public PromptsTest {
protected:
    void SetUp() override {
        PromptsTest::SetUp();
        MakePack({{"你", "ni3"},
                  {"好", "hao3"},
                  {"共", "gong4"},
                  {"一", "yi1"},
                  {"二", "er4"},
                  {"三", "san1"},
                  {"五", "wu3"},
                  {"十", "shi2"},
                  {"点", "dian3"},
                  {"零", "ling2"},
                  {"元", "yuan2"},
                  {"我", "wo3"},
                  {"的", "de5"},
                  {"在", "zai4"},
                  {"这", "zhe4"},
                  {"里", "li3"}});
    }
    LONG Say(const std::string& text, LONG dev = 0) { return ctrl->PlayStr(text, dev); }
};

TEST_F(PlayStrTest, ChineseTextOnTheLineIsHeardSoundBySound) {
    ConnectCall();
    MarkLog();
    ASSERT_EQ(Say("你好"), 0);
    EXPECT_EQ(ctrl->m_outID, 1);
    EXPECT_EQ(Kinds(), (Texts{"wav\\ni3.wav", "wav\\hao3.wav"}));
    auto log = NewLog();
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 6),
              (Texts{"传入数据:你好", "汉字:你", "begin read", "ni3", "放音文件:wav\\ni3.wav", "读入语音数据成功"}));
    EXPECT_NE(std::find(log.begin(), log.end(), "存放空间(数组)够用了!!"), log.end());
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(Heard(sim::kLineDevice), (Texts{"ni3", "hao3"}));
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
}

TEST_F(PlayStrTest, NumbersAreReadAsChineseWords) {
    ConnectCall();
    MarkLog();
    ASSERT_EQ(Say("共12元"), 0);
    auto log = NewLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "发现数字:1"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "数字12"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "转换后共一十二点零零元"), log.end());
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(Heard(sim::kLineDevice), (Texts{"gong4", "yi1", "shi2", "er4", "dian3", "ling2", "ling2", "yuan2"}));
}

TEST_F(PlayStrTest, NumberRunsAtTheEndBetweenSpacesAndAfterASign) {
    ConnectCall();
    ASSERT_EQ(Say("共12"), 0);
    EXPECT_EQ(Kinds().size(), 7u) << "a number at the very end is read";
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(Say("1 2"), 0);
    ASSERT_TRUE(RunToEnd(2));
    ASSERT_EQ(Say("-5"), 0);
    EXPECT_EQ(Kinds(), (Texts{"wav\\wu3.wav", "wav\\dian3.wav", "wav\\ling2.wav", "wav\\ling2.wav"}));
    ASSERT_TRUE(RunToEnd(3));
    const auto heard = Heard(sim::kLineDevice);
    const Texts tail(heard.end() - 12, heard.end());
    EXPECT_EQ(tail, (Texts{"yi1", "dian3", "ling2", "ling2", "er4", "dian3", "ling2", "ling2", "wu3", "dian3", "ling2",
                           "ling2"}));
}

TEST_F(PlayStrTest, LettersBecomeEnglishPhrasesBetweenSounds) {
    ConnectCall();
    ASSERT_EQ(Say("我的book在这里"), 0);
    EXPECT_EQ(Kinds(), (Texts{"wav\\wo3.wav", "wav\\de5.wav", "e", "wav\\zai4.wav", "wav\\zhe4.wav", "wav\\li3.wav"}));
    EXPECT_EQ(module->playList.ItemTexts[2], "book");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(Heard(sim::kLineDevice), (Texts{"wo3", "de5", "zai4", "zhe4", "li3"}));
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
}

TEST_F(PlayStrTest, WorkedExamplesOfLettersAndNumbers) {
    struct Row {
        const char* text;
        Texts kinds;
        Texts texts;
    };
    const Row rows[] = {
        {"Hello world", {"e", "e"}, {"Hello", "world"}},
        {"mp3", {"e", "wav\\san1.wav", "wav\\dian3.wav", "wav\\ling2.wav", "wav\\ling2.wav"}, {"mp", "", "", "", ""}},
        {"Hello.", {"e", "wav\\dian3.wav", "wav\\ling2.wav", "wav\\ling2.wav"}, {"Hello", "", "", ""}},
        {"A[\\]^_`z!", {"e"}, {"A[\\]^_`z"}},
    };
    int ended = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        MarkLog();
        ASSERT_EQ(Say(row.text, 1), 0);
        EXPECT_EQ(Kinds(), row.kinds);
        EXPECT_EQ(module->playList.ItemTexts, row.texts);
        auto log = NewLog();
        EXPECT_NE(std::find(log.begin(), log.end(), "SpeakEnglish 1"), log.end());
        ASSERT_TRUE(RunToEnd(++ended));
    }
    EXPECT_EQ(ctrl->m_outID, -1);
}

TEST_F(PlayStrTest, UnknownCharactersMissingSoundsAndALoneLeadByte) {
    ConnectCall();
    std::remove("wav/hao3.wav");
    MarkLog();
    // Full-width comma: not in the index. 好: no sound file. Then a lone lead byte.
    ASSERT_EQ(Say("你，好\xC4"), 0);
    EXPECT_EQ(Kinds(), (Texts{"wav\\ni3.wav", "wav\\_long.wav", "wav\\hao3.wav", "wav\\_long.wav"}));
    auto log = NewLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "!hmmio"), log.end());
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(Heard(sim::kLineDevice), (Texts{"ni3", "_long", "wu2.wav", "_long"}));
}

// Names may hold folders in Windows form: "wav\tones\ni3.wav" opens here.
TEST_F(PlayStrTest, NestedSoundNamesWithBackslashes) {
    mkdir("wav/tones", 0777);
    wav::Save("hanzi.dat", Entry("你", "tones\\ni3"));
    sounds.erase("ni3");
    sounds["tones"] = Distinct(777);
    wav::Save("wav/tones/ni3.wav", wav::Pcm8k(sounds["tones"]));
    ConnectCall();
    ASSERT_EQ(Say("你"), 0);
    EXPECT_EQ(Kinds(), Texts{"wav\\tones\\ni3.wav"});
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(Heard(sim::kLineDevice), Texts{"tones"});
}

TEST_F(PlayStrTest, NineThousandNineHundredNinetyNineItemsFitAndTheRestIsSpokenAfter) {
    ConnectCall();
    std::string text;
    for (int i = 0; i < 9999; ++i) text += "一";
    MarkLog();
    ASSERT_EQ(Say(text), 0);
    EXPECT_EQ(Kinds().size(), 9999u);
    EXPECT_EQ(module->playList.PendingText, "");
    auto log = NewLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "存放空间(数组)够用了!!"), log.end());
    ASSERT_TRUE(RunToEnd(1, 3600 * sim::kSecond));

    // One more: the 10,000th character waits and is spoken after the rest.
    MarkLog();
    ASSERT_EQ(Say(text + "你"), 0);
    EXPECT_EQ(Kinds().size(), 9999u);
    EXPECT_EQ(module->playList.PendingText, "你");
    log = NewLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "超过最大数，以后读3"), log.end());
    const int before = sim::CompletedBuffers(true, sim::kLineDevice);
    ASSERT_TRUE(RunToEnd(2, 3600 * sim::kSecond));
    EXPECT_EQ(sim::CompletedBuffers(true, sim::kLineDevice) - before, 10000);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 2);
    EXPECT_EQ(Heard(sim::kLineDevice).back(), "ni3");
}

TEST_F(PlayStrTest, EnglishRunsThatDoNotFitWaitWhole) {
    std::string text;
    for (int i = 0; i < 9999; ++i) text += "一";
    ASSERT_EQ(Say(text + "abc", 1), 0);
    EXPECT_EQ(module->playList.PendingText, "abc");
    ctrl->StopPlayWav();
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(Say(text + "abc.", 1), 0);
    EXPECT_EQ(module->playList.PendingText, "abc,点零零") << "the marker stays in the text";
    ctrl->StopPlayWav();
    ASSERT_TRUE(RunToEnd(2));
    auto log = LogTexts();
    EXPECT_NE(std::find(log.begin(), log.end(), "超过最大数，以后读1"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "超过最大数，以后读2"), log.end());
}

// Texts asked for while something plays wait their turn; nothing is dropped
// and EndPlayAll comes once, after the last.
TEST_F(PlayStrTest, CallsWhileAListPlaysAreQueuedInOrder) {
    ConnectCall();
    ASSERT_EQ(Say("你"), 0);
    EXPECT_EQ(Say("好"), 0);
    EXPECT_EQ(ctrl->PlayAllisEnglish("thanks", 0), 0);
    EXPECT_EQ(Say("共"), 0);
    EXPECT_EQ(Kinds(), Texts{"wav\\ni3.wav"}) << "the playing list is left alone";
    ASSERT_TRUE(RunToEnd());
    sim::RunFor(5 * sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    EXPECT_EQ(Heard(sim::kLineDevice), (Texts{"ni3", "hao3", "gong4"}));
    auto log = LogTexts();
    auto at = [&](const std::string& t) { return std::find(log.begin(), log.end(), t) - log.begin(); };
    EXPECT_LT(at("传入数据:好"), at("开始说下列英语All:"));
    EXPECT_LT(at("开始说下列英语All:"), at("传入数据:共"));
    // Stopping drops what waits.
    ASSERT_EQ(Say("你"), 0);
    ASSERT_EQ(Say("好"), 0);
    ctrl->StopPlayWav();
    sim::RunFor(5 * sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 2);
    EXPECT_TRUE(module->playList.queue.empty());
}

TEST_F(PlayStrTest, NothingToPlayEndsAfterTheCallReturns) {
    MarkLog();
    EXPECT_EQ(Say(" ,;\r\n", 1), 0);
    EXPECT_NE(NewLog().back().find("nothing to play"), std::string::npos);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 0);
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    EXPECT_EQ(Say("", 1), 0);
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 2);
}

TEST_F(PlayStrTest, AFirstSoundThatCannotBeQueuedEndsTheList) {
    sim::FailWave("waveOutOpen", MMSYSERR_ALLOCATED);
    MarkLog();
    EXPECT_EQ(Say("你好", 1), -2);
    auto log = NewLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "取语音输出设备失败2!"), log.end());
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    EXPECT_TRUE(Kinds().empty());

    ConnectCall();
    sim::FailWave("waveOutWrite", MMSYSERR_NOMEM);
    EXPECT_EQ(Say("你好", 0), -1);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 2);
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
    sim::FailWave("waveOutOpen", MMSYSERR_NODRIVER, 1, sim::kLineDevice);
    MarkLog();
    EXPECT_EQ(Say("你好", 0), -1);
    log = NewLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "取语音输出设备失败1!"), log.end());
    // Afterwards the next text plays.
    ASSERT_EQ(Say("好", 0), 0);
    ASSERT_TRUE(RunToEnd(4));
    EXPECT_EQ(Heard(sim::kLineDevice).back(), "hao3");
}

TEST_F(PlayStrTest, AMissingIndexFailsTheCallAndLeavesTheListEmpty) {
    std::rename("hanzi.dat", "away.dat");
    try {
        Say("好你", 1);
        FAIL() << "no error";
    } catch (const AutomationError& e) {
        EXPECT_NE(std::string(e.what()).find("hanzi.dat"), std::string::npos);
    }
    EXPECT_TRUE(Kinds().empty());
    EXPECT_FALSE(module->playList.Busy());
    std::rename("away.dat", "hanzi.dat");
    ASSERT_EQ(Say("好", 1), 0);
    EXPECT_EQ(Kinds(), Texts{"wav\\hao3.wav"});
    ASSERT_TRUE(RunToEnd());
}

}  // namespace

namespace {

// A control destroyed in the middle of a text leaves nothing behind: the
// next control speaks at once instead of queueing behind a list that will
// never end.
TEST_F(PlayStrTest, DestroyedControlLeavesTheNextOneFreeToSpeak) {
    ASSERT_EQ(Say("你好你好", 1), 0);
    sim::RunFor(60 * sim::kMilli);
    ctrl.reset();
    EXPECT_EQ(PlaybackProbe::Outputs(module->playback), 0u);
    EXPECT_FALSE(module->playList.Busy());
    sim::RunFor(sim::kSecond);
    CMarluneCtrl& next = MakeControl();
    MarkLog();
    ASSERT_EQ(next.PlayStr("好", 1), 0);
    auto log = NewLog();
    EXPECT_EQ(std::find(log.begin(), log.end(), "PlayStr queued"), log.end());
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
}

}  // namespace
