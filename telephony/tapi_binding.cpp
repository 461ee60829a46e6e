#include "telephony/tapi_binding.h"

#include "control/module.h"

namespace {

constexpr LONG kUnavailable = static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);

constexpr const char* kEntryNames[kTapiEntryCount] = {
    "lineAnswer",
    "lineClose",
    "lineDrop",
    "lineGetCallInfoA",
    "lineGetDevCapsA",
    "lineGetIDA",
    "lineGetTranslateCapsA",
    "lineInitializeExA",
    "lineMakeCallA",
    "lineMonitorDigits",
    "lineNegotiateAPIVersion",
    "lineOpenA",
    "lineSetStatusMessages",
    "lineTranslateAddress",
};

// Calls entry `e` with the caller's arguments, binding it on first use.
template <typename Fn, typename... Args>
LONG CallEntry(TapiEntry e, Args... args) {
    Module& module = Module::Current();
    FARPROC& slot = module.tapi.entry[e];
    if (!slot) {
        LONG r = BindTapiEntry(module, kEntryNames[e], slot);
        if (r != 0) {
            slot = TapiUnavailableEntry();
            return r;
        }
    }
    if (slot == TapiUnavailableEntry()) return kUnavailable;
    return reinterpret_cast<Fn>(slot)(args...);
}

}  // namespace

HMODULE TapiUnavailableLibrary() { return reinterpret_cast<HMODULE>(static_cast<intptr_t>(-1)); }
FARPROC TapiUnavailableEntry() { return reinterpret_cast<FARPROC>(static_cast<intptr_t>(-1)); }
const char* TapiEntryName(TapiEntry e) { return kEntryNames[e]; }

LONG BindTapiEntry(Module& module, const char* name, FARPROC& slot) {
    TapiBinding& b = module.tapi;
    if (!b.library) {
        b.library = LoadLibraryA("TAPI32.DLL");
        if (!b.library) b.library = TapiUnavailableLibrary();
    }
    if (b.library == TapiUnavailableLibrary()) return kUnavailable;
    slot = GetProcAddress(b.library, name);
    return slot ? 0 : kUnavailable;
}

namespace tapi {

LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    using Fn = LONG(WINAPI*)(HCALL, LPCSTR, DWORD);
    return CallEntry<Fn>(kLineAnswer, hCall, lpsUserUserInfo, dwSize);
}

LONG lineClose(HLINE hLine) {
    using Fn = LONG(WINAPI*)(HLINE);
    return CallEntry<Fn>(kLineClose, hLine);
}

LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    using Fn = LONG(WINAPI*)(HCALL, LPCSTR, DWORD);
    return CallEntry<Fn>(kLineDrop, hCall, lpsUserUserInfo, dwSize);
}

LONG lineGetCallInfoA(HCALL hCall, LPLINECALLINFO lpCallInfo) {
    using Fn = LONG(WINAPI*)(HCALL, LPLINECALLINFO);
    return CallEntry<Fn>(kLineGetCallInfoA, hCall, lpCallInfo);
}

LONG lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                     LPLINEDEVCAPS lpLineDevCaps) {
    using Fn = LONG(WINAPI*)(HLINEAPP, DWORD, DWORD, DWORD, LPLINEDEVCAPS);
    return CallEntry<Fn>(kLineGetDevCapsA, hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
}

LONG lineGetIDA(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                LPCSTR lpszDeviceClass) {
    using Fn = LONG(WINAPI*)(HLINE, DWORD, HCALL, DWORD, LPVARSTRING, LPCSTR);
    return CallEntry<Fn>(kLineGetIDA, hLine, dwAddressID, hCall, dwSelect, lpDeviceID, lpszDeviceClass);
}

LONG lineGetTranslateCapsA(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps) {
    using Fn = LONG(WINAPI*)(HLINEAPP, DWORD, LPLINETRANSLATECAPS);
    return CallEntry<Fn>(kLineGetTranslateCapsA, hLineApp, dwAPIVersion, lpTranslateCaps);
}

LONG lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                       LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                       LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams) {
    using Fn = LONG(WINAPI*)(LPHLINEAPP, HINSTANCE, LINECALLBACK, LPCSTR, LPDWORD, LPDWORD, LPLINEINITIALIZEEXPARAMS);
    return CallEntry<Fn>(kLineInitializeExA, lphLineApp, hInstance, lpfnCallback, lpszFriendlyAppName, lpdwNumDevs,
                         lpdwAPIVersion, lpLineInitializeExParams);
}

LONG lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                   LPLINECALLPARAMS lpCallParams) {
    using Fn = LONG(WINAPI*)(HLINE, LPHCALL, LPCSTR, DWORD, LPLINECALLPARAMS);
    return CallEntry<Fn>(kLineMakeCallA, hLine, lphCall, lpszDestAddress, dwCountryCode, lpCallParams);
}

LONG lineMonitorDigits(HCALL hCall, DWORD dwDigitModes) {
    using Fn = LONG(WINAPI*)(HCALL, DWORD);
    return CallEntry<Fn>(kLineMonitorDigits, hCall, dwDigitModes);
}

LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                             LPDWORD lpdwAPIVersion, LPLINEEXTENSIONID lpExtensionID) {
    using Fn = LONG(WINAPI*)(HLINEAPP, DWORD, DWORD, DWORD, LPDWORD, LPLINEEXTENSIONID);
    return CallEntry<Fn>(kLineNegotiateAPIVersion, hLineApp, dwDeviceID, dwAPILowVersion, dwAPIHighVersion,
                         lpdwAPIVersion, lpExtensionID);
}

LONG lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
               DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes, LPLINECALLPARAMS lpCallParams) {
    using Fn = LONG(WINAPI*)(HLINEAPP, DWORD, LPHLINE, DWORD, DWORD, DWORD_PTR, DWORD, DWORD, LPLINECALLPARAMS);
    return CallEntry<Fn>(kLineOpenA, hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion, dwCallbackInstance,
                         dwPrivileges, dwMediaModes, lpCallParams);
}

LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) {
    using Fn = LONG(WINAPI*)(HLINE, DWORD, DWORD);
    return CallEntry<Fn>(kLineSetStatusMessages, hLine, dwLineStates, dwAddressStates);
}

LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn,
                          DWORD dwCard, DWORD dwTranslateOptions, LPLINETRANSLATEOUTPUT lpTranslateOutput) {
    using Fn = LONG(WINAPI*)(HLINEAPP, DWORD, DWORD, LPCSTR, DWORD, DWORD, LPLINETRANSLATEOUTPUT);
    return CallEntry<Fn>(kLineTranslateAddress, hLineApp, dwDeviceID, dwAPIVersion, lpszAddressIn, dwCard,
                         dwTranslateOptions, lpTranslateOutput);
}

}  // namespace tapi
