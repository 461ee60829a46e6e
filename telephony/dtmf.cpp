// DTMF collection: digit monitoring on the current call and the collected
// keys.
#include "control/marlune_ctrl.h"
#include "telephony/tapi_binding.h"

LONG CMarluneCtrl::BeginMonitorDtmf(LONG) {
    if (tapi::lineMonitorDigits(module_.line.hCall, LINEDIGITMODE_DTMF) == 0) {
        WriteLog("监视dtmf ok");
        return 0;
    }
    WriteLog("监视dtmf bad");
    return -1;
}

LONG CMarluneCtrl::CancelMonitor(LONG) {
    if (tapi::lineMonitorDigits(module_.line.hCall, 0) == 0) {
        WriteLog("取消监视dtmf ok");
        return 0;
    }
    WriteLog("取消监视dtmf bad");
    return -1;
}

std::string CMarluneCtrl::GetDtmf() { return module_.line.DtmfDigits; }

LONG CMarluneCtrl::ClearDTMF(LONG) {
    module_.line.DtmfDigits.clear();
    return 0;
}
