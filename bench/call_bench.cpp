// The process time of one simulated 60-second call through a real control,
// and the time `marlune host` takes from its start to its first answer
// against the start of `true` in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>

#include "bench/call_session.h"

extern char** environ;

namespace {

double Seconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void BM_SimulatedCall(benchmark::State& state) {
    bench::EnterScratch("call-bench");
    bench::CallSession session;
    if (!session.ok()) state.SkipWithError("no line");
    for (auto _ : state)
        if (!session.Call()) state.SkipWithError("call failed");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK(BM_SimulatedCall)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

// The marlune program next to this benchmark.
std::string MarluneProgram() {
    char self[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string("./x");
    return dir.substr(0, dir.rfind('/')) + "/marlune";
}

// Spawns `program`, writes `input` to it and reads its output up to the
// first line's end (or the end of its output); answers the seconds from the
// spawn to then, negative when it cannot be started.
double UntilFirstLine(const std::string& program, const char* arg, const std::string& input, std::string& line) {
    int in[2], out[2];
    if (pipe(in) != 0) return -1;
    if (pipe(out) != 0) {
        close(in[0]);
        close(in[1]);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(arg), nullptr};
    const double start = Seconds();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    double took = -1;
    if (spawned == 0) {
        // A program that has exited does not read: a short write is no fault.
        signal(SIGPIPE, SIG_IGN);
        if (!input.empty() && write(in[1], input.data(), input.size()) < 0) line = "(write failed) ";
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        took = Seconds() - start;
    }
    close(in[1]);
    close(out[0]);
    int status = 0;
    if (spawned == 0) waitpid(pid, &status, 0);
    return took;
}

// `marlune host` from its start to its first answer, and beside it in the
// same run the start of `true` (to its exit): "vs_true" is their ratio,
// the host's time over true's.
void BM_HostStartToFirstAnswer(benchmark::State& state) {
    const std::string program = MarluneProgram();
    bench::EnterScratch("host-bench");
    const std::string request = "{\"id\":1,\"get\":\"OutID\"}\n";
    double host = 0, bare = 0;
    for (auto _ : state) {
        std::string answer, nothing;
        const double t = UntilFirstLine(program, "host", request, answer);
        const double b = UntilFirstLine("/bin/true", nullptr, "", nothing);
        if (t < 0 || b < 0) {
            state.SkipWithError("cannot start marlune or true");
            break;
        }
        state.SetIterationTime(t);
        host += t;
        bare += b;
        if (answer.find("\"id\":1") == std::string::npos) state.SkipWithError(("no answer: " + answer).c_str());
    }
    state.counters["true_ms"] = benchmark::Counter(bare * 1e3 / static_cast<double>(std::max<int64_t>(1, state.iterations())));
    state.counters["vs_true"] = bare > 0 ? host / bare : 0;
}

BENCHMARK(BM_HostStartToFirstAnswer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);

}  // namespace

int main(int argc, char** argv) { return bench::RunAndClean(argc, argv, "call-bench"); }
