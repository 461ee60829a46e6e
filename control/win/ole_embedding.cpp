// OleMarluneControl: embedding in a container (IOleObject), in-place
// activation (IOleInPlaceObject), ambient properties (IOleControl) and
// drawing (IViewObject2).
#include "control/win/ole_control.h"

namespace {

template <typename T>
void Replace(T*& slot, T* value) {
    if (value) value->AddRef();
    if (slot) slot->Release();
    slot = value;
}

// The control's window paints its face: WM_PAINT (and WM_PRINTCLIENT, for
// a container that prints it into its own device context) go to OnDraw
// with the client rectangle; every other message to the control's own
// window procedure.
WNDPROC gControlProc = nullptr;

LRESULT CALLBACK PaintingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* ctrl = reinterpret_cast<CMarluneCtrl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (ctrl && (msg == WM_PAINT || msg == WM_PRINTCLIENT)) {
        RECT client{};
        GetClientRect(hwnd, &client);
        if (msg == WM_PRINTCLIENT) {
            ctrl->OnDraw(reinterpret_cast<HDC>(wParam), client, client);
            return 0;
        }
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        ctrl->OnDraw(dc, client, ps.rcPaint);
        EndPaint(hwnd, &ps);
        return 0;
    }
    return CallWindowProcA(gControlProc, hwnd, msg, wParam, lParam);
}

}  // namespace

// ---- IOleObject --------------------------------------------------------------

STDMETHODIMP OleMarluneControl::SetClientSite(IOleClientSite* site) {
    Replace(site_, site);
    ReadAmbientUserMode();
    return S_OK;
}

STDMETHODIMP OleMarluneControl::GetClientSite(IOleClientSite** site) {
    if (!site) return E_POINTER;
    *site = site_;
    if (site_) site_->AddRef();
    return S_OK;
}

STDMETHODIMP OleMarluneControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

STDMETHODIMP OleMarluneControl::Close(DWORD) {
    InPlaceDeactivate();
    if (adviseHolder_) adviseHolder_->SendOnClose();
    return S_OK;
}

STDMETHODIMP OleMarluneControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }
STDMETHODIMP OleMarluneControl::GetMoniker(DWORD, DWORD, IMoniker** mk) {
    if (mk) *mk = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP OleMarluneControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }
STDMETHODIMP OleMarluneControl::GetClipboardData(DWORD, IDataObject** data) {
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP OleMarluneControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT pos) {
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE:
        case OLEIVERB_UIACTIVATE:
            return ActivateInPlace(site ? site : site_, parent, pos);
        case OLEIVERB_HIDE:
            if (GetSafeHwnd()) ShowWindow(GetSafeHwnd(), SW_HIDE);
            return S_OK;
        case OLEIVERB_PROPERTIES:
            return ShowPropertyPages(parent);
        default:
            return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
    }
}

// In-place activation creates the control's window in the container's
// window; WM_CREATE then runs the control's creation steps. A message-only
// window the control made for itself before becomes that window instead:
// the devices and timers that report to it keep reporting to the same one.
HRESULT OleMarluneControl::ActivateInPlace(IOleClientSite* site, HWND parent, LPCRECT pos) {
    if (GetSafeHwnd() && !HasMessageWindow()) {
        ShowWindow(GetSafeHwnd(), SW_SHOW);
        return S_OK;
    }
    RECT rect = pos ? *pos : RECT{0, 0, 96, 48};
    IOleInPlaceSite* ips = nullptr;
    if (site && SUCCEEDED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&ips)))) {
        if (ips->CanInPlaceActivate() != S_OK) {
            ips->Release();
            return E_FAIL;
        }
        ips->OnInPlaceActivate();
        HWND siteWindow = nullptr;
        if (SUCCEEDED(ips->GetWindow(&siteWindow)) && siteWindow) parent = siteWindow;
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* doc = nullptr;
        RECT posRect{}, clipRect{};
        OLEINPLACEFRAMEINFO frameInfo{};
        frameInfo.cb = sizeof(frameInfo);
        if (SUCCEEDED(ips->GetWindowContext(&frame, &doc, &posRect, &clipRect, &frameInfo))) rect = posRect;
        if (frame) frame->Release();
        if (doc) doc->Release();
        Replace(inPlaceSite_, ips);
        ips->Release();
    }
    if (!parent) return E_INVALIDARG;
    HWND hwnd = HasMessageWindow() ? AdoptMessageWindow(parent, rect) : CreateControlWindow(parent, rect);
    if (!hwnd) return E_FAIL;
    auto previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(hwnd, GWLP_WNDPROC,
                                                                reinterpret_cast<LONG_PTR>(&PaintingProc)));
    if (!gControlProc) gControlProc = previous;
    InvalidateRect(hwnd, nullptr, TRUE);
    return S_OK;
}

HWND OleMarluneControl::AdoptMessageWindow(HWND parent, const RECT& rect) {
    HWND hwnd = GetSafeHwnd();
    if (!SetParent(hwnd, parent)) return nullptr;
    SetWindowLongPtrA(hwnd, GWL_STYLE, WS_CHILD | WS_VISIBLE);
    SetWindowPos(hwnd, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_FRAMECHANGED | SWP_SHOWWINDOW);
    WindowAdopted();
    return hwnd;
}

STDMETHODIMP OleMarluneControl::EnumVerbs(IEnumOLEVERB** e) { return OleRegEnumVerbs(ocx::ControlClsid(), e); }
STDMETHODIMP OleMarluneControl::Update() { return S_OK; }
STDMETHODIMP OleMarluneControl::IsUpToDate() { return S_OK; }

STDMETHODIMP OleMarluneControl::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

STDMETHODIMP OleMarluneControl::GetUserType(DWORD form, LPOLESTR* type) {
    return OleRegGetUserType(ocx::ControlClsid(), form, type);
}

STDMETHODIMP OleMarluneControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    extent_ = *size;
    return S_OK;
}

STDMETHODIMP OleMarluneControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    *size = extent_;
    return S_OK;
}

STDMETHODIMP OleMarluneControl::Advise(IAdviseSink* sink, DWORD* cookie) {
    if (!adviseHolder_) {
        HRESULT hr = CreateOleAdviseHolder(&adviseHolder_);
        if (FAILED(hr)) return hr;
    }
    return adviseHolder_->Advise(sink, cookie);
}

STDMETHODIMP OleMarluneControl::Unadvise(DWORD cookie) {
    return adviseHolder_ ? adviseHolder_->Unadvise(cookie) : OLE_E_NOCONNECTION;
}

STDMETHODIMP OleMarluneControl::EnumAdvise(IEnumSTATDATA** e) {
    if (!e) return E_POINTER;
    *e = nullptr;
    return adviseHolder_ ? adviseHolder_->EnumAdvise(e) : E_FAIL;
}

STDMETHODIMP OleMarluneControl::GetMiscStatus(DWORD, DWORD* status) {
    if (!status) return E_POINTER;
    *status = class_ids::kMiscStatus;
    return S_OK;
}

STDMETHODIMP OleMarluneControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// ---- IOleInPlaceObject ---------------------------------------------------------

STDMETHODIMP OleMarluneControl::GetWindow(HWND* hwnd) {
    if (!hwnd) return E_POINTER;
    *hwnd = GetSafeHwnd();
    return *hwnd ? S_OK : E_FAIL;
}

STDMETHODIMP OleMarluneControl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP OleMarluneControl::InPlaceDeactivate() {
    if (!GetSafeHwnd() && !inPlaceSite_) return S_OK;
    DestroyControlWindow();
    if (inPlaceSite_) {
        IOleInPlaceSite* ips = inPlaceSite_;
        inPlaceSite_ = nullptr;
        ips->OnInPlaceDeactivate();
        ips->Release();
    }
    return S_OK;
}

STDMETHODIMP OleMarluneControl::UIDeactivate() { return S_OK; }

STDMETHODIMP OleMarluneControl::SetObjectRects(LPCRECT pos, LPCRECT) {
    if (!pos) return E_POINTER;
    if (GetSafeHwnd())
        MoveWindow(GetSafeHwnd(), pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
    return S_OK;
}

STDMETHODIMP OleMarluneControl::ReactivateAndUndo() { return E_NOTIMPL; }

// ---- IOleControl -----------------------------------------------------------------

STDMETHODIMP OleMarluneControl::GetControlInfo(CONTROLINFO* info) {
    if (!info) return E_POINTER;
    info->cb = sizeof(CONTROLINFO);
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP OleMarluneControl::OnMnemonic(MSG*) { return E_NOTIMPL; }

STDMETHODIMP OleMarluneControl::OnAmbientPropertyChange(DISPID dispid) {
    if (dispid == DISPID_AMBIENT_USERMODE || dispid == DISPID_UNKNOWN) {
        ReadAmbientUserMode();
        if (GetSafeHwnd()) InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
    }
    return S_OK;
}

STDMETHODIMP OleMarluneControl::FreezeEvents(BOOL freeze) {
    freezeEvents_ += freeze ? 1 : -1;
    return S_OK;
}

// User mode unless the site says otherwise: a site without ambient
// properties, or one that cannot answer, counts as run time.
void OleMarluneControl::ReadAmbientUserMode() {
    bool userMode = true;
    IDispatch* ambient = nullptr;
    if (site_ && SUCCEEDED(site_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambient)))) {
        VARIANT v;
        VariantInit(&v);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        if (SUCCEEDED(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                      &none, &v, nullptr, nullptr)) &&
            SUCCEEDED(VariantChangeType(&v, &v, 0, VT_BOOL)))
            userMode = V_BOOL(&v) != VARIANT_FALSE;
        VariantClear(&v);
        ambient->Release();
    }
    SetAmbientUserMode(userMode);
}

// ---- IViewObject2 ------------------------------------------------------------------

STDMETHODIMP OleMarluneControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds,
                                     LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!dc) return E_INVALIDARG;
    RECT r{};
    if (bounds)
        r = RECT{bounds->left, bounds->top, bounds->right, bounds->bottom};
    else if (GetSafeHwnd())
        GetClientRect(GetSafeHwnd(), &r);
    else
        return E_INVALIDARG;
    OnDraw(dc, r, r);
    return S_OK;
}

STDMETHODIMP OleMarluneControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
    if (colors) *colors = nullptr;
    return S_FALSE;
}

STDMETHODIMP OleMarluneControl::Freeze(DWORD, LONG, void*, DWORD*) { return E_NOTIMPL; }
STDMETHODIMP OleMarluneControl::Unfreeze(DWORD) { return E_NOTIMPL; }

STDMETHODIMP OleMarluneControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    viewAspects_ = aspects;
    viewAdviseFlags_ = flags;
    Replace(viewSink_, sink);
    return S_OK;
}

STDMETHODIMP OleMarluneControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects) *aspects = viewAspects_;
    if (flags) *flags = viewAdviseFlags_;
    if (sink) {
        *sink = viewSink_;
        if (viewSink_) viewSink_->AddRef();
    }
    return S_OK;
}

STDMETHODIMP OleMarluneControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}
