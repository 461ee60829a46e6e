// The line callback: every notification of the telephony service is logged,
// keeps LineState current and becomes an event of the active control.
#include "telephony/line_events.h"

#include "control/marlune_ctrl.h"
#include "telephony/tapi_binding.h"
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

void OnCallerId(Module& module) {
    module.WriteLog("判断是主叫号码,取...");
    TapiRecord info;
    if (!info.Allocate(kCallInfoSize) || tapi::lineGetCallInfoA(module.line.hCall, info.as<LINECALLINFO>()) != 0) {
        module.WriteLog("取主叫号码失败");
        return;
    }
    const LINECALLINFO* ci = info.as<LINECALLINFO>();
    // No caller id (or one outside the record) reads as an empty number.
    module.line.CallerNumber = info.Text(ci->dwCallerIDOffset, ci->dwCallerIDSize);
    module.WriteLog(module.line.CallerNumber);
    if (CMarluneCtrl* ctrl = module.ActiveControl) ctrl->FireCallIDIn();
}

void OnLineDevState(Module& module, DWORD hDevice, DWORD state) {
    CMarluneCtrl* ctrl = module.ActiveControl;
    switch (state) {
        case LINEDEVSTATE_RINGING:
            ++module.line.RingCount;
            module.WriteLog("进入ring事件处理");
            if (ctrl) ctrl->FireRing(module.line.RingCount);
            module.WriteLog("完成ring事件处理");
            module.WriteLog("有震铃");
            break;
        case LINEDEVSTATE_CONNECTED:
            module.WriteLog("电话已接通");
            if (ctrl) ctrl->FireIsConnect(AsIndex(hDevice));
            break;
        case LINEDEVSTATE_DISCONNECTED:
            module.WriteLog("电话已挂断");
            break;
        default:
            break;
    }
}

void OnMonitorDigits(Module& module, DWORD hDevice, DWORD_PTR code) {
    for (const auto& d : kDigits) {
        if (code == static_cast<DWORD_PTR>(static_cast<unsigned char>(d.digit))) {
            module.WriteLog(d.text);
            OnDigit(module, hDevice, std::string(1, d.digit));
            return;
        }
    }
}

}  // namespace

void CALLBACK LineCallback(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                           DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
    Module& module = Module::Current();
    module.WriteLog("取得线路消息......");
    switch (dwMessage) {
        case LINE_CALLINFO:
            module.WriteLog("收到呼叫信息(主叫电话号码等)");
            if (dwParam1 == LINECALLINFOSTATE_CALLERID) OnCallerId(module);
            break;
        case LINE_CALLSTATE:
            module.WriteLog("呼叫改变");
            OnCallState(module, hDevice, static_cast<DWORD>(dwParam1), static_cast<DWORD>(dwParam3));
            break;
        case LINE_CLOSE:
            module.WriteLog("线路关闭");
            break;
        case LINE_LINEDEVSTATE:
            module.WriteLog("线路设备消息....");
            OnLineDevState(module, hDevice, static_cast<DWORD>(dwParam1));
            break;
        case LINE_MONITORDIGITS:
            OnMonitorDigits(module, hDevice, dwParam1);
            break;
        case LINE_REPLY:
            module.WriteLog("异步完成调用");
            break;
        case LINE_REQUEST:
            module.WriteLog("线路收到新的请求");
            break;
        case LINE_CREATE:
            module.WriteLog("线路创建");
            break;
        default:
            break;
    }
}

void OnCallState(Module& module, DWORD hDevice, DWORD callState, DWORD privilege) {
    LineState& line = module.line;
    CMarluneCtrl* ctrl = module.ActiveControl;
    switch (callState) {
        case LINECALLSTATE_IDLE:
            module.WriteLog("呼叫空闲");
            if (ctrl) ctrl->FireLineIsFree(AsIndex(hDevice));
            break;
        case LINECALLSTATE_OFFERING:
            module.WriteLog("有电话拨入");
            line.RingCount = 0;
            line.hCall = hDevice;
            break;
        case LINECALLSTATE_ACCEPTED:
            module.WriteLog("我方已接电话");
            break;
        case LINECALLSTATE_DIALTONE:
            module.WriteLog("完成拨号准备");
            break;
        case LINECALLSTATE_DIALING:
            module.WriteLog("正在拨号");
            break;
        case LINECALLSTATE_RINGBACK:
            module.WriteLog("收到震铃");
            break;
        case LINECALLSTATE_BUSY:
            module.WriteLog("线路忙");
            break;
        case LINECALLSTATE_CONNECTED:
            module.WriteLog("已连接");
            line.hCall = hDevice;
            if (ctrl) ctrl->FireIsConnect(AsIndex(hDevice));
            break;
        case LINECALLSTATE_DISCONNECTED:
            module.WriteLog("线路已断开");
            if (ctrl) ctrl->FireDisConnected(AsIndex(hDevice));
            break;
        default:
            break;
    }
}

void OnDigit(Module& module, DWORD hCall, const std::string& digit) {
    module.line.DtmfDigits += digit;
    if (CMarluneCtrl* ctrl = module.ActiveControl) ctrl->FireDtmfIn(AsIndex(hCall), digit);
}
