// The SIP line on the control's thread: events from the SIP thread become
// call states and notifications to the application, and the line's wave
// devices meet the call's sound.
#include <cstdio>
#include <map>

#include "peers/sip_line/sip_line.h"

namespace sipline {

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
constexpr UINT kNotifyMessage = WM_USER + 0x110;

void Ended(Call& c, EndHow how) {
    if (c.state == LINECALLSTATE_IDLE) return;
    if (c.state == LINECALLSTATE_CONNECTED) {
        // The far end hung up: the application hangs up in turn.
        if (c.farEndGone) return;
        c.farEndGone = true;
        return SetCallState(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
    }
    if (how == EndHow::Busy) SetCallState(LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
    SetCallState(LINECALLSTATE_DISCONNECTED, how == EndHow::Busy       ? LINEDISCONNECTMODE_BUSY
                                             : how == EndHow::NoAnswer ? LINEDISCONNECTMODE_NOANSWER
                                             : how == EndHow::Normal   ? LINEDISCONNECTMODE_NORMAL
                                                                       : LINEDISCONNECTMODE_UNAVAIL);
    SetCallState(LINECALLSTATE_IDLE, 0);
}

void OnEvent(const Event& e) {
    Line& l = TheLine();
    Call& c = l.call;
    if (e.kind == EventKind::Log) {
        OutputDebugStringA((e.text + "\n").c_str());
        return;
    }
    if (e.kind == EventKind::Reply) return Post(0, LINE_REPLY, static_cast<DWORD_PTR>(e.request), e.result, 0);
    if (e.kind == EventKind::Offered) {
        if (!l.line) return Ask(kDrop, {e.call, 0, ""});
        if (c.handle && c.state != LINECALLSTATE_IDLE) SetCallState(LINECALLSTATE_IDLE, 0);
        c = Call();
        c.handle = l.nextCall++;
        c.serial = e.call;
        c.incoming = true;
        c.callerId = e.text;
        c.callerIdFlags = e.text.empty() ? LINECALLPARTYID_UNKNOWN : LINECALLPARTYID_ADDRESS;
        SetCallState(LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE, LINECALLPRIVILEGE_OWNER);
        return;
    }
    if (!c.handle || c.serial != e.call || c.state == LINECALLSTATE_IDLE) return;
    switch (e.kind) {
        case EventKind::Ring:
            if (c.state != LINECALLSTATE_OFFERING) return;
            ++c.rings;
            if (l.lineStates & LINEDEVSTATE_RINGING) Post(l.line, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, c.rings);
            // The number follows the first ring, as on a modem's line.
            if (c.rings == 1 && !c.callerId.empty()) Post(c.handle, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
            return;
        case EventKind::Connected:
            if (c.state == LINECALLSTATE_OFFERING || c.state == LINECALLSTATE_RINGBACK ||
                c.state == LINECALLSTATE_ACCEPTED)
                SetCallState(LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
            return;
        case EventKind::Ended: return Ended(c, e.how);
        case EventKind::Key: {
            if (c.state != LINECALLSTATE_CONNECTED || c.farEndGone) return;
            DWORD tick = GetTickCount();
            for (DWORD mode : {DWORD(LINEDIGITMODE_DTMF), DWORD(LINEDIGITMODE_DTMFEND)})
                if (c.monitor & mode) Post(c.handle, LINE_MONITORDIGITS, static_cast<BYTE>(e.key), mode, tick);
            return;
        }
        default: return;
    }
}

}  // namespace

void Emit(Event e) {
    Line& l = TheLine();
    HWND w = l.window;
    if (!w) return;
    {
        std::lock_guard<std::mutex> g(l.eventLock);
        l.events.push_back(std::move(e));
    }
    PostMessageA(w, kEventMessage, 0, 0);
}

void Log(const std::string& line, bool failure) {
    if (failure) fputs(("marlune: " + line + "\n").c_str(), stderr);
    Emit({EventKind::Log, 0, line});
}

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kEventMessage) {
        std::deque<Event> events;
        {
            std::lock_guard<std::mutex> g(TheLine().eventLock);
            events.swap(TheLine().events);
        }
        for (const Event& e : events) OnEvent(e);
        return 0;
    }
    if (msg != kNotifyMessage) return DefWindowProcA(hwnd, msg, wParam, lParam);
    auto it = Pending().find(lParam);
    if (it == Pending().end()) return 0;
    Notification n = it->second;
    Pending().erase(it);
    if (TheLine().callback) TheLine().callback(n.hDevice, n.message, n.instance, n.p1, n.p2, n.p3);
    return 0;
}

void Post(DWORD hDevice, DWORD message, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
    Line& l = TheLine();
    if (!l.window) return;
    LPARAM id = gNextNotification++;
    Pending()[id] = Notification{hDevice, message, l.instance, p1, p2, p3};
    if (!PostMessageA(l.window, kNotifyMessage, 0, id)) Pending().erase(id);
}

void SetCallState(DWORD state, DWORD mode, DWORD privilege) {
    Line& l = TheLine();
    if (!l.call.handle) return;
    l.call.state = state;
    if (state == LINECALLSTATE_IDLE) l.call.monitor = 0;
    l.busy = state != LINECALLSTATE_IDLE;
    Post(l.call.handle, LINE_CALLSTATE, state, mode, privilege);
}

LONG NextRequest() {
    Line& l = TheLine();
    LONG id = l.nextRequest++;
    if (l.nextRequest <= 0) l.nextRequest = 1;
    return id;
}

// ---- the line's wave devices -------------------------------------------

void AttachWave() {
    peer::LineBackend b;
    b.stream = [](bool output, bool on) {
        Media& m = TheMedia();
        std::lock_guard<std::mutex> g(m.lock);
        if (output) {
            m.txOpen = on;
            m.tx.clear();
            m.txQueued = m.txSent = 0;
        } else {
            m.rxOpen = on;
            m.rx.clear();
            m.rxStart = -1;
        }
    };
    b.play = [](const int16_t* samples, size_t n) {
        Media& m = TheMedia();
        std::lock_guard<std::mutex> g(m.lock);
        m.txQueued += n;
        // Without a call nobody hears it: it is gone at once.
        if (m.flowing && m.txOpen) m.tx.insert(m.tx.end(), samples, samples + n);
        else m.txSent = m.txQueued;
    };
    b.flush = [] {
        Media& m = TheMedia();
        std::lock_guard<std::mutex> g(m.lock);
        m.tx.clear();
        m.txSent = m.txQueued;
    };
    b.taken = [](uint64_t upTo) {
        Media& m = TheMedia();
        std::lock_guard<std::mutex> g(m.lock);
        return m.txSent >= upTo;
    };
    b.hear = [](int64_t start, int16_t* out, size_t n) {
        Media& m = TheMedia();
        std::lock_guard<std::mutex> g(m.lock);
        const int64_t first = m.rxStart < 0 ? -1 : (start - m.rxStart) * 8000 / peer::kSecond;
        for (size_t i = 0; i < n; ++i) {
            const int64_t k = first + static_cast<int64_t>(i);
            out[i] = m.rxStart >= 0 && k >= 0 && k < static_cast<int64_t>(m.rx.size()) ? m.rx[k] : 0;
        }
    };
    peer::SetLineBackend(b);
}

}  // namespace sipline
