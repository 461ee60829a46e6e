// Line set-up: InitLine, OpenLine, CloseLine, GetOutID and the device-id
// lookup, with every failure text of their tables.
#include "telephony/tapi_binding.h"
#include "telephony_fixture.h"

namespace {

class LineSetupTest : public TelephonyTest {};

struct Refusal {
    DWORD code;
    const char* text;  // null: not in the table, nothing logged
};

TEST_F(LineSetupTest, InitLineRegistersAndReturnsTheLineName) {
    MarkLog();
    EXPECT_EQ(ctrl->InitLine(0), "Marlune Voice Modem");
    EXPECT_EQ(NewLog(), (Texts{"线路初始化成功!", "Version ok"}));
    EXPECT_NE(module->line.hLineApp, 0u);

    // A second registration replaces the handle.
    HLINEAPP first = module->line.hLineApp;
    ctrl->InitLine(0);
    EXPECT_NE(module->line.hLineApp, first);
}

TEST_F(LineSetupTest, InitLineFailureTexts) {
    const Refusal table[] = {
        {LINEERR_INVALAPPNAME, "init err1"}, {LINEERR_OPERATIONFAILED, "init err2"},
        {LINEERR_INIFILECORRUPT, "init err3"}, {LINEERR_INVALPOINTER, "init err4"},
        {LINEERR_REINIT, "init err5"},       {LINEERR_NOMEM, "init err6"},
        {LINEERR_INVALPARAM, "init err7"},   {LINEERR_NODRIVER, nullptr},
    };
    for (const auto& r : table) {
        SCOPED_TRACE(r.code);
        vmodem_Refuse("lineInitializeExA", static_cast<LONG>(r.code));
        module->line.hLineApp = 0;
        MarkLog();
        // Negotiation and capabilities then fail on the empty handle.
        EXPECT_EQ(ctrl->InitLine(0), "-1");
        EXPECT_EQ(NewLog(), r.text ? Texts{r.text} : Texts{});
    }
}

TEST_F(LineSetupTest, InitLineStillReturnsTheNameWhenOnlyRegistrationFailedAgain) {
    ASSERT_EQ(ctrl->InitLine(0), "Marlune Voice Modem");
    vmodem_Refuse("lineInitializeExA", static_cast<LONG>(LINEERR_REINIT));
    MarkLog();
    // The earlier registration is still in LineState and serves the rest.
    EXPECT_EQ(ctrl->InitLine(0), "Marlune Voice Modem");
    EXPECT_EQ(NewLog(), (Texts{"init err5", "Version ok"}));
}

TEST_F(LineSetupTest, InitLineWithAnUnknownDeviceReturnsEmpty) {
    MarkLog();
    EXPECT_EQ(ctrl->InitLine(7), "");
    EXPECT_EQ(NewLog(), Texts{"线路初始化成功!"});
}

TEST_F(LineSetupTest, InitLineOnADeviceWithoutTapi14IsAVersionError) {
    MarkLog();
    EXPECT_EQ(ctrl->InitLine(1), "");
    EXPECT_EQ(NewLog(), (Texts{"线路初始化成功!", "Version err"}));
    EXPECT_EQ(vmodem_CallCount("lineGetDevCapsA"), 0);
}

TEST_F(LineSetupTest, InitLineGrowsTheCapabilitiesForALongName) {
    std::string name(3000, 'N');
    name.replace(0, 6, "Modem-");
    vmodem_SetDeviceName(0, name.c_str());
    EXPECT_EQ(ctrl->InitLine(0), name);
    EXPECT_EQ(vmodem_CallCount("lineGetDevCapsA"), 2);
}

TEST_F(LineSetupTest, InitLineReadsNoNameOutsideTheRecord) {
    for (int kind : {VMODEM_HOSTILE_OFFSET, VMODEM_HOSTILE_SIZE, VMODEM_HOSTILE_WRAP, VMODEM_HOSTILE_USED,
                     VMODEM_HOSTILE_NEEDED}) {
        SCOPED_TRACE(kind);
        vmodem_SetHostile(kind);
        EXPECT_EQ(ctrl->InitLine(0), "");
    }
}

TEST_F(LineSetupTest, OpenLineSucceedsAndAsksForTheLineStates) {
    ASSERT_EQ(ctrl->InitLine(0), "Marlune Voice Modem");
    MarkLog();
    EXPECT_EQ(ctrl->OpenLine(0), 0);
    EXPECT_EQ(NewLog(), (Texts{"线路打开成功", "消息设置成功"}));
    EXPECT_EQ(vmodem_OpenLine(0), module->line.hLine);
    EXPECT_EQ(vmodem_StatusMask(0), 0x010FFFFFu);
    EXPECT_EQ(module->line.dwAPIVersion, 0x00020001u);
}

TEST_F(LineSetupTest, OpenLineFailureTexts) {
    const Refusal table[] = {
        {LINEERR_ALLOCATED, "分配错误"},
        {LINEERR_BADDEVICEID, "设备错误"},
        {LINEERR_INCOMPATIBLEAPIVERSION, "版本错误"},
        {LINEERR_INCOMPATIBLEEXTVERSION, "LINEERR_INCOMPATIBLEEXTVERSION err"},
        {LINEERR_INVALAPPHANDLE, "LINEERR_INVALAPPHANDLE err"},
        {LINEERR_INVALMEDIAMODE, "设备模式错误:LINEERR_INVALMEDIAMODE err"},
        {LINEERR_LINEMAPPERFAILED, "线路错误"},
        {LINEERR_NODRIVER, "驱动错误"},
        {LINEERR_NOMEM, "LINEERR_NOMEM err"},
        {LINEERR_OPERATIONFAILED, "LINEERR_OPERATIONFAILED err"},
        {LINEERR_RESOURCEUNAVAIL, "LINEERR_RESOURCEUNAVAIL err"},
        {LINEERR_INVALPOINTER, nullptr},
    };
    ASSERT_EQ(ctrl->InitLine(0), "Marlune Voice Modem");
    for (const auto& r : table) {
        SCOPED_TRACE(r.code);
        vmodem_Refuse("lineOpenA", static_cast<LONG>(r.code));
        MarkLog();
        EXPECT_EQ(ctrl->OpenLine(0), -1);
        Texts expected;
        if (r.text) expected.push_back(r.text);
        expected.push_back("线路打开失败");
        EXPECT_EQ(NewLog(), expected);
    }
}

TEST_F(LineSetupTest, OpenLineBeforeInitLine) {
    MarkLog();
    EXPECT_EQ(ctrl->OpenLine(0), -1);
    EXPECT_EQ(NewLog(), (Texts{"线路句柄为空", "LINEERR_INVALAPPHANDLE err", "线路打开失败"}));
}

TEST_F(LineSetupTest, OpenLineWhoseStatusMessagesAreRefusedStaysOpen) {
    ASSERT_EQ(ctrl->InitLine(0), "Marlune Voice Modem");
    vmodem_Refuse("lineSetStatusMessages", static_cast<LONG>(LINEERR_INVALLINESTATE));
    MarkLog();
    EXPECT_EQ(ctrl->OpenLine(0), -2);
    EXPECT_EQ(NewLog(), (Texts{"线路打开成功", "消息设置成功失败"}));
    EXPECT_NE(vmodem_OpenLine(0), 0u);
}

TEST_F(LineSetupTest, CloseLineTwiceReportsTheInvalidHandle) {
    OpenDefaultLine();
    HLINE h = module->line.hLine;
    MarkLog();
    EXPECT_EQ(ctrl->CloseLine(), 0);
    EXPECT_EQ(ctrl->CloseLine(), static_cast<LONG>(LINEERR_INVALLINEHANDLE));
    EXPECT_EQ(NewLog(), Texts{});
    EXPECT_EQ(module->line.hLine, h);  // LineState keeps the old handle
}

TEST_F(LineSetupTest, GetOutIdForTheDefaultDeviceAndWithoutACall) {
    OpenDefaultLine();
    MarkLog();
    EXPECT_EQ(ctrl->GetOutID(1), -1);
    EXPECT_EQ(NewLog(), Texts{"取输出设备成功"});
    MarkLog();
    EXPECT_EQ(ctrl->GetOutID(0), -1);
    EXPECT_EQ(NewLog(), Texts{});
}

TEST_F(LineSetupTest, GetOutIdOfTheCallsDeviceIncludingZero) {
    OpenDefaultLine();
    ConnectIncoming();
    MarkLog();
    EXPECT_EQ(ctrl->GetOutID(0), 1);
    vmodem_SetWaveIds(0, 0, 3);
    EXPECT_EQ(ctrl->GetOutID(0), 0);
    EXPECT_EQ(NewLog(), (Texts{"取输出设备成功", "取输出设备成功"}));
    EXPECT_EQ(module->line.GetLineDeviceId(LINECALLSELECT_CALL, "wave/in"), 3);
    // The lookup asks once at 24 bytes and once at the needed size.
    EXPECT_EQ(vmodem_CallCount("lineGetIDA"), 6);
}

TEST_F(LineSetupTest, DeviceIdLookupFailsForUnknownClassesAndHostileRecords) {
    OpenDefaultLine();
    ConnectIncoming();
    EXPECT_EQ(module->line.GetLineDeviceId(LINECALLSELECT_CALL, "video/out"), -1);
    EXPECT_EQ(module->line.GetLineDeviceId(LINECALLSELECT_LINE, "wave/out"), 1);
    for (int kind : {VMODEM_HOSTILE_OFFSET, VMODEM_HOSTILE_SIZE, VMODEM_HOSTILE_WRAP, VMODEM_HOSTILE_USED,
                     VMODEM_HOSTILE_NEEDED}) {
        SCOPED_TRACE(kind);
        vmodem_SetHostile(kind);
        EXPECT_EQ(module->line.GetLineDeviceId(LINECALLSELECT_CALL, "wave/out"), -1);
    }
}

TEST_F(LineSetupTest, DeviceIdLookupFailsAfterTheCallEnded) {
    OpenDefaultLine();
    ConnectIncoming();
    ctrl->HandUp();
    Pump();
    EXPECT_EQ(module->line.GetLineDeviceId(LINECALLSELECT_CALL, "wave/out"), -1);
}

}  // namespace
