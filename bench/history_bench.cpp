// The call history with many calls: writing a call (begin and finish, each
// a transaction), listing them all as `marlune calls` does, one page of the
// web list (filtered and not), and a call page.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "host/call_store.h"
#include "host/history_pages.h"

namespace {

CallRecord MakeCall(int n) {
    CallRecord c;
    c.number = n;
    c.party = "138" + std::to_string(10000000 + n * 7919 % 9000000);
    c.start = n * 120.0;
    c.connected = c.start + 8;
    c.end = c.start + 40 + n % 30;
    c.keys = n % 3 ? "1#" : "20";
    c.marks = {{c.start + 8, CallMark::Event, "IsConnect"},
               {c.start + 12, CallMark::Key, c.keys.substr(0, 1)},
               {c.start + 15, CallMark::Key, c.keys.substr(1, 1)},
               {c.end, CallMark::Event, "LineIsFree"}};
    c.callerHungUp = n % 2;
    c.phrases = {{c.start + 8, c.start + 12, "您好 欢迎致电Marlune余额查询"},
                 {c.start + 12, c.start + 16, "查询余额请按1 留言请按2 结束请按0"}};
    return c;
}

// A store of `calls` calls (a multiple of 1,000), made once per size: the
// first thousand written call by call as a runner writes them (each commit
// synced), the rest copies of them a month apart, in one transaction.
CallStore& Store(int calls) {
    static std::map<int, std::unique_ptr<CallStore>> stores;
    auto& s = stores[calls];
    if (!s) {
        char tmpl[] = "/tmp/history-bench-XXXXXX";
        std::string dir = mkdtemp(tmpl);
        std::string error;
        s = CallStore::OpenForWriting(dir, error);
        if (!s) abort();
        for (int n = 1; n <= 1000; ++n) {
            CallRecord c = MakeCall(n);
            s->Finish(s->Begin(c, 1'700'000'000), c, 1'700'000'000);
        }
        sqlite3* db = nullptr;
        sqlite3_open((dir + "/" + CallStore::kFileName).c_str(), &db);
        std::string sql = "BEGIN;";
        for (int k = 1; k < calls / 1000; ++k) {
            const std::string shift = std::to_string(k * 1000);
            sql += "INSERT INTO calls(id, outgoing, line, number, clock_start, clock_answer, clock_end, wall_start, "
                   "wall_answer, wall_end, ended, keys, recordings) SELECT id + " + shift + ", outgoing, line, number, "
                   "clock_start, clock_answer, clock_end, wall_start + " + std::to_string(k * 2592000) +
                   ", wall_answer, wall_end, ended, keys, recordings FROM calls WHERE id <= 1000;"
                   "INSERT INTO call_keys SELECT call + " + shift + ", seq, key, t FROM call_keys WHERE call <= 1000;"
                   "INSERT INTO call_prompts SELECT call + " + shift + ", seq, text, t_start, t_end FROM call_prompts "
                   "WHERE call <= 1000;";
        }
        sql += "COMMIT;";
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) abort();
        sqlite3_close(db);
    }
    return *s;
}

void BM_WriteCall(benchmark::State& state) {
    char tmpl[] = "/tmp/history-bench-XXXXXX";
    std::string error;
    auto fresh = CallStore::OpenForWriting(mkdtemp(tmpl), error);
    if (!fresh) abort();
    CallStore& store = *fresh;
    int n = 0;
    for (auto _ : state) {
        CallRecord c = MakeCall(++n);
        benchmark::DoNotOptimize(store.Finish(store.Begin(c, 1'700'000'000), c, 1'700'000'000));
    }
}
BENCHMARK(BM_WriteCall)->Unit(benchmark::kMicrosecond)->Iterations(200);

void BM_ListAll(benchmark::State& state) {
    CallStore& store = Store(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(store.List(CallFilter()).size());
}
BENCHMARK(BM_ListAll)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_ListPage(benchmark::State& state) {
    CallStore& store = Store(static_cast<int>(state.range(0)));
    HistoryPages pages(store);
    const Query query = state.range(1) ? Query{{"number", "1385"}, {"ended", "caller"}, {"page", "3"}} : Query{};
    for (auto _ : state) benchmark::DoNotOptimize(pages.List(query).body.size());
}
BENCHMARK(BM_ListPage)->Args({1000, 0})->Args({10000, 0})->Args({10000, 1})->Unit(benchmark::kMicrosecond);

void BM_CallPage(benchmark::State& state) {
    CallStore& store = Store(10000);
    HistoryPages pages(store);
    for (auto _ : state) benchmark::DoNotOptimize(pages.Call("5000").body.size());
}
BENCHMARK(BM_CallPage)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
