// Character readings: the GB2312 hanzi, their readings from a Rime
// dictionary (terra_pinyin.dict.yaml) and the character sound index.
#pragma once

#include <istream>
#include <map>
#include <string>
#include <vector>

namespace voice_pack {

struct Reading {
    std::string pinyin;  // "hao3"
    bool weighted = false;
    double weight = 0;   // "95%" -> 95
};

// Single-character entries of a Rime dictionary, in file order: the body
// after the "..." line, "character TAB pinyin [TAB weight]". Phrases,
// comments and blank lines are skipped.
std::map<std::string, std::vector<Reading>> ParseRimeDict(std::istream& in);

// The heaviest reading: the highest written weight; a reading without a
// weight ranks below every weighted one; among equals the first listed.
std::string HeaviestReading(const std::vector<Reading>& readings);

// Corrections, "character reading" per line, '#' starts a comment.
// Throws std::runtime_error naming the line when a line is malformed.
std::map<std::string, std::string> ParseCorrections(std::istream& in);

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
