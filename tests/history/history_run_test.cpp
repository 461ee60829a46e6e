// The runner and the history: the demo's calls as `marlune calls` lists
// them, a runner killed during a call, and runs without a history.
#include <set>

#include <nlohmann/json.hpp>

#include "tests/lua/lua_run.h"

using nlohmann::json;

namespace {

class HistoryRunTest : public LuaRunTest {
protected:
    json Calls(const std::string& args = "") {
        Marlune("calls out --json " + args);
        EXPECT_EQ(status, 0) << err;
        return json::parse(out, nullptr, false);
    }
};

TEST_F(HistoryRunTest, TheDemoFillsTheHistoryAndCallsListsIt) {
    Marlune("demo --out out");
    ASSERT_EQ(status, 0) << err;
    json calls = Calls();
    ASSERT_EQ(calls.size(), 4u) << out;
    struct Want {
        const char* number;
        const char* keys;
        const char* ended;
        size_t recordings;
    } want[] = {{"13600000000", "1000000000000", "service", 0},
                {"02087654321", "", "caller", 0},
                {"13912345678", "2#", "service", 1},
                {"13800138000", "1111112340", "service", 0}};
    for (size_t i = 0; i < 4; ++i) {
        const json& c = calls[i];
        EXPECT_EQ(c["number"], want[i].number);
        std::string keys;
        for (auto& k : c["keys"]) keys += k["key"].get<std::string>();
        EXPECT_EQ(keys, want[i].keys) << c.dump();
        EXPECT_EQ(c["ended"], want[i].ended) << c.dump();
        EXPECT_EQ(c["recordings"].size(), want[i].recordings);
        EXPECT_EQ(c["folder"], "call-" + std::to_string(4 - i));
        EXPECT_GT(c["wall_end"].get<double>(), c["wall_start"].get<double>());
        std::set<std::string> kinds;
        for (auto& f : c["files"]) kinds.insert(f["kind"]);
        EXPECT_TRUE(kinds.count("heard") && kinds.count("log") && kinds.count("timeline")) << c.dump();
    }
    EXPECT_EQ(calls[2]["recordings"][0]["file"], "call-2/message-2.wav");
    EXPECT_FALSE(calls[3]["prompts"].empty());

    // The table, newest first; the filters as the server takes them.
    Marlune("calls out");
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 6u) << out;
    EXPECT_EQ(lines[0].rfind("ID  STARTED", 0), 0u) << out;
    EXPECT_TRUE(Has(lines[1], "13600000000")) << out;
    EXPECT_TRUE(Has(lines[2], "02087654321")) << out;
    EXPECT_TRUE(Has(lines[4], "13800138000")) << out;
    EXPECT_EQ(lines[5], "4 calls");
    const std::string day = calls[0]["started"].get<std::string>().substr(0, 10);
    EXPECT_EQ(Calls("--recorded yes").size(), 1u);
    EXPECT_EQ(Calls("--number 0208 --ended caller").size(), 1u);
    EXPECT_EQ(Calls("--number 139 --ended caller").size(), 0u);
    EXPECT_EQ(Calls("--from " + day + " --to " + day).size(), 4u);
    Marlune("calls out --from 2026-02-30");
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(Has(err, "is not a date")) << err;
}

// Killed in the middle of its second call, the runner leaves the first call
// whole and the second open; the next runner marks it interrupted.
TEST_F(HistoryRunTest, AKilledRunnerLosesNoFinishedCallAndLeavesTheOpenOneMarked) {
    const std::string callers = R"(
at(1, function()
  caller.offer{caller = "13800138000"}
  caller.ring{count = 4, interval = 4}
  wait_event("IsConnect", 30)
  wait(2)
  caller.hangup()
  wait_event("LineIsFree", 30)
  wait(3)
  caller.offer{caller = "13912345678"}
  caller.ring{count = 4, interval = 4}
  wait_event("IsConnect", 30)
  caller.keys{keys = "1"}
  wait(1)
  os.execute("kill -9 $PPID")
  wait(60)
end)
)";
    RunScript(testenv::ReadFile(std::string(MARLUNE_EXAMPLES) + "/balance.lua"), callers);
    ASSERT_NE(status, 0) << out;
    json calls = Calls();
    ASSERT_EQ(calls.size(), 2u) << out;
    EXPECT_EQ(calls[0]["number"], "13912345678");
    EXPECT_EQ(calls[0]["ended"], "open");
    EXPECT_EQ(calls[0]["folder"], "call-2");  // the runner gave it its folder as it began
    EXPECT_EQ(calls[1]["ended"], "caller");
    EXPECT_EQ(calls[1]["folder"], "call-1");
    EXPECT_FALSE(calls[1]["files"].empty());

    RunScript("print('a run without calls')");
    ASSERT_EQ(status, 0) << err;
    calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]["ended"], "interrupted");
    EXPECT_EQ(calls[1]["ended"], "caller");
}

TEST_F(HistoryRunTest, ARunGoesOnWithoutAHistory) {
    const std::string app = testenv::ReadFile(std::string(MARLUNE_EXAMPLES) + "/balance.lua");
    const std::string callers = R"(
at(1, function()
  caller.offer{caller = "13800138000"}
  caller.ring{count = 4, interval = 4}
  wait_event("IsConnect", 30)
  caller.hangup()
end)
)";
    RunScript(app, callers, "--no-history");
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(out, "1 call(s)"));
    EXPECT_FALSE(testenv::FileExists("out/calls.db"));

    // A store this marlune cannot use is left alone; the calls go on.
    Marlune("calls out");
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(Has(err, "no call history in out")) << err;
    std::ofstream("out/calls.db") << std::string(4096, 'x');
    RunScript(app, callers);
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(err, "marlune run: no call history: ")) << err;
    EXPECT_TRUE(Has(out, "call 2: incoming from 13800138000")) << out;
    EXPECT_EQ(testenv::ReadFile("out/calls.db"), std::string(4096, 'x'));
}

}  // namespace
