// The fourteen telephony functions over the AT voice modem, with the
// standard record layouts; requests answer by LINE_REPLY and every
// notification reaches the application's callback through a hidden window
// of the thread that initialised.
#include <algorithm>
#include <cstring>

#include "peers/at_modem/at_provider.h"
#include "platform/sim/sim.h"
#include "platform/sim/wave_devices.h"
#include "platform/tapi_record.h"

using namespace atmodem;

namespace {

constexpr char kHiddenClass[] = "MarluneAtModemNotify";
constexpr DWORD kLineMediaModes = LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;
constexpr DWORD kSupportedLineStates = 0x01FFFFFF;
constexpr DWORD kCallParamsFixedSize = offsetof(LINECALLPARAMS, dwAddressType);
constexpr DWORD kMinTranslateVersion = 0x00010004;
constexpr DWORD kCountry = 1;
constexpr char kCity[] = "425";

using tapirec::Bytes;
using tapirec::TotalSize;

// A record the library fills: its fixed part zeroed beyond the total size.
class Record : public tapirec::RecordLayout {
public:
    Record(void* r, DWORD fixed) : RecordLayout(r, fixed) { tapirec::ClearRecord(r, fixed); }
};

std::string Z(const std::string& s) { return tapirec::WithZero(s); }

bool KnownApp(HLINEAPP h) { return h && h == P().app; }
bool KnownCall(HCALL h) { return h && h == P().call.handle; }

bool ValidAddress(const std::string& a) {
    return !a.empty() && a.find_first_not_of("0123456789ABCDabcd*#!PpTtWw@$?,;+()-. |^") == std::string::npos;
}

// What the modem dials: digits, *, #, and the dial modifiers it knows.
std::string Dialable(const std::string& in) {
    std::string out;
    for (char c : in.substr(0, in.find_first_of("|^")))
        if (std::string("0123456789*#ABCDabcdPpTtWw,!@").find(c) != std::string::npos) out += c;
    return out;
}

}  // namespace

AT_EXPORT void atmodem_SetDevice(const char* path) {
    ResetProvider();
    P().path = path ? path : "";
}

AT_EXPORT void atmodem_Reset(void) { ResetProvider(); }

TAPI_EXPORT lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                              LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                              LPLINEINITIALIZEEXPARAMS params) {
    if (!lphLineApp || !lpdwNumDevs || !lpdwAPIVersion || !params) return Err(LINEERR_INVALPOINTER);
    if (params->dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS)) return Err(LINEERR_STRUCTURETOOSMALL);
    if ((params->dwOptions & 0x3) != LINEINITIALIZEEXOPTION_USEHIDDENWINDOW || !lpfnCallback)
        return Err(LINEERR_INVALPARAM);
    Provider& p = P();
    WNDCLASSA wc{};
    wc.lpfnWndProc = HiddenWindowProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = kHiddenClass;
    RegisterClassA(&wc);
    std::string title = std::string("TAPI ") + (lpszFriendlyAppName ? lpszFriendlyAppName : "");
    HWND window = CreateWindowExA(0, kHiddenClass, title.c_str(), WS_OVERLAPPED, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  hInstance, nullptr);
    if (!window) return Err(LINEERR_NOMEM);
    bool present = Probe();
    p.app = p.nextApp++;
    p.callback = lpfnCallback;
    p.window = window;
    *lphLineApp = p.app;
    *lpdwNumDevs = present ? 1 : 0;
    *lpdwAPIVersion = std::min(*lpdwAPIVersion ? *lpdwAPIVersion : kServiceVersion, kServiceVersion);
    params->dwNeededSize = params->dwUsedSize = sizeof(LINEINITIALIZEEXPARAMS);
    return 0;
}

TAPI_EXPORT lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD low, DWORD high, LPDWORD version,
                                    LPLINEEXTENSIONID ext) {
    if (!KnownApp(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    if (!version || !ext) return Err(LINEERR_INVALPOINTER);
    if (dwDeviceID != 0 || P().name.empty()) return Err(LINEERR_BADDEVICEID);
    if (low > high || high < kLowVersion || low > kServiceVersion) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    *version = std::min(high, kServiceVersion);
    std::memset(ext, 0, sizeof *ext);
    return 0;
}

TAPI_EXPORT lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                            LPLINEDEVCAPS caps) {
    if (!KnownApp(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    if (dwDeviceID != 0 || P().name.empty()) return Err(LINEERR_BADDEVICEID);
    if (dwAPIVersion < kLowVersion || dwAPIVersion > kServiceVersion) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (dwExtVersion != 0) return Err(LINEERR_INCOMPATIBLEEXTVERSION);
    if (!caps) return Err(LINEERR_INVALPOINTER);
    constexpr DWORD fixed = offsetof(LINEDEVCAPS, PermanentLineGuid);
    if (TotalSize(caps) < fixed) return Err(LINEERR_STRUCTURETOOSMALL);
    Record w(caps, fixed);
    caps->dwPermanentLineID = 0x2000;
    caps->dwStringFormat = STRINGFORMAT_ASCII;
    caps->dwAddressModes = LINEADDRESSMODE_ADDRESSID;
    caps->dwNumAddresses = 1;
    caps->dwBearerModes = LINEBEARERMODE_VOICE;
    caps->dwMediaModes = kLineMediaModes;
    caps->dwMonitorDigitModes = kDigitModes;
    caps->dwMaxNumActiveCalls = 1;
    caps->dwRingModes = 1;
    caps->dwLineStates = kSupportedLineStates;
    w.Put(offsetof(LINEDEVCAPS, dwProviderInfoSize), offsetof(LINEDEVCAPS, dwProviderInfoOffset),
          Z(P().dialect == Dialect::V253 ? "Marlune AT voice modem provider (+V)"
                                         : "Marlune AT voice modem provider (#CLS)"));
    w.Put(offsetof(LINEDEVCAPS, dwLineNameSize), offsetof(LINEDEVCAPS, dwLineNameOffset), Z(P().name));
    w.Finish();
    return 0;
}

TAPI_EXPORT lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
                      DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes, LPLINECALLPARAMS) {
    Provider& p = P();
    if (!KnownApp(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    if (dwDeviceID != 0 || p.name.empty()) return Err(LINEERR_BADDEVICEID);
    if (dwAPIVersion < kLowVersion || dwAPIVersion > kServiceVersion) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (dwExtVersion != 0) return Err(LINEERR_INCOMPATIBLEEXTVERSION);
    if (!lphLine) return Err(LINEERR_INVALPOINTER);
    if (dwPrivileges & ~(LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER))
        return Err(LINEERR_INVALPRIVSELECT);
    if ((dwPrivileges & LINECALLPRIVILEGE_OWNER) && (dwMediaModes == 0 || (dwMediaModes & ~kLineMediaModes)))
        return Err(LINEERR_INVALMEDIAMODE);
    if (p.line) return Err(LINEERR_ALLOCATED);
    if (!p.linkOpen && !Probe()) return Err(LINEERR_NODEVICE);
    p.line = p.nextLine++;
    p.instance = dwCallbackInstance;
    p.lineStates = 0;
    *lphLine = p.line;
    AttachWave();
    InitVoiceMode();
    return 0;
}

TAPI_EXPORT lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) {
    if (!hLine || hLine != P().line) return Err(LINEERR_INVALLINEHANDLE);
    if (dwLineStates & ~kSupportedLineStates) return Err(LINEERR_INVALLINESTATE);
    if (dwAddressStates & ~0x1FFu) return Err(LINEERR_INVALADDRESSSTATE);
    P().lineStates = dwLineStates;
    return 0;
}

TAPI_EXPORT lineClose(HLINE hLine) {
    Provider& p = P();
    if (!hLine || hLine != p.line) return Err(LINEERR_INVALLINEHANDLE);
    if (p.call.handle && p.call.state != LINECALLSTATE_IDLE) {
        EndStreams();
        Enqueue({"H", false, kCommandMs, false, nullptr});
    }
    p.call = Call();
    p.line = 0;
    return 0;
}

TAPI_EXPORT lineAnswer(HCALL hCall, LPCSTR, DWORD) {
    Provider& p = P();
    if (!KnownCall(hCall)) return Err(LINEERR_INVALCALLHANDLE);
    if (!p.call.incoming || p.call.state != LINECALLSTATE_OFFERING) return Err(LINEERR_INVALCALLSTATE);
    LONG id = ReplyLater();
    Answer(id);
    return id;
}

TAPI_EXPORT lineDrop(HCALL hCall, LPCSTR, DWORD) {
    Provider& p = P();
    if (!KnownCall(hCall)) return Err(LINEERR_INVALCALLHANDLE);
    if (p.call.state == LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
    LONG id = ReplyLater();
    Drop(id);
    return id;
}

TAPI_EXPORT lineMonitorDigits(HCALL hCall, DWORD dwDigitModes) {
    Provider& p = P();
    if (!KnownCall(hCall)) return Err(LINEERR_INVALCALLHANDLE);
    if (dwDigitModes & ~(kDigitModes | LINEDIGITMODE_PULSE)) return Err(LINEERR_INVALDIGITMODE);
    if (p.call.state == LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
    p.call.monitor = dwDigitModes;
    return 0;
}

TAPI_EXPORT lineGetCallInfoA(HCALL hCall, LPLINECALLINFO info) {
    Provider& p = P();
    if (!KnownCall(hCall)) return Err(LINEERR_INVALCALLHANDLE);
    if (!info) return Err(LINEERR_INVALPOINTER);
    constexpr DWORD fixed = sizeof(LINECALLINFO);
    if (TotalSize(info) < fixed) return Err(LINEERR_STRUCTURETOOSMALL);
    Record w(info, fixed);
    const Call& c = p.call;
    info->hLine = p.line;
    info->dwBearerMode = LINEBEARERMODE_VOICE;
    info->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    info->dwCallID = hCall;
    info->dwCallStates = 0x00007FFF;
    info->dwMonitorDigitModes = c.monitor;
    info->dwOrigin = c.incoming ? LINECALLORIGIN_EXTERNAL : LINECALLORIGIN_OUTBOUND;
    info->dwNumOwners = 1;
    if (c.incoming && c.callerIdFlags) {
        info->dwCallerIDFlags = c.callerIdFlags;
        if (c.callerIdFlags & LINECALLPARTYID_ADDRESS)
            w.Put(offsetof(LINECALLINFO, dwCallerIDSize), offsetof(LINECALLINFO, dwCallerIDOffset), Z(c.callerId));
        if (c.callerIdFlags & LINECALLPARTYID_NAME)
            w.Put(offsetof(LINECALLINFO, dwCallerIDNameSize), offsetof(LINECALLINFO, dwCallerIDNameOffset),
                  Z(c.callerName));
    } else {
        info->dwCallerIDFlags = c.incoming ? LINECALLPARTYID_UNAVAIL : LINECALLPARTYID_UNKNOWN;
    }
    if (!c.incoming)
        w.Put(offsetof(LINECALLINFO, dwDisplayableAddressSize), offsetof(LINECALLINFO, dwDisplayableAddressOffset),
              Z(c.dialed));
    w.Finish();
    return 0;
}

TAPI_EXPORT lineGetIDA(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING id,
                       LPCSTR lpszDeviceClass) {
    Provider& p = P();
    if (dwSelect == LINECALLSELECT_CALL) {
        if (!KnownCall(hCall)) return Err(LINEERR_INVALCALLHANDLE);
        if (p.call.state == LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
    } else if (dwSelect == LINECALLSELECT_LINE || dwSelect == LINECALLSELECT_ADDRESS) {
        if (!hLine || hLine != p.line) return Err(LINEERR_INVALLINEHANDLE);
        if (dwSelect == LINECALLSELECT_ADDRESS && dwAddressID != 0) return Err(LINEERR_INVALADDRESSID);
    } else {
        return Err(LINEERR_INVALCALLSELECT);
    }
    if (!p.line) return Err(LINEERR_INVALLINEHANDLE);
    if (!id || !lpszDeviceClass) return Err(LINEERR_INVALPOINTER);
    if (TotalSize(id) < sizeof(VARSTRING)) return Err(LINEERR_STRUCTURETOOSMALL);
    std::string cls = lpszDeviceClass;
    std::transform(cls.begin(), cls.end(), cls.begin(), [](unsigned char ch) { return std::tolower(ch); });
    DWORD value;
    if (cls == "wave/out" || cls == "wave/in")
        value = sim::kLineDevice;  // backed by the modem's voice stream
    else if (cls == "tapi/line")
        value = 0;
    else
        return Err(LINEERR_INVALDEVICECLASS);
    Record w(id, sizeof(VARSTRING));
    id->dwStringFormat = STRINGFORMAT_BINARY;
    w.Put(offsetof(VARSTRING, dwStringSize), offsetof(VARSTRING, dwStringOffset), Bytes(&value, sizeof value));
    w.Finish();
    return 0;
}

TAPI_EXPORT lineGetTranslateCapsA(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS caps) {
    if (!KnownApp(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    if (dwAPIVersion < kMinTranslateVersion || dwAPIVersion > kServiceVersion)
        return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (!caps) return Err(LINEERR_INVALPOINTER);
    constexpr DWORD fixed = sizeof(LINETRANSLATECAPS);
    if (TotalSize(caps) < fixed) return Err(LINEERR_STRUCTURETOOSMALL);
    Record w(caps, fixed);
    // One location: the one the modem's line is in.
    LINELOCATIONENTRY e{};
    const std::string name = Z("Default Location"), city = Z(kCity);
    DWORD textAt = fixed + sizeof e;
    e.dwPermanentLocationID = 1;
    e.dwCountryCode = e.dwCountryID = kCountry;
    e.dwLocationNameSize = static_cast<DWORD>(name.size());
    e.dwLocationNameOffset = textAt;
    e.dwCityCodeSize = static_cast<DWORD>(city.size());
    e.dwCityCodeOffset = textAt + static_cast<DWORD>(name.size());
    w.Put(offsetof(LINETRANSLATECAPS, dwLocationListSize), offsetof(LINETRANSLATECAPS, dwLocationListOffset),
          Bytes(&e, sizeof e) + name + city);
    if (w.Fits()) {
        caps->dwNumLocations = 1;
        caps->dwCurrentLocationID = 1;
    }
    w.Finish();
    if (w.Fits()) caps->dwLocationListSize = sizeof e;
    return 0;
}

TAPI_EXPORT lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR in, DWORD dwCard,
                                 DWORD dwTranslateOptions, LPLINETRANSLATEOUTPUT out) {
    if (!KnownApp(hLineApp)) return Err(LINEERR_INVALAPPHANDLE);
    if (dwDeviceID != 0 || P().name.empty()) return Err(LINEERR_BADDEVICEID);
    if (dwAPIVersion < kMinTranslateVersion || dwAPIVersion > kServiceVersion)
        return Err(LINEERR_INCOMPATIBLEAPIVERSION);
    if (!in || !out) return Err(LINEERR_INVALPOINTER);
    if (dwCard != 0 && !(dwTranslateOptions & LINETRANSLATEOPTION_CARDOVERRIDE)) return Err(LINEERR_INVALCARD);
    constexpr DWORD fixed = sizeof(LINETRANSLATEOUTPUT);
    if (TotalSize(out) < fixed) return Err(LINEERR_STRUCTURETOOSMALL);
    std::string address = in;
    if (!ValidAddress(address)) return Err(LINEERR_INVALADDRESS);
    std::string main = address.substr(0, address.find_first_of("|^"));
    std::string dialable = address;
    DWORD results = 0;
    if (address[0] == '+') {
        // +1 (425) 5551234: local in the line's own area, long distance elsewhere.
        std::string digits = Dialable(main);
        results = LINETRANSLATERESULT_CANONICAL;
        std::string area = main.find('(') != std::string::npos
                               ? Dialable(main.substr(main.find('('), main.find(')') - main.find('(')))
                               : "";
        if (main.rfind("+1", 0) == 0 && area == kCity) {
            dialable = digits.substr(1 + area.size());
            results |= LINETRANSLATERESULT_LOCAL;
        } else if (main.rfind("+1", 0) == 0) {
            dialable = digits;
            results |= LINETRANSLATERESULT_LONGDISTANCE;
        } else {
            dialable = "011" + digits;
            results |= LINETRANSLATERESULT_INTERNATIONAL;
        }
    }
    Record w(out, fixed);
    out->dwCurrentCountry = out->dwDestCountry = kCountry;
    out->dwTranslateResults = results;
    w.Put(offsetof(LINETRANSLATEOUTPUT, dwDialableStringSize), offsetof(LINETRANSLATEOUTPUT, dwDialableStringOffset),
          Z(dialable));
    w.Put(offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringSize),
          offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringOffset), Z(main));
    w.Finish();
    return 0;
}

TAPI_EXPORT lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR dest, DWORD, LPLINECALLPARAMS params) {
    Provider& p = P();
    if (!hLine || hLine != p.line) return Err(LINEERR_INVALLINEHANDLE);
    if (!lphCall) return Err(LINEERR_INVALPOINTER);
    std::string number = dest ? dest : "";
    if (!ValidAddress(number) || Dialable(number).empty()) return Err(LINEERR_INVALADDRESS);
    if (params) {
        if (params->dwTotalSize < kCallParamsFixedSize) return Err(LINEERR_STRUCTURETOOSMALL);
        if (params->dwBearerMode & ~(LINEBEARERMODE_VOICE | LINEBEARERMODE_SPEECH)) return Err(LINEERR_INVALBEARERMODE);
        if (params->dwMediaMode & ~kLineMediaModes) return Err(LINEERR_INVALMEDIAMODE);
    }
    if (!p.linkOpen) return Err(LINEERR_RESOURCEUNAVAIL);
    if (p.call.handle && p.call.state != LINECALLSTATE_IDLE) return Err(LINEERR_CALLUNAVAIL);
    p.call = Call();
    p.call.handle = p.nextCall++;
    p.call.dialed = number;
    *lphCall = p.call.handle;
    LONG id = ReplyLater();
    Dial(id, Dialable(number));
    return id;
}
