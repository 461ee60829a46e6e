#include <espeak-ng/speak_lib.h>
#include <gtest/gtest.h>

#include <string>

#include "tools/voice_pack/pinyin.h"
#include "tools/voice_pack/speak.h"

namespace voice_pack {
namespace {

TEST(Pinyin, SplitsInitialFinalAndTone) {
    auto s = ParsePinyin("zhuang4");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->initial, "zh");
    EXPECT_EQ(s->final_, "uang");
    EXPECT_EQ(s->tone, 4);
    s = ParsePinyin("er2");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->initial, "");
    EXPECT_EQ(s->final_, "er");
    s = ParsePinyin("si4");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->initial, "s");
    EXPECT_EQ(s->final_, "i");
}

TEST(Pinyin, RejectsWhatIsNotAMandarinSyllableWithTone) {
    for (const char* bad : {"", "3", "ni", "ni0", "ni6", "Ni3", "ni3 ", "xx3", "ng2", "hm1", "bv3", "zhiang1", "gi4",
                            "ja1", "jv3", "fin2"})
        EXPECT_FALSE(ParsePinyin(bad)) << bad;
    EXPECT_EQ(PinyinToPhonemes("ni"), "");
}

TEST(Pinyin, PhonemesForEachKindOfSyllable) {
    EXPECT_EQ(PinyinToPhonemes("ni3"), "n'i214");
    EXPECT_EQ(PinyinToPhonemes("hao3"), "X'Au214");
    EXPECT_EQ(PinyinToPhonemes("yi1"), "j'i55");
    EXPECT_EQ(PinyinToPhonemes("yuan2"), "'y&35n");
    EXPECT_EQ(PinyinToPhonemes("si4"), "s'i[51");        // apical i after z, c, s
    EXPECT_EQ(PinyinToPhonemes("ri4"), "z.'i.51");       // retroflex i after zh, ch, sh, r
    EXPECT_EQ(PinyinToPhonemes("ju2"), "tS;'y35");       // u after j, q, x is u-umlaut
    EXPECT_EQ(PinyinToPhonemes("quan2"), "tS;h'y&35n");
    EXPECT_EQ(PinyinToPhonemes("lv4"), "l'y51");
    EXPECT_EQ(PinyinToPhonemes("lve4"), "l'yE51");
    EXPECT_EQ(PinyinToPhonemes("lu4"), "l'u51");
    EXPECT_EQ(PinyinToPhonemes("xiao3"), "S;j'Au214");
    EXPECT_EQ(PinyinToPhonemes("de5"), "t'o-11");        // neutral tone
    EXPECT_EQ(PinyinToPhonemes("wang2"), "w'A35N");
}

// For the characters that espeak-ng's own Mandarin dictionary reads, the
// phonemes built from the pinyin are the ones it prints.
TEST(Pinyin, AgreesWithEspeakOnCharactersItKnows) {
    Speaker speaker;  // espeak-ng with its Mandarin voice
    const std::pair<const char*, const char*> known[] = {
        {"无", "wu2"},  {"十", "shi2"},    {"是", "shi4"},  {"二", "er4"},  {"吃", "chi1"},
        {"窗", "chuang1"}, {"鱼", "yu2"}, {"用", "yong4"}, {"爱", "ai4"}, {"昂", "ang2"},
    };
    for (auto [character, pinyin] : known) {
        const void* text = character;
        std::string espeak = espeak_TextToPhonemes(&text, espeakCHARS_UTF8, espeakPHONEMES_SHOW);
        EXPECT_EQ(CheckTrace(PinyinToPhonemes(pinyin), espeak), "") << character;
    }
}

TEST(Trace, AcceptsTheSamePhonemesWithPausesAndStress) {
    EXPECT_EQ(CheckTrace("n'i214", "n'i214_|\n"), "");
    EXPECT_EQ(CheckTrace("t'o-11", "to-11_|"), "");
}

TEST(Trace, RefusesAnotherLanguageOrOtherPhonemes) {
    EXPECT_NE(CheckTrace("n'i214", "(en)nITr'i:(cmn)_|"), "");
    EXPECT_NE(CheckTrace("n'i214", "n'i51_|"), "");
    EXPECT_NE(CheckTrace("n'i214", ""), "");
}

// Speaking a syllable from phoneme input gives sound and a trace in Mandarin;
// the same letters as text would be read as English.
TEST(Speaker, SpeaksPhonemeInputInMandarin) {
    Speaker speaker;
    Spoken spoken = speaker.Speak("n'i214");
    EXPECT_EQ(CheckTrace("n'i214", spoken.trace), "");
    EXPECT_GT(spoken.rate, 0);
    EXPECT_GT(spoken.samples.size(), size_t(spoken.rate / 10));
    EXPECT_GT(PeakDbfs(spoken.samples), -20);
}

}  // namespace
}  // namespace voice_pack
