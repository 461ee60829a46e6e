// Marlune sample: a balance line in C++. A hidden window of the system's
// ActiveX container (ATL's "AtlAxWin") holds the control; its events come
// through the connection point to the sink below while the message loop
// runs. Answers each call on the second ring, tells the caller the balance
// and hangs up.
//
// Build (MinGW-w64):  g++ -O2 balance_host.cpp -o balance_host.exe -lole32 -loleaut32 -luuid
// (Visual C++):       cl /EHsc balance_host.cpp ole32.lib oleaut32.lib uuid.lib user32.lib
// Run:                balance_host.exe [calls]
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The events of _DMarluneEvents this sample handles, by DISPID.
enum Event : DISPID { DisConnected = 5, IsConnect = 6, LineIsFree = 8, Ring = 9, EndPlayAll = 10, CallIDIn = 11 };

IDispatch* gControl = nullptr;
int gCalls = 1;
int gServed = 0;
bool gBusy = false;

// Calls a member of the control by name; arguments in declaration order.
VARIANT CallMember(const wchar_t* name, std::vector<VARIANT> args = {}) {
    VARIANT result;
    VariantInit(&result);
    DISPID id = 0;
    LPOLESTR n = const_cast<LPOLESTR>(name);
    if (FAILED(gControl->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id))) return result;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());  // IDispatch takes the last argument first
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO error{};
    HRESULT hr =
        gControl->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &error, nullptr);
    if (FAILED(hr)) std::printf("%ls failed: 0x%08lX\n", name, static_cast<unsigned long>(hr));
    SysFreeString(error.bstrSource);
    SysFreeString(error.bstrDescription);
    for (auto& a : reversed) VariantClear(&a);
    return result;
}

VARIANT Long(LONG v) {
    VARIANT r;
    VariantInit(&r);
    V_VT(&r) = VT_I4;
    V_I4(&r) = v;
    return r;
}

VARIANT Text(const wchar_t* s) {
    VARIANT r;
    VariantInit(&r);
    V_VT(&r) = VT_BSTR;
    V_BSTR(&r) = SysAllocString(s);
    return r;
}

LONG AsLong(VARIANT v) {
    LONG n = SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4)) ? V_I4(&v) : -1;
    VariantClear(&v);
    return n;
}

std::string AsAnsi(VARIANT v) {
    std::string s;
    if (SUCCEEDED(VariantChangeType(&v, &v, 0, VT_BSTR)) && V_BSTR(&v)) {
        int n = WideCharToMultiByte(CP_ACP, 0, V_BSTR(&v), -1, nullptr, 0, nullptr, nullptr);
        s.resize(n > 0 ? n - 1 : 0);
        if (n > 1) WideCharToMultiByte(CP_ACP, 0, V_BSTR(&v), -1, &s[0], n, nullptr, nullptr);
    }
    VariantClear(&v);
    return s;
}

void OnEvent(DISPID id, const DISPPARAMS& p) {
    switch (id) {
        case Ring: {
            LONG count = p.cArgs == 1 ? AsLong(p.rgvarg[0]) : 0;
            std::printf("Ring %ld\n", static_cast<long>(count));
            if (count == 2 && !gBusy) gBusy = AsLong(CallMember(L"AnswerTp")) == 0;
            break;
        }
        case CallIDIn:
            std::printf("Caller: %s\n", AsAnsi(CallMember(L"GetTPNO")).c_str());
            break;
        case IsConnect:
            std::printf("Connected\n");
            // "Your balance is 12.5 yuan", from the voice pack, on the call (Dev 0).
            CallMember(L"PlayStr", {Text(L"\u60A8\u7684\u4F59\u989D\u662F12.5\u5143"), Long(0)});
            break;
        case EndPlayAll:
            std::printf("Balance told\n");
            CallMember(L"HandUp");
            break;
        case DisConnected:
            std::printf("The caller hung up\n");
            CallMember(L"StopPlayWav");
            CallMember(L"HandUp");
            break;
        case LineIsFree:
            std::printf("Line free\n");
            if (gBusy) ++gServed;
            gBusy = false;
            if (gServed >= gCalls) PostQuitMessage(0);
            break;
    }
    std::fflush(stdout);
}

// The event sink: an IDispatch the control calls with each event.
class Sink final : public IDispatch {
public:
    explicit Sink(const IID& events) : events_(events) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == events_) {
            *ppv = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // lives as long as main
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        OnEvent(id, p ? *p : none);
        return S_OK;
    }

private:
    IID events_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) gCalls = std::atoi(argv[1]);
    OleInitialize(nullptr);
    HMODULE atl = LoadLibraryA("atl.dll");
    auto axInit = atl ? reinterpret_cast<BOOL(WINAPI*)()>(GetProcAddress(atl, "AtlAxWinInit")) : nullptr;
    auto axControl =
        atl ? reinterpret_cast<HRESULT(WINAPI*)(HWND, IUnknown**)>(GetProcAddress(atl, "AtlAxGetControl")) : nullptr;
    if (!axInit || !axControl || !axInit()) {
        std::printf("ATL's control container (atl.dll) is not available.\n");
        return 1;
    }
    // The container: a hidden top-level window, the control's window in it.
    HWND frame = CreateWindowExA(0, "STATIC", "Marlune balance line", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND holder = CreateWindowExW(0, L"AtlAxWin", L"MARLUNE.MarluneCtrl.1", WS_CHILD | WS_VISIBLE, 0, 0, 100, 50,
                                  frame, nullptr, GetModuleHandleA(nullptr), nullptr);
    IUnknown* unknown = nullptr;
    if (!holder || FAILED(axControl(holder, &unknown)) || !unknown ||
        FAILED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&gControl)))) {
        std::printf("The control could not be created: is MARLUNE.OCX registered?\n");
        return 1;
    }

    // The events interface, as the control names it; its connection point.
    IID events{};
    IProvideClassInfo2* classInfo = nullptr;
    IConnectionPointContainer* points = nullptr;
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    if (SUCCEEDED(unknown->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo)))) {
        classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events);
        classInfo->Release();
    }
    Sink sink(events);
    if (FAILED(unknown->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points))) ||
        FAILED(points->FindConnectionPoint(events, &point)) || FAILED(point->Advise(&sink, &cookie))) {
        std::printf("The control's events could not be connected.\n");
        return 1;
    }

    std::printf("Line: %s\n", AsAnsi(CallMember(L"InitLine", {Long(0)})).c_str());
    if (AsLong(CallMember(L"OpenLine", {Long(0)})) != 0) {
        std::printf("The line did not open.\n");
        return 1;
    }
    std::printf("Waiting for calls...\n");
    std::fflush(stdout);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }

    CallMember(L"CloseLine");
    point->Unadvise(cookie);
    point->Release();
    points->Release();
    gControl->Release();
    unknown->Release();
    DestroyWindow(frame);  // the container lets the control go
    OleUninitialize();
    std::printf("Served %d call(s)\n", gServed);
    return 0;
}
