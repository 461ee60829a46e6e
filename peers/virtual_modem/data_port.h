// Between the telephony functions and the data calls (data_port.cpp).
#pragma once

#include "platform/platform.h"

namespace vmodem_data {
// The "comm/datamodem" port of a call: for a data call a new handle on the
// call's pseudo-terminal (opened on first use); other calls keep `*port`.
// 0 or a LINEERR_ code.
LONG LendPort(HCALL call, DWORD device, HANDLE* port);
// An outgoing call takes the device's outgoing media mode.
void CallPlaced(HCALL call, DWORD device);
DWORD MediaMode(HCALL call);
// The call is disconnected, idle or gone: the provider closes its port.
void CallEnded(HCALL call);
void Reset();
}  // namespace vmodem_data
