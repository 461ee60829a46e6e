// Hosting an outside ActiveX control as a child window, reached through
// its dispatch interface by DISPID. On Windows this is the real OLE
// control site; on Linux the component is a loadable peer library.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

class ChildControl {
public:
    virtual ~ChildControl() = default;
    virtual HWND hwnd() const = 0;
    // property put of a 32-bit integer
    virtual HRESULT PutLong(DISPID dispid, LONG value) = 0;
    // method call with one string argument (ANSI text), no result
    virtual HRESULT CallWithString(DISPID dispid, const std::string& ansiText) = 0;
    // property get of a 32-bit integer
    virtual HRESULT GetLong(DISPID dispid, LONG* value) = 0;
    // Description of the last error the component reported (ANSI).
    virtual std::string LastErrorDescription() const = 0;
};

// Creates the control of class `clsid` ("{...}") as a child window of
// `parent`. Returns null when the component is not registered or refused.
std::unique_ptr<ChildControl> CreateChildControl(const char* clsid, HWND parent, const char* windowText,
                                                 DWORD style, const RECT& rect, UINT childId);
