#include <sys/stat.h>
#include <unistd.h>

#include "control/event_log.h"
#include "tests/support/test_env.h"

using testenv::At;
using testenv::ReadFile;

class EventLogTest : public MarluneTest {};

TEST_F(EventLogTest, NothingIsWrittenBeforeTheFirstControl) {
    module->WriteLog("early");
    EXPECT_FALSE(testenv::FileExists(LogFile()));
    MakeControl();
    module->WriteLog("late");
    EXPECT_EQ(LogTexts(), std::vector<std::string>{"late"});
}

TEST_F(EventLogTest, EntryBytesAreTimestampTextCrLfTab) {
    MakeControl();
    sim::SetEpoch(At(2004, 3, 5, 9, 5, 31));
    module->WriteLog("线路打开成功");
    std::string expected = "2004-March-05  09:05:31 :" + std::string("线路打开成功") + "\r\n\t";
    EXPECT_EQ(ReadFile("2004-March-05modem.txt"), expected);
    // The text is GBK bytes, stored as they are.
    EXPECT_EQ(std::string("线路打开成功"), "\xCF\xDF\xC2\xB7\xB4\xF2\xBF\xAA\xB3\xC9\xB9\xA6");
}

TEST_F(EventLogTest, EntriesOfOneSecondKeepCallOrderAndTheFileEndsWithATab) {
    MakeControl();
    sim::SetEpoch(At(2004, 3, 5, 9, 0, 0));
    module->WriteLog("one");
    module->WriteLog("two");
    EXPECT_EQ(ReadFile("2004-March-05modem.txt"),
              "2004-March-05  09:00:00 :one\r\n\t2004-March-05  09:00:00 :two\r\n\t");
}

TEST_F(EventLogTest, MidnightStartsTheNextDaysFile) {
    MakeControl();
    sim::SetEpoch(At(2004, 12, 31, 23, 59, 59));
    module->WriteLog("last");
    sim::RunFor(sim::kSecond);
    module->WriteLog("first");
    EXPECT_EQ(ReadFile("2004-December-31modem.txt"), "2004-December-31  23:59:59 :last\r\n\t");
    EXPECT_EQ(ReadFile("2005-January-01modem.txt"), "2005-January-01  00:00:00 :first\r\n\t");
}

TEST_F(EventLogTest, LineFeedsInTheTextBecomeCrLfAndEmptyTextKeepsTheFrame) {
    MakeControl();
    sim::SetEpoch(At(2004, 3, 5, 9, 0, 0));
    module->WriteLog("a\nb");
    module->WriteLog("");
    EXPECT_EQ(ReadFile("2004-March-05modem.txt"),
              "2004-March-05  09:00:00 :a\r\nb\r\n\t2004-March-05  09:00:00 :\r\n\t");
}

TEST_F(EventLogTest, AnEntryThatCannotBeWrittenIsDroppedAndTheNextOneTriesAgain) {
    MakeControl();
    ASSERT_EQ(mkdir("gone", 0755), 0);
    ASSERT_EQ(chdir("gone"), 0);
    ASSERT_EQ(rmdir((dir + "/gone").c_str()), 0);
    module->WriteLog("lost");  // the working directory no longer exists
    ASSERT_EQ(chdir(dir.c_str()), 0);
    module->WriteLog("kept");
    EXPECT_EQ(LogTexts(), std::vector<std::string>{"kept"});
}

TEST_F(EventLogTest, AppendsToAnExistingFileWithoutTruncating) {
    MakeControl();
    sim::SetEpoch(At(2004, 3, 5, 9, 0, 0));
    FILE* f = fopen("2004-March-05modem.txt", "wb");
    fputs("earlier\r\n\t", f);
    fclose(f);
    module->WriteLog("now");
    EXPECT_EQ(ReadFile("2004-March-05modem.txt"), "earlier\r\n\t2004-March-05  09:00:00 :now\r\n\t");
}

TEST(EventLogName, UsesEnglishMonthNamesAndTwoDigitDays) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(EventLog::FileNameFor(At(2004, 3, 5, 0, 0, 0)), "2004-March-05modem.txt");
    EXPECT_EQ(EventLog::FileNameFor(At(2010, 9, 30, 12, 0, 0)), "2010-September-30modem.txt");
}
