// The C interface a peer library exports to act as an ActiveX component
// on Linux: create on a window, invoke by DISPID, destroy.
#pragma once

#include <string>

#include "win32/win_types.h"

extern "C" {
// Returns the component object, or null when it refuses to start.
typedef void* (*MarluneComponentCreateFn)(HWND window);
// flags: DISPATCH_METHOD (strArg), DISPATCH_PROPERTYPUT (lArg) or
// DISPATCH_PROPERTYGET (*result). On failure writes a description.
typedef HRESULT (*MarluneComponentInvokeFn)(void* object, DISPID dispid, WORD flags, LONG lArg, const char* strArg,
                                            LONG* result, char* errorText, int errorSize);
typedef void (*MarluneComponentDestroyFn)(void* object);
}

namespace sim {
// The component registry: which peer library serves a class id.
void RegisterComponent(const std::string& clsid, const std::string& dllName);
void UnregisterComponent(const std::string& clsid);
}  // namespace sim
