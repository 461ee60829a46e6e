// The speech engine component's object (see espeak_tts.cpp).
#pragma once

#include <deque>
#include <memory>
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

    // Bytes of text per synthesized piece: a short first one for a quick
    // start, then larger ones; the next piece is synthesized kLead before
    // the queued sound runs out.
    static constexpr size_t kFirstPieceBytes = 100;
    static constexpr size_t kPieceBytes = 300;
    static constexpr sim::Micros kLead = 500 * sim::kMilli;

private:
    struct Piece {
        std::vector<short> samples;
        WAVEHDR header{};
    };

    bool Feed();
    void Queue(std::unique_ptr<Piece> piece, int rate);
    void ReleasePlayed();
    void FinishAudio();
    void Stop();

    HWND window_;
    LONG deviceId_ = -1;
    std::string text_;  // the phrase being spoken, in the ANSI code page
    size_t next_ = 0;   // its first byte not yet synthesized
    sim::Micros playedUntil_ = 0;  // when the sound queued so far ends
    uint64_t endWakeup_ = 0;
    uint64_t feedTimer_ = 0;
    uint64_t finishTimer_ = 0;
    // The wave device the phrase plays on, open until it has played, and
    // the pieces queued on it.
    HWAVEOUT out_ = nullptr;
    bool deviceFailed_ = false;
    std::deque<std::unique_ptr<Piece>> queued_;
};

}  // namespace espeak_tts
