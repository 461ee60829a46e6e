// The AT library driven through its exported functions with a callback of
// the test's own, to see what the control's callback does not show: the
// modes of call states and the caller-id fields of LINECALLINFO.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/win32/win_library.h"
#include "tests/atmodem/line_fixture.h"

struct LineMessage {
    DWORD device, message;
    DWORD_PTR p1, p2, p3;
};

class RawLine {
public:
    RawLine() {
        lib_ = LoadLibraryA("TAPI32.DLL");
        EXPECT_NE(lib_, nullptr);
    }
    ~RawLine() {
        if (lib_) FreeLibrary(lib_);
    }
    template <typename Fn>
    Fn Get(const char* name) const {
        return reinterpret_cast<Fn>(GetProcAddress(lib_, name));
    }
    // lineInitializeExA: the number of devices, -1 when it failed.
    LONG Initialize() {
        Messages().clear();
        LINEINITIALIZEEXPARAMS params{};
        params.dwTotalSize = sizeof params;
        params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
        DWORD devices = 0, version = 0x00020002;
        using Init = LONG(WINAPI*)(LPHLINEAPP, HINSTANCE, LINECALLBACK, LPCSTR, LPDWORD, LPDWORD,
                                   LPLINEINITIALIZEEXPARAMS);
        LONG r = Get<Init>("lineInitializeExA")(&app, GetModuleHandleA(nullptr), &RawLine::Callback, "raw", &devices,
                                                &version, &params);
        return r == 0 ? static_cast<LONG>(devices) : -1;
    }
    LONG Open() {
        using OpenFn = LONG(WINAPI*)(HLINEAPP, DWORD, LPHLINE, DWORD, DWORD, DWORD_PTR, DWORD, DWORD, LPLINECALLPARAMS);
        LONG r = Get<OpenFn>("lineOpenA")(app, 0, &line, 0x00020002, 0, 0, LINECALLPRIVILEGE_OWNER,
                                         LINEMEDIAMODE_INTERACTIVEVOICE, nullptr);
        if (r == 0) Get<LONG(WINAPI*)(HLINE, DWORD, DWORD)>("lineSetStatusMessages")(line, LINEDEVSTATE_RINGING, 0);
        return r;
    }
    LONG MakeCall(const char* number) {
        using Make = LONG(WINAPI*)(HLINE, LPHCALL, LPCSTR, DWORD, LPLINECALLPARAMS);
        return Get<Make>("lineMakeCallA")(line, &call, number, 0, nullptr);
    }
    LONG Answer(HCALL h) { return Get<LONG(WINAPI*)(HCALL, LPCSTR, DWORD)>("lineAnswer")(h, nullptr, 0); }
    LONG Drop(HCALL h) { return Get<LONG(WINAPI*)(HCALL, LPCSTR, DWORD)>("lineDrop")(h, nullptr, 0); }
    void Close() {
        if (line) Get<LONG(WINAPI*)(HLINE)>("lineClose")(line);
        line = 0;
    }
    // The call's LINECALLINFO, in a buffer large enough for its strings.
    std::vector<BYTE> CallInfo(HCALL h) const {
        std::vector<BYTE> buf(2048);
        reinterpret_cast<LINECALLINFO*>(buf.data())->dwTotalSize = static_cast<DWORD>(buf.size());
        LONG r = Get<LONG(WINAPI*)(HCALL, LPLINECALLINFO)>("lineGetCallInfoA")(h, reinterpret_cast<LINECALLINFO*>(buf.data()));
        EXPECT_EQ(r, 0);
        return buf;
    }
    static std::string Field(const std::vector<BYTE>& info, DWORD size, DWORD offset) {
        if (!size || offset + size > info.size()) return "";
        return std::string(reinterpret_cast<const char*>(info.data() + offset), size - 1);
    }
    // The call states reported so far, each with its mode.
    static std::vector<std::pair<DWORD, DWORD>> States() {
        std::vector<std::pair<DWORD, DWORD>> s;
        for (auto& m : Messages())
            if (m.message == LINE_CALLSTATE) s.push_back({static_cast<DWORD>(m.p1), static_cast<DWORD>(m.p2)});
        return s;
    }
    static int Count(DWORD message, DWORD_PTR p1) {
        int n = 0;
        for (auto& m : Messages()) n += m.message == message && m.p1 == p1;
        return n;
    }
    // The call of the last LINE_CALLSTATE (an offered call's handle).
    static HCALL LastCall() {
        for (auto it = Messages().rbegin(); it != Messages().rend(); ++it)
            if (it->message == LINE_CALLSTATE) return static_cast<HCALL>(it->device);
        return 0;
    }
    static std::vector<LineMessage>& Messages() {
        static std::vector<LineMessage> m;
        return m;
    }

    HLINEAPP app = 0;
    HLINE line = 0;
    HCALL call = 0;

private:
    static void CALLBACK Callback(DWORD device, DWORD message, DWORD_PTR, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
        Messages().push_back({device, message, p1, p2, p3});
    }
    HMODULE lib_ = nullptr;
};

// A test with the AT library on the simulator, driven through RawLine.
class RawLineTest : public LineTest {
protected:
    void Start(const modemsim::Options& options = modemsim::Options()) {
        caller = std::make_unique<AtCaller>(options);
        raw = std::make_unique<RawLine>();
        ASSERT_EQ(raw->Initialize(), 1);
        ASSERT_EQ(raw->Open(), 0);
        Run(0);
    }
    void TearDown() override {
        if (raw) raw->Close();
        raw.reset();
        caller.reset();
        LineTest::TearDown();
    }
    std::unique_ptr<AtCaller> caller;
    std::unique_ptr<RawLine> raw;
};
