// The modem link and its commands: the set-up probe, the command queue (one
// command at a time, each with a time-out), result codes matched to the
// command they answer, and what the reader thread hands over.
#include <chrono>
#include <cstdlib>

#include "peers/at_modem/at_provider.h"
#include "peers/telephony_front/telephony_front.h"
#include "platform/peer.h"

namespace atmodem {

Provider& AtModem() {
    static Provider* p = [] {
        auto* created = new Provider();
        peer::OnReset([] { ResetProvider(); });
        return created;
    }();
    return *p;
}

void ResetProvider() {
    Provider& p = AtModem();
    p.link.Close();
    DetachWave();
    std::string path = p.path;
    p.linkOpen = false;
    p.name.clear();
    p.dialect = Dialect::V253;
    p.app = 0;
    p.callback = nullptr;
    p.window = nullptr;
    p.line = 0;
    p.instance = 0;
    p.lineStates = 0;
    p.queue.clear();
    p.sent = false;
    p.timer = p.ringTimer = p.callerIdTimer = 0;
    p.info.clear();
    p.call = Call();
    p.voice = Voice();
    p.path = path;
    tfront::ResetFaults();
}

namespace {

bool IsFinal(const std::string& l, Outcome& o) {
    static const struct {
        const char* text;
        Outcome outcome;
    } kFinal[] = {{"OK", Outcome::Ok},           {"ERROR", Outcome::Error},          {"CONNECT", Outcome::Connect},
                  {"VCON", Outcome::Vcon},       {"BUSY", Outcome::Busy},            {"NO ANSWER", Outcome::NoAnswer},
                  {"NO CARRIER", Outcome::NoCarrier}, {"NO DIALTONE", Outcome::NoDialtone},
                  {"NO DIAL TONE", Outcome::NoDialtone}};
    for (auto& f : kFinal)
        if (l == f.text) {
            o = f.outcome;
            return true;
        }
    return false;
}

void SendHead() {
    Provider& p = AtModem();
    if (p.sent || p.queue.empty() || !p.linkOpen) return;
    Command& c = p.queue.front();
    p.sent = true;
    p.info.clear();
    if (c.expectData) p.link.ExpectData(true);
    p.link.Send(c.raw ? c.text : "AT" + c.text + "\r");
    p.timer = peer::After(static_cast<peer::Micros>(c.timeoutMs) * peer::kMilli, [] {
        AtModem().timer = 0;
        // A modem that does not answer a command is taken as gone.
        LineGone();
    });
}

void Complete(Outcome o) {
    Provider& p = AtModem();
    if (!p.sent || p.queue.empty()) return;
    Command c = std::move(p.queue.front());
    p.queue.pop_front();
    p.sent = false;
    if (p.timer) peer::Cancel(p.timer);
    p.timer = 0;
    std::vector<std::string> info = std::move(p.info);
    p.info.clear();
    if (c.done) c.done(o, info);
    SendHead();
}

enum class Sync { Ok, Refused, Silent };

// One command answered synchronously during set-up, waiting no later than
// `deadline` (wall clock: the loop does not run while the caller waits).
Sync SyncCommand(const std::string& text, std::vector<std::string>& info,
                 std::chrono::steady_clock::time_point deadline) {
    Provider& p = AtModem();
    p.link.Send("AT" + text + "\r");
    info.clear();
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !p.link.WaitForItem(static_cast<int>(left.count()))) return Sync::Silent;
        for (auto& item : p.link.Take()) {
            if (item.kind == Item::Gone) return Sync::Silent;
            if (item.kind != Item::Line) continue;
            Outcome o;
            if (IsFinal(item.text, o)) return o == Outcome::Ok ? Sync::Ok : Sync::Refused;
            if (item.text != "AT" + text) info.push_back(item.text);  // an echo is not an answer
        }
    }
}

}  // namespace

std::string Cmd(const char* v253, const char* rockwell) {
    return AtModem().dialect == Dialect::V253 ? v253 : rockwell;
}

bool Probe() {
    Provider& p = AtModem();
    if (p.linkOpen) return true;
    if (p.path.empty()) {
        const char* env = getenv("MARLUNE_MODEM");
        p.path = env ? env : "";
    }
    if (p.path.empty()) return false;
    if (!p.link.Open(p.path, [] {
            HWND w = AtModem().window;
            if (w) PostMessageA(w, kArrivedMessage, 0, 0);
        }))
        return false;
    // A modem that is silent, gone or refuses E0/V1 is no modem; one that
    // does not answer a question later is not asked another.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kProbeMs);
    std::vector<std::string> info, maker, model;
    bool ok = SyncCommand("E0", info, deadline) == Sync::Ok && SyncCommand("V1", info, deadline) == Sync::Ok;
    Sync s = ok ? SyncCommand("+FMI?", maker, deadline) : Sync::Silent;
    if (s == Sync::Ok) s = SyncCommand("+FMM?", model, deadline);
    if (s == Sync::Ok && !maker.empty() && !model.empty()) {
        p.name = maker.front() + " " + model.front();
    } else if (s != Sync::Silent && (s = SyncCommand("I", info, deadline)) == Sync::Ok && !info.empty()) {
        p.name = info.front();
    } else if (s != Sync::Silent) {
        p.name = "AT voice modem";
    }
    if (!ok || s == Sync::Silent) {
        p.name.clear();
        p.link.Close();
        return false;
    }
    p.linkOpen = true;
    return true;
}

void Enqueue(Command c) {
    Provider& p = AtModem();
    if (!p.linkOpen) {
        if (c.done) c.done(Outcome::Gone, {});
        return;
    }
    p.queue.push_back(std::move(c));
    SendHead();
}

void OnArrived() {
    Provider& p = AtModem();
    for (auto& item : p.link.Take()) {
        if (!p.linkOpen) return;
        switch (item.kind) {
            case Item::Gone:
                LineGone();
                return;
            case Item::Voice:
                OnVoiceData(item.text);
                break;
            case Item::Dle:
                if (item.text[0] == 0x03) OnReceiveEnd();
                else OnDle(item.text[0]);
                break;
            case Item::Line: {
                Outcome o;
                if (IsFinal(item.text, o) && p.sent) {
                    // An outgoing call ends with its own code; one that ends
                    // another command's wait is the call's too.
                    if (o == Outcome::NoCarrier && p.queue.front().text.rfind("D", 0) != 0) OnResultLine(item.text);
                    Complete(o);
                } else if (p.sent && !IsFinal(item.text, o) && item.text.rfind("RING", 0) != 0 &&
                           item.text.find('=') == std::string::npos) {
                    // A command's answer; RING and caller-id lines are the call's.
                    p.info.push_back(item.text);
                } else {
                    OnResultLine(item.text);
                }
                break;
            }
        }
    }
}

void LineGone() {
    Provider& p = AtModem();
    if (!p.linkOpen) return;
    p.linkOpen = false;
    p.link.Close();
    if (p.timer) peer::Cancel(p.timer);
    if (p.ringTimer) peer::Cancel(p.ringTimer);
    if (p.callerIdTimer) peer::Cancel(p.callerIdTimer);
    p.timer = p.ringTimer = p.callerIdTimer = 0;
    std::deque<Command> pending;
    pending.swap(p.queue);
    p.sent = false;
    for (auto& c : pending)
        if (c.done) c.done(Outcome::Gone, {});
    if (p.call.handle && p.call.state != LINECALLSTATE_IDLE && p.call.state != LINECALLSTATE_DISCONNECTED)
        SetCallState(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL);
    if (p.line) Post(p.line, LINE_CLOSE, 0, 0, 0);
    p.line = 0;
}

}  // namespace atmodem
