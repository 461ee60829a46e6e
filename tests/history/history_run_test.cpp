// The runner and the history: the demo's calls as `marlune calls` lists
// them, a runner killed during a call, and runs without a history.
#include <dirent.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "host/call_store.h"
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
    // Names in `dir` that begin with `prefix`.
    static std::vector<std::string> Named(const std::string& dir, const std::string& prefix) {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d))
                if (std::string(e->d_name).rfind(prefix, 0) == 0) names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }
};

// An application that answers on the second ring and hangs up after the
// caller, and `count` callers who hang up once connected.
const char* const kAnswering =
    "ctl:InitLine(0)\nctl:OpenLine(0)\nfunction Ring(n) if n == 2 then ctl:AnswerTp() end end\n"
    "function DisConnected() ctl:HandUp() end\n";
std::string Callers(int count) {
    return "at(1, function()\n  for i = 1, " + std::to_string(count) + R"( do
    caller.offer{caller = string.format("139000000%02d", i)}
    caller.ring{count = 3, interval = 4}
    wait_event("IsConnect", 30)
    caller.hangup()
    wait_event("LineIsFree", 30)
    wait(1)
  end
end)
)";
}

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

// An outside reader holds a read transaction for 12 s as a run starts: the
// runner waits for it and records every call.
TEST_F(HistoryRunTest, AReaderHoldingTheStoreMakesTheRunWaitAndLosesNoCall) {
    std::string error;
    ASSERT_EQ(mkdir("out", 0755), 0);
    ASSERT_TRUE(CallStore::OpenForWriting("out", error)) << error;
    std::atomic<bool> holding{false}, done{false};
    std::thread reader([&] {
        sqlite3* db = nullptr;
        sqlite3_open_v2("out/calls.db", &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_exec(db, "BEGIN; SELECT count(*) FROM calls;", nullptr, nullptr, nullptr);
        holding = true;
        for (int i = 0; i < 120 && !done; ++i) usleep(100000);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    });
    while (!holding) usleep(1000);
    RunScript(kAnswering, Callers(10));
    done = true;
    reader.join();
    ASSERT_EQ(status, 0) << err;
    EXPECT_FALSE(Has(err, "call history")) << err;
    json calls = Calls();
    ASSERT_EQ(calls.size(), 10u) << err;
    for (auto& c : calls) EXPECT_EQ(c["ended"], "caller") << c.dump();
}

// A writer killed in the middle of a transaction leaves a journal that a
// read-only reader cannot roll back: `calls` rolls it back first.
TEST_F(HistoryRunTest, AWriterKilledInATransactionLeavesAStoreReadersCanRead) {
    RunScript(kAnswering, Callers(1));
    ASSERT_EQ(status, 0) << err;
    pid_t pid = fork();
    if (pid == 0) {
        sqlite3* db = nullptr;
        sqlite3_open_v2("out/calls.db", &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db,
                     "PRAGMA cache_size = 2; BEGIN IMMEDIATE; UPDATE calls SET number = 'lost';"
                     "CREATE TABLE junk(x); INSERT INTO junk VALUES(zeroblob(1000000));",
                     nullptr, nullptr, nullptr);
        raise(SIGKILL);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    ASSERT_TRUE(testenv::FileExists("out/calls.db-journal"));
    json calls = Calls();
    ASSERT_EQ(calls.size(), 1u) << err;
    EXPECT_EQ(calls[0]["number"], "13900000001");
    EXPECT_FALSE(testenv::FileExists("out/calls.db-journal"));
}

// A damaged store is kept aside and the history rebuilt from the call
// folders, by the next run or by `calls --rebuild`.
TEST_F(HistoryRunTest, ADamagedStoreIsKeptAsideAndRebuiltFromTheCallFolders) {
    Marlune("demo --out out");
    ASSERT_EQ(status, 0) << err;
    const std::string sound = testenv::ReadFile("out/calls.db");
    std::string inside = sound;
    for (size_t i = 4096; i < 8192 && i < inside.size(); ++i) inside[i] = static_cast<char>(0xA5);
    struct Case {
        std::string content, command, notice;
    } cases[] = {
        {std::string(4096, 'x'), "run", "calls.db is damaged (file is not a database); kept as calls.db.corrupt-"},
        {"", "run", "calls.db is damaged (it is empty); kept as calls.db.corrupt-"},
        {inside, "run", "calls.db is damaged ("},
        {sound, "calls out --rebuild", "calls.db kept as calls.db.old-"},
    };
    for (auto& c : cases) {
        for (auto& name : Named("out", "calls.db.")) unlink(("out/" + name).c_str());
        std::ofstream("out/calls.db", std::ios::binary | std::ios::trunc) << c.content;
        if (c.command == "run")
            RunScript("print('no calls')");
        else
            Marlune(c.command);
        ASSERT_EQ(status, 0) << c.notice << err;
        EXPECT_TRUE(Has(err, c.notice)) << err;
        EXPECT_TRUE(Has(err, "rebuilt from 4 call folder(s)")) << err;
        auto aside = Named("out", "calls.db.");
        ASSERT_EQ(aside.size(), 1u) << c.notice;
        EXPECT_TRUE(testenv::ReadFile("out/" + aside[0]) == c.content) << c.notice;
        json calls = Calls();
        ASSERT_EQ(calls.size(), 4u) << c.notice;
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(calls[i]["folder"], "call-" + std::to_string(4 - i));
            EXPECT_EQ(calls[i]["ended"], "interrupted");
            EXPECT_GE(calls[i]["files"].size(), 4u) << calls[i].dump();
            EXPECT_EQ(calls[i]["recordings"].size(), i == 2 ? 1u : 0u) << calls[i].dump();
        }
        EXPECT_EQ(calls[2]["recordings"][0]["file"], "call-2/message-2.wav");
    }
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

    // A store this marlune cannot use is left alone; the calls go on, each
    // named on stderr as not recorded.
    Marlune("calls out");
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(Has(err, "no call history in out")) << err;
    std::ofstream("out/calls.db") << std::string(4096, 'x');
    RunScript(app, callers);
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(err, "marlune: call history: calls.db is damaged")) << err;
    EXPECT_TRUE(Has(out, "call 2: incoming from 13800138000")) << out;
    EXPECT_EQ(Calls().size(), 2u);
    {
        sqlite3* db = nullptr;
        sqlite3_open_v2("out/calls.db", &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "PRAGMA user_version = 7", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    const std::string newer = testenv::ReadFile("out/calls.db");
    RunScript(app, callers);
    ASSERT_EQ(status, 0) << err;
    EXPECT_TRUE(Has(err, "marlune run: no call history: ")) << err;
    EXPECT_TRUE(Has(err, "marlune: call history: call 3 was not recorded (")) << err;
    EXPECT_TRUE(Has(out, "call 3: incoming from 13800138000")) << out;
    EXPECT_EQ(testenv::ReadFile("out/calls.db"), newer);
}

}  // namespace
