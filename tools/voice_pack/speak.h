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

// espeak-ng keeps global state: every Speaker of a process shares it.
class Speaker {
public:
    Speaker();  // throws std::runtime_error when espeak-ng or its "cmn" voice is missing
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
