// Telephony (TAPI 2.x) types, record layouts and values for the Linux
// build, as published in the platform's tapi.h (packed, 32-bit handles).
#pragma once

#include "win_types.h"

typedef DWORD HCALL;
typedef HCALL* LPHCALL;
typedef DWORD HLINE;
typedef HLINE* LPHLINE;
typedef DWORD HLINEAPP;
typedef HLINEAPP* LPHLINEAPP;

typedef void(CALLBACK* LINECALLBACK)(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2, DWORD_PTR dwParam3);
