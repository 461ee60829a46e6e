#include "control/core/automation_error.h"
#include "control/core/text_to_speech.h"
#include "platform/sim/component.h"
#include "platform/sim/wave_devices.h"
#include "tests/support/test_env.h"

class SpeechEngineTest : public MarluneTest {};

TEST_F(SpeechEngineTest, APhraseIsBusyForItsSynthesizedDurationOnTheClock) {
    MakeControl();
    CTextToSpeech& tts = *module->core.speech;
    ASSERT_TRUE(tts.IsCreated());
    EXPECT_EQ(tts.GetStatus(), 0);
    tts.SetDevice(-1);
    tts.Speak("Hello, this is an English phrase.");
    EXPECT_NE(tts.GetStatus(), 0);
    sim::Micros start = sim::Now();
    ASSERT_TRUE(sim::RunUntil([&] { return tts.GetStatus() == 0; }, 30 * sim::kSecond));
    sim::Micros spoken = sim::Now() - start;
    // A real voice takes about a second or two for this phrase.
    EXPECT_GT(spoken, 500 * sim::kMilli);
    EXPECT_LT(spoken, 10 * sim::kSecond);
}

TEST_F(SpeechEngineTest, ALongerPhraseTakesLonger) {
    MakeControl();
    CTextToSpeech& tts = *module->core.speech;
    auto duration = [&](const char* text) {
        tts.Speak(text);
        sim::Micros start = sim::Now();
        sim::RunUntil([&] { return tts.GetStatus() == 0; }, 60 * sim::kSecond);
        return sim::Now() - start;
    };
    sim::Micros shortOne = duration("yes");
    sim::Micros longOne = duration("one two three four five six seven eight nine ten");
    EXPECT_GT(longOne, 2 * shortOne);
}

TEST_F(SpeechEngineTest, WithoutTheComponentCallsDoNothingAndStatusIsZero) {
    sim::UnregisterComponent(CTextToSpeech::kClsid);
    MakeControl();
    CTextToSpeech& tts = *module->core.speech;
    EXPECT_FALSE(tts.IsCreated());
    EXPECT_EQ(tts.GetSafeHwnd(), nullptr);
    tts.SetDevice(1);
    tts.Speak("nothing happens");
    EXPECT_EQ(tts.GetStatus(), 0);
    // The poll still comes to an end.
    ctrl->Test();
    sim::RunFor(2 * sim::kMilli);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
}

TEST_F(SpeechEngineTest, AComponentThatCannotBeLoadedIsNotCreated) {
    sim::RegisterComponent(CTextToSpeech::kClsid, "NO_SUCH_ENGINE.DLL");
    MakeControl();
    EXPECT_FALSE(module->core.speech->IsCreated());
}

TEST_F(SpeechEngineTest, TheTimerWaitsForThePhraseBeforeEndingTheList) {
    CMarluneCtrl& c = MakeControl();
    module->core.speech->Speak("The list ends after this sentence.");
    c.Test();
    sim::RunFor(100 * sim::kMilli);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 0);
    ASSERT_TRUE(sim::RunUntil([&] { return sink.count(EVENT_EndPlayAll) == 1; }, 30 * sim::kSecond));
    EXPECT_EQ(module->core.speech->GetStatus(), 0);
}

// A text longer than one piece is spoken piece by piece, one after the other
// without gaps or overlaps: as long as its sentences spoken one at a time.
TEST_F(SpeechEngineTest, ATextOfManyPiecesLastsAsLongAsItsSentences) {
    MakeControl();
    CTextToSpeech& tts = *module->core.speech;
    auto duration = [&](const std::string& text) {
        tts.Speak(text);
        const sim::Micros start = sim::Now();
        EXPECT_TRUE(sim::RunUntil([&] { return tts.GetStatus() == 0; }, 600 * sim::kSecond));
        return sim::Now() - start;
    };
    const std::vector<std::string> sentences = {
        "The first sentence of this text tells of a long walk along the river, past the old mill and the bridge. ",
        "The second one is about the weather, which was grey and wet all morning and cleared up after noon. ",
        "The third sentence lists what was bought at the market: apples, bread, cheese, eggs and a fish. ",
        "And the last one says that everybody went home tired but happy, as the sun set behind the hills. "};
    sim::Micros apart = 0;
    std::string whole;
    for (int round = 0; round < 3; ++round)
        for (const auto& s : sentences) {
            whole += s;
            if (round == 0) apart += 3 * duration(s);
        }
    ASSERT_GT(whole.size(), 1000u);
    const sim::Micros together = duration(whole);
    EXPECT_GT(together, apart * 9 / 10);
    EXPECT_LT(together, apart * 11 / 10);
}

// StopPlayWav ends English being spoken, and the list ends with one
// EndPlayAll; a new text is spoken afresh.
TEST_F(SpeechEngineTest, StopPlayWavStopsTheSpeech) {
    CMarluneCtrl& c = MakeControl();
    std::string text;
    for (int i = 0; i < 200; ++i) text += "This sentence is one of many in a long text. ";
    ASSERT_EQ(c.PlayAllisEnglish(text, 1), 0);
    sim::RunFor(2 * sim::kSecond);
    ASSERT_NE(module->core.speech->GetStatus(), 0);
    c.StopPlayWav();
    EXPECT_EQ(module->core.speech->GetStatus(), 0);
    sim::RunFor(2 * sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    ASSERT_EQ(c.PlayAllisEnglish("Hello again.", 1), 0);
    EXPECT_NE(module->core.speech->GetStatus(), 0);
    ASSERT_TRUE(sim::RunUntil([&] { return sink.count(EVENT_EndPlayAll) == 2; }, 30 * sim::kSecond));
}

// A device that refuses the engine's close once is closed all the same: no
// output stays open after the phrase, and the next phrase plays on it.
TEST_F(SpeechEngineTest, AnOutputThatRefusesOneCloseIsClosedAndTheNextPhrasePlays) {
    MakeControl();
    CTextToSpeech& tts = *module->core.speech;
    tts.SetDevice(-1);
    sim::FailWave("waveOutClose", WAVERR_STILLPLAYING, 1);
    tts.Speak("yes");
    ASSERT_TRUE(sim::RunUntil([&] { return tts.GetStatus() == 0; }, 30 * sim::kSecond));
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
    const int played = sim::CompletedBuffers(true, sim::kSoundCardDevice);
    tts.Speak("yes");
    ASSERT_TRUE(sim::RunUntil([&] { return tts.GetStatus() == 0; }, 30 * sim::kSecond));
    EXPECT_GT(sim::CompletedBuffers(true, sim::kSoundCardDevice), played);
    EXPECT_EQ(sim::OpenWaveHandles(true), 0);
}
