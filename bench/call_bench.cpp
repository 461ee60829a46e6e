// The process time of one simulated 60-second call through a real control,
// and the time `marlune host` takes from its start to its first answer.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <cstring>
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

// Spawns `marlune host`, writes one request and waits for its first line.
void BM_HostStartToFirstAnswer(benchmark::State& state) {
    const std::string program = MarluneProgram();
    bench::EnterScratch("host-bench");
    const std::string request = "{\"id\":1,\"get\":\"OutID\"}\n";
    for (auto _ : state) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) {
            state.SkipWithError("pipe");
            break;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("host"), nullptr};
        const double start = Seconds();
        pid_t pid = 0;
        int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        if (spawned != 0) {
            state.SkipWithError("cannot start marlune");
            close(in[1]);
            close(out[0]);
            break;
        }
        if (write(in[1], request.data(), request.size()) != static_cast<ssize_t>(request.size()))
            state.SkipWithError("write");
        std::string answer;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') answer += c;
        state.SetIterationTime(Seconds() - start);
        close(in[1]);
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (answer.find("\"id\":1") == std::string::npos) state.SkipWithError(("no answer: " + answer).c_str());
    }
}

BENCHMARK(BM_HostStartToFirstAnswer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace

int main(int argc, char** argv) { return bench::RunAndClean(argc, argv, "call-bench"); }
