// The same calls on both telephony libraries: the virtual modem, and the AT
// provider over the modem simulator give the same events, log and files.
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
};

}  // namespace

class ScenarioTest : public LineTest {
protected:
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
        std::vector<int16_t> greeting = MuLawRamp(8000, 3), answer = MuLawRamp(12000, 5);
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
        std::vector<LONG> calls;
        for (auto& e : sink.events)
            if (e.dispid == EVENT_IsConnect || e.dispid == EVENT_LineIsFree) calls.push_back(e.args.at(0).lVal);
        for (auto& e : sink.events) o.events.push_back(Describe(e, calls));
        o.log = LogTexts();
        o.recording = testenv::ReadFile("reply.wav");
        o.heard = caller->Heard();
        return o;
    }
};

TEST_F(ScenarioTest, TheSameCallsGiveTheSameEventsLogAndFilesOnBothLibraries) {
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
    // ...and the AT provider gives the same.
    EXPECT_EQ(a.answers, v.answers);
    EXPECT_EQ(a.events, v.events);
    EXPECT_EQ(a.log, v.log);
    EXPECT_EQ(a.recording.size(), v.recording.size());
    size_t firstDiff = 0;
    while (firstDiff < a.recording.size() && firstDiff < v.recording.size() &&
           a.recording[firstDiff] == v.recording[firstDiff])
        ++firstDiff;
    EXPECT_EQ(firstDiff, v.recording.size()) << "the recordings differ from byte " << firstDiff;
    EXPECT_EQ(a.heard.size(), v.heard.size());
    EXPECT_TRUE(a.heard == v.heard) << "the caller heard something else";
}
