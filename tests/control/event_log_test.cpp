#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <limits>

#include "control/core/event_log.h"
#include "tests/support/test_env.h"

using testenv::At;
using testenv::ReadFile;

namespace {

// Descriptors of this process open on `path` (an absolute path).
std::vector<int> DescriptorsOn(const std::string& path) {
    std::vector<int> fds;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkEc;
        auto target = std::filesystem::read_symlink(e.path(), linkEc);
        if (!linkEc && target == path) fds.push_back(std::stoi(e.path().filename().string()));
    }
    return fds;
}

// Appends bytes through a descriptor of its own, as another program would.
void AppendAsAnotherWriter(const std::string& path, const std::string& bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

// The log trusts its open file for up to 10 ms before it looks the name up
// again: a change of the working directory or of the file is noticed by the
// entries written after that.
void LetTheLogLookAgain() { usleep(10'000); }

const std::string kDay = "2004-March-05modem.txt";
std::string Entry(const std::string& text) { return "2004-March-05  09:00:00 :" + text + "\r\n\t"; }

}  // namespace

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
    LetTheLogLookAgain();
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

TEST_F(EventLogTest, ASecondWithinTheDayGetsItsOwnTimeAndTheClockMayGoBack) {
    MakeControl();
    sim::SetEpoch(At(2004, 3, 5, 9, 0, 0));
    module->WriteLog("one");
    sim::RunFor(sim::kSecond);
    module->WriteLog("two");
    sim::SetEpoch(At(2004, 3, 5, 8, 59, 59));
    module->WriteLog("three");
    EXPECT_EQ(ReadFile(kDay), "2004-March-05  09:00:00 :one\r\n\t2004-March-05  09:00:01 :two\r\n\t"
                              "2004-March-05  08:59:59 :three\r\n\t");
}

TEST_F(EventLogTest, ATimeThatCannotBeFormattedGoesToModemTxtWithoutAStamp) {
    MakeControl();
    sim::SetEpoch(std::numeric_limits<time_t>::max());
    EXPECT_EQ(EventLog::FileNameFor(std::numeric_limits<time_t>::max()), "modem.txt");
    module->WriteLog("far");
    sim::SetEpoch(At(2004, 3, 5, 9, 0, 0));
    module->WriteLog("near");
    EXPECT_EQ(ReadFile("modem.txt"), " :far\r\n\t");
    EXPECT_EQ(ReadFile(kDay), Entry("near"));
}

TEST_F(EventLogTest, CarriageReturnsAndRepeatedLineFeedsAreKeptAsTheyCome) {
    MakeControl();
    module->WriteLog("\na\r\nb\n\n");
    EXPECT_EQ(ReadFile(kDay), Entry("\r\na\r\r\nb\r\n\r\n"));
}

TEST_F(EventLogTest, EachEntryGoesToTheCurrentDirectory) {
    MakeControl();
    module->WriteLog("a");
    ASSERT_EQ(mkdir("sub", 0755), 0);
    ASSERT_EQ(chdir("sub"), 0);
    LetTheLogLookAgain();
    module->WriteLog("b");
    ASSERT_EQ(chdir(dir.c_str()), 0);
    LetTheLogLookAgain();
    module->WriteLog("c");
    EXPECT_EQ(ReadFile(dir + "/" + kDay), Entry("a") + Entry("c"));
    EXPECT_EQ(ReadFile(dir + "/sub/" + kDay), Entry("b"));
}

TEST_F(EventLogTest, AFileDeletedBetweenEntriesIsCreatedAgain) {
    MakeControl();
    module->WriteLog("a");
    ASSERT_EQ(unlink(kDay.c_str()), 0);
    LetTheLogLookAgain();
    module->WriteLog("b");
    EXPECT_EQ(ReadFile(kDay), Entry("b"));
}

TEST_F(EventLogTest, AFileMovedBetweenEntriesKeepsWhatItHadAndTheNameStartsAfresh) {
    MakeControl();
    module->WriteLog("a");
    ASSERT_EQ(rename(kDay.c_str(), "moved.txt"), 0);
    LetTheLogLookAgain();
    module->WriteLog("b");
    EXPECT_EQ(ReadFile("moved.txt"), Entry("a"));
    EXPECT_EQ(ReadFile(kDay), Entry("b"));
}

TEST_F(EventLogTest, AFileReplacedBetweenEntriesIsAppendedTo) {
    MakeControl();
    module->WriteLog("a");
    FILE* f = fopen("replacement", "wb");
    ASSERT_NE(f, nullptr);
    fputs("other\r\n\t", f);
    fclose(f);
    ASSERT_EQ(rename("replacement", kDay.c_str()), 0);
    LetTheLogLookAgain();
    module->WriteLog("b");
    EXPECT_EQ(ReadFile(kDay), "other\r\n\t" + Entry("b"));
}

TEST_F(EventLogTest, OtherWritersBetweenEntriesAreKeptWhole) {
    MakeControl();
    EventLog other;  // a second control's log, with its own descriptor
    other.Enable();
    module->WriteLog("a");
    AppendAsAnotherWriter(kDay, "X\r\n");
    module->WriteLog("b");
    other.Write("c");
    module->WriteLog("d");
    AppendAsAnotherWriter(kDay, "Y");
    other.Write("e");
    EXPECT_EQ(ReadFile(kDay), Entry("a") + "X\r\n" + Entry("b") + Entry("c") + Entry("d") + "Y" + Entry("e"));
}

TEST_F(EventLogTest, AnUnopenableNameDropsTheEntryAndTheNextOneTriesAgain) {
    MakeControl();
    ASSERT_EQ(mkdir(kDay.c_str(), 0755), 0);  // a folder where the file should be
    module->WriteLog("lost");
    ASSERT_EQ(rmdir(kDay.c_str()), 0);
    module->WriteLog("a");
    ASSERT_EQ(unlink(kDay.c_str()), 0);
    ASSERT_EQ(mkdir(kDay.c_str(), 0755), 0);  // while the file was open
    LetTheLogLookAgain();
    module->WriteLog("lost too");
    ASSERT_EQ(rmdir(kDay.c_str()), 0);
    module->WriteLog("b");
    EXPECT_EQ(ReadFile(kDay), Entry("b"));
}

TEST_F(EventLogTest, AWorkingDirectoryRemovedWhileTheFileIsOpenDropsTheEntry) {
    MakeControl();
    ASSERT_EQ(mkdir("gone", 0755), 0);
    ASSERT_EQ(chdir("gone"), 0);
    module->WriteLog("a");
    EXPECT_EQ(ReadFile(kDay), Entry("a"));
    ASSERT_EQ(unlink(kDay.c_str()), 0);
    ASSERT_EQ(rmdir((dir + "/gone").c_str()), 0);
    LetTheLogLookAgain();
    module->WriteLog("lost");
    ASSERT_EQ(chdir(dir.c_str()), 0);
    LetTheLogLookAgain();
    module->WriteLog("kept");
    EXPECT_EQ(ReadFile(kDay), Entry("kept"));
}

// Permissions do not stop root, so these need an ordinary user.
TEST_F(EventLogTest, AReadOnlyDirectoryOrFileDropsTheEntry) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes regardless of permissions";
    MakeControl();
    ASSERT_EQ(mkdir("ro", 0555), 0);
    ASSERT_EQ(chdir("ro"), 0);
    LetTheLogLookAgain();
    module->WriteLog("lost");
    EXPECT_FALSE(testenv::FileExists(kDay));
    ASSERT_EQ(chdir(dir.c_str()), 0);
    LetTheLogLookAgain();
    module->WriteLog("a");
    ASSERT_EQ(chmod(kDay.c_str(), 0444), 0);  // while the file is open
    LetTheLogLookAgain();
    module->WriteLog("lost too");
    ASSERT_EQ(chmod(kDay.c_str(), 0644), 0);
    LetTheLogLookAgain();
    module->WriteLog("b");
    EXPECT_EQ(ReadFile(kDay), Entry("a") + Entry("b"));
}

TEST_F(EventLogTest, ADescriptorClosedBehindTheLogsBackIsOpenedAgain) {
    MakeControl();
    module->WriteLog("a");
    std::vector<int> open = DescriptorsOn(dir + "/" + kDay);
    ASSERT_EQ(open.size(), 1u);
    ASSERT_EQ(close(open[0]), 0);
    module->WriteLog("lost");
    module->WriteLog("b");
    EXPECT_EQ(ReadFile(kDay), Entry("a") + Entry("b"));
}

TEST_F(EventLogTest, TheFileIsClosedWithTheModuleAndNotInheritedByPrograms) {
    MakeControl();
    module->WriteLog("a");
    std::string path = dir + "/" + kDay;
    std::vector<int> open = DescriptorsOn(path);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_TRUE(fcntl(open[0], F_GETFD) & FD_CLOEXEC);
    ctrl.reset();
    module.reset();
    EXPECT_TRUE(DescriptorsOn(path).empty());
}

TEST_F(EventLogTest, TheTimeIsThePlatformClocks) {
    sim::SetEpoch(At(2004, 3, 5, 9, 0, 0));
    EXPECT_EQ(platform::Now(), At(2004, 3, 5, 9, 0, 0));
    sim::RunFor(2 * sim::kSecond + 500 * sim::kMilli);
    EXPECT_EQ(platform::Now(), At(2004, 3, 5, 9, 0, 2));
}
