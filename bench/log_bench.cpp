// Benchmarks of one event log entry, written to a real file in a scratch
// folder: the control's EventLog against a bare write of the same bytes and
// a plain open / write / close of the daily file per entry (how every entry
// used to be written).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

#include "control/core/event_log.h"
#include "platform/sim/sim.h"

namespace {

// A typical entry: a GBK text of a dozen characters and a file name.
const char kText[] = "\xB2\xA5\xB7\xC5\xCE\xC4\xBC\xFE wav\\greeting.wav \xB3\xC9\xB9\xA6";

// Enters a fresh scratch folder for one run and leaves (and empties) it at
// the end, so the file does not grow across runs.
class Scratch {
public:
    explicit Scratch(benchmark::State& state) : state_(state) {
        char cwd[4096];
        old_ = getcwd(cwd, sizeof cwd) ? cwd : ".";
        char tmpl[] = "/tmp/marlune-bench-log-XXXXXX";
        dir_ = mkdtemp(tmpl);
        if (chdir(dir_.c_str()) != 0) state_.SkipWithError("no scratch folder");
        sim::Reset();
        sim::SetEpoch(time(nullptr));
    }
    ~Scratch() {
        if (chdir(old_.c_str()) != 0) state_.SkipWithError("cannot return");
        std::string cmd = "rm -rf '" + dir_ + "'";
        if (system(cmd.c_str()) != 0) state_.SkipWithError("cannot clean up");
        sim::Reset();
    }

private:
    benchmark::State& state_;
    std::string old_;
    std::string dir_;
};

std::string Format(time_t when, const char* pattern) {
    struct tm local {};
    if (!localtime_r(&when, &local)) return std::string();
    char buf[128];
    size_t n = strftime(buf, sizeof buf, pattern, &local);
    return std::string(buf, n);
}

// The reference: name and stamp formatted per entry, the file opened,
// appended to with one write and closed per entry.
void OpenWriteClose(const char* text) {
    time_t now = sim::WallTime();
    std::string name = Format(now, "%Y-%B-%d") + "modem.txt";
    std::string entry = Format(now, "%Y-%B-%d  %H:%M:%S") + " :" + text + "\n\t";
    std::string bytes;
    bytes.reserve(entry.size() + 8);
    for (char c : entry) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    int fd = open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return;
    ssize_t ignored = write(fd, bytes.data(), bytes.size());
    (void)ignored;
    close(fd);
}

void BM_LogEntryOpenWriteClose(benchmark::State& state) {
    Scratch scratch(state);
    for (auto _ : state) OpenWriteClose(kText);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// Entries within one second: the formatted stamp is reused.
void BM_LogEntry(benchmark::State& state) {
    Scratch scratch(state);
    EventLog log;
    log.Enable();
    for (auto _ : state) log.Write(kText);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// Every entry in a new second: the stamp is formatted for each one.
void BM_LogEntryEachSecond(benchmark::State& state) {
    Scratch scratch(state);
    EventLog log;
    log.Enable();
    time_t start = time(nullptr);
    time_t t = start;
    for (auto _ : state) {
        sim::SetEpoch(++t);
        log.Write(kText);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// The floor: the bytes of one entry written to a descriptor kept open.
void BM_BareWrite(benchmark::State& state) {
    Scratch scratch(state);
    const std::string entry = "2004-March-05  09:00:00 :" + std::string(kText) + "\r\n\t";
    int fd = open("bare.txt", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) state.SkipWithError("cannot open");
    for (auto _ : state) benchmark::DoNotOptimize(write(fd, entry.data(), entry.size()));
    close(fd);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// The two side by side in one run: rounds of entries and of bare writes of
// the same bytes taken in turn, so that the machine's drift hits both; the
// counter vs_bare_write is the entry's cost as a multiple of the write's.
void BM_LogEntryVsBareWrite(benchmark::State& state) {
    Scratch scratch(state);
    EventLog log;
    log.Enable();
    const std::string entry = "2004-March-05  09:00:00 :" + std::string(kText) + "\r\n\t";
    int fd = open("bare.txt", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) state.SkipWithError("cannot open");
    constexpr int kRound = 2000;
    double logged = 0, bare = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kRound; ++i) log.Write(kText);
        auto t1 = std::chrono::steady_clock::now();
        for (int i = 0; i < kRound; ++i) benchmark::DoNotOptimize(write(fd, entry.data(), entry.size()));
        auto t2 = std::chrono::steady_clock::now();
        logged += std::chrono::duration<double>(t1 - t0).count();
        bare += std::chrono::duration<double>(t2 - t1).count();
    }
    close(fd);
    state.counters["vs_bare_write"] = bare > 0 ? logged / bare : 0;
    state.counters["entry_us"] = logged * 1e6 / (static_cast<double>(state.iterations()) * kRound);
}

BENCHMARK(BM_BareWrite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LogEntryVsBareWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogEntryOpenWriteClose)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LogEntry)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LogEntryEachSecond)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
