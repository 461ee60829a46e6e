// The caller-id block after the first ring: number and name into
// LINECALLINFO, one notification per call, DATE and TIME ignored, the
// private and out-of-area forms as no number, in any order and however the
// lines are split across reads.
#include "control/front/module.h"
#include "tests/atmodem/raw_line.h"

namespace {

struct CallerId {
    std::string number, name;
    DWORD flags;
};

}  // namespace

class AtCallerIdTest : public RawLineTest {
protected:
    CallerId Read(HCALL h) const {
        auto buf = raw->CallInfo(h);
        auto* ci = reinterpret_cast<const LINECALLINFO*>(buf.data());
        return {RawLine::Field(buf, ci->dwCallerIDSize, ci->dwCallerIDOffset),
                RawLine::Field(buf, ci->dwCallerIDNameSize, ci->dwCallerIDNameOffset), ci->dwCallerIDFlags};
    }
    static int Notified() { return RawLine::Count(LINE_CALLINFO, LINECALLINFOSTATE_CALLERID); }
};

TEST_F(AtCallerIdTest, TheFullBlockGivesNumberAndNameOnceAndDateAndTimeAreIgnored) {
    Start();
    caller->modem.Ring(3, 4, "13800138000", "ZHANG SAN");
    Run(0);
    EXPECT_EQ(Notified(), 1);  // at once: number and name complete the block
    HCALL h = RawLine::LastCall();
    CallerId id = Read(h);
    EXPECT_EQ(id.number, "13800138000");
    EXPECT_EQ(id.name, "ZHANG SAN");
    EXPECT_EQ(id.flags, static_cast<DWORD>(LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME));
    Run(9);
    EXPECT_EQ(RawLine::Count(LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING), 3);
    EXPECT_EQ(Notified(), 1);
    // Another block on the same call changes nothing.
    caller->modem.SendLine("NMBR = 999");
    Run(1);
    EXPECT_EQ(Read(h).number, "13800138000");
    EXPECT_EQ(Notified(), 1);
}

TEST_F(AtCallerIdTest, ANumberWithoutANameIsReportedWhenTheBlockHasEndedOrTheCallIsAnswered) {
    Start();
    caller->modem.Ring(2, 4, "5551234");
    Run(0);
    EXPECT_EQ(Notified(), 0);  // a NAME may still follow
    Run(0.2);
    EXPECT_EQ(Notified(), 1);
    HCALL h = RawLine::LastCall();
    EXPECT_EQ(Read(h).flags, static_cast<DWORD>(LINECALLPARTYID_ADDRESS));
    EXPECT_EQ(Read(h).name, "");
    Run(5);
    EXPECT_EQ(Notified(), 1);
    raw->Drop(h);
    Run(1);

    // Answered before the block settled: reported before the call connects.
    RawLine::Messages().clear();
    caller->modem.Ring(1, 4, "5559876");
    Run(0);
    h = RawLine::LastCall();
    ASSERT_GT(raw->Answer(h), 0);
    Run(0);
    auto& m = RawLine::Messages();
    auto info = std::find_if(m.begin(), m.end(), [](const LineMessage& x) { return x.message == LINE_CALLINFO; });
    auto connected = std::find_if(m.begin(), m.end(), [](const LineMessage& x) {
        return x.message == LINE_CALLSTATE && x.p1 == LINECALLSTATE_CONNECTED;
    });
    ASSERT_NE(info, m.end());
    ASSERT_NE(connected, m.end());
    EXPECT_LT(info - m.begin(), connected - m.begin());
    EXPECT_EQ(Read(h).number, "5559876");
}

TEST_F(AtCallerIdTest, PrivateAndOutOfAreaNumbersAreNoNumber) {
    const struct {
        const char *number, *name;
        DWORD flags;
    } cases[] = {{"P", "", LINECALLPARTYID_BLOCKED},
                 {"O", "", LINECALLPARTYID_OUTOFAREA},
                 {"P", "P", LINECALLPARTYID_BLOCKED},
                 {"O", "LI SI", LINECALLPARTYID_OUTOFAREA | LINECALLPARTYID_NAME}};
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.number) + "/" + c.name);
        Start();
        caller->modem.Ring(2, 4, c.number, c.name);
        Run(5);
        EXPECT_EQ(Notified(), 0);
        HCALL h = RawLine::LastCall();
        CallerId id = Read(h);
        EXPECT_EQ(id.number, "");
        EXPECT_EQ(id.flags, c.flags);
        EXPECT_EQ(id.name, std::string(c.name) == "P" ? "" : c.name);
        ASSERT_GT(raw->Answer(h), 0);
        Run(0);
        EXPECT_EQ(Notified(), 0);
        TearDown();
        SetUp();
    }
}

TEST_F(AtCallerIdTest, LinesInAnyOrderAndSplitAcrossReadsMakeTheSameBlock) {
    const std::vector<std::vector<std::string>> orders = {
        {"NAME = WANG WU", "NMBR = 5550100", "TIME = 0930", "DATE = 0101"},
        {"TIME=0930", "NMBR=5550100", "DATE=0101", "NAME=WANG WU"},
        {"DATE = 0101", "NAME =  WANG WU ", "TIME = 0930", "NMBR = 5550100"},
    };
    for (size_t split : {size_t(0), size_t(1), size_t(3)}) {
        for (auto& order : orders) {
            SCOPED_TRACE(order.front() + " split " + std::to_string(split));
            Start();
            caller->modem.SplitWrites(split);
            caller->modem.Ring(2, 4, "");
            Run(0);
            for (auto& line : order) caller->modem.SendLine(line);
            Run(0);
            EXPECT_EQ(Notified(), 1);
            CallerId id = Read(RawLine::LastCall());
            EXPECT_EQ(id.number, "5550100");
            EXPECT_EQ(id.name, "WANG WU");
            Run(5);
            EXPECT_EQ(Notified(), 1);
            TearDown();
            SetUp();
        }
    }
}

// The control sees a withheld number on the AT library as it sees a call
// without caller id on the virtual modem: rings, no CallIDIn, no number.
TEST_F(AtCallerIdTest, TheControlSeesAWithheldNumberAsTheVirtualModemsCallWithoutCallerId) {
    auto run = [this](Provider provider) {
        sink.events.clear();
        std::unique_ptr<AtCaller> at;
        std::unique_ptr<VirtualCaller> virt;
        if (provider == Provider::At)
            at = std::make_unique<AtCaller>();
        else
            virt = std::make_unique<VirtualCaller>();
        MakeControl();
        ctrl->InitLine(0);
        EXPECT_EQ(ctrl->OpenLine(0), 0);
        Run(1);
        if (at) {
            at->modem.Ring(2, 4, "P", "");
        } else {
            vmodem_Offer(0, nullptr);
            vmodem_Ring(0);
            sim::ScheduleAfter(4 * sim::kSecond, [] { vmodem_Ring(0); });
        }
        Run(5);
        std::vector<DISPID> events;
        for (auto& e : sink.events) events.push_back(e.dispid);
        std::string number = ctrl->GetTPNO();
        EXPECT_EQ(ctrl->AnswerTp(), 0);
        Run(1);
        events.push_back(sink.count(EVENT_IsConnect) == 1 ? EVENT_IsConnect : 0);
        ctrl->HandUp();
        Run(1);
        TearDown();
        SetUp();
        return std::make_pair(events, number);
    };
    auto virt = run(Provider::Virtual);
    auto at = run(Provider::At);
    EXPECT_EQ(at, virt);
    EXPECT_EQ(at.second, "");
    EXPECT_EQ(std::count(at.first.begin(), at.first.end(), EVENT_CallIDIn), 0);
    EXPECT_EQ(std::count(at.first.begin(), at.first.end(), EVENT_Ring), 2);
}
