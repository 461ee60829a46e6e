// A C++ COM host runs the typical incoming call through IDispatch, with
// the events through the connection point: the stand-in TAPI32.DLL (the
// virtual voice modem) plays the caller through its control API, loaded
// by the same name the control binds. Checks the events, the results and
// the bytes of the daily log file (GBK).
#include <windows.h>
#include <ocidl.h>

#include <fstream>
#include <sstream>

#include "control/front/class_ids.h"
#include "tests/wine/com_support.h"
#include "tests/wine/wine_check.h"

namespace {

struct Modem {
    HMODULE dll = nullptr;
    uint32_t (*Offer)(uint32_t, const char*) = nullptr;
    int (*Ring)(uint32_t) = nullptr;
    int (*PressKeys)(uint32_t, const char*) = nullptr;
    int (*HangUp)(uint32_t) = nullptr;
    uint32_t (*CallState)(uint32_t) = nullptr;
    int (*SetDeviceName)(uint32_t, const char*) = nullptr;
    int (*SetWaveIds)(uint32_t, uint32_t, uint32_t) = nullptr;

    bool Load() {
        dll = LoadLibraryA("TAPI32.DLL");
        if (!dll) return false;
        Offer = reinterpret_cast<decltype(Offer)>(GetProcAddress(dll, "vmodem_Offer"));
        Ring = reinterpret_cast<decltype(Ring)>(GetProcAddress(dll, "vmodem_Ring"));
        PressKeys = reinterpret_cast<decltype(PressKeys)>(GetProcAddress(dll, "vmodem_PressKeys"));
        HangUp = reinterpret_cast<decltype(HangUp)>(GetProcAddress(dll, "vmodem_HangUp"));
        CallState = reinterpret_cast<decltype(CallState)>(GetProcAddress(dll, "vmodem_CallState"));
        SetDeviceName = reinterpret_cast<decltype(SetDeviceName)>(GetProcAddress(dll, "vmodem_SetDeviceName"));
        SetWaveIds = reinterpret_cast<decltype(SetWaveIds)>(GetProcAddress(dll, "vmodem_SetWaveIds"));
        return Offer && Ring && PressKeys && HangUp && CallState && SetDeviceName && SetWaveIds;
    }
};

std::wstring Text(const VARIANT& v) { return VariantText(v); }


// The events since `from`, as "Name(args)" text.
std::vector<std::wstring> Since(const std::vector<EventRecord>& j, size_t from) {
    static const wchar_t* names[] = {L"",           L"EndRecord", L"EndPlay",    L"RecordDevOpen",
                                     L"DtmfIn",     L"DisConnected", L"IsConnect", L"TextAll",
                                     L"LineIsFree", L"Ring",      L"EndPlayAll", L"CallIDIn"};
    std::vector<std::wstring> out;
    for (size_t i = from; i < j.size(); ++i) {
        std::wstring e = j[i].dispid >= 1 && j[i].dispid <= 11 ? names[j[i].dispid] : L"?";
        e += L"(";
        for (size_t a = 0; a < j[i].args.size(); ++a) e += (a ? L"," : L"") + j[i].args[a];
        out.push_back(e + L")");
    }
    return out;
}

void CheckEvents(const std::vector<EventRecord>& j, size_t from, std::vector<std::wstring> expected) {
    auto got = Since(j, from);
    CHECK_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size() && i < expected.size(); ++i) CHECK_EQ(got[i], expected[i]);
}

}  // namespace

int main() {
    OleInitialize(nullptr);
    Modem modem;
    CHECK(modem.Load());
    if (!modem.dll) return 1;
    HWND frame = HostFrame();
    {
        BoxCloser closer;
        HostedControl control;
        CHECK(control.Create());
        if (!control.d) return 1;
        IDispatch* d = control.d;
        CHECK(control.Activate(frame));

        std::vector<EventRecord> journal;
        RecordingSink sink("host", journal);
        CHECK(control.Connect(&sink));
        auto pump = [&] { Pump(200, [] { return false; }); };

        // The call's wave devices are Wine's first output and input device.
        modem.SetWaveIds(0, 0, 0);
        WriteVoicePack();

        // 1. The line. Its name is GBK text of the modem, converted at the
        // interface through the ANSI code page (936).
        modem.SetDeviceName(0, "语音调制解调器");
        VARIANT r;
        CHECK_EQ(Call(d, L"InitLine", {Long(0)}, &r), S_OK);
        CHECK_EQ(V_VT(&r), VT_BSTR);
        std::wstring lineName = Text(r);
        VariantClear(&r);
        std::printf("InitLine: %s\n", ToText(lineName).c_str());
        CHECK_EQ(lineName, std::wstring(L"语音调制解调器"));
        CHECK_EQ(Call(d, L"OpenLine", {Long(0)}, &r), S_OK);
        CHECK_EQ(V_I4(&r), 0);

        // 2. An offered call rings three times; the caller id follows the first ring.
        uint32_t hCall = modem.Offer(0, "13800138000");
        CHECK(hCall != 0);
        std::wstring call = std::to_wstring(hCall);
        size_t mark = journal.size();
        for (int i = 0; i < 3; ++i) {
            modem.Ring(0);
            pump();
        }
        CheckEvents(journal, mark, {L"Ring(1)", L"CallIDIn()", L"Ring(2)", L"Ring(3)"});
        CHECK_EQ(Call(d, L"GetTPNO", {}, &r), S_OK);
        CHECK_EQ(Text(r), std::wstring(L"13800138000"));
        VariantClear(&r);

        // 3. Answer: IsConnect with the call handle.
        mark = journal.size();
        CHECK_EQ(Call(d, L"AnswerTp", {}, &r), S_OK);
        pump();
        CheckEvents(journal, mark, {L"IsConnect(" + call + L")"});

        // 4. PlayStr speaks 你好 on the call's device, sound by sound, and
        // EndPlayAll tells the host it has ended.
        mark = journal.size();
        CHECK_EQ(Call(d, L"PlayStr", {Str(L"你好"), Long(0)}, &r), S_OK);
        CHECK_EQ(V_I4(&r), 0);
        Pump(5000, [&] { return journal.size() > mark; });
        CheckEvents(journal, mark, {L"EndPlayAll()"});

        // 5. The caller keys 1 and #.
        CHECK_EQ(Call(d, L"BeginMonitorDtmf", {Long(0)}, &r), S_OK);
        CHECK_EQ(V_I4(&r), 0);
        mark = journal.size();
        modem.PressKeys(0, "1#");
        pump();
        CheckEvents(journal, mark, {L"DtmfIn(" + call + L",1)", L"DtmfIn(" + call + L",#)"});
        CHECK_EQ(Call(d, L"GetDtmf", {}, &r), S_OK);
        CHECK_EQ(Text(r), std::wstring(L"1#"));
        VariantClear(&r);

        // 7. The far end hangs up; the host hangs up too.
        mark = journal.size();
        modem.HangUp(0);
        pump();
        CheckEvents(journal, mark, {L"DisConnected(" + call + L")"});
        mark = journal.size();
        CHECK_EQ(Call(d, L"HandUp", {}, &r), S_OK);
        pump();
        CheckEvents(journal, mark, {L"LineIsFree(" + call + L")"});
        CHECK_EQ(Call(d, L"CloseLine", {}, &r), S_OK);
        CHECK_EQ(V_I4(&r), 0);

        control.Close();
        CHECK_EQ(closer.Closed(), 1);
    }
    // The log: GBK text, stamped entries ending in CR LF TAB.
    std::string log = ReadLog();
    CHECK(!log.empty());
    for (const char* text : {"线路初始化成功!", "线路打开成功", "有震铃", "13800138000", "接收呼叫 ok", "已连接",
                             "收到按钮 : #", "线路已断开", "呼叫空闲",
                             "放音文件:wav\\ni3.wav", "汉字继续..."})
        if (log.find(text) == std::string::npos) {
            std::printf("log lacks: %s\n", ToText(text).c_str());
            ++FailureCount();
        }
    CHECK(log.find(" :\xcf\xdf\xc2\xb7\xb4\xf2\xbf\xaa\xb3\xc9\xb9\xa6\r\n\t") != std::string::npos);  // 线路打开成功 in GBK
    DestroyWindow(frame);
    OleUninitialize();
    std::printf("call_host_test: %s\n", FailureCount() ? "FAILED" : "ok");
    return Failures();
}
