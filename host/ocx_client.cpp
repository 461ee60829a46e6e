// The Windows target of the JSON host: MARLUNE.OCX as a container holds it.
// Each control is created by its ProgID, activated in place in a hidden
// window of the host, called through IDispatch by name (GetIDsOfNames, then
// Invoke), and its events come through the connection point. Names, types
// and parameters come from the control's type information, so the host
// knows nothing of the control but its ProgID. Time is the wall clock: a
// "run" pumps messages for that long.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>

#include "control/front/class_ids.h"
#include "host/json_host.h"
#include "platform/code_page.h"

using nlohmann::json;

namespace {

std::wstring Wide(const std::string& utf8) {
    std::u16string w = codepage::ToWide(CP_UTF8, utf8);
    return std::wstring(w.begin(), w.end());
}

std::string Utf8(const wchar_t* w, size_t n) { return codepage::FromWide(CP_UTF8, std::u16string(w, w + n)); }

std::string Utf8(BSTR b) { return b ? Utf8(b, SysStringLen(b)) : std::string(); }

// A value as the host answers it; a reference is read through.
json ToJson(const VARIANT& given) {
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantCopyInd(&v, const_cast<VARIANT*>(&given)))) return nullptr;
    json out;
    switch (V_VT(&v)) {
        case VT_I4: out = static_cast<long>(V_I4(&v)); break;
        case VT_I2: out = V_I2(&v); break;
        case VT_R8: out = V_R8(&v); break;
        case VT_BOOL: out = V_BOOL(&v) != VARIANT_FALSE; break;
        case VT_BSTR: out = Utf8(V_BSTR(&v)); break;
        default: out = nullptr;
    }
    VariantClear(&v);
    return out;
}

// A JSON argument as the variant a script would pass, as on Linux: an
// integer that fits a long is VT_I4, any other number VT_R8, a string
// VT_BSTR; null, arrays and objects arrive as VT_NULL.
VARIANT FromJson(const json& j) {
    VARIANT v;
    VariantInit(&v);
    if (j.is_boolean()) {
        V_VT(&v) = VT_BOOL;
        V_BOOL(&v) = j.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (j.is_number_integer() && (j.is_number_unsigned() ? j.get<uint64_t>() <= INT32_MAX
                                                                 : j.get<int64_t>() >= INT32_MIN &&
                                                                       j.get<int64_t>() <= INT32_MAX)) {
        V_VT(&v) = VT_I4;
        V_I4(&v) = static_cast<LONG>(j.get<int64_t>());
    } else if (j.is_number()) {
        V_VT(&v) = VT_R8;
        V_R8(&v) = j.get<double>();
    } else if (j.is_string()) {
        std::wstring w = Wide(j.get<std::string>());
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    } else {
        V_VT(&v) = VT_NULL;
    }
    return v;
}

HostType TypeOf(VARTYPE vt) {
    switch (vt) {
        case VT_I4: return HostType::Long;
        case VT_BOOL: return HostType::Bool;
        case VT_BSTR: return HostType::String;
        default: return HostType::Other;
    }
}

std::string NameOf(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    UINT n = 0;
    if (!info || FAILED(info->GetNames(id, &name, 1, &n)) || n == 0) return std::to_string(id);
    std::string out = Utf8(name);
    SysFreeString(name);
    return out;
}

// The member `id` as the type information describes it.
void Describe(ITypeInfo* info, DISPID id, MemberCall& m) {
    TYPEATTR* attr = nullptr;
    if (!info || FAILED(info->GetTypeAttr(&attr))) return;
    for (UINT i = 0; i < attr->cVars; ++i) {
        VARDESC* var = nullptr;
        if (FAILED(info->GetVarDesc(i, &var))) continue;
        if (var->memid == id) {
            m.property = true;
            m.type = TypeOf(var->elemdescVar.tdesc.vt);
            m.member = NameOf(info, id);
        }
        info->ReleaseVarDesc(var);
    }
    for (UINT i = 0; i < attr->cFuncs && m.member.empty(); ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(info->GetFuncDesc(i, &f))) continue;
        if (f->memid == id) {
            std::vector<BSTR> names(f->cParams + 1);
            UINT got = 0;
            info->GetNames(id, names.data(), static_cast<UINT>(names.size()), &got);
            m.member = got ? Utf8(names[0]) : std::to_string(id);
            m.property = f->invkind != INVOKE_FUNC;
            if (m.property) {
                m.type = TypeOf(f->invkind == INVOKE_PROPERTYGET ? f->elemdescFunc.tdesc.vt
                                                                  : f->lprgelemdescParam[0].tdesc.vt);
            } else {
                for (SHORT p = 0; p < f->cParams; ++p)
                    m.params.push_back(HostParam{static_cast<UINT>(p + 1) < got ? Utf8(names[p + 1]) : "?",
                                                 TypeOf(f->lprgelemdescParam[p].tdesc.vt)});
            }
            for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
        }
        info->ReleaseFuncDesc(f);
    }
    info->ReleaseTypeAttr(attr);
}

GUID Guid(const char* text) {
    GUID g{};
    CLSIDFromString(Wide(text).c_str(), &g);
    return g;
}

// Receives one control's events and hands them on by name.
class EventSink final : public IDispatch {
public:
    EventSink(int number, ITypeInfo* events, const HostTarget::EventOut& out)
        : number_(number), events_(events), out_(out) {}
    ~EventSink() {
        if (events_) events_->Release();
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == Guid(class_ids::kEventsIid)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Lives as long as its control's entry in the host.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
        json args = json::array();
        for (UINT i = p ? p->cArgs : 0; i > 0; --i) args.push_back(ToJson(p->rgvarg[i - 1]));
        out_(number_, NameOf(events_, id), args);
        return S_OK;
    }

private:
    int number_;
    ITypeInfo* events_;
    const HostTarget::EventOut& out_;
};

// The event interface's type information, from the control's class information.
ITypeInfo* EventTypeInfo(IUnknown* control) {
    IProvideClassInfo* pci = nullptr;
    ITypeInfo* coclass = nullptr;
    ITypeInfo* events = nullptr;
    if (FAILED(control->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&pci)))) return nullptr;
    if (SUCCEEDED(pci->GetClassInfo(&coclass))) {
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(coclass->GetTypeAttr(&attr))) {
            for (UINT i = 0; i < attr->cImplTypes && !events; ++i) {
                INT flags = 0;
                HREFTYPE ref = 0;
                if (SUCCEEDED(coclass->GetImplTypeFlags(i, &flags)) && (flags & IMPLTYPEFLAG_FSOURCE) &&
                    (flags & IMPLTYPEFLAG_FDEFAULT) && SUCCEEDED(coclass->GetRefTypeOfImplType(i, &ref)))
                    coclass->GetRefTypeInfo(ref, &events);
            }
            coclass->ReleaseTypeAttr(attr);
        }
        coclass->Release();
    }
    pci->Release();
    return events;
}

// Actions due on the wall clock (HostAfter), in the order they fall due.
std::multimap<double, std::function<void()>>& Due() {
    static std::multimap<double, std::function<void()>> due;
    return due;
}

ULONGLONG gStart = 0;

double Now() { return static_cast<double>(GetTickCount64() - gStart) / 1000.0; }

// A message box of the control is answered with OK as soon as it shows,
// and reported as the Linux host reports it.
HostTarget::NoticeOut* gBoxes = nullptr;
HHOOK gHook = nullptr;

LRESULT CALLBACK BoxHook(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wp);
        char cls[16] = {};
        GetClassNameA(box, cls, sizeof cls);
        if (std::string(cls) == "#32770") {
            char caption[512] = {}, text[2048] = {};
            GetWindowTextA(box, caption, sizeof caption);
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            if (gBoxes && *gBoxes) (*gBoxes)(MessageBoxNotice(caption, text, IDOK));
        }
    }
    return CallNextHookEx(gHook, code, wp, lp);
}

void PumpOnce() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

class OcxTarget : public HostTarget {
public:
    OcxTarget() {
        gStart = GetTickCount64();
        frame_ = CreateWindowExA(0, "STATIC", "marlune host", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        gHook = SetWindowsHookExA(WH_CBT, BoxHook, nullptr, GetCurrentThreadId());
    }
    ~OcxTarget() override {
        while (!controls_.empty()) Destroy(controls_.begin()->first);
        if (gHook) UnhookWindowsHookEx(gHook);
        gHook = nullptr;
        gBoxes = nullptr;
        if (frame_) DestroyWindow(frame_);
        Due().clear();
    }

    void Connect(EventOut events, NoticeOut notices) override {
        events_ = std::move(events);
        notices_ = std::move(notices);
        gBoxes = &notices_;
    }

    void Create(int number) override {
        CLSID clsid;
        Live live;
        if (FAILED(CLSIDFromProgID(Wide(class_ids::kControlProgId).c_str(), &clsid)))
            throw HostCommandError(std::string(class_ids::kControlProgId) + " is not registered (regsvr32 MARLUNE.OCX)");
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                    reinterpret_cast<void**>(&live.d))))
            throw HostCommandError("cannot create " + std::string(class_ids::kControlProgId));
        live.d->GetTypeInfo(0, LOCALE_USER_DEFAULT, &live.info);
        live.d->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&live.oo));
        RECT rect{0, 0, 100, 50};
        if (!live.oo || FAILED(live.oo->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, frame_, &rect))) {
            live.Release();
            throw HostCommandError("cannot activate the control in place");
        }
        live.sink = new EventSink(number, EventTypeInfo(live.d), events_);
        if (FAILED(live.d->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&live.cpc))) ||
            FAILED(live.cpc->FindConnectionPoint(Guid(class_ids::kEventsIid), &live.cp)) ||
            FAILED(live.cp->Advise(live.sink, &live.cookie))) {
            live.Release();
            throw HostCommandError("cannot connect to the control's events");
        }
        controls_[number] = live;
    }

    void Destroy(int number) override {
        auto it = controls_.find(number);
        if (it == controls_.end()) return;
        Live live = it->second;
        controls_.erase(it);
        live.Release();
    }

    MemberCall Call(int number, const std::string& name, CallKind kind, const std::vector<json>& given) override {
        MemberCall m;
        Live& live = controls_.at(number);
        std::wstring wide = Wide(name);
        LPOLESTR names = wide.data();
        DISPID id = DISPID_UNKNOWN;
        m.hr = live.d->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(m.hr)) return m;
        m.found = true;
        Describe(live.info, id, m);
        if (m.member.empty()) m.member = name;

        // Automation takes the arguments last first.
        std::vector<VARIANT> args;
        for (auto it = given.rbegin(); it != given.rend(); ++it) args.push_back(FromJson(*it));
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        WORD flags = kind == CallKind::Method ? DISPATCH_METHOD
                     : kind == CallKind::Get  ? DISPATCH_PROPERTYGET
                                              : DISPATCH_PROPERTYPUT;
        if (kind == CallKind::Put) {
            params.rgdispidNamedArgs = &put;
            params.cNamedArgs = 1;
        }
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO excep{};
        UINT argErr = 0;
        m.hr = live.d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result, &excep, &argErr);
        m.result = ToJson(result);
        m.argErr = argErr;
        if (m.hr == DISP_E_EXCEPTION) {
            if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
            m.description = Utf8(excep.bstrDescription);
            m.scode = excep.scode;
        }
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        VariantClear(&result);
        for (auto& a : args) VariantClear(&a);
        return m;
    }

    double Seconds() const override { return Now(); }

    void RunFor(double seconds) override {
        const double end = Now() + seconds;
        for (;;) {
            PumpOnce();
            // The actions due by now, each once, in order.
            while (!Due().empty() && Due().begin()->first <= Now()) {
                auto action = std::move(Due().begin()->second);
                Due().erase(Due().begin());
                action();
                PumpOnce();
            }
            double now = Now();
            if (now >= end) break;
            double next = Due().empty() ? end : std::min(end, Due().begin()->first);
            DWORD wait = static_cast<DWORD>(std::max(0.0, std::min(next - now, 0.05)) * 1000);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
        }
    }

private:
    struct Live {
        IDispatch* d = nullptr;
        IOleObject* oo = nullptr;
        ITypeInfo* info = nullptr;
        IConnectionPointContainer* cpc = nullptr;
        IConnectionPoint* cp = nullptr;
        DWORD cookie = 0;
        EventSink* sink = nullptr;
        void Release() {
            if (cp) {
                if (cookie) cp->Unadvise(cookie);
                cp->Release();
            }
            if (cpc) cpc->Release();
            if (oo) {
                oo->Close(OLECLOSE_NOSAVE);
                oo->Release();
            }
            if (info) info->Release();
            if (d) d->Release();
            delete sink;
            *this = Live{};
        }
    };
    HWND frame_ = nullptr;
    EventOut events_;
    NoticeOut notices_;
    std::map<int, Live> controls_;
};

}  // namespace

std::unique_ptr<HostTarget> MakeHostTarget() { return std::make_unique<OcxTarget>(); }

void HostAfter(double seconds, std::function<void()> action) { Due().emplace(Now() + seconds, std::move(action)); }

bool HostCallerVoice(const std::string&) {
    throw HostCommandError("the caller's voice needs the virtual modem's sound devices: Linux only");
}

int RunHost(bool, bool) {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    OleInitialize(nullptr);
    {
        JsonHost host([](const json& j) {
            std::cout << j.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
            std::cout.flush();
        });
        try {
            host.CreateControl();
        } catch (const HostCommandError& e) {
            fprintf(stderr, "marlune: %s\n", e.what());
            return 1;
        }
        ServeLines(host);
    }
    OleUninitialize();
    return 0;
}
