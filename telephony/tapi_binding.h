// Run-time binding of the telephony library: the library handle and one
// cached entry per function, module-wide.
#pragma once

#include "platform/platform.h"

struct TapiBinding {
    // 0: not loaded yet; kFailed: loading failed (never retried).
    HMODULE library = nullptr;
};
