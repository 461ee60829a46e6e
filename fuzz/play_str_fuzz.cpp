// PlayStr with arbitrary text (GBK and not) and a small voice pack: the
// text is spoken to the sound card, played for up to 3 s of the clock and
// stopped. The speech engine is not registered, so English runs take its
// failure path.
#include <sys/stat.h>

#include <vector>

#include "control/core/text_to_speech.h"
#include "fuzz/fuzz_env.h"
#include "platform/riff_wave.h"
#include "platform/sim/component.h"

namespace {

std::string Entry(const std::string& gbk, const std::string& name) {
    return gbk + std::string(1, '\0') + " " + name + std::string(1, '\0');
}

void WriteSound(const std::string& path, int seed) {
    std::vector<int16_t> samples(80);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>((i * 97 + seed * 131) % 4000 - 2000);
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = 8000;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 2;
    f.nAvgBytesPerSec = 16000;
    riff::WriteFile(path, f, 16, samples.data(), static_cast<DWORD>(samples.size() * 2));
}

// 零 一 二 十 点 你 好 (GBK) and the fallback sounds.
void MakePack() {
    static const char* const kChars[][2] = {{"零", "ling2"}, {"一", "yi1"}, {"二", "er4"}, {"十", "shi2"},
                                            {"点", "dian3"}, {"你", "ni3"},  {"好", "hao3"}};
    mkdir("wav", 0777);
    std::string index;
    int seed = 0;
    for (auto& c : kChars) {
        index += Entry(c[0], c[1]);
        WriteSound(std::string("wav/") + c[1] + ".wav", ++seed);
    }
    fuzzenv::WriteFile("hanzi.dat", index.data(), index.size());
    WriteSound("wav/_long.wav", ++seed);
    WriteSound("wu2.wav", ++seed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool made = (MakePack(), true);
    (void)made;
    fuzzenv::Session s;
    sim::UnregisterComponent(CTextToSpeech::kClsid);
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        s.ctrl->PlayStr(text, 0);
        // A second text while the first plays is queued.
        s.ctrl->PlayStr(text.substr(size / 2), 0);
    } catch (const AutomationError&) {
    }
    sim::RunFor(3 * sim::kSecond);
    s.ctrl->StopPlayWav();
    sim::RunPending();
    return 0;
}
