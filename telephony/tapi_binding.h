// Run-time binding of the telephony library "TAPI32.DLL": each function is
// resolved by its exported name on first use and cached, module-wide. The
// wrappers in namespace tapi have the functions' own names and signatures.
#pragma once

#include "platform/platform.h"

enum TapiEntry : int {
    kLineAnswer,
    kLineClose,
    kLineDrop,
    kLineGetCallInfoA,
    kLineGetDevCapsA,
    kLineGetIDA,
    kLineGetTranslateCapsA,
    kLineInitializeExA,
    kLineMakeCallA,
    kLineMonitorDigits,
    kLineNegotiateAPIVersion,
    kLineOpenA,
    kLineSetStatusMessages,
    kLineTranslateAddress,
    kTapiEntryCount
};

class TapiBinding {
public:
    // Library cache: null = not loaded yet, TapiUnavailableLibrary() = the
    // load failed (never tried again), anything else = the library.
    HMODULE library = nullptr;
    // Entry caches: null = not resolved yet, TapiUnavailableEntry() = not
    // available (never tried again), anything else = the function.
    FARPROC entry[kTapiEntryCount] = {};

    // The telephony functions the control uses, by their own names and
    // signatures; each binds its entry on first use.
    LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
    LONG lineClose(HLINE hLine);
    LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
    LONG lineGetCallInfoA(HCALL hCall, LPLINECALLINFO lpCallInfo);
    LONG lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                         LPLINEDEVCAPS lpLineDevCaps);
    LONG lineGetIDA(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                    LPCSTR lpszDeviceClass);
    LONG lineGetTranslateCapsA(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps);
    LONG lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                           LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                           LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams);
    LONG lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                       LPLINECALLPARAMS lpCallParams);
    LONG lineMonitorDigits(HCALL hCall, DWORD dwDigitModes);
    LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                                 LPDWORD lpdwAPIVersion, LPLINEEXTENSIONID lpExtensionID);
    LONG lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
                   DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes, LPLINECALLPARAMS lpCallParams);
    LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates);
    LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn,
                              DWORD dwCard, DWORD dwTranslateOptions, LPLINETRANSLATEOUTPUT lpTranslateOutput);

    // Resolves `name` into `slot`, loading the library on first use. 0, or
    // LINEERR_OPERATIONUNAVAIL for a missing library or function.
    LONG Bind(const char* name, FARPROC& slot);

private:
    template <typename Fn, typename... Args>
    LONG Call(TapiEntry e, Args... args);
};

HMODULE TapiUnavailableLibrary();
FARPROC TapiUnavailableEntry();
