// Drives the real `marlune` program through its JSON-lines protocol.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/test_env.h"

using nlohmann::json;

class HostTest : public MarluneTest {
protected:
    // Runs `marlune <args>` with `input` on stdin; returns stdout lines.
    std::vector<std::string> Run(const std::string& args, const std::string& input = "") {
        std::ofstream("input.txt") << input;
        std::string cmd = std::string(MARLUNE_BIN) + " " + args + " < input.txt 2>stderr.txt";
        FILE* p = popen(cmd.c_str(), "r");
        std::vector<std::string> lines;
        char buf[65536];
        while (p && fgets(buf, sizeof buf, p)) {
            std::string line(buf);
            if (!line.empty() && line.back() == '\n') line.pop_back();
            lines.push_back(line);
        }
        status = p ? pclose(p) : -1;
        return lines;
    }
    static std::vector<json> Parse(const std::vector<std::string>& lines) {
        std::vector<json> out;
        for (auto& l : lines) out.push_back(json::parse(l));
        return out;
    }
    static const json* Answer(const std::vector<json>& out, int id) {
        for (auto& j : out)
            if (j.contains("id") && j["id"] == id) return &j;
        return nullptr;
    }
    int status = 0;
};

TEST_F(HostTest, DescribeListsTheWholeSurface) {
    auto lines = Run("describe");
    EXPECT_EQ(status, 0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "// _DMarlune: 2 properties, 28 methods; _DMarluneEvents: 11 events");
    std::string all;
    for (auto& l : lines) all += l + "\n";
    EXPECT_NE(all.find("[id(30)] long listen([in] long BusChannnel1, [in] long BusChannnel2);"), std::string::npos);
    EXPECT_NE(all.find("[id(3)] BSTR InitLine([in] long Index);"), std::string::npos);
    EXPECT_NE(all.find("[id(1)] BOOL MonitorDtmf;"), std::string::npos);
    EXPECT_NE(all.find("[id(4)] void DtmfIn([in] long Index, [in] BSTR DTMF);"), std::string::npos);
    EXPECT_EQ(all.find("id(22)"), std::string::npos);
}

TEST_F(HostTest, AScriptedSessionAnswersCallsErrorsEventsAndTheNotice) {
    auto out = Parse(Run("host",
                         R"({"id":1,"call":"Test"})"
                         "\n"
                         R"({"id":2,"run":1})"
                         "\n"
                         R"({"id":3,"put":"OutID","value":9})"
                         "\n"
                         R"({"id":4,"get":"outid"})"
                         "\n"
                         R"({"id":5,"call":"ChangeCall","args":[1]})"
                         "\n"
                         R"({"id":6,"call":"listen","args":[1,"x"]})"
                         "\n"
                         R"({"id":7,"call":"NoSuch"})"
                         "\n"
                         "not json\n"
                         R"({"id":8,"call":"PlayTxtFile","args":["a.txt",0]})"
                         "\n"
                         R"({"id":9,"cmd":"no-such-command"})"
                         "\n"
                         R"({"id":10,"control":"destroy"})"
                         "\n"
                         R"({"id":11,"call":"Test"})"
                         "\n"
                         R"({"id":12,"control":"create"})"
                         "\n"
                         R"({"id":13,"call":"GetDialogicNbus"})"
                         "\n"
                         R"({"id":14,"cmd":"messagebox_answer","answer":"cancel"})"
                         "\n"
                         R"({"id":15,"cmd":"messagebox_answer","answer":"maybe"})"
                         "\n"));
    EXPECT_EQ(status, 0);
    ASSERT_NE(Answer(out, 1), nullptr);
    EXPECT_EQ((*Answer(out, 1))["result"], 0);
    // The tick's event comes before the run's answer, stamped with its time.
    int endPlayAll = -1, run = -1;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i].value("event", "") == "EndPlayAll") {
            endPlayAll = static_cast<int>(i);
            EXPECT_DOUBLE_EQ(out[i]["t"].get<double>(), 0.001);
            EXPECT_EQ(out[i]["args"], json::array());
        }
        if (out[i].contains("id") && out[i]["id"] == 2) run = static_cast<int>(i);
    }
    ASSERT_GE(endPlayAll, 0);
    EXPECT_LT(endPlayAll, run);
    EXPECT_EQ((*Answer(out, 2))["result"]["t"], 1.0);
    EXPECT_EQ((*Answer(out, 4))["result"], 9);
    EXPECT_EQ((*Answer(out, 5))["error"]["hresult"], "0x8002000E");
    EXPECT_EQ((*Answer(out, 6))["error"]["hresult"], "0x80020005");
    EXPECT_EQ((*Answer(out, 7))["error"]["hresult"], "0x80020006");
    const json* bad = Answer(out, 8);
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ((*bad)["error"]["hresult"], "0x80020009");
    EXPECT_NE((*bad)["error"]["description"].get<std::string>().find("not available yet"), std::string::npos);
    EXPECT_TRUE((*Answer(out, 9))["error"].contains("message"));
    // Destroying the control shows the notice, reported with its Big5 reading.
    bool notice = false;
    for (auto& j : out)
        if (j.contains("messagebox")) {
            notice = true;
            // 謝謝您!!!! in UTF-8 (this file is compiled to GBK)
            EXPECT_EQ(j["messagebox"]["caption_big5"], "\xe8\xac\x9d\xe8\xac\x9d\xe6\x82\xa8!!!!");
            EXPECT_EQ(j["messagebox"]["caption_bytes"], "c1c2c1c2b17a21212121");
        }
    EXPECT_TRUE(notice);
    EXPECT_EQ((*Answer(out, 11))["error"]["hresult"], "0x8000FFFF");  // no control
    EXPECT_EQ((*Answer(out, 13))["result"], 0);
    EXPECT_EQ((*Answer(out, 14))["result"], IDCANCEL);
    EXPECT_TRUE((*Answer(out, 15))["error"].contains("message"));
    // The second control's notice, at exit, got the answer the host chose.
    std::vector<int> answers;
    for (auto& j : out)
        if (j.contains("messagebox")) answers.push_back(j["messagebox"]["answer"]);
    EXPECT_EQ(answers, (std::vector<int>{IDOK, IDCANCEL}));
    // The malformed line is answered too, without an id.
    int badJson = 0;
    for (auto& j : out)
        if (j.contains("error") && j["id"].is_null()) ++badJson;
    EXPECT_EQ(badJson, 1);
}

TEST_F(HostTest, DemoRunsAndPointsAtItsLog) {
    auto lines = Run("demo");
    EXPECT_EQ(status, 0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("log: ", 0), 0u);
    std::string log = lines.back().substr(5);
    EXPECT_TRUE(testenv::FileExists(log)) << log;
}

namespace {

// Entry texts of the log files a host run left in `dir` (one day's file).
std::vector<std::string> LogTextsIn(const std::string& dir) {
    std::vector<std::string> out;
    std::string cmd = "ls " + dir + " | grep 'modem.txt$'";
    FILE* p = popen(cmd.c_str(), "r");
    char name[512];
    std::string bytes;
    while (p && fgets(name, sizeof name, p)) {
        std::string n(name);
        n.pop_back();
        bytes += testenv::ReadFile(dir + "/" + n);
    }
    if (p) pclose(p);
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t e = bytes.find("\r\n\t", pos);
        if (e == std::string::npos) e = bytes.size();
        std::string entry = bytes.substr(pos, e - pos);
        size_t colon = entry.find(" :");
        out.push_back(colon == std::string::npos ? entry : entry.substr(colon + 2));
        pos = e + 3;
    }
    return out;
}

std::vector<json> Events(const std::vector<json>& out) {
    std::vector<json> e;
    for (auto& j : out)
        if (j.contains("event")) e.push_back(j);
    return e;
}

}  // namespace

TEST_F(HostTest, AWholeIncomingCallAndAnOutgoingCallRunThroughTheHost) {
    auto out = Parse(Run("host", R"({"id":1,"call":"InitLine","args":[0]}
{"id":2,"call":"OpenLine","args":[0]}
{"id":3,"cmd":"offer","caller":"13800138000"}
{"id":4,"cmd":"ring","count":3,"interval":4}
{"id":5,"run":10}
{"id":6,"call":"GetTPNO"}
{"id":7,"call":"AnswerTp"}
{"id":8,"run":0}
{"id":9,"call":"BeginMonitorDtmf","args":[0]}
{"id":10,"cmd":"keys","keys":"1#"}
{"id":11,"run":0}
{"id":12,"call":"GetDtmf"}
{"id":13,"cmd":"hangup"}
{"id":14,"run":0}
{"id":15,"call":"HandUp"}
{"id":16,"run":0}
{"id":17,"cmd":"outgoing","mode":"answer","after":3}
{"id":18,"call":"CallOut","args":[0,"555-1234"]}
{"id":19,"run":5}
)"));
    ASSERT_EQ(status, 0);
    EXPECT_EQ((*Answer(out, 2))["result"], 0);
    EXPECT_EQ((*Answer(out, 6))["result"], "13800138000");
    EXPECT_EQ((*Answer(out, 7))["result"], 0);
    EXPECT_EQ((*Answer(out, 12))["result"], "1#");
    EXPECT_EQ((*Answer(out, 18))["result"], 0);
    auto events = Events(out);
    std::vector<std::string> names;
    for (auto& e : events) names.push_back(e["event"]);
    EXPECT_EQ(names, (std::vector<std::string>{"Ring", "CallIDIn", "Ring", "Ring", "IsConnect", "DtmfIn", "DtmfIn",
                                               "DisConnected", "LineIsFree", "IsConnect"}));
    ASSERT_EQ(events.size(), 10u);
    EXPECT_EQ(events[0]["args"], json::array({1}));
    EXPECT_EQ(events[2]["args"], json::array({2}));
    EXPECT_EQ(events[3]["args"], json::array({3}));
    EXPECT_DOUBLE_EQ(events[3]["t"].get<double>(), 8.0);
    json hCall = events[4]["args"][0];
    EXPECT_EQ(events[5]["args"], json::array({hCall, "1"}));
    EXPECT_EQ(events[6]["args"], json::array({hCall, "#"}));
    EXPECT_EQ(events[7]["args"], json::array({hCall}));
    EXPECT_EQ(events[8]["args"], json::array({hCall}));
    EXPECT_NE(events[9]["args"][0], hCall);  // the outgoing call's own handle
    EXPECT_DOUBLE_EQ(events[9]["t"].get<double>(), 13.0);
    // The log of the session, in GBK, starts with the line set-up.
    auto logs = LogTextsIn(".");
    ASSERT_GE(logs.size(), 3u);
    EXPECT_EQ(logs[0], "线路初始化成功!");
    EXPECT_EQ(logs[2], "线路打开成功");
}

TEST_F(HostTest, ACallPlaysAGreetingAndRecordsTheCallersAnswer) {
    // The greeting: 1 s of 8 kHz 16-bit PCM; the caller's answer: 2 s.
    auto writeWav = [](const char* path, int samples, int16_t level) {
        std::ofstream f(path, std::ios::binary);
        auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
        auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
        f.write("RIFF", 4);
        u32(36 + samples * 2);
        f.write("WAVEfmt ", 8);
        u32(16);
        u16(1);
        u16(1);
        u32(8000);
        u32(16000);
        u16(2);
        u16(16);
        f.write("data", 4);
        u32(samples * 2);
        for (int i = 0; i < samples; ++i) u16(static_cast<uint16_t>(i % 16 < 8 ? level : -level));
    };
    writeWav("greeting.wav", 8000, 6000);
    writeWav("answer.wav", 16000, 3000);
    auto out = Parse(Run("host", R"({"id":1,"cmd":"tap","device":1,"path":"line_tap.wav"}
{"id":2,"call":"InitLine","args":[0]}
{"id":3,"call":"OpenLine","args":[0]}
{"id":4,"cmd":"offer","caller":"5551234"}
{"id":5,"run":1}
{"id":6,"call":"AnswerTp"}
{"id":7,"run":1}
{"id":8,"call":"PlayWav","args":["greeting.wav",0]}
{"id":9,"run":2}
{"id":10,"cmd":"caller_voice","wav":"answer.wav"}
{"id":11,"call":"RecordWav","args":[0,"reply.wav",5]}
{"id":12,"run":6}
{"id":13,"cmd":"tap","device":1}
)"));
    ASSERT_EQ(status, 0);
    EXPECT_EQ((*Answer(out, 8))["result"], 0);
    EXPECT_EQ((*Answer(out, 11))["result"], 0);
    std::vector<std::string> names;
    for (auto& e : Events(out)) names.push_back(e["event"]);
    EXPECT_EQ(names, (std::vector<std::string>{"IsConnect", "EndPlayAll", "RecordDevOpen", "EndRecord", "LineIsFree"}));
    for (auto& e : Events(out)) {
        if (e["event"] == "EndPlayAll") {
            EXPECT_DOUBLE_EQ(e["t"].get<double>(), 3.0);  // 1 s after PlayWav at 2 s
        } else if (e["event"] == "RecordDevOpen") {
            EXPECT_EQ(e["args"], json::array({1}));  // the line's input
        } else if (e["event"] == "EndRecord") {
            EXPECT_DOUBLE_EQ(e["t"].get<double>(), 9.0);
        }
    }
    // 5 s of 8 kHz mu-law behind the 46-byte header.
    std::string reply = testenv::ReadFile("reply.wav");
    ASSERT_EQ(reply.size(), 40046u);
    EXPECT_EQ(reply.substr(0, 4), "RIFF");
    EXPECT_EQ(reply.substr(38, 4), "data");
    // The first 2 s hold the caller's answer, the rest is the silent line.
    EXPECT_NE(static_cast<unsigned char>(reply[46]), 0xFFu);
    EXPECT_EQ(static_cast<unsigned char>(reply[46 + 30000]), 0xFFu);  // mu-law silence
    // The line's tap holds the greeting at second 2 to 3 and silence before.
    std::string tap = testenv::ReadFile("line_tap.wav");
    ASSERT_GE(tap.size(), 44u + 2 * 8000 * 3);
    auto sampleAt = [&](double seconds) {
        size_t off = 44 + 2 * static_cast<size_t>(seconds * 8000);
        return static_cast<int16_t>(static_cast<uint8_t>(tap[off]) | (static_cast<uint8_t>(tap[off + 1]) << 8));
    };
    EXPECT_EQ(sampleAt(1.0), 0);
    EXPECT_NE(sampleAt(2.5), 0);
}
