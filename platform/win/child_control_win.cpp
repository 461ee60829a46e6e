// Hosting an outside ActiveX control on Windows: the component is created
// in-process from its class id and driven through IDispatch. Its site is a
// child window of the given attributes; a component that is an OLE object
// gets a client site and is activated in place inside that window.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "platform/child_control.h"
#include "platform/code_page.h"

namespace {

// ANSI text as a zero-terminated OLE string, and back.
std::u16string Widen(const std::string& ansi) { return codepage::ToWide(CP_ACP, ansi); }
const OLECHAR* Ole(const std::u16string& wide) { return reinterpret_cast<const OLECHAR*>(wide.c_str()); }

std::string Narrow(const OLECHAR* wide) {
    if (!wide) return std::string();
    return codepage::FromWide(CP_ACP, std::u16string(reinterpret_cast<const char16_t*>(wide)));
}

// The client site of the hosted control: its window is the child window of
// the given attributes, in which the control is activated in place.
class ChildSite final : public IOleClientSite, public IOleInPlaceSite {
public:
    explicit ChildSite(HWND window) : window_(window) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *ppv = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
            *ppv = static_cast<IOleInPlaceSite*>(this);
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
    // IOleClientSite
    STDMETHODIMP SaveObject() override { return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** mk) override {
        if (mk) *mk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** c) override {
        if (c) *c = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    // IOleWindow / IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* hwnd) override {
        if (!hwnd) return E_POINTER;
        *hwnd = window_;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override {
        if (frame) *frame = nullptr;
        if (doc) *doc = nullptr;
        RECT r{};
        GetClientRect(window_, &r);
        if (pos) *pos = r;
        if (clip) *clip = r;
        if (info) {
            info->fMDIApp = FALSE;
            info->hwndFrame = GetParent(window_);
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

private:
    LONG refs_ = 1;
    HWND window_;
};

class DispatchChild : public ChildControl {
public:
    DispatchChild(HWND hwnd, IDispatch* disp, IOleObject* ole, ChildSite* site)
        : hwnd_(hwnd), disp_(disp), ole_(ole), site_(site) {}
    ~DispatchChild() override {
        if (ole_) {
            ole_->Close(OLECLOSE_NOSAVE);
            ole_->SetClientSite(nullptr);
            ole_->Release();
        }
        if (site_) site_->Release();
        disp_->Release();
        if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    }
    HWND hwnd() const override { return hwnd_; }

    HRESULT PutLong(DISPID dispid, LONG value) override {
        VARIANTARG arg;
        VariantInit(&arg);
        arg.vt = VT_I4;
        arg.lVal = value;
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{&arg, &named, 1, 1};
        return Invoke(dispid, DISPATCH_PROPERTYPUT, params, nullptr);
    }

    HRESULT CallWithString(DISPID dispid, const std::string& text) override {
        VARIANTARG arg;
        VariantInit(&arg);
        arg.vt = VT_BSTR;
        arg.bstrVal = SysAllocString(Ole(Widen(text)));
        DISPPARAMS params{&arg, nullptr, 1, 0};
        HRESULT hr = Invoke(dispid, DISPATCH_METHOD, params, nullptr);
        VariantClear(&arg);
        return hr;
    }

    HRESULT GetLong(DISPID dispid, LONG* value) override {
        VARIANT result;
        VariantInit(&result);
        DISPPARAMS params{nullptr, nullptr, 0, 0};
        HRESULT hr = Invoke(dispid, DISPATCH_PROPERTYGET, params, &result);
        if (SUCCEEDED(hr)) hr = VariantChangeType(&result, &result, 0, VT_I4);
        if (SUCCEEDED(hr) && value) *value = result.lVal;
        VariantClear(&result);
        return hr;
    }

    std::string LastErrorDescription() const override { return error_; }

private:
    HRESULT Invoke(DISPID dispid, WORD flags, DISPPARAMS& params, VARIANT* result) {
        EXCEPINFO excep{};
        UINT argErr = 0;
        HRESULT hr = disp_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &excep, &argErr);
        if (FAILED(hr)) {
            error_ = excep.bstrDescription ? Narrow(excep.bstrDescription) : "speech engine error";
            if (hr == DISP_E_EXCEPTION && excep.scode) hr = excep.scode;
        }
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        return hr;
    }

    HWND hwnd_;
    IDispatch* disp_;
    IOleObject* ole_;
    ChildSite* site_;
    std::string error_;
};

}  // namespace

std::unique_ptr<ChildControl> CreateChildControl(const char* clsid, HWND parent, const char* windowText, DWORD style,
                                                 const RECT& rect, UINT childId) {
    CLSID id;
    std::u16string text = Widen(clsid ? clsid : "");
    if (FAILED(CLSIDFromString(const_cast<LPOLESTR>(Ole(text)), &id))) return nullptr;
    IDispatch* disp = nullptr;
    if (FAILED(CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&disp))) ||
        !disp)
        return nullptr;
    HWND hwnd = CreateWindowExA(0, "STATIC", windowText, style, rect.left, rect.top, rect.right - rect.left,
                                rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(childId)),
                                GetModuleHandleA(nullptr), nullptr);
    if (!hwnd) {
        disp->Release();
        return nullptr;
    }
    // An OLE object: its site first, then new state, then in-place
    // activation in the child window.
    IOleObject* ole = nullptr;
    ChildSite* site = nullptr;
    if (SUCCEEDED(disp->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole))) && ole) {
        site = new ChildSite(hwnd);
        ole->SetClientSite(site);
        IPersistStreamInit* init = nullptr;
        if (SUCCEEDED(disp->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&init))) && init) {
            init->InitNew();
            init->Release();
        }
        RECT inner{0, 0, rect.right - rect.left, rect.bottom - rect.top};
        ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, hwnd, &inner);
    }
    return std::make_unique<DispatchChild>(hwnd, disp, ole, site);
}
