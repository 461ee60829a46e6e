// Every result code and DLE event the AT library acts on, seen at the
// library's own callback with the mode of each call state, and the line
// set-up's bound on a modem that does not answer.
#include "tests/atmodem/raw_line.h"

using modemsim::HangUp;
using modemsim::Outgoing;

namespace {
using States = std::vector<std::pair<DWORD, DWORD>>;
}

class AtResultCodeTest : public RawLineTest {
protected:
    // An outgoing call whose dialled party does `what` after 1 s.
    States Dial(Outgoing what) {
        caller->modem.SetOutgoing(what, 1);
        RawLine::Messages().clear();
        EXPECT_GT(raw->MakeCall("5551234"), 0);
        Run(2);
        return RawLine::States();
    }
    // An incoming call answered; the messages so far are forgotten.
    HCALL Connect() {
        caller->modem.Ring(1, 4, "5551234");
        Run(0);
        HCALL h = RawLine::LastCall();
        EXPECT_GT(raw->Answer(h), 0);
        Run(0);
        RawLine::Messages().clear();
        return h;
    }
};

TEST_F(AtResultCodeTest, EachOutcomeOfADialEndsTheCallWithItsOwnMode) {
    Start();
    const States dialling = {{LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL},
                             {LINECALLSTATE_DIALING, 0},
                             {LINECALLSTATE_RINGBACK, 0}};
    auto ended = [&](DWORD mode) {
        States s = dialling;
        s.push_back({LINECALLSTATE_DISCONNECTED, mode});
        s.push_back({LINECALLSTATE_IDLE, 0});
        return s;
    };
    // NO DIALTONE: a dead line.
    EXPECT_EQ(Dial(Outgoing::NoDialtone), ended(LINEDISCONNECTMODE_NODIALTONE));
    EXPECT_FALSE(caller->modem.OffHook());
    // NO ANSWER after the ringback time (10 s).
    caller->modem.SetOutgoing(Outgoing::NoAnswer, 0);
    RawLine::Messages().clear();
    ASSERT_GT(raw->MakeCall("5551234"), 0);
    Run(11);
    EXPECT_EQ(RawLine::States(), ended(LINEDISCONNECTMODE_NOANSWER));
    // BUSY: the busy state before the end.
    States busy = dialling;
    busy.push_back({LINECALLSTATE_BUSY, LINEBUSYMODE_STATION});
    busy.push_back({LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY});
    busy.push_back({LINECALLSTATE_IDLE, 0});
    EXPECT_EQ(Dial(Outgoing::Busy), busy);
    // ERROR: the modem refuses the dial string.
    caller->modem.FailCommand("D");
    EXPECT_EQ(Dial(Outgoing::Answer), ended(LINEDISCONNECTMODE_UNAVAIL));
    // VCON: connected.
    States connected = dialling;
    connected.push_back({LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE});
    EXPECT_EQ(Dial(Outgoing::Answer), connected);
    EXPECT_EQ(caller->modem.Dialled(), "5551234");
    // NO CARRIER on the connected call: the far end hung up.
    RawLine::Messages().clear();
    caller->modem.HangUp(HangUp::NoCarrier);
    Run(0);
    EXPECT_EQ(RawLine::States(), (States{{LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL}}));
    EXPECT_GT(raw->Drop(raw->call), 0);
    Run(0);
    EXPECT_EQ(RawLine::States().back(), (std::pair<DWORD, DWORD>{LINECALLSTATE_IDLE, 0}));
}

TEST_F(AtResultCodeTest, EachFarEndDleEventDisconnectsOnceWithItsMode) {
    const std::pair<char, DWORD> events[] = {{'b', LINEDISCONNECTMODE_BUSY},
                                             {'d', LINEDISCONNECTMODE_NORMAL},
                                             {'s', LINEDISCONNECTMODE_NORMAL},
                                             {'q', LINEDISCONNECTMODE_NORMAL}};
    for (auto [code, mode] : events) {
        SCOPED_TRACE(code);
        Start();
        HCALL h = Connect();
        caller->modem.Dle(code);
        caller->modem.Dle(code);  // reported again: still one disconnect
        Run(0);
        EXPECT_EQ(RawLine::States(), (States{{LINECALLSTATE_DISCONNECTED, mode}}));
        EXPECT_GT(raw->Drop(h), 0);
        Run(0);
        EXPECT_EQ(RawLine::States().back().first, static_cast<DWORD>(LINECALLSTATE_IDLE));
        EXPECT_FALSE(caller->modem.OffHook());
        TearDown();
        SetUp();
    }
}

TEST_F(AtResultCodeTest, KeysAreDigitsOnlyWhileMonitoringAndOtherDleCodesAreNotCallEvents) {
    Start();
    HCALL h = Connect();
    using Monitor = LONG(WINAPI*)(HCALL, DWORD);
    caller->modem.Keys("1");
    Run(0);
    EXPECT_EQ(RawLine::Count(LINE_MONITORDIGITS, '1'), 0);  // not monitoring yet
    ASSERT_EQ(raw->Get<Monitor>("lineMonitorDigits")(h, LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND), 0);
    caller->modem.Keys("5*");
    for (char code : {'h', 'H', 'c', 'e', 'T', 'R'}) caller->modem.Dle(code);
    Run(0);
    // Each key once per mode: the tone and its end.
    EXPECT_EQ(RawLine::Count(LINE_MONITORDIGITS, '5'), 2);
    EXPECT_EQ(RawLine::Count(LINE_MONITORDIGITS, '*'), 2);
    EXPECT_TRUE(RawLine::States().empty());
    EXPECT_EQ(RawLine::Messages().size(), 4u);
}

// The set-up probe runs on the control's thread: a modem that never
// answers is asked once and given up, a device that is not there is not
// waited for, and the control's InitLine fails as it does without a line.
TEST_F(AtResultCodeTest, SetUpGivesUpOnASilentModemOrAMissingDeviceAtOnce) {
    caller = std::make_unique<AtCaller>();
    caller->modem.StopAnswering(true);
    MakeControl();
    sim::Micros before = sim::Now();
    EXPECT_EQ(ctrl->InitLine(0), "");
    EXPECT_EQ(caller->modem.Commands(), (std::vector<std::string>{"ATE0"}));  // no retries, no more questions
    EXPECT_NE(ctrl->OpenLine(0), 0);  // no device to open: not asked again
    EXPECT_EQ(caller->modem.Commands(), (std::vector<std::string>{"ATE0"}));
    EXPECT_EQ(sim::Now(), before);

    // One that answers the first questions and then hangs is not asked on
    // (no ATI after a silent AT+FMI?).
    TearDown();
    SetUp();
    caller = std::make_unique<AtCaller>();
    caller->modem.IgnoreCommand("+FMI?");
    MakeControl();
    before = sim::Now();
    EXPECT_EQ(ctrl->InitLine(0), "");
    EXPECT_EQ(caller->modem.Commands(), (std::vector<std::string>{"ATE0", "ATV1", "AT+FMI?"}));
    EXPECT_EQ(sim::Now(), before);

    for (const char* path : {"/nonexistent/ttyACM9", "/dev/null"}) {
        SCOPED_TRACE(path);
        TearDown();
        SetUp();
        sim::MapLibrary("TAPI32.DLL", "libtapi32_at.so");
        atmodem_SetDevice(path);
        MakeControl();
        before = sim::Now();
        EXPECT_EQ(ctrl->InitLine(0), "");
        EXPECT_NE(ctrl->OpenLine(0), 0);
        EXPECT_EQ(sim::Now(), before);
        sim::MapLibrary("TAPI32.DLL", "");
    }
}

TEST_F(AtResultCodeTest, TheTelephonyFrontsFaultHooksServeTheAtLibraryToo) {
    caller = std::make_unique<AtCaller>();
    raw = std::make_unique<RawLine>();
    auto refuse = raw->Get<void (*)(const char*, int32_t)>("atmodem_Refuse");
    ASSERT_NE(refuse, nullptr);
    refuse("lineOpenA", static_cast<int32_t>(LINEERR_RESOURCEUNAVAIL));
    ASSERT_EQ(raw->Initialize(), 1);
    EXPECT_EQ(raw->Open(), static_cast<LONG>(LINEERR_RESOURCEUNAVAIL));
    refuse("lineOpenA", 0);
    EXPECT_EQ(raw->Open(), 0);
}
