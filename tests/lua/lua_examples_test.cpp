// The two example services against their scripted callers: the events the
// application saw, the summaries, the per-call log, what the caller heard,
// the recording and the pictures.
#include <algorithm>
#include <cstdlib>
#include <regex>

#include "platform/sim/wave_devices.h"
#include "tests/lua/lua_run.h"

namespace {

// The events of a --trace run, as "Name" or "Name key" for DtmfIn and
// "Name n" for Ring, split by call (a call's summary follows its events).
std::vector<std::vector<std::string>> EventsByCall(const std::vector<std::string>& lines) {
    std::vector<std::vector<std::string>> calls(1);
    for (auto& l : lines) {
        if (l.rfind("call ", 0) == 0) {
            calls.emplace_back();
            continue;
        }
        size_t open = l.find('(');
        if (l.size() < 10 || l[8] != ' ' || open == std::string::npos || l.back() != ')') continue;
        std::string name = l.substr(10, open - 10);
        std::string args = l.substr(open + 1, l.size() - open - 2);
        if (name == "Ring") name += " " + args;
        if (name == "DtmfIn") name += " " + args.substr(args.find('"') + 1, 1);
        calls.back().push_back(name);
    }
    calls.pop_back();  // the events after the last call
    return calls;
}

bool InOrder(const std::vector<std::string>& events, const std::vector<std::string>& wanted) {
    auto it = events.begin();
    for (auto& w : wanted) {
        it = std::find(it, events.end(), w);
        if (it == events.end()) return false;
        ++it;
    }
    return true;
}

// Seconds of sound (samples louder than a whisper) in a WAV (PCM or mu-law).
double Loud(const std::string& path) {
    std::vector<int16_t> s;
    DWORD rate = 0;
    if (!sim::LoadWav(path, s, rate) || rate == 0) return 0;
    return static_cast<double>(std::count_if(s.begin(), s.end(), [](int16_t v) { return std::abs(v) > 300; })) / rate;
}

class LuaExamplesTest : public LuaRunTest {};

}  // namespace

TEST_F(LuaExamplesTest, TheBalanceLineServesItsFourCallers) {
    Marlune(std::string("run ") + MARLUNE_EXAMPLES + "/balance.lua " + MARLUNE_EXAMPLES +
            "/balance_callers.lua --out out --trace");
    ASSERT_EQ(status, 0) << err << out;
    auto calls = EventsByCall(Lines());
    ASSERT_EQ(calls.size(), 4u) << out;

    // 1: answered on the second ring; 1 cuts the greeting short at once, a
    // wrong code, the right one, the balance, 0 ends it.
    EXPECT_TRUE(InOrder(calls[0], {"Ring 1", "CallIDIn", "Ring 2", "IsConnect", "DtmfIn 1", "EndPlayAll", "DtmfIn 4",
                                   "EndPlayAll", "DtmfIn 0", "EndPlayAll", "EndPlayAll", "LineIsFree"}))
        << out;
    EXPECT_TRUE(std::regex_search(out, std::regex(" 6\\.000  DtmfIn\\(\\d+, \"1\"\\)\n +6\\.000  EndPlayAll\\(\\)"))) << out;
    EXPECT_EQ(std::count(calls[0].begin(), calls[0].end(), "Ring 3"), 0);
    EXPECT_EQ(std::count(calls[0].begin(), calls[0].end(), "DisConnected"), 0);
    // 2: a message ended with #; the control drops the call when it ends.
    EXPECT_TRUE(InOrder(calls[1], {"Ring 2", "IsConnect", "DtmfIn 2", "RecordDevOpen", "DtmfIn #", "EndRecord",
                                   "LineIsFree"}))
        << out;
    // 3: the caller hangs up while the greeting plays; the application
    // stops the greeting (its one EndPlayAll) and frees the line.
    EXPECT_TRUE(InOrder(calls[2], {"Ring 2", "IsConnect", "DisConnected", "EndPlayAll", "LineIsFree"})) << out;
    EXPECT_EQ(std::count(calls[2].begin(), calls[2].end(), "EndPlayAll"), 1) << out;
    // 4: nothing pressed: the menu once more after the time-out, then three
    // wrong codes end the call.
    EXPECT_EQ(std::count(calls[3].begin(), calls[3].end(), "DtmfIn 0"), 12) << out;
    EXPECT_TRUE(Has(out, U8(u8"您没有按键 查询余额请按一"))) << out;
    EXPECT_TRUE(Has(out, U8(u8"密码错误次数过多 谢谢您的来电 再见"))) << out;

    EXPECT_TRUE(Has(out, "call 1: incoming from 13800138000")) << out;
    EXPECT_TRUE(Has(out, "keys:      1111112340")) << out;
    EXPECT_TRUE(Has(out, U8(u8"您的余额是12.5元"))) << out;
    EXPECT_TRUE(Has(out, "keys:      2#")) << out;
    EXPECT_TRUE(Has(out, "the caller hung up at")) << out;
    EXPECT_TRUE(Has(out, "4 call(s); outputs in ")) << out;

    // The per-call logs: UTF-8 slices of the day's log, each its own call.
    std::string log1 = testenv::ReadFile("out/call-1/log.txt");
    EXPECT_TRUE(Has(log1, U8(u8"传入数据:您的余额是12.5元"))) << log1.substr(0, 400);
    EXPECT_FALSE(Has(log1, U8(u8"传入数据:请在提示音后留言")));
    std::string log2 = testenv::ReadFile("out/call-2/log.txt");
    EXPECT_TRUE(Has(log2, "message-2.wav"));
    EXPECT_FALSE(Has(log2, U8(u8"您的余额是")));

    // What the callers heard: the prompts in call 1 and 2, a bit of the
    // greeting in call 3; the recording holds the second caller's voice
    // (about 2.4 s of tones in 3 s before the #).
    EXPECT_GT(Loud("out/call-1/heard.wav"), 6.0);
    EXPECT_GT(Loud("out/call-2/heard.wav"), 5.0);
    double heard3 = Loud("out/call-3/heard.wav");
    EXPECT_GT(heard3, 0.2);
    EXPECT_LT(heard3, 1.2);
    double message = Loud("out/call-2/message-2.wav");
    EXPECT_GT(message, 1.6);
    EXPECT_LT(message, 2.5);
    EXPECT_FALSE(testenv::FileExists("out/call-1/message-1.wav"));
    EXPECT_TRUE(testenv::FileExists("out/message-2.wav"));
    for (int n = 1; n <= 4; ++n) {
        std::string dir = "out/call-" + std::to_string(n);
        EXPECT_EQ(testenv::ReadFile(dir + "/timeline.png").substr(1, 3), "PNG") << dir;
        std::string svg = testenv::ReadFile(dir + "/timeline.svg");
        EXPECT_TRUE(Has(svg, "<svg")) << dir;
    }
    // The voice pack links are gone; the folder keeps the outputs.
    EXPECT_FALSE(testenv::FileExists("out/hanzi.dat"));
    EXPECT_TRUE(testenv::FileExists("out/line_tap.wav"));
}

TEST_F(LuaExamplesTest, KeysCloseTogetherStayReadableAndTraceShowsBoxesAsTheyShow) {
    RunScript(R"(ctl:InitLine(0) ctl:OpenLine(0)
function Ring(n) if n == 2 then ctl:AnswerTp() end end
function IsConnect() ctl:BeginMonitorDtmf(0) after(30, function() ctl:HandUp() end) end
)",
              "caller.offer{caller = '5551234'} caller.ring{count = 2, interval = 4}\n"
              "at(10, function() caller.keys{keys = '5678', interval = 0.1} end)\n",
              "--trace");
    ASSERT_EQ(status, 0) << err;
    // The key boxes (22 wide, at the top of the key lane) do not overlap.
    std::string svg = testenv::ReadFile("out/call-1/timeline.svg");
    std::regex box("d=\"M ([0-9.]+) 237 L ([0-9.]+) 237 ");
    std::vector<std::pair<double, double>> boxes;
    for (std::sregex_iterator it(svg.begin(), svg.end(), box), end; it != end; ++it)
        boxes.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
    ASSERT_EQ(boxes.size(), 4u);
    for (size_t i = 1; i < boxes.size(); ++i) EXPECT_LE(boxes[i - 1].second, boxes[i].first) << i;
    // The destruction notice is Big5 and reads as the box shows it.
    EXPECT_TRUE(Has(out, U8(u8"message box \"謝謝您!!!!\": 有任何問題請與供應商聯繫"))) << out;
}

TEST_F(LuaExamplesTest, TheReminderCallsOutAndTakesTheConfirmation) {
    Marlune(std::string("run ") + MARLUNE_EXAMPLES + "/reminder.lua " + MARLUNE_EXAMPLES +
            "/reminder_callers.lua --out out --trace");
    ASSERT_EQ(status, 0) << err << out;
    auto calls = EventsByCall(Lines());
    ASSERT_EQ(calls.size(), 1u) << out;
    EXPECT_TRUE(InOrder(calls[0], {"IsConnect", "DtmfIn 1", "EndPlayAll", "EndPlayAll", "LineIsFree"})) << out;
    EXPECT_TRUE(Has(out, "call 1: outgoing to 13912345678")) << out;
    EXPECT_TRUE(Has(out, "reminder confirmed")) << out;
    std::string log = testenv::ReadFile("out/call-1/log.txt");
    EXPECT_TRUE(Has(log, U8(u8"传入数据:已为您确认 谢谢 再见"))) << log.substr(0, 400);
    EXPECT_GT(Loud("out/call-1/heard.wav"), 2.0);
}

TEST_F(LuaExamplesTest, AnUnansweredReminderIsRepeatedOnceThenEnds) {
    // The far end answers and never presses a key.
    std::ofstream("silent.lua") << "caller.outgoing{mode = 'answer', after = 1}\n";
    Marlune(std::string("run ") + MARLUNE_EXAMPLES + "/reminder.lua silent.lua --out out --trace");
    ASSERT_EQ(status, 0) << err << out;
    auto calls = EventsByCall(Lines());
    ASSERT_EQ(calls.size(), 1u) << out;
    EXPECT_EQ(std::count(calls[0].begin(), calls[0].end(), "EndPlayAll"), 3) << out;  // twice, then goodbye
    EXPECT_TRUE(Has(out, "reminder not confirmed")) << out;
    std::string log = testenv::ReadFile("out/call-1/log.txt");
    size_t first = log.find(U8(u8"传入数据:您好 这里是Marlune提醒服务"));
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find(U8(u8"传入数据:您好 这里是Marlune提醒服务"), first + 1), std::string::npos);
}

TEST_F(LuaExamplesTest, TheDemoPrintsEachCallAndWhereItsOutputsAre) {
    Marlune("demo --out demo");
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "call 1: ") && Has(out, "call 4: ")) << out;
    EXPECT_FALSE(Has(out, "call 5: ")) << out;
    // What each caller heard lasts from the call's start to its end, the
    // silence after the last prompt included (the summary rounds to 0.1 s).
    std::regex span("call (\\d+): [^\\n]*, ([0-9.]+) s to ([0-9.]+) s");
    int spans = 0;
    for (std::sregex_iterator it(out.begin(), out.end(), span), end; it != end; ++it, ++spans) {
        std::vector<int16_t> heard;
        DWORD rate = 0;
        ASSERT_TRUE(sim::LoadWav("demo/call-" + (*it)[1].str() + "/heard.wav", heard, rate));
        EXPECT_NEAR(static_cast<double>(heard.size()) / rate, std::stod((*it)[3]) - std::stod((*it)[2]), 0.11)
            << (*it)[0];
    }
    EXPECT_EQ(spans, 4);
    EXPECT_TRUE(Has(out, "/demo/call-2/message-2.wav")) << out;
    EXPECT_TRUE(testenv::FileExists("demo/call-3/timeline.png"));
    auto lines = Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("log: ", 0), 0u);
}

TEST_F(LuaExamplesTest, TheExamplesRunTheSameOverTheAtLibraryAndTheModemSimulator) {
    for (const char* example : {"balance", "reminder", "voicemail"}) {
        std::string run = std::string("run ") + MARLUNE_EXAMPLES + "/" + example + ".lua " + MARLUNE_EXAMPLES + "/" +
                          example + "_callers.lua --trace --out ";
        Marlune(run + "on-virtual");
        ASSERT_EQ(status, 0) << err << out;
        std::string onVirtual = out;
        Marlune(run + "on-at-modem --modem-sim");
        ASSERT_EQ(status, 0) << err << out;
        std::string onAt = out;
        // The same events at the same times and the same summaries, but for
        // the line's name, the folder and the calls' handles.
        auto normal = [](std::string s, const std::string& folder) {
            for (size_t at; (at = s.find(folder)) != std::string::npos;) s.erase(at, folder.size());
            size_t line = s.find("line: ");
            if (line != std::string::npos) s.erase(line, s.find('\n', line) - line);
            // a call handle is an event's first argument; the AT library
            // reports the caller id 0.2 s after a block without a name
            s = std::regex_replace(s, std::regex("[ .0-9]+  CallIDIn"), "CallIDIn");
            // the AT library's own diagnostics (the voice format it chose)
            s = std::regex_replace(s, std::regex("[ .0-9]+  debug: AT modem: [^\n]*\n"), "");
            return std::regex_replace(s, std::regex("\\(\\d+"), "(H");
        };
        EXPECT_EQ(normal(onVirtual, "on-virtual"), normal(onAt, "on-at-modem")) << example;
        // The line answering the balance line is the simulated modem's.
        if (std::string(example) == "balance") {
            EXPECT_TRUE(Has(onAt, "line: Marlune SimVoice 56K")) << onAt;
        }
        for (int call = 1; call <= 4; ++call) {
            std::string dir = "/call-" + std::to_string(call) + "/";
            if (!testenv::FileExists("on-virtual" + dir + "heard.wav")) continue;
            EXPECT_EQ(testenv::ReadFile("on-virtual" + dir + "heard.wav"), testenv::ReadFile("on-at-modem" + dir + "heard.wav"))
                << example << dir;
        }
    }
    EXPECT_EQ(testenv::ReadFile("on-virtual/call-2/message-2.wav"), testenv::ReadFile("on-at-modem/call-2/message-2.wav"));
    EXPECT_GT(testenv::ReadFile("on-at-modem/call-2/message-2.wav").size(), 8000u);
}

TEST_F(LuaExamplesTest, TheVoiceMailServesItsCallersAndSurvivesAFaultyCall) {
    Marlune(std::string("run ") + MARLUNE_EXAMPLES + "/voicemail.lua " + MARLUNE_EXAMPLES +
            "/voicemail_callers.lua --out out");
    ASSERT_EQ(status, 0) << err << out;
    // Each call's summary, by its number.
    std::vector<std::string> call(6);
    for (int n = 1; n <= 5; ++n) {
        size_t from = out.find("call " + std::to_string(n) + ": ");
        ASSERT_NE(from, std::string::npos) << out;
        call[n] = out.substr(from, out.find("\n\n", from) - from);
    }
    // 1: five keys 10 ms apart during the greeting: the choice and the
    // mailbox, none lost; the message ends with #.
    EXPECT_TRUE(Has(call[1], "keys:      11001#\n")) << call[1];
    EXPECT_FALSE(Has(call[1], U8(u8"留言请按一"))) << call[1];
    EXPECT_TRUE(std::regex_search(call[1], std::regex("recording: .*/call-1/msg-1\\.wav \\(3\\.0 s\\)"))) << call[1];
    // 2: hangs up while recording: the message is kept.
    EXPECT_TRUE(Has(call[2], "ended:     the caller hung up")) << call[2];
    EXPECT_TRUE(Has(call[2], "/call-2/msg-2.wav (2.5 s)")) << call[2];
    // 3: the time-out, a wrong mailbox and a wrong PIN are asked again; two
    // messages (the burst's mailbox was 1001); the first is deleted.
    for (const char8_t* said : {u8"输入有误\n", u8"信箱号码有误 请重新输入\n", u8"密码错误 请重新输入\n", u8"两条\n",
                                u8"一 三 八 零 零 一 三 八 零 零 零\n", u8"已删除\n", u8"没有更多留言 再见\n"})
        EXPECT_TRUE(Has(call[3], U8(said))) << U8(said) << call[3];
    EXPECT_FALSE(testenv::FileExists("out/call-1/msg-1.wav"));
    // 4: the message's file has gone: that call ends with the error, the
    // next is served.
    EXPECT_TRUE(std::regex_search(err, std::regex("marlune run: .*/voicemail\\.lua:\\d+: cannot play .*/call-2/msg-2\\.wav: "
                                                  "there is no such file \\(in call 4\\)\n")))
        << err;
    EXPECT_TRUE(Has(call[4], "error:     ")) << call[4];
    EXPECT_TRUE(Has(call[5], U8(u8"您没有留言 再见\n"))) << call[5];
    EXPECT_TRUE(Has(out, "5 call(s)")) << out;
}

TEST_F(LuaExamplesTest, TheVoiceMailWrittenWithEventsServesTheSameCallers) {
    Marlune(std::string("run ") + MARLUNE_EXAMPLES + "/voicemail_events.lua " + MARLUNE_EXAMPLES +
            "/voicemail_callers.lua --out out");
    ASSERT_EQ(status, 0) << err << out;
    EXPECT_EQ(err, "");
    EXPECT_TRUE(Has(out, "keys:      11001#\n")) << out;
    EXPECT_TRUE(Has(out, "/call-2/msg-2.wav (2.5 s)")) << out;
    for (const char8_t* said : {u8"输入有误\n", u8"信箱号码有误 请重新输入\n", u8"密码错误 请重新输入\n", u8"两条\n",
                                u8"已删除\n", u8"没有更多留言 再见\n", u8"您没有留言 再见\n"})
        EXPECT_TRUE(Has(out, U8(said))) << U8(said) << out;
    EXPECT_TRUE(Has(out, "5 call(s)")) << out;
}
