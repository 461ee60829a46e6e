// `marlune host --modem DEVICE` drives a modem on a serial device: here the
// simulator's terminal, answered by the simulator in this process.
#include <cstdio>
#include <fstream>

#include <unistd.h>

#include "tests/atmodem/line_fixture.h"
#include "tests/support/test_env.h"

TEST_F(LineTest, TheHostWithAModemDeviceSetsTheModemUpThroughTheAtLibrary) {
    modemsim::ModemSim modem;
    ASSERT_TRUE(modem.Start());
    auto sent = [&modem](const char* c) {
        auto commands = modem.Commands();
        return std::find(commands.begin(), commands.end(), c) != commands.end();
    };
    std::string cmd = std::string(MARLUNE_BIN) + " host --modem " + modem.Path() + " >output.txt 2>stderr.txt";
    FILE* p = popen(cmd.c_str(), "w");
    ASSERT_NE(p, nullptr);
    std::fputs("{\"id\":1,\"call\":\"InitLine\",\"args\":[0]}\n{\"id\":2,\"call\":\"OpenLine\",\"args\":[0]}\n", p);
    // The set-up runs on the wall clock, as fast as the machine lets it:
    // the host runs half a second at a time until its last command arrives.
    for (int i = 0; i < 60 && !sent("AT+VLS=0"); ++i) {
        std::fprintf(p, "{\"id\":%d,\"run\":0.5}\n", 3 + i);
        std::fflush(p);
        usleep(500 * 1000);
    }
    EXPECT_EQ(pclose(p), 0);
    std::string out = testenv::ReadFile("output.txt");
    EXPECT_NE(out.find(R"({"id":1,"result":"Marlune SimVoice 56K"})"), std::string::npos) << out;
    EXPECT_NE(out.find(R"({"id":2,"result":0})"), std::string::npos) << out;
    for (const char* c : {"AT+FCLASS=8", "AT+VCID=1", "AT+VLS=0"}) EXPECT_TRUE(sent(c)) << c;

    // An unknown option is refused.
    FILE* q = popen((std::string(MARLUNE_BIN) + " host --modme x < /dev/null 2>/dev/null").c_str(), "r");
    ASSERT_NE(q, nullptr);
    char buf[4096];
    while (fgets(buf, sizeof buf, q)) {
    }
    EXPECT_EQ(WEXITSTATUS(pclose(q)), 2);
}

// `marlune run APP.lua --modem DEVICE` runs the application on the modem's
// line, as the host does.
TEST_F(LineTest, TheRunnerTakesAModemDeviceToo) {
    modemsim::ModemSim modem;
    ASSERT_TRUE(modem.Start());
    std::ofstream("app.lua") << "print('line: ' .. ctl:InitLine(0))\nprint('open: ' .. ctl:OpenLine(0))\n";
    std::string cmd = std::string(MARLUNE_BIN) + " run app.lua --modem " + modem.Path() +
                      " --for 1.5 --out out >output.txt 2>stderr.txt";
    EXPECT_EQ(system(cmd.c_str()), 0) << testenv::ReadFile("stderr.txt");
    std::string out = testenv::ReadFile("output.txt");
    EXPECT_NE(out.find("line: Marlune SimVoice 56K\nopen: 0\n"), std::string::npos) << out;
    auto commands = modem.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "AT+VLS=0"), commands.end());
}
