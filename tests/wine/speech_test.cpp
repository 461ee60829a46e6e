// The speech engine control hosted by the OCX under Wine: with the
// stand-in component registered under the speech control's class
// identifier, creating the control's window creates the child with the
// attributes of the speech control's window (text "1", style 0x58000000,
// empty rectangle, id 1000), and the timer that Test starts polls its
// status until speaking has ended before EndPlayAll is fired.
// Usage: speech_test.exe PATH\speech_standin.dll
#include <windows.h>
#include <ocidl.h>

#include "control/front/class_ids.h"
#include "tests/wine/com_support.h"
#include "tests/wine/wine_check.h"


int main(int argc, char** argv) {
    if (argc < 2) return 2;
    OleInitialize(nullptr);
    HMODULE speech = LoadLibraryA(argv[1]);
    CHECK(speech != nullptr);
    if (!speech) return 1;
    auto busyFor = reinterpret_cast<void (*)(DWORD)>(GetProcAddress(speech, "speech_BusyFor"));
    auto statusReads = reinterpret_cast<LONG (*)()>(GetProcAddress(speech, "speech_StatusReads"));
    auto objects = reinterpret_cast<LONG (*)()>(GetProcAddress(speech, "speech_Objects"));
    auto siteWindow = reinterpret_cast<HWND (*)()>(GetProcAddress(speech, "speech_SiteWindow"));
    auto activations = reinterpret_cast<LONG (*)()>(GetProcAddress(speech, "speech_Activations"));
    auto closes = reinterpret_cast<LONG (*)()>(GetProcAddress(speech, "speech_Closes"));
    CHECK(siteWindow && activations && closes);
    if (!siteWindow || !activations || !closes) return 1;
    CHECK(busyFor && statusReads && objects);
    if (!busyFor || !statusReads || !objects) return 1;

    HWND frame = HostFrame();
    {
        BoxCloser closer;
        HostedControl control;
        CHECK(control.Create());
        if (!control.d) return 1;
        IDispatch* d = control.d;
        CHECK_EQ(objects(), 0);  // the speech control comes with the window, not before
        CHECK(control.Activate(frame));
        CHECK_EQ(objects(), 1);
        IOleWindow* ow = nullptr;
        HWND hwnd = nullptr;
        d->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&ow));
        CHECK(ow && ow->GetWindow(&hwnd) == S_OK);
        HWND child = GetDlgItem(hwnd, 1000);
        CHECK(child != nullptr);
        if (child) {
            char text[16] = {};
            GetWindowTextA(child, text, sizeof text);
            CHECK_EQ(std::string(text), std::string("1"));
            CHECK_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)) & 0xFFFF0000ul, 0x58000000ul);
            RECT r{};
            GetWindowRect(child, &r);
            CHECK_EQ(r.right - r.left, 0);
            CHECK_EQ(r.bottom - r.top, 0);
        }
        // Hosted as an ActiveX control: activated in place, in that window.
        CHECK_EQ(activations(), 1);
        CHECK(siteWindow() == child);

        std::vector<EventRecord> journal;
        RecordingSink sink("host", journal);
        CHECK(control.Connect(&sink));

        // While the component speaks, the poll goes on; EndPlayAll follows its end.
        busyFor(400);
        DWORD start = GetTickCount();
        VARIANT r;
        CHECK_EQ(Call(d, L"Test", {}, &r), S_OK);
        Pump(5000, [&] { return !journal.empty(); });
        DWORD took = GetTickCount() - start;
        CHECK_EQ(journal.size(), 1u);
        if (!journal.empty()) CHECK_EQ(journal[0].dispid, 10);
        CHECK(took >= 390);
        CHECK(statusReads() > 5);
        std::printf("EndPlayAll after %lu ms, %ld status reads\n", static_cast<unsigned long>(took),
                    static_cast<long>(statusReads()));

        ow->Release();
        control.Close();
        // The speech control belongs to the module, not to the control: the
        // next control's construction replaces it, and the old one is closed.
        CHECK_EQ(closes(), 0);
        HostedControl next;
        CHECK(next.Create());
        CHECK_EQ(closes(), 1);
        CHECK_EQ(objects(), 0);
        next.Close();
        CHECK_EQ(closer.Closed(), 2);
    }
    DestroyWindow(frame);
    OleUninitialize();
    std::printf("speech_test: %s\n", FailureCount() ? "FAILED" : "ok");
    return Failures();
}
