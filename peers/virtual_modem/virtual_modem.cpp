// The virtual voice modem: a telephony service with the fourteen functions
// the control binds, the standard record layouts, asynchronous requests
// answered by LINE_REPLY, and notifications delivered to the application's
// callback through a hidden window of the thread that initialised, so they
// arrive from that thread's message loop.
#include "peers/virtual_modem/virtual_modem.h"
#include "peers/virtual_modem/data_port.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim.h"

#define TAPI_EXPORT extern "C" __attribute__((visibility("default"))) LONG WINAPI

namespace {

constexpr char kDllName[] = "TAPI32.DLL";
constexpr char kHiddenClass[] = "MarluneTapiNotify";
constexpr UINT kNotifyMessage = WM_USER + 0x100;
constexpr DWORD kServiceVersion = 0x00020002;
constexpr DWORD kMinTranslateVersion = 0x00010004;
constexpr DWORD kSupportedLineStates = 0x01FFFFFF;
constexpr DWORD kSupportedAddressStates = 0x000001FF;
constexpr DWORD kLineMediaModes =
    LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE | LINEMEDIAMODE_DATAMODEM;
constexpr DWORD kDigitModes = LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND;
constexpr DWORD kCallParamsFixedSize = offsetof(LINECALLPARAMS, dwAddressType);
constexpr DWORD kDefaultAnswerDelayMs = 5000;

LONG Err(DWORD code) { return static_cast<LONG>(code); }

struct Device {
    std::string name;
    DWORD lowVersion = 0;
    DWORD highVersion = 0;
    DWORD waveOut = 1;
    DWORD waveIn = 1;
    HANDLE dataHandle = nullptr;
    std::string dataPort;
    bool reportsLineConnect = false;
    int outgoing = VMODEM_OUTGOING_ANSWER;
    DWORD outgoingDelayMs = kDefaultAnswerDelayMs;
};

struct App {
    LINECALLBACK callback = nullptr;
    HWND window = nullptr;
};

struct Line {
    HLINEAPP app = 0;
    DWORD device = 0;
    DWORD version = 0;
    DWORD_PTR instance = 0;
    DWORD privileges = 0;
    DWORD mediaModes = 0;
    DWORD lineStates = 0;
    DWORD addressStates = 0;
};

struct Call {
    HLINE line = 0;
    DWORD state = 0;
    bool incoming = false;
    bool hasCallerId = false;
    bool callerIdSent = false;
    std::string callerId;
    std::string dialed;
    DWORD rings = 0;
    DWORD monitorModes = 0;
};

struct Location {
    DWORD id;
    std::string name;
    DWORD country;
    std::string city;
};

struct Notification {
    HLINEAPP app;
    DWORD hDevice;
    DWORD message;
    DWORD_PTR instance, p1, p2, p3;
};

struct Modem {
    std::vector<Device> devices;
    std::vector<Location> locations;
    DWORD currentLocation = 0;
    std::map<HLINEAPP, App> apps;
    std::map<HLINE, Line> lines;
    std::map<HCALL, Call> calls;
    std::map<uint64_t, Notification> pending;
    std::map<std::string, LONG> refusals;
    std::map<std::string, int> callCounts;
    int hostile = VMODEM_HOSTILE_NONE;
    HLINEAPP nextApp = 0x00010001;
    HLINE nextLine = 0x00020001;
    HCALL nextCall = 0x00030001;
    LONG nextRequest = 1;
    uint64_t nextNotification = 1;
    std::string lastDialed;
    std::vector<BYTE> lastCallParams;
};

void Defaults(Modem& m);

Modem& M() {
    static Modem* modem = [] {
        auto* created = new Modem();
        Defaults(*created);
        sim::AddResetHook([] { vmodem_Reset(); });
        return created;
    }();
    return *modem;
}

void Defaults(Modem& m) {
    m = Modem();
    Device modem;
    modem.name = "Marlune Voice Modem";
    modem.lowVersion = 0x00010003;
    modem.highVersion = kServiceVersion;
    modem.dataPort = "Marlune Voice Modem";
    m.devices.push_back(modem);
    Device late = modem;
    late.name = "Marlune Voice Modem (TAPI 2.0+)";
    late.lowVersion = 0x00020000;
    m.devices.push_back(late);
    m.locations.push_back({1, "Default Location", 1, "425"});
    m.currentLocation = 1;
}

// Counts the call and applies an injected refusal (non-zero result).
LONG Enter(const char* function) {
    Modem& m = M();
    ++m.callCounts[function];
    auto it = m.refusals.find(function);
    return it == m.refusals.end() ? 0 : it->second;
}

// ---- notifications ---------------------------------------------------------

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != kNotifyMessage) return DefWindowProcA(hwnd, msg, wParam, lParam);
    Modem& m = M();
    auto it = m.pending.find(static_cast<uint64_t>(lParam));
    if (it == m.pending.end()) return 0;
    Notification n = it->second;
    m.pending.erase(it);
    auto app = m.apps.find(n.app);
    if (app != m.apps.end() && app->second.callback)
        app->second.callback(n.hDevice, n.message, n.instance, n.p1, n.p2, n.p3);
    return 0;
}

void Post(HLINEAPP appHandle, DWORD hDevice, DWORD message, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2,
          DWORD_PTR p3) {
    Modem& m = M();
    auto app = m.apps.find(appHandle);
    if (app == m.apps.end()) return;
    uint64_t id = m.nextNotification++;
    m.pending[id] = Notification{appHandle, hDevice, message, instance, p1, p2, p3};
    if (!PostMessageA(app->second.window, kNotifyMessage, 0, static_cast<LPARAM>(id))) m.pending.erase(id);
}

void PostToLine(HLINE hLine, DWORD hDevice, DWORD message, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
    auto it = M().lines.find(hLine);
    if (it == M().lines.end()) return;
    Post(it->second.app, hDevice, message, it->second.instance, p1, p2, p3);
}

void PostLineDevState(HLINE hLine, DWORD state, DWORD_PTR p2, DWORD_PTR p3) {
    auto it = M().lines.find(hLine);
    if (it == M().lines.end()) return;
    if (!(it->second.lineStates & state) && state != LINEDEVSTATE_REINIT) return;
    PostToLine(hLine, hLine, LINE_LINEDEVSTATE, state, p2, p3);
}

// Moves a call to `state` and tells the application.
void SetCallState(HCALL hCall, DWORD state, DWORD mode, DWORD privilege = 0) {
    auto it = M().calls.find(hCall);
    if (it == M().calls.end()) return;
    it->second.state = state;
    if (state == LINECALLSTATE_IDLE) it->second.monitorModes = 0;
    if (state == LINECALLSTATE_DISCONNECTED || state == LINECALLSTATE_IDLE) vmodem_data::CallEnded(hCall);
    PostToLine(it->second.line, hCall, LINE_CALLSTATE, state, mode, privilege);
}

LONG Reply(HLINE hLine, LONG result = 0) {
    Modem& m = M();
    LONG id = m.nextRequest++;
    if (m.nextRequest <= 0) m.nextRequest = 1;
    auto it = m.lines.find(hLine);
    if (it != m.lines.end()) Post(it->second.app, 0, LINE_REPLY, 0, static_cast<DWORD_PTR>(id), result, 0);
    return id;
}

// ---- variable-size records ---------------------------------------------------

// Lays out the variable part of a record after its fixed part: either all
// of it fits into the caller's total size, or none of it is written and the
// needed size says how much is wanted.
class RecordWriter {
public:
    RecordWriter(void* record, DWORD fixedSize) : base_(static_cast<BYTE*>(record)), fixed_(fixedSize) {
        std::memcpy(&total_, base_, sizeof total_);
        needed_ = fixed_;
    }
    bool FixedFits() const { return total_ >= fixed_; }
    // Reserves `data` for the field pair at the given offsets; returns the
    // offset it will have.
    DWORD Put(size_t sizeField, size_t offsetField, const std::string& data) {
        DWORD at = needed_;
        pieces_.push_back({sizeField, offsetField, at, data});
        needed_ += static_cast<DWORD>(data.size());
        return at;
    }
    void Set(size_t field, DWORD value) { std::memcpy(base_ + field, &value, sizeof value); }
    bool Fits() const { return needed_ <= total_; }

    void Finish() {
        bool fits = Fits();
        DWORD used = fits ? needed_ : fixed_;
        if (fits) {
            for (auto& p : pieces_) {
                std::memcpy(base_ + p.at, p.data.data(), p.data.size());
                Set(p.sizeField, static_cast<DWORD>(p.data.size()));
                Set(p.offsetField, p.at);
            }
        }
        DWORD needed = needed_;
        switch (M().hostile) {
            case VMODEM_HOSTILE_OFFSET:
                for (auto& p : pieces_)
                    if (fits) Set(p.offsetField, used + 8);
                break;
            case VMODEM_HOSTILE_SIZE:
                for (auto& p : pieces_)
                    if (fits) Set(p.sizeField, used - p.at + 64);
                break;
            case VMODEM_HOSTILE_WRAP:
                for (auto& p : pieces_) {
                    if (!fits) continue;
                    Set(p.offsetField, 0xFFFFFFF0u);
                    Set(p.sizeField, 0x20);
                }
                break;
            case VMODEM_HOSTILE_USED:
                if (fits) {
                    used = 0xFFFFFFF0u;
                    for (auto& p : pieces_) Set(p.offsetField, total_ + 16);
                }
                break;
            case VMODEM_HOSTILE_NEEDED:
                needed = 0xFFFFFF00u;
                break;
            default:
                break;
        }
        Set(sizeof(DWORD), needed);
        Set(2 * sizeof(DWORD), used);
    }

private:
    struct Piece {
        size_t sizeField, offsetField;
        DWORD at;
        std::string data;
    };
    BYTE* base_;
    DWORD fixed_;
    DWORD total_ = 0;
    DWORD needed_ = 0;
    std::vector<Piece> pieces_;
};

std::string WithZero(const std::string& s) { return std::string(s.c_str(), s.size() + 1); }

std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

// Zeroes a record beyond its first field (the total size).
void ClearRecord(void* record, DWORD fixedSize) {
    std::memset(static_cast<BYTE*>(record) + sizeof(DWORD), 0, fixedSize - sizeof(DWORD));
}

DWORD TotalSize(const void* record) {
    DWORD total;
    std::memcpy(&total, record, sizeof total);
    return total;
}

// ---- lookups -----------------------------------------------------------------

Line* FindLine(HLINE h) {
    auto it = M().lines.find(h);
    return it == M().lines.end() ? nullptr : &it->second;
}

Call* FindCall(HCALL h) {
    auto it = M().calls.find(h);
    return it == M().calls.end() ? nullptr : &it->second;
}

HLINE OpenLineOf(DWORD device) {
    for (auto& [h, l] : M().lines)
        if (l.device == device) return h;
    return 0;
}

HCALL CurrentCallOf(DWORD device) {
    HLINE line = OpenLineOf(device);
    if (!line) return 0;
    HCALL current = 0;
    for (auto& [h, c] : M().calls)
        if (c.line == line && c.state != LINECALLSTATE_IDLE) current = h;  // the newest
    return current;
}

// The device's outgoing call while it is ringing back (answer, reject or
// busy apply only then), or 0.
HCALL RingingOutgoingCall(DWORD device) {
    HCALL h = CurrentCallOf(device);
    Call* c = FindCall(h);
    return c && !c->incoming && c->state == LINECALLSTATE_RINGBACK ? h : 0;
}

const Location* CurrentLocation() {
    for (auto& l : M().locations)
        if (l.id == M().currentLocation) return &l;
    return nullptr;
}

// ---- address translation -----------------------------------------------------

bool ValidAddress(const std::string& a) {
    if (a.empty()) return false;
    static const std::string allowed = "0123456789ABCDabcd*#!PpTtWw@$?,;+()-. |^";
    return a.find_first_not_of(allowed) == std::string::npos;
}

std::string DigitsOf(const std::string& s) {
    std::string d;
    for (char c : s)
        if (c >= '0' && c <= '9') d += c;
    return d;
}

struct Translation {
    std::string dialable, displayable;
    DWORD currentCountry = 0, destCountry = 0, results = 0;
};

bool Translate(const std::string& in, Translation& t) {
    const Location* here = CurrentLocation();
    t.currentCountry = here ? here->country : 1;
    t.destCountry = t.currentCountry;
    std::string main = in.substr(0, in.find_first_of("|^"));
    if (in[0] != '+') {
        t.dialable = in;
        t.displayable = main;
        return true;
    }
    // Canonical: +country (area) subscriber
    size_t p = 1;
    std::string country;
    while (p < main.size() && main[p] >= '0' && main[p] <= '9') country += main[p++];
    if (country.empty() || country.size() > 4) return false;
    while (p < main.size() && main[p] == ' ') ++p;
    std::string area;
    if (p < main.size() && main[p] == '(') {
        size_t close = main.find(')', p);
        if (close == std::string::npos) return false;
        area = DigitsOf(main.substr(p + 1, close - p - 1));
        p = close + 1;
    }
    std::string subscriber = DigitsOf(main.substr(p));
    if (subscriber.empty()) return false;
    DWORD cc = static_cast<DWORD>(std::stoul(country));
    t.destCountry = cc;
    t.results = LINETRANSLATERESULT_CANONICAL;
    if (cc == t.currentCountry) {
        if (here && area == here->city) {
            t.dialable = subscriber;
            t.results |= LINETRANSLATERESULT_LOCAL;
        } else {
            t.dialable = (cc == 1 ? "1" : "0") + area + subscriber;
            t.results |= LINETRANSLATERESULT_LONGDISTANCE;
        }
    } else {
        t.dialable = (t.currentCountry == 1 ? "011" : "00") + country + area + subscriber;
        t.results |= LINETRANSLATERESULT_INTERNATIONAL;
    }
    t.displayable = main;
    return true;
}

// ---- caller side helpers -------------------------------------------------------

void ConnectOutgoing(HCALL hCall) {
    Call* c = FindCall(hCall);
    if (!c || c->incoming || c->state != LINECALLSTATE_RINGBACK) return;
    SetCallState(hCall, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    Line* l = FindLine(c->line);
    if (l && M().devices[l->device].reportsLineConnect) PostLineDevState(c->line, LINEDEVSTATE_CONNECTED, 0, 0);
}

void EndOutgoing(HCALL hCall, bool busy) {
    Call* c = FindCall(hCall);
    if (!c || c->incoming || c->state != LINECALLSTATE_RINGBACK) return;
    if (busy) SetCallState(hCall, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
    SetCallState(hCall, LINECALLSTATE_DISCONNECTED, busy ? LINEDISCONNECTMODE_BUSY : LINEDISCONNECTMODE_NOANSWER);
    // The modem clears a call that never connected and frees the line.
    SetCallState(hCall, LINECALLSTATE_IDLE, 0);
}

int SendDigits(uint32_t device, const char* keys, DWORD mode, const std::string& allowed) {
    if (!keys) return -2;
    std::string k = keys;
    if (k.find_first_not_of(allowed) != std::string::npos) return -2;
    HCALL h = CurrentCallOf(device);
    Call* c = FindCall(h);
    if (!c || c->state != LINECALLSTATE_CONNECTED) return -1;
    for (char key : k) {
        DWORD tick = GetTickCount();
        if (c->monitorModes & mode) PostToLine(c->line, h, LINE_MONITORDIGITS, static_cast<BYTE>(key), mode, tick);
        if (mode == LINEDIGITMODE_DTMF && (c->monitorModes & LINEDIGITMODE_DTMFEND))
            PostToLine(c->line, h, LINE_MONITORDIGITS, static_cast<BYTE>(key), LINEDIGITMODE_DTMFEND, tick);
    }
    return 0;
}

}  // namespace

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
    if (w.Fits() && M().hostile == VMODEM_HOSTILE_NONE)
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

// ============================================================================
// Control API
// ============================================================================

extern "C" {

void vmodem_Reset(void) {
    Defaults(M());
    vmodem_data::Reset();
}

uint32_t vmodem_DeviceCount(void) { return static_cast<uint32_t>(M().devices.size()); }

uint32_t vmodem_AddDevice(const char* name, uint32_t lowVersion, uint32_t highVersion) {
    Device d = M().devices.empty() ? Device() : M().devices.front();
    d.name = name ? name : "";
    d.lowVersion = lowVersion;
    d.highVersion = highVersion;
    M().devices.push_back(d);
    return static_cast<uint32_t>(M().devices.size() - 1);
}

int vmodem_SetDeviceName(uint32_t device, const char* name) {
    if (device >= M().devices.size() || !name) return -1;
    M().devices[device].name = name;
    return 0;
}

int vmodem_SetDeviceVersions(uint32_t device, uint32_t lowVersion, uint32_t highVersion) {
    if (device >= M().devices.size()) return -1;
    M().devices[device].lowVersion = lowVersion;
    M().devices[device].highVersion = highVersion;
    return 0;
}

int vmodem_SetWaveIds(uint32_t device, uint32_t waveOut, uint32_t waveIn) {
    if (device >= M().devices.size()) return -1;
    M().devices[device].waveOut = waveOut;
    M().devices[device].waveIn = waveIn;
    return 0;
}

int vmodem_SetDataPort(uint32_t device, void* handle, const char* portName) {
    if (device >= M().devices.size()) return -1;
    M().devices[device].dataHandle = handle;
    M().devices[device].dataPort = portName ? portName : "";
    return 0;
}

int vmodem_SetReportsLineConnect(uint32_t device, int reports) {
    if (device >= M().devices.size()) return -1;
    M().devices[device].reportsLineConnect = reports != 0;
    return 0;
}

int vmodem_SetOutgoing(uint32_t device, int behaviour, uint32_t delayMs) {
    if (device >= M().devices.size() || behaviour < VMODEM_OUTGOING_MANUAL || behaviour > VMODEM_OUTGOING_NOANSWER)
        return -1;
    M().devices[device].outgoing = behaviour;
    M().devices[device].outgoingDelayMs = delayMs;
    return 0;
}

void vmodem_ClearLocations(void) {
    M().locations.clear();
    M().currentLocation = 0;
}

void vmodem_AddLocation(uint32_t id, const char* name, uint32_t countryCode, const char* cityCode) {
    M().locations.push_back({id, name ? name : "", countryCode, cityCode ? cityCode : ""});
}

int vmodem_SetCurrentLocation(uint32_t id) {
    for (auto& l : M().locations)
        if (l.id == id) {
            M().currentLocation = id;
            return 0;
        }
    return -1;
}

uint32_t vmodem_Offer(uint32_t device, const char* callerId) {
    Modem& m = M();
    HLINE line = OpenLineOf(device);
    Line* l = FindLine(line);
    if (!l || !(l->privileges & LINECALLPRIVILEGE_OWNER)) return 0;
    if (CurrentCallOf(device)) return 0;  // the line is busy
    HCALL h = m.nextCall++;
    Call c;
    c.line = line;
    c.incoming = true;
    c.state = LINECALLSTATE_OFFERING;
    c.hasCallerId = callerId != nullptr;
    c.callerId = callerId ? callerId : "";
    m.calls[h] = c;
    SetCallState(h, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE, LINECALLPRIVILEGE_OWNER);
    return h;
}

int vmodem_Ring(uint32_t device) {
    HCALL h = CurrentCallOf(device);
    Call* c = FindCall(h);
    if (!c || c->state != LINECALLSTATE_OFFERING) return -1;
    ++c->rings;
    PostLineDevState(c->line, LINEDEVSTATE_RINGING, 0, c->rings);
    if (c->hasCallerId && !c->callerIdSent) {
        c->callerIdSent = true;
        PostToLine(c->line, h, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
    }
    return static_cast<int>(c->rings);
}

int vmodem_SendCallerId(uint32_t device, const char* callerId) {
    HCALL h = CurrentCallOf(device);
    Call* c = FindCall(h);
    if (!c || !c->incoming || !callerId) return -1;
    c->hasCallerId = true;
    c->callerIdSent = true;
    c->callerId = callerId;
    PostToLine(c->line, h, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
    return 0;
}

int vmodem_PressKeys(uint32_t device, const char* keys) {
    return SendDigits(device, keys, LINEDIGITMODE_DTMF, "0123456789*#ABCD");
}

int vmodem_PulseDigits(uint32_t device, const char* digits) {
    return SendDigits(device, digits, LINEDIGITMODE_PULSE, "0123456789");
}

int vmodem_HangUp(uint32_t device) {
    HCALL h = CurrentCallOf(device);
    Call* c = FindCall(h);
    if (!c || c->state == LINECALLSTATE_DISCONNECTED) return -1;
    HLINE line = c->line;
    bool wasConnected = c->state == LINECALLSTATE_CONNECTED;
    SetCallState(h, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
    Line* l = FindLine(line);
    if (wasConnected && l && M().devices[l->device].reportsLineConnect)
        PostLineDevState(line, LINEDEVSTATE_DISCONNECTED, 0, 0);
    return 0;
}

int vmodem_AnswerOutgoing(uint32_t device) {
    HCALL h = RingingOutgoingCall(device);
    if (!h) return -1;
    ConnectOutgoing(h);
    return 0;
}

int vmodem_RejectOutgoing(uint32_t device) {
    HCALL h = RingingOutgoingCall(device);
    if (!h) return -1;
    EndOutgoing(h, false);
    return 0;
}

int vmodem_BusyOutgoing(uint32_t device) {
    HCALL h = RingingOutgoingCall(device);
    if (!h) return -1;
    EndOutgoing(h, true);
    return 0;
}

int vmodem_CloseLine(uint32_t device) {
    Modem& m = M();
    HLINE line = OpenLineOf(device);
    if (!line) return -1;
    PostToLine(line, line, LINE_CLOSE, 0, 0, 0);
    for (auto it = m.calls.begin(); it != m.calls.end();) {
        if (it->second.line == line) vmodem_data::CallEnded(it->first);
        it = it->second.line == line ? m.calls.erase(it) : std::next(it);
    }
    m.lines.erase(line);
    return 0;
}

int vmodem_Notify(uint32_t device, uint32_t hDevice, uint32_t message, uintptr_t param1, uintptr_t param2,
                  uintptr_t param3) {
    HLINE line = OpenLineOf(device);
    if (!line) return -1;
    PostToLine(line, hDevice, message, param1, param2, param3);
    return 0;
}

void vmodem_Refuse(const char* function, int32_t error) {
    if (!function) return;
    if (error == 0)
        M().refusals.erase(function);
    else
        M().refusals[function] = error;
}

void vmodem_SetHostile(int kind) { M().hostile = kind; }

void vmodem_HideExport(const char* function, int hidden) {
    if (function) sim::HideExport(kDllName, function, hidden != 0);
}

void vmodem_HideLibrary(int hidden) { sim::HideLibrary(kDllName, hidden != 0); }

int vmodem_CallCount(const char* function) {
    auto it = M().callCounts.find(function ? function : "");
    return it == M().callCounts.end() ? 0 : it->second;
}

uint32_t vmodem_OpenLine(uint32_t device) { return OpenLineOf(device); }
uint32_t vmodem_CurrentCall(uint32_t device) { return CurrentCallOf(device); }

uint32_t vmodem_CallState(uint32_t hCall) {
    const Call* c = FindCall(hCall);
    return c ? c->state : 0;
}

uint32_t vmodem_MonitorModes(uint32_t hCall) {
    const Call* c = FindCall(hCall);
    return c ? c->monitorModes : 0;
}

uint32_t vmodem_StatusMask(uint32_t device) {
    const Line* l = FindLine(OpenLineOf(device));
    return l ? l->lineStates : 0;
}

const char* vmodem_LastDialed(void) { return M().lastDialed.c_str(); }

size_t vmodem_LastCallParams(void* buffer, size_t size) {
    const auto& p = M().lastCallParams;
    if (buffer) std::memcpy(buffer, p.data(), std::min(size, p.size()));
    return p.size();
}

}  // extern "C"
