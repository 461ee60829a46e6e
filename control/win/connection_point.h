// The control's event connection point for _DMarluneEvents. Each connected
// sink is advised on CMarluneCtrl through an adapter, so events reach the
// sinks synchronously, in the order they connected; a sink's error is
// discarded by the control's firing.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <map>
#include <memory>

#include "control/core/event_sink.h"
#include "control/front/marlune_ctrl.h"

namespace ocx {

// Calls one sink's IDispatch with the event's DISPID as a method.
class DispatchSink final : public IEventSink {
public:
    explicit DispatchSink(IDispatch* sink) : sink_(sink) {}
    ~DispatchSink() override { Disconnect(); }
    HRESULT Invoke(DISPID dispid, const std::vector<Variant>& args) override;
    void Disconnect();

private:
    IDispatch* sink_;
};

class EventConnectionPoint final : public IConnectionPoint {
public:
    // `owner` is the object the point belongs to: it holds the references.
    EventConnectionPoint(IConnectionPointContainer& owner, CMarluneCtrl& ctrl) : owner_(owner), ctrl_(ctrl) {}
    ~EventConnectionPoint();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return owner_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_.Release(); }

    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** cpc) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** e) override;

private:
    IConnectionPointContainer& owner_;
    CMarluneCtrl& ctrl_;
    // Every adapter lives as long as the point: a sink that disconnects
    // while an event is being fired is only marked, never freed under the
    // firing loop.
    std::map<DWORD, std::unique_ptr<DispatchSink>> sinks_;
};

}  // namespace ocx
