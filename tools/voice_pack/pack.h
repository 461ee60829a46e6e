// Plans and writes a voice pack: hanzi.dat, wav/<sound>.wav, the silences,
// wav/_long.wav and wu2.wav.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tools/voice_pack/readings.h"
#include "tools/voice_pack/speak.h"

namespace voice_pack {

// Sound names of the silences that punctuation reads as.
inline constexpr const char* kPauseSound = "_pause";  // a comma's pause
inline constexpr const char* kStopSound = "_stop";    // the end of a sentence

struct PackPlan {
    std::vector<IndexEntry> index;           // the hanzi in the order given, then the other characters
    std::vector<std::string> sounds;         // distinct syllables, sorted
    std::map<std::string, double> silences;  // sound name -> seconds
    std::string fallback_sound;              // the sound name of 无
    std::map<Rule, int> rules;               // how many hanzi each rule read
    std::vector<std::string> errors;         // characters without a usable reading
};

// The readings of the given hanzi: an override when there is one, else
// ChooseReading. Every reading must be a toneful pinyin syllable that
// PinyinToPhonemes spells; overrides must name one of the hanzi. 无 must be
// among them. Then the characters that are not hanzi but are read in
// Chinese text: 〇 and the full-width digits as the hanzi of the digit (when
// that is among the hanzi), full-width punctuation and the ideographic
// space as silences.
PackPlan PlanPack(const std::vector<Hanzi>& hanzi, const std::map<std::string, UnihanReadings>& unihan,
                  const std::map<std::string, std::vector<std::string>>& table,
                  const std::map<std::string, Override>& overrides);

// Synthesises every sound into dir/wav (jobs worker processes), writes the
// silences, wav/_long.wav, wu2.wav and hanzi.dat. Returns the problems found
// (empty on success).
std::vector<std::string> WritePack(const PackPlan& plan, const std::string& dir, int jobs,
                                   const VoiceSettings& voice = {});

}  // namespace voice_pack
