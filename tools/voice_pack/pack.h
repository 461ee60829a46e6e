// Plans and writes a voice pack: hanzi.dat, wav/<sound>.wav, wav/_long.wav, wu2.wav.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tools/voice_pack/readings.h"

namespace voice_pack {

struct PackPlan {
    std::vector<IndexEntry> index;     // one entry per character, in GB2312 order
    std::vector<std::string> sounds;   // distinct sound names, sorted
    std::string fallback_sound;        // the sound name of 无
    std::vector<std::string> errors;   // characters without a usable reading
};

// Readings for the given hanzi: the correction when there is one, else the
// heaviest reading of the dictionary. Every reading must be a toneful pinyin
// syllable that PinyinToPhonemes spells; corrections must name one of the
// hanzi. 无 must be among them.
PackPlan PlanPack(const std::vector<Hanzi>& hanzi, const std::map<std::string, std::vector<Reading>>& dict,
                  const std::map<std::string, std::string>& corrections);

// Synthesises every sound into dir/wav (jobs worker processes), writes
// wav/_long.wav, wu2.wav and hanzi.dat. Returns the problems found (empty on success).
std::vector<std::string> WritePack(const PackPlan& plan, const std::string& dir, int jobs);

}  // namespace voice_pack
