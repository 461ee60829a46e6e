// The default voice pack that the build generated in MARLUNE_VOICE_DIR.
// Compiled to GBK: the character literals are the bytes hanzi.dat holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

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

class Pack : public ::testing::Test {
protected:
    static void SetUpTestSuite() { index_ = new std::string(ReadAll(kDir / "hanzi.dat")); }
    static void TearDownTestSuite() { delete index_; }
    static const std::string& Index() { return *index_; }
    static std::string* index_;
};
std::string* Pack::index_ = nullptr;

TEST_F(Pack, EveryGb2312HanziHasAnEntry) {
    ASSERT_FALSE(Index().empty()) << (kDir / "hanzi.dat");
    auto entries = Entries(Index());
    EXPECT_EQ(entries.size(), 6763u);
    for (const Hanzi& h : Gb2312Hanzi()) {
        auto it = entries.find(h.gbk);
        ASSERT_NE(it, entries.end()) << h.utf8;
        EXPECT_EQ(Lookup(Index(), h.gbk), it->second) << h.utf8;  // the control's scan finds the same name
    }
}

TEST_F(Pack, KnownReadings) {
    const std::pair<const char*, const char*> known[] = {
        {"你", "ni3"}, {"好", "hao3"}, {"无", "wu2"}, {"一", "yi1"}, {"元", "yuan2"},
        {"十", "shi2"}, {"点", "dian3"}, {"零", "ling2"}, {"余", "yu2"}, {"额", "e2"},
        {"儿", "er2"}, {"圣", "sheng4"}, {"个", "ge4"}, {"吗", "ma5"}, {"厂", "chang3"},  // corrected readings
    };
    for (auto [character, name] : known) EXPECT_EQ(Lookup(Index(), character), name) << name;
    EXPECT_EQ(Lookup(Index(), "\xA3\xAC"), "_long");  // full-width comma: not a hanzi, no entry
}

TEST_F(Pack, EverySoundNamedExistsAndIsShortAudiblePcm) {
    std::set<std::string> names;
    for (const auto& [character, name] : Entries(Index())) names.insert(name);
    names.insert("_long");
    EXPECT_GT(names.size(), 1000u);
    for (const std::string& name : names) {
        fs::path p = kDir / "wav" / (name + ".wav");
        ASSERT_TRUE(fs::exists(p)) << p;
        WavInfo w = ReadWav(p.string());
        EXPECT_EQ(w.format, 1) << name;
        EXPECT_EQ(w.channels, 1) << name;
        EXPECT_EQ(w.rate, 8000) << name;
        EXPECT_EQ(w.bits, 16) << name;
        double seconds = double(w.samples.size()) / w.rate;
        EXPECT_GE(seconds, 0.15) << name;
        EXPECT_LE(seconds, 0.8) << name;
        EXPECT_GE(PeakDbfs(w.samples), -30) << name;
        EXPECT_LT(PeakDbfs(w.samples), -0.01) << name;  // no clipping
        EXPECT_GE(RmsDbfs(w.samples), -45) << name;
    }
}

TEST_F(Pack, FallbackIsTheSoundOfWu) {
    ASSERT_TRUE(fs::exists(kDir / "wu2.wav"));
    ASSERT_TRUE(fs::exists(kDir / "wav" / "_long.wav"));
    EXPECT_EQ(ReadAll(kDir / "wu2.wav"), ReadAll(kDir / "wav" / (Lookup(Index(), "无") + ".wav")));
    EXPECT_NE(ReadAll(kDir / "wu2.wav"), ReadAll(kDir / "wav" / "_long.wav"));
}

}  // namespace
}  // namespace voice_pack
