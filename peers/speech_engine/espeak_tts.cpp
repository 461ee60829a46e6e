// English speech engine component for Linux, on libespeak-ng. Members:
// put 8 = output wave device id, invoke 2 = speak text (returns at once),
// get 10 = non-zero while the phrase is being spoken. A phrase lasts its
// real synthesized duration on the platform clock.
#include <dlfcn.h>
#include <espeak-ng/speak_lib.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/component.h"
#include "platform/sim/sim.h"
#include "peers/speech_engine/espeak_tts.h"

namespace {

std::mutex gEngineLock;
int gSampleRate = 0;  // 0: not initialised; -1: failed
std::vector<short>* gCollect = nullptr;

int SynthCallback(short* wav, int count, espeak_EVENT*) {
    if (wav && count > 0 && gCollect) gCollect->insert(gCollect->end(), wav, wav + count);
    return 0;
}

// libespeak-ng and what it pulls in (audio servers, codecs) are loaded with
// the first phrase, so that creating the component costs nothing.
struct EspeakLibrary {
    decltype(&espeak_Initialize) initialize = nullptr;
    decltype(&espeak_SetVoiceByName) setVoiceByName = nullptr;
    decltype(&espeak_SetSynthCallback) setSynthCallback = nullptr;
    decltype(&espeak_Synth) synth = nullptr;
    decltype(&espeak_Synchronize) synchronize = nullptr;

    bool Load() {
        void* lib = dlopen("libespeak-ng.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!lib) lib = dlopen(MARLUNE_ESPEAK_NG_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!lib) return false;
        initialize = reinterpret_cast<decltype(initialize)>(dlsym(lib, "espeak_Initialize"));
        setVoiceByName = reinterpret_cast<decltype(setVoiceByName)>(dlsym(lib, "espeak_SetVoiceByName"));
        setSynthCallback = reinterpret_cast<decltype(setSynthCallback)>(dlsym(lib, "espeak_SetSynthCallback"));
        synth = reinterpret_cast<decltype(synth)>(dlsym(lib, "espeak_Synth"));
        synchronize = reinterpret_cast<decltype(synchronize)>(dlsym(lib, "espeak_Synchronize"));
        return initialize && setVoiceByName && setSynthCallback && synth && synchronize;
    }
} gEspeak;

bool InitEngine() {
    if (gSampleRate == 0) {
        int rate = gEspeak.Load() ? gEspeak.initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0) : 0;
        if (rate <= 0 || gEspeak.setVoiceByName("en") != EE_OK) {
            gSampleRate = -1;
        } else {
            gSampleRate = rate;
            gEspeak.setSynthCallback(SynthCallback);
        }
    }
    return gSampleRate > 0;
}

void SetError(char* errorText, int errorSize, const char* text) {
    if (errorText && errorSize > 0) snprintf(errorText, static_cast<size_t>(errorSize), "%s", text);
}

}  // namespace

namespace espeak_tts {

bool Synthesize(const std::string& utf8, std::vector<short>& samples, int& sampleRate) {
    std::lock_guard<std::mutex> g(gEngineLock);
    if (!InitEngine()) return false;
    samples.clear();
    gCollect = &samples;
    espeak_ERROR r = gEspeak.synth(utf8.c_str(), utf8.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr,
                                   nullptr);
    gEspeak.synchronize();
    gCollect = nullptr;
    sampleRate = gSampleRate;
    return r == EE_OK;
}

Engine::Engine(HWND window) : window_(window) {}

Engine::~Engine() {
    sim::Cancel(endWakeup_);
    StopAudio();
}

HRESULT Engine::SetDevice(LONG id) {
    deviceId_ = id;
    return S_OK;
}

HRESULT Engine::Speak(const char* ansiText, std::string& error) {
    std::vector<short> samples;
    int rate = 0;
    if (!Synthesize(sim::ConvertCodePage(ansiText ? ansiText : "", CP_ACP, CP_UTF8), samples, rate)) {
        error = "The speech engine could not synthesize the text.";
        return E_FAIL;
    }
    StopAudio();
    sim::Micros duration = rate > 0 ? static_cast<sim::Micros>(samples.size()) * sim::kSecond / rate : 0;
    speakingUntil_ = sim::Now() + duration;
    // Wake the loop when the phrase ends, so a poll sees the change on time.
    sim::Cancel(endWakeup_);
    endWakeup_ = sim::Schedule(speakingUntil_, [] {});
    lastSamples_ = std::move(samples);
    lastRate_ = rate;
    PlayAudio();
    return S_OK;
}

// Speaking lasts until the phrase's audio has played and its device is
// free again.
LONG Engine::Status() const { return sim::Now() < speakingUntil_ || out_ ? 1 : 0; }

// Plays the phrase on the chosen device (-1: the default device); a device
// that needs another format gets it through the mapper. When no device
// takes it, the phrase is still timed on the clock.
void Engine::PlayAudio() {
    if (lastSamples_.empty() || lastRate_ <= 0) return;
    const DWORD rate = static_cast<DWORD>(lastRate_);
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, rate, rate * 2, 2, 16, 0};
    const bool mapper = deviceId_ == -1;
    const UINT device = mapper ? WAVE_MAPPER : static_cast<UINT>(deviceId_) & 0xFFFF;
    if (waveOutOpen(&out_, device, &f, 0, 0, CALLBACK_NULL | (mapper ? 0 : WAVE_MAPPED)) != MMSYSERR_NOERROR) {
        out_ = nullptr;
        return;
    }
    header_ = WAVEHDR{};
    header_.lpData = reinterpret_cast<LPSTR>(lastSamples_.data());
    header_.dwBufferLength = static_cast<DWORD>(lastSamples_.size() * sizeof(short));
    if (waveOutPrepareHeader(out_, &header_, sizeof header_) != MMSYSERR_NOERROR ||
        waveOutWrite(out_, &header_, sizeof header_) != MMSYSERR_NOERROR) {
        FinishAudio();
        return;
    }
    finishTimer_ = sim::Schedule(speakingUntil_, [this] {
        finishTimer_ = 0;
        FinishAudio();
    });
}

void Engine::FinishAudio() {
    if (!out_) return;
    waveOutReset(out_);
    waveOutUnprepareHeader(out_, &header_, sizeof header_);
    waveOutClose(out_);
    out_ = nullptr;
}

void Engine::StopAudio() {
    if (finishTimer_) sim::Cancel(finishTimer_);
    finishTimer_ = 0;
    FinishAudio();
}

}  // namespace espeak_tts

extern "C" {

// The engine and its voices are loaded by the first phrase, not here.
__attribute__((visibility("default"))) void* MarluneComponentCreate(HWND window) {
    return new espeak_tts::Engine(window);
}

__attribute__((visibility("default"))) HRESULT MarluneComponentInvoke(void* object, DISPID dispid, WORD flags,
                                                                      LONG lArg, const char* strArg, LONG* result,
                                                                      char* errorText, int errorSize) {
    auto* e = static_cast<espeak_tts::Engine*>(object);
    if (!e) return E_POINTER;
    if (dispid == 8 && (flags & DISPATCH_PROPERTYPUT)) return e->SetDevice(lArg);
    if (dispid == 2 && (flags & DISPATCH_METHOD)) {
        std::string error;
        HRESULT hr = e->Speak(strArg, error);
        if (FAILED(hr)) SetError(errorText, errorSize, error.c_str());
        return hr;
    }
    if (dispid == 10 && (flags & DISPATCH_PROPERTYGET)) {
        if (!result) return E_POINTER;
        *result = e->Status();
        return S_OK;
    }
    SetError(errorText, errorSize, "Unknown member.");
    return DISP_E_MEMBERNOTFOUND;
}

__attribute__((visibility("default"))) void MarluneComponentDestroy(void* object) {
    delete static_cast<espeak_tts::Engine*>(object);
}

}  // extern "C"
