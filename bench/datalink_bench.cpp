// Benchmarks of the data link: SendFile of a 1 MB and a 10 MB file and
// SendData of a 64 KB string over a data call's pseudo-terminal, with the
// far end capturing to a file. heap_peak_rise_bytes is how far the live
// heap rose above its size before the sends: it should not grow with the
// file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "bench/scratch.h"
#include "control/front/marlune_ctrl.h"
#include "peers/virtual_modem/data_call.h"
#include "platform/sim/sim.h"
#include "tests/support/heap_peak.h"

namespace {

std::string Dir() {
    static std::string dir = bench::MakeScratch("datalink-bench");
    return dir;
}

std::string MakeFile(const std::string& name, size_t size) {
    std::string path = Dir() + "/" + name;
    std::ofstream out(path, std::ios::binary);
    std::string chunk(64 * 1024, '\0');
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(1 + i % 255);
    for (size_t done = 0; done < size; done += chunk.size()) out.write(chunk.data(), static_cast<std::streamsize>(std::min(chunk.size(), size - done)));
    return path;
}

struct DataCall {
    std::unique_ptr<Module> module;
    std::unique_ptr<CMarluneCtrl> ctrl;
    bool ok = false;

    DataCall() {
        sim::Reset();
        module = std::make_unique<Module>();
        module->MakeCurrent();
        ctrl = std::make_unique<CMarluneCtrl>(*module);
        ctrl->CreateControlWindow(nullptr, RECT{0, 0, 10, 10});
        ctrl->InitLine(0);
        ctrl->OpenLine(0);
        sim::RunPending();
        vmodem_OfferData(0, nullptr);
        sim::RunPending();
        ctrl->AnswerTp();
        sim::RunPending();
        ok = vmodem_DataCapture(0, (Dir() + "/far_end.bin").c_str()) == 0;
    }
    ~DataCall() {
        vmodem_DataCapture(0, nullptr);
        ctrl.reset();
        module.reset();
        sim::Reset();
    }
};

void BM_SendFile(benchmark::State& state) {
    size_t size = static_cast<size_t>(state.range(0));
    std::string path = MakeFile("send_" + std::to_string(size) + ".bin", size);
    DataCall call;
    if (!call.ok) state.SkipWithError("no capture file");
    heappeak::Start();
    for (auto _ : state) {
        if (call.ctrl->SendFile(path) != 0) state.SkipWithError("send failed");
        truncate((Dir() + "/far_end.bin").c_str(), 0);
    }
    state.counters["heap_peak_rise_bytes"] = static_cast<double>(heappeak::Rise());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_SendData(benchmark::State& state) {
    std::string text(static_cast<size_t>(state.range(0)), 'x');
    DataCall call;
    for (auto _ : state)
        if (call.ctrl->SendData(text) != 0) state.SkipWithError("send failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(BM_SendFile)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SendData)->Arg(64 << 10)->Unit(benchmark::kMicrosecond);
int main(int argc, char** argv) { return bench::RunAndClean(argc, argv, "datalink-bench"); }
