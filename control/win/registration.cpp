// Self-registration of MARLUNE.OCX: the type library held in the module's
// own file, the control's class and ProgID, and the property page's class.
#include <string>

#include "control/win/ocx.h"

namespace {

constexpr UINT kTypeNameControl = 1;  // "Marlune Control"
constexpr UINT kTypeNamePage = 2;     // "Marlune Property Page"
constexpr UINT kToolboxBitmap = 1;

std::wstring ModulePath() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(ocx::gInstance, path, MAX_PATH);
    return std::wstring(path, n);
}

// The module's path in its short (8.3) form.
std::string ShortModulePath() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(ocx::gInstance, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();
    char shortPath[MAX_PATH];
    DWORD s = GetShortPathNameA(path, shortPath, MAX_PATH);
    return s > 0 && s < MAX_PATH ? std::string(shortPath, s) : std::string(path, n);
}

std::string TypeName(UINT id, const char* clsid) {
    char buffer[256];
    int n = LoadStringA(ocx::gInstance, id, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string(clsid);
}

// Creates HKCR\key and sets its default value (or the named one).
bool SetValue(const std::string& key, const std::string& value, const char* name = nullptr) {
    HKEY h = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &h, nullptr) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

bool KeyExists(const std::string& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

// A key that is already missing counts as deleted.
bool DeleteTree(const std::string& key) {
    LONG r = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

bool RegisterControl(const std::string& module) {
    const std::string clsid = class_ids::kControlClsid;
    const std::string progId = class_ids::kControlProgId;
    const std::string name = TypeName(kTypeNameControl, class_ids::kControlClsid);
    const std::string key = "CLSID\\" + clsid;
    char version[32];
    wsprintfA(version, "%d.%d", class_ids::kLibMajor, class_ids::kLibMinor);
    char misc[16];
    wsprintfA(misc, "%lu", class_ids::kMiscStatus);
    char bitmap[16];
    wsprintfA(bitmap, ", %u", kToolboxBitmap);
    return SetValue(progId, name) && SetValue(progId + "\\CLSID", clsid) && SetValue(key, name) &&
           SetValue(key + "\\ProgID", progId) && SetValue(key + "\\InprocServer32", module) &&
           SetValue(key + "\\InprocServer32", "Apartment", "ThreadingModel") &&
           SetValue(key + "\\ToolboxBitmap32", module + bitmap) && SetValue(key + "\\MiscStatus", "0") &&
           SetValue(key + "\\MiscStatus\\1", misc) && SetValue(key + "\\Control", "") &&
           SetValue(key + "\\TypeLib", class_ids::kLibId) && SetValue(key + "\\Version", version);
}

bool RegisterPage(const std::string& module) {
    const std::string key = std::string("CLSID\\") + class_ids::kPageClsid;
    return SetValue(key, TypeName(kTypeNamePage, class_ids::kPageClsid)) &&
           SetValue(key + "\\InprocServer32", module);
}

// A class that also has a 16-bit server keeps its key: only the 32-bit
// server and the toolbox bitmap go.
bool UnregisterClass(const char* clsid) {
    const std::string key = std::string("CLSID\\") + clsid;
    if (KeyExists(key + "\\InprocServer"))
        return DeleteTree(key + "\\InprocServer32") && DeleteTree(key + "\\ToolboxBitmap32");
    return DeleteTree(key);
}

HRESULT RegisterLibrary() {
    std::wstring path = ModulePath();
    ITypeLib* lib = nullptr;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib)) || !lib) return SELFREG_E_TYPELIB;
    TLIBATTR* attr = nullptr;
    bool ours = SUCCEEDED(lib->GetLibAttr(&attr)) && attr->guid == ocx::LibId();
    if (attr) lib->ReleaseTLibAttr(attr);
    HRESULT hr = SELFREG_E_TYPELIB;
    if (ours) {
        std::wstring dir = path.substr(0, path.find_last_of(L'\\'));
        if (SUCCEEDED(RegisterTypeLib(lib, &path[0], &dir[0]))) hr = S_OK;
    }
    lib->Release();
    return hr;
}

}  // namespace

STDAPI DllRegisterServer() {
    HRESULT hr = RegisterLibrary();
    if (FAILED(hr)) return hr;
    std::string module = ShortModulePath();
    if (module.empty() || !RegisterControl(module) || !RegisterPage(module)) return SELFREG_E_CLASS;
    return S_OK;
}

STDAPI DllUnregisterServer() {
#ifdef _WIN64
    const SYSKIND sys = SYS_WIN64;
#else
    const SYSKIND sys = SYS_WIN32;
#endif
    // Locale 0 first; the library itself carries locale 0x409, which is
    // where RegisterTypeLib files it.
    if (FAILED(UnRegisterTypeLib(ocx::LibId(), class_ids::kLibMajor, class_ids::kLibMinor, 0, sys)) &&
        FAILED(UnRegisterTypeLib(ocx::LibId(), class_ids::kLibMajor, class_ids::kLibMinor, class_ids::kLibLcid, sys)))
        return SELFREG_E_TYPELIB;
    bool ok = UnregisterClass(class_ids::kControlClsid);
    ok = UnregisterClass(class_ids::kPageClsid) && ok;
    ok = DeleteTree(class_ids::kControlProgId) && ok;
    return ok ? S_OK : SELFREG_E_CLASS;
}
