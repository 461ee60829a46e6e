// The speech engine component's object (see espeak_tts.cpp).
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace espeak_tts {

// Synthesizes UTF-8 text to 16-bit mono samples at the engine's rate.
bool Synthesize(const std::string& utf8, std::vector<short>& samples, int& sampleRate);

class Engine {
public:
    explicit Engine(HWND window);
    ~Engine();
    HRESULT SetDevice(LONG id);
    HRESULT Speak(const char* ansiText, std::string& error);
    LONG Status() const;
    LONG deviceId() const { return deviceId_; }

private:
    void PlayAudio();
    void StopAudio();
    void FinishAudio();

    HWND window_;
    LONG deviceId_ = -1;
    sim::Micros speakingUntil_ = 0;
    std::vector<short> lastSamples_;
    int lastRate_ = 0;
    uint64_t endWakeup_ = 0;
    // The wave device the phrase plays on, open until it has played.
    HWAVEOUT out_ = nullptr;
    WAVEHDR header_{};
    uint64_t finishTimer_ = 0;
};

}  // namespace espeak_tts
