#include "control/win/connection_point.h"

#include "control/win/dispatch_win.h"
#include "control/win/ocx.h"

namespace ocx {

HRESULT DispatchSink::Invoke(DISPID dispid, const std::vector<Variant>& args) {
    if (!sink_) return S_OK;
    std::vector<VARIANT> v(args.size());
    // DISPPARAMS hold the last argument first.
    for (size_t i = 0; i < args.size(); ++i) ToVariant(args[i], &v[args.size() - 1 - i]);
    DISPPARAMS params{v.empty() ? nullptr : v.data(), nullptr, static_cast<UINT>(v.size()), 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    UINT argErr = 0;
    IDispatch* sink = sink_;
    sink->AddRef();  // the sink may disconnect from inside its handler
    HRESULT hr = sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &excep,
                              &argErr);
    sink->Release();
    VariantClear(&result);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    for (auto& a : v) VariantClear(&a);
    return hr;
}

void DispatchSink::Disconnect() {
    if (sink_) sink_->Release();
    sink_ = nullptr;
}

EventConnectionPoint::~EventConnectionPoint() {
    for (auto& [cookie, sink] : sinks_) ctrl_.CMarluneCtrl::Unadvise(cookie);
}

STDMETHODIMP EventConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP EventConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = EventsIid();
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** cpc) {
    if (!cpc) return E_POINTER;
    *cpc = &owner_;
    owner_.AddRef();
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    IDispatch* disp = nullptr;
    if (FAILED(sink->QueryInterface(EventsIid(), reinterpret_cast<void**>(&disp))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp))))
        return CONNECT_E_CANNOTCONNECT;
    auto adapter = std::make_unique<DispatchSink>(disp);
    DWORD c = ctrl_.CMarluneCtrl::Advise(adapter.get());
    if (!c) return CONNECT_E_CANNOTCONNECT;
    sinks_.emplace(c, std::move(adapter));
    *cookie = c;
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::Unadvise(DWORD cookie) {
    auto it = sinks_.find(cookie);
    if (it == sinks_.end() || !ctrl_.CMarluneCtrl::Unadvise(cookie)) return CONNECT_E_NOCONNECTION;
    it->second->Disconnect();
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::EnumConnections(IEnumConnections** e) {
    if (e) *e = nullptr;
    return E_NOTIMPL;
}

}  // namespace ocx
