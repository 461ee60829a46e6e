#include "prompts/number_reading.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// The unit word of each integer position p (4 = units) up to 10^16.
const char* UnitAt(size_t p) {
    switch (p) {
        case 5: case 9: case 13: case 17: return "十";
        case 6: case 10: case 14: case 18: return "百";
        case 7: case 11: case 15: case 19: return "千";
        case 8: case 16: return "万";
        case 12: return "亿";
        case 20: return "兆";
        default: return "";
    }
}

bool IsGroup(size_t p) { return p == 8 || p == 12 || p == 16; }

// The positions a group word scales: 10^5-10^7 for 万, 10^9-10^15 for 亿,
// 10^13-10^15 for the second 万.
size_t ScaledUpTo(size_t p) { return p == 12 ? 19 : p + 3; }

std::string Format(double value) {
    int n = std::snprintf(nullptr, 0, "%.2f", value);
    if (n <= 0) return std::string();
    std::string s(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(s.data(), s.size(), "%.2f", value);
    s.resize(static_cast<size_t>(n));
    return s;
}

// The "%.2f" form of the run's value. A run beyond the range of a double
// (more than 308 integer digits) would print as "inf": its own integer
// digits stand instead, without leading zeros, with ".00"; a value that is
// not a number at all is 0.
std::string FormatRun(const std::string& number) {
    const double value = std::atof(number.c_str());
    if (std::isfinite(value)) return Format(value);
    size_t i = number.find_first_not_of(" \t\n\v\f\r+-");
    if (i == std::string::npos) i = number.size();
    while (i < number.size() && number[i] == '0') ++i;
    size_t end = i;
    while (end < number.size() && number[end] >= '0' && number[end] <= '9') ++end;
    return (end > i ? number.substr(i, end - i) : std::string("0")) + ".00";
}

}  // namespace

std::string NumberToChinese(const Core& core, std::vector<std::string>& digitWords, std::string number) {
    const std::string formatted = FormatRun(number);
    core.WriteLog("格式后:" + formatted);
    digitWords = {"零", "一", "二", "三", "四", "五", "六", "七", "八", "九", "十"};

    const size_t n = formatted.size();
    auto digitAt = [&](size_t p) { return p <= n ? formatted[n - p] : '0'; };
    // A zero adds 零 when a non-zero digit stands right of it, else the marker.
    auto zeroRule = [&](size_t p) {
        const char right = digitAt(p - 1);
        return std::string(right != '0' && right != '.' ? "零" : std::string(1, kSilentZero));
    };

    // Built from the units leftwards, each position's words reversed byte by
    // byte, and the whole turned round once at the end.
    std::string result;
    result.reserve(3 * n);
    for (size_t p = 1; p <= n; ++p) {
        const char c = formatted[n - p];
        if (!(c > '-' && c < ':')) continue;  // the sign adds nothing
        std::string words;
        if (p >= 21) {
            words = std::string(1, c);
        } else if (p == 3) {
            words = "点";
        } else if (c != '0') {
            words = digitWords[static_cast<size_t>(c - '0')] + UnitAt(p);
        } else if (p <= 2) {
            words = "零";
        } else if (IsGroup(p)) {
            // The group word is spoken when a digit it scales is not zero.
            bool scales = false;
            for (size_t q = p + 1; q <= ScaledUpTo(p) && q <= n; ++q) scales = scales || (digitAt(q) >= '1' && digitAt(q) <= '9');
            words = (scales ? std::string(UnitAt(p)) : std::string()) + zeroRule(p);
        } else {
            words = zeroRule(p);
        }
        result.append(words.rbegin(), words.rend());
    }
    std::reverse(result.begin(), result.end());
    return result;
}
