// A stand-in for the outside speech-synthesis control, for the Wine tests
// only: a small in-process COM server registered (in the test prefix)
// under the speech control's class identifier, with the three dispatch
// members the control uses: put 8 (output device), 2 (speak text), get 10
// (non-zero while speaking). Speaking lasts a set time. It is also an OLE
// object, so that its container's site and in-place activation can be
// seen. Exports for the test host: what it was told and by whom, and how
// long speaking lasts.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

namespace {

constexpr char kClsid[] = "{2398E32F-5C6E-11D1-8C65-0060081841DE}";
HINSTANCE gInstance = nullptr;
LONG gObjects = 0;

struct State {
    LONG device = -2;
    std::string lastText;  // ANSI
    DWORD speakMs = 300;
    DWORD busyUntil = 0;
    LONG statusReads = 0;
    LONG speaks = 0;
    HWND siteWindow = nullptr;  // the window of the site it was activated in
    LONG activations = 0;
    LONG closes = 0;
} gState;

GUID Clsid() {
    wchar_t w[64];
    MultiByteToWideChar(CP_ACP, 0, kClsid, -1, w, 64);
    GUID g{};
    CLSIDFromString(w, &g);
    return g;
}

bool Busy() { return static_cast<LONG>(gState.busyUntil - GetTickCount()) > 0; }

class Speech final : public IDispatch, public IOleObject {
public:
    Speech() { InterlockedIncrement(&gObjects); }
    ~Speech() {
        if (site_) site_->Release();
        InterlockedDecrement(&gObjects);
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch)
            *ppv = static_cast<IDispatch*>(this);
        else if (riid == IID_IOleObject)
            *ppv = static_cast<IOleObject*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (!n) delete this;
        return n;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT* r, EXCEPINFO*,
                        UINT*) override {
        if (id == 8 && (flags & DISPATCH_PROPERTYPUT) && p && p->cArgs == 1) {
            VARIANT v;
            VariantInit(&v);
            if (FAILED(VariantChangeType(&v, &p->rgvarg[0], 0, VT_I4))) return DISP_E_TYPEMISMATCH;
            gState.device = V_I4(&v);
            return S_OK;
        }
        if (id == 2 && (flags & DISPATCH_METHOD) && p && p->cArgs == 1 && V_VT(&p->rgvarg[0]) == VT_BSTR) {
            BSTR b = V_BSTR(&p->rgvarg[0]);
            int n = WideCharToMultiByte(CP_ACP, 0, b, SysStringLen(b), nullptr, 0, nullptr, nullptr);
            gState.lastText.assign(static_cast<size_t>(n), '\0');
            WideCharToMultiByte(CP_ACP, 0, b, SysStringLen(b), &gState.lastText[0], n, nullptr, nullptr);
            gState.busyUntil = GetTickCount() + gState.speakMs;
            ++gState.speaks;
            return S_OK;
        }
        if (id == 10 && (flags & DISPATCH_PROPERTYGET) && r) {
            ++gState.statusReads;
            VariantInit(r);
            V_VT(r) = VT_I4;
            V_I4(r) = Busy() ? 1 : 0;
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    // IOleObject: the site and in-place activation are recorded.
    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        if (site) site->AddRef();
        if (site_) site_->Release();
        site_ = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        *site = site_;
        if (site_) site_->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override {
        ++gState.closes;
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) override {
        if (verb != OLEIVERB_INPLACEACTIVATE || !site) return E_NOTIMPL;
        IOleInPlaceSite* ips = nullptr;
        if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&ips)))) return E_FAIL;
        if (ips->CanInPlaceActivate() == S_OK) {
            ips->OnInPlaceActivate();
            ips->GetWindow(&gState.siteWindow);
            ++gState.activations;
        }
        ips->Release();
        return S_OK;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* id) override {
        *id = Clsid();
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
        *status = 0;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

private:
    LONG refs_ = 1;
    IOleClientSite* site_ = nullptr;
};

class Factory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* s = new Speech();
        HRESULT hr = s->QueryInterface(riid, ppv);
        s->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
} gFactory;

std::string Key() { return std::string("CLSID\\") + kClsid; }

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) gInstance = instance;
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (clsid != Clsid()) return CLASS_E_CLASSNOTAVAILABLE;
    return gFactory.QueryInterface(riid, ppv);
}

__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return gObjects ? S_FALSE : S_OK; }

__declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
    char path[MAX_PATH];
    GetModuleFileNameA(gInstance, path, MAX_PATH);
    HKEY h = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, (Key() + "\\InprocServer32").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &h, nullptr) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    RegSetValueExA(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), lstrlenA(path) + 1);
    RegSetValueExA(h, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Apartment"), 10);
    RegCloseKey(h);
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
    LONG r = RegDeleteTreeA(HKEY_CLASSES_ROOT, Key().c_str());
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}

// ---- for the test host ---------------------------------------------------------
__declspec(dllexport) void speech_SetSpeakTime(DWORD ms) { gState.speakMs = ms; }
__declspec(dllexport) void speech_BusyFor(DWORD ms) { gState.busyUntil = GetTickCount() + ms; }
__declspec(dllexport) LONG speech_StatusReads() { return gState.statusReads; }
__declspec(dllexport) LONG speech_Device() { return gState.device; }
__declspec(dllexport) LONG speech_Speaks() { return gState.speaks; }
__declspec(dllexport) LONG speech_Objects() { return gObjects; }
__declspec(dllexport) HWND speech_SiteWindow() { return gState.siteWindow; }
__declspec(dllexport) LONG speech_Activations() { return gState.activations; }
__declspec(dllexport) LONG speech_Closes() { return gState.closes; }

}  // extern "C"
