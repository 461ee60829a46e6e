// How a script reaches the control and what it is told when something is
// wrong: members by name, properties, automation errors as Lua errors with
// description and code, messages that name the script line, events between
// messages, the caller's commands and the clock.
#include "tests/lua/lua_run.h"

namespace {
class LuaScriptTest : public LuaRunTest {};
}  // namespace

TEST_F(LuaScriptTest, MembersPropertiesAndCaseAreAsAutomationHasThem) {
    RunScript(R"(print(ctl:initline(0))
print(ctl.OpenLine(0))
ctl.MonitorDtmf = true
print("MonitorDtmf", ctl.MonitorDtmf, ctl.monitordtmf)
ctl.MonitorDtmf = 0
print("MonitorDtmf", ctl.MonitorDtmf)
print("OutID", ctl.OutID, math.type(ctl.OutID))
print("GetTPNO", "[" .. ctl:GetTPNO() .. "]")
print("Test", ctl:Test())
print("coerced", ctl:PlayWav("nothing-here.wav", "0"))
)");
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "Marlune Voice Modem\n0\n")) << out;
    EXPECT_TRUE(Has(out, "MonitorDtmf\ttrue\ttrue\n")) << out;
    EXPECT_TRUE(Has(out, "MonitorDtmf\tfalse\n")) << out;
    EXPECT_TRUE(Has(out, "OutID\t-1\tinteger\n")) << out;
    EXPECT_TRUE(Has(out, "GetTPNO\t[]\n")) << out;
    EXPECT_TRUE(Has(out, "coerced\t")) << out;
}

TEST_F(LuaScriptTest, MistakesAreReportedWithTheScriptLine) {
    struct Case {
        const char* script;
        const char* message;
    } cases[] = {
        {"ctl:InitLine(0)\nlocal t = nil\nprint(t.field)\n", "app.lua:3: attempt to index a nil value (local 't')"},
        {"ctl:InitLine(0)\n\nctl:AnswerTP2()\n", "app.lua:3: unknown name: AnswerTP2 (0x80020006)"},
        {"local x = ctl.NoSuchProperty\n", "app.lua:1: unknown name: NoSuchProperty (0x80020006)"},
        {"\nctl:InitLine()\n",
         "app.lua:2: wrong number of arguments for InitLine: it takes 1 (Index), got 0 (0x8002000E)"},
        {"ctl:CallOut(0, '5551234', 3)\n",
         "app.lua:1: wrong number of arguments for CallOut: it takes 2 (Index, szNumber), got 3 (0x8002000E)"},
        {"ctl:PlayWav('a.wav', 4294967295)\n",
         "app.lua:1: overflow: parameter Dev of PlayWav is a long (-2147483648 to 2147483647), got 4294967295 "
         "(0x8002000A)"},
        {"ctl:RecordWav({1}, 'a.wav', 3)\n",
         "app.lua:1: type mismatch: parameter Dev of RecordWav is a long, got an array (0x80020005)"},
        {"ctl.MonitorDtmf = 'maybe'\n",
         "app.lua:1: type mismatch: the value of MonitorDtmf is a BOOL, got \"maybe\" (0x80020005)"},
        {"caller.no_such_thing{}\n", "app.lua:1: no caller command 'no_such_thing'"},
        {"caller.keys{keys = '1'}\n", "app.lua:1: caller.keys: "},
        {"caller.ring{count = -1}\n", "app.lua:1: caller.ring: \"count\" of ring is a whole number"},
        {"ctl:InitLine(0)\nctl:OpenLine(0)\nfunction Ring(n)\n  ctl:AnswerTp(1)\nend\n",
         "app.lua:4: wrong number of arguments for AnswerTp: it takes 0, got 1 (0x8002000E) (in the Ring handler)"},
        {"ctl:InitLine(0)\nctl:OpenLine(0)\nfunction Ring(n)\n  wait(1)\nend\n",
         "app.lua:4: wait() cannot run in an event handler"},
        {"wait_event('Ring')\n", "app.lua:1: wait_event() runs in a task"},
        {"ctl:InitLine(0)\nctl:OpenLine(0)\nat(1, function()\n  error('in a task')\nend)\n", "app.lua:4: in a task"},
        {"ctl:InitLine(0\n", "app.lua:2: ')' expected (to close '(' at line 1)"},
    };
    const char* offer = "caller.offer{caller = '5551234'}\ncaller.ring{count = 1}\n";
    for (auto& c : cases) {
        RunScript(c.script, offer);
        EXPECT_EQ(status, 1) << c.script;
        EXPECT_TRUE(Has(err, std::string("marlune run: ") + c.message)) << c.script << "\n--- got: " << err;
    }
}

TEST_F(LuaScriptTest, AnAutomationErrorCarriesItsDescriptionAndCode) {
    RunScript(R"(local ok, e = pcall(ctl.PlayWav, ctl, "a.wav", 1e300)
print(ok, e.code == 0x8002000A, e.hresult, e.argErr)
print(e.description)
ok, e = pcall(function() return ctl.Nothing end)
print(ok, string.format("0x%08X", e.code), tostring(e))
ok, e = pcall(ctl.InitLine)
print(ok, e.hresult, e.argErr)
)");
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "false\ttrue\t0x8002000A\t0\n")) << out;
    EXPECT_TRUE(Has(out, "overflow: parameter Dev of PlayWav is a long (-2147483648 to 2147483647), got 1e+300\n"))
        << out;
    EXPECT_TRUE(Has(out, "false\t0x80020006\tapp.lua:4: unknown name: Nothing (0x80020006)\n")) << out;
    EXPECT_TRUE(Has(out, "false\t0x8002000E\tnil\n")) << out;
}

TEST_F(LuaScriptTest, EventsRunBetweenMessagesAndHandlersMayCallTheControl) {
    // The greeting is still playing when the key comes; StopPlayWav in the
    // key's handler ends it, and EndPlayAll is delivered after that handler
    // has returned, not inside it.
    RunScript(R"(write_tones("long.wav", {{440, 5}})
ctl:InitLine(0)
ctl:OpenLine(0)
local depth, order = 0, {}
local function note(s) order[#order + 1] = s end
function Ring(n) note("Ring " .. n) if n == 2 then ctl:AnswerTp() end end
function IsConnect(h) note("IsConnect") ctl:BeginMonitorDtmf(0) ctl:PlayWav("long.wav", 0) end
function DtmfIn(h, k)
  depth = depth + 1
  note("DtmfIn " .. k .. " at " .. now())
  ctl:StopPlayWav()
  note("after StopPlayWav")
  depth = depth - 1
end
function EndPlayAll() note("EndPlayAll depth " .. depth .. " at " .. now()) ctl:HandUp() end
function LineIsFree(h) note("LineIsFree") print(table.concat(order, "; ")) end
)",
              R"(caller.offer{caller = "5551234"}
caller.ring{count = 3, interval = 4}
at(6, function() caller.keys{keys = "7"} end)
)");
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "Ring 1; Ring 2; IsConnect; DtmfIn 7 at 6.0; after StopPlayWav; EndPlayAll depth 0 at 6.0; "
                         "LineIsFree\n"))
        << out;
}

TEST_F(LuaScriptTest, TasksWaitOnTheClockAndForEvents) {
    RunScript(R"(ctl:InitLine(0)
ctl:OpenLine(0)
function Ring(n) if n == 3 then ctl:AnswerTp() end end
function DisConnected(h) ctl:HandUp() end
)",
              R"(at(2, function()
  print("offer at", now())
  caller.offer{caller = "5551234"}
  caller.ring{count = 5, interval = 4}
  local ok, h = wait_event("IsConnect", 30)
  print("connected", ok, math.type(h), now())
  wait(2.5)
  print("hang up at", now())
  caller.hangup()
  print("free", wait_event("LineIsFree", 5), now())
  print("nothing", wait_event("Ring", 1.5), now())
end)
)");
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "offer at\t2.0\nconnected\ttrue\tinteger\t10.0\nhang up at\t12.5\n")) << out;
    EXPECT_TRUE(Has(out, "free\ttrue\t12.5\nnothing\tfalse\t14.0\n")) << out;
    EXPECT_TRUE(Has(out, "1 call(s)")) << out;
}

TEST_F(LuaScriptTest, TasksScheduleTasksFromAnyCoroutine) {
    // at() and after() take their function from the thread that calls
    // them: a task, a coroutine of the main chunk, a coroutine in a task.
    RunScript(R"(local order = {}
local function note(s) order[#order + 1] = s .. "@" .. now() end
coroutine.wrap(function() after(1, function() note("from a coroutine") end) end)()
at(2, function()
  after(1, function() note("from a task") end)
  coroutine.wrap(function() at(4, function() note("from a coroutine in a task") end) end)()
  wait(3)
  note("task")
end)
at(6, function() print(table.concat(order, "; ")) end)
)");
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "from a coroutine@1.0; from a task@3.0; from a coroutine in a task@4.0; task@5.0\n"))
        << out << err;
}
