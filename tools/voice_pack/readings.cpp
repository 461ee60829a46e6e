#include "tools/voice_pack/readings.h"

#include <bzlib.h>
#include <iconv.h>

#include <cerrno>
#include <cstdio>
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

std::string Utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

std::string NumberedPinyin(const std::string& marked) {
    // Marked vowels: base letter and tone.
    static const std::map<char32_t, std::pair<char, int>> kMarked = {
        {U'ā', {'a', 1}}, {U'á', {'a', 2}}, {U'ǎ', {'a', 3}}, {U'à', {'a', 4}}, {U'ē', {'e', 1}}, {U'é', {'e', 2}},
        {U'ě', {'e', 3}}, {U'è', {'e', 4}}, {U'ī', {'i', 1}}, {U'í', {'i', 2}}, {U'ǐ', {'i', 3}}, {U'ì', {'i', 4}},
        {U'ō', {'o', 1}}, {U'ó', {'o', 2}}, {U'ǒ', {'o', 3}}, {U'ò', {'o', 4}}, {U'ū', {'u', 1}}, {U'ú', {'u', 2}},
        {U'ǔ', {'u', 3}}, {U'ù', {'u', 4}}, {U'ǖ', {'v', 1}}, {U'ǘ', {'v', 2}}, {U'ǚ', {'v', 3}}, {U'ǜ', {'v', 4}},
        {U'ü', {'v', 0}}, {U'ń', {'n', 2}}, {U'ň', {'n', 3}}, {U'ǹ', {'n', 4}}, {U'ḿ', {'m', 2}},
        {U'\u0304', {0, 1}}, {U'\u0301', {0, 2}}, {U'\u030C', {0, 3}}, {U'\u0300', {0, 4}},  // combining marks
    };
    std::string out;
    int tone = 0;
    for (size_t i = 0; i < marked.size();) {
        const unsigned char lead = static_cast<unsigned char>(marked[i]);
        const size_t len = Utf8Length(lead);
        if (len == 0 || i + len > marked.size()) return "";
        char32_t c = len == 1 ? lead : lead & (0xFF >> (len + 1));
        for (size_t k = 1; k < len; ++k) c = (c << 6) | (static_cast<unsigned char>(marked[i + k]) & 0x3F);
        i += len;
        if (c >= 'a' && c <= 'z') {
            out += static_cast<char>(c);
        } else if (auto m = kMarked.find(c); m != kMarked.end()) {
            if (m->second.first) out += m->second.first;
            if (m->second.second) {
                if (tone) return "";  // two marks
                tone = m->second.second;
            }
        } else {
            return "";
        }
    }
    if (out.empty()) return "";
    return out + static_cast<char>('0' + (tone ? tone : 5));
}

std::map<std::string, UnihanReadings> ParseUnihan(std::istream& in) {
    std::map<std::string, UnihanReadings> out;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 2, "U+") != 0) continue;
        auto fields = SplitTabs(line);
        if (fields.size() < 3) continue;
        const std::string& field = fields[1];
        if (field != "kMandarin" && field != "kHanyuPinlu" && field != "kXHC1983" && field != "kTGHZ2013") continue;
        UnihanReadings& r = out[Utf8(static_cast<char32_t>(std::strtoul(fields[0].c_str() + 2, nullptr, 16)))];
        std::istringstream values(fields[2]);
        std::string value;
        while (values >> value) {
            if (field == "kMandarin") {
                if (auto p = NumberedPinyin(value); !p.empty()) r.customary.push_back(p);
            } else if (field == "kHanyuPinlu") {  // "yī(32747)"
                size_t open = value.find('(');
                auto p = NumberedPinyin(value.substr(0, open));
                if (!p.empty() && open != std::string::npos) r.frequency[p] = std::atoi(value.c_str() + open + 1);
            } else {  // "0758.081,0758.091:ma"
                std::istringstream readings(value.substr(value.find(':') + 1));
                std::string one;
                while (std::getline(readings, one, ','))
                    if (auto p = NumberedPinyin(one); !p.empty()) r.dictionaries.push_back(p);
            }
        }
    }
    std::erase_if(out, [](const auto& entry) { return entry.second.customary.empty(); });
    return out;
}

std::map<std::string, std::vector<std::string>> ParsePinyinTable(std::istream& in) {
    std::map<std::string, std::vector<std::string>> out;
    std::string line;
    while (std::getline(in, line)) {
        size_t at = line.find("0x");
        size_t colon = line.find(": \"");
        size_t close = line.rfind('"');
        if (at == std::string::npos || colon == std::string::npos || close <= colon + 2) continue;
        char* end = nullptr;
        unsigned long code = std::strtoul(line.c_str() + at + 2, &end, 16);
        if (end != line.c_str() + colon || code == 0) continue;
        std::vector<std::string> readings;
        std::istringstream values(line.substr(colon + 3, close - colon - 3));
        std::string one;
        while (std::getline(values, one, ','))
            if (auto p = NumberedPinyin(one); !p.empty()) readings.push_back(p);
        if (!readings.empty()) out[Utf8(static_cast<char32_t>(code))] = readings;
    }
    return out;
}

const char* RuleName(Rule rule) {
    switch (rule) {
        case Rule::kAgree: return "both sources agree";
        case Rule::kFrequency: return "by frequency";
        case Rule::kCustomary: return "by kMandarin";
        case Rule::kOnlyUnihan: return "Unihan only";
        case Rule::kOnlyTable: return "table only";
        case Rule::kOverride: return "overridden";
        case Rule::kNone: break;
    }
    return "no reading";
}

Choice ChooseReading(const UnihanReadings* unihan, const std::vector<std::string>* table) {
    const std::string u = unihan && !unihan->customary.empty() ? unihan->customary.front() : "";
    const std::string t = table && !table->empty() ? table->front() : "";
    if (u.empty() && t.empty()) return {};
    if (t.empty()) return {u, Rule::kOnlyUnihan};
    if (u.empty()) return {t, Rule::kOnlyTable};
    if (u == t) return {u, Rule::kAgree};
    auto count = [&](const std::string& p) {
        auto it = unihan->frequency.find(p);
        return it == unihan->frequency.end() ? 0 : it->second;
    };
    if (count(u) != count(t)) return {count(u) > count(t) ? u : t, Rule::kFrequency};
    return {u, Rule::kCustomary};
}

std::map<std::string, Override> ParseOverrides(std::istream& in) {
    std::map<std::string, Override> out;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const size_t hash = line.find('#');
        const std::string body = Trim(line.substr(0, hash));
        if (body.empty()) continue;
        const std::string reason = hash == std::string::npos ? "" : Trim(line.substr(hash + 1));
        std::istringstream fields(body);
        std::string character, pinyin, extra;
        fields >> character >> pinyin;
        const std::string where = "overrides line " + std::to_string(number) + ": " + line;
        if (!IsOneCharacter(character) || pinyin.empty() || (fields >> extra)) throw std::runtime_error(where);
        if (reason.empty()) throw std::runtime_error(where + " (no reason given)");
        if (!out.emplace(character, Override{pinyin, reason}).second) throw std::runtime_error(where + " (again)");
    }
    return out;
}

std::string ReadBzip2File(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot open " + path);
    std::string out;
    int error = BZ_OK;
    std::vector<char> unused;
    // A file may hold several streams one after another.
    for (;;) {
        BZFILE* bz = BZ2_bzReadOpen(&error, f, 0, 0, unused.data(), static_cast<int>(unused.size()));
        if (error != BZ_OK) break;
        char buf[65536];
        while (error == BZ_OK) {
            int n = BZ2_bzRead(&error, bz, buf, sizeof buf);
            if (error == BZ_OK || error == BZ_STREAM_END) out.append(buf, static_cast<size_t>(n));
        }
        if (error != BZ_STREAM_END) {
            BZ2_bzReadClose(&error, bz);
            error = BZ_DATA_ERROR;
            break;
        }
        void* rest = nullptr;
        int rest_len = 0;
        BZ2_bzReadGetUnused(&error, bz, &rest, &rest_len);
        unused.assign(static_cast<char*>(rest), static_cast<char*>(rest) + rest_len);
        BZ2_bzReadClose(&error, bz);
        if (unused.empty()) {
            int c = std::fgetc(f);
            if (c == EOF) break;
            unused.push_back(static_cast<char>(c));
        }
    }
    std::fclose(f);
    if (error != BZ_OK || out.empty()) throw std::runtime_error(path + ": not a bzip2 file, or damaged");
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
