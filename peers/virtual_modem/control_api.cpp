// The caller-side control API of the virtual modem (vmodem_*): devices,
// locations, offered calls, rings, keys, hang-up, outgoing-call outcomes,
// injected refusals and hostile records, and the state read back by tests.
#include <algorithm>
#include <cstring>

#include "peers/virtual_modem/data_port.h"
#include "peers/virtual_modem/modem_state.h"
#include "platform/peer.h"

using namespace vmodem_impl;

static_assert(int{VMODEM_HOSTILE_OFFSET} == int{tfront::kHostileOffset} && int{VMODEM_HOSTILE_NEEDED} == int{tfront::kHostileNeeded},
              "the hostile kinds are the front's");

// ============================================================================
// Control API
// ============================================================================

extern "C" {

void vmodem_Reset(void) {
    Defaults(VirtualModem());
    tfront::ResetFaults();
    vmodem_data::Reset();
}

uint32_t vmodem_DeviceCount(void) { return static_cast<uint32_t>(VirtualModem().devices.size()); }

uint32_t vmodem_AddDevice(const char* name, uint32_t lowVersion, uint32_t highVersion) {
    Device d = VirtualModem().devices.empty() ? Device() : VirtualModem().devices.front();
    d.name = name ? name : "";
    d.lowVersion = lowVersion;
    d.highVersion = highVersion;
    VirtualModem().devices.push_back(d);
    return static_cast<uint32_t>(VirtualModem().devices.size() - 1);
}

int vmodem_SetDeviceName(uint32_t device, const char* name) {
    if (device >= VirtualModem().devices.size() || !name) return -1;
    VirtualModem().devices[device].name = name;
    return 0;
}

int vmodem_SetDeviceVersions(uint32_t device, uint32_t lowVersion, uint32_t highVersion) {
    if (device >= VirtualModem().devices.size()) return -1;
    VirtualModem().devices[device].lowVersion = lowVersion;
    VirtualModem().devices[device].highVersion = highVersion;
    return 0;
}

int vmodem_SetWaveIds(uint32_t device, uint32_t waveOut, uint32_t waveIn) {
    if (device >= VirtualModem().devices.size()) return -1;
    VirtualModem().devices[device].waveOut = waveOut;
    VirtualModem().devices[device].waveIn = waveIn;
    return 0;
}

int vmodem_SetDataPort(uint32_t device, void* handle, const char* portName) {
    if (device >= VirtualModem().devices.size()) return -1;
    VirtualModem().devices[device].dataHandle = handle;
    VirtualModem().devices[device].dataPort = portName ? portName : "";
    return 0;
}

int vmodem_SetReportsLineConnect(uint32_t device, int reports) {
    if (device >= VirtualModem().devices.size()) return -1;
    VirtualModem().devices[device].reportsLineConnect = reports != 0;
    return 0;
}

int vmodem_SetOutgoing(uint32_t device, int behaviour, uint32_t delayMs) {
    if (device >= VirtualModem().devices.size() || behaviour < VMODEM_OUTGOING_MANUAL || behaviour > VMODEM_OUTGOING_NOANSWER)
        return -1;
    VirtualModem().devices[device].outgoing = behaviour;
    VirtualModem().devices[device].outgoingDelayMs = delayMs;
    return 0;
}

void vmodem_ClearLocations(void) {
    VirtualModem().locations.clear();
    VirtualModem().currentLocation = 0;
}

void vmodem_AddLocation(uint32_t id, const char* name, uint32_t countryCode, const char* cityCode) {
    VirtualModem().locations.push_back({id, name ? name : "", countryCode, cityCode ? cityCode : ""});
}

int vmodem_SetCurrentLocation(uint32_t id) {
    for (auto& l : VirtualModem().locations)
        if (l.id == id) {
            VirtualModem().currentLocation = id;
            return 0;
        }
    return -1;
}

uint32_t vmodem_Offer(uint32_t device, const char* callerId) {
    Modem& m = VirtualModem();
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
    if (wasConnected && l && VirtualModem().devices[l->device].reportsLineConnect)
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
    Modem& m = VirtualModem();
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

void vmodem_Refuse(const char* function, int32_t error) { tfront::Refuse(function, error); }

void vmodem_SetHostile(int kind) { tfront::FaultHooks().hostile = kind; }

void vmodem_SetRecordBytes(const void* bytes, size_t size) { tfront::SetRecordBytes(bytes, size); }

void vmodem_HideExport(const char* function, int hidden) {
    if (function) peer::HideExport(kDllName, function, hidden != 0);
}

void vmodem_HideLibrary(int hidden) { peer::HideLibrary(kDllName, hidden != 0); }

int vmodem_CallCount(const char* function) { return tfront::CallCount(function); }

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

const char* vmodem_LastDialed(void) { return VirtualModem().lastDialed.c_str(); }

size_t vmodem_LastCallParams(void* buffer, size_t size) {
    const auto& p = VirtualModem().lastCallParams;
    if (buffer) std::memcpy(buffer, p.data(), std::min(size, p.size()));
    return p.size();
}

}  // extern "C"
