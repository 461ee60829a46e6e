// Benchmarks of the voice audio: reading WAV files against a plain read of
// the same bytes, and the sequencer's work from one sound's MM_WOM_DONE to
// the next sound's waveOutWrite.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "audio/playback.h"
#include "bench/scratch.h"
#include "audio/wav_reader.h"
#include "control/front/marlune_ctrl.h"
#include "platform/riff_wave.h"
#include "platform/sim/sim.h"
#include "platform/sim/wave_devices.h"

namespace {

// A PCM 8 kHz 16-bit file with `dataBytes` of samples, in the scratch
// folder (the current one).
std::string MakeWav(const std::string& name, size_t dataBytes) {
    std::string data(dataBytes, '\0');
    for (size_t i = 0; i < dataBytes; ++i) data[i] = static_cast<char>(i * 31);
    riff::WriteFile(name, riff::Pcm16Format(8000), 16, data.data(), static_cast<DWORD>(dataBytes));
    return name;
}

const std::string& File(size_t bytes) {
    static std::string large = MakeWav("large.wav", 10 * 1024 * 1024);
    static std::string small = MakeWav("small.wav", 20 * 1024);
    return bytes > 1024 * 1024 ? large : small;
}

// This thread's processor time, as the benchmark's own figures are.
double CpuSeconds() {
    struct timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void BM_ReadWav(benchmark::State& state) {
    const std::string& path = File(static_cast<size_t>(state.range(0)));
    Module m;
    m.core.log.Enable();  // with the log on, as in a control: one entry per read
    SoundRef sound;
    for (auto _ : state) {
        if (ReadWav(m.core, path.c_str(), sound) != 0) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(sound->Data());
        sound.reset();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// The same bytes into one heap block with one read, nothing parsed; false
// on a short read.
bool PlainRead(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    char* block = static_cast<char*>(calloc(1, static_cast<size_t>(size)));
    const bool whole = fread(block, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size);
    fclose(f);
    benchmark::DoNotOptimize(block);
    free(block);
    return whole;
}

void BM_PlainRead(benchmark::State& state) {
    const std::string& path = File(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        if (!PlainRead(path)) state.SkipWithError("short");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// The two side by side in one run, one of each in turn, so that the
// machine's drift hits both: vs_plain_read is ReadWav's cost as a multiple
// of the plain read's.
void BM_ReadWavVsPlainRead(benchmark::State& state) {
    const std::string& path = File(static_cast<size_t>(state.range(0)));
    Module m;
    m.core.log.Enable();
    SoundRef sound;
    double wav = 0, plain = 0;
    for (auto _ : state) {
        const double t0 = CpuSeconds();
        if (ReadWav(m.core, path.c_str(), sound) != 0) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(sound->Data());
        sound.reset();
        const double t1 = CpuSeconds();
        PlainRead(path);
        plain += CpuSeconds() - t1;
        wav += t1 - t0;
    }
    state.counters["vs_plain_read"] = plain > 0 ? wav / plain : 0;
}

BENCHMARK(BM_ReadWav)->Arg(10 * 1024 * 1024)->Arg(20 * 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadWavVsPlainRead)->Arg(10 * 1024 * 1024)->Arg(20 * 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainRead)->Arg(10 * 1024 * 1024)->Arg(20 * 1024)->Unit(benchmark::kMicrosecond);

// A list of `items` sounds of 8 samples each, in memory, played on the line
// device to its end; reported per item. Each item is one MM_WOM_DONE, the
// sequencer's work (unprepare, log, next sound made current, prepare,
// waveOutWrite) and the virtual device's own bookkeeping.
void BM_SequencerPerItem(benchmark::State& state) {
    const int items = static_cast<int>(state.range(0));
    sim::Reset();
    auto module = std::make_unique<Module>();
    module->MakeCurrent();
    auto ctrl = std::make_unique<CMarluneCtrl>(*module);
    ctrl->CreateControlWindow(nullptr, RECT{0, 0, 10, 10});
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    auto one = std::make_shared<Sound>();
    one->format = HeapBlock::Allocate(sizeof format);
    memcpy(one->format.get(), &format, sizeof format);
    one->data = HeapBlock::Allocate(16);
    PlaySequencer& list = module->playList;
    double played = 0;
    for (auto _ : state) {
        state.PauseTiming();
        list.Clear();
        for (int k = 0; k < items; ++k) list.AddSound("wav\\x.wav", one);
        if (list.Start(*ctrl, 1, true) != 0) state.SkipWithError("no start");
        state.ResumeTiming();
        const double t0 = CpuSeconds();
        sim::RunUntil([&] { return list.ItemKinds.empty(); }, 3600 * sim::kSecond);
        played += CpuSeconds() - t0;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * items);
    state.counters["us_per_item"] = benchmark::Counter(static_cast<double>(state.iterations()) * items,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    // The floor of an item is its four log entries, each one write: the
    // item's cost in bare writes of an entry's bytes, timed in the same run,
    // says how far above that floor it is whatever the file system's speed.
    const double itemCount = static_cast<double>(state.iterations()) * items;
    if (itemCount > 0) {
        const std::string entry = "2004-March-05  09:00:00 :\xB2\xA5\xB7\xC5 wav\\x.wav\r\n\t";
        FILE* bare = fopen("bare.txt", "ab");
        if (bare) {
            const int fd = fileno(bare);
            const int writes = 20000;
            const double t0 = CpuSeconds();
            for (int i = 0; i < writes; ++i) benchmark::DoNotOptimize(write(fd, entry.data(), entry.size()));
            const double perWrite = (CpuSeconds() - t0) / writes;
            fclose(bare);
            remove("bare.txt");
            state.counters["bare_write_us"] = perWrite * 1e6;
            state.counters["item_in_bare_writes"] = played / itemCount / perWrite;
        }
    }
    ctrl.reset();
    module.reset();
    sim::Reset();
}

BENCHMARK(BM_SequencerPerItem)->Arg(1000)->Unit(benchmark::kMillisecond);

// PlayAllisEnglish of a text of `bytes` on the sound card: the time until
// the call returns with the speech's first sound queued on the device, then
// a stop. The time must not grow with the text.
void BM_EnglishFirstSound(benchmark::State& state) {
    std::string text;
    while (text.size() < static_cast<size_t>(state.range(0))) text += "The quick brown fox jumps over the lazy dog. ";
    text.resize(static_cast<size_t>(state.range(0)));
    sim::Reset();
    auto module = std::make_unique<Module>();
    module->MakeCurrent();
    auto ctrl = std::make_unique<CMarluneCtrl>(*module);
    ctrl->CreateControlWindow(nullptr, RECT{0, 0, 10, 10});
    ctrl->PlayAllisEnglish("warm up", 1);  // the engine loads with its first phrase
    ctrl->StopPlayWav();
    sim::RunFor(sim::kSecond);
    for (auto _ : state) {
        ctrl->PlayAllisEnglish(text, 1);
        state.PauseTiming();
        if (module->core.speech->GetStatus() == 0) state.SkipWithError("nothing is spoken");
        ctrl->StopPlayWav();
        sim::RunFor(sim::kSecond);
        state.ResumeTiming();
    }
    ctrl.reset();
    module.reset();
    sim::Reset();
}

BENCHMARK(BM_EnglishFirstSound)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

// The WAV files and the control's daily log go into the run's scratch folder.
int main(int argc, char** argv) { return bench::RunAndClean(argc, argv, "audio-bench"); }
