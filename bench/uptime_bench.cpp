// A service's cost over its uptime: `marlune run` of the balance line with
// 100 and with 600 callers leaving a message, one after another, each run a
// process of its own. Reported: CPU per call of the first 100 calls and of
// calls 101-600, the peak resident memory of each run, and their ratios
// (600 over 100): a call must cost the same however long the service runs.
//
//   uptime_bench --benchmark_filter=Uptime
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <fstream>
#include <string>

#include "bench/scratch.h"

extern char** environ;

namespace {

// What the callers do: each leaves a short message and is hung up on.
std::string Callers(int calls) {
    return R"(
write_tones("caller_message.wav", {{330, 0.5}, {0, 0.2}, {440, 1.0}})
at(1, function()
  for i = 1, )" + std::to_string(calls) + R"( do
    caller.offer{caller = string.format("1380013%04d", i)}
    caller.ring{count = 4, interval = 4}
    assert(wait_event("IsConnect", 30), "the line did not answer")
    wait(1.5)
    caller.keys{keys = "2"}
    wait_event("RecordDevOpen", 60)
    wait(0.5)
    caller.caller_voice{wav = "caller_message.wav"}
    wait(2.5)
    caller.keys{keys = "#"}
    wait_event("LineIsFree", 60)
    wait(1)
  end
end)
)";
}

struct RunCost {
    double cpuSeconds = -1;
    double peakMiB = 0;
    int status = -1;
};

// `marlune run` of the balance line with `calls` callers in a new folder,
// its output thrown away; the child's own CPU time and peak memory.
RunCost RunCalls(int calls) {
    RunCost cost;
    const std::string dir = bench::MakeScratch("uptime");
    if (dir.empty()) return cost;
    const std::string callers = dir + "/callers.lua";
    std::ofstream(callers) << Callers(calls);
    const std::string app = std::string(MARLUNE_EXAMPLES) + "/balance.lua";
    const std::string out = dir + "/out";
    const char* argv[] = {MARLUNE_BIN, "run", app.c_str(), callers.c_str(), "--out", out.c_str(),
                          "--for", "1000000", "--no-sound", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, (dir + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, MARLUNE_BIN, &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return cost;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return cost;
    cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    cost.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    cost.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return cost;
}

void BM_Uptime(benchmark::State& state) {
    RunCost few, many;
    for (auto _ : state) {
        few = RunCalls(100);
        many = RunCalls(600);
        if (few.status != 0 || many.status != 0) {
            state.SkipWithError(("marlune run failed: exit " + std::to_string(few.status) + ", " +
                                 std::to_string(many.status))
                                    .c_str());
            return;
        }
    }
    const double first = few.cpuSeconds / 100 * 1e3;
    const double later = (many.cpuSeconds - few.cpuSeconds) / 500 * 1e3;
    state.counters["cpu_ms_per_call_1_100"] = first;
    state.counters["cpu_ms_per_call_101_600"] = later;
    state.counters["cpu_ratio"] = first > 0 ? later / first : 0;
    state.counters["peak_MiB_100"] = few.peakMiB;
    state.counters["peak_MiB_600"] = many.peakMiB;
    state.counters["peak_ratio"] = few.peakMiB > 0 ? many.peakMiB / few.peakMiB : 0;
}

BENCHMARK(BM_Uptime)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) { return bench::RunAndClean(argc, argv, "uptime-bench"); }
