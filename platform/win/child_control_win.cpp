// Hosting an outside ActiveX control on Windows: the component is created
// in-process from its class id and driven through IDispatch; its child
// window is a plain static window of the given attributes.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

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

class DispatchChild : public ChildControl {
public:
    DispatchChild(HWND hwnd, IDispatch* disp) : hwnd_(hwnd), disp_(disp) {}
    ~DispatchChild() override {
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
    return std::make_unique<DispatchChild>(hwnd, disp);
}
