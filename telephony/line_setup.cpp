// Line set-up: registering with the telephony service, opening and closing
// the line, and the wave devices of the current call.
#include <cstring>

#include "telephony/line.h"
#include "telephony/tapi_records.h"

namespace {

constexpr DWORD kRequestedApiVersion = 0x00020002;
constexpr DWORD kInitLineVersion = 0x00010004;  // TAPI 1.4 only
constexpr DWORD kOpenLineLowVersion = 0x00010003;
constexpr DWORD kOpenLineHighVersion = 0x00020001;
constexpr DWORD kDevCapsSize = 1276;
// LINEDEVSTATE_OTHER through LINEDEVSTATE_LOCK, and LINEDEVSTATE_REMOVED.
constexpr DWORD kLineStates = ((LINEDEVSTATE_LOCK << 1) - 1) | LINEDEVSTATE_REMOVED;
// LINEADDRESSSTATE_OTHER through LINEADDRESSSTATE_TERMINALS.
constexpr DWORD kAddressStates = (LINEADDRESSSTATE_TERMINALS << 1) - 1;

struct ErrorText {
    DWORD code;
    const char* text;
};

constexpr ErrorText kInitErrors[] = {
    {LINEERR_INVALAPPNAME, "init err1"}, {LINEERR_OPERATIONFAILED, "init err2"},
    {LINEERR_INIFILECORRUPT, "init err3"}, {LINEERR_INVALPOINTER, "init err4"},
    {LINEERR_REINIT, "init err5"},       {LINEERR_NOMEM, "init err6"},
    {LINEERR_INVALPARAM, "init err7"},
};

constexpr ErrorText kOpenErrors[] = {
    {LINEERR_ALLOCATED, "分配错误"},
    {LINEERR_BADDEVICEID, "设备错误"},
    {LINEERR_INCOMPATIBLEAPIVERSION, "版本错误"},
    {LINEERR_INCOMPATIBLEEXTVERSION, "LINEERR_INCOMPATIBLEEXTVERSION err"},
    {LINEERR_INVALAPPHANDLE, "LINEERR_INVALAPPHANDLE err"},
    {LINEERR_INVALMEDIAMODE, "设备模式错误:LINEERR_INVALMEDIAMODE err"},
    {LINEERR_LINEMAPPERFAILED, "线路错误"},
    {LINEERR_NODRIVER, "驱动错误"},
    {LINEERR_NOMEM, "LINEERR_NOMEM err"},
    {LINEERR_OPERATIONFAILED, "LINEERR_OPERATIONFAILED err"},
    {LINEERR_RESOURCEUNAVAIL, "LINEERR_RESOURCEUNAVAIL err"},
};

template <size_t N>
const char* TextFor(const ErrorText (&table)[N], LONG result) {
    for (const auto& e : table)
        if (static_cast<DWORD>(result) == e.code) return e.text;
    return nullptr;
}

bool Is(LONG result, DWORD code) { return static_cast<DWORD>(result) == code; }

}  // namespace

std::string Line::InitLine(LONG Index) {
    std::string result;

    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
    DWORD numDevs = 0;
    DWORD apiVersion = kRequestedApiVersion;
    HINSTANCE instance = core_.instance ? core_.instance : GetModuleHandleA(nullptr);
    RegisterForCallbacks();
    LONG r = tapi.lineInitializeExA(&hLineApp, instance, &Line::LineCallback, "gszAppName", &numDevs, &apiVersion,
                                     &params);
    if (r != 0) {
        if (const char* text = TextFor(kInitErrors, r)) WriteLog(text);
        result = "-1";
    } else {
        WriteLog("线路初始化成功!");
    }

    DWORD version = 0;
    LINEEXTENSIONID extension{};
    r = tapi.lineNegotiateAPIVersion(hLineApp, static_cast<DWORD>(Index), kInitLineVersion, kInitLineVersion,
                                      &version, &extension);
    if (Is(r, LINEERR_INCOMPATIBLEAPIVERSION)) {
        WriteLog("Version err");
        return std::string();
    }
    if (r == 0) WriteLog("Version ok");

    // The capabilities are fetched again at the needed size, so that a long
    // line name is still returned in full.
    TapiRecord caps;
    DWORD size = kDevCapsSize;
    while (caps.Allocate(size)) {
        r = tapi.lineGetDevCapsA(hLineApp, static_cast<DWORD>(Index), version, 0, caps.as<LINEDEVCAPS>());
        if (r != 0) break;
        if (caps.TooSmall()) {
            size = caps.neededSize();
            continue;
        }
        const LINEDEVCAPS* dc = caps.as<LINEDEVCAPS>();
        result = caps.Text(dc->dwLineNameOffset, dc->dwLineNameSize);
        break;
    }
    return result;
}

LONG Line::OpenLine(LONG Index) {
    if (hLineApp == 0) WriteLog("线路句柄为空");

    LINEEXTENSIONID extension{};
    tapi.lineNegotiateAPIVersion(hLineApp, static_cast<DWORD>(Index), kOpenLineLowVersion, kOpenLineHighVersion,
                                  &dwAPIVersion, &extension);

    LONG r = tapi.lineOpenA(hLineApp, static_cast<DWORD>(Index), &hLine, dwAPIVersion, 0,
                             reinterpret_cast<DWORD_PTR>(this), LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR,
                             LINEMEDIAMODE_AUTOMATEDVOICE, nullptr);
    if (const char* text = TextFor(kOpenErrors, r)) WriteLog(text);
    if (r != 0) {
        WriteLog("线路打开失败");
        return -1;
    }
    WriteLog("线路打开成功");

    if (tapi.lineSetStatusMessages(hLine, kLineStates, kAddressStates) == 0) {
        WriteLog("消息设置成功");
        return 0;
    }
    WriteLog("消息设置成功失败");
    return -2;
}

LONG Line::CloseLine() { return tapi.lineClose(hLine); }

LONG Line::GetOutID(LONG Dev) {
    if (Dev != 0) {
        WriteLog("取输出设备成功");
        return -1;  // the wave mapper
    }
    LONG id = GetLineDeviceId(LINECALLSELECT_CALL, "wave/out");
    if (id == -1) return -1;
    WriteLog("取输出设备成功");
    return id;
}

LONG Line::GetLineDeviceId(DWORD select, const char* deviceClass) {
    TapiRecord id;
    DWORD size = sizeof(VARSTRING);
    while (id.Allocate(size)) {
        HCALL call = select == LINECALLSELECT_CALL ? hCall : 0;
        if (tapi.lineGetIDA(hLine, 0, call, select, id.as<VARSTRING>(), deviceClass) != 0) return -1;
        if (id.TooSmall()) {
            size = id.neededSize();
            continue;
        }
        const VARSTRING* v = id.as<VARSTRING>();
        if (v->dwStringSize < sizeof(DWORD) || !id.Contains(v->dwStringOffset, v->dwStringSize)) return -1;
        DWORD value;
        std::memcpy(&value, id.At(v->dwStringOffset), sizeof value);
        return static_cast<LONG>(value);
    }
    return -1;
}
