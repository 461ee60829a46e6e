// MARLUNE.OCX as a module and as COM objects, loaded straight from its
// file: the four exports, class factories and DllCanUnloadNow, dispatch by
// name with exceptions, the event connection point (order, failing sink,
// disconnection), in-place activation creating the window, ambient user
// mode and drawing, persistence of MonitorDtmf, the property page, and
// the destruction notice.
// Usage: ocx_object_test.exe PATH\MARLUNE.OCX registered|unregistered
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "control/front/class_ids.h"
#include "control/front/destruction_notice.h"
#include "tests/wine/com_support.h"
#include "tests/wine/wine_check.h"

namespace {

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using SimpleFn = HRESULT(WINAPI*)();

struct Module {
    HMODULE dll = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    SimpleFn canUnloadNow = nullptr;

    IClassFactory* Factory(const char* clsid) {
        IClassFactory* f = nullptr;
        getClassObject(Guid(clsid), IID_IClassFactory, reinterpret_cast<void**>(&f));
        return f;
    }
    IDispatch* NewControl() {
        IClassFactory* f = Factory(class_ids::kControlClsid);
        IDispatch* d = nullptr;
        if (f) {
            f->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&d));
            f->Release();
        }
        return d;
    }
};

template <typename T>
T* Query(IUnknown* u, REFIID iid) {
    T* p = nullptr;
    if (u) u->QueryInterface(iid, reinterpret_cast<void**>(&p));
    return p;
}

void ExportsAndUnloading(Module& m, bool registered) {
    CHECK(GetProcAddress(m.dll, "DllRegisterServer") != nullptr);
    CHECK(GetProcAddress(m.dll, "DllUnregisterServer") != nullptr);
    CHECK(m.getClassObject != nullptr);
    CHECK(m.canUnloadNow != nullptr);
    CHECK_EQ(m.canUnloadNow(), S_OK);
    if (!registered) {
        // Nothing to unregister: the type library step fails first.
        auto unregister = reinterpret_cast<SimpleFn>(GetProcAddress(m.dll, "DllUnregisterServer"));
        CHECK(unregister && unregister() == SELFREG_E_TYPELIB);
    }

    IClassFactory* bogus = nullptr;
    CHECK_EQ(m.getClassObject(IID_IDispatch, IID_IClassFactory, reinterpret_cast<void**>(&bogus)),
             CLASS_E_CLASSNOTAVAILABLE);

    IClassFactory* f = m.Factory(class_ids::kControlClsid);
    CHECK(f != nullptr);
    if (!f) return;
    CHECK_EQ(m.canUnloadNow(), S_FALSE);  // the factory is an object of the module
    IUnknown* outer = f;
    IUnknown* aggregated = nullptr;
    CHECK_EQ(f->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&aggregated)), CLASS_E_NOAGGREGATION);
    CHECK_EQ(f->LockServer(TRUE), S_OK);
    f->Release();
    CHECK_EQ(m.canUnloadNow(), S_FALSE);  // the lock holds
    f = m.Factory(class_ids::kControlClsid);
    f->LockServer(FALSE);
    f->Release();
    CHECK_EQ(m.canUnloadNow(), S_OK);

    IDispatch* page = nullptr;
    IClassFactory* pf = m.Factory(class_ids::kPageClsid);
    CHECK(pf != nullptr);
    if (pf) {
        pf->CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void**>(&page));
        pf->Release();
    }
    CHECK(page != nullptr);
    CHECK_EQ(m.canUnloadNow(), S_FALSE);
    if (page) page->Release();
    CHECK_EQ(m.canUnloadNow(), S_OK);
}

void DispatchByName(Module& m, bool registered) {
    IDispatch* d = m.NewControl();
    CHECK(d != nullptr);
    if (!d) return;
    VARIANT r;
    CHECK_EQ(Call(d, L"getdialogicvbus", {}, &r), S_OK);  // names without regard to case
    CHECK_EQ(V_VT(&r), VT_I4);
    CHECK_EQ(V_I4(&r), 0);
    CHECK_EQ(Call(d, L"MakeParty", {Long(7)}, &r), S_OK);
    CHECK_EQ(V_I4(&r), 0);
    CHECK_EQ(Call(d, L"NoSuchMember", {}, &r), DISP_E_UNKNOWNNAME);
    CHECK_EQ(Call(d, L"OpenLine", {}, &r), DISP_E_BADPARAMCOUNT);
    UINT argErr = 99;
    CHECK_EQ(CallByName(d, L"CallOut", DISPATCH_METHOD, {Str(L"x"), Str(L"555")}, &r, nullptr, &argErr),
             DISP_E_TYPEMISMATCH);
    CHECK_EQ(argErr, 1u);  // counted from the last argument

    CHECK_EQ(PutProperty(d, L"OutID", Long(42)), S_OK);
    CHECK_EQ(CallByName(d, L"OutID", DISPATCH_PROPERTYGET, {}, &r), S_OK);
    CHECK_EQ(V_I4(&r), 42);
    CHECK_EQ(CallByName(d, L"MonitorDtmf", DISPATCH_PROPERTYGET, {}, &r), S_OK);
    CHECK_EQ(V_VT(&r), VT_BOOL);
    CHECK_EQ(V_BOOL(&r), VARIANT_FALSE);

    // A member that raises (no character sound index in the work folder):
    // DISP_E_EXCEPTION with the record filled.
    EXCEPINFO ex{};
    CHECK_EQ(Call(d, L"PlayStr", {Str(L"\u4f60"), Long(1)}, &r, &ex), DISP_E_EXCEPTION);
    CHECK_EQ(static_cast<unsigned long>(ex.scode), 0x800A0035ul);
    CHECK(ex.bstrDescription != nullptr && std::wstring(ex.bstrDescription).find(L"hanzi.dat") != std::wstring::npos);
    CHECK_EQ(std::wstring(ex.bstrSource ? ex.bstrSource : L""), std::wstring(L"MARLUNE.MarluneCtrl.1"));
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrHelpFile);

    // Type information comes from the registered library only.
    ITypeInfo* info = nullptr;
    HRESULT hr = d->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    if (registered) {
        CHECK_EQ(hr, S_OK);
        TYPEATTR* attr = nullptr;
        if (info && SUCCEEDED(info->GetTypeAttr(&attr))) {
            CHECK_EQ(attr->guid, Guid(class_ids::kDispatchIid));
            info->ReleaseTypeAttr(attr);
        }
    } else {
        CHECK(FAILED(hr));
        CHECK(info == nullptr);
    }
    if (info) info->Release();

    auto* ci = Query<IProvideClassInfo2>(d, IID_IProvideClassInfo2);
    CHECK(ci != nullptr);
    if (ci) {
        GUID g{};
        CHECK_EQ(ci->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &g), S_OK);
        CHECK_EQ(g, Guid(class_ids::kEventsIid));
        ITypeInfo* cls = nullptr;
        CHECK_EQ(SUCCEEDED(ci->GetClassInfo(&cls)), registered);
        if (cls) cls->Release();
        ci->Release();
    }
    auto* oo = Query<IOleObject>(d, IID_IOleObject);
    DWORD misc = 0;
    CHECK(oo && oo->GetMiscStatus(DVASPECT_CONTENT, &misc) == S_OK);
    CHECK_EQ(misc, 0x20191ul);
    if (oo) oo->Release();
    auto* pages = Query<ISpecifyPropertyPages>(d, IID_ISpecifyPropertyPages);
    CAUUID list{};
    CHECK(pages && pages->GetPages(&list) == S_OK);
    CHECK_EQ(list.cElems, 1ul);
    if (list.cElems == 1) CHECK_EQ(list.pElems[0], Guid(class_ids::kPageClsid));
    CoTaskMemFree(list.pElems);
    if (pages) pages->Release();
    d->Release();
}

void EventsThroughTheConnectionPoint(Module& m, HWND parent) {
    IDispatch* d = m.NewControl();
    if (!d) return;
    auto* cpc = Query<IConnectionPointContainer>(d, IID_IConnectionPointContainer);
    CHECK(cpc != nullptr);
    if (!cpc) return;
    IConnectionPoint* cp = nullptr;
    CHECK_EQ(cpc->FindConnectionPoint(IID_IDispatch, &cp), CONNECT_E_NOCONNECTION);
    CHECK_EQ(cpc->FindConnectionPoint(Guid(class_ids::kEventsIid), &cp), S_OK);
    std::vector<EventRecord> journal;
    RecordingSink failing("failing", journal, true), second("second", journal);
    DWORD c1 = 0, c2 = 0;
    CHECK_EQ(cp->Advise(&failing, &c1), S_OK);
    CHECK_EQ(cp->Advise(&second, &c2), S_OK);

    // No window before activation; in-place activation creates it.
    auto* ipo = Query<IOleInPlaceObject>(d, IID_IOleInPlaceObject);
    HWND hwnd = nullptr;
    CHECK(ipo && FAILED(ipo->GetWindow(&hwnd)));
    auto* oo = Query<IOleObject>(d, IID_IOleObject);
    RECT rect{0, 0, 120, 60};
    CHECK(oo && oo->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, parent, &rect) == S_OK);
    CHECK(ipo && ipo->GetWindow(&hwnd) == S_OK);
    CHECK(IsWindow(hwnd));
    CHECK_EQ(GetParent(hwnd), parent);
    CHECK(FindWindowExA(hwnd, nullptr, nullptr, nullptr) == nullptr);  // no speech engine registered here

    // The window paints the run-time face: the button-face colour.
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 120, 60);
    HGDIOBJ old = SelectObject(mem, bmp);
    RECT all{0, 0, 120, 60};
    FillRect(mem, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SendMessageA(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT);
    COLORREF face = GetNearestColor(mem, GetSysColor(COLOR_BTNFACE));
    CHECK_EQ(GetPixel(mem, 1, 1), face);
    CHECK_EQ(GetPixel(mem, 60, 30), face);
    CHECK_EQ(GetPixel(mem, 118, 58), face);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);

    // Test() starts the timer; its first tick ends the (empty) list.
    VARIANT r;
    CHECK_EQ(Call(d, L"Test", {}, &r), S_OK);
    CHECK_EQ(V_I4(&r), 0);
    Pump(3000, [&] { return journal.size() >= 2; });
    CHECK_EQ(journal.size(), 2u);
    if (journal.size() >= 2) {
        CHECK_EQ(journal[0].sink, std::string("failing"));
        CHECK_EQ(journal[1].sink, std::string("second"));
        CHECK_EQ(journal[0].dispid, 10);  // EndPlayAll
        CHECK_EQ(journal[1].dispid, 10);
    }
    CHECK_EQ(cp->Unadvise(c2), S_OK);
    CHECK_EQ(cp->Unadvise(c2), CONNECT_E_NOCONNECTION);
    journal.clear();
    Call(d, L"Test", {}, &r);
    Pump(3000, [&] { return !journal.empty(); });
    Pump(100, [] { return false; });
    CHECK_EQ(journal.size(), 1u);
    if (!journal.empty()) CHECK_EQ(journal[0].sink, std::string("failing"));
    cp->Unadvise(c1);
    cp->Release();
    cpc->Release();
    if (oo) {
        oo->Close(OLECLOSE_NOSAVE);
        oo->Release();
    }
    CHECK(!IsWindow(hwnd));
    if (ipo) ipo->Release();
    d->Release();
}

// The face: button-face colour everywhere; icon 201 at (10, 10) in design
// mode only.
void AmbientUserModeAndDrawing(Module& m) {
    for (bool userMode : {true, false}) {
        IDispatch* d = m.NewControl();
        if (!d) return;
        AmbientSite site(userMode);
        auto* oo = Query<IOleObject>(d, IID_IOleObject);
        CHECK(oo && oo->SetClientSite(&site) == S_OK);
        auto* view = Query<IViewObject2>(d, IID_IViewObject2);
        CHECK(view != nullptr);
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bmp = CreateCompatibleBitmap(screen, 64, 64);
        HGDIOBJ old = SelectObject(dc, bmp);
        RECTL bounds{0, 0, 64, 64};
        CHECK(view && view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr,
                                 0) == S_OK);
        COLORREF face = GetNearestColor(dc, GetSysColor(COLOR_BTNFACE));
        CHECK_EQ(GetPixel(dc, 2, 2), face);
        CHECK_EQ(GetPixel(dc, 60, 60), face);
        int differing = 0;
        for (int y = 10; y < 42; ++y)
            for (int x = 10; x < 42; ++x) differing += GetPixel(dc, x, y) != face;
        if (userMode)
            CHECK_EQ(differing, 0);
        else
            CHECK(differing > 100);
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
        if (view) view->Release();
        if (oo) {
            oo->SetClientSite(nullptr);
            oo->Release();
        }
        d->Release();
    }
}

void Persistence(Module& m) {
    IDispatch* d = m.NewControl();
    if (!d) return;
    auto* ps = Query<IPersistStreamInit>(d, IID_IPersistStreamInit);
    CHECK(ps != nullptr);
    if (!ps) return;
    CHECK_EQ(ps->InitNew(), S_OK);
    CHECK_EQ(ps->IsDirty(), S_FALSE);
    CHECK_EQ(PutProperty(d, L"MonitorDtmf", Bool(true)), S_OK);
    CHECK_EQ(ps->IsDirty(), S_OK);
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    CHECK_EQ(ps->Save(stream, TRUE), S_OK);
    CHECK_EQ(ps->IsDirty(), S_FALSE);
    HGLOBAL mem = nullptr;
    GetHGlobalFromStream(stream, &mem);
    auto* bytes = static_cast<const DWORD*>(GlobalLock(mem));
    CHECK_EQ(bytes[0], 0x00010000ul);  // the persistent version
    CHECK_EQ(bytes[1], 1ul);
    GlobalUnlock(mem);

    IDispatch* d2 = m.NewControl();
    auto* ps2 = Query<IPersistStreamInit>(d2, IID_IPersistStreamInit);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    CHECK(ps2 && ps2->Load(stream) == S_OK);
    VARIANT r;
    CHECK_EQ(CallByName(d2, L"MonitorDtmf", DISPATCH_PROPERTYGET, {}, &r), S_OK);
    CHECK_EQ(V_BOOL(&r), VARIANT_TRUE);
    CHECK_EQ(ps2->InitNew(), S_OK);  // reset: back to the default
    CallByName(d2, L"MonitorDtmf", DISPATCH_PROPERTYGET, {}, &r);
    CHECK_EQ(V_BOOL(&r), VARIANT_FALSE);

    // Property bags: the version and MonitorDtmf by name.
    auto* pb = Query<IPersistPropertyBag>(d, IID_IPersistPropertyBag);
    MapPropertyBag bag;
    CHECK(pb && pb->Save(&bag, TRUE, TRUE) == S_OK);
    CHECK_EQ(V_VT(&bag.values[L"MonitorDtmf"]), VT_BOOL);
    CHECK_EQ(V_BOOL(&bag.values[L"MonitorDtmf"]), VARIANT_TRUE);
    CHECK_EQ(V_I4(&bag.values[L"_Version"]), 0x00010000);
    auto* pb2 = Query<IPersistPropertyBag>(d2, IID_IPersistPropertyBag);
    CHECK(pb2 && pb2->Load(&bag, nullptr) == S_OK);
    CallByName(d2, L"MonitorDtmf", DISPATCH_PROPERTYGET, {}, &r);
    CHECK_EQ(V_BOOL(&r), VARIANT_TRUE);
    MapPropertyBag empty;
    CHECK(pb2 && pb2->Load(&empty, nullptr) == S_OK);
    CallByName(d2, L"MonitorDtmf", DISPATCH_PROPERTYGET, {}, &r);
    CHECK_EQ(V_BOOL(&r), VARIANT_FALSE);  // missing: the default

    if (pb) pb->Release();
    if (pb2) pb2->Release();
    stream->Release();
    ps->Release();
    if (ps2) ps2->Release();
    d->Release();
    if (d2) d2->Release();
}

void PropertyPage(Module& m, HWND parent) {
    IClassFactory* f = m.Factory(class_ids::kPageClsid);
    IPropertyPage* page = nullptr;
    if (f) {
        f->CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void**>(&page));
        f->Release();
    }
    CHECK(page != nullptr);
    if (!page) return;
    PROPPAGEINFO info{};
    CHECK_EQ(page->GetPageInfo(&info), S_OK);
    CHECK_EQ(std::wstring(info.pszTitle ? info.pszTitle : L""), std::wstring(L"General"));
    LONG units = GetDialogBaseUnits();
    CHECK_EQ(info.size.cx, MulDiv(250, LOWORD(units), 4));
    CHECK_EQ(info.size.cy, MulDiv(62, HIWORD(units), 8));
    CoTaskMemFree(info.pszTitle);
    RECT rect{0, 0, info.size.cx, info.size.cy};
    CHECK_EQ(page->Activate(parent, &rect, FALSE), S_OK);
    HWND dialog = FindWindowExA(parent, nullptr, "#32770", nullptr);
    CHECK(dialog != nullptr);
    int items = 0;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32] = {};
        GetClassNameA(c, cls, sizeof cls);
        CHECK_EQ(std::string(cls), std::string("Static"));
        ++items;
    }
    CHECK_EQ(items, 1);
    CHECK_EQ(page->IsPageDirty(), S_FALSE);
    CHECK_EQ(page->Deactivate(), S_OK);
    CHECK(!IsWindow(dialog));
    page->Release();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    bool registered = std::string(argv[2]) == "registered";
    OleInitialize(nullptr);
    Module m;
    m.dll = LoadLibraryA(argv[1]);
    CHECK(m.dll != nullptr);
    if (!m.dll) return 1;
    m.getClassObject = reinterpret_cast<GetClassObjectFn>(GetProcAddress(m.dll, "DllGetClassObject"));
    m.canUnloadNow = reinterpret_cast<SimpleFn>(GetProcAddress(m.dll, "DllCanUnloadNow"));
    HWND parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    LONG boxes = 0;
    {
        BoxCloser closer;
        ExportsAndUnloading(m, registered);
        DispatchByName(m, registered);
        EventsThroughTheConnectionPoint(m, parent);
        AmbientUserModeAndDrawing(m);
        Persistence(m);
        PropertyPage(m, parent);
        boxes = closer.Closed();
        // One notice per destroyed control, in Big5 bytes.
        CHECK_EQ(boxes, 6);
        CHECK_EQ(closer.LastCaption(), std::string(kNoticeCaption));
    }
    CHECK_EQ(m.canUnloadNow(), S_OK);
    DestroyWindow(parent);
    OleUninitialize();
    std::printf("ocx_object_test: %s (%ld notices)\n", FailureCount() ? "FAILED" : "ok", static_cast<long>(boxes));
    return Failures();
}
