// The line callback registered with the telephony service, and the handlers
// it dispatches call states and digits to.
#pragma once

#include <string>

#include "platform/platform.h"

void CALLBACK LineCallback(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                           DWORD_PTR dwParam2, DWORD_PTR dwParam3);

struct Module;
void OnCallState(Module& module, DWORD hDevice, DWORD callState, DWORD privilege);
void OnDigit(Module& module, DWORD hCall, const std::string& digit);
