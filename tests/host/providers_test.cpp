// The host's call scenarios on both telephony libraries: the virtual modem
// (`marlune host`) and the AT provider over the modem simulator
// (`marlune host --modem-sim`). The same requests give the same answers,
// events (at the same virtual times), log and files.
#include <sys/stat.h>

#include <map>

#include "tests/host/host_fixture.h"

namespace {

// What one run left behind, with call handles renamed in order of
// appearance (each library numbers its calls its own way).
struct Outputs {
    std::vector<json> lines;
    std::vector<std::string> log;
    std::map<std::string, std::string> files;
};

json Renamed(const json& j, std::map<int64_t, std::string>& handles) {
    if (j.is_object()) {
        json out = json::object();
        for (auto& [k, v] : j.items()) out[k] = Renamed(v, handles);
        return out;
    }
    if (j.is_array()) {
        json out = json::array();
        for (auto& v : j) out.push_back(Renamed(v, handles));
        return out;
    }
    if (j.is_number_integer() && j.get<int64_t>() >= 0x10000) {
        auto [it, added] = handles.emplace(j.get<int64_t>(), "h" + std::to_string(handles.size() + 1));
        return it->second;
    }
    return j;
}

}  // namespace

class ProvidersTest : public HostTest {
protected:
    // Runs `input` on both libraries, each in its own folder holding `files`.
    std::pair<Outputs, Outputs> Both(const std::string& input, const std::vector<std::pair<std::string, std::string>>& files = {},
                             const std::vector<std::string>& outputs = {}) {
        Outputs runs[2];
        const char* args[2] = {"host", "host --modem-sim"};
        for (int i = 0; i < 2; ++i) {
            std::string folder = i ? "at" : "virtual";
            mkdir(folder.c_str(), 0755);
            for (auto& [name, bytes] : files) std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
            std::map<int64_t, std::string> handles;
            for (auto& j : Parse(HostTest::Run(args[i], input, folder))) {
                json r = Renamed(j, handles);
                if (!r.contains("messagebox")) runs[i].lines.push_back(r);  // the closing notice
            }
            EXPECT_EQ(status, 0) << args[i];
            runs[i].log = LogTextsIn(folder);
            for (auto& name : outputs) runs[i].files[name] = testenv::ReadFile(folder + "/" + name);
        }
        return {runs[0], runs[1]};
    }

    // Expects the same lines on both but for the answers to the requests
    // `own` (the device name, the virtual modem's call handle at an offer).
    static void ExpectSame(const Outputs& a, const Outputs& b, const std::vector<int>& own) {
        // The AT library's own diagnostics (the voice format it chose) are its own too.
        auto mine = [&](const json& j) {
            return j.contains("debug") ||
                   (j.contains("id") && std::find(own.begin(), own.end(), j["id"].get<int>()) != own.end());
        };
        // The AT library reports the caller id once the modem's block is
        // complete (0.2 s after a block without a name), and ends a
        // recording once the modem has delivered its last sound (and with
        // it the call the recording drops); the time aside, the events are
        // the same.
        auto line = [](json j) {
            const std::string event = j.value("event", "");
            if (event == "CallIDIn" || event == "EndRecord" || event == "LineIsFree") j.erase("t");
            return j.dump();
        };
        std::vector<std::string> x, y;
        for (auto& j : a.lines)
            if (!mine(j)) x.push_back(line(j));
        for (auto& j : b.lines)
            if (!mine(j)) y.push_back(line(j));
        EXPECT_EQ(x, y);
        EXPECT_EQ(a.log, b.log);
        EXPECT_EQ(a.files, b.files);
    }

    static std::vector<std::string> EventList(const Outputs& r) {
        std::vector<std::string> out;
        for (auto& j : r.lines)
            if (j.contains("event")) out.push_back(j["event"].get<std::string>() + j["args"].dump() + "@" + j["t"].dump());
        return out;
    }

    static std::string Pcm16Wav(int samples, int16_t level) {
        std::string data;
        for (int i = 0; i < samples; ++i) {
            auto v = static_cast<uint16_t>(i % 16 < 8 ? level : -level);
            data += {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
        }
        auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
        return "RIFF" + u32(36 + data.size()) + "WAVEfmt " + u32(16) + std::string("\1\0\1\0", 4) + u32(8000) +
               u32(16000) + std::string("\2\0\x10\0", 4) + "data" + u32(data.size()) + data;
    }
};

TEST_F(ProvidersTest, AnIncomingCallWithKeysAndHangUpThenAnAnsweredOutgoingCall) {
    auto [v, at] = Both(R"({"id":1,"call":"InitLine","args":[0]}
{"id":2,"call":"OpenLine","args":[0]}
{"id":3,"cmd":"offer","caller":"13800138000"}
{"id":4,"cmd":"ring","count":3,"interval":4}
{"id":5,"run":10}
{"id":6,"call":"GetTPNO"}
{"id":7,"call":"AnswerTp"}
{"id":8,"run":0}
{"id":9,"call":"BeginMonitorDtmf","args":[0]}
{"id":10,"cmd":"keys","keys":"1#","interval":0.5}
{"id":11,"run":1}
{"id":12,"call":"GetDtmf"}
{"id":13,"cmd":"hangup"}
{"id":14,"run":0}
{"id":15,"call":"HandUp"}
{"id":16,"run":0}
{"id":17,"cmd":"outgoing","mode":"answer","after":3}
{"id":18,"call":"CallOut","args":[0,"555-1234"]}
{"id":19,"run":5}
{"id":20,"call":"HandUp"}
{"id":21,"run":1}
)");
    ExpectSame(v, at, {1, 3});
    EXPECT_EQ(v.lines[0]["result"], "Marlune Voice Modem");
    EXPECT_EQ(at.lines[0]["result"], "Marlune SimVoice 56K");
    EXPECT_EQ(EventList(at), (std::vector<std::string>{
                                 "Ring[1]@0.0", "CallIDIn[]@0.2", "Ring[2]@4.0", "Ring[3]@8.0", "IsConnect[\"h1\"]@10.0",
                                 "DtmfIn[\"h1\",\"1\"]@10.0", "DtmfIn[\"h1\",\"#\"]@10.5", "DisConnected[\"h1\"]@11.0",
                                 "LineIsFree[\"h1\"]@11.0", "IsConnect[\"h2\"]@14.0", "LineIsFree[\"h2\"]@16.0"}));
    ASSERT_GE(at.log.size(), 3u);
    EXPECT_EQ(at.log[0], "线路初始化成功!");
    EXPECT_EQ(at.log[2], "线路打开成功");
}

TEST_F(ProvidersTest, AGreetingKeysDuringItAndARecordingGiveTheSameFilesByteForByte) {
    auto [v, at] = Both(R"({"id":1,"cmd":"tap","device":1,"path":"line_tap.wav"}
{"id":2,"call":"InitLine","args":[0]}
{"id":3,"call":"OpenLine","args":[0]}
{"id":4,"cmd":"offer","caller":"5551234"}
{"id":5,"cmd":"ring"}
{"id":6,"run":1}
{"id":7,"call":"AnswerTp"}
{"id":8,"call":"BeginMonitorDtmf","args":[0]}
{"id":9,"run":1}
{"id":10,"call":"PlayWav","args":["greeting.wav",0]}
{"id":11,"cmd":"keys","keys":"9","interval":0}
{"id":12,"run":2}
{"id":13,"cmd":"caller_voice","wav":"answer.wav"}
{"id":14,"call":"RecordWav","args":[0,"reply.wav",5]}
{"id":15,"run":6}
{"id":16,"cmd":"tap","device":1}
)",
                        {{"greeting.wav", Pcm16Wav(8000, 6000)}, {"answer.wav", Pcm16Wav(16000, 3000)}},
                        {"reply.wav", "line_tap.wav"});
    ExpectSame(v, at, {2, 4});
    EXPECT_EQ(EventList(at), (std::vector<std::string>{"Ring[1]@0.0", "CallIDIn[]@0.2", "IsConnect[\"h1\"]@1.0",
                                                       "DtmfIn[\"h1\",\"9\"]@2.0", "EndPlayAll[]@3.0",
                                                       "RecordDevOpen[1]@4.0", "EndRecord[]@9.01",
                                                       "LineIsFree[\"h1\"]@9.01"}));
    // 5 s of mu-law behind the 46-byte header: the caller's 2 s, then the silent line.
    const std::string& reply = at.files["reply.wav"];
    ASSERT_EQ(reply.size(), 40046u);
    EXPECT_NE(static_cast<unsigned char>(reply[46]), 0xFFu);
    EXPECT_EQ(static_cast<unsigned char>(reply[46 + 30000]), 0xFFu);
    // The caller heard the 1 s greeting from second 2.
    EXPECT_EQ(at.files["line_tap.wav"].size(), 44u + 2 * 8000 * 3);
}

TEST_F(ProvidersTest, BusyUnansweredAndFarEndSilenceEndCallsAlike) {
    auto [v, at] = Both(R"({"id":1,"call":"InitLine","args":[0]}
{"id":2,"call":"OpenLine","args":[0]}
{"id":3,"cmd":"outgoing","mode":"busy","after":2}
{"id":4,"call":"CallOut","args":[0,"5550001"]}
{"id":5,"run":5}
{"id":6,"call":"HandUp"}
{"id":7,"cmd":"outgoing","mode":"noanswer","after":7}
{"id":8,"call":"CallOut","args":[0,"5550002"]}
{"id":9,"run":10}
{"id":10,"call":"HandUp"}
{"id":11,"cmd":"offer","caller":"777"}
{"id":12,"cmd":"ring"}
{"id":13,"run":1}
{"id":14,"call":"AnswerTp"}
{"id":15,"run":1}
{"id":16,"cmd":"hangup","how":"silence"}
{"id":17,"run":1}
{"id":18,"call":"HandUp"}
{"id":19,"run":1}
)");
    ExpectSame(v, at, {1, 11});
    EXPECT_EQ(EventList(at),
              (std::vector<std::string>{"DisConnected[\"h1\"]@0.0", "LineIsFree[\"h1\"]@0.0", "DisConnected[\"h2\"]@12.0",
                                        "LineIsFree[\"h2\"]@12.0", "Ring[1]@15.0", "CallIDIn[]@15.2",
                                        "IsConnect[\"h3\"]@16.0", "DisConnected[\"h3\"]@17.0", "LineIsFree[\"h3\"]@18.0"}));
    const std::vector<std::string>& log = at.log;
    EXPECT_NE(std::find(log.begin(), log.end(), "线路忙"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "线路已断开"), log.end());
}

TEST_F(ProvidersTest, TheSimulatorTakesEveryWayOfHangingUpAndRefusesTheVirtualModemsOwnCommands) {
    std::string input = R"({"id":1,"call":"InitLine","args":[0]}
{"id":2,"call":"OpenLine","args":[0]}
)";
    int id = 3;
    for (const char* how : {"busy", "silence", "dialtone", "nocarrier"}) {
        input += R"({"id":)" + std::to_string(id++) + R"(,"cmd":"offer"})" "\n";
        input += R"({"id":)" + std::to_string(id++) + R"(,"cmd":"ring"})" "\n";
        input += R"({"id":)" + std::to_string(id++) + R"(,"run":1})" "\n";
        input += R"({"id":)" + std::to_string(id++) + R"(,"call":"AnswerTp"})" "\n";
        input += R"({"id":)" + std::to_string(id++) + R"(,"run":1})" "\n";
        input += R"({"id":)" + std::to_string(id++) + R"(,"cmd":"hangup","how":")" + how + "\"}\n";
        input += R"({"id":)" + std::to_string(id++) + R"(,"run":1})" "\n";
        input += R"({"id":)" + std::to_string(id++) + R"(,"call":"HandUp"})" "\n";
        input += R"({"id":)" + std::to_string(id++) + R"(,"run":1})" "\n";
    }
    input += R"({"id":100,"cmd":"pulse","digits":"1"}
{"id":101,"cmd":"hangup","how":"sideways"}
{"id":102,"cmd":"busy"}
{"id":103,"cmd":"ring","device":1}
)";
    auto out = Parse(HostTest::Run("host --modem-sim", input));
    EXPECT_EQ(status, 0);
    std::vector<std::string> names;
    for (auto& e : Events(out)) names.push_back(e["event"]);
    std::vector<std::string> one = {"Ring", "IsConnect", "DisConnected", "LineIsFree"}, all;
    for (int i = 0; i < 4; ++i) all.insert(all.end(), one.begin(), one.end());
    EXPECT_EQ(names, all);
    EXPECT_EQ((*Answer(out, 100))["error"]["message"], "only the virtual modem has this command");
    EXPECT_EQ((*Answer(out, 101))["error"]["message"], "how is busy, silence, dialtone or nocarrier");
    EXPECT_NE((*Answer(out, 102))["error"]["message"].get<std::string>().find("outgoing"), std::string::npos);
    EXPECT_EQ((*Answer(out, 103))["error"]["message"], "the modem simulator has one line: device 0");
}

TEST_F(ProvidersTest, OnTheModemACallerWhoGivesUpRingingEndsTheCallAndTheLineCanDialOut) {
    auto out = Parse(HostTest::Run("host --modem-sim", R"({"id":1,"call":"InitLine","args":[0]}
{"id":2,"call":"OpenLine","args":[0]}
{"id":3,"cmd":"offer","caller":"777"}
{"id":4,"cmd":"ring","count":2,"interval":4}
{"id":5,"run":20}
{"id":6,"cmd":"outgoing","mode":"answer","after":2}
{"id":7,"call":"CallOut","args":[0,"5550002"]}
{"id":8,"run":3}
)"));
    EXPECT_EQ(status, 0);
    std::vector<std::string> events;
    for (auto& e : Events(out)) events.push_back(e["event"].get<std::string>() + "@" + e["t"].dump());
    // No ring for 10 s after the last one: the call is gone.
    EXPECT_EQ(events, (std::vector<std::string>{"Ring@0.0", "CallIDIn@0.2", "Ring@4.0", "DisConnected@14.0",
                                                "LineIsFree@14.0", "IsConnect@22.0"}));
    EXPECT_EQ((*Answer(out, 7))["result"], 0);
}
