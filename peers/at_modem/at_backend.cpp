// The AT voice modem behind the telephony front: one device (the modem on
// the serial line), one application, one line and one call at a time.
#include "peers/at_modem/at_provider.h"
#include "peers/telephony_front/telephony_front.h"

using namespace atmodem;

namespace {

constexpr char kHiddenClass[] = "MarluneAtModemNotify";
constexpr DWORD kLineMediaModes = LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;
constexpr DWORD kCountry = 1;
constexpr char kCity[] = "425";

// What the modem dials: digits, *, #, and the dial modifiers it knows.
std::string Dialable(const std::string& in) {
    std::string out;
    for (char c : in.substr(0, in.find_first_of("|^")))
        if (std::string("0123456789*#ABCDabcdPpTtWw,!@").find(c) != std::string::npos) out += c;
    return out;
}

class AtModemBackend : public tfront::Backend {
public:
    const char* WindowClass() const override { return kHiddenClass; }
    WNDPROC WindowProc() const override { return HiddenWindowProc; }

    HLINEAPP AddApp(LINECALLBACK callback, HWND window, DWORD& devices) override {
        Provider& p = AtModem();
        bool present = Probe();
        p.app = p.nextApp++;
        p.callback = callback;
        p.window = window;
        devices = present ? 1 : 0;
        return p.app;
    }
    bool KnownApp(HLINEAPP app) const override { return app && app == AtModem().app; }

    bool Device(DWORD id, tfront::DeviceFacts& f) const override {
        const Provider& p = AtModem();
        if (id != 0 || p.name.empty()) return false;
        f.name = p.name;
        f.providerInfo = p.dialect == Dialect::V253 ? "Marlune AT voice modem provider (+V)"
                                                    : "Marlune AT voice modem provider (#CLS)";
        f.lowVersion = kLowVersion;
        f.highVersion = kServiceVersion;
        f.permanentLineId = 0x2000;
        f.mediaModes = kLineMediaModes;
        f.digitModes = kDigitModes;
        return true;
    }

    LONG OpenLine(HLINEAPP, DWORD, DWORD, DWORD_PTR instance, DWORD, DWORD, HLINE& line) override {
        Provider& p = AtModem();
        if (p.line) return Err(LINEERR_ALLOCATED);
        if (!p.linkOpen && !Probe()) return Err(LINEERR_NODEVICE);
        p.line = line = p.nextLine++;
        p.instance = instance;
        p.lineStates = 0;
        AttachWave();
        InitVoiceMode();
        return 0;
    }
    bool LineDevice(HLINE line, DWORD& device) const override {
        device = 0;
        return line && line == AtModem().line;
    }
    void SetStatusMessages(HLINE, DWORD lineStates, DWORD) override { AtModem().lineStates = lineStates; }
    void CloseLine(HLINE) override {
        Provider& p = AtModem();
        if (p.call.handle && p.call.state != LINECALLSTATE_IDLE) {
            p.call.dropping = true;
            EndStreams();
            Enqueue({"H", false, kCommandMs, false, nullptr});
        }
        p.call = atmodem::Call();
        p.line = 0;
    }

    bool Call(HCALL call, tfront::CallFacts& f) const override {
        const Provider& p = AtModem();
        if (!call || call != p.call.handle) return false;
        const atmodem::Call& c = p.call;
        f.line = p.line;
        f.state = c.state;
        f.incoming = c.incoming;
        f.mediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
        f.monitorModes = c.monitor;
        f.callerIdFlags = c.callerIdFlags;
        f.callerId = c.callerId;
        f.callerName = c.callerName;
        f.dialed = c.dialed;
        return true;
    }
    LONG Answer(HCALL) override {
        LONG id = ReplyLater();
        atmodem::Answer(id);
        return id;
    }
    LONG Drop(HCALL) override {
        LONG id = ReplyLater();
        atmodem::Drop(id);
        return id;
    }
    void MonitorDigits(HCALL, DWORD modes) override { AtModem().call.monitor = modes; }

    LONG MakeCall(HLINE, const char* dest, LPLINECALLPARAMS, HCALL& call) override {
        Provider& p = AtModem();
        std::string number = dest ? dest : "";
        if (Dialable(number).empty()) return Err(LINEERR_INVALADDRESS);
        if (!p.linkOpen) return Err(LINEERR_RESOURCEUNAVAIL);
        if (p.call.handle && p.call.state != LINECALLSTATE_IDLE) return Err(LINEERR_CALLUNAVAIL);
        p.call = atmodem::Call();
        p.call.handle = call = p.nextCall++;
        p.call.dialed = number;
        LONG id = ReplyLater();
        Dial(id, Dialable(number));
        return id;
    }

    // Both are the modem's voice stream.
    void WaveIds(DWORD, DWORD& waveOut, DWORD& waveIn) const override { waveOut = waveIn = peer::kLineDevice; }

    // One location: the one the modem's line is in.
    std::vector<tfront::Location> Locations(DWORD& current) const override {
        current = 1;
        return {{1, "Default Location", kCountry, kCity}};
    }
    bool Translate(const std::string& address, tfront::Translation& t) const override {
        std::string main = address.substr(0, address.find_first_of("|^"));
        t.dialable = address;
        t.displayable = main;
        t.currentCountry = t.destCountry = kCountry;
        if (address[0] != '+') return true;
        // +1 (425) 5551234: local in the line's own area, long distance elsewhere.
        std::string digits = Dialable(main);
        t.results = LINETRANSLATERESULT_CANONICAL;
        std::string area = main.find('(') != std::string::npos
                               ? Dialable(main.substr(main.find('('), main.find(')') - main.find('(')))
                               : "";
        if (main.rfind("+1", 0) == 0 && area == kCity) {
            t.dialable = digits.substr(1 + area.size());
            t.results |= LINETRANSLATERESULT_LOCAL;
        } else if (main.rfind("+1", 0) == 0) {
            t.dialable = digits;
            t.results |= LINETRANSLATERESULT_LONGDISTANCE;
        } else {
            t.dialable = "011" + digits;
            t.results |= LINETRANSLATERESULT_INTERNATIONAL;
        }
        return true;
    }
};

}  // namespace

tfront::Backend& tfront::TheBackend() {
    static AtModemBackend backend;
    return backend;
}

AT_EXPORT void atmodem_SetDevice(const char* path) {
    ResetProvider();
    AtModem().path = path ? path : "";
}

// The front's fault hooks: every later call of the named function answers
// `error` (0 stops it).
AT_EXPORT void atmodem_Refuse(const char* function, int32_t error) { tfront::Refuse(function, error); }
