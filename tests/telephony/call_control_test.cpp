// Call control: answering, hanging up, dialling and the canonical form of
// North-American numbers.
#include "telephony/line.h"

#include <cstring>

#include "telephony_fixture.h"

namespace {

class CallControlTest : public TelephonyTest {
protected:
    void SetUp() override {
        TelephonyTest::SetUp();
        vmodem_SetOutgoing(0, VMODEM_OUTGOING_MANUAL, 0);
        OpenDefaultLine();
    }

    // The canonical address built for `number`, or "=" + number when none.
    std::string Canonical(const char* number) {
        char out[kNumberBufferSize];
        std::memset(out, '=', sizeof out);
        int r = module->line.BuildCanonicalNumber(number, out);
        if (r == kCanonicalWritten) return out;
        EXPECT_EQ(out[0], '=');  // untouched
        return r == kNotCanonical ? "=" + std::string(number) : "too long";
    }

    static DWORD At(const std::vector<BYTE>& b, size_t offset) {
        DWORD v;
        std::memcpy(&v, b.data() + offset, sizeof v);
        return v;
    }
};

TEST_F(CallControlTest, CanonicalNumberExamples) {
    EXPECT_EQ(Canonical("555-1234"), "+1 (425) 5551234");
    EXPECT_EQ(Canonical("555 1234|99"), "+1 (425) 5551234|99");
    EXPECT_EQ(Canonical("(206) 555-1234"), "+1 (206) 5551234");
    EXPECT_EQ(Canonical("1-206-555-1234"), "=1-206-555-1234");
    EXPECT_EQ(Canonical("0123456"), "=0123456");
}

TEST_F(CallControlTest, CanonicalNumberRules) {
    EXPECT_EQ(Canonical("(206) 155-1234"), "=(206) 155-1234");  // fourth digit 1
    EXPECT_EQ(Canonical("(106) 555-1234"), "=(106) 555-1234");
    EXPECT_EQ(Canonical("(206) 555-1234|7"), "+1 (206) 5551234");  // no sub-address for ten digits
    EXPECT_EQ(Canonical("5551234*"), "=5551234*");
    EXPECT_EQ(Canonical("55512345"), "=55512345");
    EXPECT_EQ(Canonical("+1 (425) 5551234"), "=+1 (425) 5551234");  // already canonical
    EXPECT_TRUE(sim::MessageBoxes().empty());
    // A number the service cannot translate at all.
    EXPECT_EQ(Canonical("5551234x"), "=5551234x");
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);

    // Seven digits take the city code of the current location.
    vmodem_AddLocation(7, "Seattle", 1, "206");
    vmodem_SetCurrentLocation(7);
    EXPECT_EQ(Canonical("555-1234"), "+1 (206) 5551234");
    // Outside country 1 nothing is canonical.
    vmodem_AddLocation(86, "Beijing", 86, "10");
    vmodem_SetCurrentLocation(86);
    EXPECT_EQ(Canonical("555-1234"), "=555-1234");
    EXPECT_EQ(Canonical("(206) 555-1234"), "=(206) 555-1234");
}

TEST_F(CallControlTest, CanonicalNumberWithoutACurrentLocation) {
    vmodem_ClearLocations();
    vmodem_AddLocation(3, "Elsewhere", 1, "303");
    EXPECT_EQ(Canonical("555-1234"), "=555-1234");
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(CallControlTest, CanonicalNumberMessageBoxes) {
    vmodem_Refuse("lineGetTranslateCapsA", static_cast<LONG>(LINEERR_NOMEM));
    EXPECT_EQ(Canonical("555-1234"), "=555-1234");
    vmodem_Refuse("lineGetTranslateCapsA", 0);
    vmodem_Refuse("lineTranslateAddress", static_cast<LONG>(LINEERR_INVALADDRESS));
    EXPECT_EQ(Canonical("555-1234"), "=555-1234");
    ASSERT_EQ(sim::MessageBoxes().size(), 2u);
    EXPECT_EQ(sim::MessageBoxes()[0].text, "err");
    EXPECT_EQ(sim::MessageBoxes()[0].caption, "2");
    EXPECT_EQ(sim::MessageBoxes()[1].caption, "lineTranslateAddress");
    EXPECT_EQ(sim::MessageBoxes()[1].owner, nullptr);
    EXPECT_EQ(sim::MessageBoxes()[1].type, static_cast<UINT>(MB_OK));
}

TEST_F(CallControlTest, CanonicalNumberIgnoresAHostileLocationList) {
    for (int kind : {VMODEM_HOSTILE_OFFSET, VMODEM_HOSTILE_SIZE, VMODEM_HOSTILE_WRAP, VMODEM_HOSTILE_USED}) {
        SCOPED_TRACE(kind);
        vmodem_SetHostile(kind);
        std::string c = Canonical("555-1234");
        EXPECT_TRUE(c == "=555-1234") << c;
    }
}

TEST_F(CallControlTest, CallOutDialsTheTranslatedCanonicalAddress) {
    MarkLog();
    EXPECT_EQ(ctrl->CallOut(0, "555-1234"), 0);
    EXPECT_EQ(NewLog(), (Texts{"呼叫内存开辟ok", "呼叫内存开辟ok", "出中继 ok"}));  // grown once
    EXPECT_STREQ(vmodem_LastDialed(), "5551234");

    vmodem_RejectOutgoing(0);  // no answer: the modem clears the call
    Pump();
    EXPECT_EQ(sink.count(EVENT_DisConnected), 1);
    EXPECT_EQ(sink.count(EVENT_LineIsFree), 1);
    EXPECT_EQ(ctrl->CallOut(0, "(206) 555-1234"), 0);
    EXPECT_STREQ(vmodem_LastDialed(), "12065551234");
}

TEST_F(CallControlTest, CallOutDialsOtherNumbersUnchanged) {
    vmodem_AddLocation(86, "Beijing", 86, "10");
    vmodem_SetCurrentLocation(86);
    EXPECT_EQ(ctrl->CallOut(0, "5551234"), 0);
    EXPECT_STREQ(vmodem_LastDialed(), "5551234");
    vmodem_RejectOutgoing(0);
    vmodem_SetCurrentLocation(1);
    EXPECT_EQ(ctrl->CallOut(0, "2061551234"), 0);
    EXPECT_STREQ(vmodem_LastDialed(), "2061551234");
}

TEST_F(CallControlTest, CallParametersLayout) {
    ASSERT_EQ(ctrl->CallOut(0, "(206) 555-1234"), 0);
    std::vector<BYTE> p(vmodem_LastCallParams(nullptr, 0));
    vmodem_LastCallParams(p.data(), p.size());
    const std::string displayable = "+1 (206) 5551234";
    ASSERT_EQ(p.size(), 176u + 2u + displayable.size() + 1u);
    EXPECT_EQ(At(p, offsetof(LINECALLPARAMS, dwTotalSize)), p.size());
    EXPECT_EQ(At(p, offsetof(LINECALLPARAMS, dwBearerMode)), static_cast<DWORD>(LINEBEARERMODE_VOICE));
    EXPECT_EQ(At(p, offsetof(LINECALLPARAMS, dwMediaMode)), static_cast<DWORD>(LINEMEDIAMODE_INTERACTIVEVOICE));
    EXPECT_EQ(At(p, offsetof(LINECALLPARAMS, dwCallParamFlags)), static_cast<DWORD>(LINECALLPARAMFLAGS_IDLE));
    EXPECT_EQ(At(p, offsetof(LINECALLPARAMS, dwAddressMode)), static_cast<DWORD>(LINEADDRESSMODE_ADDRESSID));
    EXPECT_EQ(At(p, offsetof(LINECALLPARAMS, dwAddressID)), 7788u);
    EXPECT_EQ(At(p, offsetof(LINECALLPARAMS, dwCalledPartySize)), 2u);
    EXPECT_EQ(At(p, offsetof(LINECALLPARAMS, dwCalledPartyOffset)), 176u);
    EXPECT_EQ(At(p, offsetof(LINECALLPARAMS, dwDisplayableAddressSize)), displayable.size() + 1);
    EXPECT_EQ(At(p, offsetof(LINECALLPARAMS, dwDisplayableAddressOffset)), 178u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&p[176]), 2), std::string("0\0", 2));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&p[178])), displayable);
    // Every other field of the fixed part is zero.
    const size_t set[] = {offsetof(LINECALLPARAMS, dwTotalSize),      offsetof(LINECALLPARAMS, dwBearerMode),
                          offsetof(LINECALLPARAMS, dwMediaMode),      offsetof(LINECALLPARAMS, dwCallParamFlags),
                          offsetof(LINECALLPARAMS, dwAddressMode),    offsetof(LINECALLPARAMS, dwAddressID),
                          offsetof(LINECALLPARAMS, dwCalledPartySize), offsetof(LINECALLPARAMS, dwCalledPartyOffset),
                          offsetof(LINECALLPARAMS, dwDisplayableAddressSize),
                          offsetof(LINECALLPARAMS, dwDisplayableAddressOffset)};
    for (size_t off = 0; off < 176; off += 4) {
        if (std::find(std::begin(set), std::end(set), off) != std::end(set)) continue;
        EXPECT_EQ(At(p, off), 0u) << "offset " << off;
    }
}

TEST_F(CallControlTest, CallOutReachesIsConnectWhenTheFarEndAnswers) {
    vmodem_SetOutgoing(0, VMODEM_OUTGOING_ANSWER, 3000);
    ASSERT_EQ(ctrl->CallOut(0, "8008"), 0);
    sim::RunFor(2 * sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_IsConnect), 0);
    sim::RunFor(2 * sim::kSecond);
    HCALL call = vmodem_CurrentCall(0);
    EXPECT_EQ(LongArgs(EVENT_IsConnect), std::vector<LONG>{static_cast<LONG>(call)});
    EXPECT_EQ(module->line.hCall, call);
    EXPECT_EQ(ctrl->GetOutID(0), 1);
}

TEST_F(CallControlTest, CallOutFailures) {
    MarkLog();
    EXPECT_EQ(ctrl->CallOut(0, "call me"), -2);
    EXPECT_EQ(NewLog(), (Texts{"呼叫内存开辟ok", "lineTranslateAddress err"}));
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].caption, "lineTranslateAddress");

    vmodem_Refuse("lineMakeCallA", static_cast<LONG>(LINEERR_CALLUNAVAIL));
    MarkLog();
    EXPECT_EQ(ctrl->CallOut(0, "8008"), -5);
    EXPECT_EQ(NewLog(), (Texts{"呼叫内存开辟ok", "呼叫内存开辟ok", "出中继 err"}));
    vmodem_Refuse("lineMakeCallA", 0);

    vmodem_SetHostile(VMODEM_HOSTILE_NEEDED);
    MarkLog();
    EXPECT_EQ(ctrl->CallOut(0, "8008"), -1);
    EXPECT_EQ(NewLog(), (Texts{"呼叫内存开辟ok", "呼叫内存开辟失败"}));
    EXPECT_EQ(vmodem_CallCount("lineMakeCallA"), 1);
}

TEST_F(CallControlTest, NumbersTooLongAreRefusedBeforeDialling) {
    MarkLog();
    EXPECT_EQ(ctrl->CallOut(0, std::string(80, '5')), -2);
    EXPECT_EQ(ctrl->CallOut(0, std::string(300, '5')), -2);
    EXPECT_EQ(NewLog(), (Texts{"number too long", "number too long"}));
    EXPECT_EQ(vmodem_CallCount("lineTranslateAddress"), 0);

    // The canonical form of this one would need 87 characters.
    std::string withSub = "555-1234|" + std::string(70, '9');
    ASSERT_EQ(withSub.size(), 79u);
    MarkLog();
    EXPECT_EQ(ctrl->CallOut(0, withSub), -2);
    EXPECT_EQ(NewLog(), (Texts{"呼叫内存开辟ok", "number too long"}));
    EXPECT_EQ(vmodem_CallCount("lineMakeCallA"), 0);

    // 79 characters are accepted.
    EXPECT_EQ(ctrl->CallOut(0, std::string(79, '5')), 0);
    EXPECT_EQ(vmodem_LastDialed(), std::string(79, '5'));
}

TEST_F(CallControlTest, AnswerTpWithoutOrWithAStaleCall) {
    MarkLog();
    EXPECT_EQ(ctrl->AnswerTp(), -1);
    EXPECT_EQ(NewLog(), (Texts{"Begin 接收呼叫", "接收呼叫 bad"}));

    HCALL call = ConnectIncoming();
    vmodem_HangUp(0);
    Pump();
    ctrl->HandUp();
    Pump();
    MarkLog();
    // The ended call's handle is still stored; the service refuses it.
    EXPECT_EQ(module->line.hCall, call);
    EXPECT_EQ(ctrl->AnswerTp(), -1);
    EXPECT_EQ(NewLog(), (Texts{"Begin 接收呼叫", "接收呼叫 bad"}));
}

TEST_F(CallControlTest, HandUpDropsClearsAndStopsMonitoring) {
    MarkLog();
    module->line.DtmfDigits = "12";
    EXPECT_EQ(ctrl->HandUp(), 0);
    EXPECT_EQ(ctrl->GetDtmf(), "");
    EXPECT_EQ(NewLog(), Texts{});

    HCALL call = ConnectIncoming();
    ASSERT_EQ(ctrl->BeginMonitorDtmf(0), 0);
    MarkLog();
    EXPECT_EQ(ctrl->HandUp(), 0);
    EXPECT_EQ(NewLog(), Texts{"挂机后取消监视DTMF"});
    EXPECT_EQ(vmodem_MonitorModes(call), 0u);
    Pump();
    EXPECT_EQ(LongArgs(EVENT_LineIsFree), std::vector<LONG>{static_cast<LONG>(call)});
    EXPECT_EQ(module->line.hCall, call);
}

TEST_F(CallControlTest, GetTpnoKeepsTheNumber) {
    EXPECT_EQ(ctrl->GetTPNO(), "");
    vmodem_Offer(0, "010-88886666");
    vmodem_Ring(0);
    Pump();
    EXPECT_EQ(ctrl->GetTPNO(), "010-88886666");
    EXPECT_EQ(ctrl->GetTPNO(), "010-88886666");
}

}  // namespace
