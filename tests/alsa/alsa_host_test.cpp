// `marlune run --real-time` with an application that plays on the sound
// card: heard through the ALSA PCM; one line on stderr when the PCM is
// missing; nothing reaches ALSA with --no-sound.
#include <dlfcn.h>
#include <limits.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/alsa/alsa_fixture.h"

namespace {

class AlsaHostTest : public AlsaTest {
protected:
    void SetUp() override {
        AlsaTest::SetUp();
        voice = wav::Ramp(2400, 7);  // 0.3 s at 8 kHz
        wav::Save("tone.wav", wav::Pcm8k(voice));
        // Plays the tone on the sound card twice, one after the other.
        std::ofstream("app.lua") << "local plays = 1\n"
                                    "ctl:PlayWav(script_dir .. '/tone.wav', 1)\n"
                                    "function EndPlayAll()\n"
                                    "  print('played ' .. plays)\n"
                                    "  if plays < 2 then plays = plays + 1; ctl:PlayWav(script_dir .. '/tone.wav', 1) end\n"
                                    "end\n";
    }
    void Run(const std::string& options) { Marlune("run app.lua --out out --for 1 " + options); }
    // `marlune host OPTIONS` given JSON requests on stdin.
    void Host(const std::string& options, const std::string& requests) {
        std::ofstream("requests.jsonl") << requests;
        Marlune("host " + options + " <requests.jsonl");
    }
    // `marlune ARGS`: stdout in out, stderr in err, the exit status in status.
    void Marlune(const std::string& args) { Shell(std::string(MARLUNE_BIN) + " " + args); }
    void Shell(const std::string& command) {
        FILE* p = popen((command + " 2>stderr.txt").c_str(), "r");
        out.clear();
        char buf[4096];
        while (p && fgets(buf, sizeof buf, p)) out += buf;
        const int raw = p ? pclose(p) : -1;
        status = raw >= 0 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        err = testenv::ReadFile("stderr.txt");
    }
    static bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }
    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
    static int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

    std::vector<int16_t> voice;
    std::string out, err;
    int status = -1;
};

TEST_F(AlsaHostTest, RealTimeRunPlaysTheSoundCardThroughAlsa) {
    Run("--real-time");
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "played 1\nplayed 2\n")) << out;
    EXPECT_EQ(err, "");
    // The PCM is opened for each PlayWav; the file holds the last one whole.
    EXPECT_EQ(Captured(), voice);
}

TEST_F(AlsaHostTest, MissingDevicePrintsOneLineAndTheApplicationRunsOn) {
    setenv("MARLUNE_ALSA_DEVICE", "nonexistent", 1);
    Run("--real-time");
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "played 1\nplayed 2\n")) << out;
    EXPECT_EQ(Lines(err), 1) << err;
    EXPECT_TRUE(Has(err, "marlune: sound-card output is not audible: cannot open ALSA device \"nonexistent\": "))
        << err;
    EXPECT_TRUE(Has(err, "MARLUNE_ALSA_DEVICE")) << err;
}

// libasound is loaded when the sound card first plays: a machine without it
// runs the application on, with the sound card virtual and one line saying
// why. The library is hidden in a mount namespace of the run's own.
TEST_F(AlsaHostTest, WithoutTheAlsaLibraryTheApplicationRunsOnAndSaysWhy) {
    if (std::system("unshare -m true 2>/dev/null") != 0) GTEST_SKIP() << "no mount namespaces here";
    void* lib = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    Dl_info info{};
    ASSERT_NE(dladdr(dlsym(lib, "snd_pcm_open"), &info), 0);
    char real[PATH_MAX];
    ASSERT_NE(realpath(info.dli_fname, real), nullptr);
    Marlune("run app.lua --out out --for 1 --real-time");  // first with the library: heard
    ASSERT_EQ(err, "");
    const std::string run = std::string(MARLUNE_BIN) + " run app.lua --out out --for 1 --real-time";
    Shell("unshare -m sh -c 'mount --bind /dev/null " + std::string(real) + " && exec " + run + "'");
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "played 1\nplayed 2\n")) << out;
    EXPECT_EQ(Lines(err), 1) << err;
    EXPECT_TRUE(Has(err, "marlune: sound-card output is not audible: cannot load libasound.so.2: ")) << err;
}

TEST_F(AlsaHostTest, NoSoundKeepsTheSoundCardVirtual) {
    setenv("MARLUNE_ALSA_DEVICE", "nonexistent", 1);
    Run("--real-time --no-sound");
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "played 2\n")) << out;
    EXPECT_EQ(err, "");
    setenv("MARLUNE_ALSA_DEVICE", "marlune_capture", 1);
    Run("--real-time --no-sound");
    EXPECT_EQ(status, 0) << err;
    EXPECT_FALSE(testenv::FileExists(capture));
}

TEST_F(AlsaHostTest, JsonHostReportsAMissingDeviceOnceAndNotWithNoSound) {
    setenv("MARLUNE_ALSA_DEVICE", "nonexistent", 1);
    const std::string requests = "{\"id\":1,\"call\":\"PlayWav\",\"args\":[\"tone.wav\",1]}\n"
                                 "{\"id\":2,\"run\":0.4}\n"
                                 "{\"id\":3,\"call\":\"PlayWav\",\"args\":[\"tone.wav\",1]}\n"
                                 "{\"id\":4,\"run\":0.4}\n";
    Host("--real-time", requests);
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(Count(out, "\"EndPlayAll\""), 2) << out;
    EXPECT_EQ(Lines(err), 1) << err;
    EXPECT_TRUE(Has(err, "sound-card output is not audible: cannot open ALSA device \"nonexistent\"")) << err;
    Host("--real-time --no-sound", requests);
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(Count(out, "\"EndPlayAll\""), 2) << out;
    EXPECT_EQ(err, "");
}

}  // namespace

TEST_F(AlsaHostTest, ListenPlaysTheLineThroughAlsaInsteadOfTheSoundCard) {
    // A call answered at its first ring that hears the tone on the line.
    std::ofstream("line.lua") << "ctl:InitLine(0)\n"
                                 "ctl:OpenLine(0)\n"
                                 "function Ring(n) ctl:AnswerTp() end\n"
                                 "function IsConnect(h) ctl:PlayWav(script_dir .. '/tone.wav', 0) end\n"
                                 "function EndPlayAll() print('line played'); ctl:HandUp() end\n";
    std::ofstream("caller.lua") << "caller.offer{caller = '5551234'}\ncaller.ring{count = 1}\n";
    Marlune("run line.lua caller.lua --out out --for 1 --real-time --listen");
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "line played")) << out;
    EXPECT_EQ(err, "");
    EXPECT_EQ(Captured(), voice);
    // Without --listen the line stays off the sound card.
    std::remove(capture.c_str());
    Marlune("run line.lua caller.lua --out out --for 1 --real-time");
    EXPECT_TRUE(Has(out, "line played")) << out;
    EXPECT_FALSE(testenv::FileExists(capture));
}
