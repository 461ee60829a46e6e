// The control thread's cost of playing on the sound card: one waveOutWrite
// and waveOutReset of a 44.1 kHz 16-bit stereo buffer on the virtual clock,
// and in real time with the sound card fed through ALSA (the `null` PCM of
// the system's alsa.conf). The difference is the copy to 16-bit samples and
// the hand-over to the writer thread.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sim/alsa_output.h"
#include "platform/sim/sim.h"
#include "platform/sim/wave_devices.h"

namespace {

void BM_SoundCardWrite(benchmark::State& state) {
    const bool realTime = state.range(1) != 0;
    sim::Reset();
    setenv("MARLUNE_ALSA_DEVICE", "null", 1);
    sim::SetRealTime(realTime);
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0};
    std::string data(static_cast<size_t>(state.range(0)) * 44100 * 4, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
    HWAVEOUT h = nullptr;
    if (waveOutOpen(&h, sim::kSoundCardDevice, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        state.SkipWithError("open failed");
        return;
    }
    WAVEHDR header{};
    header.lpData = data.data();
    header.dwBufferLength = static_cast<DWORD>(data.size());
    waveOutPrepareHeader(h, &header, sizeof header);
    for (auto _ : state) {
        waveOutWrite(h, &header, sizeof header);
        waveOutReset(h);
    }
    waveOutUnprepareHeader(h, &header, sizeof header);
    waveOutClose(h);
    sim::WaitSoundCardIdle(2 * sim::kSecond);
    state.counters["pcm_opened"] = static_cast<double>(sim::SoundCardFeedState().streams);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
    sim::SetRealTime(false);
    sim::Reset();
}

}  // namespace

// Args: seconds of sound, real time (1) or virtual (0).
BENCHMARK(BM_SoundCardWrite)->Args({1, 0})->Args({1, 1})->Args({10, 0})->Args({10, 1})->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
