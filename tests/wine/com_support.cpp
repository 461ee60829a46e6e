#include "tests/wine/com_support.h"

#include <fstream>
#include <sstream>

#include "control/front/class_ids.h"
#include "platform/riff_wave.h"

HRESULT CallByName(IDispatch* d, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result,
                   EXCEPINFO* excep, UINT* argErr) {
    DISPID id = 0;
    LPOLESTR n = const_cast<LPOLESTR>(name);
    HRESULT hr = d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS p{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags & DISPATCH_PROPERTYPUT) {
        p.rgdispidNamedArgs = &put;
        p.cNamedArgs = 1;
    }
    if (result) VariantInit(result);
    hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &p, result, excep, argErr);
    for (auto& a : reversed) VariantClear(&a);
    return hr;
}

HRESULT Call(IDispatch* d, const wchar_t* name, std::vector<VARIANT> args, VARIANT* result, EXCEPINFO* excep) {
    return CallByName(d, name, DISPATCH_METHOD, std::move(args), result, excep);
}

HRESULT PutProperty(IDispatch* d, const wchar_t* name, VARIANT value) {
    return CallByName(d, name, DISPATCH_PROPERTYPUT, {value}, nullptr);
}

VARIANT Long(LONG v) {
    VARIANT r;
    VariantInit(&r);
    V_VT(&r) = VT_I4;
    V_I4(&r) = v;
    return r;
}

VARIANT Str(const wchar_t* s) {
    VARIANT r;
    VariantInit(&r);
    V_VT(&r) = VT_BSTR;
    V_BSTR(&r) = SysAllocString(s);
    return r;
}

VARIANT Bool(bool v) {
    VARIANT r;
    VariantInit(&r);
    V_VT(&r) = VT_BOOL;
    V_BOOL(&r) = v ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}

std::wstring VariantText(const VARIANT& v) {
    if (V_VT(&v) == VT_BSTR) return V_BSTR(&v) ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v))) : L"";
    VARIANT t;
    VariantInit(&t);
    std::wstring out = L"?";
    if (SUCCEEDED(VariantChangeType(&t, const_cast<VARIANT*>(&v), 0, VT_BSTR))) out = VariantText(t);
    VariantClear(&t);
    return out;
}

STDMETHODIMP RecordingSink::QueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == events) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP RecordingSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) {
    EventRecord r{name_, id, {}};
    for (UINT i = p ? p->cArgs : 0; i > 0; --i) r.args.push_back(VariantText(p->rgvarg[i - 1]));
    journal_.push_back(r);
    return fail_ ? E_FAIL : S_OK;
}

STDMETHODIMP AmbientSite::QueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
        *ppv = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IDispatch)
        *ppv = static_cast<IDispatch*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP AmbientSite::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*, UINT*) {
    if (id != DISPID_AMBIENT_USERMODE || !r) return DISP_E_MEMBERNOTFOUND;
    VariantInit(r);
    V_VT(r) = VT_BOOL;
    V_BOOL(r) = userMode_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

MapPropertyBag::~MapPropertyBag() {
    for (auto& [k, v] : values) VariantClear(&v);
}

STDMETHODIMP MapPropertyBag::QueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) {
        *ppv = static_cast<IPropertyBag*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP MapPropertyBag::Read(LPCOLESTR name, VARIANT* v, IErrorLog*) {
    auto it = values.find(name);
    if (it == values.end()) return E_INVALIDARG;
    VARTYPE want = V_VT(v);
    VariantInit(v);
    if (want == VT_EMPTY) return VariantCopy(v, &it->second);
    return VariantChangeType(v, &it->second, 0, want);
}

STDMETHODIMP MapPropertyBag::Write(LPCOLESTR name, VARIANT* v) {
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantCopy(&copy, v);
    if (FAILED(hr)) return hr;
    auto it = values.find(name);
    if (it != values.end()) VariantClear(&it->second);
    values[name] = copy;
    return S_OK;
}

GUID Guid(const char* text) {
    wchar_t w[64];
    MultiByteToWideChar(CP_ACP, 0, text, -1, w, 64);
    GUID g{};
    CLSIDFromString(w, &g);
    return g;
}

HWND HostFrame() {
    return CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

bool HostedControl::Create() {
    CLSID clsid;
    if (CLSIDFromProgID(L"MARLUNE.MarluneCtrl.1", &clsid) != S_OK) return false;
    if (CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d)) != S_OK)
        return false;
    d->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&oo));
    return oo != nullptr;
}

bool HostedControl::Activate(HWND frame) {
    RECT rect{0, 0, 100, 50};
    return oo && oo->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, frame, &rect) == S_OK;
}

bool HostedControl::Connect(IDispatch* sink) {
    if (!d || d->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc_)) != S_OK) return false;
    if (cpc_->FindConnectionPoint(Guid(class_ids::kEventsIid), &cp_) != S_OK) return false;
    return cp_->Advise(sink, &cookie_) == S_OK;
}

void HostedControl::Close() {
    if (cp_) {
        cp_->Unadvise(cookie_);
        cp_->Release();
    }
    if (cpc_) cpc_->Release();
    if (oo) {
        oo->Close(OLECLOSE_NOSAVE);
        oo->Release();
    }
    if (d) d->Release();
    cp_ = nullptr;
    cpc_ = nullptr;
    oo = nullptr;
    d = nullptr;
}

void WriteVoicePack() {
    CreateDirectoryA("wav", nullptr);
    std::string index;
    for (auto [character, name] : {std::pair<const char*, const char*>{"\xc4\xe3", "ni3"}, {"\xba\xc3", "hao3"}}) {
        index += std::string(character) + std::string(1, '\0') + " " + name + std::string(1, '\0');
        std::vector<short> pcm(1600);
        for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<short>((i % 16) * 800 - 6000);
        riff::WriteFile(std::string("wav/") + name + ".wav", riff::Pcm16Format(8000), 16, pcm.data(),
                        static_cast<DWORD>(pcm.size() * 2));
    }
    std::ofstream("hanzi.dat", std::ios::binary) << index;
}

std::string ReadLog() {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA("*modem.txt", &found);
    if (h == INVALID_HANDLE_VALUE) return {};
    FindClose(h);
    std::ifstream in(found.cFileName, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
