// Wine's ATL container hosts the control: an "AtlAxWin" window made with
// the ProgID creates it, activates it in place (the control gets its own
// window inside the container's) and hands it out through
// AtlAxGetControl; the control then runs its timer on that window and
// fires events to a connected sink; notifications of the line (the
// stand-in TAPI32.DLL beside the program) reach the sink through the
// control that became ActiveControl when its window was created.
// Destroying the container releases the control, which shows its notice.
#include <windows.h>
#include <ocidl.h>

#include "control/front/class_ids.h"
#include "control/front/destruction_notice.h"
#include "tests/wine/com_support.h"
#include "tests/wine/wine_check.h"

namespace {

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

}  // namespace

int main() {
    OleInitialize(nullptr);
    HMODULE atl = LoadLibraryA("atl.dll");
    CHECK(atl != nullptr);
    if (!atl) return 1;
    auto init = reinterpret_cast<AtlAxWinInitFn>(GetProcAddress(atl, "AtlAxWinInit"));
    auto getControl = reinterpret_cast<AtlAxGetControlFn>(GetProcAddress(atl, "AtlAxGetControl"));
    CHECK(init && getControl);
    if (!init || !getControl) return 1;
    CHECK(init());

    HWND frame = CreateWindowExA(0, "STATIC", "container", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 200,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    LONG boxes = 0;
    {
        BoxCloser closer;
        HWND ax = CreateWindowExW(0, L"AtlAxWin", L"MARLUNE.MarluneCtrl.1", WS_CHILD | WS_VISIBLE, 10, 10, 200,
                                  100, frame, nullptr, GetModuleHandleA(nullptr), nullptr);
        CHECK(ax != nullptr);
        IUnknown* unk = nullptr;
        CHECK_EQ(getControl(ax, &unk), S_OK);
        IDispatch* d = nullptr;
        if (unk) unk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
        CHECK(d != nullptr);

        // The control received its window from the container's activation.
        IOleWindow* ow = nullptr;
        HWND hwnd = nullptr;
        if (unk) unk->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&ow));
        CHECK(ow && ow->GetWindow(&hwnd) == S_OK);
        CHECK(IsWindow(hwnd));
        CHECK(IsChild(ax, hwnd) || hwnd == ax);
        char cls[64] = {};
        GetClassNameA(hwnd, cls, sizeof cls);
        CHECK_EQ(std::string(cls), std::string("MarluneCtrl"));
        RECT r{};
        GetClientRect(hwnd, &r);
        CHECK_EQ(r.right - r.left, 200);
        CHECK_EQ(r.bottom - r.top, 100);

        std::vector<EventRecord> journal;
        RecordingSink sink("sink", journal);
        IConnectionPointContainer* cpc = nullptr;
        IConnectionPoint* cp = nullptr;
        DWORD cookie = 0;
        if (d) d->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc));
        CHECK(cpc && cpc->FindConnectionPoint(Guid(class_ids::kEventsIid), &cp) == S_OK);
        CHECK(cp && cp->Advise(&sink, &cookie) == S_OK);
        VARIANT result;
        CHECK(d && Call(d, L"Test", {}, &result) == S_OK);
        Pump(3000, [&] { return !journal.empty(); });
        CHECK_EQ(journal.size(), 1u);
        if (!journal.empty()) CHECK_EQ(journal[0].dispid, 10);  // EndPlayAll from the timer on its window

        // A ring of the line, which arrives outside any method: through ActiveControl.
        HMODULE modem = LoadLibraryA("TAPI32.DLL");
        auto offer = reinterpret_cast<uint32_t (*)(uint32_t, const char*)>(GetProcAddress(modem, "vmodem_Offer"));
        auto ring = reinterpret_cast<int (*)(uint32_t)>(GetProcAddress(modem, "vmodem_Ring"));
        CHECK(offer && ring);
        CHECK(d && Call(d, L"InitLine", {Long(0)}, &result) == S_OK);
        VariantClear(&result);
        CHECK(d && Call(d, L"OpenLine", {Long(0)}, &result) == S_OK);
        CHECK_EQ(V_I4(&result), 0);
        journal.clear();
        if (offer && ring && offer(0, nullptr)) ring(0);
        Pump(3000, [&] { return !journal.empty(); });
        CHECK_EQ(journal.size(), 1u);
        if (!journal.empty()) {
            CHECK_EQ(journal[0].dispid, 9);  // Ring(1)
            CHECK(journal[0].args == std::vector<std::wstring>{L"1"});
        }
        CHECK(d && Call(d, L"CloseLine", {}, &result) == S_OK);

        if (cp) {
            cp->Unadvise(cookie);
            cp->Release();
        }
        if (cpc) cpc->Release();
        if (ow) ow->Release();
        if (d) d->Release();
        if (unk) unk->Release();
        DestroyWindow(ax);  // the container lets go of the control
        Pump(500, [&] { return closer.Closed() > 0; });
        boxes = closer.Closed();
        CHECK_EQ(boxes, 1);
        CHECK_EQ(closer.LastCaption(), std::string(kNoticeCaption));
        CHECK(!IsWindow(hwnd));
    }
    DestroyWindow(frame);
    OleUninitialize();
    std::printf("atl_host_test: %s\n", FailureCount() ? "FAILED" : "ok");
    return Failures();
}
