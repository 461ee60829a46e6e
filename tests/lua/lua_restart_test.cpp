// Runs one after another (or at once) on the same output folder: a later
// run never writes over what an earlier one left, killed or not.
#include <dirent.h>
#include <sys/stat.h>

#include <map>

#include "tests/lua/lua_run.h"

namespace {

// Every regular file under `dir` (symbolic links left out), by path.
void Files(const std::string& dir, std::map<std::string, std::string>& files) {
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name, path = dir + "/" + name;
        struct stat st {};
        if (name == "." || name == ".." || lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) Files(path, files);
        if (S_ISREG(st.st_mode)) files[path] = testenv::ReadFile(path);
    }
    closedir(d);
}

std::map<std::string, std::string> Files(const std::string& dir) {
    std::map<std::string, std::string> files;
    Files(dir, files);
    return files;
}

// The first call is served; the second caller is leaving a message when
// the service is killed.
const char* const kKilledCallers = R"(
write_tones("voice.wav", {{330, 0.5}, {0, 0.2}, {440, 1.0}})
local function dial(number)
  caller.offer{caller = number}
  caller.ring{count = 4, interval = 4}
  assert(wait_event("IsConnect", 30), "the line did not answer")
end
at(1, function()
  dial("13800138000")
  wait_event("EndPlayAll")
  caller.keys{keys = "0"}
  wait_event("LineIsFree", 60)
  wait(3)
  dial("13912345678")
  wait_event("EndPlayAll")
  caller.keys{keys = "2"}
  wait_event("RecordDevOpen", 60)
  caller.caller_voice{wav = "voice.wav"}
  wait(1)
  os.execute("kill -KILL $PPID")
  wait(60)
end)
)";

class LuaRestartTest : public LuaRunTest {
protected:
    void Balance(const std::string& callers) {
        Marlune(std::string("run ") + MARLUNE_EXAMPLES + "/balance.lua " + callers + " --out out");
    }
    // What `before` held is still there, byte for byte; the day's log
    // (appended to by every run) begins with what it held.
    static void Kept(const std::map<std::string, std::string>& before, const std::map<std::string, std::string>& now) {
        for (auto& [path, bytes] : before) {
            auto it = now.find(path);
            ASSERT_NE(it, now.end()) << path;
            if (path.size() > 9 && path.compare(path.size() - 9, 9, "modem.txt") == 0)
                EXPECT_EQ(it->second.substr(0, bytes.size()), bytes) << path;
            else
                EXPECT_TRUE(it->second == bytes) << path << " was changed";
        }
    }
};

}  // namespace

TEST_F(LuaRestartTest, AServiceKilledInTheMiddleOfACallKeepsEverythingWhenItStartsAgain) {
    std::ofstream("killed.lua") << kKilledCallers;
    Balance("killed.lua");
    ASSERT_NE(status, 0) << err << out;
    ASSERT_FALSE(Has(out, "call 2: ")) << out;
    ASSERT_TRUE(testenv::FileExists("out/call-1/heard.wav")) << out;
    ASSERT_TRUE(testenv::FileExists("out/call-2")) << out;  // the call that was going on
    const auto before = Files("out");

    Balance(std::string(MARLUNE_EXAMPLES) + "/balance_callers.lua");
    ASSERT_EQ(status, 0) << err << out;
    Kept(before, Files("out"));
    // The new calls are numbered on from the killed one, beside the old.
    EXPECT_TRUE(Has(out, "call 3: incoming from 13800138000")) << out;
    EXPECT_TRUE(Has(out, "call 5: incoming from 02087654321")) << out;
    EXPECT_TRUE(Has(out, "/out/call-4/message-4.wav")) << out;
    EXPECT_TRUE(testenv::FileExists("out/message-4.wav"));
    EXPECT_TRUE(testenv::FileExists("out/line_tap-2.wav"));
    for (int n = 3; n <= 5; ++n) EXPECT_TRUE(testenv::FileExists("out/call-" + std::to_string(n) + "/heard.wav")) << n;
    EXPECT_FALSE(testenv::FileExists("out/call-6"));
}

TEST_F(LuaRestartTest, TheDemoRunTwiceLeavesSixCallsAndBothMessages) {
    Marlune("demo --out out");
    ASSERT_EQ(status, 0) << err;
    const auto first = Files("out");
    Marlune("demo --out out");
    ASSERT_EQ(status, 0) << err;
    Kept(first, Files("out"));
    EXPECT_TRUE(Has(out, "call 4: ") && Has(out, "call 6: ")) << out;
    EXPECT_TRUE(Has(out, "/out/line_tap-2.wav: the whole session")) << out;
    // The demo's callers leave one message a run.
    for (const char* message : {"out/message-2.wav", "out/call-2/message-2.wav", "out/message-5.wav",
                                "out/call-5/message-5.wav"})
        EXPECT_GT(testenv::ReadFile(message).size(), 8000u) << message;
    EXPECT_TRUE(testenv::FileExists("out/call-6/timeline.png"));
    EXPECT_FALSE(testenv::FileExists("out/call-7"));
}

// A number another run took meanwhile is passed over; a recording named
// like one of the runner's own files is copied under a fresh name, and one
// made in the call's own folder stays where it is.
TEST_F(LuaRestartTest, NamesAlreadyTakenAreNeverWrittenOver) {
    RunScript(R"(
ctl:InitLine(0)
ctl:OpenLine(0)
function Ring(n) if n == 1 then ctl:AnswerTp() end end
function IsConnect(h)
  ctl:RecordWav(0, call_id() == 1 and "heard.wav" or string.format("call-%d/voice.wav", call_id()), 1)
end
function EndRecord() ctl:HandUp() end
)",
              R"(
local function call(number)
  caller.offer{caller = number}
  caller.ring{count = 1}
  wait_event("LineIsFree", 30)
end
at(1, function()
  call("1")
  os.execute("mkdir call-2 && echo another run > call-2/theirs.txt")
  call("2")
end)
)");
    ASSERT_EQ(status, 0) << err << out;
    EXPECT_TRUE(Has(out, "call 3: incoming from 2")) << out;
    EXPECT_EQ(testenv::ReadFile("out/call-2/theirs.txt"), "another run\n");
    EXPECT_EQ(Files("out/call-2").size(), 1u);
    // Call 1: the runner's heard.wav (silence: nothing was played) and the recording.
    EXPECT_TRUE(Has(out, "/out/call-1/heard-2.wav (")) << out;
    EXPECT_TRUE(Has(err, "/out/call-1/heard.wav is already there and is kept; this one is ")) << err;
    EXPECT_EQ(testenv::ReadFile("out/call-1/heard.wav").substr(0, 4), "RIFF");
    EXPECT_NE(testenv::ReadFile("out/call-1/heard.wav"), testenv::ReadFile("out/call-1/heard-2.wav"));
    EXPECT_GT(testenv::ReadFile("out/call-1/heard-2.wav").size(), 4000u);
    // Call 3 recorded into its folder.
    EXPECT_TRUE(Has(out, "/out/call-3/voice.wav (")) << out;
    EXPECT_FALSE(testenv::FileExists("out/call-3/voice-2.wav"));
    EXPECT_GT(testenv::ReadFile("out/call-3/voice.wav").size(), 4000u);
}
