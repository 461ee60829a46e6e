#include "control/core/automation_error.h"
#include "control/core/text_to_speech.h"
#include "platform/sim/component.h"
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
