// The line callback: log entries, LineState and events for each
// notification, delivered from the message loop.
#include "telephony/line.h"

#include "telephony_fixture.h"

namespace {

class LineEventsTest : public TelephonyTest {};

TEST_F(LineEventsTest, TypicalIncomingCallEndToEnd) {
    MarkLog();
    ASSERT_EQ(ctrl->InitLine(0), "Marlune Voice Modem");
    ASSERT_EQ(ctrl->OpenLine(0), 0);
    EXPECT_EQ(NewLog(), (Texts{"线路初始化成功!", "Version ok", "线路打开成功", "消息设置成功"}));

    HCALL call = vmodem_Offer(0, "13800138000");
    ASSERT_NE(call, 0u);
    EXPECT_EQ(module->line.hCall, 0u);  // nothing arrives outside the message loop
    Pump();
    EXPECT_EQ(module->line.hCall, call);

    vmodem_Ring(0);
    sim::RunFor(4 * sim::kSecond);
    vmodem_Ring(0);
    sim::RunFor(4 * sim::kSecond);
    vmodem_Ring(0);
    Pump();
    EXPECT_EQ(LongArgs(EVENT_Ring), (std::vector<LONG>{1, 2, 3}));
    EXPECT_EQ(sink.count(EVENT_CallIDIn), 1);
    EXPECT_EQ(ctrl->GetTPNO(), "13800138000");

    ASSERT_EQ(ctrl->AnswerTp(), 0);
    EXPECT_EQ(sink.count(EVENT_IsConnect), 0);
    Pump();
    EXPECT_EQ(LongArgs(EVENT_IsConnect), std::vector<LONG>{static_cast<LONG>(call)});

    ASSERT_EQ(ctrl->BeginMonitorDtmf(0), 0);
    vmodem_PressKeys(0, "1#");
    Pump();
    ASSERT_EQ(Events(EVENT_DtmfIn).size(), 2u);
    EXPECT_EQ(ctrl->GetDtmf(), "1#");

    vmodem_HangUp(0);
    Pump();
    EXPECT_EQ(LongArgs(EVENT_DisConnected), std::vector<LONG>{static_cast<LONG>(call)});
    EXPECT_EQ(sink.count(EVENT_LineIsFree), 0);
    EXPECT_EQ(ctrl->HandUp(), 0);
    Pump();
    EXPECT_EQ(LongArgs(EVENT_LineIsFree), std::vector<LONG>{static_cast<LONG>(call)});
    EXPECT_EQ(vmodem_CallState(call), static_cast<uint32_t>(LINECALLSTATE_IDLE));

    EXPECT_EQ(sink.dispids(), (std::vector<DISPID>{EVENT_Ring, EVENT_CallIDIn, EVENT_Ring, EVENT_Ring,
                                                   EVENT_IsConnect, EVENT_DtmfIn, EVENT_DtmfIn, EVENT_DisConnected,
                                                   EVENT_LineIsFree}));
}

TEST_F(LineEventsTest, RingAndCallerIdLogEntries) {
    OpenDefaultLine();
    vmodem_Offer(0, "5551234");
    MarkLog();
    Pump();
    EXPECT_EQ(NewLog(), (Texts{"取得线路消息......", "呼叫改变", "有电话拨入"}));
    MarkLog();
    vmodem_Ring(0);
    Pump();
    EXPECT_EQ(NewLog(), (Texts{"取得线路消息......", "线路设备消息....", "进入ring事件处理", "完成ring事件处理",
                               "有震铃", "取得线路消息......", "收到呼叫信息(主叫电话号码等)",
                               "判断是主叫号码,取...", "5551234"}));
}

TEST_F(LineEventsTest, RingCountStartsAgainWithTheNextCall) {
    OpenDefaultLine();
    vmodem_Offer(0, nullptr);
    Pump();
    vmodem_Ring(0);
    vmodem_Ring(0);
    vmodem_HangUp(0);
    Pump();
    ctrl->HandUp();
    Pump();
    vmodem_Offer(0, nullptr);
    Pump();
    vmodem_Ring(0);
    Pump();
    EXPECT_EQ(LongArgs(EVENT_Ring), (std::vector<LONG>{1, 2, 1}));
    EXPECT_EQ(sink.count(EVENT_CallIDIn), 0);  // no caller id, no call information
    EXPECT_EQ(ctrl->GetTPNO(), "");
}

TEST_F(LineEventsTest, CallerIdChangeTogetherWithOtherBitsIsNotRead) {
    OpenDefaultLine();
    HCALL call = vmodem_Offer(0, "5551234");
    Pump();
    MarkLog();
    vmodem_Notify(0, call, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_ORIGIN, 0, 0);
    Pump();
    EXPECT_EQ(NewLog(), (Texts{"取得线路消息......", "收到呼叫信息(主叫电话号码等)"}));
    EXPECT_EQ(sink.count(EVENT_CallIDIn), 0);
    EXPECT_EQ(vmodem_CallCount("lineGetCallInfoA"), 0);
}

TEST_F(LineEventsTest, CallerIdBeforeAnyCallIsRefused) {
    OpenDefaultLine();
    MarkLog();
    vmodem_Notify(0, 0, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
    Pump();
    EXPECT_EQ(NewLog(), (Texts{"取得线路消息......", "收到呼叫信息(主叫电话号码等)", "判断是主叫号码,取...",
                               "取主叫号码失败"}));
    EXPECT_EQ(sink.count(EVENT_CallIDIn), 0);
}

TEST_F(LineEventsTest, CallerIdOutsideTheRecordReadsAsEmpty) {
    OpenDefaultLine();
    vmodem_Offer(0, "5551234");
    Pump();
    for (int kind : {VMODEM_HOSTILE_OFFSET, VMODEM_HOSTILE_SIZE, VMODEM_HOSTILE_WRAP, VMODEM_HOSTILE_USED}) {
        SCOPED_TRACE(kind);
        module->line.CallerNumber = "stale";
        vmodem_SetHostile(kind);
        vmodem_SendCallerId(0, "5551234");
        Pump();
        EXPECT_EQ(ctrl->GetTPNO(), "");
    }
}

TEST_F(LineEventsTest, OtherMessagesLogTheirTexts) {
    OpenDefaultLine();
    HLINE line = module->line.hLine;
    struct Case {
        DWORD message;
        Texts log;
    } cases[] = {
        {LINE_CLOSE, {"取得线路消息......", "线路关闭"}},
        {LINE_REPLY, {"取得线路消息......", "异步完成调用"}},
        {LINE_REQUEST, {"取得线路消息......", "线路收到新的请求"}},
        {LINE_CREATE, {"取得线路消息......", "线路创建"}},
        {LINE_ADDRESSSTATE, {"取得线路消息......"}},
        {LINE_GENERATE, {"取得线路消息......"}},
        {LINE_MONITORMEDIA, {"取得线路消息......"}},
        {77, {"取得线路消息......"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        MarkLog();
        vmodem_Notify(0, line, c.message, 0, 0, 0);
        Pump();
        EXPECT_EQ(NewLog(), c.log);
    }
    EXPECT_TRUE(sink.events.empty());
    EXPECT_EQ(module->line.hLine, line);
}

TEST_F(LineEventsTest, LineDeviceStates) {
    OpenDefaultLine();
    HLINE line = module->line.hLine;
    MarkLog();
    vmodem_Notify(0, line, LINE_LINEDEVSTATE, LINEDEVSTATE_DISCONNECTED, 0, 0);
    vmodem_Notify(0, line, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING | LINEDEVSTATE_OTHER, 0, 0);
    Pump();
    EXPECT_EQ(NewLog(), (Texts{"取得线路消息......", "线路设备消息....", "电话已挂断", "取得线路消息......",
                               "线路设备消息...."}));
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(LineEventsTest, AModemReportingBothConnectionsFiresIsConnectTwice) {
    vmodem_SetReportsLineConnect(0, 1);
    OpenDefaultLine();
    HCALL call = ConnectIncoming();
    EXPECT_EQ(LongArgs(EVENT_IsConnect),
              (std::vector<LONG>{static_cast<LONG>(call), static_cast<LONG>(module->line.hLine)}));
    EXPECT_EQ(module->line.hCall, call);
}

TEST_F(LineEventsTest, OutgoingCallStatesAndBusy) {
    vmodem_SetOutgoing(0, VMODEM_OUTGOING_BUSY, 0);
    OpenDefaultLine();
    MarkLog();
    ASSERT_EQ(ctrl->CallOut(0, "8008"), 0);
    Pump();
    auto log = NewLog();
    Texts states;
    for (auto& t : log)
        if (t == "完成拨号准备" || t == "正在拨号" || t == "收到震铃" || t == "线路忙" || t == "线路已断开" ||
            t == "异步完成调用")
            states.push_back(t);
    EXPECT_EQ(states, (Texts{"异步完成调用", "完成拨号准备", "正在拨号", "收到震铃", "线路忙", "线路已断开"}));
    EXPECT_EQ(sink.count(EVENT_DisConnected), 1);
    EXPECT_EQ(sink.count(EVENT_IsConnect), 0);
    EXPECT_EQ(module->line.hCall, 0u);  // an outgoing call is stored only once connected
}

TEST_F(LineEventsTest, WithoutAnActiveControlTheLogIsWrittenAndNothingFires) {
    OpenDefaultLine();
    module->core.ActiveControl = nullptr;
    vmodem_Offer(0, "5551234");
    vmodem_Ring(0);
    MarkLog();
    Pump();
    EXPECT_EQ(NewLog().size(), 12u);
    EXPECT_TRUE(sink.events.empty());
    EXPECT_EQ(module->line.RingCount, 1);
    EXPECT_EQ(module->line.CallerNumber, "5551234");
}

TEST_F(LineEventsTest, UnknownCallStatesChangeNothing) {
    MarkLog();
    module->line.OnCallState(0x4444, LINECALLSTATE_PROCEEDING, 0);
    module->line.OnCallState(0x4444, LINECALLSTATE_ACCEPTED, 0);
    EXPECT_EQ(NewLog(), Texts{"我方已接电话"});
    EXPECT_EQ(module->line.hCall, 0u);
    EXPECT_TRUE(sink.events.empty());
}

}  // namespace
