// The fourteen telephony functions: every argument, size and version check
// here, the rest asked of the backend. Requests answer by LINE_REPLY (the
// backend's), records are written through RecordWriter.
#include <algorithm>
#include <cstring>

#include "peers/telephony_front/telephony_front.h"

using namespace tfront;
using tapirec::Bytes;
using tapirec::ClearRecord;
using tapirec::TotalSize;
using tapirec::WithZero;

namespace {

constexpr DWORD kCallParamsFixedSize = offsetof(LINECALLPARAMS, dwAddressType);

Backend& B() { return TheBackend(); }

bool VersionIn(DWORD version, const DeviceFacts& d) { return version >= d.lowVersion && version <= d.highVersion; }

}  // namespace

TAPI_EXPORT lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                              LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                              LPLINEINITIALIZEEXPARAMS params) {
    if (LONG e = Enter("lineInitializeExA")) return e;
    if (!lphLineApp || !lpdwNumDevs || !lpdwAPIVersion || !params) return Err(LINEERR_INVALPOINTER);
    if (params->dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS)) return Err(LINEERR_STRUCTURETOOSMALL);
    // Only the hidden-window option is offered.
    if ((params->dwOptions & 0x3) != LINEINITIALIZEEXOPTION_USEHIDDENWINDOW || !lpfnCallback)
        return Err(LINEERR_INVALPARAM);
    WNDCLASSA wc{};
    wc.lpfnWndProc = B().WindowProc();
    wc.hInstance = hInstance;
    wc.lpszClassName = B().WindowClass();
    RegisterClassA(&wc);
    std::string title = std::string("TAPI ") + (lpszFriendlyAppName ? lpszFriendlyAppName : "");
    HWND window = CreateWindowExA(0, B().WindowClass(), title.c_str(), WS_OVERLAPPED, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, hInstance, nullptr);
    if (!window) return Err(LINEERR_NOMEM);
    DWORD devices = 0;
    *lphLineApp = B().AddApp(lpfnCallback, window, devices);
    *lpdwNumDevs = devices;
    *lpdwAPIVersion = std::min(*lpdwAPIVersion ? *lpdwAPIVersion : kServiceVersion, kServiceVersion);
    params->dwNeededSize = params->dwUsedSize = sizeof(LINEINITIALIZEEXPARAMS);
    return 0;
}

TAPI_EXPORT lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                    DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion, LPLINEEXTENSIONID lpExtensionID) {
    if (LONG e = Enter("lineNegotiateAPIVersion")) return e;
    if (!B().KnownApp(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    if (!lpdwAPIVersion || !lpExtensionID) return Err(LINEERR_INVALPOINTER);
    DeviceFacts d;
    if (!B().Device(dwDeviceID, d)) return Err(LINEERR_BADDEVICEID);
    if (dwAPILowVersion > dwAPIHighVersion || dwAPIHighVersion < d.lowVersion || dwAPILowVersion > d.highVersion)
        return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    *lpdwAPIVersion = std::min(dwAPIHighVersion, d.highVersion);
    std::memset(lpExtensionID, 0, sizeof *lpExtensionID);
    return 0;
}

namespace {

// The checks lineGetDevCapsA and lineOpenA share.
LONG CheckDevice(HLINEAPP app, DWORD device, DWORD version, DWORD extVersion, DeviceFacts& d) {
    if (!B().KnownApp(app)) return Err(LINEERR_INVALAPPHANDLE);
    if (!B().Device(device, d)) return Err(LINEERR_BADDEVICEID);
    if (!VersionIn(version, d)) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (extVersion != 0) return Err(LINEERR_INCOMPATIBLEEXTVERSION);
    return 0;
}

// The checks of the functions that take a call handle.
LONG CheckCall(HCALL call, CallFacts& c) { return B().Call(call, c) ? 0 : Err(LINEERR_INVALCALLHANDLE); }

}  // namespace

TAPI_EXPORT lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                            LPLINEDEVCAPS caps) {
    if (LONG e = Enter("lineGetDevCapsA")) return e;
    DeviceFacts d;
    if (LONG e = CheckDevice(hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, d)) return e;
    if (!caps) return Err(LINEERR_INVALPOINTER);
    constexpr DWORD fixed = offsetof(LINEDEVCAPS, PermanentLineGuid);  // TAPI 2.x fixed part
    if (TotalSize(caps) < fixed) return Err(LINEERR_STRUCTURETOOSMALL);
    ClearRecord(caps, fixed);
    caps->dwPermanentLineID = d.permanentLineId;
    caps->dwStringFormat = STRINGFORMAT_ASCII;
    caps->dwAddressModes = LINEADDRESSMODE_ADDRESSID;
    caps->dwNumAddresses = 1;
    caps->dwBearerModes = LINEBEARERMODE_VOICE;
    caps->dwMaxRate = d.maxRate;
    caps->dwMediaModes = d.mediaModes;
    caps->dwMonitorDigitModes = d.digitModes;
    caps->dwMaxNumActiveCalls = 1;
    caps->dwRingModes = 1;
    caps->dwLineStates = kSupportedLineStates;
    RecordWriter w(caps, fixed);
    w.Put(offsetof(LINEDEVCAPS, dwProviderInfoSize), offsetof(LINEDEVCAPS, dwProviderInfoOffset),
          WithZero(d.providerInfo));
    w.Put(offsetof(LINEDEVCAPS, dwLineNameSize), offsetof(LINEDEVCAPS, dwLineNameOffset), WithZero(d.name));
    w.Finish();
    return 0;
}

TAPI_EXPORT lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
                      DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes, LPLINECALLPARAMS) {
    if (LONG e = Enter("lineOpenA")) return e;
    DeviceFacts d;
    if (LONG e = CheckDevice(hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, d)) return e;
    if (!lphLine) return Err(LINEERR_INVALPOINTER);
    if (dwPrivileges & ~(LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER))
        return Err(LINEERR_INVALPRIVSELECT);
    if ((dwPrivileges & LINECALLPRIVILEGE_OWNER) && (dwMediaModes == 0 || (dwMediaModes & ~d.mediaModes)))
        return Err(LINEERR_INVALMEDIAMODE);
    HLINE h = 0;
    if (LONG e = B().OpenLine(hLineApp, dwDeviceID, dwAPIVersion, dwCallbackInstance, dwPrivileges, dwMediaModes, h))
        return e;
    *lphLine = h;
    return 0;
}

TAPI_EXPORT lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) {
    if (LONG e = Enter("lineSetStatusMessages")) return e;
    DWORD device;
    if (!B().LineDevice(hLine, device)) return Err(LINEERR_INVALLINEHANDLE);
    if (dwLineStates & ~kSupportedLineStates) return Err(LINEERR_INVALLINESTATE);
    if (dwAddressStates & ~kSupportedAddressStates) return Err(LINEERR_INVALADDRESSSTATE);
    B().SetStatusMessages(hLine, dwLineStates, dwAddressStates);
    return 0;
}

TAPI_EXPORT lineClose(HLINE hLine) {
    if (LONG e = Enter("lineClose")) return e;
    DWORD device;
    if (!B().LineDevice(hLine, device)) return Err(LINEERR_INVALLINEHANDLE);
    B().CloseLine(hLine);
    return 0;
}

TAPI_EXPORT lineAnswer(HCALL hCall, LPCSTR, DWORD) {
    if (LONG e = Enter("lineAnswer")) return e;
    CallFacts c;
    if (LONG e = CheckCall(hCall, c)) return e;
    if (!c.incoming || (c.state != LINECALLSTATE_OFFERING && c.state != LINECALLSTATE_ACCEPTED))
        return Err(LINEERR_INVALCALLSTATE);
    return B().Answer(hCall);
}

TAPI_EXPORT lineDrop(HCALL hCall, LPCSTR, DWORD) {
    if (LONG e = Enter("lineDrop")) return e;
    CallFacts c;
    if (LONG e = CheckCall(hCall, c)) return e;
    if (c.state == LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
    return B().Drop(hCall);
}

TAPI_EXPORT lineMonitorDigits(HCALL hCall, DWORD dwDigitModes) {
    if (LONG e = Enter("lineMonitorDigits")) return e;
    CallFacts c;
    if (LONG e = CheckCall(hCall, c)) return e;
    if (dwDigitModes & ~kDigitModes) return Err(LINEERR_INVALDIGITMODE);
    if (c.state == LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
    B().MonitorDigits(hCall, dwDigitModes);
    return 0;
}

TAPI_EXPORT lineGetCallInfoA(HCALL hCall, LPLINECALLINFO info) {
    if (LONG e = Enter("lineGetCallInfoA")) return e;
    CallFacts c;
    if (LONG e = CheckCall(hCall, c)) return e;
    if (!info) return Err(LINEERR_INVALPOINTER);
    constexpr DWORD fixed = sizeof(LINECALLINFO);
    if (TotalSize(info) < fixed) return Err(LINEERR_STRUCTURETOOSMALL);
    ClearRecord(info, fixed);
    info->hLine = c.line;
    info->dwLineDeviceID = c.device;
    info->dwBearerMode = LINEBEARERMODE_VOICE;
    info->dwMediaMode = c.mediaMode;
    info->dwCallID = hCall;
    info->dwCallStates = 0x00007FFF;
    info->dwMonitorDigitModes = c.monitorModes;
    info->dwOrigin = c.incoming ? LINECALLORIGIN_EXTERNAL : LINECALLORIGIN_OUTBOUND;
    info->dwNumOwners = 1;
    RecordWriter w(info, fixed);
    if (c.incoming && c.callerIdFlags) {
        info->dwCallerIDFlags = c.callerIdFlags;
        if (c.callerIdFlags & LINECALLPARTYID_ADDRESS)
            w.Put(offsetof(LINECALLINFO, dwCallerIDSize), offsetof(LINECALLINFO, dwCallerIDOffset),
                  WithZero(c.callerId));
        if (c.callerIdFlags & LINECALLPARTYID_NAME)
            w.Put(offsetof(LINECALLINFO, dwCallerIDNameSize), offsetof(LINECALLINFO, dwCallerIDNameOffset),
                  WithZero(c.callerName));
    } else {
        info->dwCallerIDFlags = c.incoming ? LINECALLPARTYID_UNAVAIL : LINECALLPARTYID_UNKNOWN;
    }
    if (!c.incoming)
        w.Put(offsetof(LINECALLINFO, dwDisplayableAddressSize), offsetof(LINECALLINFO, dwDisplayableAddressOffset),
              WithZero(c.dialed));
    w.Finish();
    return 0;
}

TAPI_EXPORT lineGetIDA(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                       LPCSTR lpszDeviceClass) {
    if (LONG e = Enter("lineGetIDA")) return e;
    DWORD device = 0;
    HLINE line = hLine;
    if (dwSelect == LINECALLSELECT_CALL) {
        CallFacts c;
        if (LONG e = CheckCall(hCall, c)) return e;
        if (c.state == LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
        line = c.line;
    } else if (dwSelect == LINECALLSELECT_LINE || dwSelect == LINECALLSELECT_ADDRESS) {
        if (!B().LineDevice(hLine, device)) return Err(LINEERR_INVALLINEHANDLE);
        if (dwSelect == LINECALLSELECT_ADDRESS && dwAddressID != 0) return Err(LINEERR_INVALADDRESSID);
    } else {
        return Err(LINEERR_INVALCALLSELECT);
    }
    if (!B().LineDevice(line, device)) return Err(LINEERR_INVALLINEHANDLE);
    if (!lpDeviceID || !lpszDeviceClass) return Err(LINEERR_INVALPOINTER);
    if (TotalSize(lpDeviceID) < sizeof(VARSTRING)) return Err(LINEERR_STRUCTURETOOSMALL);
    std::string cls = lpszDeviceClass;
    std::transform(cls.begin(), cls.end(), cls.begin(), [](unsigned char ch) { return std::tolower(ch); });
    std::string value;
    DWORD waveOut = 0, waveIn = 0;
    B().WaveIds(device, waveOut, waveIn);
    if (cls == "wave/out") {
        value = Bytes(&waveOut, sizeof waveOut);
    } else if (cls == "wave/in") {
        value = Bytes(&waveIn, sizeof waveIn);
    } else if (cls == "tapi/line") {
        value = Bytes(&device, sizeof device);
    } else if (LONG e = B().OtherDeviceId(device, hCall, dwSelect == LINECALLSELECT_CALL, cls,
                                          TotalSize(lpDeviceID) - static_cast<DWORD>(sizeof(VARSTRING)), value)) {
        return e;
    }
    ClearRecord(lpDeviceID, sizeof(VARSTRING));
    lpDeviceID->dwStringFormat = STRINGFORMAT_BINARY;
    RecordWriter w(lpDeviceID, sizeof(VARSTRING));
    w.Put(offsetof(VARSTRING, dwStringSize), offsetof(VARSTRING, dwStringOffset), value);
    w.Finish();
    return 0;
}

TAPI_EXPORT lineGetTranslateCapsA(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS caps) {
    if (LONG e = Enter("lineGetTranslateCapsA")) return e;
    if (!B().KnownApp(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    if (dwAPIVersion < kMinTranslateVersion || dwAPIVersion > kServiceVersion)
        return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (!caps) return Err(LINEERR_INVALPOINTER);
    constexpr DWORD fixed = sizeof(LINETRANSLATECAPS);
    if (TotalSize(caps) < fixed) return Err(LINEERR_STRUCTURETOOSMALL);
    ClearRecord(caps, fixed);
    // The location list and, after it, the texts the entries point at.
    DWORD current = 0;
    const std::vector<Location> locations = B().Locations(current);
    DWORD n = static_cast<DWORD>(locations.size());
    std::vector<LINELOCATIONENTRY> entries(n);
    std::string texts;
    DWORD textAt = fixed + n * static_cast<DWORD>(sizeof(LINELOCATIONENTRY));
    auto addText = [&](const std::string& s, DWORD& size, DWORD& offset) {
        std::string z = WithZero(s);
        size = static_cast<DWORD>(z.size());
        offset = textAt + static_cast<DWORD>(texts.size());
        texts += z;
    };
    for (DWORD i = 0; i < n; ++i) {
        const Location& loc = locations[i];
        LINELOCATIONENTRY& e = entries[i];
        std::memset(&e, 0, sizeof e);
        e.dwPermanentLocationID = loc.id;
        e.dwCountryCode = loc.country;
        e.dwCountryID = loc.country;
        addText(loc.name, e.dwLocationNameSize, e.dwLocationNameOffset);
        addText(loc.city, e.dwCityCodeSize, e.dwCityCodeOffset);
    }
    RecordWriter w(caps, fixed);
    w.Put(offsetof(LINETRANSLATECAPS, dwLocationListSize), offsetof(LINETRANSLATECAPS, dwLocationListOffset),
          Bytes(entries.data(), entries.size() * sizeof(LINELOCATIONENTRY)) + texts);
    if (w.Fits()) {
        caps->dwNumLocations = n;
        caps->dwCurrentLocationID = current;
    }
    w.Finish();
    // The list's size counts the entries only (their texts follow them).
    if (w.Fits() && FaultHooks().hostile == kHostileNone && FaultHooks().recordBytes.empty())
        caps->dwLocationListSize = n * static_cast<DWORD>(sizeof(LINELOCATIONENTRY));
    return 0;
}

TAPI_EXPORT lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn,
                                 DWORD dwCard, DWORD dwTranslateOptions, LPLINETRANSLATEOUTPUT out) {
    if (LONG e = Enter("lineTranslateAddress")) return e;
    if (!B().KnownApp(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    DeviceFacts d;
    if (!B().Device(dwDeviceID, d)) return Err(LINEERR_BADDEVICEID);
    if (dwAPIVersion < kMinTranslateVersion || dwAPIVersion > kServiceVersion)
        return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (!lpszAddressIn || !out) return Err(LINEERR_INVALPOINTER);
    if (dwCard != 0 && !(dwTranslateOptions & LINETRANSLATEOPTION_CARDOVERRIDE)) return Err(LINEERR_INVALCARD);
    constexpr DWORD fixed = sizeof(LINETRANSLATEOUTPUT);
    if (TotalSize(out) < fixed) return Err(LINEERR_STRUCTURETOOSMALL);
    std::string address = lpszAddressIn;
    Translation t;
    if (!ValidAddress(address) || !B().Translate(address, t)) return Err(LINEERR_INVALADDRESS);
    ClearRecord(out, fixed);
    out->dwCurrentCountry = t.currentCountry;
    out->dwDestCountry = t.destCountry;
    out->dwTranslateResults = t.results;
    RecordWriter w(out, fixed);
    w.Put(offsetof(LINETRANSLATEOUTPUT, dwDialableStringSize), offsetof(LINETRANSLATEOUTPUT, dwDialableStringOffset),
          WithZero(t.dialable));
    w.Put(offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringSize),
          offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringOffset), WithZero(t.displayable));
    w.Finish();
    return 0;
}

TAPI_EXPORT lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD, LPLINECALLPARAMS params) {
    if (LONG e = Enter("lineMakeCallA")) return e;
    DWORD device;
    if (!B().LineDevice(hLine, device)) return Err(LINEERR_INVALLINEHANDLE);
    if (!lphCall) return Err(LINEERR_INVALPOINTER);
    if (lpszDestAddress && !ValidAddress(lpszDestAddress)) return Err(LINEERR_INVALADDRESS);
    if (params) {
        DeviceFacts d;
        B().Device(device, d);
        if (params->dwTotalSize < kCallParamsFixedSize) return Err(LINEERR_STRUCTURETOOSMALL);
        if (params->dwBearerMode & ~(LINEBEARERMODE_VOICE | LINEBEARERMODE_SPEECH)) return Err(LINEERR_INVALBEARERMODE);
        if (params->dwMediaMode & ~d.mediaModes) return Err(LINEERR_INVALMEDIAMODE);
        const DWORD pairs[][2] = {{params->dwOrigAddressSize, params->dwOrigAddressOffset},
                                  {params->dwDisplayableAddressSize, params->dwDisplayableAddressOffset},
                                  {params->dwCalledPartySize, params->dwCalledPartyOffset},
                                  {params->dwCommentSize, params->dwCommentOffset},
                                  {params->dwUserUserInfoSize, params->dwUserUserInfoOffset}};
        for (auto& p : pairs)
            if (p[0] && (p[1] < kCallParamsFixedSize || p[1] > params->dwTotalSize || p[0] > params->dwTotalSize - p[1]))
                return Err(LINEERR_INVALCALLPARAMS);
    }
    HCALL h = 0;
    LONG id = B().MakeCall(hLine, lpszDestAddress, params, h);
    if (id > 0) *lphCall = h;
    return id;
}
