// Run-time binding of the telephony library "TAPI32.DLL": each function is
// resolved by its exported name on first use and cached, module-wide. The
// wrappers in namespace tapi have the functions' own names and signatures.
#pragma once

#include "platform/platform.h"

struct TapiBinding {
    // Filled in by telephony/tapi_binding.cpp.
    HMODULE library = nullptr;
};

// The identifier of the current call's device of `deviceClass` ("wave/out",
// "wave/in") for `select` (LINECALLSELECT_CALL), or -1 on failure.
struct Module;
LONG GetLineDeviceId(Module& module, DWORD select, const char* deviceClass);
