// The faults a user met, driven through `marlune host` as a host program
// would: a WAV chunk claiming 4 GiB, a failed write while saving a
// recording, a control destroyed while recording, and an output device
// left open by a failed write.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/audio_fixture.h"

using nlohmann::json;

namespace {

class FaultScenarioTest : public MarluneTest {
protected:
    std::vector<json> Host(const std::vector<std::string>& requests) {
        std::ofstream in("input.txt");
        for (auto& r : requests) in << r << "\n";
        in.close();
        FILE* p = popen((std::string(MARLUNE_BIN) + " host < input.txt 2>stderr.txt").c_str(), "r");
        std::vector<json> out;
        char buf[65536];
        while (p && fgets(buf, sizeof buf, p)) out.push_back(json::parse(buf));
        if (p) pclose(p);
        return out;
    }
    static json Result(const std::vector<json>& out, int id) {
        for (auto& j : out)
            if (j.contains("id") && j["id"] == id) return j.contains("result") ? j["result"] : j;
        return json();
    }
    static int Count(const std::vector<json>& out, const std::string& event) {
        int n = 0;
        for (auto& j : out) n += j.contains("event") && j["event"] == event;
        return n;
    }
    static std::string Calls(const std::string& on) {
        return R"({"id":90,"call":"InitLine","args":[0]})" "\n" R"({"id":91,"call":"OpenLine","args":[0]})"
               "\n" R"({"id":92,"cmd":"offer","caller":"5551234"})" "\n" R"({"id":93,"run":1})"
               "\n" R"({"id":94,"call":"AnswerTp"})" "\n" R"({"id":95,"run":1})" + on;
    }
};

TEST_F(FaultScenarioTest, AChunkClaimingFourGigabytesPlaysTheFallbackSound) {
    wav::Save("huge.wav", "RIFF" + wav::U32(0xFFFFFFFFu) + "WAVE" + "fmt " + wav::U32(16) + wav::Fmt(1, 1, 8000, 16) +
                              "data" + wav::U32(0xFFFFFFFFu) + std::string(88, 'x'));
    wav::Save("wu2.wav", wav::Pcm8k(wav::Ramp(800)));
    auto out = Host({R"({"id":1,"call":"PlayWav","args":["huge.wav",1]})", R"({"id":2,"run":2})"});
    EXPECT_EQ(Result(out, 1), 0);
    EXPECT_EQ(Count(out, "EndPlayAll"), 1);
}

TEST_F(FaultScenarioTest, AFailedWriteStillLeavesOneCompleteRecording) {
    auto out = Host({R"({"id":1,"call":"RecordWav","args":[1,"msg.wav",1]})", R"({"id":2,"run":0.5})",
                     R"({"id":3,"cmd":"file_fault","function":"WriteFile","count":1})", R"({"id":4,"run":1})"});
    EXPECT_EQ(Count(out, "EndRecord"), 1);
    EXPECT_FALSE(testenv::FileExists("msg.wav"));
    bool saved = false;
    for (auto& j : out)
        if (j.contains("messagebox") && j["messagebox"]["text"].get<std::string>().rfind("Error Create file.", 0) == 0) {
            const std::string text = j["messagebox"]["text"];
            const auto at = text.find(".wav");
            const auto from = text.rfind(':', at);
            ASSERT_NE(at, std::string::npos);
            const std::string name = text.substr(from + 1, at + 4 - from - 1);
            EXPECT_EQ(testenv::ReadFile(name).size(), 8046u) << name;
            saved = true;
        }
    EXPECT_TRUE(saved);
}

TEST_F(FaultScenarioTest, AControlDestroyedWhileRecordingKeepsItAndFreesTheDevice) {
    auto out = Host({R"({"id":1,"call":"RecordWav","args":[1,"first.wav",30]})", R"({"id":2,"run":2})",
                     R"({"id":3,"control":"destroy"})", R"({"id":4,"control":"create"})",
                     R"({"id":5,"call":"RecordWav","args":[1,"second.wav",1]})", R"({"id":6,"run":2})"});
    EXPECT_EQ(testenv::ReadFile("first.wav").size(), 16046u);
    EXPECT_EQ(Result(out, 5), 0);
    EXPECT_EQ(Count(out, "EndRecord"), 1);
    EXPECT_EQ(testenv::ReadFile("second.wav").size(), 8046u);
}

TEST_F(FaultScenarioTest, ADeviceLeftOpenByAFailedWriteIsNotForgotten) {
    wav::Save("hello.wav", wav::Pcm8k(wav::Ramp(800)));
    auto out = Host({Calls("\n" R"({"id":1,"cmd":"wave_fault","function":"waveOutWrite","result":7,"count":1})"),
                     R"({"id":2,"call":"PlayWav","args":["hello.wav",0]})",
                     R"({"id":3,"call":"PlayWav","args":["hello.wav",1]})", R"({"id":4,"run":1})",
                     R"({"id":5,"call":"PlayWav","args":["hello.wav",0]})", R"({"id":6,"run":1})",
                     R"({"id":7,"call":"PlayWav","args":["hello.wav",0]})", R"({"id":8,"run":1})"});
    EXPECT_EQ(Result(out, 2), -1);
    EXPECT_EQ(Result(out, 3), 0);
    EXPECT_EQ(Result(out, 5), 0);
    EXPECT_EQ(Result(out, 7), 0);
    EXPECT_EQ(Count(out, "EndPlayAll"), 3);
}

}  // namespace
