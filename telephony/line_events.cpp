// The line callback: every notification of the telephony service is logged,
// keeps LineState current and becomes an event of the active control.

#include "telephony/line.h"
#include "telephony/tapi_records.h"

namespace {

constexpr DWORD kCallInfoSize = 1000;

struct DigitText {
    char digit;
    const char* text;
};

// The blank after 0, 1 and 2 belongs to the texts.
constexpr DigitText kDigits[] = {
    {'0', "收到按钮 : 0 "}, {'1', "收到按钮 : 1 "}, {'2', "收到按钮 : 2 "}, {'3', "收到按钮 : 3"},
    {'4', "收到按钮 : 4"},  {'5', "收到按钮 : 5"},  {'6', "收到按钮 : 6"},  {'7', "收到按钮 : 7"},
    {'8', "收到按钮 : 8"},  {'9', "收到按钮 : 9"},  {'*', "收到按钮 : *"},  {'#', "收到按钮 : #"},
};

LONG AsIndex(DWORD handle) { return static_cast<LONG>(handle); }

}  // namespace

void Line::OnCallerId() {
    WriteLog("判断是主叫号码,取...");
    TapiRecord info;
    if (!info.Allocate(kCallInfoSize) || tapi.lineGetCallInfoA(hCall, info.as<LINECALLINFO>()) != 0) {
        WriteLog("取主叫号码失败");
        return;
    }
    const LINECALLINFO* ci = info.as<LINECALLINFO>();
    // No caller id (or one outside the record) reads as an empty number.
    CallerNumber = info.Text(ci->dwCallerIDOffset, ci->dwCallerIDSize);
    WriteLog(CallerNumber);
    core_.FireActive(EVENT_CallIDIn);
}

void Line::OnLineDevState(DWORD hDevice, DWORD state) {
    switch (state) {
        case LINEDEVSTATE_RINGING:
            ++RingCount;
            WriteLog("进入ring事件处理");
            core_.FireActive(EVENT_Ring, {Variant::Long(RingCount)});
            WriteLog("完成ring事件处理");
            WriteLog("有震铃");
            break;
        case LINEDEVSTATE_CONNECTED:
            WriteLog("电话已接通");
            core_.FireActive(EVENT_IsConnect, {Variant::Long(AsIndex(hDevice))});
            break;
        case LINEDEVSTATE_DISCONNECTED:
            WriteLog("电话已挂断");
            break;
        default:
            break;
    }
}

void Line::OnMonitorDigits(DWORD hDevice, DWORD_PTR code) {
    for (const auto& d : kDigits) {
        if (code == static_cast<DWORD_PTR>(static_cast<unsigned char>(d.digit))) {
            WriteLog(d.text);
            OnDigit(hDevice, std::string(1, d.digit));
            return;
        }
    }
}

namespace {
Line* gRegistered = nullptr;  // the line that registered with the service last
}  // namespace

Line::~Line() {
    if (gRegistered == this) gRegistered = nullptr;
}

void CALLBACK Line::LineCallback(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                 DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
    Line* line = dwInstance ? reinterpret_cast<Line*>(dwInstance) : gRegistered;
    if (line) line->OnMessage(hDevice, dwMessage, dwParam1, dwParam2, dwParam3);
}

void Line::RegisterForCallbacks() { gRegistered = this; }

void Line::OnMessage(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwParam1, DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
    WriteLog("取得线路消息......");
    switch (dwMessage) {
        case LINE_CALLINFO:
            WriteLog("收到呼叫信息(主叫电话号码等)");
            if (dwParam1 == LINECALLINFOSTATE_CALLERID) OnCallerId();
            break;
        case LINE_CALLSTATE:
            WriteLog("呼叫改变");
            OnCallState(hDevice, static_cast<DWORD>(dwParam1), static_cast<DWORD>(dwParam3));
            break;
        case LINE_CLOSE:
            WriteLog("线路关闭");
            break;
        case LINE_LINEDEVSTATE:
            WriteLog("线路设备消息....");
            OnLineDevState(hDevice, static_cast<DWORD>(dwParam1));
            break;
        case LINE_MONITORDIGITS:
            OnMonitorDigits(hDevice, dwParam1);
            break;
        case LINE_REPLY:
            WriteLog("异步完成调用");
            break;
        case LINE_REQUEST:
            WriteLog("线路收到新的请求");
            break;
        case LINE_CREATE:
            WriteLog("线路创建");
            break;
        default:
            break;
    }
}
void Line::OnCallState(DWORD hDevice, DWORD callState, DWORD privilege) {
    switch (callState) {
        case LINECALLSTATE_IDLE:
            WriteLog("呼叫空闲");
            core_.FireActive(EVENT_LineIsFree, {Variant::Long(AsIndex(hDevice))});
            break;
        case LINECALLSTATE_OFFERING:
            WriteLog("有电话拨入");
            RingCount = 0;
            hCall = hDevice;
            break;
        case LINECALLSTATE_ACCEPTED:
            WriteLog("我方已接电话");
            break;
        case LINECALLSTATE_DIALTONE:
            WriteLog("完成拨号准备");
            break;
        case LINECALLSTATE_DIALING:
            WriteLog("正在拨号");
            break;
        case LINECALLSTATE_RINGBACK:
            WriteLog("收到震铃");
            break;
        case LINECALLSTATE_BUSY:
            WriteLog("线路忙");
            break;
        case LINECALLSTATE_CONNECTED:
            WriteLog("已连接");
            hCall = hDevice;
            core_.FireActive(EVENT_IsConnect, {Variant::Long(AsIndex(hDevice))});
            break;
        case LINECALLSTATE_DISCONNECTED:
            WriteLog("线路已断开");
            core_.FireActive(EVENT_DisConnected, {Variant::Long(AsIndex(hDevice))});
            break;
        default:
            break;
    }
}

void Line::OnDigit(DWORD call, const std::string& digit) {
    DtmfDigits += digit;
    core_.FireActive(EVENT_DtmfIn, {Variant::Long(AsIndex(call)), Variant::String(FromAnsi(digit))});
}
