// DTMF collection: digit monitoring on the current call and the collected
// keys.
#include "telephony/line.h"

LONG Line::BeginMonitorDtmf(LONG) {
    if (tapi.lineMonitorDigits(hCall, LINEDIGITMODE_DTMF) == 0) {
        WriteLog("监视dtmf ok");
        return 0;
    }
    WriteLog("监视dtmf bad");
    return -1;
}

LONG Line::CancelMonitor(LONG) {
    if (tapi.lineMonitorDigits(hCall, 0) == 0) {
        WriteLog("取消监视dtmf ok");
        return 0;
    }
    WriteLog("取消监视dtmf bad");
    return -1;
}

LONG Line::ClearDTMF(LONG) {
    DtmfDigits.clear();
    return 0;
}
