// The SIP line behind the telephony front: device 0, "SIP ADDRESS:PORT".
#include <cstdio>

#include "peers/sip_line/sip_line.h"
#include "peers/telephony_front/telephony_front.h"

using namespace sipline;

namespace {

constexpr char kHiddenClass[] = "MarluneSipLineNotify";
constexpr DWORD kLineMediaModes = LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;
constexpr DWORD kCountry = 1;

// What a SIP number may hold: the user part of sip:NUMBER@PROXY, or a whole
// sip: address of its own.
bool Dialable(const std::string& n) {
    if (n.empty() || n.size() > 128) return false;
    for (char c : n)
        if (!isalnum(static_cast<unsigned char>(c)) && std::string("*#+-_.!~@:").find(c) == std::string::npos)
            return false;
    return true;
}

// Reads the settings and starts the SIP thread once; false when either fails.
bool Ready() {
    Line& l = TheLine();
    if (l.started) return true;
    std::string error;
    if (!ConfigFromEnvironment(l.config, error) || !StartStack(l.config, error)) {
        const std::string text = "SIP line: " + error + "\n";
        OutputDebugStringA(text.c_str());
        fputs(("marlune: " + text).c_str(), stderr);
        return false;
    }
    l.started = true;
    l.name = "SIP " + l.config.listen.Text();
    return true;
}

class SipBackend : public tfront::Backend {
public:
    const char* WindowClass() const override { return kHiddenClass; }
    WNDPROC WindowProc() const override { return HiddenWindowProc; }

    HLINEAPP AddApp(LINECALLBACK callback, HWND window, DWORD& devices) override {
        Line& l = TheLine();
        devices = Ready() ? 1 : 0;
        l.app = l.nextApp++;
        l.callback = callback;
        l.window = window;
        return l.app;
    }
    bool KnownApp(HLINEAPP app) const override { return app && app == TheLine().app; }

    bool Device(DWORD id, tfront::DeviceFacts& f) const override {
        const Line& l = TheLine();
        if (id != 0 || !l.started) return false;
        f.name = l.name;
        f.providerInfo = "Marlune SIP line provider";
        f.lowVersion = kLowVersion;
        f.highVersion = kServiceVersion;
        f.permanentLineId = 0x3000;
        f.mediaModes = kLineMediaModes;
        f.digitModes = kDigitModes;
        return true;
    }

    LONG OpenLine(HLINEAPP, DWORD, DWORD, DWORD_PTR instance, DWORD, DWORD, HLINE& line) override {
        Line& l = TheLine();
        if (l.line) return Err(LINEERR_ALLOCATED);
        if (!l.started) return Err(LINEERR_NODEVICE);
        l.line = line = l.nextLine++;
        l.instance = instance;
        l.lineStates = 0;
        AttachWave();
        l.open = true;
        return 0;
    }
    bool LineDevice(HLINE line, DWORD& device) const override {
        device = 0;
        return line && line == TheLine().line;
    }
    void SetStatusMessages(HLINE, DWORD lineStates, DWORD) override { TheLine().lineStates = lineStates; }
    void CloseLine(HLINE) override {
        Line& l = TheLine();
        l.open = false;
        if (l.call.handle && l.call.state != LINECALLSTATE_IDLE) Ask(kDrop, {l.call.serial, 0, ""});
        l.call = sipline::Call();
        l.busy = false;
        l.line = 0;
        peer::ClearLineBackend();
    }

    bool Call(HCALL call, tfront::CallFacts& f) const override {
        const Line& l = TheLine();
        if (!call || call != l.call.handle) return false;
        const sipline::Call& c = l.call;
        f.line = l.line;
        f.state = c.state;
        f.incoming = c.incoming;
        f.mediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
        f.monitorModes = c.monitor;
        f.callerIdFlags = c.callerIdFlags;
        f.callerId = c.callerId;
        f.dialed = c.dialed;
        return true;
    }
    LONG Answer(HCALL) override {
        const sipline::Call& c = TheLine().call;
        if (!c.incoming || c.state != LINECALLSTATE_OFFERING) return Err(LINEERR_INVALCALLSTATE);
        LONG id = NextRequest();
        Ask(kAnswer, {c.serial, id, ""});
        return id;
    }
    LONG Drop(HCALL) override {
        Line& l = TheLine();
        LONG id = NextRequest();
        Ask(kDrop, {l.call.serial, 0, ""});
        Post(0, LINE_REPLY, static_cast<DWORD_PTR>(id), 0, 0);
        if (l.call.handle && l.call.state != LINECALLSTATE_IDLE) SetCallState(LINECALLSTATE_IDLE, 0);
        return id;
    }
    void MonitorDigits(HCALL, DWORD modes) override { TheLine().call.monitor = modes; }

    LONG MakeCall(HLINE, const char* dest, LPLINECALLPARAMS, HCALL& call) override {
        Line& l = TheLine();
        std::string number = dest ? dest : "";
        number = number.substr(0, number.find_first_of("|^"));
        if (!Dialable(number)) return Err(LINEERR_INVALADDRESS);
        if (number.find('@') == std::string::npos && !l.config.proxy.port) return Err(LINEERR_INVALADDRESS);
        if (l.call.handle && l.call.state != LINECALLSTATE_IDLE) return Err(LINEERR_CALLUNAVAIL);
        l.call = sipline::Call();
        l.call.handle = call = l.nextCall++;
        l.call.serial = l.nextSerial++;
        l.call.dialed = number;
        LONG id = NextRequest();
        Post(0, LINE_REPLY, static_cast<DWORD_PTR>(id), 0, 0);
        SetCallState(LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL, LINECALLPRIVILEGE_OWNER);
        SetCallState(LINECALLSTATE_DIALING, 0);
        SetCallState(LINECALLSTATE_RINGBACK, 0);
        Ask(kDial, {l.call.serial, 0, number});
        return id;
    }

    void WaveIds(DWORD, DWORD& waveOut, DWORD& waveIn) const override { waveOut = waveIn = peer::kLineDevice; }

    std::vector<tfront::Location> Locations(DWORD& current) const override {
        current = 1;
        return {{1, "Default Location", kCountry, ""}};
    }
    // A SIP number is dialled as written.
    bool Translate(const std::string& address, tfront::Translation& t) const override {
        t.dialable = address;
        t.displayable = address.substr(0, address.find_first_of("|^"));
        t.currentCountry = t.destCountry = kCountry;
        return true;
    }
};

}  // namespace

namespace sipline {

Line& TheLine() {
    static Line* l = new Line();
    return *l;
}

Media& TheMedia() {
    static Media* m = new Media();
    return *m;
}

}  // namespace sipline

tfront::Backend& tfront::TheBackend() {
    static SipBackend backend;
    return backend;
}

// The front's fault hooks: every later call of the named function answers
// `error` (0 stops it).
SIP_EXPORT void sipline_Refuse(const char* function, int32_t error) { tfront::Refuse(function, error); }
