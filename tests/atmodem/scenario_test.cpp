// The same calls on both telephony libraries: the virtual modem, and the AT
// provider over the modem simulator (each command-set family) give the same
// events, log and files; and what a stop or a hang-up in the middle of a
// prompt does to the modem's line.
#include <sys/stat.h>

#include <functional>
#include <map>

#include "tests/atmodem/line_fixture.h"

namespace {

const char* EventName(DISPID id) {
    static const std::map<DISPID, const char*> names = {
        {EVENT_EndRecord, "EndRecord"}, {EVENT_EndPlay, "EndPlay"},         {EVENT_RecordDevOpen, "RecordDevOpen"},
        {EVENT_DtmfIn, "DtmfIn"},       {EVENT_DisConnected, "DisConnected"}, {EVENT_IsConnect, "IsConnect"},
        {EVENT_TextAll, "TextAll"},     {EVENT_LineIsFree, "LineIsFree"},   {EVENT_Ring, "Ring"},
        {EVENT_EndPlayAll, "EndPlayAll"}, {EVENT_CallIDIn, "CallIDIn"}};
    auto it = names.find(id);
    return it == names.end() ? "?" : it->second;
}

// What one run of a scenario left behind.
struct Outcome {
    std::vector<std::string> events;  // name, arguments (call handles as "h"), clock
    std::vector<std::string> log;
    std::string recording;
    std::vector<int16_t> heard;
    std::map<int, std::string> answers;
    int format = 0;  // the modem's +VSM method (AT only)
};

const auto kFamilies = ::testing::Values(modemsim::Family::HostSoft, modemsim::Family::Controller,
                                         modemsim::Family::ALawLinear, modemsim::Family::Intel);
std::string FamilyName(const ::testing::TestParamInfo<modemsim::Family>& info) {
    const char* names[] = {"HostSoft", "Controller", "ALawLinear", "Intel"};
    return names[static_cast<int>(info.param)];
}

// Runs the application's own handlers beside the recording sink.
class Handlers : public IEventSink {
public:
    HRESULT Invoke(DISPID dispid, const std::vector<Variant>&) override {
        auto it = on.find(dispid);
        if (it != on.end()) it->second();
        return S_OK;
    }
    std::map<DISPID, std::function<void()>> on;
};

}  // namespace

class ScenarioTest : public LineTest, public ::testing::WithParamInterface<modemsim::Family> {
protected:
    void SetUp() override {
        LineTest::SetUp();
        family = GetParam();
    }
    // The ramp as the family's chosen format carries it (so that both
    // libraries record the same file).
    std::vector<int16_t> Carried(std::vector<int16_t> v) const {
        for (auto& s : v) {
            if (family == modemsim::Family::Controller) s = static_cast<int16_t>((s >> 8) * 256);
            if (family == modemsim::Family::ALawLinear || family == modemsim::Family::Intel)
                s = sim::ALawDecode(sim::ALawEncode(s));
        }
        return v;
    }
    std::vector<std::string> Events(const std::vector<testenv::RecordedEvent>& events) const {
        std::vector<LONG> calls;
        for (auto& e : events)
            if (e.dispid == EVENT_IsConnect || e.dispid == EVENT_LineIsFree) calls.push_back(e.args.at(0).lVal);
        std::vector<std::string> out;
        for (auto& e : events) out.push_back(Describe(e, calls));
        return out;
    }
    // A voice pack of one character, half a second long.
    void MakePack() {
        mkdir("wav", 0777);
        WritePcmWav("wav/ni3.wav", MuLawRamp(4000, 9));
        std::string index = std::string("你") + '\0' + "x" + "ni3" + '\0';
        std::ofstream("hanzi.dat", std::ios::binary) << index;
    }
    AtCaller& At(Caller& c) { return static_cast<AtCaller&>(c); }
    std::string Describe(const testenv::RecordedEvent& e, const std::vector<LONG>& calls) const {
        std::string s = EventName(e.dispid);
        s += "(";
        for (size_t i = 0; i < e.args.size(); ++i) {
            const Variant& v = e.args[i];
            if (i) s += ",";
            if (v.vt == VarType::I4) {
                bool isCall = std::find(calls.begin(), calls.end(), v.lVal) != calls.end();
                s += isCall ? std::string("h") : std::to_string(v.lVal);
            } else {
                for (char16_t c : v.bstrVal) s += static_cast<char>(c);
            }
        }
        return s + ")";
    }

    // An incoming call: rings with the caller id, answer, greeting, keys,
    // the caller's answer recorded, the caller hangs up, the control too;
    // then an outgoing call that is answered, one that is busy and one
    // that nobody answers.
    Outcome RunScenario(Provider provider) {
        Outcome o;
        sink.events.clear();
        auto caller = MakeCaller(provider);
        MakeControl();
        std::vector<int16_t> greeting = MuLawRamp(8000, 3), answer = Carried(MuLawRamp(12000, 5));
        WritePcmWav("greeting.wav", greeting);
        o.answers[1] = ctrl->InitLine(0).empty() ? "" : "named";
        o.answers[2] = std::to_string(ctrl->OpenLine(0));
        Run(1);
        caller->Call(3, 4, "13800138000");
        Run(9);
        o.answers[3] = ctrl->GetTPNO();
        o.answers[4] = std::to_string(ctrl->AnswerTp());
        Run(1);
        o.answers[5] = std::to_string(ctrl->PlayWav("greeting.wav", 0));
        Run(2);
        o.answers[6] = std::to_string(ctrl->BeginMonitorDtmf(0));
        caller->Keys("1#");
        Run(0);
        o.answers[7] = ctrl->GetDtmf();
        caller->Say(answer);
        o.answers[8] = std::to_string(ctrl->RecordWav(0, "reply.wav", 3));
        Run(4);  // the recording ends and hangs up
        // A second caller hangs up first.
        caller->Call(1, 4, "5550000");
        Run(1);
        o.answers[9] = std::to_string(ctrl->AnswerTp());
        Run(1);
        caller->HangUp();
        Run(0.5);
        o.answers[10] = std::to_string(ctrl->HandUp());
        Run(1);
        for (bool answers : {true, false}) {
            caller->AnswersOutgoing(answers, true, 2);
            o.answers[11 + answers] = std::to_string(ctrl->CallOut(0, "555-1234"));
            Run(3);
            if (answers) {
                ctrl->HandUp();
                Run(1);
            }
        }
        caller->AnswersOutgoing(false, false, 0);
        o.answers[13] = std::to_string(ctrl->CallOut(0, "+1 (206) 5551234"));
        Run(20);
        o.events = Events(sink.events);
        o.log = LogTexts();
        o.recording = testenv::ReadFile("reply.wav");
        o.heard = caller->Heard();
        if (provider == Provider::At) o.heard = At(*caller).modem.Heard(), o.format = At(*caller).modem.VoiceFormat();
        return o;
    }

    int ExpectedFormat() const {
        switch (family) {
            case modemsim::Family::HostSoft: return 131;
            case modemsim::Family::Controller: return 1;
            case modemsim::Family::Intel: return 140;
            default: return 132;
        }
    }

    // An application whose EndRecord handler says something (the call is
    // already dropped) and whose IsConnect handler greets the next caller.
    Outcome RunGreeter(Provider provider) {
        Outcome o;
        sink.events.clear();
        auto caller = MakeCaller(provider);
        MakeControl();
        MakePack();
        WritePcmWav("greeting.wav", MuLawRamp(8000, 3));
        Handlers app;
        app.on[EVENT_EndRecord] = [this, &o] { o.answers[1] = std::to_string(ctrl->PlayStr("你", 0)); };
        ctrl->Advise(&app);
        ctrl->InitLine(0);
        o.answers[3] = std::to_string(ctrl->OpenLine(0));
        Run(1);
        caller->Call(1, 4, "5551234");
        Run(1);
        ctrl->AnswerTp();
        Run(1);
        caller->Say(Carried(MuLawRamp(4000, 5)));
        o.answers[4] = std::to_string(ctrl->RecordWav(0, "first.wav", 1));
        Run(3);  // the recording ends and hangs up
        app.on[EVENT_IsConnect] = [this, &o] { o.answers[2] = std::to_string(ctrl->PlayWav("greeting.wav", 0)); };
        caller->Call(1, 4, "5550000");
        Run(1);
        ctrl->AnswerTp();
        Run(2);
        o.answers[5] = std::to_string(ctrl->HandUp());
        Run(2);
        o.events = Events(sink.events);
        o.log = LogTexts();
        o.recording = testenv::ReadFile("first.wav");
        // The greeting: the line's tap also holds what was said to nobody.
        o.heard = caller->Heard();
        if (o.heard.size() > 8000) o.heard.erase(o.heard.begin(), o.heard.end() - 8000);
        if (provider == Provider::At) o.heard = At(*caller).modem.Heard();
        return o;
    }

    void ExpectSame(const Outcome& a, const Outcome& v) {
        EXPECT_EQ(a.answers, v.answers);
        EXPECT_EQ(a.events, v.events);
        EXPECT_EQ(a.log, v.log);
        // The recordings (mu-law after their 46-byte header), silence as
        // silence: A-law has none, only +-8.
        auto silenced = [](std::string r) {
            for (size_t i = 46; i < r.size(); ++i)
                if (std::abs(sim::MuLawDecode(static_cast<uint8_t>(r[i]))) <= 8) r[i] = static_cast<char>(0xFF);
            return r;
        };
        const std::string recording = silenced(v.recording), got = silenced(a.recording);
        EXPECT_EQ(got.size(), recording.size());
        size_t firstDiff = 0;
        while (firstDiff < got.size() && firstDiff < recording.size() && got[firstDiff] == recording[firstDiff])
            ++firstDiff;
        EXPECT_EQ(firstDiff, recording.size()) << "the recordings differ from byte " << firstDiff;
        // What the caller heard, decoded from the negotiated format.
        std::vector<int16_t> expected = Carried(v.heard);
        auto trim = [](std::vector<int16_t> h) {
            auto first = std::find_if(h.begin(), h.end(), [](int16_t x) { return x != 0; });
            auto last = std::find_if(h.rbegin(), h.rend(), [](int16_t x) { return x != 0; }).base();
            return first < last ? std::vector<int16_t>(first, last) : std::vector<int16_t>();
        };
        EXPECT_EQ(trim(a.heard).size(), trim(expected).size());
        EXPECT_TRUE(trim(a.heard) == trim(expected)) << "the caller heard something else";
    }
};

INSTANTIATE_TEST_SUITE_P(Families, ScenarioTest, kFamilies, FamilyName);

TEST_P(ScenarioTest, TheSameCallsGiveTheSameEventsLogAndFilesOnBothLibraries) {
    // Run on the virtual modem, then again from scratch on the AT provider.
    Outcome v = RunScenario(Provider::Virtual);
    TearDown();
    SetUp();
    Outcome a = RunScenario(Provider::At);

    // The run itself is what was expected...
    EXPECT_EQ(v.answers[2], "0");
    EXPECT_EQ(v.answers[3], "13800138000");
    EXPECT_EQ(v.answers[7], "1#");
    EXPECT_EQ(v.events,
              (std::vector<std::string>{"Ring(1)", "CallIDIn()", "Ring(2)", "Ring(3)", "IsConnect(h)", "EndPlayAll()",
                                        "DtmfIn(h,1)", "DtmfIn(h,#)", "RecordDevOpen(1)", "EndRecord()",
                                        "LineIsFree(h)", "Ring(1)", "CallIDIn()", "IsConnect(h)", "DisConnected(h)",
                                        "LineIsFree(h)", "IsConnect(h)", "LineIsFree(h)", "DisConnected(h)",
                                        "LineIsFree(h)", "DisConnected(h)", "LineIsFree(h)"}));
    ASSERT_EQ(v.recording.size(), 46u + 3 * 8000);
    EXPECT_EQ(v.heard.size(), 8000u);
    // ...and the AT provider gives the same, in the format its list offers.
    EXPECT_EQ(a.format, ExpectedFormat());
    ExpectSame(a, v);
}

TEST_P(ScenarioTest, APromptAfterTheRecordingEndedDoesNotCostTheNextCallerTheGreeting) {
    Outcome v = RunGreeter(Provider::Virtual);
    TearDown();
    SetUp();
    Outcome a = RunGreeter(Provider::At);
    EXPECT_EQ(v.answers[1], "0");  // said to nobody: the call was dropped
    EXPECT_EQ(v.answers[2], "0");
    EXPECT_EQ(v.events,
              (std::vector<std::string>{"Ring(1)", "CallIDIn()", "IsConnect(h)", "RecordDevOpen(1)", "EndRecord()",
                                        "LineIsFree(h)", "EndPlayAll()", "Ring(1)", "CallIDIn()", "IsConnect(h)",
                                        "EndPlayAll()", "LineIsFree(h)"}));
    EXPECT_EQ(v.heard.size(), 8000u);  // the greeting
    ExpectSame(a, v);
}

// A long greeting stopped one second in, by a hang-up or by StopPlayWav.
class StopTest : public ScenarioTest {
protected:
    void Connect() {
        caller = MakeCaller(Provider::At);
        MakeControl();
        WritePcmWav("long.wav", MuLawRamp(6 * 8000, 3));
        WritePcmWav("second.wav", second);
        ctrl->InitLine(0);
        ASSERT_EQ(ctrl->OpenLine(0), 0);
        Run(1);
        caller->Call(1, 4, "5551234");
        Run(1);
        ASSERT_EQ(ctrl->AnswerTp(), 0);
        Run(1);
        ASSERT_EQ(ctrl->PlayWav("long.wav", 0), 0);
        Run(1);
        stop = sim::Now();
    }
    modemsim::ModemSim& Modem() { return At(*caller).modem; }
    // When the modem was asked `command` (the last time), after the stop.
    double SecondsToCommand(const std::string& command) {
        auto c = Modem().Commands();
        auto t = Modem().CommandTimes();
        for (size_t i = c.size(); i-- > 0;)
            if (c[i] == command) return static_cast<double>(t[i] - stop) / sim::kSecond;
        return 1e9;
    }
    // The time from the stop to the last sample the caller heard of the greeting.
    double StopToSilence(size_t greetingHeard) const {
        return static_cast<double>(greetingHeard) / 8000 - 1.0;
    }
    std::unique_ptr<Caller> caller;
    std::vector<int16_t> second = MuLawRamp(8000, 7);
    sim::Micros stop = 0;
};

INSTANTIATE_TEST_SUITE_P(Families, StopTest, kFamilies, FamilyName);

TEST_P(StopTest, AHangUpOneSecondIntoALongGreetingSilencesTheLineAndTheNextCallIsAnswered) {
    Connect();
    ASSERT_EQ(ctrl->HandUp(), 0);
    Run(0.5);
    std::printf("HandUp to ATH: %.3f s\n", SecondsToCommand("ATH"));
    EXPECT_LE(SecondsToCommand("ATH"), 0.5);
    EXPECT_FALSE(Modem().OffHook());
    const double silence = StopToSilence(Modem().Heard().size());
    std::printf("stop-to-silence after HandUp: %.3f s\n", silence);
    EXPECT_GE(silence, 0.0);
    EXPECT_LE(silence, 0.25);
    EXPECT_LE(Modem().MostHeldBack(), 1000u);  // paced: never seconds of sound behind flow control
    // The line still works: the next caller rings and is answered.
    sink.events.clear();
    caller->Call(2, 4, "5550000");
    Run(5);
    EXPECT_EQ(sink.count(EVENT_Ring), 2);
    ASSERT_EQ(ctrl->AnswerTp(), 0);
    Run(1);
    EXPECT_EQ(sink.count(EVENT_IsConnect), 1);
    EXPECT_TRUE(Modem().OffHook());
}

TEST_P(StopTest, StopPlayWavSilencesTheGreetingAndTheNextPlayWavIsHeard) {
    Connect();
    ASSERT_EQ(ctrl->StopPlayWav(), 0);
    ASSERT_EQ(ctrl->PlayWav("second.wav", 0), 0);
    Run(2);
    std::vector<int16_t> heard = Modem().Heard();
    ASSERT_GE(heard.size(), second.size());
    const double silence = StopToSilence(heard.size() - second.size());
    std::printf("stop-to-silence after StopPlayWav: %.3f s\n", silence);
    EXPECT_GE(silence, 0.0);
    EXPECT_LE(silence, 0.25);
    EXPECT_TRUE(std::vector<int16_t>(heard.end() - static_cast<ptrdiff_t>(second.size()), heard.end()) ==
                Carried(second))
        << "the second sound was not heard whole";
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 2);
}
