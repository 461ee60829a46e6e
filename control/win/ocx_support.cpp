// Identities and type information of the module.
#include "control/win/ocx.h"

namespace ocx {

GUID ToGuid(const char* text) {
    GUID g{};
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &w[0], n);
    CLSIDFromString(w.c_str(), &g);
    return g;
}

const GUID& LibId() {
    static const GUID g = ToGuid(class_ids::kLibId);
    return g;
}
const GUID& DispatchIid() {
    static const GUID g = ToGuid(class_ids::kDispatchIid);
    return g;
}
const GUID& EventsIid() {
    static const GUID g = ToGuid(class_ids::kEventsIid);
    return g;
}
const GUID& ControlClsid() {
    static const GUID g = ToGuid(class_ids::kControlClsid);
    return g;
}
const GUID& PageClsid() {
    static const GUID g = ToGuid(class_ids::kPageClsid);
    return g;
}

// The requested locale first (with the system's fallback to its primary
// language and to neutral), then the library's own locale 0x409.
HRESULT LoadRegisteredTypeLib(LCID lcid, ITypeLib** lib) {
    HRESULT hr = LoadRegTypeLib(LibId(), class_ids::kLibMajor, class_ids::kLibMinor, lcid, lib);
    if (FAILED(hr) && lcid != class_ids::kLibLcid)
        hr = LoadRegTypeLib(LibId(), class_ids::kLibMajor, class_ids::kLibMinor, class_ids::kLibLcid, lib);
    return hr;
}

HRESULT LoadTypeInfo(const GUID& guid, LCID lcid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadRegisteredTypeLib(lcid, &lib);
    if (FAILED(hr)) return hr;
    hr = lib->GetTypeInfoOfGuid(guid, info);
    lib->Release();
    return hr;
}

std::wstring LoadWideString(UINT id) {
    wchar_t buffer[256];
    int n = LoadStringW(gInstance, id, buffer, 256);
    return n > 0 ? std::wstring(buffer, static_cast<size_t>(n)) : std::wstring();
}

BSTR AnsiToBstr(const std::string& ansi) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n > 0 ? n : 0));
    if (b && n > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), b, n);
    return b;
}

}  // namespace ocx
