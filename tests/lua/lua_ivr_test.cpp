// The call-script module: counts in words, a call's error ending that call
// only, prompts the control refused.
#include "tests/lua/lua_run.h"

namespace {
class IvrTest : public LuaRunTest {};

// One caller per key: offers, presses the key once connected, hangs up
// nothing; the next comes when the line is free.
std::string CallersPressing(const std::string& keys) {
    std::string s = "at(1, function()\n  for key in ('" + keys + "'):gmatch('.') do\n";
    s += "    caller.offer{caller = '5551234'}\n    caller.ring{count = 4, interval = 4}\n";
    s += "    wait_event('IsConnect', 30)\n    wait(0.5)\n    caller.keys{keys = key}\n";
    s += "    wait_event('LineIsFree', 60)\n    wait(1)\n  end\nend)\n";
    return s;
}
}  // namespace

TEST_F(IvrTest, CountsAreSaidInStandardMandarin) {
    struct Case {
        const char8_t* lua;  // the arguments of number_words
        const char8_t* words;
    } cases[] = {
        {u8"0", u8"零"},
        {u8"1", u8"一"},
        {u8"2", u8"二"},
        {u8"2, '条'", u8"两条"},
        {u8"3, '条'", u8"三条"},
        {u8"10", u8"十"},
        {u8"12, '条'", u8"十二条"},
        {u8"20", u8"二十"},
        {u8"22", u8"二十二"},
        {u8"105, '条'", u8"一百零五条"},
        {u8"110", u8"一百一十"},
        {u8"200", u8"两百"},
        {u8"222", u8"两百二十二"},
        {u8"1001", u8"一千零一"},
        {u8"1010", u8"一千零一十"},
        {u8"1100", u8"一千一百"},
        {u8"2010", u8"两千零一十"},
        {u8"2222", u8"两千两百二十二"},
        {u8"10000", u8"一万"},
        {u8"10010", u8"一万零一十"},
        {u8"10100", u8"一万零一百"},
        {u8"12000", u8"一万两千"},
        {u8"20000", u8"两万"},
        {u8"22000", u8"两万两千"},
        {u8"100000", u8"十万"},
        {u8"100100", u8"十万零一百"},
        {u8"110000", u8"十一万"},
        {u8"200000", u8"二十万"},
        {u8"1010000", u8"一百零一万"},
        {u8"2000000", u8"两百万"},
        {u8"10000500", u8"一千万零五百"},
        {u8"10001000", u8"一千万一千"},
        {u8"20000000", u8"两千万"},
        {u8"99999999", u8"九千九百九十九万九千九百九十九"},
        {u8"-2", u8"负二"},
        {u8"-2, '条'", u8"负两条"},
        {u8"-99999999", u8"负九千九百九十九万九千九百九十九"},
        {u8"3.0, '条'", u8"三条"},
    };
    std::string script = "local ivr = require 'marlune.ivr'\n";
    for (auto& c : cases) script += "print([[" + U8(c.lua) + "]], ivr.number_words(" + U8(c.lua) + "))\n";
    script += "print('digits', ivr.digit_words('1380#*'))\n";
    script += "for _, n in ipairs{100000000, -100000000, 2.5} do\n"
              "  local ok, e = pcall(function() local w = ivr.number_words(n) return w end)\n  print('refused', n, ok, e)\nend\n";
    RunScript(script);
    ASSERT_EQ(status, 0) << err;
    for (auto& c : cases)
        EXPECT_TRUE(Has(out, U8(c.lua) + "\t" + U8(c.words) + "\n")) << U8(c.lua) << "\n" << out;
    EXPECT_TRUE(Has(out, U8(u8"digits\t一 三 八 零 井 星\n"))) << out;
    EXPECT_TRUE(Has(out, "refused\t100000000\tfalse\tapp.lua:")) << out;
    EXPECT_TRUE(Has(out, "refused\t-100000000\tfalse\tapp.lua:")) << out;
    EXPECT_TRUE(Has(out, "refused\t2.5\tfalse\tapp.lua:")) << out;
}

TEST_F(IvrTest, AnErrorEndsItsCallOnlyUnlessTheRunStopsOnErrors) {
    // Key 9: a fault in the function; key 8: a loop that never gives the
    // clock back; key 1: served to the end.
    const std::string app = U8(u8R"(local ivr = require "marlune.ivr"
ivr.serve(function(call)
  local k = call:ask{prompt = "请按键", digits = 1, timeout = 3}
  if k == "9" then local t = nil; print(t.x) end
  if k == "8" then while true do end end
  local t = now()
  wait(0.5)
  print("waited", now() - t, wait_event("Nothing", 0.25), now() - t)
  print("served", call.id, call:say("再见"), call:connected(), call:hangup(), call:connected())
end)
)");
    RunScript(app, CallersPressing("981"), "--handler-limit 0.5");
    ASSERT_EQ(status, 0) << err;
    const std::string fault = "app.lua:4: attempt to index a nil value (local 't') (in call 1)";
    const std::string loop =
        "app.lua:5: the call's function ran longer than the handler limit of 0.5 s (--handler-limit SECONDS); stopped "
        "(in call 2)";
    EXPECT_TRUE(Has(err, "marlune run: " + fault + "\n")) << err;
    EXPECT_TRUE(Has(err, "marlune run: " + loop + "\n")) << err;
    EXPECT_TRUE(Has(out, "  error:     " + fault + "\n")) << out;
    EXPECT_TRUE(Has(out, "  error:     " + loop + "\n")) << out;
    EXPECT_TRUE(Has(out, "waited\t0.5\tfalse\t0.75\n")) << out;  // the clock, from inside a call
    EXPECT_TRUE(Has(out, "served\t3\ttrue\ttrue\ttrue\tfalse\n")) << out;
    EXPECT_TRUE(Has(out, "3 call(s)")) << out;

    Marlune("calls out --json");
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "\"error\": \"" + fault + "\"")) << out;

    RunScript(app, CallersPressing("981"), "--on-error stop");
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(Has(err, "marlune run: app.lua:4: attempt to index a nil value (local 't') (in call 4)\n")) << err;
    EXPECT_FALSE(Has(out, "served")) << out;
}

TEST_F(IvrTest, APromptRefusedWhileAnotherPlaysIsWarnedAndNeverHeard) {
    RunScript(U8(u8R"(write_tones("t.wav", {{440, 1}})
ctl:InitLine(0) ctl:OpenLine(0)
function Ring(n) ctl:AnswerTp() end
function IsConnect() ctl:PlayStr("您好", 0) ctl:PlayStr("再见", 0) print("wav", ctl:PlayWav("t.wav", 0)) end
function EndPlayAll() ctl:HandUp() end
)"),
              "caller.offer{caller = '1'} caller.ring{count = 2}\n");
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(err, "marlune run: app.lua:4: PlayWav answered -1 because 2 prompt(s) still played")) << err;
    EXPECT_TRUE(Has(out, U8(u8"said:      您好 (never heard)\n             再见 (never heard)\n             t.wav "
                            u8"(never heard)\n")))
        << out;
    Marlune("calls out --json");
    EXPECT_TRUE(Has(out, U8(u8"\"heard\": false,\n    \"start\": 0.0,\n    \"text\": \"再见\""))) << out;
}

TEST_F(IvrTest, FunctionsThatLookLikeHandlersButAreNoneAreWarnedOnce) {
    RunScript(R"(ctl:InitLine(0) ctl:OpenLine(0)
function ring(n) end
function OnRing(n) end
function IsConect(h) end
function OnSomething() end
function DtmfIn(h, k) end
function EndPlay() end
function greet() end
print("ran")
)",
              "caller.offer{caller = '1'} caller.ring{count = 1}\n");
    ASSERT_EQ(status, 0) << err;
    struct Case {
        const char* name;
        const char* why;
    } cases[] = {
        {"ring", "(handler names are matched with their case; the event is Ring)"},
        {"OnRing", "(it looks like a handler; the event is Ring)"},
        {"IsConect", "(it looks like a handler; the event is IsConnect)"},
        {"OnSomething", "(it looks like a handler; `marlune describe` lists the events)"},
    };
    for (auto& c : cases) {
        const std::string line = std::string("marlune run: function ") + c.name +
                                 " is not an event and is never called by one " + c.why + "\n";
        size_t at = err.find(line);
        EXPECT_NE(at, std::string::npos) << line << "--- got:\n" << err;
        EXPECT_EQ(err.find(line, at + 1), std::string::npos) << "twice: " << line;
    }
    for (const char* quiet : {"DtmfIn", "EndPlay", "greet"})
        EXPECT_FALSE(Has(err, std::string("function ") + quiet + " ")) << err;
}
