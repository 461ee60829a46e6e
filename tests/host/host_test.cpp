// Drives the real `marlune` program through its JSON-lines protocol.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/host/host_fixture.h"

using nlohmann::json;


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
    EXPECT_EQ((*bad)["error"]["kind"], "automation");
    EXPECT_EQ((*bad)["error"]["scode"], "0x800A0035");  // file not found
    EXPECT_NE((*bad)["error"]["message"].get<std::string>().find("a.txt"), std::string::npos);
    EXPECT_EQ((*Answer(out, 9))["error"]["kind"], "request");
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
    EXPECT_EQ((*Answer(out, 11))["error"]["kind"], "request");  // no control
    EXPECT_EQ((*Answer(out, 11))["error"]["message"], "no control: send {\"control\":\"create\"}");
    EXPECT_EQ((*Answer(out, 12))["result"], json({{"ctl", 2}}));
    EXPECT_EQ((*Answer(out, 13))["result"], 0);
    EXPECT_EQ((*Answer(out, 14))["result"], IDCANCEL);
    EXPECT_EQ((*Answer(out, 15))["error"]["kind"], "command");
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

namespace {

// Events (and boxes) written between the answers to two requests.
std::vector<json> Between(const std::vector<json>& out, int fromId, int toId) {
    std::vector<json> e;
    bool in = false;
    for (auto& j : out) {
        if (j.contains("id") && j["id"] == fromId) in = true;
        else if (j.contains("id") && j["id"] == toId) break;
        else if (in && !j.contains("id")) e.push_back(j);
    }
    return e;
}

std::string ErrorOf(const std::vector<json>& out, int id, const char* field) {
    for (auto& j : out)
        if (j.contains("id") && j["id"] == id && j.contains("error") && j["error"].contains(field))
            return j["error"][field].is_string() ? j["error"][field].get<std::string>() : j["error"][field].dump();
    return "<none>";
}

}  // namespace

TEST_F(HostTest, LongArgumentsOutsideTheRangeAreRefusedAsOverflowAndTheMemberDoesNotRun) {
    auto out = Parse(Run("host", R"({"id":1,"put":"OutID","value":2147483648}
{"id":2,"put":"OutID","value":-2147483649}
{"id":3,"get":"OutID"}
{"id":4,"call":"InitLine","args":[4294967295]}
{"id":5,"call":"InitLine","args":[1e300]}
{"id":6,"call":"CallOut","args":[-2147483649,"555"]}
{"id":7,"call":"RecordWav","args":[0,"reply.wav",2147483648]}
{"id":8,"call":"listen","args":["4294967295",1]}
{"id":9,"run":10}
{"id":10,"call":"InitLine","args":[0]}
)"));
    ASSERT_EQ(status, 0);
    for (int id : {1, 2, 4, 5, 6, 7, 8}) {
        EXPECT_EQ(ErrorOf(out, id, "hresult"), "0x8002000A") << id;
        EXPECT_EQ(ErrorOf(out, id, "kind"), "automation") << id;
    }
    // argErr counts from the last argument.
    EXPECT_EQ(ErrorOf(out, 1, "argErr"), "0");
    EXPECT_EQ(ErrorOf(out, 4, "argErr"), "0");
    EXPECT_EQ(ErrorOf(out, 6, "argErr"), "1");
    EXPECT_EQ(ErrorOf(out, 7, "argErr"), "0");
    EXPECT_EQ(ErrorOf(out, 8, "argErr"), "1");
    EXPECT_EQ(ErrorOf(out, 1, "message"),
              "overflow: the value of OutID is a long (-2147483648 to 2147483647), got 2147483648");
    EXPECT_EQ(ErrorOf(out, 6, "message"),
              "overflow: parameter Index of CallOut is a long (-2147483648 to 2147483647), got -2147483649");
    EXPECT_NE(ErrorOf(out, 7, "message").find("parameter Time of RecordWav"), std::string::npos);
    // Nothing ran: the property kept its value, no line, no recording, no log.
    EXPECT_EQ((*Answer(out, 3))["result"], -1);
    EXPECT_TRUE(Events(out).empty());
    EXPECT_FALSE(testenv::FileExists("reply.wav"));
    auto logs = LogTextsIn(".");
    EXPECT_EQ(std::count(logs.begin(), logs.end(), "线路初始化成功!"), 1) << "only the last, valid InitLine ran";
    EXPECT_EQ((*Answer(out, 10))["result"], "Marlune Voice Modem");
}

TEST_F(HostTest, FractionsBooleansAndStringsConvertToLongAsTheDispatchLayerDoes) {
    auto out = Parse(Run("host", R"({"id":1,"put":"OutID","value":2.5}
{"id":2,"get":"OutID"}
{"id":3,"put":"OutID","value":3.5}
{"id":4,"get":"OutID"}
{"id":5,"put":"OutID","value":true}
{"id":6,"get":"OutID"}
{"id":7,"put":"OutID","value":" 7.5 "}
{"id":8,"get":"OutID"}
{"id":9,"put":"OutID","value":"seven"}
{"id":10,"call":"PlayWav","args":["x.wav",2.5e0,3]}
{"id":11,"call":"ChangeCall","args":[[1],"555"]}
{"id":12,"call":"ChangeCall","args":[1,null]}
{"id":13,"call":"PlayWav","args":["x.wav","two"]}
{"id":14,"get":"OutID"}
{"id":15,"put":"MonitorDtmf","value":"False"}
{"id":16,"get":"MonitorDtmf"}
{"id":17,"put":"MonitorDtmf","value":"maybe"}
)"));
    ASSERT_EQ(status, 0);
    EXPECT_EQ((*Answer(out, 2))["result"], 2);  // halves round to even
    EXPECT_EQ((*Answer(out, 4))["result"], 4);
    EXPECT_EQ((*Answer(out, 6))["result"], -1);  // True
    EXPECT_EQ((*Answer(out, 8))["result"], 8);
    EXPECT_EQ(ErrorOf(out, 9, "hresult"), "0x80020005");
    EXPECT_EQ(ErrorOf(out, 9, "argErr"), "0");
    EXPECT_EQ(ErrorOf(out, 9, "message"), "type mismatch: the value of OutID is a long, got \"seven\"");
    EXPECT_EQ(ErrorOf(out, 10, "hresult"), "0x8002000E");
    EXPECT_EQ(ErrorOf(out, 10, "message"), "wrong number of arguments for PlayWav: it takes 2 (FileName, Dev), got 3");
    EXPECT_EQ(ErrorOf(out, 11, "argErr"), "1");
    EXPECT_EQ(ErrorOf(out, 11, "message"), "type mismatch: parameter Index of ChangeCall is a long, got an array");
    EXPECT_EQ(ErrorOf(out, 12, "argErr"), "0");
    EXPECT_EQ(ErrorOf(out, 12, "message"),
              "type mismatch: parameter TpNumber of ChangeCall is a BSTR (string), got null");
    EXPECT_EQ(ErrorOf(out, 13, "argErr"), "0");
    EXPECT_EQ(ErrorOf(out, 13, "message"), "type mismatch: parameter Dev of PlayWav is a long, got \"two\"");
    EXPECT_EQ((*Answer(out, 14))["result"], 8);  // the refused put changed nothing
    EXPECT_EQ((*Answer(out, 16))["result"], false);
    EXPECT_EQ(ErrorOf(out, 17, "message"), "type mismatch: the value of MonitorDtmf is a BOOL, got \"maybe\"");
}

TEST_F(HostTest, AMalformedRequestIsRefusedWholeAndRunsNothing) {
    auto out = Parse(Run("host", R"({"id":1,"control":"destroy","call":"Test"}
{"id":2,"control":"create","call":"InitLine","args":[0]}
{"id":3,"run":1e13}
{"id":4,"run":-1}
{"id":5,"run":"5"}
{"id":6,"run":86400.5}
{"id":7,"run":0}
{"id":8,"call":"Test","arg":[]}
{"id":9,"get":"OutID","value":3}
{"id":10,"call":5}
{"id":11,"call":"Test","args":{}}
{"id":12,"put":"OutID"}
{"id":13,"call":"Test","ctl":"1"}
{"id":14,"call":"Test","ctl":0}
{"id":15,"control":"create","ctl":1}
{"id":16,"run":0,"ctl":1}
{"id":17,"control":"rebuild"}
{"id":18,"cmd":"offer","caller":5551234}
{"id":19,"cmd":"keys"}
{"id":20,"cmd":"ring","count":2,"interval":-1}
{"id":21,"cmd":"ring","every":2}
{"id":22,"cmd":"refuse","function":"lineOpen","error":"0xZZ"}
{"id":23,"cmd":"messagebox_answer","answer":"cancel","extra":1}
{"call":5}
{"id":24}
{"id":25,"run":86400}
{"id":26,"control":"create"}
)"));
    ASSERT_EQ(status, 0);
    for (int id = 1; id <= 24; ++id) {
        if (id == 7) continue;
        EXPECT_EQ(ErrorOf(out, id, "kind"), id == 22 ? "command" : "request") << id;
        EXPECT_EQ(ErrorOf(out, id, "hresult"), "<none>") << id;
    }
    EXPECT_EQ(ErrorOf(out, 1, "message"), "a request names one action; this one has \"call\" and \"control\"");
    EXPECT_EQ(ErrorOf(out, 3, "message"), "\"run\" is a number of seconds from 0 to 86400, not 10000000000000.0");
    EXPECT_EQ(ErrorOf(out, 8, "message"), "unknown field \"arg\" in a \"call\" request");
    EXPECT_EQ(ErrorOf(out, 13, "message"), "\"ctl\" is a control number (1, 2, ...), not \"1\"");
    EXPECT_EQ(ErrorOf(out, 18, "message"), "\"caller\" of offer is a string, not 5551234");
    EXPECT_EQ(ErrorOf(out, 21, "message"), "unknown field \"every\" in the \"ring\" command");
    // The clock did not move for the refused runs; the largest run is allowed.
    EXPECT_EQ((*Answer(out, 7))["result"]["t"], 0.0);
    EXPECT_EQ((*Answer(out, 25))["result"]["t"], 86400.0);
    // Nothing was destroyed, created, called or answered differently.
    for (auto& j : out) EXPECT_FALSE(j.contains("event")) << j.dump();
    auto logs = LogTextsIn(".");
    EXPECT_EQ(std::count(logs.begin(), logs.end(), "线路初始化成功!"), 0);
    EXPECT_EQ((*Answer(out, 26))["result"], json({{"ctl", 2}}));
    std::vector<int> answers;
    for (auto& j : out)
        if (j.contains("messagebox")) answers.push_back(j["messagebox"]["answer"]);
    EXPECT_EQ(answers, (std::vector<int>{IDOK, IDOK}));  // both notices at exit, "cancel" was refused
    // A request without an id is answered with a null id.
    int nullIds = 0;
    for (auto& j : out)
        if (j.contains("error") && j["id"].is_null()) ++nullIds;
    EXPECT_EQ(nullIds, 1);
}

TEST_F(HostTest, SeveralControlsLiveInOneHostAndLineEventsReachTheNewest) {
    auto out = Parse(Run("host", R"({"id":1,"call":"InitLine","args":[0]}
{"id":2,"call":"OpenLine","args":[0]}
{"id":3,"cmd":"offer","caller":"5551234"}
{"id":4,"cmd":"ring","count":1}
{"id":5,"run":1}
{"id":6,"call":"AnswerTp"}
{"id":7,"call":"BeginMonitorDtmf","args":[0]}
{"id":8,"cmd":"keys","keys":"12"}
{"id":9,"run":0}
{"id":10,"call":"GetDtmf"}
{"id":11,"control":"create"}
{"id":12,"call":"GetDtmf","ctl":1}
{"id":13,"cmd":"keys","keys":"3"}
{"id":14,"run":0}
{"id":15,"call":"GetDtmf","ctl":1}
{"id":16,"cmd":"hangup"}
{"id":17,"run":0}
{"id":18,"call":"HandUp","ctl":2}
{"id":19,"run":0}
{"id":20,"cmd":"offer","caller":"5550000"}
{"id":21,"cmd":"ring","count":2,"interval":1}
{"id":22,"run":3}
{"id":23,"control":"destroy","ctl":2}
{"id":24,"call":"Test","ctl":2}
{"id":25,"control":"destroy","ctl":2}
{"id":26,"call":"Test"}
{"id":27,"run":1}
{"id":28,"get":"OutID","ctl":1}
{"id":29,"call":"Test","ctl":9}
{"id":30,"control":"create"}
{"id":31,"control":"destroy"}
{"id":32,"call":"Test"}
{"id":33,"run":1}
)"));
    ASSERT_EQ(status, 0);
    auto names = [](const std::vector<json>& events) {
        std::vector<std::string> n;
        for (auto& e : events)
            n.push_back(e.contains("event") ? e["event"].get<std::string>() + "@" + e["ctl"].dump()
                                            : "box@" + e["ctl"].dump());
        return n;
    };
    using V = std::vector<std::string>;
    // With one control everything reaches control 1.
    EXPECT_EQ(names(Between(out, 4, 6)), (V{"Ring@1", "CallIDIn@1"}));
    EXPECT_EQ(names(Between(out, 8, 10)), (V{"IsConnect@1", "DtmfIn@1", "DtmfIn@1"}));
    EXPECT_EQ((*Answer(out, 10))["result"], "12");
    // The second control: number 2; its construction emptied the digits the
    // module keeps for both, and line events now reach it only.
    EXPECT_EQ((*Answer(out, 11))["result"], json({{"ctl", 2}}));
    EXPECT_EQ((*Answer(out, 12))["result"], "");
    EXPECT_EQ(names(Between(out, 13, 15)), (V{"DtmfIn@2"}));
    EXPECT_EQ((*Answer(out, 15))["result"], "3");
    EXPECT_EQ(names(Between(out, 16, 20)), (V{"DisConnected@2", "LineIsFree@2"}));
    // Destroying control 2 (its notice carries its number) leaves control 1 working.
    EXPECT_EQ(names(Between(out, 21, 23)), (V{"Ring@2", "CallIDIn@2", "Ring@2", "box@2"}));
    EXPECT_EQ((*Answer(out, 23))["result"], "destroyed");
    EXPECT_EQ(ErrorOf(out, 24, "message"), "control 2 was destroyed");
    EXPECT_EQ(ErrorOf(out, 24, "kind"), "request");
    EXPECT_EQ(ErrorOf(out, 25, "message"), "control 2 was destroyed");
    EXPECT_EQ((*Answer(out, 26))["result"], 0);
    EXPECT_EQ(names(Between(out, 26, 28)), (V{"EndPlayAll@1"}));
    EXPECT_EQ((*Answer(out, 28))["result"], -1);
    EXPECT_EQ(ErrorOf(out, 29, "message"), "no control 9 (not created)");
    // Numbers are not reused; without "ctl" requests go to the lowest live one.
    EXPECT_EQ((*Answer(out, 30))["result"], json({{"ctl", 3}}));
    EXPECT_EQ(names(Between(out, 30, 32)), (V{"box@1"}));
    EXPECT_EQ(names(Between(out, 32, 34)), (V{"EndPlayAll@3", "box@3"}));  // the last notice at exit
}

TEST_F(HostTest, ModemCommandsCheckTheirFieldsBeforeChangingAnything) {
    auto out = Parse(Run("host", R"({"id":1,"cmd":"device","name":"Changed","low":65539}
{"id":2,"cmd":"locations","list":[{"id":7,"name":"Office","country":1,"city":"206"},{"id":"x","country":1}]}
{"id":3,"cmd":"locations","list":[{"id":8,"country":1},5]}
{"id":4,"cmd":"locations","current":1}
{"id":5,"cmd":"refuse","function":"lineOpen","error":"0x8000004"}
{"id":6,"cmd":"refuse","function":"lineOpen","error":"0x8000004Q"}
{"id":7,"cmd":"refuse","function":"lineOpen","error":-2147483576}
{"id":8,"cmd":"refuse","function":"lineOpen","error":0}
{"id":9,"cmd":"ring","count":1001}
{"id":10,"cmd":"outgoing","mode":"answer","after":1e9}
{"id":11,"cmd":"device","wave_out":-1}
{"id":12,"call":"InitLine","args":[0]}
)"));
    ASSERT_EQ(status, 0);
    EXPECT_EQ(ErrorOf(out, 1, "kind"), "command");
    EXPECT_EQ(ErrorOf(out, 1, "message"), "\"low\" and \"high\" go together");
    EXPECT_EQ(ErrorOf(out, 2, "kind"), "request");
    EXPECT_EQ(ErrorOf(out, 3, "kind"), "command");
    // The refused lists left the modem's own location 1 in place.
    EXPECT_EQ((*Answer(out, 4))["result"], 0);
    EXPECT_EQ((*Answer(out, 5))["result"], 0);
    EXPECT_EQ(ErrorOf(out, 6, "kind"), "command");
    EXPECT_EQ((*Answer(out, 7))["result"], 0);  // a negative code is still a code
    EXPECT_EQ((*Answer(out, 8))["result"], 0);
    EXPECT_EQ(ErrorOf(out, 9, "message"), "\"count\" is at most 1000 rings");
    EXPECT_EQ(ErrorOf(out, 10, "message"), "\"after\" of outgoing is a number of seconds from 0 to 86400, not 1000000000.0");
    EXPECT_EQ(ErrorOf(out, 11, "kind"), "request");
    // The device kept its name: the refused command changed nothing.
    EXPECT_EQ((*Answer(out, 12))["result"], "Marlune Voice Modem");
}
