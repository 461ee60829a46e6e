// Module-wide telephony state: the handles, the negotiated version and what
// the line callback collects about the current call.
#pragma once

#include <string>

#include "platform/platform.h"

struct LineState {
    HLINEAPP hLineApp = 0;
    HLINE hLine = 0;
    DWORD dwAPIVersion = 0;
    HCALL hCall = 0;
    LONG RingCount = 0;
    std::string CallerNumber;  // GBK/ASCII bytes
    std::string DtmfDigits;
};
