// OleMarluneControl: identity, automation, events, class information,
// persistence and property pages. Embedding and drawing are in
// ole_embedding.cpp.
#include "control/win/ole_control.h"

#include <new>

#include "control/front/automation.h"
#include "control/win/dispatch_win.h"

namespace {

// The stream holds the persistent version, then MonitorDtmf (0 or 1), each
// as a 32-bit little-endian value.
constexpr ULONG kStreamSize = 8;

}  // namespace

OleMarluneControl::OleMarluneControl()
    : CMarluneCtrl(Module::Current()), events_(*static_cast<IConnectionPointContainer*>(this), *this) {
    if (!module().core.instance) module().core.instance = ocx::gInstance;
}

OleMarluneControl::~OleMarluneControl() {
    if (viewSink_) viewSink_->Release();
    if (adviseHolder_) adviseHolder_->Release();
    if (inPlaceSite_) inPlaceSite_->Release();
    if (site_) site_->Release();
}

// ---- IUnknown ----------------------------------------------------------------

STDMETHODIMP OleMarluneControl::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == ocx::DispatchIid())
        *ppv = static_cast<IDispatch*>(this);
    else if (riid == IID_IConnectionPointContainer)
        *ppv = static_cast<IConnectionPointContainer*>(this);
    else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2)
        *ppv = static_cast<IProvideClassInfo2*>(this);
    else if (riid == IID_IOleObject)
        *ppv = static_cast<IOleObject*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject)
        *ppv = static_cast<IOleInPlaceObject*>(this);
    else if (riid == IID_IOleControl)
        *ppv = static_cast<IOleControl*>(this);
    else if (riid == IID_IViewObject || riid == IID_IViewObject2)
        *ppv = static_cast<IViewObject2*>(this);
    else if (riid == IID_IPersist || riid == IID_IPersistStreamInit)
        *ppv = static_cast<IPersistStreamInit*>(this);
    else if (riid == IID_IPersistPropertyBag)
        *ppv = static_cast<IPersistPropertyBag*>(this);
    else if (riid == IID_ISpecifyPropertyPages)
        *ppv = static_cast<ISpecifyPropertyPages*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) OleMarluneControl::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) OleMarluneControl::Release() {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) {
        refs_ = 1;  // guards against re-entry from the destructor's calls
        delete this;
    }
    return n;
}

// ---- IDispatch -----------------------------------------------------------------

STDMETHODIMP OleMarluneControl::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP OleMarluneControl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return ocx::LoadTypeInfo(ocx::DispatchIid(), lcid, info);
}

STDMETHODIMP OleMarluneControl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids || count == 0) return E_POINTER;
    HRESULT hr = automation::GetIDOfName(std::u16string(reinterpret_cast<const char16_t*>(names[0])), &ids[0]);
    // Parameters are not named.
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

STDMETHODIMP OleMarluneControl::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                       VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    if (params->cNamedArgs > (put ? 1u : 0u)) return DISP_E_NONAMEDARGS;
    if (put && params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
        return DISP_E_PARAMNOTFOUND;

    Variant out;
    ExcepInfo error;
    HRESULT hr;
    AddRef();  // a sink called from inside the member may release the host's last reference
    try {
        hr = automation::Invoke(*this, dispid, flags, ocx::Arguments(*params), &out, &error, argErr);
    } catch (const std::exception& e) {
        error.scode = E_FAIL;
        error.source = u"MARLUNE.MarluneCtrl.1";
        error.description = FromAnsi(e.what());
        hr = DISP_E_EXCEPTION;
    }
    if (hr == DISP_E_EXCEPTION) ocx::FillExcepInfo(error, excep);
    if (hr == S_OK && result) ocx::ToVariant(out, result);
    if (hr == S_OK && put) dirty_ = true;
    Release();
    return hr;
}

// ---- IConnectionPointContainer ---------------------------------------------------

STDMETHODIMP OleMarluneControl::EnumConnectionPoints(IEnumConnectionPoints** e) {
    if (e) *e = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP OleMarluneControl::FindConnectionPoint(REFIID riid, IConnectionPoint** cp) {
    if (!cp) return E_POINTER;
    *cp = nullptr;
    if (riid != ocx::EventsIid()) return CONNECT_E_NOCONNECTION;
    *cp = &events_;
    events_.AddRef();
    return S_OK;
}

// ---- IProvideClassInfo2 -------------------------------------------------------------

STDMETHODIMP OleMarluneControl::GetClassInfo(ITypeInfo** info) {
    return ocx::LoadTypeInfo(ocx::ControlClsid(), LOCALE_USER_DEFAULT, info);
}

STDMETHODIMP OleMarluneControl::GetGUID(DWORD kind, GUID* guid) {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = ocx::EventsIid();
    return S_OK;
}

// ---- persistence ------------------------------------------------------------------

STDMETHODIMP OleMarluneControl::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = ocx::ControlClsid();
    return S_OK;
}

STDMETHODIMP OleMarluneControl::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

STDMETHODIMP OleMarluneControl::InitNew() {
    OnResetState();
    dirty_ = false;
    return S_OK;
}

STDMETHODIMP OleMarluneControl::Load(LPSTREAM stream) {
    if (!stream) return E_POINTER;
    DWORD data[2] = {};
    ULONG read = 0;
    HRESULT hr = stream->Read(data, kStreamSize, &read);
    if (FAILED(hr)) return hr;
    if (read != kStreamSize) return E_FAIL;
    PropExchange::Bag bag{{"_Version", Variant::Long(static_cast<LONG>(data[0]))},
                          {"MonitorDtmf", Variant::Bool(data[1] != 0)}};
    PropExchange px(bag, true);
    DoPropExchange(px);
    dirty_ = false;
    return S_OK;
}

STDMETHODIMP OleMarluneControl::Save(LPSTREAM stream, BOOL clearDirty) {
    if (!stream) return E_POINTER;
    PropExchange::Bag bag;
    PropExchange px(bag, false);
    DoPropExchange(px);
    DWORD data[2] = {static_cast<DWORD>(bag["_Version"].lVal), bag["MonitorDtmf"].lVal ? 1u : 0u};
    ULONG written = 0;
    HRESULT hr = stream->Write(data, kStreamSize, &written);
    if (FAILED(hr)) return hr;
    if (written != kStreamSize) return STG_E_MEDIUMFULL;
    if (clearDirty) dirty_ = false;
    return S_OK;
}

STDMETHODIMP OleMarluneControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    size->QuadPart = kStreamSize;
    return S_OK;
}

STDMETHODIMP OleMarluneControl::Load(IPropertyBag* bag, IErrorLog* log) {
    if (!bag) return E_POINTER;
    PropExchange::Bag values;
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    if (SUCCEEDED(bag->Read(L"_Version", &v, log)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4)))
        values["_Version"] = Variant::Long(V_I4(&v));
    VariantClear(&v);
    V_VT(&v) = VT_BOOL;
    if (SUCCEEDED(bag->Read(L"MonitorDtmf", &v, log)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_BOOL)))
        values["MonitorDtmf"] = Variant::Bool(V_BOOL(&v) != VARIANT_FALSE);
    VariantClear(&v);
    PropExchange px(values, true);
    DoPropExchange(px);
    dirty_ = false;
    return S_OK;
}

STDMETHODIMP OleMarluneControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
    if (!bag) return E_POINTER;
    PropExchange::Bag values;
    PropExchange px(values, false);
    DoPropExchange(px);
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = values["_Version"].lVal;
    HRESULT hr = bag->Write(L"_Version", &v);
    if (SUCCEEDED(hr)) {
        V_VT(&v) = VT_BOOL;
        V_BOOL(&v) = values["MonitorDtmf"].lVal ? VARIANT_TRUE : VARIANT_FALSE;
        hr = bag->Write(L"MonitorDtmf", &v);
    }
    if (SUCCEEDED(hr) && clearDirty) dirty_ = false;
    return hr;
}

// ---- ISpecifyPropertyPages ---------------------------------------------------------

STDMETHODIMP OleMarluneControl::GetPages(CAUUID* pages) {
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    pages->pElems[0] = ocx::PageClsid();
    pages->cElems = 1;
    return S_OK;
}

HRESULT OleMarluneControl::ShowPropertyPages(HWND parent) {
    IUnknown* self = static_cast<IDispatch*>(this);
    CLSID page = ocx::PageClsid();
    std::wstring caption = ocx::LoadWideString(1);
    return OleCreatePropertyFrame(parent, 0, 0, caption.c_str(), 1, &self, 1, &page, LOCALE_USER_DEFAULT, 0,
                                  nullptr);
}
