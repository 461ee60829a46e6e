// The virtual modem's state, its notifications to the application, lookups
// and what the caller's side does to a call.
#include <algorithm>

#include "peers/virtual_modem/modem_state.h"
#include "peers/virtual_modem/data_port.h"
#include "platform/peer.h"

namespace vmodem_impl {

Modem& VirtualModem() {
    static Modem* modem = [] {
        auto* created = new Modem();
        Defaults(*created);
        peer::OnReset([] { vmodem_Reset(); });
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

// ---- notifications ---------------------------------------------------------

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != kNotifyMessage) return DefWindowProcA(hwnd, msg, wParam, lParam);
    Modem& m = VirtualModem();
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
    Modem& m = VirtualModem();
    auto app = m.apps.find(appHandle);
    if (app == m.apps.end()) return;
    uint64_t id = m.nextNotification++;
    m.pending[id] = Notification{appHandle, hDevice, message, instance, p1, p2, p3};
    if (!PostMessageA(app->second.window, kNotifyMessage, 0, static_cast<LPARAM>(id))) m.pending.erase(id);
}

void PostToLine(HLINE hLine, DWORD hDevice, DWORD message, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
    auto it = VirtualModem().lines.find(hLine);
    if (it == VirtualModem().lines.end()) return;
    Post(it->second.app, hDevice, message, it->second.instance, p1, p2, p3);
}

void PostLineDevState(HLINE hLine, DWORD state, DWORD_PTR p2, DWORD_PTR p3) {
    auto it = VirtualModem().lines.find(hLine);
    if (it == VirtualModem().lines.end()) return;
    if (!(it->second.lineStates & state) && state != LINEDEVSTATE_REINIT) return;
    PostToLine(hLine, hLine, LINE_LINEDEVSTATE, state, p2, p3);
}

void SetCallState(HCALL hCall, DWORD state, DWORD mode, DWORD privilege) {
    auto it = VirtualModem().calls.find(hCall);
    if (it == VirtualModem().calls.end()) return;
    it->second.state = state;
    if (state == LINECALLSTATE_IDLE) it->second.monitorModes = 0;
    if (state == LINECALLSTATE_DISCONNECTED || state == LINECALLSTATE_IDLE) vmodem_data::CallEnded(hCall);
    PostToLine(it->second.line, hCall, LINE_CALLSTATE, state, mode, privilege);
}

LONG Reply(HLINE hLine, LONG result) {
    Modem& m = VirtualModem();
    LONG id = m.nextRequest++;
    if (m.nextRequest <= 0) m.nextRequest = 1;
    auto it = m.lines.find(hLine);
    if (it != m.lines.end()) Post(it->second.app, 0, LINE_REPLY, 0, static_cast<DWORD_PTR>(id), result, 0);
    return id;
}

// ---- lookups -----------------------------------------------------------------

Line* FindLine(HLINE h) {
    auto it = VirtualModem().lines.find(h);
    return it == VirtualModem().lines.end() ? nullptr : &it->second;
}

Call* FindCall(HCALL h) {
    auto it = VirtualModem().calls.find(h);
    return it == VirtualModem().calls.end() ? nullptr : &it->second;
}

HLINE OpenLineOf(DWORD device) {
    for (auto& [h, l] : VirtualModem().lines)
        if (l.device == device) return h;
    return 0;
}

HCALL CurrentCallOf(DWORD device) {
    HLINE line = OpenLineOf(device);
    if (!line) return 0;
    HCALL current = 0;
    for (auto& [h, c] : VirtualModem().calls)
        if (c.line == line && c.state != LINECALLSTATE_IDLE) current = h;  // the newest
    return current;
}

HCALL RingingOutgoingCall(DWORD device) {
    HCALL h = CurrentCallOf(device);
    Call* c = FindCall(h);
    return c && !c->incoming && c->state == LINECALLSTATE_RINGBACK ? h : 0;
}

const Location* CurrentLocation() {
    for (auto& l : VirtualModem().locations)
        if (l.id == VirtualModem().currentLocation) return &l;
    return nullptr;
}

// ---- caller side helpers -------------------------------------------------------

void ConnectOutgoing(HCALL hCall) {
    Call* c = FindCall(hCall);
    if (!c || c->incoming || c->state != LINECALLSTATE_RINGBACK) return;
    SetCallState(hCall, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    Line* l = FindLine(c->line);
    if (l && VirtualModem().devices[l->device].reportsLineConnect) PostLineDevState(c->line, LINEDEVSTATE_CONNECTED, 0, 0);
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

}  // namespace vmodem_impl
