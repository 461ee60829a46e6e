// Character readings: the GB2312 hanzi, their readings from Unihan and a
// per-character pinyin table, and the character sound index.
#pragma once

#include <istream>
#include <map>
#include <string>
#include <vector>

namespace voice_pack {

// Tone-numbered pinyin from tone-marked pinyin: "guān" -> "guan1",
// "lüè" -> "lve4", "me" (no mark) -> "me5", "ḿ" -> "m2". Empty when the text
// has a character that is neither a lower-case letter nor a marked vowel.
std::string NumberedPinyin(const std::string& marked);

// What Unicode's Unihan database says of one character, tone-numbered.
struct UnihanReadings {
    std::vector<std::string> customary;      // kMandarin: the mainland's first, Taiwan's second when they differ
    std::map<std::string, int> frequency;    // kHanyuPinlu: reading -> occurrences in a corpus
    std::vector<std::string> dictionaries;   // every reading kXHC1983 and kTGHZ2013 list
};

// Unihan_Readings.txt: "U+5173<TAB>kMandarin<TAB>guān" lines; keyed by the
// character in UTF-8. Characters without a kMandarin are left out.
std::map<std::string, UnihanReadings> ParseUnihan(std::istream& in);

// A per-character pinyin table written as Go source, one character a line:
// "<TAB>0x5173: "guān,...",", the most common reading first. Keyed by the
// character in UTF-8; readings tone-numbered, in table order.
std::map<std::string, std::vector<std::string>> ParsePinyinTable(std::istream& in);

// Which rule chose a reading.
enum class Rule {
    kAgree,       // Unihan's kMandarin and the table's first reading are the same
    kFrequency,   // they differ: the one kHanyuPinlu counts more often
    kCustomary,   // they differ and the counts do not decide: kMandarin
    kOnlyUnihan,  // the table lacks the character
    kOnlyTable,   // Unihan lacks the character
    kOverride,    // the overrides file
    kNone,        // no source has the character
};
const char* RuleName(Rule rule);

struct Choice {
    std::string reading;
    Rule rule = Rule::kNone;
};

// The reading of one character from the two sources (either may be null).
Choice ChooseReading(const UnihanReadings* unihan, const std::vector<std::string>* table);

struct Override {
    std::string reading;
    std::string reason;
};

// Overrides, "character reading  # reason" per line; a line that is only a
// comment or blank is skipped. Throws std::runtime_error naming the line
// when a line is malformed, gives no reason or repeats a character.
std::map<std::string, Override> ParseOverrides(std::istream& in);

// The whole of a bzip2-compressed file; throws std::runtime_error naming it.
std::string ReadBzip2File(const std::string& path);

// The UTF-8 bytes of a code point.
std::string Utf8(char32_t code_point);

struct Hanzi {
    std::string gbk;   // the two GBK bytes
    std::string utf8;
};

// The 6,763 hanzi of GB2312 (rows 16 to 87), in code order.
std::vector<Hanzi> Gb2312Hanzi();

// iconv conversions; throw std::runtime_error on a character the target lacks.
std::string Utf8ToGbk(const std::string& text);
std::string GbkToUtf8(const std::string& text);

struct IndexEntry {
    std::string gbk;         // two bytes
    std::string sound_name;  // "ni3"
};

// The character sound index: per entry the character's bytes, a 0 byte, one
// spare byte (a space), the sound name and a 0 byte.
std::string BuildIndex(const std::vector<IndexEntry>& entries);

}  // namespace voice_pack
