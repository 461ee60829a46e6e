// What a run leaves and says when things go wrong: a runner killed while a
// caller speaks keeps the message up to about a second before; a full disk
// keeps what was written as a valid WAV, says so and exits non-zero; a
// summary lists only files that exist; a caller's number cannot drive the
// terminal; a call the session stops is stored as stopped.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "tests/lua/lua_run.h"

namespace {

const char* const kLine = "ctl:InitLine(0)\nctl:OpenLine(0)\n";

uint32_t U32At(const std::string& s, size_t at) {
    const auto* b = reinterpret_cast<const uint8_t*>(s.data() + at);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

// A mu-law WAV as the control writes it: both sizes agree with the file's.
::testing::AssertionResult ValidRecording(const std::string& file) {
    if (file.size() < 46) return ::testing::AssertionFailure() << "only " << file.size() << " bytes";
    const uint32_t n = U32At(file, 42);
    if (file.substr(0, 4) != "RIFF" || file.substr(38, 4) != "data" || U32At(file, 4) != n + 38 ||
        file.size() != n + 46u)
        return ::testing::AssertionFailure() << "header says " << n << " bytes, file has " << file.size();
    return ::testing::AssertionSuccess();
}

class LuaOutputsTest : public LuaRunTest {
protected:
    void TearDown() override {
        if (mounted_) umount2("small", MNT_DETACH);
        LuaRunTest::TearDown();
    }
    // "small": a file system of `size` of its own (root only); false when
    // it cannot be mounted.
    bool MountSmall(const char* size) {
        mkdir("small", 0777);
        mounted_ = mount("marlune-test", "small", "tmpfs", 0, size) == 0;
        return mounted_;
    }
    static std::string Cwd() {
        char buf[4096];
        return getcwd(buf, sizeof buf) ? buf : ".";
    }
    bool mounted_ = false;
};

}  // namespace

TEST_F(LuaOutputsTest, ARunnerKilledWhileTheCallerSpeaksKeepsTheMessageUpToASecondBefore) {
    // On the wall clock: answered at once, the caller speaks from the start
    // of the recording, the runner is killed 3.5 s into it.
    RunScript(std::string(kLine) + R"(function Ring(n) ctl:AnswerTp() end
function IsConnect() ctl:RecordWav(0, "msg.wav", 30) end
)",
              R"(write_tones("voice.wav", {{440, 20}})
at(0.5, function()
  caller.offer{caller = "13800138000"}
  caller.ring{count = 1, interval = 4}
  wait_event("RecordDevOpen", 10)
  caller.caller_voice{wav = "voice.wav"}
  wait(3.5)
  os.execute("kill -KILL $PPID")
  wait(60)
end)
)",
              "--real-time --no-sound");
    EXPECT_NE(status, 0);
    const std::string file = testenv::ReadFile("out/msg.wav");
    ASSERT_TRUE(ValidRecording(file));
    const double seconds = U32At(file, 42) / 8000.0;
    EXPECT_GE(seconds, 2.0) << err;
    EXPECT_LE(seconds, 3.6) << err;
}

TEST_F(LuaOutputsTest, AFullDiskKeepsAValidMessageSaysSoAndExitsNonZero) {
    // The whole run on a small file system (root only; skipped elsewhere):
    // the 10 s message (80,000 bytes) does not fit, nor anywhere else.
    if (!MountSmall("size=64k")) GTEST_SKIP() << "cannot mount a tmpfs";
    std::ofstream("app.lua") << std::string(kLine) + R"(function Ring(n) ctl:AnswerTp() end
function IsConnect() ctl:RecordWav(0, "msg.wav", 10) end
function EndRecord() ctl:HandUp() end
)";
    std::ofstream("callers.lua") << R"(local voice = script_dir .. "/voice.wav"
write_tones(voice, {{440, 12}})
at(0.5, function()
  caller.offer{caller = "13800138000"}
  caller.ring{count = 1, interval = 4}
  wait_event("RecordDevOpen", 10)
  caller.caller_voice{wav = voice}
  wait_event("LineIsFree", 30)
end)
)";
    Marlune("run app.lua callers.lua --out small/out --no-history");
    EXPECT_EQ(status, 3) << err << out;
    const std::string file = testenv::ReadFile("small/out/msg.wav");
    ASSERT_TRUE(ValidRecording(file)) << err;
    EXPECT_LT(U32At(file, 42), 80000u);
    EXPECT_GT(U32At(file, 42), 8000u);
    EXPECT_TRUE(Has(err, "recording msg.wav: write failed (the disk is full")) << err;
    EXPECT_TRUE(Has(err, "marlune run: call 1: the message recorded in")) << err;
    EXPECT_TRUE(Has(err, "1 recorded message(s) lost")) << err;
    EXPECT_TRUE(Has(out, "  LOST:      the message recorded in msg.wav: the file holds")) << out;
}

TEST_F(LuaOutputsTest, AMessageWhoseFolderWasRemovedIsReportedLostAndTheHistorySaysSo) {
    RunScript(std::string(kLine) + R"(os.execute("mkdir -p inbox")
function Ring(n) ctl:AnswerTp() end
function IsConnect() ctl:RecordWav(0, "inbox/msg.wav", 5) end
function RecordDevOpen() after(2, function() os.execute("rm -rf inbox") end) end
function EndRecord() ctl:HandUp() end
)",
              R"(at(0.5, function()
  caller.offer{caller = "13800138000"}
  caller.ring{count = 1, interval = 4}
  wait_event("LineIsFree", 30)
end)
)");
    EXPECT_EQ(status, 3) << err << out;
    EXPECT_TRUE(Has(err, "inbox/msg.wav is lost: there is no file of that name")) << err;
    EXPECT_TRUE(Has(out, "  LOST:      the message recorded in inbox/msg.wav: there is no file of that name")) << out;
    EXPECT_TRUE(Has(out, "lost.txt)")) << out;
    Marlune("calls out --json");
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "call-1/lost.txt")) << out;
}

TEST_F(LuaOutputsTest, ASummaryListsOnlyTheFilesThatWereWritten) {
    // An output folder that turns read-only once made: no call folder, no file.
    if (!MountSmall("size=1m")) GTEST_SKIP() << "cannot mount a tmpfs";
    mkdir("small/out", 0777);
    if (mount(nullptr, "small", nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) GTEST_SKIP() << "cannot remount";
    std::ofstream("app.lua") << std::string(kLine) + "function Ring(n) ctl:AnswerTp() end\n";
    std::ofstream("callers.lua") << "at(0.5, function()\n  caller.offer{caller = '13800138000'}\n"
                                    "  caller.ring{count = 1, interval = 4}\n  wait_event('IsConnect', 10)\n"
                                    "  caller.hangup()\nend)\n";
    Marlune("run app.lua callers.lua --out small/out --no-history");
    EXPECT_TRUE(Has(out, "call 1: incoming from 13800138000")) << out << err;
    EXPECT_TRUE(Has(out, "  files:     none written in ")) << out;
    EXPECT_FALSE(Has(out, "log.txt")) << out;
    EXPECT_TRUE(Has(err, "cannot make the folder ")) << err;
}

TEST_F(LuaOutputsTest, ACallersNumberCannotDriveTheTerminalAndAStoppedCallIsStoredAsStopped) {
    // The caller's number carries escape codes; the call is up when the
    // time runs out.
    RunScript(std::string(kLine) + "function Ring(n) ctl:AnswerTp() end\n",
              "caller.offer{caller = '\\27[2J\\27[1;1H13800138000'}\ncaller.ring{count = 1, interval = 4}\n",
              "--for 20");
    ASSERT_EQ(status, 0) << err << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    EXPECT_TRUE(Has(out, "incoming from \\x1B[2J\\x1B[1;1H13800138000")) << out;
    EXPECT_TRUE(Has(out, "ended:     the session stopped during the call")) << out;

    Marlune("calls out");
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    EXPECT_TRUE(Has(out, "\\x1B[2J")) << out;
    EXPECT_TRUE(Has(out, " stopped ")) << out;
}
