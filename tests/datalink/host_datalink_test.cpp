// A data call driven through `marlune host`: the far end's commands, the
// bytes at the caller's end and the debug output as it is written.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/test_env.h"

using nlohmann::json;

class HostDataLinkTest : public MarluneTest {
protected:
    std::vector<json> Run(const std::string& input) {
        std::ofstream("input.txt") << input;
        std::string cmd = std::string(MARLUNE_BIN) + " host < input.txt 2>stderr.txt";
        FILE* p = popen(cmd.c_str(), "r");
        std::vector<json> out;
        char buf[65536];
        while (p && fgets(buf, sizeof buf, p)) out.push_back(json::parse(buf));
        status = p ? pclose(p) : -1;
        return out;
    }
    static int IndexOf(const std::vector<json>& out, int id) {
        for (size_t i = 0; i < out.size(); ++i)
            if (out[i].contains("id") && out[i]["id"] == id) return static_cast<int>(i);
        return -1;
    }
    int status = 0;
};

TEST_F(HostDataLinkTest, AScriptedDataCallSendsAStringAndAFileAndReportsDebugOutput) {
    std::ofstream("file.txt", std::ios::binary) << std::string("FILE\xff\0rest", 10);
    auto out = Run(R"({"id":1,"call":"InitLine","args":[0]})"
                   "\n"
                   R"({"id":2,"call":"OpenLine","args":[0]})"
                   "\n"
                   R"({"id":3,"cmd":"data_offer","caller":"5551234"})"
                   "\n"
                   R"({"id":4,"run":0})"
                   "\n"
                   R"({"id":5,"call":"AnswerTp"})"
                   "\n"
                   R"({"id":6,"run":0})"
                   "\n"
                   R"({"id":7,"call":"SendData","args":["AT\r\n"]})"
                   "\n"
                   R"({"id":8,"cmd":"data_read","encoding":"hex"})"
                   "\n"
                   R"({"id":9,"call":"SendFile","args":["file.txt"]})"
                   "\n"
                   R"({"id":10,"cmd":"data_read"})"
                   "\n"
                   R"({"id":11,"cmd":"data_close_port"})"
                   "\n"
                   R"({"id":12,"call":"SendData","args":["x"]})"
                   "\n"
                   R"({"id":13,"cmd":"data_read","encoding":"octal"})"
                   "\n");
    ASSERT_EQ(status, 0);
    ASSERT_GE(IndexOf(out, 13), 0);
    EXPECT_EQ(out[IndexOf(out, 3)]["result"]["media"], LINEMEDIAMODE_DATAMODEM);
    EXPECT_EQ(out[IndexOf(out, 7)]["result"], 0);
    EXPECT_EQ(out[IndexOf(out, 8)]["result"]["hex"], "41540d0a");
    EXPECT_EQ(out[IndexOf(out, 8)]["result"]["count"], 4);
    EXPECT_EQ(out[IndexOf(out, 9)]["result"], 0);
    EXPECT_EQ(out[IndexOf(out, 10)]["result"]["base64"], "RklMRf8=");  // FILE\xff
    EXPECT_EQ(out[IndexOf(out, 10)]["result"]["received"], 9);
    EXPECT_EQ(out[IndexOf(out, 12)]["result"], -2);
    EXPECT_TRUE(out[IndexOf(out, 13)]["error"].contains("message"));
    // Each send's debug line comes before its answer, stamped like events.
    int debug = -1;
    for (size_t i = 0; i < out.size(); ++i)
        if (out[i].contains("debug")) {
            debug = static_cast<int>(i);
            EXPECT_EQ(out[i]["debug"], "Connected!  Starting communications!\n");
            EXPECT_TRUE(out[i].contains("t"));
            break;
        }
    EXPECT_GT(debug, IndexOf(out, 6));
    EXPECT_LT(debug, IndexOf(out, 7));
}

TEST_F(HostDataLinkTest, HangUpPartWayAndInjectedFaultsAreReported) {
    auto out = Run(R"({"id":1,"call":"InitLine","args":[0]})"
                   "\n"
                   R"({"id":2,"call":"OpenLine","args":[0]})"
                   "\n"
                   R"({"id":3,"cmd":"data_outgoing","media":"data"})"
                   "\n"
                   R"({"id":4,"call":"CallOut","args":[0,"5551234"]})"
                   "\n"
                   R"({"id":5,"run":6})"
                   "\n"
                   R"({"id":6,"cmd":"comm_fault","kind":"pending","value":2,"count":2})"
                   "\n"
                   R"({"id":7,"call":"SendData","args":["hello"]})"
                   "\n"
                   R"({"id":8,"cmd":"data_read","encoding":"hex"})"
                   "\n"
                   R"({"id":9,"cmd":"data_hangup_after","bytes":3})"
                   "\n"
                   R"({"id":91,"cmd":"comm_fault","kind":"partial","value":4})"
                   "\n"
                   R"({"id":10,"call":"SendData","args":["0123456789"]})"
                   "\n"
                   R"({"id":11,"run":0})"
                   "\n");
    ASSERT_EQ(status, 0);
    EXPECT_EQ(out[IndexOf(out, 7)]["result"], 0);
    EXPECT_EQ(out[IndexOf(out, 8)]["result"]["hex"], "68656c6c6f");
    EXPECT_EQ(out[IndexOf(out, 10)]["result"], -5);
    std::vector<std::string> debug;
    bool disconnected = false;
    for (auto& j : out) {
        if (j.contains("debug")) debug.push_back(j["debug"]);
        if (j.value("event", "") == "DisConnected") disconnected = true;
    }
    EXPECT_EQ(debug, (std::vector<std::string>{
                         "Connected!  Starting communications!\n", "Connected!  Starting communications!\n",
                         "ERROR_INVALID_HANDLE, Likely that the Service Provider has closed the port.\n"}));
    EXPECT_TRUE(disconnected);
}
