// The virtual modem behind the telephony front: its devices, applications,
// lines and calls, and what each call action does. Requests are answered
// by LINE_REPLY; notifications reach the application's callback through a
// hidden window of the thread that initialised.
#include "peers/virtual_modem/data_port.h"
#include "peers/virtual_modem/modem_state.h"
#include "platform/peer.h"

using namespace vmodem_impl;

namespace {

constexpr char kProviderInfo[] = "Marlune virtual modem provider";

class VirtualModemBackend : public tfront::Backend {
public:
    const char* WindowClass() const override { return kHiddenClass; }
    WNDPROC WindowProc() const override { return HiddenWindowProc; }

    HLINEAPP AddApp(LINECALLBACK callback, HWND window, DWORD& devices) override {
        Modem& m = VirtualModem();
        HLINEAPP h = m.nextApp++;
        m.apps[h] = App{callback, window};
        devices = static_cast<DWORD>(m.devices.size());
        return h;
    }
    bool KnownApp(HLINEAPP app) const override { return VirtualModem().apps.count(app) != 0; }

    bool Device(DWORD id, tfront::DeviceFacts& f) const override {
        const Modem& m = VirtualModem();
        if (id >= m.devices.size()) return false;
        const vmodem_impl::Device& d = m.devices[id];
        f.name = d.name;
        f.providerInfo = kProviderInfo;
        f.lowVersion = d.lowVersion;
        f.highVersion = d.highVersion;
        f.permanentLineId = 0x1000 + id;
        f.maxRate = 33600;
        f.mediaModes = kLineMediaModes;
        f.digitModes = kDigitModes;
        return true;
    }

    LONG OpenLine(HLINEAPP app, DWORD device, DWORD version, DWORD_PTR instance, DWORD privileges, DWORD mediaModes,
                  HLINE& line) override {
        if (OpenLineOf(device)) return Err(LINEERR_ALLOCATED);  // one owner of the modem at a time
        Modem& m = VirtualModem();
        line = m.nextLine++;
        m.lines[line] = Line{app, device, version, instance, privileges, mediaModes, 0, 0};
        return 0;
    }
    bool LineDevice(HLINE line, DWORD& device) const override {
        const Line* l = FindLine(line);
        if (l) device = l->device;
        return l != nullptr;
    }
    void SetStatusMessages(HLINE line, DWORD lineStates, DWORD addressStates) override {
        Line* l = FindLine(line);
        l->lineStates = lineStates;
        l->addressStates = addressStates;
    }
    void CloseLine(HLINE line) override {
        Modem& m = VirtualModem();
        // Closing the line ends and frees its calls.
        for (auto it = m.calls.begin(); it != m.calls.end();) {
            if (it->second.line == line) vmodem_data::CallEnded(it->first);
            it = it->second.line == line ? m.calls.erase(it) : std::next(it);
        }
        m.lines.erase(line);
    }

    bool Call(HCALL call, tfront::CallFacts& f) const override {
        const vmodem_impl::Call* c = FindCall(call);
        if (!c) return false;
        const Line* l = FindLine(c->line);
        f.line = c->line;
        f.device = l ? l->device : 0;
        f.state = c->state;
        f.incoming = c->incoming;
        f.mediaMode = vmodem_data::MediaMode(call);
        f.monitorModes = c->monitorModes;
        f.callerIdFlags = c->incoming && c->hasCallerId && c->callerIdSent ? LINECALLPARTYID_ADDRESS : 0;
        f.callerId = c->callerId;
        f.dialed = c->dialed;
        return true;
    }
    LONG Answer(HCALL call) override {
        HLINE line = FindCall(call)->line;
        LONG id = Reply(line);
        SetCallState(call, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
        Line* l = FindLine(line);
        if (l && VirtualModem().devices[l->device].reportsLineConnect)
            PostLineDevState(line, LINEDEVSTATE_CONNECTED, 0, 0);
        return id;
    }
    LONG Drop(HCALL call) override {
        LONG id = Reply(FindCall(call)->line);
        // The drop completes after the request returns, as an asynchronous
        // request does: the call is still there for the caller's next step.
        peer::After(0, [call] {
            vmodem_impl::Call* dropped = FindCall(call);
            if (dropped && dropped->state != LINECALLSTATE_IDLE) SetCallState(call, LINECALLSTATE_IDLE, 0);
        });
        return id;
    }
    void MonitorDigits(HCALL call, DWORD modes) override { FindCall(call)->monitorModes = modes; }

    LONG MakeCall(HLINE line, const char* dest, LPLINECALLPARAMS params, HCALL& call) override {
        Modem& m = VirtualModem();
        const Line* l = FindLine(line);
        if (params)
            m.lastCallParams.assign(reinterpret_cast<BYTE*>(params),
                                    reinterpret_cast<BYTE*>(params) + params->dwTotalSize);
        else
            m.lastCallParams.clear();
        if (CurrentCallOf(l->device)) return Err(LINEERR_CALLUNAVAIL);  // the modem carries one call
        HCALL h = m.nextCall++;
        vmodem_impl::Call c;
        c.line = line;
        c.dialed = dest ? dest : "";
        c.state = LINECALLSTATE_DIALTONE;
        m.calls[h] = c;
        m.lastDialed = c.dialed;
        call = h;
        vmodem_data::CallPlaced(h, l->device);
        LONG id = Reply(line);
        SetCallState(h, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL, LINECALLPRIVILEGE_OWNER);
        SetCallState(h, LINECALLSTATE_DIALING, 0);
        SetCallState(h, LINECALLSTATE_RINGBACK, 0);
        const vmodem_impl::Device& d = m.devices[l->device];
        peer::Micros delay = static_cast<peer::Micros>(d.outgoingDelayMs) * peer::kMilli;
        switch (d.outgoing) {
            case VMODEM_OUTGOING_ANSWER: peer::After(delay, [h] { ConnectOutgoing(h); }); break;
            case VMODEM_OUTGOING_BUSY: EndOutgoing(h, true); break;
            case VMODEM_OUTGOING_NOANSWER: peer::After(delay, [h] { EndOutgoing(h, false); }); break;
            default: break;
        }
        return id;
    }

    void WaveIds(DWORD device, DWORD& waveOut, DWORD& waveIn) const override {
        const vmodem_impl::Device& d = VirtualModem().devices[device];
        waveOut = d.waveOut;
        waveIn = d.waveIn;
    }
    // comm/datamodem: the call's data port, lent only when the record holds it.
    LONG OtherDeviceId(DWORD device, HCALL call, bool forCall, const std::string& cls, DWORD room,
                       std::string& value) override {
        if (cls != "comm/datamodem" || !forCall) return Err(LINEERR_INVALDEVICECLASS);
        const vmodem_impl::Device& d = VirtualModem().devices[device];
        HANDLE port = d.dataHandle;
        if (room >= sizeof port + d.dataPort.size() + 1)
            if (LONG e = vmodem_data::LendPort(call, device, &port)) return Err(e);
        value = tapirec::Bytes(&port, sizeof port) + tapirec::WithZero(d.dataPort);
        return 0;
    }

    std::vector<Location> Locations(DWORD& current) const override {
        current = VirtualModem().currentLocation;
        return VirtualModem().locations;
    }
    bool Translate(const std::string& address, tfront::Translation& t) const override {
        return vmodem_impl::Translate(address, t);
    }
};

}  // namespace

tfront::Backend& tfront::TheBackend() {
    static VirtualModemBackend backend;
    return backend;
}
