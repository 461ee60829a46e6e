#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "tools/voice_pack/audio.h"
#include "tools/voice_pack/pack.h"
#include "tools/voice_pack/readings.h"

namespace voice_pack {
namespace {

TEST(Pinyin, ToneMarksBecomeToneNumbers) {
    const std::pair<const char*, const char*> cases[] = {
        {"guān", "guan1"}, {"jí", "ji2"},   {"hǎo", "hao3"},    {"yàng", "yang4"}, {"me", "me5"},
        {"lüè", "lve4"},   {"nǚ", "nv3"},   {"lü", "lv5"},      {"ḿ", "m2"},       {"m\u0300", "m4"},
        {"ńg", "ng2"},     {"Guān", ""},    {"guān1", ""},      {"xīā", ""},       {"", ""},
    };
    for (auto [marked, numbered] : cases) EXPECT_EQ(NumberedPinyin(marked), numbered) << marked;
}

const char* const kUnihan =
    "# Unihan_Readings.txt\r\n"
    "U+4E48\tkHanyuPinlu\tme(8053)\r\n"
    "U+4E48\tkMandarin\tme\r\n"
    "U+4E48\tkXHC1983\t0758.081,0758.091:ma 0770.150:me 1340.041:yāo\r\n"
    "U+4E48\tkDefinition\tinterrogative particle\r\n"
    "U+5730\tkHanyuPinlu\tde(7394) dì(4976)\n"
    "U+5730\tkMandarin\tde dì\n"
    "U+5730\tkTGHZ2013\t069.070:de 072.060:dì\n"
    "U+20000\tkMandarin\thē\n"
    "U+5927\tkCantonese\tdaai6\n";  // no kMandarin: left out

TEST(Unihan, ReadingsOfEachCharacter) {
    std::istringstream in(kUnihan);
    auto u = ParseUnihan(in);
    ASSERT_EQ(u.size(), 3u);
    EXPECT_EQ(u["么"].customary, std::vector<std::string>{"me5"});
    EXPECT_EQ(u["么"].frequency, (std::map<std::string, int>{{"me5", 8053}}));
    EXPECT_EQ(u["么"].dictionaries, (std::vector<std::string>{"ma5", "me5", "yao1"}));
    EXPECT_EQ(u["地"].customary, (std::vector<std::string>{"de5", "di4"}));
    EXPECT_EQ(u["地"].frequency.at("di4"), 4976);
    EXPECT_EQ(u["地"].dictionaries, (std::vector<std::string>{"de5", "di4"}));
    EXPECT_EQ(u["\xF0\xA0\x80\x80"].customary, std::vector<std::string>{"he1"});  // beyond the BMP
    EXPECT_EQ(u.count("大"), 0u);
}

TEST(PinyinTable, GoSourceLines) {
    std::istringstream in(
        "package pinyin\n"
        "var PinyinDict = map[int]string{\n"
        "\t0x3007: \"líng,yuán,xīng\",\n"
        "\t0x4E48: \"me,yāo,mó,ma\",\n"
        "\t0x5173: \"guān\",\n"
        "}\n");
    auto t = ParsePinyinTable(in);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t["〇"], (std::vector<std::string>{"ling2", "yuan2", "xing1"}));
    EXPECT_EQ(t["么"].front(), "me5");
    EXPECT_EQ(t["关"], std::vector<std::string>{"guan1"});
}

TEST(Choose, AgreementThenFrequencyThenKMandarin) {
    UnihanReadings counted{{"shei2"}, {{"shui2", 1065}}, {}};
    UnihanReadings uncounted{{"luo1"}, {}, {}};
    UnihanReadings tied{{"a1"}, {{"a1", 5}, {"a2", 5}}, {}};
    const std::vector<std::string> shui{"shui2", "shei2"}, shei{"shei2"}, luo{"luo2", "luo1"}, a2{"a2"};
    struct Case {
        const UnihanReadings* unihan;
        const std::vector<std::string>* table;
        std::string reading;
        Rule rule;
    } cases[] = {
        {&counted, &shei, "shei2", Rule::kAgree},
        {&counted, &shui, "shui2", Rule::kFrequency},  // the table's reading is counted more often
        {&uncounted, &luo, "luo1", Rule::kCustomary},  // no counts: kMandarin
        {&tied, &a2, "a1", Rule::kCustomary},          // equal counts: kMandarin
        {&counted, nullptr, "shei2", Rule::kOnlyUnihan},
        {nullptr, &luo, "luo2", Rule::kOnlyTable},
        {nullptr, nullptr, "", Rule::kNone},
    };
    for (const Case& c : cases) {
        Choice choice = ChooseReading(c.unihan, c.table);
        EXPECT_EQ(choice.reading, c.reading);
        EXPECT_EQ(choice.rule, c.rule) << c.reading;
    }
}

TEST(Overrides, EachLineNeedsAReason) {
    std::istringstream good("# heading\n\n迹 ji4   # kTGHZ2013 jì\n啥 sha2#shá\n");
    auto o = ParseOverrides(good);
    ASSERT_EQ(o.size(), 2u);
    EXPECT_EQ(o["迹"].reading, "ji4");
    EXPECT_EQ(o["迹"].reason, "kTGHZ2013 jì");
    EXPECT_EQ(o["啥"].reading, "sha2");
    for (const char* bad : {"迹 ji4\n", "迹 ji4 #  \n", "迹 # reason\n", "迹 ji4 extra # reason\n",
                            "迹迹 ji4 # reason\n", "迹 ji4 # a\n迹 ji1 # b\n"}) {
        std::istringstream in(bad);
        EXPECT_THROW(ParseOverrides(in), std::runtime_error) << bad;
    }
}

TEST(Bzip2, ReadsConsecutiveStreamsAndRefusesDamage) {
    auto compress = [](const std::string& text) {
        std::string out(text.size() + 1024, '\0');
        unsigned len = static_cast<unsigned>(out.size());
        EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &len, const_cast<char*>(text.data()),
                                           static_cast<unsigned>(text.size()), 9, 0, 0),
                  BZ_OK);
        out.resize(len);
        return out;
    };
    const auto path = (std::filesystem::temp_directory_path() / "voice_pack_bz2_test.bz2").string();
    const std::string first = "U+4E00\tkMandarin\tyī\n", second(100000, 'x');
    WriteFile(path, compress(first) + compress(second));
    EXPECT_EQ(ReadBzip2File(path), first + second);
    std::string damaged = compress(first);
    damaged[damaged.size() / 2] ^= 0x55;
    WriteFile(path, damaged);
    EXPECT_THROW(ReadBzip2File(path), std::runtime_error);
    WriteFile(path, first);  // not compressed
    EXPECT_THROW(ReadBzip2File(path), std::runtime_error);
    std::remove(path.c_str());
    EXPECT_THROW(ReadBzip2File(path), std::runtime_error);
}

TEST(Gb2312, TheSixThousandSevenHundredSixtyThreeHanzi) {
    auto all = Gb2312Hanzi();
    ASSERT_EQ(all.size(), 6763u);
    EXPECT_EQ(all.front().gbk, "\xB0\xA1");
    EXPECT_EQ(all.front().utf8, "啊");
    EXPECT_EQ(all.back().gbk, "\xF7\xFE");
    EXPECT_EQ(all.back().utf8, "齄");
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const Hanzi& h) { return h.gbk == "\xD7\xFA"; }), 0);
    auto level1_end = std::find_if(all.begin(), all.end(), [](const Hanzi& h) { return h.utf8 == "座"; });
    EXPECT_EQ(level1_end - all.begin(), 3754);  // the last of the 3,755 common hanzi
    EXPECT_EQ(Utf8ToGbk("无"), "\xCE\xDE");
    EXPECT_THROW(Utf8ToGbk("\xF0\x9F\x98\x80"), std::runtime_error);  // not in GBK
}

TEST(Index, EntriesAreCharacterZeroSpareNameZero) {
    std::string index = BuildIndex({{"\xC4\xE3", "ni3"}, {"\xBA\xC3", "hao3"}});
    EXPECT_EQ(index, std::string("\xC4\xE3\0 ni3\0\xBA\xC3\0 hao3\0", 17));
}

class Plan : public ::testing::Test {
protected:
    std::map<std::string, UnihanReadings> unihan = {
        {"无", {{"wu2"}, {}, {}}}, {"吴", {{"wu2"}, {}, {}}},   {"零", {{"ling2"}, {}, {}}},
        {"一", {{"yi1"}, {}, {}}}, {"迹", {{"ji1"}, {}, {}}},    {"坏", {{"huai4"}, {}, {}}},
    };
    std::map<std::string, std::vector<std::string>> table = {
        {"无", {"wu2", "mo2"}}, {"零", {"ling2"}}, {"一", {"yi1"}}, {"迹", {"ji4", "ji1"}}, {"坏", {"huai4"}},
    };
    std::vector<voice_pack::Hanzi> Chars(std::initializer_list<const char*> characters) {
        std::vector<voice_pack::Hanzi> out;
        for (const char* c : characters) out.push_back({Utf8ToGbk(c), c});
        return out;
    }
    std::map<std::string, std::string> Names(const PackPlan& plan) {
        std::map<std::string, std::string> out;
        for (const auto& e : plan.index) out[GbkToUtf8(e.gbk)] = e.sound_name;
        return out;
    }
};

TEST_F(Plan, ReadingsOverridesDigitsAndPunctuation) {
    PackPlan plan = PlanPack(Chars({"无", "吴", "零", "一", "迹"}), unihan, table, {{"迹", {"ji4", "kTGHZ2013"}}});
    ASSERT_TRUE(plan.errors.empty()) << plan.errors.front();
    auto names = Names(plan);
    EXPECT_EQ(names["吴"], "wu2");  // only in Unihan, sharing 无's sound
    EXPECT_EQ(names["迹"], "ji4");  // overridden
    EXPECT_EQ(plan.sounds, (std::vector<std::string>{"ji4", "ling2", "wu2", "yi1"}));
    EXPECT_EQ(plan.fallback_sound, "wu2");
    EXPECT_EQ(plan.rules[Rule::kAgree], 3);
    EXPECT_EQ(plan.rules[Rule::kOnlyUnihan], 1);
    EXPECT_EQ(plan.rules[Rule::kOverride], 1);
    // Characters that are not hanzi: read as the digit's hanzi, or silences.
    EXPECT_EQ(names["〇"], "ling2");
    EXPECT_EQ(names["０"], "ling2");
    EXPECT_EQ(names["１"], "yi1");
    EXPECT_EQ(names.count("２"), 0u);  // 二 is not among the hanzi
    for (const char* c : {"，", "、", "；", "：", "—", "“", "”", "‘", "’", "《", "》", "（", "）", "\u3000"})
        EXPECT_EQ(names[c], kPauseSound) << c;
    for (const char* c : {"。", "！", "？", "…"}) EXPECT_EQ(names[c], kStopSound) << c;
    EXPECT_NEAR(plan.silences.at(kPauseSound), 0.2, 0.05);
    EXPECT_NEAR(plan.silences.at(kStopSound), 0.35, 0.05);
    EXPECT_EQ(plan.index.front().gbk, Utf8ToGbk("无"));  // the hanzi first, in the order given
}

TEST_F(Plan, ReportsEveryCharacterWithoutAUsableReading) {
    unihan["嗯"] = {{"n2"}, {}, {}};
    PackPlan plan = PlanPack(Chars({"无", "坏", "吗", "嗯"}), unihan, table,
                             {{"坏", {"huai", "no tone"}}, {"们", {"men5", "neutral"}}});
    // 坏: overridden by a reading without a tone; 吗: in neither source;
    // 嗯: no spelling for "n2"; 们: overridden but not among the hanzi.
    EXPECT_EQ(plan.errors.size(), 4u);
    EXPECT_EQ(plan.index.front().sound_name, "wu2");

    plan = PlanPack(Chars({"零"}), unihan, table, {});
    ASSERT_EQ(plan.errors.size(), 1u);  // no 无, no wu2.wav
    EXPECT_NE(plan.errors[0].find("wu2.wav"), std::string::npos);
}

}  // namespace
}  // namespace voice_pack
