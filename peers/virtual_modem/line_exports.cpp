// The virtual voice modem: a telephony service with the fourteen functions
// the control binds, the standard record layouts, asynchronous requests
// answered by LINE_REPLY, and notifications delivered to the application's
// callback through a hidden window of the thread that initialised, so they
// arrive from that thread's message loop.
#include <algorithm>
#include <cstring>

#include "peers/virtual_modem/data_port.h"
#include "peers/virtual_modem/record_writer.h"
#include "platform/sim/sim.h"

using namespace vmodem_impl;

// ============================================================================
// The telephony functions
// ============================================================================

TAPI_EXPORT lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                              LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                              LPLINEINITIALIZEEXPARAMS params) {
    if (LONG e = Enter("lineInitializeExA")) return e;
    if (!lphLineApp || !lpdwNumDevs || !lpdwAPIVersion || !params) return Err(LINEERR_INVALPOINTER);
    if (params->dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS)) return Err(LINEERR_STRUCTURETOOSMALL);
    // Only the hidden-window option is offered by this service.
    if ((params->dwOptions & 0x3) != LINEINITIALIZEEXOPTION_USEHIDDENWINDOW || !lpfnCallback)
        return Err(LINEERR_INVALPARAM);

    WNDCLASSA wc{};
    wc.lpfnWndProc = HiddenWindowProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = kHiddenClass;
    RegisterClassA(&wc);
    std::string title = std::string("TAPI ") + (lpszFriendlyAppName ? lpszFriendlyAppName : "");
    HWND window = CreateWindowExA(0, kHiddenClass, title.c_str(), WS_OVERLAPPED, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  hInstance, nullptr);
    if (!window) return Err(LINEERR_NOMEM);

    Modem& m = M();
    HLINEAPP h = m.nextApp++;
    m.apps[h] = App{lpfnCallback, window};
    *lphLineApp = h;
    *lpdwNumDevs = static_cast<DWORD>(m.devices.size());
    *lpdwAPIVersion = std::min(*lpdwAPIVersion ? *lpdwAPIVersion : kServiceVersion, kServiceVersion);
    params->dwNeededSize = sizeof(LINEINITIALIZEEXPARAMS);
    params->dwUsedSize = sizeof(LINEINITIALIZEEXPARAMS);
    return 0;
}

TAPI_EXPORT lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                    DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion, LPLINEEXTENSIONID lpExtensionID) {
    if (LONG e = Enter("lineNegotiateAPIVersion")) return e;
    Modem& m = M();
    if (!m.apps.count(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    if (!lpdwAPIVersion || !lpExtensionID) return Err(LINEERR_INVALPOINTER);
    if (dwDeviceID >= m.devices.size()) return Err(LINEERR_BADDEVICEID);
    const Device& d = m.devices[dwDeviceID];
    if (dwAPILowVersion > dwAPIHighVersion || dwAPIHighVersion < d.lowVersion || dwAPILowVersion > d.highVersion)
        return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    *lpdwAPIVersion = std::min(dwAPIHighVersion, d.highVersion);
    std::memset(lpExtensionID, 0, sizeof *lpExtensionID);
    return 0;
}

TAPI_EXPORT lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                            LPLINEDEVCAPS caps) {
    if (LONG e = Enter("lineGetDevCapsA")) return e;
    Modem& m = M();
    if (!m.apps.count(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    if (dwDeviceID >= m.devices.size()) return Err(LINEERR_BADDEVICEID);
    const Device& d = m.devices[dwDeviceID];
    if (dwAPIVersion < d.lowVersion || dwAPIVersion > d.highVersion) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (dwExtVersion != 0) return Err(LINEERR_INCOMPATIBLEEXTVERSION);
    if (!caps) return Err(LINEERR_INVALPOINTER);
    constexpr DWORD fixed = offsetof(LINEDEVCAPS, PermanentLineGuid);  // TAPI 2.x fixed part
    if (TotalSize(caps) < fixed) return Err(LINEERR_STRUCTURETOOSMALL);
    ClearRecord(caps, fixed);
    caps->dwPermanentLineID = 0x1000 + dwDeviceID;
    caps->dwStringFormat = STRINGFORMAT_ASCII;
    caps->dwAddressModes = LINEADDRESSMODE_ADDRESSID;
    caps->dwNumAddresses = 1;
    caps->dwBearerModes = LINEBEARERMODE_VOICE;
    caps->dwMaxRate = 33600;
    caps->dwMediaModes = kLineMediaModes;
    caps->dwMonitorDigitModes = kDigitModes;
    caps->dwMaxNumActiveCalls = 1;
    caps->dwRingModes = 1;
    caps->dwLineStates = kSupportedLineStates;
    RecordWriter w(caps, fixed);
    w.Put(offsetof(LINEDEVCAPS, dwProviderInfoSize), offsetof(LINEDEVCAPS, dwProviderInfoOffset),
          WithZero("Marlune virtual modem provider"));
    w.Put(offsetof(LINEDEVCAPS, dwLineNameSize), offsetof(LINEDEVCAPS, dwLineNameOffset), WithZero(d.name));
    w.Finish();
    return 0;
}

TAPI_EXPORT lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
                      DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                      LPLINECALLPARAMS lpCallParams) {
    if (LONG e = Enter("lineOpenA")) return e;
    Modem& m = M();
    if (!m.apps.count(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    if (dwDeviceID >= m.devices.size()) return Err(LINEERR_BADDEVICEID);
    const Device& d = m.devices[dwDeviceID];
    if (dwAPIVersion < d.lowVersion || dwAPIVersion > d.highVersion) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (dwExtVersion != 0) return Err(LINEERR_INCOMPATIBLEEXTVERSION);
    if (!lphLine) return Err(LINEERR_INVALPOINTER);
    if (dwPrivileges & ~(LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER))
        return Err(LINEERR_INVALPRIVSELECT);
    if ((dwPrivileges & LINECALLPRIVILEGE_OWNER) && (dwMediaModes == 0 || (dwMediaModes & ~kLineMediaModes)))
        return Err(LINEERR_INVALMEDIAMODE);
    if (OpenLineOf(dwDeviceID)) return Err(LINEERR_ALLOCATED);  // one owner of the modem at a time
    HLINE h = m.nextLine++;
    m.lines[h] = Line{hLineApp, dwDeviceID, dwAPIVersion, dwCallbackInstance, dwPrivileges, dwMediaModes, 0, 0};
    *lphLine = h;
    return 0;
}

TAPI_EXPORT lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) {
    if (LONG e = Enter("lineSetStatusMessages")) return e;
    Line* l = FindLine(hLine);
    if (!l) return Err(LINEERR_INVALLINEHANDLE);
    if (dwLineStates & ~kSupportedLineStates) return Err(LINEERR_INVALLINESTATE);
    if (dwAddressStates & ~kSupportedAddressStates) return Err(LINEERR_INVALADDRESSSTATE);
    l->lineStates = dwLineStates;
    l->addressStates = dwAddressStates;
    return 0;
}

TAPI_EXPORT lineClose(HLINE hLine) {
    if (LONG e = Enter("lineClose")) return e;
    Modem& m = M();
    if (!m.lines.count(hLine)) return Err(LINEERR_INVALLINEHANDLE);
    // Closing the line ends and frees its calls.
    for (auto it = m.calls.begin(); it != m.calls.end();) {
        if (it->second.line == hLine) vmodem_data::CallEnded(it->first);
        it = it->second.line == hLine ? m.calls.erase(it) : std::next(it);
    }
    m.lines.erase(hLine);
    return 0;
}

TAPI_EXPORT lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    if (LONG e = Enter("lineAnswer")) return e;
    Call* c = FindCall(hCall);
    if (!c) return Err(LINEERR_INVALCALLHANDLE);
    if (!c->incoming || (c->state != LINECALLSTATE_OFFERING && c->state != LINECALLSTATE_ACCEPTED))
        return Err(LINEERR_INVALCALLSTATE);
    HLINE line = c->line;
    LONG id = Reply(line);
    SetCallState(hCall, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    Line* l = FindLine(line);
    if (l && M().devices[l->device].reportsLineConnect) PostLineDevState(line, LINEDEVSTATE_CONNECTED, 0, 0);
    return id;
}

TAPI_EXPORT lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    if (LONG e = Enter("lineDrop")) return e;
    Call* c = FindCall(hCall);
    if (!c) return Err(LINEERR_INVALCALLHANDLE);
    if (c->state == LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
    LONG id = Reply(c->line);
    // The drop completes after the request returns, as an asynchronous
    // request does: the call is still there for the caller's next step.
    sim::ScheduleAfter(0, [hCall] {
        Call* dropped = FindCall(hCall);
        if (dropped && dropped->state != LINECALLSTATE_IDLE) SetCallState(hCall, LINECALLSTATE_IDLE, 0);
    });
    return id;
}

TAPI_EXPORT lineMonitorDigits(HCALL hCall, DWORD dwDigitModes) {
    if (LONG e = Enter("lineMonitorDigits")) return e;
    Call* c = FindCall(hCall);
    if (!c) return Err(LINEERR_INVALCALLHANDLE);
    if (dwDigitModes & ~kDigitModes) return Err(LINEERR_INVALDIGITMODE);
    if (c->state == LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
    c->monitorModes = dwDigitModes;
    return 0;
}

TAPI_EXPORT lineGetCallInfoA(HCALL hCall, LPLINECALLINFO info) {
    if (LONG e = Enter("lineGetCallInfoA")) return e;
    Call* c = FindCall(hCall);
    if (!c) return Err(LINEERR_INVALCALLHANDLE);
    if (!info) return Err(LINEERR_INVALPOINTER);
    constexpr DWORD fixed = sizeof(LINECALLINFO);
    if (TotalSize(info) < fixed) return Err(LINEERR_STRUCTURETOOSMALL);
    ClearRecord(info, fixed);
    const Line* l = FindLine(c->line);
    info->hLine = c->line;
    info->dwLineDeviceID = l ? l->device : 0;
    info->dwBearerMode = LINEBEARERMODE_VOICE;
    info->dwMediaMode = vmodem_data::MediaMode(hCall);
    info->dwCallID = hCall;
    info->dwCallStates = 0x00007FFF;
    info->dwMonitorDigitModes = c->monitorModes;
    info->dwOrigin = c->incoming ? LINECALLORIGIN_EXTERNAL : LINECALLORIGIN_OUTBOUND;
    info->dwNumOwners = 1;
    RecordWriter w(info, fixed);
    if (c->incoming && c->hasCallerId && c->callerIdSent) {
        info->dwCallerIDFlags = LINECALLPARTYID_ADDRESS;
        w.Put(offsetof(LINECALLINFO, dwCallerIDSize), offsetof(LINECALLINFO, dwCallerIDOffset),
              WithZero(c->callerId));
    } else {
        info->dwCallerIDFlags = c->incoming ? LINECALLPARTYID_UNAVAIL : LINECALLPARTYID_UNKNOWN;
    }
    if (!c->incoming)
        w.Put(offsetof(LINECALLINFO, dwDisplayableAddressSize), offsetof(LINECALLINFO, dwDisplayableAddressOffset),
              WithZero(c->dialed));
    w.Finish();
    return 0;
}

TAPI_EXPORT lineGetIDA(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                       LPCSTR lpszDeviceClass) {
    if (LONG e = Enter("lineGetIDA")) return e;
    Modem& m = M();
    const Line* l = nullptr;
    if (dwSelect == LINECALLSELECT_CALL) {
        const Call* c = FindCall(hCall);
        if (!c) return Err(LINEERR_INVALCALLHANDLE);
        if (c->state == LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
        l = FindLine(c->line);
    } else if (dwSelect == LINECALLSELECT_LINE || dwSelect == LINECALLSELECT_ADDRESS) {
        l = FindLine(hLine);
        if (!l) return Err(LINEERR_INVALLINEHANDLE);
        if (dwSelect == LINECALLSELECT_ADDRESS && dwAddressID != 0) return Err(LINEERR_INVALADDRESSID);
    } else {
        return Err(LINEERR_INVALCALLSELECT);
    }
    if (!l) return Err(LINEERR_INVALLINEHANDLE);
    if (!lpDeviceID || !lpszDeviceClass) return Err(LINEERR_INVALPOINTER);
    if (TotalSize(lpDeviceID) < sizeof(VARSTRING)) return Err(LINEERR_STRUCTURETOOSMALL);
    const Device& d = m.devices[l->device];
    std::string cls = lpszDeviceClass;
    std::transform(cls.begin(), cls.end(), cls.begin(), [](unsigned char ch) { return std::tolower(ch); });
    std::string value;
    DWORD format = STRINGFORMAT_BINARY;
    if (cls == "wave/out") {
        value = Bytes(&d.waveOut, sizeof d.waveOut);
    } else if (cls == "wave/in") {
        value = Bytes(&d.waveIn, sizeof d.waveIn);
    } else if (cls == "comm/datamodem") {
        if (dwSelect != LINECALLSELECT_CALL) return Err(LINEERR_INVALDEVICECLASS);
        HANDLE port = d.dataHandle;
        // A port is lent only when the record holds it.
        if (TotalSize(lpDeviceID) >= sizeof(VARSTRING) + sizeof port + d.dataPort.size() + 1)
            if (LONG e = vmodem_data::LendPort(hCall, l->device, &port)) return Err(e);
        value = Bytes(&port, sizeof port) + WithZero(d.dataPort);
    } else if (cls == "tapi/line") {
        DWORD id = l->device;
        value = Bytes(&id, sizeof id);
    } else {
        return Err(LINEERR_INVALDEVICECLASS);
    }
    ClearRecord(lpDeviceID, sizeof(VARSTRING));
    lpDeviceID->dwStringFormat = format;
    RecordWriter w(lpDeviceID, sizeof(VARSTRING));
    w.Put(offsetof(VARSTRING, dwStringSize), offsetof(VARSTRING, dwStringOffset), value);
    w.Finish();
    return 0;
}

TAPI_EXPORT lineGetTranslateCapsA(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS caps) {
    if (LONG e = Enter("lineGetTranslateCapsA")) return e;
    Modem& m = M();
    if (!m.apps.count(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    if (dwAPIVersion < kMinTranslateVersion || dwAPIVersion > kServiceVersion)
        return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (!caps) return Err(LINEERR_INVALPOINTER);
    constexpr DWORD fixed = sizeof(LINETRANSLATECAPS);
    if (TotalSize(caps) < fixed) return Err(LINEERR_STRUCTURETOOSMALL);
    ClearRecord(caps, fixed);
    // The location list and, after it, the texts the entries point at.
    DWORD n = static_cast<DWORD>(m.locations.size());
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
        const Location& loc = m.locations[i];
        LINELOCATIONENTRY& e = entries[i];
        std::memset(&e, 0, sizeof e);
        e.dwPermanentLocationID = loc.id;
        e.dwCountryCode = loc.country;
        e.dwCountryID = loc.country;
        DWORD size, offset;
        addText(loc.name, size, offset);
        e.dwLocationNameSize = size;
        e.dwLocationNameOffset = offset;
        addText(loc.city, size, offset);
        e.dwCityCodeSize = size;
        e.dwCityCodeOffset = offset;
    }
    RecordWriter w(caps, fixed);
    w.Put(offsetof(LINETRANSLATECAPS, dwLocationListSize), offsetof(LINETRANSLATECAPS, dwLocationListOffset),
          Bytes(entries.data(), entries.size() * sizeof(LINELOCATIONENTRY)) + texts);
    if (w.Fits()) {
        caps->dwNumLocations = n;
        caps->dwCurrentLocationID = m.currentLocation;
    }
    w.Finish();
    if (w.Fits() && M().hostile == VMODEM_HOSTILE_NONE && M().recordBytes.empty())
        caps->dwLocationListSize = n * static_cast<DWORD>(sizeof(LINELOCATIONENTRY));
    return 0;
}

TAPI_EXPORT lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn,
                                 DWORD dwCard, DWORD dwTranslateOptions, LPLINETRANSLATEOUTPUT out) {
    if (LONG e = Enter("lineTranslateAddress")) return e;
    Modem& m = M();
    if (!m.apps.count(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    if (dwDeviceID >= m.devices.size()) return Err(LINEERR_BADDEVICEID);
    if (dwAPIVersion < kMinTranslateVersion || dwAPIVersion > kServiceVersion)
        return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (!lpszAddressIn || !out) return Err(LINEERR_INVALPOINTER);
    if (dwCard != 0 && !(dwTranslateOptions & LINETRANSLATEOPTION_CARDOVERRIDE)) return Err(LINEERR_INVALCARD);
    constexpr DWORD fixed = sizeof(LINETRANSLATEOUTPUT);
    if (TotalSize(out) < fixed) return Err(LINEERR_STRUCTURETOOSMALL);
    std::string address = lpszAddressIn;
    Translation t;
    if (!ValidAddress(address) || !Translate(address, t)) return Err(LINEERR_INVALADDRESS);
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

TAPI_EXPORT lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                          LPLINECALLPARAMS params) {
    if (LONG e = Enter("lineMakeCallA")) return e;
    Modem& m = M();
    Line* l = FindLine(hLine);
    if (!l) return Err(LINEERR_INVALLINEHANDLE);
    if (!lphCall) return Err(LINEERR_INVALPOINTER);
    std::string dest = lpszDestAddress ? lpszDestAddress : "";
    if (lpszDestAddress && !ValidAddress(dest)) return Err(LINEERR_INVALADDRESS);
    if (params) {
        if (params->dwTotalSize < kCallParamsFixedSize) return Err(LINEERR_STRUCTURETOOSMALL);
        if (params->dwBearerMode & ~(LINEBEARERMODE_VOICE | LINEBEARERMODE_SPEECH)) return Err(LINEERR_INVALBEARERMODE);
        if (params->dwMediaMode & ~kLineMediaModes) return Err(LINEERR_INVALMEDIAMODE);
        const DWORD pairs[][2] = {{params->dwOrigAddressSize, params->dwOrigAddressOffset},
                                  {params->dwDisplayableAddressSize, params->dwDisplayableAddressOffset},
                                  {params->dwCalledPartySize, params->dwCalledPartyOffset},
                                  {params->dwCommentSize, params->dwCommentOffset},
                                  {params->dwUserUserInfoSize, params->dwUserUserInfoOffset}};
        for (auto& p : pairs)
            if (p[0] && (p[1] < kCallParamsFixedSize || p[1] > params->dwTotalSize || p[0] > params->dwTotalSize - p[1]))
                return Err(LINEERR_INVALCALLPARAMS);
        m.lastCallParams.assign(reinterpret_cast<BYTE*>(params), reinterpret_cast<BYTE*>(params) + params->dwTotalSize);
    } else {
        m.lastCallParams.clear();
    }
    if (CurrentCallOf(l->device)) return Err(LINEERR_CALLUNAVAIL);  // the modem carries one call

    HCALL h = m.nextCall++;
    Call c;
    c.line = hLine;
    c.dialed = dest;
    c.state = LINECALLSTATE_DIALTONE;
    m.calls[h] = c;
    m.lastDialed = dest;
    *lphCall = h;
    vmodem_data::CallPlaced(h, l->device);
    LONG id = Reply(hLine);
    SetCallState(h, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL, LINECALLPRIVILEGE_OWNER);
    SetCallState(h, LINECALLSTATE_DIALING, 0);
    SetCallState(h, LINECALLSTATE_RINGBACK, 0);

    const Device& d = m.devices[l->device];
    sim::Micros delay = static_cast<sim::Micros>(d.outgoingDelayMs) * sim::kMilli;
    switch (d.outgoing) {
        case VMODEM_OUTGOING_ANSWER:
            sim::ScheduleAfter(delay, [h] { ConnectOutgoing(h); });
            break;
        case VMODEM_OUTGOING_BUSY:
            EndOutgoing(h, true);
            break;
        case VMODEM_OUTGOING_NOANSWER:
            sim::ScheduleAfter(delay, [h] { EndOutgoing(h, false); });
            break;
        default:
            break;
    }
    return id;
}
