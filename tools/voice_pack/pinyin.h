// Toneful pinyin syllables ("ni3", "lve4") and their espeak-ng Mandarin
// phoneme spelling.
#pragma once

#include <optional>
#include <string>

namespace voice_pack {

struct Syllable {
    std::string initial;  // "", "b", ... "zh", "ch", "sh"
    std::string final_;   // as written after the initial: "i", "uan", "v", "ve", ...
    int tone = 0;         // 1 to 5 (5: neutral)
};

// Splits "zhuang4" into initial, final and tone. Empty when the text is not
// lower-case letters followed by one tone digit 1 to 5, or when the letters
// are not a Mandarin syllable this table knows.
std::optional<Syllable> ParsePinyin(const std::string& text);

// Whether the syllable starts with a voiced consonant or glide: l, n, m, r,
// and y- or w- without an initial.
bool HasVoicedOnset(const Syllable& s);

// The phoneme input for espeak-ng's "cmn" voice, without the [[ ]]:
// initial, glide, stress mark, nucleus, tone contour, nasal coda
// ("ni3" -> "n'i214", "zhuang1" -> "ts.w'A55N"). Empty when the syllable
// cannot be parsed.
std::string PinyinToPhonemes(const std::string& text);

}  // namespace voice_pack
