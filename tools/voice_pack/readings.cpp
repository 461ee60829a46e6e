#include "tools/voice_pack/readings.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace voice_pack {
namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

// Bytes of one UTF-8 sequence starting with lead byte c (0 when c is not a lead byte).
size_t Utf8Length(unsigned char c) {
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) return 2;
    if ((c & 0xF0) == 0xE0) return 3;
    if ((c & 0xF8) == 0xF0) return 4;
    return 0;
}

bool IsOneCharacter(const std::string& s) {
    return !s.empty() && Utf8Length(static_cast<unsigned char>(s[0])) == s.size();
}

std::string Convert(const char* to, const char* from, const std::string& text) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error(std::string("iconv cannot convert to ") + to);
    std::string out(text.size() * 4 + 4, '\0');
    char* in_p = const_cast<char*>(text.data());
    size_t in_left = text.size();
    char* out_p = out.data();
    size_t out_left = out.size();
    size_t r = iconv(cd, &in_p, &in_left, &out_p, &out_left);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) throw std::runtime_error(std::string("not convertible to ") + to + ": " + text);
    out.resize(out.size() - out_left);
    return out;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

}  // namespace

std::map<std::string, std::vector<Reading>> ParseRimeDict(std::istream& in) {
    std::map<std::string, std::vector<Reading>> dict;
    std::string line;
    bool body = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!body) {
            body = line == "...";
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        auto fields = SplitTabs(line);
        if (fields.size() < 2 || !IsOneCharacter(fields[0])) continue;
        Reading r;
        r.pinyin = fields[1];
        if (fields.size() >= 3 && !fields[2].empty()) {
            std::string w = fields[2];
            if (w.back() == '%') w.pop_back();
            char* end = nullptr;
            double value = std::strtod(w.c_str(), &end);
            if (end != w.c_str() && *end == '\0') {
                r.weighted = true;
                r.weight = value;
            }
        }
        dict[fields[0]].push_back(r);
    }
    return dict;
}

std::string HeaviestReading(const std::vector<Reading>& readings) {
    const Reading* best = nullptr;
    for (const Reading& r : readings) {
        if (!best) {
            best = &r;
        } else if (r.weighted && (!best->weighted || r.weight > best->weight)) {
            best = &r;
        }
    }
    return best ? best->pinyin : "";
}

std::map<std::string, std::string> ParseCorrections(std::istream& in) {
    std::map<std::string, std::string> out;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string character, pinyin, extra;
        fields >> character >> pinyin;
        if (!IsOneCharacter(character) || pinyin.empty() || (fields >> extra))
            throw std::runtime_error("corrections line " + std::to_string(number) + ": " + line);
        out[character] = pinyin;
    }
    return out;
}

std::vector<Hanzi> Gb2312Hanzi() {
    std::vector<Hanzi> out;
    for (int lead = 0xB0; lead <= 0xF7; ++lead) {
        for (int trail = 0xA1; trail <= 0xFE; ++trail) {
            if (lead == 0xD7 && trail >= 0xFA) continue;  // the five empty cells of row 55
            std::string gbk{static_cast<char>(lead), static_cast<char>(trail)};
            out.push_back({gbk, GbkToUtf8(gbk)});
        }
    }
    return out;
}

std::string Utf8ToGbk(const std::string& text) { return Convert("GBK", "UTF-8", text); }
std::string GbkToUtf8(const std::string& text) { return Convert("UTF-8", "GBK", text); }

std::string BuildIndex(const std::vector<IndexEntry>& entries) {
    std::string out;
    for (const IndexEntry& e : entries) {
        out += e.gbk;
        out += '\0';
        out += ' ';
        out += e.sound_name;
        out += '\0';
    }
    return out;
}

}  // namespace voice_pack
