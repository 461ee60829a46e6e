// `marlune host --modem DEVICE` drives a modem on a serial device: here the
// simulator's terminal, answered by the simulator in this process.
#include <cstdio>
#include <fstream>

#include "tests/atmodem/line_fixture.h"

TEST_F(LineTest, TheHostWithAModemDeviceSetsTheModemUpThroughTheAtLibrary) {
    modemsim::ModemSim modem;
    ASSERT_TRUE(modem.Start());
    std::ofstream("input.txt") << R"({"id":1,"call":"InitLine","args":[0]}
{"id":2,"call":"OpenLine","args":[0]}
{"id":3,"run":1.5}
)";
    std::string cmd = std::string(MARLUNE_BIN) + " host --modem " + modem.Path() + " < input.txt 2>stderr.txt";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    while (fgets(buf, sizeof buf, p)) out += buf;
    EXPECT_EQ(pclose(p), 0);
    EXPECT_NE(out.find(R"({"id":1,"result":"Marlune SimVoice 56K"})"), std::string::npos) << out;
    EXPECT_NE(out.find(R"({"id":2,"result":0})"), std::string::npos) << out;
    auto sent = modem.Commands();
    for (const char* c : {"AT+FCLASS=8", "AT+VCID=1", "AT+VLS=0"})
        EXPECT_NE(std::find(sent.begin(), sent.end(), c), sent.end()) << c;

    // An unknown option is refused.
    FILE* q = popen((std::string(MARLUNE_BIN) + " host --modme x < /dev/null 2>/dev/null").c_str(), "r");
    ASSERT_NE(q, nullptr);
    while (fgets(buf, sizeof buf, q)) {
    }
    EXPECT_EQ(WEXITSTATUS(pclose(q)), 2);
}
