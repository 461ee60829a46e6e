// Arbitrary bytes as a WAV file: read by ReadWav, then played on the sound
// card and on the line device as PlayWav plays it; the platform's own WAV
// reader (the wave devices' input sources) takes the same file.
#include "audio/wav_reader.h"
#include "fuzz/fuzz_env.h"
#include "platform/riff_wave.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzenv::WriteFile("in.wav", data, size);
    fuzzenv::Session s;
    SoundRef sound;
    if (ReadWav(s.module->core, "in.wav", sound) == 0 && !sound) __builtin_trap();
    riff::WaveInfo info;
    std::vector<uint8_t> samples;
    if (riff::ReadFile("in.wav", info, samples) && samples.size() != info.dataSize) __builtin_trap();
    for (LONG dev : {0L, 1L}) {
        try {
            s.ctrl->PlayWav("in.wav", dev);
        } catch (const AutomationError&) {
        }
        sim::RunFor(sim::kSecond);
        s.ctrl->StopPlayWav();
        sim::RunPending();
    }
    return 0;
}
