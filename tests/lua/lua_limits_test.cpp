// An application cannot hang the runner: code that never gives the clock
// back is stopped at the handler limit, --for bounds every wait, and
// SIGINT/SIGTERM end a run wherever the script is, keeping what was
// recorded. Wall-clock bounds here are generous (several times what is
// needed): they tell a stopped run from one that waited for another limit.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <cstdio>

#include "platform/sim/wave_devices.h"
#include "tests/lua/lua_run.h"

namespace {

// Wall seconds (the tests are compiled to GBK, which <chrono> does not survive).
double Wall() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

const char* const kCallers = "caller.offer{caller = '5551234'}\ncaller.ring{count = 3, interval = 4}\n";
const char* const kLine = "ctl:InitLine(0)\nctl:OpenLine(0)\n";

class LuaLimitsTest : public LuaRunTest {
protected:
    // Starts `marlune ARGS`, waits until it printed "ready", sends `sig`
    // and answers its exit status (-1 when it did not exit by itself) and
    // how long it took to end after the signal.
    int SignalWhenReady(const std::string& args, int sig, double* seconds) {
        int out[2];
        if (pipe(out) != 0) return -2;
        pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            execl("/bin/sh", "sh", "-c", (std::string("exec ") + MARLUNE_BIN + " " + args + " 2>stderr.txt").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string seen;
        char buf[256];
        for (ssize_t n; seen.find("ready") == std::string::npos && (n = read(out[0], buf, sizeof buf)) > 0;)
            seen.append(buf, static_cast<size_t>(n));
        usleep(100000);  // well inside the loop
        const double sent = Wall();
        kill(pid, sig);
        int raw = 0;
        waitpid(pid, &raw, 0);
        *seconds = Wall() - sent;
        for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) seen.append(buf, static_cast<size_t>(n));
        close(out[0]);
        this->out = seen;
        err = testenv::ReadFile("stderr.txt");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
};

}  // namespace

TEST_F(LuaLimitsTest, CodeThatNeverGivesTheClockBackIsStoppedAtTheHandlerLimit) {
    struct Case {
        std::string app, callers, message;
    } cases[] = {
        {std::string(kLine) + "function Ring(n)\n  local x = 0\n  while true do x = x + 1 end\nend\n", kCallers,
         "app.lua:5: the Ring handler ran longer than the handler limit of 0.3 s"},
        {"local x = 0\nwhile true do\n  x = x + 1\nend\n", "",
         "app.lua:3: the main chunk of app.lua ran longer than the handler limit of 0.3 s"},
        // The main chunk's time starts again after each wait.
        {"wait(1)\nwhile true do end\n", "", "app.lua:2: the main chunk of app.lua ran longer"},
        // A pcall cannot hold the stop.
        {"at(1, function()\n  while true do pcall(function() while true do end end) end\nend)\n", "",
         "app.lua:2: the task of app.lua:1 ran longer than the handler limit of 0.3 s"},
    };
    for (auto& c : cases) {
        const double start = Wall();
        RunScript(c.app, c.callers, "--handler-limit 0.3");
        EXPECT_LT(Wall() - start, 4.0) << c.app;  // the default limit is 5 s
        EXPECT_EQ(status, 1) << c.app;
        EXPECT_TRUE(Has(err, "marlune run: " + c.message)) << c.app << "\n--- got: " << err;
    }
}

TEST_F(LuaLimitsTest, AStoppedApplicationsCallIsHungUpAndItsRecordingKept) {
    // The handler of the recording's start loops: the call is ended by the
    // runner, the two seconds recorded so far are in the call's folder.
    RunScript(std::string(kLine) + R"(function Ring(n) if n == 2 then ctl:AnswerTp() end end
function IsConnect() ctl:RecordWav(0, "msg.wav", 60) end
function RecordDevOpen() after(2, function() while true do end end) end
)",
              kCallers, "--handler-limit 0.3 --trace");
    EXPECT_EQ(status, 1) << err;
    EXPECT_TRUE(Has(err, "marlune run: app.lua:5: the task of app.lua:5 ran longer")) << err;
    EXPECT_TRUE(Has(out, "LineIsFree")) << out;
    EXPECT_TRUE(Has(out, "ended:     the session stopped during the call")) << out;
    std::vector<int16_t> samples;
    DWORD rate = 0;
    ASSERT_TRUE(sim::LoadWav("out/call-1/msg.wav", samples, rate)) << out;
    EXPECT_NEAR(static_cast<double>(samples.size()) / rate, 2.0, 0.3);
}

TEST_F(LuaLimitsTest, ValuesTooDeepOrTooLargeForTheHostAreALuaError) {
    struct Case {
        std::string app, message;
    } cases[] = {
        {"local t = 1\nfor i = 1, 40 do t = {t} end\nctl:InitLine(t)\n",
         "app.lua:3: tables nested deeper than 32 levels cannot be passed to the host"},
        {"local t = {}\nt[1] = t\nctl.MonitorDtmf = t\n",
         "app.lua:3: tables nested deeper than 32 levels cannot be passed to the host"},
        {"local t = {}\nt.self = t\ncaller.offer(t)\n",
         "app.lua:3: tables nested deeper than 32 levels cannot be passed to the host"},
        // Shared tables count each time they are reached.
        {"local t = {1}\nfor i = 1, 30 do t = {t, t} end\nctl:InitLine(t)\n",
         "app.lua:3: a value of more than 1048576 entries cannot be passed to the host"},
    };
    for (auto& c : cases) {
        RunScript(c.app);
        EXPECT_EQ(status, 1) << c.app;
        EXPECT_TRUE(Has(err, "marlune run: " + c.message)) << c.app << "\n--- got: " << err;
    }
    // Within the bound a value goes through, and the error can be caught.
    RunScript("local t = 1\nfor i = 1, 31 do t = {t} end\nprint(pcall(ctl.InitLine, ctl, t))\n"
              "local d = {}\nd[1] = d\nprint(pcall(ctl.InitLine, ctl, d))\n");
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "false\ttype mismatch: parameter Index of InitLine is a long")) << out;
    EXPECT_TRUE(Has(out, "false\ttables nested deeper than 32 levels")) << out;
}

TEST_F(LuaLimitsTest, CodeOverTheMemoryLimitIsStoppedAndTheCallsRecordingKept) {
    RunScript(std::string(kLine) + R"(function Ring(n) if n == 2 then ctl:AnswerTp() end end
function IsConnect() ctl:RecordWav(0, "msg.wav", 60) end
function RecordDevOpen() after(2, function() local t = {} while true do t[#t + 1] = {} end end) end
)",
              kCallers, "--memory-limit 16");
    EXPECT_EQ(status, 1) << err;
    EXPECT_TRUE(Has(err, "marlune run: the task of app.lua:5 needed more than the memory limit of 16 MB "
                         "(--memory-limit MB); stopped")) << err;
    EXPECT_TRUE(Has(out, "ended:     the session stopped during the call")) << out;
    std::vector<int16_t> samples;
    DWORD rate = 0;
    ASSERT_TRUE(sim::LoadWav("out/call-1/msg.wav", samples, rate)) << out;
    EXPECT_NEAR(static_cast<double>(samples.size()) / rate, 2.0, 0.3);

    // A pcall that catches the memory error does not hold the stop; garbage
    // alone never reaches the limit.
    struct Case {
        std::string app;
        int status;
        std::string message;
    } cases[] = {
        {"local t = {}\nwhile true do\n  pcall(function() for i = 1, 1000 do t[#t + 1] = i .. 'x' end end)\nend\n", 1,
         "marlune run: the main chunk of app.lua needed more than the memory limit of 8 MB"},
        {"for i = 1, 300 do local s = string.rep('x', 1000000) .. i end\nprint('done')\n", 0, ""},
        {"local ok, e = pcall(string.rep, 'x', 16000000)\nprint(ok, e)\n", 1,
         "marlune run: the main chunk of app.lua needed more than the memory limit of 8 MB"},
    };
    for (auto& c : cases) {
        RunScript(c.app, "", "--memory-limit 8");
        EXPECT_EQ(status, c.status) << c.app << err;
        EXPECT_TRUE(Has(err, c.message)) << c.app << "\n--- got: " << err;
    }
}

TEST_F(LuaLimitsTest, ForBoundsTheMainChunkAndTheTasksAlike) {
    struct Case {
        std::string app, args, printed;
    } cases[] = {
        {"while true do wait(1) end\n", "--for 30", "time limit: the run ended at 30 s"},
        {"for i = 1, 3000 do wait(1) end\nprint('not reached')\n", "--for 30", "time limit: the run ended at 30 s"},
        {"at(1, function() while true do wait(1) end end)\n", "--for 20", "time limit: the run ended at 20 s"},
        {"at(1, function() wait_event('Ring') end)\n", "", "time limit: the run ended at 3600 s"},
    };
    for (auto& c : cases) {
        RunScript(c.app, "", c.args);
        EXPECT_EQ(status, 0) << c.app << err;
        EXPECT_TRUE(Has(out, c.printed)) << c.app << out;
        EXPECT_FALSE(Has(out, "not reached")) << c.app;
    }
    // stop() in a handler ends a main chunk that is waiting too.
    RunScript(std::string(kLine) + "function Ring() stop() end\n" + kCallers + "while true do wait(1) end\n");
    EXPECT_EQ(status, 0) << err;
    EXPECT_FALSE(Has(out, "time limit")) << out;
}

TEST_F(LuaLimitsTest, SigintAndSigtermStopARunWhereverTheScriptIs) {
    struct Case {
        std::string app, callers, args;
        int sig, status;
    } cases[] = {
        {"print('ready') io.stdout:flush()\nwhile true do end\n", "", "", SIGINT, 130},
        {"print('ready') io.stdout:flush()\nwhile true do wait(1) end\n", "", "--real-time --no-sound", SIGINT, 130},
        {std::string(kLine) + R"(function Ring(n) if n == 2 then ctl:AnswerTp() end end
function IsConnect() ctl:RecordWav(0, "msg.wav", 60) end
function RecordDevOpen() after(1, function() print("ready") io.stdout:flush() while true do end end) end
)",
         kCallers, "", SIGTERM, 143},
    };
    for (auto& c : cases) {
        std::ofstream("app.lua") << c.app;
        std::string args = "run app.lua";
        if (!c.callers.empty()) {
            std::ofstream("callers.lua") << c.callers;
            args += " callers.lua";
        }
        double seconds = 0;
        int got = SignalWhenReady(args + " --out out " + c.args, c.sig, &seconds);
        EXPECT_EQ(got, c.status) << c.app << err;
        EXPECT_LT(seconds, 3.0) << c.app;  // not the 5 s handler limit
        EXPECT_TRUE(Has(err, c.sig == SIGINT ? "stopped by SIGINT" : "stopped by SIGTERM")) << err;
    }
    // The last run was recording for a second: the call is hung up, the
    // recording kept.
    EXPECT_TRUE(Has(out, "call 1: incoming from 5551234")) << out;
    std::vector<int16_t> samples;
    DWORD rate = 0;
    ASSERT_TRUE(sim::LoadWav("out/call-1/msg.wav", samples, rate));
    EXPECT_NEAR(static_cast<double>(samples.size()) / rate, 1.0, 0.3);
}
