// The call on the modem's line: notifications to the application, voice
// mode set-up, rings and caller id, answering, dialling, hanging up, DTMF
// and the far end's hang-up as the modem reports them.
#include <map>

#include "peers/at_modem/at_provider.h"
#include "platform/peer.h"

namespace atmodem {

namespace {

struct Notification {
    DWORD hDevice, message;
    DWORD_PTR instance, p1, p2, p3;
};
std::map<LPARAM, Notification>& Pending() {
    static auto* m = new std::map<LPARAM, Notification>();
    return *m;
}
LPARAM gNextNotification = 1;

void EndOfferedCall();

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// One line of the caller-id block ("NMBR = 5551234", "NAME=JOHN DOE",
// "DATE = 1207", ...): kept on the offered call; true when it was one.
bool CallerIdLine(const std::string& line) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    bool number = key == "NMBR" || key == "DDN_NMBR", name = key == "NAME";
    if (!number && !name && key != "DATE" && key != "TIME" && key != "MESG") return false;
    Provider& p = AtModem();
    Call& c = p.call;
    if (!c.handle || !c.incoming || c.state != LINECALLSTATE_OFFERING || c.callerIdSent) return true;
    // "P" private, "O" out of area: there is no number (or name) to give.
    DWORD withheld = value == "P" ? LINECALLPARTYID_BLOCKED : value == "O" ? LINECALLPARTYID_OUTOFAREA : 0;
    if (number) {
        c.callerId = withheld ? "" : value;
        c.callerIdFlags = (c.callerIdFlags & LINECALLPARTYID_NAME) |
                          (withheld ? withheld : value.empty() ? LINECALLPARTYID_UNKNOWN : LINECALLPARTYID_ADDRESS);
    } else if (name && !withheld && !value.empty()) {
        c.callerName = value;
        c.callerIdFlags |= LINECALLPARTYID_NAME;
    }
    // Number and name make the block complete; otherwise what follows
    // soon belongs to it.
    if ((c.callerIdFlags & LINECALLPARTYID_ADDRESS) && (c.callerIdFlags & LINECALLPARTYID_NAME)) {
        CallerIdDone();
    } else {
        if (p.callerIdTimer) peer::Cancel(p.callerIdTimer);
        p.callerIdTimer = peer::After(static_cast<peer::Micros>(kCallerIdSettleMs) * peer::kMilli, [] {
            AtModem().callerIdTimer = 0;
            CallerIdDone();
        });
    }
    return true;
}

void ArmRingTimer() {
    Provider& p = AtModem();
    if (p.ringTimer) peer::Cancel(p.ringTimer);
    p.ringTimer = peer::After(static_cast<peer::Micros>(kRingGoneMs) * peer::kMilli, [] {
        AtModem().ringTimer = 0;
        EndOfferedCall();
    });
}

// The caller gave up before the call was answered: no more rings.
void EndOfferedCall() {
    Provider& p = AtModem();
    if (p.call.state != LINECALLSTATE_OFFERING) return;
    SetCallState(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
    SetCallState(LINECALLSTATE_IDLE, 0);
}

void FarEndGone(DWORD mode) {
    Provider& p = AtModem();
    if (p.call.state != LINECALLSTATE_CONNECTED || p.call.farEndGone) return;
    p.call.farEndGone = true;
    SetCallState(LINECALLSTATE_DISCONNECTED, mode);
}

// The +VSM=? answer as one line, for the debugger output.
std::string ListText(const std::vector<std::string>& list) {
    std::string t;
    for (const std::string& l : list) t += (t.empty() ? "" : "; ") + l;
    return t.empty() ? "(nothing)" : t;
}

// Chooses the voice format from the +VSM=? answer (or, when it does not
// read, from the list documented for the modem's family) and selects it.
// A list of which nothing fits, or no list and no known family, refuses
// the line rather than sending the modem samples it reads otherwise.
void SelectFormat(const std::vector<std::string>& list) {
    std::vector<Method> methods;
    VoiceFormat f;
    const char* from = "the modem's list";
    std::string refused;
    if (ParseMethods(list, methods)) {
        if (!ChooseFormat(methods, f))
            refused = "AT modem: no voice format in the modem's list fits (mu-law, A-law or linear 8/16-bit at "
                      "8000 Hz): " + ListText(list) + "\n";
    } else {
        from = "the documented list of its family";
        if (!ChooseFormat(DocumentedMethods(AtModem().name), f))
            refused = "AT modem: the modem's voice format list does not read and its family is not known: " +
                      ListText(list) + "\n";
    }
    if (!refused.empty()) {
        OutputDebugStringA(refused.c_str());
        return LineGone();
    }
    const std::string text = "AT modem: voice format " + std::to_string(f.code) + " \"" + f.name + "\" (" +
                             CodingName(f.coding) + ", 8000 Hz) from " + from + "\n";
    Enqueue({"+VSM=" + std::to_string(f.code) + ",8000", false, kCommandMs, false,
             [f, text](Outcome o, const std::vector<std::string>&) {
                 if (o == Outcome::Gone) return;
                 if (o != Outcome::Ok) return LineGone();
                 AtModem().voice.format = f;
                 OutputDebugStringA(text.c_str());
             }});
}

void OutgoingEnded(DWORD mode, bool busy) {
    Provider& p = AtModem();
    if (!p.call.handle || p.call.incoming || p.call.state == LINECALLSTATE_IDLE) return;
    if (busy) SetCallState(LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
    SetCallState(LINECALLSTATE_DISCONNECTED, mode);
    // The modem goes back on hook; the line is free again.
    Enqueue({"H", false, kCommandMs, false, nullptr});
    SetCallState(LINECALLSTATE_IDLE, 0);
}

}  // namespace

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kArrivedMessage) {
        OnArrived();
        return 0;
    }
    if (msg != kNotifyMessage) return DefWindowProcA(hwnd, msg, wParam, lParam);
    auto it = Pending().find(lParam);
    if (it == Pending().end()) return 0;
    Notification n = it->second;
    Pending().erase(it);
    if (AtModem().callback) AtModem().callback(n.hDevice, n.message, n.instance, n.p1, n.p2, n.p3);
    return 0;
}

void Post(DWORD hDevice, DWORD message, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
    Provider& p = AtModem();
    if (!p.window) return;
    LPARAM id = gNextNotification++;
    Pending()[id] = Notification{hDevice, message, p.instance, p1, p2, p3};
    if (!PostMessageA(p.window, kNotifyMessage, 0, id)) Pending().erase(id);
}

void SetCallState(DWORD state, DWORD mode, DWORD privilege) {
    Provider& p = AtModem();
    if (!p.call.handle) return;
    p.call.state = state;
    if (state == LINECALLSTATE_IDLE) p.call.monitor = 0;
    Post(p.call.handle, LINE_CALLSTATE, state, mode, privilege);
    VoiceFollowsCall();
}

LONG Reply(LONG result) {
    LONG id = ReplyLater();
    Answered(id, result);
    return id;
}

LONG ReplyLater() {
    Provider& p = AtModem();
    LONG id = p.nextRequest++;
    if (p.nextRequest <= 0) p.nextRequest = 1;
    return id;
}

void Answered(LONG id, LONG result) { Post(0, LINE_REPLY, static_cast<DWORD_PTR>(id), result, 0); }

void InitVoiceMode() {
    auto step = [](const char* v253, const char* rockwell, std::function<void()> next) {
        Enqueue({Cmd(v253, rockwell), false, kCommandMs, false, [next](Outcome o, const std::vector<std::string>&) {
                     if (o == Outcome::Gone) return;
                     if (o != Outcome::Ok) return LineGone();
                     if (next) next();
                 }});
    };
    // Voice mode: the ITU set first, the # set when the modem refuses it.
    Enqueue({"+FCLASS=8", false, kCommandMs, false, [step](Outcome o, const std::vector<std::string>&) {
                 if (o == Outcome::Gone) return;
                 if (o != Outcome::Ok) {
                     AtModem().dialect = Dialect::Rockwell;
                     Enqueue({"#CLS=8", false, kCommandMs, false, [](Outcome r, const std::vector<std::string>&) {
                                  if (r != Outcome::Ok && r != Outcome::Gone) LineGone();
                              }});
                 }
                 step("+VCID=1", "#CID=1", nullptr);
                 if (AtModem().dialect == Dialect::V253) {
                     // The format from the modem's own list.
                     Enqueue({"+VSM=?", false, kCommandMs, false,
                              [](Outcome r, const std::vector<std::string>& list) {
                                  if (r != Outcome::Gone) SelectFormat(r == Outcome::Ok ? list : std::vector<std::string>());
                              }});
                     // Voice both ways at once, where the modem offers it.
                     Enqueue({"+VTR=?", false, kCommandMs, false, [](Outcome r, const std::vector<std::string>&) {
                                  AtModem().voice.fullDuplex = r == Outcome::Ok;
                              }});
                 } else {
                     AtModem().voice.format = {128, Coding::Unsigned8, "#VBS=8"};
                     step("#VBS=8", "#VBS=8", nullptr);
                 }
                 step("+VLS=0", "#VLS=0", nullptr);
             }});
}

void OnResultLine(const std::string& line) {
    Provider& p = AtModem();
    if (line == "RING") {
        // A ring while the line is still being set up is the call's: the
        // answer waits in the command queue behind the set-up.
        if (!p.line) return;
        if (!p.call.handle || p.call.state == LINECALLSTATE_IDLE) {
            p.call = Call();
            p.call.handle = p.nextCall++;
            p.call.incoming = true;
            SetCallState(LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE, LINECALLPRIVILEGE_OWNER);
        }
        if (p.call.state != LINECALLSTATE_OFFERING) return;
        CallerIdDone();  // a block that came with the ring before is complete
        ++p.call.rings;
        if (p.lineStates & LINEDEVSTATE_RINGING) Post(p.line, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, p.call.rings);
        ArmRingTimer();
        return;
    }
    if (CallerIdLine(line)) return;
    if (line == "NO CARRIER") {
        StreamCut();  // the modem is back in command state
        return FarEndGone(LINEDISCONNECTMODE_NORMAL);
    }
    if (line == "VCON" && !p.call.incoming && p.call.state == LINECALLSTATE_RINGBACK)
        return SetCallState(LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    if (line == "BUSY") return OutgoingEnded(LINEDISCONNECTMODE_BUSY, true);
    if (line == "NO ANSWER") return OutgoingEnded(LINEDISCONNECTMODE_NOANSWER, false);
    if (line == "NO DIALTONE" || line == "NO DIAL TONE") return OutgoingEnded(LINEDISCONNECTMODE_NODIALTONE, false);
    // Anything else (noise, unknown codes) is not for the application.
}

void CallerIdDone() {
    Provider& p = AtModem();
    if (p.callerIdTimer) peer::Cancel(p.callerIdTimer);
    p.callerIdTimer = 0;
    Call& c = p.call;
    if (c.callerIdSent || !c.handle || !c.incoming || c.state == LINECALLSTATE_IDLE) return;
    // Only a number is news to the application: a withheld one reads as no
    // caller id at all.
    if (!(c.callerIdFlags & LINECALLPARTYID_ADDRESS)) return;
    c.callerIdSent = true;
    Post(c.handle, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
}

void OnDle(char code) {
    Provider& p = AtModem();
    const std::string keys = "0123456789*#ABCD";
    if (keys.find(code) != std::string::npos) {
        if (p.call.state != LINECALLSTATE_CONNECTED || p.call.farEndGone) return;
        DWORD tick = GetTickCount();
        if (p.call.monitor & LINEDIGITMODE_DTMF)
            Post(p.call.handle, LINE_MONITORDIGITS, static_cast<BYTE>(code), LINEDIGITMODE_DTMF, tick);
        if (p.call.monitor & LINEDIGITMODE_DTMFEND)
            Post(p.call.handle, LINE_MONITORDIGITS, static_cast<BYTE>(code), LINEDIGITMODE_DTMFEND, tick);
        return;
    }
    switch (code) {
        case 'b': return FarEndGone(LINEDISCONNECTMODE_BUSY);  // busy tone: the far end hung up
        case 'd': return FarEndGone(LINEDISCONNECTMODE_NORMAL);  // dial tone
        case 's':
        case 'q': return FarEndGone(LINEDISCONNECTMODE_NORMAL);  // silence time-out
        default: return;  // 'h'/'H' (the local handset), 'c'/'e' (fax and data tones), timing marks
    }
}

void Answer(LONG id) {
    CallerIdDone();
    Enqueue({Cmd("+VLS=1", "A"), false, kCommandMs, false, [id](Outcome o, const std::vector<std::string>&) {
                 Provider& p = AtModem();
                 bool ok = o == Outcome::Ok || o == Outcome::Vcon;
                 Answered(id, ok ? 0 : Err(LINEERR_OPERATIONFAILED));
                 if (ok && p.call.state == LINECALLSTATE_OFFERING) {
                     if (p.ringTimer) peer::Cancel(p.ringTimer);
                     p.ringTimer = 0;
                     SetCallState(LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
                 }
             }});
}

void Dial(LONG id, const std::string& number) {
    Answered(id, 0);
    SetCallState(LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL, LINECALLPRIVILEGE_OWNER);
    SetCallState(LINECALLSTATE_DIALING, 0);
    SetCallState(LINECALLSTATE_RINGBACK, 0);
    Enqueue({"D" + number + ";", false, kDialMs, false, [](Outcome o, const std::vector<std::string>&) {
                 Provider& p = AtModem();
                 if (p.call.incoming || p.call.state != LINECALLSTATE_RINGBACK) return;
                 switch (o) {
                     case Outcome::Vcon:
                     case Outcome::Connect:
                         SetCallState(LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
                         break;
                     case Outcome::Ok: break;  // dialled; the outcome follows as its own code
                     case Outcome::Busy: OutgoingEnded(LINEDISCONNECTMODE_BUSY, true); break;
                     case Outcome::NoAnswer: OutgoingEnded(LINEDISCONNECTMODE_NOANSWER, false); break;
                     case Outcome::NoDialtone: OutgoingEnded(LINEDISCONNECTMODE_NODIALTONE, false); break;
                     case Outcome::Gone: break;
                     default: OutgoingEnded(LINEDISCONNECTMODE_UNAVAIL, false); break;
                 }
             }});
}

void Drop(LONG id) {
    AtModem().call.dropping = true;
    EndStreams();
    Enqueue({"H", false, kCommandMs, false, [id](Outcome o, const std::vector<std::string>&) {
                 Answered(id, o == Outcome::Gone ? Err(LINEERR_OPERATIONFAILED) : 0);
                 Provider& p = AtModem();
                 if (p.call.handle && p.call.state != LINECALLSTATE_IDLE) SetCallState(LINECALLSTATE_IDLE, 0);
             }});
}

}  // namespace atmodem
