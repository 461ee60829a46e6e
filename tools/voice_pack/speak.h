// One syllable from espeak-ng's Mandarin voice, from phoneme input.
#pragma once

#include <string>

#include "tools/voice_pack/audio.h"

namespace voice_pack {

struct Spoken {
    Samples samples;    // at rate
    int rate = 0;
    std::string trace;  // the phonemes espeak-ng reports it spoke
};

// The espeak-ng voice and its settings. The plain cmn voice at its default
// range speaks all four tones within about 3 semitones, 75 to 105 Hz; the f3
// variant at the full range puts tone 1 about 9 semitones above tone 3's
// low point, near 220 and 130 Hz, where a telephone line carries them well.
struct VoiceSettings {
    std::string voice = "cmn+f3";  // a voice name, optionally "+variant"
    int pitch = 50;                // base pitch, 0 to 100
    int range = 100;               // pitch range, 0 (monotone) to 100
    // A little slower than the default 175: the neutral tone stays long
    // enough to be heard on its own.
    int words_per_minute = 150;
    int volume = 70;  // at 100 the loudest syllables clip once resampled
};

// espeak-ng keeps global state: every Speaker of a process shares it, and
// the last one made sets the voice.
class Speaker {
public:
    // Throws std::runtime_error when espeak-ng or the voice is missing.
    explicit Speaker(const VoiceSettings& settings = {});
    Speaker(const Speaker&) = delete;
    Speaker& operator=(const Speaker&) = delete;

    // Speaks "[[phonemes]]".
    Spoken Speak(const std::string& phonemes);

private:
    int rate_ = 0;
};

// Why a phoneme trace does not match the phonemes asked for ("" when it
// does): a switch to another language ("(en)") or phonemes other than those
// given. Pauses ('_'), word ends ('|'), stress marks and white space
// are ignored.
std::string CheckTrace(const std::string& phonemes, const std::string& trace);

}  // namespace voice_pack
