// English speech engine component for Linux, on libespeak-ng. Members:
// put 8 = output wave device id, invoke 2 = speak text (returns at once;
// an empty text stops), get 10 = non-zero while the phrase is being spoken.
// A phrase lasts its real synthesized duration on the platform clock.
#include <dlfcn.h>
#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/call_hook.h"
#include "platform/sim/component.h"
#include "platform/sim/sim.h"
#include "peers/speech_engine/espeak_tts.h"

namespace {

// The engine's own device calls, as the platform's call hook names them.
constexpr char kCaller[] = "speech engine";

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

// A piece of the ANSI (GBK) text ends after a sentence's punctuation and
// the blank that follows it, else after the last blank, else after the last
// whole character, and holds at most `limit` bytes. Blanks and punctuation
// are never the trail byte of a double-byte character.
size_t PieceEnd(const std::string& text, size_t from, size_t limit) {
    if (text.size() - from <= limit) return text.size();
    const size_t cap = from + limit;
    size_t sentence = 0, blank = 0, whole = from;
    char before = 0;
    for (size_t i = from; i < cap;) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t next = i + (c >= 0x81 && c <= 0xFE ? 2 : 1);
        if (next > cap) break;
        if (c == ' ' || c == '\n') {
            blank = next;
            if (before == '.' || before == '!' || before == '?' || before == ';') sentence = next;
        }
        before = next == i + 1 ? static_cast<char>(c) : 0;
        i = whole = next;
    }
    return sentence ? sentence : blank ? blank : whole > from ? whole : cap;
}

Engine::Engine(HWND window) : window_(window) {}

Engine::~Engine() { Stop(); }

HRESULT Engine::SetDevice(LONG id) {
    deviceId_ = id;
    return S_OK;
}

// The text is kept and spoken piece by piece: the first piece now, each
// further one while the one before plays, so that the sound starts at once
// and only the pieces about to play are held. An empty text stops.
HRESULT Engine::Speak(const char* ansiText, std::string& error) {
    Stop();
    text_ = ansiText ? ansiText : "";
    next_ = 0;
    playedUntil_ = sim::Now();
    if (text_.empty()) return S_OK;
    if (!Feed()) {
        Stop();
        error = "The speech engine could not synthesize the text.";
        return E_FAIL;
    }
    return S_OK;
}

// Speaking lasts until the last piece has been synthesized and played and
// its device is free again.
LONG Engine::Status() const { return next_ < text_.size() || sim::Now() < playedUntil_ || out_ ? 1 : 0; }

// Synthesizes and queues the next piece, releases the pieces that have
// played, and comes back before the queued sound runs out; once the text is
// spoken, closes the device when the last piece ends. False when the engine
// cannot synthesize.
bool Engine::Feed() {
    feedTimer_ = 0;
    ReleasePlayed();
    if (next_ < text_.size()) {
        const size_t end = PieceEnd(text_, next_, next_ == 0 ? kFirstPieceBytes : kPieceBytes);
        auto piece = std::make_unique<Piece>();
        int rate = 0;
        const std::string utf8 = sim::ConvertCodePage(text_.substr(next_, end - next_), CP_ACP, CP_UTF8);
        if (!Synthesize(utf8, piece->samples, rate)) return false;
        next_ = end;
        Queue(std::move(piece), rate);
    }
    const sim::Micros now = sim::Now();
    sim::Cancel(endWakeup_);
    // Wake the loop when the sound ends, so a poll sees the change on time.
    endWakeup_ = sim::Schedule(playedUntil_, [] {});
    if (next_ < text_.size()) {
        feedTimer_ = sim::Schedule(std::max(now, playedUntil_ - kLead), [this] {
            if (!Feed()) Stop();
        });
    } else {
        finishTimer_ = sim::Schedule(playedUntil_, [this] {
            finishTimer_ = 0;
            FinishAudio();
        });
    }
    return true;
}

// Plays the piece on the chosen device (-1: the default device) after those
// queued; a device that needs another format gets it through the mapper.
// When no device takes it, the piece is still timed on the clock.
void Engine::Queue(std::unique_ptr<Piece> piece, int rate) {
    sim::CallerScope own(kCaller);
    if (rate <= 0 || piece->samples.empty()) return;
    const sim::Micros start = std::max(sim::Now(), playedUntil_);
    playedUntil_ = start + static_cast<sim::Micros>(piece->samples.size()) * sim::kSecond / rate;
    if (!out_ && !deviceFailed_) {
        const DWORD r = static_cast<DWORD>(rate);
        WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, r, r * 2, 2, 16, 0};
        const bool mapper = deviceId_ == -1;
        const UINT device = mapper ? WAVE_MAPPER : static_cast<UINT>(deviceId_) & 0xFFFF;
        if (waveOutOpen(&out_, device, &f, 0, 0, CALLBACK_NULL | (mapper ? 0 : WAVE_MAPPED)) != MMSYSERR_NOERROR) {
            out_ = nullptr;
            deviceFailed_ = true;
        }
    }
    if (!out_) return;
    piece->header.lpData = reinterpret_cast<LPSTR>(piece->samples.data());
    piece->header.dwBufferLength = static_cast<DWORD>(piece->samples.size() * sizeof(short));
    if (waveOutPrepareHeader(out_, &piece->header, sizeof piece->header) != MMSYSERR_NOERROR) return;
    if (waveOutWrite(out_, &piece->header, sizeof piece->header) != MMSYSERR_NOERROR) {
        waveOutUnprepareHeader(out_, &piece->header, sizeof piece->header);
        return;
    }
    queued_.push_back(std::move(piece));
}

void Engine::ReleasePlayed() {
    sim::CallerScope own(kCaller);
    while (!queued_.empty() && (queued_.front()->header.dwFlags & WHDR_DONE)) {
        waveOutUnprepareHeader(out_, &queued_.front()->header, sizeof(WAVEHDR));
        queued_.pop_front();
    }
}

// Resets, unprepares and closes the device. One that refuses the close is
// reset and closed once more: no device stays open behind the engine.
void Engine::FinishAudio() {
    sim::CallerScope own(kCaller);
    if (out_) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            waveOutReset(out_);
            for (auto& p : queued_)
                if (p->header.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(out_, &p->header, sizeof(WAVEHDR));
            if (waveOutClose(out_) == MMSYSERR_NOERROR) break;
        }
        out_ = nullptr;
    }
    queued_.clear();
    deviceFailed_ = false;
}

// Ends the phrase: no more synthesis, the device reset and closed.
void Engine::Stop() {
    sim::Cancel(feedTimer_);
    sim::Cancel(finishTimer_);
    sim::Cancel(endWakeup_);
    feedTimer_ = finishTimer_ = endWakeup_ = 0;
    FinishAudio();
    text_.clear();
    text_.shrink_to_fit();
    next_ = 0;
    playedUntil_ = 0;
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
