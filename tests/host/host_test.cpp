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
                         R"({"id":8,"call":"SendFile","args":["a.txt"]})"
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
