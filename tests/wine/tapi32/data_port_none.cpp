// The stand-in modem under Wine has no data calls: every call is a voice
// call and lends the configured port handle.
#include "peers/virtual_modem/data_port.h"

namespace vmodem_data {
LONG LendPort(HCALL, DWORD, HANDLE*) { return 0; }
void CallPlaced(HCALL, DWORD) {}
DWORD MediaMode(HCALL) { return LINEMEDIAMODE_AUTOMATEDVOICE; }
void CallEnded(HCALL) {}
void Reset() {}
}  // namespace vmodem_data
