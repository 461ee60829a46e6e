// `marlune number` and `marlune say`: the program as a person runs it, with
// a small voice pack made here.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/riff_wave.h"
#include "tests/support/audio_fixture.h"

namespace {

// The tests are compiled to GBK; the command line and the output are UTF-8.
std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

class SpeakTest : public MarluneTest {
protected:
    std::string Run(const std::string& args, std::string env = "") {
        std::string cmd = env + " " + std::string(MARLUNE_BIN) + " " + args + " 2>stderr.txt";
        FILE* p = popen(cmd.c_str(), "r");
        std::string out;
        char buf[4096];
        while (p && fgets(buf, sizeof buf, p)) out += buf;
        status = p ? pclose(p) : -1;
        return out;
    }
    // A pack in `dir`: 你 and 好 with distinct sounds, and the fallbacks.
    void MakePack(const std::string& dir) {
        mkdir(dir.c_str(), 0777);
        mkdir((dir + "/wav").c_str(), 0777);
        const std::string gbkNi = "你", gbkHao = "好";
        std::string index = gbkNi + std::string(1, '\0') + "x" + "ni3" + std::string(1, '\0') + gbkHao +
                            std::string(1, '\0') + "x" + "hao3" + std::string(1, '\0');
        wav::Save(dir + "/hanzi.dat", index);
        ni = wav::Ramp(2000, 3);
        hao = wav::Ramp(2000, 7);
        wav::Save(dir + "/wav/ni3.wav", wav::Pcm8k(ni));
        wav::Save(dir + "/wav/hao3.wav", wav::Pcm8k(hao));
        wav::Save(dir + "/wav/_long.wav", wav::Pcm8k(wav::Ramp(400, 11)));
        wav::Save(dir + "/wu2.wav", wav::Pcm8k(wav::Ramp(400, 13)));
    }
    std::vector<int16_t> Samples(const std::string& path) {
        riff::WaveInfo info;
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(riff::ReadFile(path, info, bytes)) << path;
        std::vector<int16_t> s(bytes.size() / 2);
        for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        return s;
    }
    static size_t Find(const std::vector<int16_t>& in, const std::vector<int16_t>& what) {
        auto it = std::search(in.begin(), in.end(), what.begin(), what.end());
        return it == in.end() ? std::string::npos : static_cast<size_t>(it - in.begin());
    }
    int status = 0;
    std::vector<int16_t> ni, hao;
};

TEST_F(SpeakTest, NumberPrintsTheReadingWithItsMarkers) {
    EXPECT_EQ(Run("number 10"), U8(u8"一十,点零零\n"));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Run("number 1.2.3"), U8(u8"一点二零\n"));
    Run("number");
    EXPECT_NE(status, 0);
}

// From a folder without a pack, with the pack named by MARLUNE_VOICE_DIR:
// the caller hears 你 then 好 on the line, and the WAV says so.
TEST_F(SpeakTest, SayOnTheLineWritesWhatTheCallerHeard) {
    MakePack(dir + "/pack");
    mkdir("elsewhere", 0777);
    std::string out = Run(U8(u8"say 你好 --line --out heard.wav"), "cd elsewhere && MARLUNE_VOICE_DIR=" + dir + "/pack");
    ASSERT_EQ(status, 0) << testenv::ReadFile("stderr.txt");
    EXPECT_NE(out.find("heard.wav"), std::string::npos);
    auto heard = Samples("elsewhere/heard.wav");
    const size_t a = Find(heard, ni), b = Find(heard, hao);
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    EXPECT_EQ(b, a + ni.size()) << "the sounds follow one another without a gap";
    // The log of the call is in the folder the command ran in.
    std::string log;
    FILE* p = popen("cat elsewhere/*modem.txt", "r");
    char buf[4096];
    while (p && fgets(buf, sizeof buf, p)) log += buf;
    if (p) pclose(p);
    EXPECT_NE(log.find("ni3"), std::string::npos);
}

TEST_F(SpeakTest, SayOnTheSoundCardMixesEnglishSpeech) {
    MakePack(dir + "/pack");
    Run(U8(u8"say \"Hello 你好 world\""), "MARLUNE_VOICE_DIR=" + dir + "/pack");
    ASSERT_EQ(status, 0) << testenv::ReadFile("stderr.txt");
    auto heard = Samples("say.wav");
    // 22,050 Hz: the two 0.25 s sounds and two spoken words take well over half a second.
    EXPECT_GT(heard.size(), 22050u * 6 / 10);
    const size_t loud = std::count_if(heard.begin(), heard.end(), [](int16_t v) { return v > 1000 || v < -1000; });
    EXPECT_GT(loud, 22050u / 4);
}

TEST_F(SpeakTest, SayWithoutAPackSaysWhereItLooked) {
    Run(U8(u8"say 你好"), "MARLUNE_VOICE_DIR=" + dir + "/none");
    EXPECT_NE(status, 0);
    EXPECT_NE(testenv::ReadFile("stderr.txt").find("voice pack"), std::string::npos);
}

}  // namespace

// `marlune host` finds the pack as `run` does: from a folder without one,
// the pack named by MARLUNE_VOICE_DIR speaks; a missing one is named.
TEST_F(SpeakTest, TheHostFindsThePackOrSaysWhereItLooked) {
    MakePack(dir + "/pack");
    mkdir("elsewhere", 0777);
    std::ofstream("elsewhere/input.txt")
        << "{\"id\":1,\"call\":\"InitLine\",\"args\":[0]}\n{\"id\":2,\"call\":\"OpenLine\",\"args\":[0]}\n"
           "{\"id\":3,\"cmd\":\"offer\",\"caller\":\"5551234\"}\n{\"id\":4,\"run\":0.5}\n"
           "{\"id\":5,\"call\":\"AnswerTp\"}\n{\"id\":6,\"run\":1}\n"
        << U8(u8"{\"id\":7,\"call\":\"PlayStr\",\"args\":[\"你好\",0]}\n") << "{\"id\":8,\"run\":2}\n";
    std::string out = Run("host < input.txt", "cd elsewhere && MARLUNE_VOICE_DIR=" + dir + "/pack");
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("{\"id\":7,\"result\":0}"), std::string::npos) << out;
    EXPECT_EQ(out.find("error"), std::string::npos) << out;
    EXPECT_NE(out.find("\"event\":\"EndPlayAll\""), std::string::npos) << out;
    EXPECT_EQ(testenv::ReadFile("elsewhere/stderr.txt"), "");
    EXPECT_FALSE(testenv::FileExists("elsewhere/hanzi.dat")) << "the links go with the host";

    out = Run("host < input.txt", "cd elsewhere && MARLUNE_VOICE_DIR=" + dir + "/none");
    const std::string err = testenv::ReadFile("elsewhere/stderr.txt");
    EXPECT_NE(err.find("marlune host: no voice pack (hanzi.dat) in " + dir + "/elsewhere or " + dir + "/none"),
              std::string::npos)
        << err << " (scratch folder " << dir << ")";
}
