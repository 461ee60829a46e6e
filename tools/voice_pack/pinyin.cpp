#include "tools/voice_pack/pinyin.h"

#include <map>

namespace voice_pack {
namespace {

// Phoneme names as espeak-ng 1.51 prints them with -x for the cmn voice.
const std::map<std::string, std::string> kInitials = {
    {"b", "p"},    {"p", "ph"},    {"m", "m"},     {"f", "f"},   {"d", "t"},   {"t", "th"},   {"n", "n"},
    {"l", "l"},    {"g", "k"},     {"k", "kh"},    {"h", "X"},   {"j", "tS;"}, {"q", "tS;h"}, {"x", "S;"},
    {"zh", "ts."}, {"ch", "ts.h"}, {"sh", "s."},   {"r", "z."},  {"z", "ts"},  {"c", "tsh"},  {"s", "s"},
};

struct Rime {
    const char* glide;    // before the stress mark
    const char* nucleus;  // carries the tone
    const char* coda;     // after the tone
};

// Finals after an initial; "v" stands for u-umlaut (also written u after j, q, x).
const std::map<std::string, Rime> kFinals = {
    {"a", {"", "A", ""}},     {"ai", {"", "ai", ""}},   {"ao", {"", "Au", ""}},     {"an", {"", "a", "n"}},
    {"ang", {"", "A", "N"}},  {"o", {"", "o", ""}},     {"ou", {"", "ou", ""}},     {"e", {"", "o-", ""}},
    {"ei", {"", "ei", ""}},   {"en", {"", "@", "n"}},   {"eng", {"", "@", "N"}},    {"er", {"", "@r", ""}},
    {"ong", {"", "ong", ""}}, {"i", {"", "i", ""}},     {"ia", {"", "iA", ""}},     {"ie", {"", "iE", ""}},
    {"iao", {"j", "Au", ""}}, {"ian", {"", "iE", "n"}}, {"iang", {"", "iA", "N"}},  {"in", {"", "i", "n"}},
    {"ing", {"", "i", "N"}},  {"iong", {"", "y", "N"}}, {"iu", {"", "iou", ""}},    {"u", {"", "u", ""}},
    {"ua", {"w", "A", ""}},   {"uo", {"", "uo", ""}},   {"uai", {"", "uai", ""}},   {"ui", {"", "uei", ""}},
    {"uan", {"", "ua", "n"}}, {"uang", {"w", "A", "N"}}, {"un", {"", "u@", "n"}},   {"v", {"", "y", ""}},
    {"ve", {"", "yE", ""}},   {"van", {"", "y&", "n"}}, {"vn", {"", "y@", "n"}},
};

// Syllables without an initial (y-, w- and bare vowels).
const std::map<std::string, Rime> kZeroInitial = {
    {"yi", {"j", "i", ""}},    {"ya", {"j", "iA", ""}},   {"ye", {"j", "iE", ""}},    {"yao", {"j", "Au", ""}},
    {"you", {"j", "iou", ""}}, {"yo", {"j", "io", ""}},   {"yan", {"j", "iE", "n"}},  {"yang", {"j", "iA", "N"}},
    {"yin", {"j", "i", "n"}},  {"ying", {"j", "i", "N"}}, {"yong", {"", "yu", "N"}},  {"yu", {";", "y", ""}},
    {"yue", {"", "yE", ""}},   {"yuan", {"", "y&", "n"}}, {"yun", {";", "y@", "n"}},  {"wu", {"w", "u", ""}},
    {"wa", {"w", "A", ""}},    {"wo", {"w", "o", ""}},    {"wai", {"w", "ai", ""}},   {"wei", {"w", "ei", ""}},
    {"wan", {"w", "A", "n"}},  {"wang", {"w", "A", "N"}}, {"wen", {"w", "u@", "n"}},  {"weng", {"w", "u@", "N"}},
    {"a", {"", "A", ""}},      {"ai", {"", "ai", ""}},    {"ao", {"", "Au", ""}},     {"an", {"", "a", "n"}},
    {"ang", {"", "A", "N"}},   {"o", {"", "o", ""}},      {"ou", {"", "ou", ""}},     {"e", {"", "o-", ""}},
    {"ei", {"", "ei", ""}},    {"en", {"", "@", "n"}},    {"eng", {"", "@", "N"}},    {"er", {"", "@r", ""}},
};

const char* const kTones[] = {"", "55", "35", "214", "51", "11"};

}  // namespace

bool HasVoicedOnset(const Syllable& s) {
    if (s.initial == "l" || s.initial == "n" || s.initial == "m" || s.initial == "r") return true;
    return s.initial.empty() && !s.final_.empty() && (s.final_[0] == 'y' || s.final_[0] == 'w');
}

namespace {

bool IsSibilant(const std::string& initial) { return initial == "z" || initial == "c" || initial == "s"; }
bool IsRetroflex(const std::string& initial) {
    return initial == "zh" || initial == "ch" || initial == "sh" || initial == "r";
}
bool IsPalatal(const std::string& initial) { return initial == "j" || initial == "q" || initial == "x"; }

// The final as looked up: u after j, q, x is u-umlaut.
std::string TableFinal(const Syllable& s) {
    if (IsPalatal(s.initial) && !s.final_.empty() && s.final_[0] == 'u') return "v" + s.final_.substr(1);
    return s.final_;
}

// Which initials a final may follow: u-umlaut finals only n and l (and j, q,
// x, written u); i finals only labials, alveolars and palatals; palatals
// nothing else.
bool CanFollow(const std::string& initial, const std::string& final_) {
    if (final_[0] == 'v') return initial == "n" || initial == "l" || IsPalatal(initial);
    if (final_[0] == 'i') return std::string("bpmdtnljqx").find(initial) != std::string::npos;
    return !IsPalatal(initial);
}

std::optional<Rime> RimeOf(const Syllable& s) {
    if (s.initial.empty()) {
        auto it = kZeroInitial.find(s.final_);
        if (it == kZeroInitial.end()) return std::nullopt;
        return it->second;
    }
    if (s.final_ == "i" && IsSibilant(s.initial)) return Rime{"", "i[", ""};
    if (s.final_ == "i" && IsRetroflex(s.initial)) return Rime{"", "i.", ""};
    if (s.final_.empty() || (s.final_[0] == 'v' && IsPalatal(s.initial))) return std::nullopt;
    const std::string final_ = TableFinal(s);
    auto it = kFinals.find(final_);
    if (it == kFinals.end() || !CanFollow(s.initial, final_)) return std::nullopt;
    return it->second;
}

}  // namespace

std::optional<Syllable> ParsePinyin(const std::string& text) {
    if (text.size() < 2) return std::nullopt;
    char tone = text.back();
    if (tone < '1' || tone > '5') return std::nullopt;
    std::string letters = text.substr(0, text.size() - 1);
    for (char c : letters)
        if (c < 'a' || c > 'z') return std::nullopt;
    Syllable s;
    s.tone = tone - '0';
    // The longest initial that leaves a known final.
    for (size_t len : {size_t{2}, size_t{1}, size_t{0}}) {
        if (len >= letters.size()) continue;
        std::string initial = letters.substr(0, len);
        if (len > 0 && !kInitials.count(initial)) continue;
        Syllable candidate{initial, letters.substr(len), s.tone};
        if (RimeOf(candidate)) return candidate;
    }
    return std::nullopt;
}

std::string PinyinToPhonemes(const std::string& text) {
    auto s = ParsePinyin(text);
    if (!s) return "";
    auto rime = RimeOf(*s);
    std::string out = s->initial.empty() ? "" : kInitials.at(s->initial);
    out += rime->glide;
    out += '\'';
    out += rime->nucleus;
    out += kTones[s->tone];
    out += rime->coda;
    return out;
}

}  // namespace voice_pack
