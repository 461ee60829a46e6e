#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "tools/voice_pack/pack.h"
#include "tools/voice_pack/readings.h"

namespace voice_pack {
namespace {

const char* const kDict =
    "# Rime dictionary\n"
    "---\n"
    "name: test\n"
    "好\tnot_a_reading\n"  // before "...": header
    "...\n"
    "\n"
    "好\thao3\t95%\n"
    "好\thao4\t5%\n"
    "# comment\n"
    "你\tni3\n"
    "你好\tni3 hao3\n"
    "行\thang2\t10%\n"
    "行\txing2\t90%\n"
    "广\tan1\n"
    "广\tguang3\t0%\n"
    "广\tyan3\n"
    "呣\tmu2\t50%\n"
    "呣\tmu4\t50%\n"
    "欸\tai3\n"
    "欸\tei1\n";

std::map<std::string, std::vector<Reading>> Dict() {
    std::istringstream in(kDict);
    return ParseRimeDict(in);
}

TEST(RimeDict, SingleCharactersOfTheBodyOnly) {
    auto d = Dict();
    EXPECT_EQ(d.count("你好"), 0u);
    ASSERT_EQ(d["好"].size(), 2u);  // the header line is not read
    EXPECT_EQ(d["好"][0].pinyin, "hao3");
    EXPECT_TRUE(d["好"][0].weighted);
    EXPECT_DOUBLE_EQ(d["好"][0].weight, 95);
    ASSERT_EQ(d["你"].size(), 1u);
    EXPECT_FALSE(d["你"][0].weighted);
    EXPECT_EQ(d["广"].size(), 3u);
}

TEST(RimeDict, HeaviestReading) {
    auto d = Dict();
    EXPECT_EQ(HeaviestReading(d["好"]), "hao3");
    EXPECT_EQ(HeaviestReading(d["行"]), "xing2");   // the heavier one, wherever it is listed
    EXPECT_EQ(HeaviestReading(d["广"]), "guang3");  // a written weight, even 0%, ranks above none
    EXPECT_EQ(HeaviestReading(d["呣"]), "mu2");     // equal weights: the first listed
    EXPECT_EQ(HeaviestReading(d["欸"]), "ai3");     // no weights: the first listed
    EXPECT_EQ(HeaviestReading(d["你"]), "ni3");
    EXPECT_EQ(HeaviestReading({}), "");
}

TEST(Corrections, ParsesLinesAndRefusesMalformedOnes) {
    std::istringstream good("# heading\n儿 er2\n\n庄 zhuang1  # comment\n");
    auto c = ParseCorrections(good);
    EXPECT_EQ(c.size(), 2u);
    EXPECT_EQ(c["儿"], "er2");
    EXPECT_EQ(c["庄"], "zhuang1");
    for (const char* bad : {"儿\n", "儿 er2 extra\n", "儿子 er2\n"}) {
        std::istringstream in(bad);
        EXPECT_THROW(ParseCorrections(in), std::runtime_error) << bad;
    }
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

TEST(Plan, ReadingsCorrectionsAndSharedSounds) {
    auto d = Dict();
    d["无"] = {{"wu2", false, 0}};
    d["吴"] = {{"tun1", false, 0}, {"wu2", false, 0}};
    std::vector<Hanzi> hanzi = {{"\xC4\xE3", "你"}, {"\xBA\xC3", "好"}, {"\xCE\xDE", "无"}, {"\xCE\xE2", "吴"}};
    PackPlan plan = PlanPack(hanzi, d, {{"吴", "wu2"}});
    ASSERT_TRUE(plan.errors.empty());
    ASSERT_EQ(plan.index.size(), 4u);
    EXPECT_EQ(plan.index[0].sound_name, "ni3");
    EXPECT_EQ(plan.index[1].sound_name, "hao3");
    EXPECT_EQ(plan.index[3].gbk, "\xCE\xE2");
    EXPECT_EQ(plan.index[3].sound_name, "wu2");  // corrected, and sharing 无's sound
    EXPECT_EQ(plan.sounds, (std::vector<std::string>{"hao3", "ni3", "wu2"}));
    EXPECT_EQ(plan.fallback_sound, "wu2");
}

TEST(Plan, ReportsEveryCharacterWithoutAUsableReading) {
    auto d = Dict();
    d["无"] = {{"wu2", false, 0}};
    d["吗"] = {};
    d["坏"] = {{"huai", false, 0}};
    std::vector<Hanzi> hanzi = {{"\xC2\xF0", "吗"}, {"\xBB\xB5", "坏"}, {"\xCE\xDE", "无"}};
    PackPlan plan = PlanPack(hanzi, d, {{"们", "men5"}});
    EXPECT_EQ(plan.errors.size(), 3u);  // 吗 no reading, 坏 not toneful, 们 not among them
    EXPECT_EQ(plan.index.size(), 1u);

    plan = PlanPack({{"\xC4\xE3", "你"}}, d, {});
    ASSERT_EQ(plan.errors.size(), 1u);  // no 无, no wu2.wav
    EXPECT_NE(plan.errors[0].find("wu2.wav"), std::string::npos);
}

}  // namespace
}  // namespace voice_pack
