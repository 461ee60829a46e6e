#include <vector>

#include "tests/support/test_env.h"

namespace {

struct Seen {
    UINT msg;
    WPARAM wParam;
    sim::Micros at;
};
std::vector<Seen> gSeen;

LRESULT CALLBACK Recorder(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_CREATE && msg != WM_DESTROY && msg != WM_NCDESTROY) gSeen.push_back({msg, wParam, sim::Now()});
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND MakeWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Recorder;
    wc.lpszClassName = "Recorder";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "Recorder", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

class MessageLoopTest : public MarluneTest {
protected:
    void SetUp() override {
        MarluneTest::SetUp();
        gSeen.clear();
        hwnd = MakeWindow();
        ASSERT_NE(hwnd, nullptr);
    }
    HWND hwnd = nullptr;
};

TEST_F(MessageLoopTest, PostedMessagesArriveInOrderFromTheLoopOnly) {
    PostMessageA(hwnd, WM_USER + 1, 1, 0);
    PostMessageA(hwnd, WM_USER + 2, 2, 0);
    EXPECT_TRUE(gSeen.empty());
    sim::RunPending();
    ASSERT_EQ(gSeen.size(), 2u);
    EXPECT_EQ(gSeen[0].msg, static_cast<UINT>(WM_USER + 1));
    EXPECT_EQ(gSeen[1].msg, static_cast<UINT>(WM_USER + 2));
    EXPECT_EQ(sim::Now(), 0);  // nothing was due later, so time stood still
}

TEST_F(MessageLoopTest, AOneMillisecondTimerTicksOncePerMillisecondUntilKilled) {
    SetTimer(hwnd, 10, 1, nullptr);
    sim::RunFor(10 * sim::kMilli);
    ASSERT_EQ(gSeen.size(), 10u);
    for (size_t i = 0; i < gSeen.size(); ++i) {
        EXPECT_EQ(gSeen[i].msg, static_cast<UINT>(WM_TIMER));
        EXPECT_EQ(gSeen[i].wParam, 10u);
        EXPECT_EQ(gSeen[i].at, static_cast<sim::Micros>(i + 1) * sim::kMilli);
    }
    EXPECT_TRUE(KillTimer(hwnd, 10));
    EXPECT_FALSE(KillTimer(hwnd, 10));
    sim::RunFor(10 * sim::kMilli);
    EXPECT_EQ(gSeen.size(), 10u);
}

TEST_F(MessageLoopTest, SettingARunningTimerAgainRestartsIt) {
    SetTimer(hwnd, 10, 100, nullptr);
    sim::RunFor(60 * sim::kMilli);
    SetTimer(hwnd, 10, 100, nullptr);
    sim::RunFor(60 * sim::kMilli);
    EXPECT_TRUE(gSeen.empty());  // 120 ms passed, but never 100 ms since the restart
    sim::RunFor(50 * sim::kMilli);
    ASSERT_EQ(gSeen.size(), 1u);
    EXPECT_EQ(gSeen[0].at, 160 * sim::kMilli);
}

TEST_F(MessageLoopTest, TheVirtualClockJumpsToTheNextDeadline) {
    std::vector<sim::Micros> ran;
    sim::ScheduleAfter(30 * sim::kSecond, [&] { ran.push_back(sim::Now()); });
    sim::ScheduleAfter(5 * sim::kSecond, [&] { ran.push_back(sim::Now()); });
    uint64_t cancelled = sim::ScheduleAfter(10 * sim::kSecond, [&] { ran.push_back(-1); });
    sim::Cancel(cancelled);
    sim::RunFor(31 * sim::kSecond);
    EXPECT_EQ(ran, (std::vector<sim::Micros>{5 * sim::kSecond, 30 * sim::kSecond}));
    EXPECT_EQ(sim::Now(), 31 * sim::kSecond);
    EXPECT_EQ(sim::WallTime(), testenv::At(2004, 3, 5, 9, 0, 31));
}

TEST_F(MessageLoopTest, MessagesPostedByScheduledWorkAreDeliveredAtThatTime) {
    sim::ScheduleAfter(2 * sim::kSecond, [&] { PostMessageA(hwnd, WM_USER, 0, 0); });
    sim::RunFor(3 * sim::kSecond);
    ASSERT_EQ(gSeen.size(), 1u);
    EXPECT_EQ(gSeen[0].at, 2 * sim::kSecond);
}

// A reader thread posts what it read and then reports it taken; when both
// happen while the loop asks whether outside work is busy, the post is
// still delivered before the clock moves on (here the check itself posts).
TEST_F(MessageLoopTest, APostHandedOverWhileTheLoopChecksOutsideWorkComesBeforeTheClockMoves) {
    for (bool until : {false, true}) {
        SCOPED_TRACE(until);
        gSeen.clear();
        sim::Micros start = sim::Now();
        bool posted = false;
        uint64_t id = sim::AddOutsideWork([&] {
            if (!posted) posted = PostMessageA(hwnd, WM_USER + 7, 0, 0) != FALSE;
            return false;
        });
        sim::ScheduleAfter(20 * sim::kMilli, [&] { PostMessageA(hwnd, WM_USER + 8, 0, 0); });
        if (until)
            sim::RunUntil([] { return gSeen.size() == 2; }, sim::kSecond);
        else
            sim::RunFor(50 * sim::kMilli);
        sim::RemoveOutsideWork(id);
        ASSERT_EQ(gSeen.size(), 2u);
        EXPECT_EQ(gSeen[0].msg, static_cast<UINT>(WM_USER + 7));
        EXPECT_EQ(gSeen[0].at, start);  // not at the next deadline
        EXPECT_EQ(gSeen[1].at, start + 20 * sim::kMilli);
    }
}

TEST_F(MessageLoopTest, RunUntilStopsAsSoonAsTheConditionHolds) {
    SetTimer(hwnd, 1, 1, nullptr);
    EXPECT_TRUE(sim::RunUntil([] { return gSeen.size() == 3; }, sim::kSecond));
    EXPECT_EQ(sim::Now(), 3 * sim::kMilli);
    KillTimer(hwnd, 1);
    EXPECT_FALSE(sim::RunUntil([] { return gSeen.size() == 4; }, sim::kSecond));
    EXPECT_EQ(sim::Now(), sim::kSecond + 3 * sim::kMilli);
}

TEST_F(MessageLoopTest, ADestroyedWindowGetsNothingMore) {
    SetTimer(hwnd, 10, 1, nullptr);
    PostMessageA(hwnd, WM_USER, 0, 0);
    DestroyWindow(hwnd);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));
    sim::RunFor(10 * sim::kMilli);
    EXPECT_TRUE(gSeen.empty());
    EXPECT_EQ(SetTimer(hwnd, 10, 1, nullptr), 0u);
}

TEST_F(MessageLoopTest, DestroyingAParentDestroysItsChildren) {
    HWND child = CreateWindowExA(0, "Recorder", "c", WS_CHILD, 0, 0, 0, 0, hwnd, nullptr, nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetParent(child), hwnd);
    EXPECT_EQ(sim::ChildWindows(hwnd), std::vector<HWND>{child});
    DestroyWindow(hwnd);
    EXPECT_FALSE(IsWindow(child));
}

TEST_F(MessageLoopTest, MessageBoxesAreRecordedAndAnsweredByThePolicy) {
    EXPECT_EQ(MessageBoxA(nullptr, "err", "lineTranslateAddress", MB_OK), IDOK);
    sim::SetMessageBoxPolicy([](const sim::MessageBoxRecord& r) { return r.caption == "ask" ? IDNO : IDOK; });
    EXPECT_EQ(MessageBoxA(nullptr, "?", "ask", MB_YESNO), IDNO);
    ASSERT_EQ(sim::MessageBoxes().size(), 2u);
    EXPECT_EQ(sim::MessageBoxes()[0].text, "err");
    EXPECT_EQ(sim::MessageBoxes()[0].caption, "lineTranslateAddress");
    EXPECT_EQ(sim::MessageBoxes()[1].answer, IDNO);
}

TEST_F(MessageLoopTest, GetMessageWaitsForTheNextTimerOnTheVirtualClock) {
    SetTimer(hwnd, 7, 250, nullptr);
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_EQ(sim::Now(), 250 * sim::kMilli);
    PostQuitMessage(3);
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(MessageLoopTest, RealTimeModeRunsTheSameLoopOnTheWallClock) {
    sim::SetRealTime(true);
    SetTimer(hwnd, 3, 5, nullptr);
    sim::Micros start = sim::Now();
    sim::RunFor(30 * sim::kMilli);
    KillTimer(hwnd, 3);
    EXPECT_GE(sim::Now() - start, 30 * sim::kMilli);  // the wall clock really passed
    EXPECT_GE(gSeen.size(), 1u);
    for (size_t i = 1; i < gSeen.size(); ++i) EXPECT_GE(gSeen[i].at - gSeen[i - 1].at, 5 * sim::kMilli);
    sim::SetRealTime(false);
    sim::Micros frozen = sim::Now();
    sim::RunPending();
    EXPECT_EQ(sim::Now(), frozen);  // back on the virtual clock, time stands still
}

// Found by the PlayStr fuzz target: the virtual modem makes part of its
// state on first use, and that can happen inside a reset hook, which then
// registers a hook of its own while the list of hooks is being walked.
TEST_F(MessageLoopTest, AResetHookMayRegisterOthersWhileTheResetRuns) {
    static int outer = 0, inner = 0;
    static bool registered = false;
    sim::AddResetHook([] {
        ++outer;
        if (registered) return;
        registered = true;
        // Enough hooks to move the list's storage while it is walked.
        for (int i = 0; i < 64; ++i) sim::AddResetHook([] { ++inner; });
    });
    sim::Reset();
    EXPECT_EQ(outer, 1);
    EXPECT_EQ(inner, 64) << "hooks registered during a reset run in that reset";
    sim::Reset();
    EXPECT_EQ(outer, 2);
    EXPECT_EQ(inner, 128);
}
