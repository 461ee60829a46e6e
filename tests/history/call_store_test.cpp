// The call store on its own: what a finished call leaves in it, calls left
// open by a runner that died, the schema guard, the filters.
#include <sys/wait.h>

#include <fstream>

#include "tests/history/store_fixture.h"

namespace {

TEST_F(CallStoreTest, AFinishedCallKeepsWhatTheTrackerSaw) {
    auto store = Open();
    CallRecord call = Finished(4, "13912345678", 100);
    int64_t id = store->Begin(call, epoch);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(store->Finish(id, call, epoch)) << store->error();

    StoredCall c;
    ASSERT_TRUE(store->Load(id, c));
    EXPECT_EQ(c.folder, "call-4");
    EXPECT_EQ(c.number, "13912345678");
    EXPECT_EQ(c.line, 1);
    EXPECT_DOUBLE_EQ(c.answer, 108);
    EXPECT_DOUBLE_EQ(c.wallStart, epoch + 100.0);
    EXPECT_DOUBLE_EQ(c.wallEnd, epoch + 130.0);
    EXPECT_EQ(c.ended, "caller");
    EXPECT_EQ(c.recordings, 1);
    ASSERT_EQ(c.keyTimes.size(), 2u);
    EXPECT_EQ(c.keyTimes[1].key, "#");
    EXPECT_DOUBLE_EQ(c.keyTimes[1].t, 120);
    ASSERT_EQ(c.prompts.size(), 2u);
    EXPECT_EQ(c.prompts[1].text, "after the tone");
    // The recording that never began is not one; the other points at its copy.
    ASSERT_EQ(c.recorded.size(), 1u);
    std::map<std::string, std::string> kinds;
    for (auto& f : c.files) kinds[f.path] = f.kind;
    EXPECT_EQ(kinds, (std::map<std::string, std::string>{{"call-4/heard.wav", "heard"},
                                                         {"call-4/log.txt", "log"},
                                                         {"call-4/message.wav", "recording"},
                                                         {"call-4/timeline.png", "timeline"},
                                                         {"call-4/timeline.svg", "timeline-svg"}}));
    StoredFile copy;
    ASSERT_TRUE(store->File(c.recorded[0].file, copy));
    EXPECT_EQ(copy.path, "call-4/message.wav");
    EXPECT_EQ(copy.bytes, 10);
}

TEST_F(CallStoreTest, HowACallEnded) {
    struct Case {
        bool freed, connected, callerHungUp;
        const char* ended;
    } cases[] = {
        {true, true, true, "caller"},
        {true, true, false, "service"},
        {true, false, true, "unanswered"},
        {false, true, true, "stopped"},  // the session ended first
    };
    for (auto& k : cases) {
        CallRecord c;
        c.connected = k.connected ? 5 : -1;
        c.callerHungUp = k.callerHungUp;
        if (k.freed) c.marks.push_back({9, CallMark::Event, "LineIsFree"});
        EXPECT_EQ(EndingOf(c), k.ended) << k.freed << k.connected << k.callerHungUp;
    }
}

// A runner killed during a call leaves it open; the next runner closes it
// unless the runner that wrote it is still running.
TEST_F(CallStoreTest, CallsLeftOpenAreClosedWhenTheirRunnerIsGone) {
    int64_t dead = 0, alive = 0, done = 0;
    {
        auto store = Open();
        CallRecord first = Finished(1, "111", 0);
        done = store->Begin(first, epoch);
        ASSERT_TRUE(store->Finish(done, first, epoch));
        dead = store->Begin(Finished(2, "222", 40), epoch);
        alive = store->Begin(Finished(3, "333", 80), epoch);
    }
    sqlite3* db = Raw();
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    std::string sql = "UPDATE calls SET pid = " + std::to_string(gone) + " WHERE id = " + std::to_string(dead) +
                      "; UPDATE calls SET pid = " + std::to_string(getppid()) + " WHERE id = " + std::to_string(alive);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    auto store = Open();
    StoredCall c;
    ASSERT_TRUE(store->Load(dead, c));
    EXPECT_EQ(c.ended, "interrupted");
    ASSERT_TRUE(store->Load(alive, c));
    EXPECT_EQ(c.ended, "open");
    ASSERT_TRUE(store->Load(done, c));
    EXPECT_EQ(c.ended, "caller");
    EXPECT_EQ(c.keyTimes.size(), 2u);
}

// A database this store cannot own is left as it is, for writers and readers.
TEST_F(CallStoreTest, AStoreOfANewerSchemaOrNoDatabaseIsLeftAlone) {
    sqlite3* db = Raw();
    sqlite3_exec(db, "CREATE TABLE calls(x); PRAGMA user_version = 7", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const std::string before = testenv::ReadFile("calls.db");
    std::string error;
    EXPECT_FALSE(CallStore::OpenForWriting(root, error));
    EXPECT_NE(error.find("newer marlune (schema 7"), std::string::npos) << error;
    EXPECT_FALSE(CallStore::OpenForReading(root, error));
    EXPECT_NE(error.find("newer marlune"), std::string::npos) << error;
    EXPECT_EQ(testenv::ReadFile("calls.db"), before);

    // A file that is not a store is kept aside, whole, and a store made.
    const std::string text = "a text file that happens to have this name, long enough to look";
    std::ofstream("calls.db", std::ios::trunc) << text;
    auto made = CallStore::OpenForWriting(root, error);
    ASSERT_TRUE(made) << error;
    EXPECT_EQ(made->notice().rfind("calls.db is damaged (file is not a database); kept as calls.db.corrupt-", 0), 0u)
        << made->notice();
    const std::string aside = made->notice().substr(made->notice().find("calls.db.corrupt-"), 32);
    EXPECT_EQ(testenv::ReadFile(aside), text) << aside;
    made.reset();

    unlink("calls.db");
    EXPECT_FALSE(CallStore::OpenForReading(root, error));
    EXPECT_NE(error.find("no call history"), std::string::npos) << error;
    EXPECT_FALSE(testenv::FileExists("calls.db"));  // reading makes none
    ASSERT_TRUE(Open());
    db = Raw();
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(s, 0), CallStore::kSchemaVersion);
    sqlite3_finalize(s);
    sqlite3_close(db);
}

// A folder written again (an earlier run's numbering) belongs to the new call.
TEST_F(CallStoreTest, AFolderWrittenAgainBelongsToTheNewCall) {
    auto store = Open();
    CallRecord old = Finished(1, "111", 0);
    ASSERT_TRUE(store->Finish(store->Begin(old, epoch), old, epoch));
    CallRecord again = Finished(1, "222", 0);
    ASSERT_TRUE(store->Finish(store->Begin(again, epoch + 600), again, epoch + 600));
    auto calls = store->List(CallFilter());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].number, "222");
    EXPECT_EQ(calls[0].folder, "call-1");
    EXPECT_EQ(calls[1].folder, "");
    StoredCall older;
    ASSERT_TRUE(store->Load(calls[1].id, older));
    EXPECT_TRUE(older.files.empty());
    EXPECT_EQ(older.recorded.size(), 1u);
    EXPECT_EQ(older.recorded[0].file, 0);
}

TEST_F(CallStoreTest, FiltersSelectAndBadValuesAreRefused) {
    auto store = Open();
    // Three calls on 2001-09-09 (UTC), 10:00, 23:59 and the next day 00:30.
    const time_t day = testenv::At(2001, 9, 9, 0, 0, 0);
    struct Made {
        const char* number;
        double at;
        bool recorded, freed;
    } made[] = {{"13800138000", 10 * 3600, true, true}, {"02087654321", 24 * 3600 - 60, false, true},
                {"13912345678", 24 * 3600 + 1800, false, false}};
    int n = 0;
    for (auto& m : made) {
        CallRecord c = Finished(++n, m.number, m.at);
        if (!m.recorded) c.recordings.clear();
        if (!m.freed) c.marks.pop_back();
        ASSERT_TRUE(store->Finish(store->Begin(c, day), c, day));
    }
    struct Case {
        std::vector<std::pair<std::string, std::string>> set;
        std::vector<std::string> numbers;  // newest first
    } cases[] = {
        {{}, {"13912345678", "02087654321", "13800138000"}},
        {{{"number", "138"}}, {"13800138000"}},
        {{{"number", "1"}, {"to", "2001-09-09"}}, {"02087654321", "13800138000"}},
        {{{"from", "2001-09-10"}}, {"13912345678"}},
        {{{"from", "2001-09-09"}, {"to", "2001-09-09"}}, {"02087654321", "13800138000"}},
        {{{"recorded", "yes"}}, {"13800138000"}},
        {{{"recorded", "no"}, {"ended", "stopped"}}, {"13912345678"}},
        {{{"ended", "caller"}, {"from", ""}}, {"02087654321", "13800138000"}},
    };
    for (auto& k : cases) {
        CallFilter f;
        std::string error;
        for (auto& [name, value] : k.set) ASSERT_TRUE(f.Set(name, value, error)) << name << "=" << value << ": " << error;
        std::vector<std::string> got;
        for (auto& c : store->List(f)) got.push_back(c.number);
        EXPECT_EQ(got, k.numbers) << (k.set.empty() ? "" : k.set[0].first + "=" + k.set[0].second);
        EXPECT_EQ(store->Count(f), static_cast<int64_t>(k.numbers.size()));
    }
    CallFilter paged;
    paged.limit = 1;
    paged.offset = 1;
    auto page = store->List(paged);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].number, "02087654321");

    for (auto [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"from", "2001-02-29"}, {"from", "2001-13-01"}, {"to", "yesterday"}, {"to", "2001-9-9"},
             {"from", "1969-12-31"}, {"number", std::string(65, '1')}, {"recorded", "maybe"},
             {"ended", "hung up"}, {"colour", "red"}}) {
        CallFilter f;
        std::string error;
        EXPECT_FALSE(f.Set(name, value, error)) << name << "=" << value;
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
