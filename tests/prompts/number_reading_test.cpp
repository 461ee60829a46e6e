// Reading number runs as Chinese words: the worked table, the group
// positions, rounding, runs that are not quite numbers, and the log entry.
#include "prompts/number_reading.h"
#include "tests/support/test_env.h"

namespace {

class NumberReadingTest : public MarluneTest {
protected:
    void SetUp() override {
        MarluneTest::SetUp();
        MakeControl();  // the log writes
    }
    std::string Read(const std::string& run) { return NumberToChinese(module->core, words, run); }
    std::vector<std::string> words;
};

struct Row {
    const char* run;
    const char* reading;
};

TEST_F(NumberReadingTest, WorkedTable) {
    const Row rows[] = {
        {"5", "五点零零"},
        {"10", "一十,点零零"},
        {"12", "一十二点零零"},
        {"20", "二十,点零零"},
        {"100", "一百,,点零零"},
        {"105", "一百零五点零零"},
        {"110", "一百一十,点零零"},
        {"1000", "一千,,,点零零"},
        {"1001", "一千,零一点零零"},
        {"1010", "一千零一十,点零零"},
        {"10010", "一万,零一十,点零零"},
        {"10005", "一万,,零五点零零"},
        {"123456789", "一亿二千三百四十五万六千七百八十九点零零"},
        {"20304050607", "二百零三亿零四百零五万零六百零七点零零"},
        {"3.5", "三点五零"},
        {"0.5", ",点五零"},
        {"0.05", ",点零五"},
        {"0", ",点零零"},
        {"007", "七点零零"},
    };
    for (const Row& r : rows) EXPECT_EQ(Read(r.run), r.reading) << r.run;
}

// A zero at a group position speaks the group word when a digit it scales
// is not zero.
TEST_F(NumberReadingTest, GroupWordsOfZeroGroups) {
    const Row rows[] = {
        {"100000", "一十万,,,,,点零零"},
        {"1500000", "一百五十万,,,,,点零零"},
        {"100001", "一十万,,,零一点零零"},
        {"100000000", "一亿,,,,,,,,点零零"},
        {"100010000", "一亿,,零一万,,,,点零零"},
        {"1000000000000", "一万,,,亿,,,,,,,,,点零零"},
        {"1000000000", "一十亿,,,,,,,,,点零零"},
        {"10000000000000000", "一兆,,,,,,,,,,,,,,,,点零零"},
    };
    for (const Row& r : rows) EXPECT_EQ(Read(r.run), r.reading) << r.run;
}

TEST_F(NumberReadingTest, RunsThatAreNotPlainNumbers) {
    EXPECT_EQ(Read("."), ",点零零");
    EXPECT_EQ(Read("/"), ",点零零");
    EXPECT_EQ(Read("1/2"), "一点零零");
    EXPECT_EQ(Read("1.2.3"), "一点二零");
    EXPECT_EQ(Read("-5"), "五点零零");
    EXPECT_EQ(Read("3.14159"), "三点一四");
    EXPECT_EQ(Read("2.675"), "二点六七") << "2.675 is stored just below, and %.2f rounds what is stored";
    EXPECT_EQ(Read("0.125"), ",点一二") << "an exact half rounds to even";
    EXPECT_EQ(Read(""), ",点零零");
}

// Seventeen integer digits are read in words; the ones in front stay digits.
TEST_F(NumberReadingTest, DigitsBeyondSeventeenStayAsTheyAre) {
    const std::string r = Read("123456789012345678");
    EXPECT_EQ(r.substr(0, 1), "1");
    EXPECT_EQ(r.substr(1, 4), "二兆");
    // 12345678901234567890 is stored as 12345678901234567168.
    const std::string twenty = Read("12345678901234567890");
    EXPECT_EQ(twenty.substr(0, 3), "123");
    EXPECT_EQ(twenty.substr(3, 4), "四兆");
}

// Found by the number reading fuzz target: a run too long for a double
// printed as "inf" and was read as nothing at all.
TEST_F(NumberReadingTest, ARunBeyondTheRangeOfADoubleKeepsItsOwnDigits) {
    const std::string run(400, '9');
    const std::string r = Read(run);
    EXPECT_EQ(LogTexts().back(), "格式后:" + run + ".00");
    // 400 integer digits: the 383 in front stay digits, 17 are read in words.
    EXPECT_EQ(r.substr(0, 383), run.substr(0, 383));
    EXPECT_EQ(r.substr(383, 4), "九兆");
    EXPECT_EQ(r.substr(r.size() - 6), "点零零");
    // Leading zeros and what follows the digits go, as with a shorter run.
    EXPECT_EQ(Read("000" + std::string(320, '1') + "/5").substr(0, 303), std::string(303, '1'));
    // What is no number at all reads as 0.
    EXPECT_EQ(Read("nan"), ",点零零");
    EXPECT_EQ(Read("-inf"), ",点零零");
    // The largest runs a double holds are still formatted by value.
    const std::string big = Read("1" + std::string(300, '0'));
    EXPECT_EQ(big.substr(0, 1), "1");
    EXPECT_NE(big.find("点零零"), std::string::npos);
}

TEST_F(NumberReadingTest, LogsTheFormattedValueAndFillsTheDigitWords) {
    Read("3.5");
    EXPECT_EQ(LogTexts().back(), "格式后:3.50");
    ASSERT_EQ(words.size(), 11u);
    EXPECT_EQ(words[0], "零");
    EXPECT_EQ(words[2], "二");
    EXPECT_EQ(words[10], "十");
}

}  // namespace
