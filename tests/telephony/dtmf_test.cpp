// DTMF collection: monitoring the current call, DtmfIn per key and the
// collected text.
#include "telephony/tapi_binding.h"
#include "telephony_fixture.h"

namespace {

class DtmfTest : public TelephonyTest {
protected:
    void SetUp() override {
        TelephonyTest::SetUp();
        OpenDefaultLine();
    }
    std::vector<std::string> KeyArgs() const {
        std::vector<std::string> r;
        for (auto& args : Events(EVENT_DtmfIn)) r.push_back(ToAnsi(args.at(1).bstrVal));
        return r;
    }
};

TEST_F(DtmfTest, KeysAreReportedOneByOneAndCollected) {
    HCALL call = ConnectIncoming();
    MarkLog();
    ASSERT_EQ(ctrl->BeginMonitorDtmf(0), 0);
    EXPECT_EQ(NewLog(), Texts{"监视dtmf ok"});
    EXPECT_EQ(vmodem_MonitorModes(call), static_cast<uint32_t>(LINEDIGITMODE_DTMF));
    vmodem_PressKeys(0, "12#");
    Pump();
    EXPECT_EQ(KeyArgs(), (std::vector<std::string>{"1", "2", "#"}));
    EXPECT_EQ(LongArgs(EVENT_DtmfIn), (std::vector<LONG>(3, static_cast<LONG>(call))));
    EXPECT_EQ(ctrl->GetDtmf(), "12#");
    EXPECT_EQ(ctrl->GetDtmf(), "12#");
    EXPECT_EQ(ctrl->ClearDTMF(0), 0);
    EXPECT_EQ(ctrl->GetDtmf(), "");
}

TEST_F(DtmfTest, EachKeyHasItsLogText) {
    ConnectIncoming();
    ASSERT_EQ(ctrl->BeginMonitorDtmf(0), 0);
    MarkLog();
    vmodem_PressKeys(0, "0123456789*#");
    Pump();
    Texts expected;
    for (const char* t : {"收到按钮 : 0 ", "收到按钮 : 1 ", "收到按钮 : 2 ", "收到按钮 : 3", "收到按钮 : 4",
                          "收到按钮 : 5", "收到按钮 : 6", "收到按钮 : 7", "收到按钮 : 8", "收到按钮 : 9",
                          "收到按钮 : *", "收到按钮 : #"}) {
        expected.push_back("取得线路消息......");
        expected.push_back(t);
    }
    EXPECT_EQ(NewLog(), expected);
    EXPECT_EQ(ctrl->GetDtmf(), "0123456789*#");
}

TEST_F(DtmfTest, KeysAToDAreDropped) {
    ConnectIncoming();
    ASSERT_EQ(ctrl->BeginMonitorDtmf(0), 0);
    MarkLog();
    vmodem_PressKeys(0, "A");
    Pump();
    EXPECT_EQ(NewLog(), Texts{"取得线路消息......"});
    EXPECT_EQ(sink.count(EVENT_DtmfIn), 0);
    EXPECT_EQ(ctrl->GetDtmf(), "");
}

TEST_F(DtmfTest, OnlyMonitoredKeysArrive) {
    ConnectIncoming();
    vmodem_PressKeys(0, "5");
    vmodem_PulseDigits(0, "7");
    Pump();
    ASSERT_EQ(ctrl->BeginMonitorDtmf(0), 0);
    vmodem_PulseDigits(0, "7");  // pulse digits are not asked for
    vmodem_PressKeys(0, "8");
    Pump();
    MarkLog();
    ASSERT_EQ(ctrl->CancelMonitor(0), 0);
    EXPECT_EQ(NewLog(), Texts{"取消监视dtmf ok"});
    vmodem_PressKeys(0, "9");
    Pump();
    EXPECT_EQ(ctrl->GetDtmf(), "8");
}

TEST_F(DtmfTest, MonitoringWithoutACall) {
    MarkLog();
    EXPECT_EQ(ctrl->BeginMonitorDtmf(0), -1);
    EXPECT_EQ(ctrl->CancelMonitor(0), -1);
    EXPECT_EQ(NewLog(), (Texts{"监视dtmf bad", "取消监视dtmf bad"}));
}

TEST_F(DtmfTest, DigitsCarryOverToTheNextCallUntilCleared) {
    ConnectIncoming();
    ASSERT_EQ(ctrl->BeginMonitorDtmf(0), 0);
    vmodem_PressKeys(0, "4");
    vmodem_HangUp(0);
    Pump();
    // The host ends the call without HandUp's clean-up of the digits.
    ASSERT_GE(module->line.tapi.lineDrop(module->line.hCall, nullptr, 0), 0);
    Pump();
    HCALL second = vmodem_Offer(0, nullptr);
    Pump();
    ASSERT_NE(second, 0u);
    EXPECT_EQ(ctrl->GetDtmf(), "4");
    ASSERT_EQ(ctrl->AnswerTp(), 0);
    Pump();
    vmodem_PressKeys(0, "6");  // a new call is not watched until asked
    Pump();
    EXPECT_EQ(ctrl->GetDtmf(), "4");
    ASSERT_EQ(ctrl->BeginMonitorDtmf(0), 0);
    vmodem_PressKeys(0, "6");
    Pump();
    EXPECT_EQ(ctrl->GetDtmf(), "46");
}

// A DtmfIn handler sees the key already collected.
class ReadingSink : public IEventSink {
public:
    explicit ReadingSink(CMarluneCtrl& c) : ctrl(c) {}
    HRESULT Invoke(DISPID dispid, const std::vector<Variant>&) override {
        if (dispid == EVENT_DtmfIn) seen.push_back(ctrl.GetDtmf());
        return S_OK;
    }
    CMarluneCtrl& ctrl;
    std::vector<std::string> seen;
};

TEST_F(DtmfTest, HandlersSeeTheKeyAlreadyAppended) {
    ReadingSink reader(*ctrl);
    ctrl->Advise(&reader);
    ConnectIncoming();
    ASSERT_EQ(ctrl->BeginMonitorDtmf(0), 0);
    vmodem_PressKeys(0, "3*");
    Pump();
    EXPECT_EQ(reader.seen, (std::vector<std::string>{"3", "3*"}));
}

}  // namespace
