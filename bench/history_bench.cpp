// The call history with many calls: writing a call (begin and finish, each
// a transaction), listing them all as `marlune calls` does, one page of the
// web list (filtered and not), and a call page.
#include <benchmark/benchmark.h>
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

// A store of `calls` calls, made once per size.
CallStore& Store(int calls) {
    static std::map<int, std::unique_ptr<CallStore>> stores;
    auto& s = stores[calls];
    if (!s) {
        char tmpl[] = "/tmp/history-bench-XXXXXX";
        std::string dir = mkdtemp(tmpl);
        std::string error;
        s = CallStore::OpenForWriting(dir, error);
        if (!s) abort();
        for (int n = 1; n <= calls; ++n) {
            CallRecord c = MakeCall(n);
            s->Finish(s->Begin(c, 1'700'000'000), c, 1'700'000'000);
        }
    }
    return *s;
}

void BM_WriteCall(benchmark::State& state) {
    CallStore& store = Store(1000);
    int n = 100000;
    for (auto _ : state) {
        CallRecord c = MakeCall(++n);
        benchmark::DoNotOptimize(store.Finish(store.Begin(c, 1'700'000'000), c, 1'700'000'000));
    }
}
BENCHMARK(BM_WriteCall)->Unit(benchmark::kMicrosecond);

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
