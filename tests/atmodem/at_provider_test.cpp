// The AT provider over the modem simulator, driven through the control:
// set-up and both command sets, every result code and DLE event, the
// line's wave devices, and the faults of a real modem.
#include <dlfcn.h>

#include <cstring>

#include "control/front/module.h"
#include "tests/atmodem/line_fixture.h"

using modemsim::HangUp;

class AtProviderTest : public LineTest {
protected:
    void Start(const modemsim::Options& options = modemsim::Options()) {
        caller = nullptr;
        caller = std::make_unique<AtCaller>(options);
        MakeControl();
    }
    void OpenLine() {
        name = ctrl->InitLine(0);
        ASSERT_EQ(ctrl->OpenLine(0), 0);
        Run(0);
    }
    // An incoming call answered, with monitoring of keys on.
    void Connect() {
        caller->modem.Ring(1, 4, "5551234");
        Run(0);
        ASSERT_EQ(ctrl->AnswerTp(), 0);
        Run(0);
        ASSERT_EQ(sink.count(EVENT_IsConnect), 1);
        ctrl->BeginMonitorDtmf(0);
    }
    std::vector<std::string> Sent() const { return caller->modem.Commands(); }
    bool SentCommand(const std::string& c) const {
        auto s = Sent();
        return std::find(s.begin(), s.end(), c) != s.end();
    }

    std::unique_ptr<AtCaller> caller;
    std::string name;
};

TEST_F(AtProviderTest, TheVoiceFormatComesFromTheModemsListOrItsFamilysAndIsLogged) {
    struct Case {
        modemsim::Family family;
        std::vector<std::string> list;  // in place of the family's own (empty: its own)
        int code;
        const char* logged;
    } cases[] = {
        {modemsim::Family::HostSoft, {}, 131, "voice format 131 \"ULAW\" (mu-law, 8000 Hz) from the modem's list"},
        {modemsim::Family::Controller, {}, 1, "voice format 1 \"UNSIGNED PCM\" (8-bit unsigned linear, 8000 Hz)"},
        {modemsim::Family::ALawLinear, {}, 132, "voice format 132 \"ALAW\" (A-law, 8000 Hz)"},
        {modemsim::Family::Intel, {}, 140, "voice format 140 \"CL1\" (A-law, 8000 Hz) from the modem's list"},
        // Intel's list unreadable: its documented one, the family named by ATI.
        {modemsim::Family::Intel, {"ERROR?"}, 140, "voice format 140 \"CL1\" (A-law, 8000 Hz) from the documented"},
        // A list in another form: the family's documented one, by its identification (RC56).
        {modemsim::Family::Controller, {"1;CELP;1;0;(9600)"}, 1, "from the documented list of its family"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        modemsim::Options o;
        o.family = c.family;
        o.vsmList = c.list;
        Start(o);
        OpenLine();
        EXPECT_EQ(caller->modem.VoiceFormat(), c.code);
        bool logged = false;
        for (auto& t : sim::DebugOutput()) logged = logged || t.find(c.logged) != std::string::npos;
        EXPECT_TRUE(logged) << c.logged;
    }
}

TEST_F(AtProviderTest, SetUpNamesTheModemAndPutsItInVoiceModeWithEitherCommandSet) {
    Start();
    OpenLine();
    EXPECT_EQ(name, "Marlune SimVoice 56K");  // +FMI? and +FMM?
    for (const char* c : {"ATE0", "AT+FMI?", "AT+FMM?", "AT+FCLASS=8", "AT+VCID=1", "AT+VSM=?", "AT+VSM=131,8000",
                          "AT+VLS=0"})
        EXPECT_TRUE(SentCommand(c)) << c;
    EXPECT_EQ(caller->modem.VoiceFormat(), 131);  // ULAW in the modem's list

    // The older set: +FCLASS=8 is refused, #CLS=8 and the # commands follow.
    TearDown();
    SetUp();
    modemsim::Options rockwell;
    rockwell.dialect = modemsim::Dialect::Rockwell;
    Start(rockwell);
    caller->modem.FailCommand("+FMM", 1);  // no model: the name comes from ATI
    OpenLine();
    EXPECT_EQ(name, "Marlune SimVoice 56K");
    EXPECT_TRUE(SentCommand("ATI"));
    for (const char* c : {"AT+FCLASS=8", "AT#CLS=8", "AT#CID=1", "AT#VBS=8", "AT#VLS=0"})
        EXPECT_TRUE(SentCommand(c)) << c;
    EXPECT_EQ(caller->modem.VoiceFormat(), 128);
    Connect();
    EXPECT_TRUE(SentCommand("ATA"));  // answered with A, VCON
    EXPECT_EQ(ctrl->GetTPNO(), "5551234");
    caller->modem.Keys("7");
    Run(0);
    EXPECT_EQ(ctrl->GetDtmf(), "7");

    // Intel's chipsets: +FMI? refused, named by ATI; +VLS=1 answered VCON.
    TearDown();
    SetUp();
    modemsim::Options intel;
    intel.family = modemsim::Family::Intel;
    Start(intel);
    OpenLine();
    EXPECT_EQ(name, "Marlune SimVoice 537EP");
    EXPECT_TRUE(SentCommand("ATI"));
    EXPECT_EQ(caller->modem.VoiceFormat(), 140);
    sink.events.clear();
    Connect();
    EXPECT_TRUE(SentCommand("AT+VLS=1"));
    EXPECT_EQ(ctrl->GetTPNO(), "5551234");
}

TEST_F(AtProviderTest, RingsCallerIdAndAnswerGiveTheControlsEvents) {
    Start();
    OpenLine();
    caller->modem.Ring(3, 4, "13800138000");
    Run(9);
    auto rings = sink.count(EVENT_Ring);
    EXPECT_EQ(rings, 3);
    EXPECT_EQ(sink.count(EVENT_CallIDIn), 1);
    EXPECT_EQ(ctrl->GetTPNO(), "13800138000");
    EXPECT_EQ(ctrl->AnswerTp(), 0);
    Run(0);
    EXPECT_TRUE(caller->modem.OffHook());
    EXPECT_TRUE(SentCommand("AT+VLS=1"));
    EXPECT_EQ(sink.count(EVENT_IsConnect), 1);
    // The line's wave devices are the modem's voice stream.
    EXPECT_EQ(ctrl->GetOutID(0), static_cast<LONG>(sim::kLineDevice));
}

TEST_F(AtProviderTest, AnOfferedCallWhoseRingsStopEndsAndACallWithoutCallerIdHasNone) {
    Start();
    OpenLine();
    caller->modem.Ring(2, 4, "");
    Run(20);
    EXPECT_EQ(sink.count(EVENT_Ring), 2);
    EXPECT_EQ(sink.count(EVENT_CallIDIn), 0);
    EXPECT_EQ(sink.count(EVENT_DisConnected), 1);  // 10 s after the last ring
    EXPECT_EQ(sink.count(EVENT_LineIsFree), 1);
}

TEST_F(AtProviderTest, EveryKeyIsReportedWhileMonitoringAndNoneAfter) {
    Start();
    OpenLine();
    Connect();
    caller->modem.Keys("0123456789*#ABCD");
    Run(0);
    EXPECT_EQ(ctrl->GetDtmf(), "0123456789*#");  // the control takes digits, * and #
    EXPECT_EQ(sink.count(EVENT_DtmfIn), 12);
    ctrl->CancelMonitor(0);
    caller->modem.Keys("5");
    Run(0);
    EXPECT_EQ(sink.count(EVENT_DtmfIn), 12);
}

TEST_F(AtProviderTest, TheFarEndHangingUpIsEachWayTheModemReportsIt) {
    for (HangUp how : {HangUp::BusyTone, HangUp::Silence, HangUp::DialTone, HangUp::NoCarrier}) {
        SCOPED_TRACE(static_cast<int>(how));
        Start();
        OpenLine();
        Connect();
        caller->modem.HangUp(how);
        Run(0.5);
        EXPECT_EQ(sink.count(EVENT_DisConnected), 1);  // DLE s then DLE q is one hang-up
        EXPECT_EQ(ctrl->HandUp(), 0);
        Run(0);
        EXPECT_EQ(sink.count(EVENT_LineIsFree), 1);
        EXPECT_FALSE(caller->modem.OffHook());
        TearDown();
        SetUp();
        sink.events.clear();
    }
}

TEST_F(AtProviderTest, HandsetFaxAndTimingEventsChangeNothing) {
    Start();
    OpenLine();
    Connect();
    for (char code : {'h', 'H', 'c', 'e', 'T'}) caller->modem.Dle(code);
    Run(1);
    EXPECT_EQ(sink.count(EVENT_DisConnected), 0);
    EXPECT_EQ(sink.count(EVENT_DtmfIn), 0);
    caller->modem.Keys("4");
    Run(0);
    EXPECT_EQ(ctrl->GetDtmf(), "4");
}

TEST_F(AtProviderTest, OutgoingCallsDialAndEndAsTheResultCodeSays) {
    Start();
    OpenLine();
    caller->modem.SetOutgoing(modemsim::Outgoing::Answer, 2);
    EXPECT_EQ(ctrl->CallOut(0, "555-1234"), 0);
    Run(1);
    EXPECT_EQ(caller->modem.Dialled(), "5551234");
    EXPECT_EQ(sink.count(EVENT_IsConnect), 0);
    Run(1.5);
    EXPECT_EQ(sink.count(EVENT_IsConnect), 1);  // VCON
    ctrl->HandUp();
    Run(0);
    EXPECT_EQ(sink.count(EVENT_LineIsFree), 1);

    caller->modem.SetOutgoing(modemsim::Outgoing::Busy, 1);
    EXPECT_EQ(ctrl->CallOut(0, "5550001"), 0);
    Run(2);
    EXPECT_EQ(sink.count(EVENT_DisConnected), 1);  // BUSY
    EXPECT_TRUE(Logged("线路忙"));
    EXPECT_EQ(sink.count(EVENT_LineIsFree), 2);

    caller->modem.SetOutgoing(modemsim::Outgoing::NoAnswer, 0);
    EXPECT_EQ(ctrl->CallOut(0, "+1 (425) 5550002"), 0);  // a local number dials the subscriber
    Run(5);
    EXPECT_EQ(sink.count(EVENT_DisConnected), 1);
    Run(6);
    EXPECT_EQ(sink.count(EVENT_DisConnected), 2);  // NO ANSWER after the ringback time
    EXPECT_EQ(caller->modem.Dialled(), "5550002");
    EXPECT_EQ(sink.count(EVENT_LineIsFree), 3);
}

TEST_F(AtProviderTest, ACommandAnsweredErrorFailsThatRequestOnly) {
    Start();
    OpenLine();
    caller->modem.Ring(1, 4, "5551234");
    Run(0);
    caller->modem.FailCommand("+VLS=1");
    EXPECT_EQ(ctrl->AnswerTp(), 0);  // the request is taken; the modem refuses it
    Run(1);
    EXPECT_EQ(sink.count(EVENT_IsConnect), 0);
    EXPECT_FALSE(Logged("线路关闭"));
    EXPECT_EQ(ctrl->AnswerTp(), 0);  // asked again, it goes off hook
    Run(0);
    EXPECT_EQ(sink.count(EVENT_IsConnect), 1);
}

TEST_F(AtProviderTest, AModemRefusingVoiceModeClosesTheLine) {
    Start();
    caller->modem.FailCommand("+FCLASS=8");
    caller->modem.FailCommand("#CLS=8");
    OpenLine();
    Run(1);
    EXPECT_TRUE(Logged("线路关闭"));
}

TEST_F(AtProviderTest, AListOfWhichNoFormatFitsClosesTheLineAndNamesTheList) {
    struct Case {
        std::vector<std::string> list;
        const char* logged;
    } cases[] = {
        {{"1,\"ULAW\",16,0,(8000),(0),(0)", "2,\"VOICE\",8,0,(8000),(0),(0)"},
         "AT modem: no voice format in the modem's list fits (mu-law, A-law or linear 8/16-bit at 8000 Hz): "
         "1,\"ULAW\",16,0,(8000),(0),(0); 2,\"VOICE\",8,0,(8000),(0),(0)\n"},
        // Unreadable, and the family is not one the library knows.
        {{"1;CELP;1;0;(9600)"},
         "AT modem: the modem's voice format list does not read and its family is not known: 1;CELP;1;0;(9600)\n"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        modemsim::Options o;
        o.vsmList = c.list;
        o.model = "Voice 2000";  // no family in the name
        Start(o);
        OpenLine();
        Run(1);
        EXPECT_TRUE(Logged("线路关闭")) << c.logged;
        EXPECT_FALSE(SentCommand("AT+VSM=1,8000")) << c.logged;
        const auto out = sim::DebugOutput();
        EXPECT_NE(std::find(out.begin(), out.end(), c.logged), out.end()) << c.logged;
    }
}

TEST_F(AtProviderTest, AModemThatStopsAnsweringClosesTheLineAfterTheTimeOut) {
    Start();
    OpenLine();
    caller->modem.Ring(1, 4, "5551234");
    Run(0);
    caller->modem.StopAnswering(true);
    sim::Micros before = sim::Now();
    EXPECT_EQ(ctrl->AnswerTp(), 0);  // returns at once
    EXPECT_EQ(sim::Now(), before);
    Run(2.9);
    EXPECT_FALSE(Logged("线路关闭"));
    Run(0.2);
    EXPECT_TRUE(Logged("线路关闭"));  // 3 s without an answer
    EXPECT_EQ(sink.count(EVENT_DisConnected), 1);
}

TEST_F(AtProviderTest, AnUnpluggedModemClosesTheLineAndTheRecordingIsStillSaved) {
    Start();
    OpenLine();
    Connect();
    caller->Say(MuLawRamp(16000, 2));
    ASSERT_EQ(ctrl->RecordWav(0, "cut.wav", 4), 0);
    Run(1);
    caller->modem.Unplug();
    Run(0);
    EXPECT_TRUE(Logged("线路关闭"));
    EXPECT_EQ(sink.count(EVENT_DisConnected), 1);
    Run(4);
    EXPECT_EQ(sink.count(EVENT_EndRecord), 1);
    std::string saved = testenv::ReadFile("cut.wav");
    ASSERT_EQ(saved.size(), 46u + 4 * 8000);
    EXPECT_NE(static_cast<unsigned char>(saved[46 + 4000]), 0xFFu);  // the caller before the cut
    // Requests on the closed line fail at once.
    EXPECT_NE(ctrl->AnswerTp(), 0);
}

TEST_F(AtProviderTest, NoiseAndDleSequencesSplitAcrossReadsDoNotChangeTheCall) {
    Start();
    caller->modem.Noise(true);
    caller->modem.SplitWrites(1);  // every byte its own read
    OpenLine();
    EXPECT_EQ(name, "Marlune SimVoice 56K");
    Connect();
    EXPECT_EQ(ctrl->GetTPNO(), "5551234");
    caller->modem.Keys("3#");
    Run(0);
    EXPECT_EQ(ctrl->GetDtmf(), "3#");
    // mu-law code 0x10 is a DLE in the stream: doubled by the modem, single in the recording.
    std::vector<int16_t> dles(800, sim::MuLawDecode(0x10));
    caller->Say(dles);
    ASSERT_EQ(ctrl->RecordWav(0, "dle.wav", 1), 0);
    Run(1.5);
    std::string rec = testenv::ReadFile("dle.wav");
    ASSERT_EQ(rec.size(), 46u + 8000);
    EXPECT_EQ(rec.substr(46, 800), std::string(800, '\x10'));
    EXPECT_EQ(rec[46 + 900], '\xFF');
}

TEST_F(AtProviderTest, AGreetingReachesTheModemShieldedAndEndsWithDleEtx) {
    Start();
    OpenLine();
    Connect();
    std::vector<int16_t> greeting(400, sim::MuLawDecode(0x10));  // every byte a DLE
    for (size_t i = 200; i < 400; ++i) greeting[i] = sim::MuLawDecode(0x42);
    WritePcmWav("g.wav", greeting);
    ASSERT_EQ(ctrl->PlayWav("g.wav", 0), 0);
    Run(1);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    EXPECT_TRUE(SentCommand("AT+VTX"));
    EXPECT_EQ(caller->modem.Heard(), greeting);  // un-shielded by the modem: the same samples
    // After DLE ETX the modem is back in command state: keys and hang-up work.
    caller->modem.Keys("9");
    Run(0);
    EXPECT_EQ(ctrl->GetDtmf(), "9");
    EXPECT_EQ(ctrl->HandUp(), 0);
    Run(0);
    EXPECT_FALSE(caller->modem.OffHook());
}

TEST_F(AtProviderTest, WithoutADeviceThereIsNoLine) {
    caller = nullptr;
    atmodem_SetDevice("/nonexistent/ttyACM9");
    sim::MapLibrary("TAPI32.DLL", "libtapi32_at.so");
    MakeControl();
    EXPECT_EQ(ctrl->InitLine(0), "");
    EXPECT_NE(ctrl->OpenLine(0), 0);
    sim::MapLibrary("TAPI32.DLL", "");
}

// The functions' own answers, called by name from the loaded library.
TEST_F(AtProviderTest, EachFunctionChecksItsArgumentsAndFillsItsRecord) {
    Start();
    OpenLine();
    void* lib = dlopen("libtapi32_at.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr);
    auto fn = [lib](const char* name) { return dlsym(lib, name); };
    using Negotiate = LONG(WINAPI*)(HLINEAPP, DWORD, DWORD, DWORD, LPDWORD, LPLINEEXTENSIONID);
    using DevCaps = LONG(WINAPI*)(HLINEAPP, DWORD, DWORD, DWORD, LPLINEDEVCAPS);
    using GetId = LONG(WINAPI*)(HLINE, DWORD, HCALL, DWORD, LPVARSTRING, LPCSTR);
    using Monitor = LONG(WINAPI*)(HCALL, DWORD);
    using Translate = LONG(WINAPI*)(HLINEAPP, DWORD, DWORD, LPCSTR, DWORD, DWORD, LPLINETRANSLATEOUTPUT);
    auto negotiate = reinterpret_cast<Negotiate>(fn("lineNegotiateAPIVersion"));
    auto devCaps = reinterpret_cast<DevCaps>(fn("lineGetDevCapsA"));
    auto getId = reinterpret_cast<GetId>(fn("lineGetIDA"));
    auto monitor = reinterpret_cast<Monitor>(fn("lineMonitorDigits"));
    auto translate = reinterpret_cast<Translate>(fn("lineTranslateAddress"));
    const Line& line = module->line;
    HLINEAPP app = line.hLineApp;

    DWORD version = 0;
    LINEEXTENSIONID ext{};
    EXPECT_EQ(negotiate(app, 0, 0x00010000, 0x00030000, &version, &ext), 0);
    EXPECT_EQ(version, 0x00020002u);
    EXPECT_EQ(negotiate(app, 0, 0x00030000, 0x00030001, &version, &ext),
              static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION));
    EXPECT_EQ(negotiate(app, 1, 0x00010000, 0x00020002, &version, &ext), static_cast<LONG>(LINEERR_BADDEVICEID));
    EXPECT_EQ(negotiate(app + 1, 0, 0x00010000, 0x00020002, &version, &ext),
              static_cast<LONG>(LINEERR_INVALAPPHANDLE));

    // A record too small for the name says how much it needs.
    std::vector<BYTE> caps(offsetof(LINEDEVCAPS, PermanentLineGuid));
    reinterpret_cast<LINEDEVCAPS*>(caps.data())->dwTotalSize = static_cast<DWORD>(caps.size());
    ASSERT_EQ(devCaps(app, 0, 0x00020002, 0, reinterpret_cast<LINEDEVCAPS*>(caps.data())), 0);
    DWORD needed = reinterpret_cast<LINEDEVCAPS*>(caps.data())->dwNeededSize;
    EXPECT_GT(needed, caps.size());
    caps.assign(needed, 0);
    reinterpret_cast<LINEDEVCAPS*>(caps.data())->dwTotalSize = needed;
    ASSERT_EQ(devCaps(app, 0, 0x00020002, 0, reinterpret_cast<LINEDEVCAPS*>(caps.data())), 0);
    auto* dc = reinterpret_cast<LINEDEVCAPS*>(caps.data());
    EXPECT_STREQ(reinterpret_cast<char*>(caps.data() + dc->dwLineNameOffset), "Marlune SimVoice 56K");
    EXPECT_EQ(dc->dwMonitorDigitModes, static_cast<DWORD>(LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND));

    std::vector<BYTE> idBuf(64);
    auto* id = reinterpret_cast<VARSTRING*>(idBuf.data());
    id->dwTotalSize = 64;
    for (const char* cls : {"wave/in", "WAVE/OUT"}) {
        ASSERT_EQ(getId(line.hLine, 0, 0, LINECALLSELECT_LINE, id, cls), 0) << cls;
        DWORD value;
        std::memcpy(&value, idBuf.data() + id->dwStringOffset, sizeof value);
        EXPECT_EQ(value, sim::kLineDevice) << cls;
    }
    EXPECT_EQ(getId(line.hLine, 0, 0, LINECALLSELECT_LINE, id, "comm/datamodem"),
              static_cast<LONG>(LINEERR_INVALDEVICECLASS));
    EXPECT_EQ(getId(line.hLine, 0, 0x1234, LINECALLSELECT_CALL, id, "wave/in"),
              static_cast<LONG>(LINEERR_INVALCALLHANDLE));
    EXPECT_EQ(monitor(0x1234, LINEDIGITMODE_DTMF), static_cast<LONG>(LINEERR_INVALCALLHANDLE));

    std::vector<BYTE> out(256);
    reinterpret_cast<LINETRANSLATEOUTPUT*>(out.data())->dwTotalSize = 256;
    auto* to = reinterpret_cast<LINETRANSLATEOUTPUT*>(out.data());
    ASSERT_EQ(translate(app, 0, 0x00020002, "+1 (206) 5551234", 0, 0, to), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(out.data() + to->dwDialableStringOffset), "12065551234");
    EXPECT_EQ(translate(app, 0, 0x00020002, "55%1", 0, 0, to), static_cast<LONG>(LINEERR_INVALADDRESS));

    // Closing the line during a call puts the modem on hook.
    Connect();
    EXPECT_EQ(ctrl->CloseLine(), 0);
    Run(0);
    EXPECT_FALSE(caller->modem.OffHook());
    EXPECT_EQ(ctrl->CloseLine(), static_cast<LONG>(LINEERR_INVALLINEHANDLE));
}

// DLE ETX from the modem ends the received data on its own: the caller
// hanging up during a recording leaves no stream for the library to end.
TEST_F(AtProviderTest, AHangUpDuringARecordingEndsTheDataWithDleEtxAndTheModemTakesCommandsAfter) {
    for (bool duplex : {false, true}) {
        SCOPED_TRACE(duplex);
        modemsim::Options o;
        o.fullDuplex = duplex;
        Start(o);
        OpenLine();
        Connect();
        caller->Say(MuLawRamp(24000, 4));
        ASSERT_EQ(ctrl->RecordWav(0, "cut.wav", 2), 0);
        if (duplex) {
            WritePcmWav("g.wav", MuLawRamp(16000, 6));
            ASSERT_EQ(ctrl->PlayWav("g.wav", 0), 0);
        }
        Run(1);
        caller->modem.HangUp(HangUp::NoCarrier);  // DLE ETX, then NO CARRIER
        Run(0);
        EXPECT_EQ(sink.count(EVENT_DisConnected), 1);
        Run(2);
        EXPECT_EQ(sink.count(EVENT_EndRecord), 1);
        std::string saved = testenv::ReadFile("cut.wav");
        ASSERT_EQ(saved.size(), 46u + 2 * 8000);
        EXPECT_NE(static_cast<unsigned char>(saved[46 + 4000]), 0xFFu);  // the caller before the hang-up
        EXPECT_EQ(static_cast<unsigned char>(saved[46 + 12000]), 0xFFu);  // silence after it
        Run(4);
        EXPECT_FALSE(Logged("线路关闭"));  // nothing was left unanswered
        EXPECT_EQ(sink.count(EVENT_LineIsFree), 1);
        EXPECT_FALSE(caller->modem.OffHook());
        // No DLE ! or DLE ^ went to a modem in command state.
        for (auto& c : Sent()) EXPECT_EQ(c.find('\x10'), std::string::npos) << c;
        TearDown();
        SetUp();
        sink.events.clear();
    }
}
