// The default voice pack that the build generated in MARLUNE_VOICE_DIR.
// Compiled to GBK: the character literals are the bytes hanzi.dat holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "tools/voice_pack/audio.h"
#include "tools/voice_pack/readings.h"

namespace voice_pack {
namespace {

namespace fs = std::filesystem;
const fs::path kDir = MARLUNE_VOICE_DIR;

std::string ReadAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The index read the way the control reads it: the first zero-terminated
// string equal to the character, the name four bytes further on.
std::string Lookup(const std::string& index, const std::string& character) {
    for (size_t i = 0; i < index.size(); ++i) {
        size_t end = index.find('\0', i);
        if (index.compare(i, (end == std::string::npos ? index.size() : end) - i, character) == 0 &&
            (end == std::string::npos ? index.size() : end) - i == character.size()) {
            if (i + 4 > index.size()) return "";
            return std::string(index.c_str() + i + 4);
        }
    }
    return "_long";
}

// Entry by entry: two character bytes, 0, the spare byte, the name, 0.
std::map<std::string, std::string> Entries(const std::string& index) {
    std::map<std::string, std::string> out;
    size_t i = 0;
    while (i < index.size()) {
        if (index[i] == '\0') {
            ++i;
            continue;
        }
        EXPECT_LE(i + 5, index.size());
        EXPECT_EQ(index[i + 2], '\0') << "entry at " << i;
        size_t end = index.find('\0', i + 4);
        std::string name = index.substr(i + 4, end == std::string::npos ? std::string::npos : end - i - 4);
        EXPECT_TRUE(out.emplace(index.substr(i, 2), name).second) << "character twice at " << i;
        if (end == std::string::npos) break;
        i = end + 1;
    }
    return out;
}

bool IsSilence(const std::string& name) { return name == "_pause" || name == "_stop"; }

class Pack : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        index_ = new std::string(ReadAll(kDir / "hanzi.dat"));
        entries_ = new std::map<std::string, std::string>(Entries(*index_));
    }
    static void TearDownTestSuite() {
        delete index_;
        delete entries_;
    }
    static const std::string& Index() { return *index_; }
    static const std::map<std::string, std::string>& Names() { return *entries_; }
    static std::string* index_;
    static std::map<std::string, std::string>* entries_;
};
std::string* Pack::index_ = nullptr;
std::map<std::string, std::string>* Pack::entries_ = nullptr;

TEST_F(Pack, EveryGb2312HanziHasAnEntry) {
    ASSERT_FALSE(Index().empty()) << (kDir / "hanzi.dat");
    for (const Hanzi& h : Gb2312Hanzi()) {
        auto it = Names().find(h.gbk);
        ASSERT_NE(it, Names().end()) << h.utf8;
        EXPECT_EQ(Lookup(Index(), h.gbk), it->second) << h.utf8;  // the control's scan finds the same name
    }
}

// Everyday prompt words, read character by character. Words whose reading
// depends on the word (银行, 重新) are left out: a per-character pack cannot
// serve them.
TEST_F(Pack, PromptWordsReadCharacterByCharacter) {
    const std::pair<const char*, const char*> words[] = {
        {"关机", "guan1 ji1"},      {"开通", "kai1 tong1"},   {"请听", "qing3 ting1"},  {"怎么样", "zen3 me5 yang4"},
        {"体验", "ti3 yan4"},       {"余额", "yu2 e2"},       {"密码", "mi4 ma3"},      {"号码", "hao4 ma3"},
        {"查询", "cha2 xun2"},      {"结束", "jie2 shu4"},    {"您好", "nin2 hao3"},    {"欢迎", "huan1 ying2"},
        {"致电", "zhi4 dian4"},     {"话费", "hua4 fei4"},    {"充值", "chong1 zhi2"},  {"业务", "ye4 wu4"},
        {"办理", "ban4 li3"},       {"人工", "ren2 gong1"},   {"服务", "fu2 wu4"},      {"按键", "an4 jian4"},
        {"输入", "shu1 ru4"},       {"确认", "que4 ren4"},    {"取消", "qu3 xiao1"},    {"返回", "fan3 hui2"},
        {"菜单", "cai4 dan1"},      {"再见", "zai4 jian4"},   {"稍后", "shao1 hou4"},   {"挂机", "gua4 ji1"},
        {"语音", "yu3 yin1"},       {"提示", "ti2 shi4"},     {"留言", "liu2 yan2"},    {"打扰", "da3 rao3"},
        {"账户", "zhang4 hu4"},     {"手机", "shou3 ji1"},    {"网络", "wang3 luo4"},   {"日期", "ri4 qi1"},
        {"准备", "zhun3 bei4"},     {"损坏", "sun3 huai4"},   {"亲爱", "qin1 ai4"},     {"权限", "quan2 xian4"},
        {"平台", "ping2 tai2"},     {"什么", "shen2 me5"},    {"技术", "ji4 shu4"},     {"价格", "jia4 ge2"},
        {"根据", "gen1 ju4"},       {"定义", "ding4 yi4"},    {"接触", "jie1 chu4"},    {"电灯", "dian4 deng1"},
    };
    for (auto [word, expected] : words) {
        std::string heard;
        for (size_t i = 0; i + 1 < std::strlen(word); i += 2)
            heard += (heard.empty() ? "" : " ") + Lookup(Index(), std::string(word + i, 2));
        EXPECT_EQ(heard, expected) << GbkToUtf8(word);
    }
}

TEST_F(Pack, DigitsAndPunctuationThatChineseTextReads) {
    const std::pair<const char*, const char*> entries[] = {
        {"〇", "ling2"}, {"０", "ling2"}, {"１", "yi1"},    {"２", "er4"},    {"５", "wu3"},    {"９", "jiu3"},
        {"，", "_pause"}, {"、", "_pause"}, {"；", "_pause"}, {"：", "_pause"}, {"—", "_pause"}, {"“", "_pause"},
        {"”", "_pause"},  {"‘", "_pause"},  {"’", "_pause"},  {"《", "_pause"}, {"》", "_pause"}, {"（", "_pause"},
        {"）", "_pause"}, {"　", "_pause"}, {"。", "_stop"},  {"！", "_stop"},  {"？", "_stop"},  {"…", "_stop"},
    };
    for (auto [character, name] : entries) EXPECT_EQ(Lookup(Index(), character), name) << GbkToUtf8(character);
    EXPECT_EQ(Lookup(Index(), "＃"), "_long");  // other symbols: the control's tone
    const std::pair<const char*, double> silences[] = {{"_pause", 0.2}, {"_stop", 0.35}};
    for (auto [name, seconds] : silences) {
        WavInfo w = ReadWav((kDir / "wav" / (std::string(name) + ".wav")).string());
        EXPECT_EQ(w.rate, 8000);
        EXPECT_NEAR(double(w.samples.size()) / w.rate, seconds, 0.01) << name;
        EXPECT_LT(PeakDbfs(w.samples), -60) << name;
    }
}

// Readings against the sources: Unihan (kMandarin, kHanyuPinlu, the
// dictionaries) and the pinyin table.
class Readings : public Pack {
protected:
    static void SetUpTestSuite() {
        Pack::SetUpTestSuite();
        std::istringstream unihan(ReadBzip2File(MARLUNE_UNIHAN_READINGS));
        unihan_ = new std::map<std::string, UnihanReadings>(ParseUnihan(unihan));
        std::ifstream table(MARLUNE_PINYIN_TABLE);
        table_ = new std::map<std::string, std::vector<std::string>>(ParsePinyinTable(table));
    }
    static void TearDownTestSuite() {
        Pack::TearDownTestSuite();
        delete unihan_;
        delete table_;
    }
    // Whether either source gives the character this reading.
    static bool Attested(const std::string& utf8, const std::string& reading) {
        auto has = [&](const std::vector<std::string>& v) { return std::count(v.begin(), v.end(), reading) > 0; };
        if (auto u = unihan_->find(utf8); u != unihan_->end())
            if (has(u->second.customary) || u->second.frequency.count(reading) || has(u->second.dictionaries))
                return true;
        auto t = table_->find(utf8);
        return t != table_->end() && has(t->second);
    }
    static std::map<std::string, UnihanReadings>* unihan_;
    static std::map<std::string, std::vector<std::string>>* table_;
};
std::map<std::string, UnihanReadings>* Readings::unihan_ = nullptr;
std::map<std::string, std::vector<std::string>>* Readings::table_ = nullptr;

// character -> its standard readings, from polyphones.txt
std::map<std::string, std::vector<std::string>> Polyphones() {
    std::ifstream f(MARLUNE_VOICE_POLYPHONES);
    EXPECT_TRUE(f) << MARLUNE_VOICE_POLYPHONES;
    std::map<std::string, std::vector<std::string>> out;
    std::string line;
    while (std::getline(f, line)) {
        std::istringstream fields(line.substr(0, line.find('#')));
        std::string character, reading;
        if (!(fields >> character)) continue;
        while (fields >> reading) out[character].push_back(reading);
        EXPECT_GE(out[character].size(), 2u) << line;
    }
    return out;
}

TEST_F(Readings, CommonHanziReadAsTheSourcesSay) {
    const auto all = Gb2312Hanzi();
    const auto polyphones = Polyphones();
    std::string absent, differ;
    int absent_count = 0, differ_count = 0;
    for (size_t i = 0; i < 3755; ++i) {
        const Hanzi& h = all[i];
        const std::string& reading = Names().at(h.gbk);
        const std::string where = GbkToUtf8(h.gbk) + " " + reading;
        if (!Attested(h.utf8, reading)) absent += where + "  ", ++absent_count;
        const auto& customary = unihan_->at(h.utf8).customary;
        if (std::count(customary.begin(), customary.end(), reading)) continue;
        auto p = polyphones.find(h.utf8);
        const bool listed = p != polyphones.end() && std::count(p->second.begin(), p->second.end(), reading) &&
                            std::any_of(customary.begin(), customary.end(), [&](const std::string& c) {
                                return std::count(p->second.begin(), p->second.end(), c) > 0;
                            });
        if (!listed) differ += where + " (kMandarin " + customary.front() + ")  ", ++differ_count;
    }
    std::printf("common hanzi: %d of 3755 read outside both sources; %d (%.2f %%) differ from kMandarin outside "
                "the %zu listed polyphones: %s\n",
                absent_count, differ_count, 100.0 * differ_count / 3755, polyphones.size(), differ.c_str());
    EXPECT_EQ(absent_count, 0) << absent;
    EXPECT_LE(differ_count, 3755 * 0.005) << differ;
}

TEST_F(Readings, LessCommonHanziReadAsTheSourcesSay) {
    const auto all = Gb2312Hanzi();
    std::string absent;
    int count = 0;
    for (size_t i = 3755; i < all.size(); ++i) {
        const std::string& reading = Names().at(all[i].gbk);
        if (!Attested(all[i].utf8, reading)) absent += GbkToUtf8(all[i].gbk) + " " + reading + "  ", ++count;
    }
    const size_t total = all.size() - 3755;
    std::printf("less common hanzi: %d of %zu (%.2f %%) read outside both sources: %s\n", count, total,
                100.0 * count / total, absent.c_str());
    EXPECT_LE(count, total * 0.005) << absent;
}

// Each polyphone's readings are in the dictionaries, and the pack reads one of them.
TEST_F(Readings, PolyphoneListIsAttestedAndCurrent) {
    for (const auto& [character, readings] : Polyphones()) {
        for (const std::string& r : readings) EXPECT_TRUE(Attested(character, r)) << character << " " << r;
        const std::string gbk = Utf8ToGbk(character);
        ASSERT_TRUE(Names().count(gbk)) << character;
        EXPECT_EQ(Names().at(gbk), readings.front()) << character;
    }
}

struct Contour {
    double start = 0, end = 0, low = 0, high = 0, median = 0;  // semitones from 100 Hz
};

// The pitch over the longest voiced stretch, its first and last frame left
// out: start and end are medians of three frames, low and high the second
// lowest and highest.
bool MeasureContour(const Samples& s, Contour& c) {
    auto f0 = PitchTrack(s, kPackRate);
    size_t best_at = 0, best_len = 0;
    for (size_t i = 0; i < f0.size();) {
        if (f0[i] <= 0) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < f0.size() && f0[j] > 0) ++j;
        if (j - i > best_len) best_at = i, best_len = j - i;
        i = j;
    }
    if (best_len < 8) return false;
    std::vector<double> st;
    for (size_t i = best_at + 1; i + 1 < best_at + best_len; ++i) st.push_back(Semitones(f0[i]));
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    c.start = median({st[0], st[1], st[2]});
    c.end = median({st[st.size() - 3], st[st.size() - 2], st[st.size() - 1]});
    std::vector<double> sorted = st;
    std::sort(sorted.begin(), sorted.end());
    c.low = sorted[1];
    c.high = sorted[sorted.size() - 2];
    c.median = median(st);
    return true;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Tone 1 level, tone 2 rising, tone 3 low, tone 4 falling, measured on a
// sample of syllables of every initial class.
TEST_F(Pack, TonesHaveTheirContours) {
    const char* const bases[] = {"ma", "ba", "di", "guan", "ji", "kai", "ting", "yang", "shi", "wu",
                                 "yi", "hao", "lu", "xue", "zhong", "ren", "an", "ou", "si", "tian"};
    std::map<int, std::vector<Contour>> by_tone;
    for (int tone = 1; tone <= 4; ++tone) {
        for (const char* base : bases) {
            const fs::path p = kDir / "wav" / (base + std::to_string(tone) + ".wav");
            if (!fs::exists(p)) continue;
            Contour c;
            ASSERT_TRUE(MeasureContour(ReadWav(p.string()).samples, c)) << p;
            by_tone[tone].push_back(c);
            if (tone == 2) {
                EXPECT_GE(c.end - c.low, 2) << p;  // every one rises
            }
            if (tone == 4) {
                EXPECT_GE(c.high - c.end, 3) << p;  // every one falls
            }
        }
        EXPECT_GE(by_tone[tone].size(), 12u) << "tone " << tone;
    }
    auto each = [&](int tone, auto f) {
        std::vector<double> v;
        for (const Contour& c : by_tone[tone]) v.push_back(f(c));
        return Median(v);
    };
    const double level = each(1, [](const Contour& c) { return c.median; });
    const double dip = each(3, [](const Contour& c) { return c.low; });
    const double rise = each(2, [](const Contour& c) { return c.end - c.low; });
    const double fall = each(4, [](const Contour& c) { return c.high - c.end; });
    std::printf("tones (medians, semitones): tone 1 level %.1f (%.0f Hz), tone 3 low %.1f (%.0f Hz), span %.1f; "
                "tone 2 rises %.1f; tone 4 falls %.1f\n",
                level, 100 * std::exp2(level / 12), dip, 100 * std::exp2(dip / 12), level - dip, rise, fall);
    EXPECT_GE(level - dip, 7);
    EXPECT_GE(rise, 3);
    EXPECT_GE(fall, 5);
}

// F0 in Hz every 10 ms (0: unvoiced), independent of the tool's tracker:
// YIN, the cumulative mean normalised difference over 20 ms windows, 70 to
// 400 Hz, the first dip under 0.2 taken to its minimum (else the deepest,
// when under 0.45) and refined by a parabola. Octave guard: a frame about an octave off the median of the
// voiced frames (within 2.5 semitones of 12) is folded onto it; one still
// over 5 semitones off is dropped.
std::vector<double> YinTrack(const Samples& s, int rate) {
    const size_t step = rate / 100, window = rate / 50, min_lag = rate / 400, max_lag = rate / 70;
    std::vector<double> f0;
    for (size_t at = 0; at + window + max_lag <= s.size(); at += step) {
        std::vector<double> d(max_lag + 2, 0);
        double running = 0;
        size_t found = 0;
        for (size_t lag = 1; lag <= max_lag + 1; ++lag) {
            double diff = 0;
            for (size_t i = at; i < at + window; ++i) {
                const double e = double(s[i]) - s[i + lag];
                diff += e * e;
            }
            running += diff;
            d[lag] = running > 0 ? diff * double(lag) / running : 1;
        }
        for (size_t lag = min_lag; lag <= max_lag && !found; ++lag) {
            if (d[lag] >= 0.2) continue;
            while (lag + 1 <= max_lag && d[lag + 1] < d[lag]) ++lag;
            found = lag;
        }
        if (!found) {
            // A gliding pitch blurs the dip: the deepest one, when deep enough.
            size_t best = min_lag;
            for (size_t lag = min_lag; lag <= max_lag; ++lag)
                if (d[lag] < d[best]) best = lag;
            if (d[best] < 0.45) found = best;
        }
        double hz = 0;
        if (found) {
            const double a = d[found - 1], b = d[found], c = d[found + 1], denom = a - 2 * b + c;
            hz = rate / (double(found) + (denom != 0 ? 0.5 * (a - c) / denom : 0));
        }
        f0.push_back(hz);
    }
    // Each voiced frame against the median of the voiced frames within 30 ms
    // of it: a glide moves less than that in 30 ms, an octave error more.
    std::vector<double> guarded = f0;
    for (size_t i = 0; i < f0.size(); ++i) {
        if (f0[i] <= 0) continue;
        std::vector<double> near;
        for (size_t j = i >= 3 ? i - 3 : 0; j < std::min(f0.size(), i + 4); ++j)
            if (j != i && f0[j] > 0) near.push_back(f0[j]);
        if (near.size() < 2) continue;
        std::sort(near.begin(), near.end());
        const double median = near[near.size() / 2];
        double f = f0[i];
        const double off = 12 * std::log2(f / median);
        if (std::abs(std::abs(off) - 12) < 2.5) f = off > 0 ? f / 2 : f * 2;
        guarded[i] = std::abs(12 * std::log2(f / median)) > 4 ? 0 : f;
    }
    return guarded;
}

// Semitones from 100 Hz over the longest voiced stretch of a syllable (a
// single unvoiced frame does not break it and is left out), its first and
// last frame left out too; empty when it is shorter than 100 ms.
std::vector<double> VoicedContour(const Samples& s) {
    const std::vector<double> f0 = YinTrack(s, kPackRate);
    size_t best_at = 0, best_end = 0;
    for (size_t i = 0; i < f0.size();) {
        if (f0[i] <= 0) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < f0.size() && (f0[j] > 0 || (j + 1 < f0.size() && f0[j + 1] > 0))) ++j;
        if (j - i > best_end - best_at) best_at = i, best_end = j;
        i = j;
    }
    std::vector<double> st;
    if (best_end - best_at < 10) return st;
    for (size_t i = best_at + 1; i + 1 < best_end; ++i)
        if (f0[i] > 0) st.push_back(12 * std::log2(f0[i] / 100));
    return st;
}

// Behind a voiced initial (l, n, m, r, y-, w-) the pitch is heard from the
// syllable's first moment: tone 1 stays level from there, tone 4 starts at
// its top and falls.
TEST_F(Pack, TonesStayTheirShapeBehindVoicedInitials) {
    const char* const bases[] = {"la", "na", "ma", "ni", "li", "mi", "yi", "ya", "wei", "wa", "you", "lou", "mao",
                                 "lian", "ying", "wan", "nong", "mu", "lai", "mai", "yao", "wu", "yue", "niu", "lu",
                                 "mei", "wen", "yang", "long", "men"};
    int level = 0, falling = 0;
    for (const char* base : bases) {
        for (int tone : {1, 4}) {
            const fs::path p = kDir / "wav" / (base + std::to_string(tone) + ".wav");
            if (!fs::exists(p)) continue;
            const std::vector<double> st = VoicedContour(ReadWav(p.string()).samples);
            ASSERT_GE(st.size(), 8u) << p;
            const double start = (st[0] + st[1] + st[2]) / 3, end = (st[st.size() - 3] + st[st.size() - 2] + st.back()) / 3;
            const double high = *std::max_element(st.begin(), st.end()), low = *std::min_element(st.begin(), st.end());
            std::vector<double> sorted = st;
            std::sort(sorted.begin(), sorted.end());
            const double median = sorted[sorted.size() / 2];
            if (tone == 1) {
                ++level;
                EXPECT_LT(std::abs(start - median), 1.0) << p << ": starts " << median - start << " semitones low";
                EXPECT_LT(high - low, 2.5) << p;
            } else {
                ++falling;
                EXPECT_LT(high - start, 1.5) << p << ": rises " << high - start << " semitones before it falls";
                EXPECT_GE(high - end, 1.5) << p;  // how far: TonesHaveTheirContours
            }
        }
    }
    EXPECT_GE(level, 15);
    EXPECT_GE(falling, 15);
}

TEST_F(Pack, EverySoundIsShortEvenAndUnclipped) {
    std::set<std::string> names;
    for (const auto& [character, name] : Names()) names.insert(name);
    EXPECT_GT(names.size(), 1200u);
    double min_s = 1, max_s = 0, min_active = 0, max_active = -100, max_peak = -100, max_edge = 0, max_dc = 0;
    size_t syllables = 0;
    std::map<int, std::vector<double>> active_by_tone;
    for (const std::string& name : names) {
        if (IsSilence(name)) continue;
        ++syllables;
        fs::path p = kDir / "wav" / (name + ".wav");
        ASSERT_TRUE(fs::exists(p)) << p;
        WavInfo w = ReadWav(p.string());
        EXPECT_EQ(w.format, 1) << name;
        EXPECT_EQ(w.channels, 1) << name;
        EXPECT_EQ(w.rate, 8000) << name;
        EXPECT_EQ(w.bits, 16) << name;
        const double seconds = double(w.samples.size()) / w.rate, active = ActiveRmsDbfs(w.samples, w.rate),
                     peak = PeakDbfs(w.samples);
        const EdgeSilence edges = EdgeSilenceSeconds(w.samples, w.rate, -55);
        EXPECT_GE(seconds, 0.15) << name;
        EXPECT_LE(seconds, 0.8) << name;
        EXPECT_NEAR(active, -20, 1.5) << name;
        EXPECT_LT(peak, -1) << name;
        EXPECT_LE(edges.lead, 0.03) << name;
        EXPECT_LE(edges.trail, 0.03) << name;
        double sum = 0;
        for (int16_t v : w.samples) sum += v;
        const double dc = 100 * std::abs(sum / double(w.samples.size())) / 32768;
        EXPECT_LT(dc, 0.5) << name << ": DC offset " << dc << " %";
        max_dc = std::max(max_dc, dc);
        min_s = std::min(min_s, seconds), max_s = std::max(max_s, seconds);
        min_active = std::min(min_active, active), max_active = std::max(max_active, active);
        max_peak = std::max(max_peak, peak), max_edge = std::max({max_edge, edges.lead, edges.trail});
        active_by_tone[name.back() - '0'].push_back(active);
    }
    std::printf("%zu syllables: %.2f to %.2f s, active level %.2f to %.2f dBFS, peaks up to %.2f dBFS, "
                "at most %.3f s under -55 dBFS at an end, DC offsets up to %.2f %%; median active level by tone:",
                syllables, min_s, max_s, min_active, max_active, max_peak, max_edge, max_dc);
    for (const auto& [tone, levels] : active_by_tone) std::printf(" %d: %.2f", tone, Median(levels));
    std::printf("\n");
    EXPECT_GT(active_by_tone[5].size(), 20u);  // the neutral tones are among them
}

TEST_F(Pack, FallbackIsTheSoundOfWu) {
    ASSERT_TRUE(fs::exists(kDir / "wu2.wav"));
    ASSERT_TRUE(fs::exists(kDir / "wav" / "_long.wav"));
    EXPECT_EQ(ReadAll(kDir / "wu2.wav"), ReadAll(kDir / "wav" / (Lookup(Index(), "无") + ".wav")));
    EXPECT_NE(ReadAll(kDir / "wu2.wav"), ReadAll(kDir / "wav" / "_long.wav"));
}

}  // namespace
}  // namespace voice_pack
