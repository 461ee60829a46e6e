#include "telephony/tapi_binding.h"


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

}  // namespace

// Calls entry `e` with the caller's arguments, binding it on first use.
template <typename Fn, typename... Args>
LONG TapiBinding::Call(TapiEntry e, Args... args) {
    FARPROC& slot = entry[e];
    if (!slot) {
        LONG r = Bind(kEntryNames[e], slot);
        if (r != 0) {
            slot = TapiUnavailableEntry();
            return r;
        }
    }
    if (slot == TapiUnavailableEntry()) return kUnavailable;
    return reinterpret_cast<Fn>(slot)(args...);
}

HMODULE TapiUnavailableLibrary() { return reinterpret_cast<HMODULE>(static_cast<intptr_t>(-1)); }
FARPROC TapiUnavailableEntry() { return reinterpret_cast<FARPROC>(static_cast<intptr_t>(-1)); }

LONG TapiBinding::Bind(const char* name, FARPROC& slot) {
    if (!library) {
        library = LoadLibraryA("TAPI32.DLL");
        if (!library) library = TapiUnavailableLibrary();
    }
    if (library == TapiUnavailableLibrary()) return kUnavailable;
    slot = GetProcAddress(library, name);
    return slot ? 0 : kUnavailable;
}


LONG TapiBinding::lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    using Fn = LONG(WINAPI*)(HCALL, LPCSTR, DWORD);
    return Call<Fn>(kLineAnswer, hCall, lpsUserUserInfo, dwSize);
}

LONG TapiBinding::lineClose(HLINE hLine) {
    using Fn = LONG(WINAPI*)(HLINE);
    return Call<Fn>(kLineClose, hLine);
}

LONG TapiBinding::lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    using Fn = LONG(WINAPI*)(HCALL, LPCSTR, DWORD);
    return Call<Fn>(kLineDrop, hCall, lpsUserUserInfo, dwSize);
}

LONG TapiBinding::lineGetCallInfoA(HCALL hCall, LPLINECALLINFO lpCallInfo) {
    using Fn = LONG(WINAPI*)(HCALL, LPLINECALLINFO);
    return Call<Fn>(kLineGetCallInfoA, hCall, lpCallInfo);
}

LONG TapiBinding::lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                     LPLINEDEVCAPS lpLineDevCaps) {
    using Fn = LONG(WINAPI*)(HLINEAPP, DWORD, DWORD, DWORD, LPLINEDEVCAPS);
    return Call<Fn>(kLineGetDevCapsA, hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
}

LONG TapiBinding::lineGetIDA(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                LPCSTR lpszDeviceClass) {
    using Fn = LONG(WINAPI*)(HLINE, DWORD, HCALL, DWORD, LPVARSTRING, LPCSTR);
    return Call<Fn>(kLineGetIDA, hLine, dwAddressID, hCall, dwSelect, lpDeviceID, lpszDeviceClass);
}

LONG TapiBinding::lineGetTranslateCapsA(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps) {
    using Fn = LONG(WINAPI*)(HLINEAPP, DWORD, LPLINETRANSLATECAPS);
    return Call<Fn>(kLineGetTranslateCapsA, hLineApp, dwAPIVersion, lpTranslateCaps);
}

LONG TapiBinding::lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                       LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                       LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams) {
    using Fn = LONG(WINAPI*)(LPHLINEAPP, HINSTANCE, LINECALLBACK, LPCSTR, LPDWORD, LPDWORD, LPLINEINITIALIZEEXPARAMS);
    return Call<Fn>(kLineInitializeExA, lphLineApp, hInstance, lpfnCallback, lpszFriendlyAppName, lpdwNumDevs,
                         lpdwAPIVersion, lpLineInitializeExParams);
}

LONG TapiBinding::lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                   LPLINECALLPARAMS lpCallParams) {
    using Fn = LONG(WINAPI*)(HLINE, LPHCALL, LPCSTR, DWORD, LPLINECALLPARAMS);
    return Call<Fn>(kLineMakeCallA, hLine, lphCall, lpszDestAddress, dwCountryCode, lpCallParams);
}

LONG TapiBinding::lineMonitorDigits(HCALL hCall, DWORD dwDigitModes) {
    using Fn = LONG(WINAPI*)(HCALL, DWORD);
    return Call<Fn>(kLineMonitorDigits, hCall, dwDigitModes);
}

LONG TapiBinding::lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                             LPDWORD lpdwAPIVersion, LPLINEEXTENSIONID lpExtensionID) {
    using Fn = LONG(WINAPI*)(HLINEAPP, DWORD, DWORD, DWORD, LPDWORD, LPLINEEXTENSIONID);
    return Call<Fn>(kLineNegotiateAPIVersion, hLineApp, dwDeviceID, dwAPILowVersion, dwAPIHighVersion,
                         lpdwAPIVersion, lpExtensionID);
}

LONG TapiBinding::lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
               DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes, LPLINECALLPARAMS lpCallParams) {
    using Fn = LONG(WINAPI*)(HLINEAPP, DWORD, LPHLINE, DWORD, DWORD, DWORD_PTR, DWORD, DWORD, LPLINECALLPARAMS);
    return Call<Fn>(kLineOpenA, hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion, dwCallbackInstance,
                         dwPrivileges, dwMediaModes, lpCallParams);
}

LONG TapiBinding::lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) {
    using Fn = LONG(WINAPI*)(HLINE, DWORD, DWORD);
    return Call<Fn>(kLineSetStatusMessages, hLine, dwLineStates, dwAddressStates);
}

LONG TapiBinding::lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn,
                          DWORD dwCard, DWORD dwTranslateOptions, LPLINETRANSLATEOUTPUT lpTranslateOutput) {
    using Fn = LONG(WINAPI*)(HLINEAPP, DWORD, DWORD, LPCSTR, DWORD, DWORD, LPLINETRANSLATEOUTPUT);
    return Call<Fn>(kLineTranslateAddress, hLineApp, dwDeviceID, dwAPIVersion, lpszAddressIn, dwCard,
                         dwTranslateOptions, lpTranslateOutput);
}

