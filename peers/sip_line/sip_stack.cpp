// The SIP thread: libre's loop, the listening transports (UDP and TCP),
// the checks on every request, incoming and outgoing call sessions, and
// the registration. Every libre object lives and dies on this thread.
#include <pthread.h>
#include <sched.h>

#include <cstdio>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

extern "C" {
#include <re.h>
}

#include "peers/sip_line/sip_line.h"
#include "peers/sip_line/sip_message.h"

namespace sipline {

namespace {

struct Leg {
    unsigned serial = 0;
    bool incoming = false;
    bool answered = false;
    struct sipsess* sess = nullptr;
    struct rtp_sock* rtp = nullptr;
    MediaLeg* media = nullptr;
    Sdp remote;
    struct tmr ringTimer, dialTimer;
};

struct Stack {
    Config config;
    struct sa laddr;
    struct sip* sip = nullptr;
    struct sipsess_sock* sock = nullptr;
    struct sip_lsnr* checks = nullptr;
    struct mqueue* queue = nullptr;
    struct sipreg* reg = nullptr;
    Leg* leg = nullptr;
    uint64_t sdpSession = 0;
};
Stack* gStack = nullptr;
std::promise<void>* gStopped = nullptr;  // set when re_main has returned

std::string Text(const struct pl& p) { return std::string(p.p ? p.p : "", p.p ? p.l : 0); }

std::string Body(const struct sip_msg* msg) {
    return msg && msg->mb ? std::string(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb))
                          : std::string();
}

struct mbuf* Buffer(const std::string& s) {
    struct mbuf* mb = mbuf_alloc(s.size() + 1);
    if (!mb) return nullptr;
    mbuf_write_mem(mb, reinterpret_cast<const uint8_t*>(s.data()), s.size());
    mb->pos = 0;
    return mb;
}

void RtpReceived(const struct sa*, const struct rtp_header* hdr, struct mbuf* mb, void* arg) {
    Leg* leg = static_cast<Leg*>(arg);
    if (gStack->leg != leg || !leg->media) return;
    MediaReceived(leg->media, hdr->pt, hdr->ts, hdr->seq, mb);
}

bool OpenRtp(Leg* leg) {
    struct sa ip;
    sa_set_str(&ip, gStack->config.listen.host.c_str(), 0);
    return rtp_listen(&leg->rtp, IPPROTO_UDP, &ip, static_cast<uint16_t>(gStack->config.rtpLow),
                      static_cast<uint16_t>(gStack->config.rtpHigh), false, RtpReceived, nullptr, leg) == 0;
}

unsigned RtpPort(Leg* leg) { return sa_port(rtp_local(leg->rtp)); }

// Ends the leg: its timers, its sound and (unless libre is ending it) its
// session: BYE when established, 486 to an INVITE not answered, CANCEL for
// our own not answered.
void EndLeg(Leg* leg) {
    if (!leg) return;
    if (gStack->leg == leg) gStack->leg = nullptr;
    tmr_cancel(&leg->ringTimer);
    tmr_cancel(&leg->dialTimer);
    if (leg->media) StopMedia(leg->media);
    leg->media = nullptr;
    mem_deref(leg->sess);
    mem_deref(leg->rtp);
    delete leg;
}

void StartSound(Leg* leg) {
    if (leg->media) return RetargetMedia(leg->media, leg->remote.address, leg->remote.port, ChooseCodec(leg->remote),
                                         leg->remote.telephoneEvent);
    leg->media = StartMedia(leg->rtp, leg->remote.address, leg->remote.port, ChooseCodec(leg->remote),
                            leg->remote.telephoneEvent, leg->serial);
}

// ---- session handlers ------------------------------------------------------

int OfferHandler(struct mbuf** descp, const struct sip_msg* msg, void* arg) {
    Leg* leg = static_cast<Leg*>(arg);
    Sdp offer;
    if (!ParseSdp(Body(msg), offer) || ChooseCodec(offer) < 0) return EPROTO;
    leg->remote = offer;
    if (leg->media) StartSound(leg);
    *descp = Buffer(AnswerSdp(offer, gStack->config.listen.host, RtpPort(leg), ++gStack->sdpSession));
    return *descp ? 0 : ENOMEM;
}

int AnswerHandler(const struct sip_msg* msg, void* arg) {
    Leg* leg = static_cast<Leg*>(arg);
    Sdp answer;
    if (!ParseSdp(Body(msg), answer) || ChooseCodec(answer) < 0) return EPROTO;
    leg->remote = answer;
    return 0;
}

void ProgressHandler(const struct sip_msg* msg, void*) {
    Log("SIP line: " + std::to_string(msg->scode) + " " + Text(msg->reason));
}

void EstablishedHandler(const struct sip_msg*, void* arg) {
    Leg* leg = static_cast<Leg*>(arg);
    tmr_cancel(&leg->dialTimer);
    StartSound(leg);
    Emit({EventKind::Connected, leg->serial});
}

void InfoHandler(struct sip* sip, const struct sip_msg* msg, void* arg) {
    Leg* leg = static_cast<Leg*>(arg);
    if (msg_ctype_cmp(&msg->ctyp, "application", "dtmf-relay")) {
        (void)sip_reply(sip, msg, 200, "OK");
        char key = DtmfRelayKey(Body(msg));
        if (key) Emit({EventKind::Key, leg->serial, "", EndHow::Normal, 0, 0, key});
        return;
    }
    (void)sip_reply(sip, msg, 415, "Unsupported Media Type");
}

void CloseHandler(int err, const struct sip_msg* msg, void* arg) {
    Leg* leg = static_cast<Leg*>(arg);
    EndHow how = EndHow::Normal;
    if (!leg->incoming && msg && msg->scode >= 300) {
        how = msg->scode == 486 || msg->scode == 600 ? EndHow::Busy : EndHow::NoAnswer;
        Log("SIP line: the call ended with " + std::to_string(msg->scode) + " " + Text(msg->reason));
    } else if (!leg->incoming && err && !(msg && msg->req)) {
        how = EndHow::NoAnswer;
    }
    Emit({EventKind::Ended, leg->serial, "", how});
    EndLeg(leg);
}

void RingAgain(void* arg) {
    Leg* leg = static_cast<Leg*>(arg);
    Emit({EventKind::Ring, leg->serial});
    tmr_start(&leg->ringTimer, kRingEveryMs, RingAgain, leg);
}

void DialTimedOut(void* arg) {
    Leg* leg = static_cast<Leg*>(arg);
    Log("SIP line: no final answer in 60 s: CANCEL");
    Emit({EventKind::Ended, leg->serial, "", EndHow::NoAnswer});
    EndLeg(leg);
}

// The caller's number: P-Asserted-Identity's user part, else From's.
std::string CallerNumber(const struct sip_msg* msg) {
    if (const struct sip_hdr* h = sip_msg_xhdr(msg, "P-Asserted-Identity")) {
        struct sip_addr addr;
        if (sip_addr_decode(&addr, &h->val) == 0 && pl_isset(&addr.uri.user)) return Text(addr.uri.user);
    }
    return Text(msg->from.uri.user);
}

void Incoming(const struct sip_msg* msg, void*) {
    Stack& s = *gStack;
    Line& line = TheLine();
    if (s.leg || line.busy || !line.open) {
        (void)sip_treply(nullptr, s.sip, msg, 486, "Busy Here");
        return;
    }
    Sdp offer;
    if (!ParseSdp(Body(msg), offer) || ChooseCodec(offer) < 0) {
        (void)sip_treply(nullptr, s.sip, msg, 488, "Not Acceptable Here");
        return;
    }
    (void)sip_reply(s.sip, msg, 100, "Trying");
    Leg* leg = new Leg();
    tmr_init(&leg->ringTimer);
    tmr_init(&leg->dialTimer);
    leg->incoming = true;
    leg->remote = offer;
    leg->serial = line.nextSerial++;
    if (!OpenRtp(leg)) {
        Log("SIP line: no RTP port free in " + std::to_string(s.config.rtpLow) + "-" + std::to_string(s.config.rtpHigh),
            true);
        (void)sip_treply(nullptr, s.sip, msg, 503, "Service Unavailable");
        delete leg;
        return;
    }
    int err = sipsess_accept(&leg->sess, s.sock, msg, 180, "Ringing", "marlune", "application/sdp", nullptr, nullptr,
                             nullptr, false, OfferHandler, AnswerHandler, EstablishedHandler, InfoHandler, nullptr,
                             CloseHandler, leg, nullptr);
    if (err) {
        Log(std::string("SIP line: cannot take the call: ") + strerror(err), true);
        (void)sip_treply(nullptr, s.sip, msg, 500, "Server Internal Error");
        EndLeg(leg);
        return;
    }
    s.leg = leg;
    Emit({EventKind::Offered, leg->serial, CallerNumber(msg)});
    RingAgain(leg);
}

// Runs before the sessions see a request: a malformed one is answered 400.
bool CheckHandler(const struct sip_msg* msg, void*) {
    if (!pl_strcmp(&msg->met, "ACK")) return false;
    auto header = [msg](const std::string& name, std::string& value) {
        enum sip_hdrid id = name == "Via"        ? SIP_HDR_VIA
                            : name == "From"     ? SIP_HDR_FROM
                            : name == "To"       ? SIP_HDR_TO
                            : name == "Call-ID"  ? SIP_HDR_CALL_ID
                            : name == "CSeq"     ? SIP_HDR_CSEQ
                                                 : SIP_HDR_CONTENT_LENGTH;
        const struct sip_hdr* h = sip_msg_hdr(msg, id);
        if (!h) return false;
        value = Text(h->val);
        return true;
    };
    std::string reason = CheckRequest(Text(msg->met), header, msg->mb ? msg->mb->end : 0);
    if (reason.empty()) return false;
    Log("SIP line: 400 to " + Text(msg->met) + ": " + reason);
    (void)sip_reply(gStack->sip, msg, 400, reason.c_str());
    return true;
}

// ---- commands from the control's thread ---------------------------------------

int Auth(char** user, char** password, const char*, void*) {
    const Config& c = gStack->config;
    if (c.user.empty()) return EAUTH;
    int err = str_dup(user, c.user.c_str());
    return err ? err : str_dup(password, c.password.c_str());
}

void Dial(unsigned serial, const std::string& number) {
    Stack& s = *gStack;
    const Config& c = s.config;
    Leg* leg = new Leg();
    tmr_init(&leg->ringTimer);
    tmr_init(&leg->dialTimer);
    leg->serial = serial;
    const bool lineInUse = s.leg != nullptr;
    if (lineInUse || !OpenRtp(leg)) {
        if (!lineInUse)
            Log("SIP line: no RTP port free in " + std::to_string(c.rtpLow) + "-" + std::to_string(c.rtpHigh), true);
        delete leg;
        Emit({EventKind::Ended, serial, "", EndHow::Unavailable});
        return;
    }
    const std::string to = number.find('@') != std::string::npos
                               ? (number.rfind("sip:", 0) == 0 ? number : "sip:" + number)
                               : "sip:" + number + "@" + c.proxy.Text();
    std::string from = c.registerUri.empty() ? "sip:marlune@" + c.listen.Text() : c.registerUri;
    struct mbuf* desc = Buffer(OfferSdp(c.listen.host, RtpPort(leg), ++s.sdpSession));
    int err = sipsess_connect(&leg->sess, s.sock, to.c_str(), nullptr, from.c_str(), "marlune", nullptr, 0,
                              "application/sdp", desc, Auth, nullptr, false, OfferHandler, AnswerHandler,
                              ProgressHandler, EstablishedHandler, InfoHandler, nullptr, CloseHandler, leg, nullptr);
    mem_deref(desc);
    if (err) {
        Log("SIP line: cannot send INVITE to " + to, true);
        Emit({EventKind::Ended, serial, "", EndHow::Unavailable});
        EndLeg(leg);
        return;
    }
    s.leg = leg;
    tmr_start(&leg->dialTimer, kDialLimitMs, DialTimedOut, leg);
}

void Answer(unsigned serial, LONG request) {
    Stack& s = *gStack;
    Leg* leg = s.leg;
    LONG result = Err(LINEERR_INVALCALLSTATE);
    if (leg && leg->serial == serial && leg->incoming && !leg->answered) {
        struct mbuf* desc =
            Buffer(AnswerSdp(leg->remote, s.config.listen.host, RtpPort(leg), ++s.sdpSession));
        result = sipsess_answer(leg->sess, 200, "OK", desc, nullptr) == 0 ? 0 : Err(LINEERR_OPERATIONFAILED);
        mem_deref(desc);
        if (result == 0) {
            leg->answered = true;
            tmr_cancel(&leg->ringTimer);
            StartSound(leg);
        }
    }
    Emit({EventKind::Reply, serial, "", EndHow::Normal, request, result});
}

void OnCommand(int id, void* data, void*) {
    std::unique_ptr<CommandData> d(static_cast<CommandData*>(data));
    Leg* leg = gStack->leg;
    switch (id) {
        case kAnswer: return Answer(d->call, d->request);
        case kDrop:
            if (leg && leg->serial == d->call) EndLeg(leg);
            return;
        case kDial: return Dial(d->call, d->number);
        case kQuit:
            // The process ends: a call still up gets its BYE (or 486, or CANCEL) now.
            EndLeg(leg);
            re_cancel();
            return;
        default: return;
    }
}

void Registered(int err, const struct sip_msg* msg, void*) {
    if (err) return Log(std::string("SIP line: REGISTER failed: ") + strerror(err), true);
    if (msg->scode >= 300)
        return Log("SIP line: REGISTER answered " + std::to_string(msg->scode) + " " + Text(msg->reason), true);
    Log("SIP line: registered as " + gStack->config.registerUri);
}

bool Listen(Stack& s, std::string& error) {
    const Config& c = s.config;
    if (sa_set_str(&s.laddr, c.listen.host.c_str(), static_cast<uint16_t>(c.listen.port)) != 0) {
        error = "cannot use the address " + c.listen.Text();
        return false;
    }
    if (sip_alloc(&s.sip, nullptr, 32, 32, 32, "marlune", nullptr, nullptr) != 0 ||
        mqueue_alloc(&s.queue, OnCommand, nullptr) != 0) {
        error = "cannot start SIP";
        return false;
    }
    if (sip_transp_add(s.sip, SIP_TRANSP_UDP, &s.laddr) != 0 || sip_transp_add(s.sip, SIP_TRANSP_TCP, &s.laddr) != 0) {
        error = "cannot listen for SIP on " + c.listen.Text() + " (UDP and TCP)";
        return false;
    }
    if (sip_listen(&s.checks, s.sip, true, CheckHandler, nullptr) != 0 ||
        sipsess_listen(&s.sock, s.sip, 32, Incoming, nullptr) != 0) {
        error = "cannot start SIP";
        return false;
    }
    if (!c.registerUri.empty()) {
        std::string user;
        HostPort registrar;
        ParseRegisterUri(c.registerUri, user, registrar);
        const std::string reg = "sip:" + registrar.Text();
        if (sipreg_register(&s.reg, s.sip, reg.c_str(), c.registerUri.c_str(), nullptr, c.registerUri.c_str(), 3600,
                            user.c_str(), nullptr, 0, 0, Auth, nullptr, false, Registered, nullptr, nullptr,
                            nullptr) != 0) {
            error = "cannot send REGISTER to " + reg;
            return false;
        }
    }
    return true;
}

}  // namespace

bool StartStack(const Config& c, std::string& error) {
    if (gStack) return true;
    std::promise<std::string> started;
    std::future<std::string> result = started.get_future();
    gStopped = new std::promise<void>();
    std::thread([c, &started] {
        if (libre_init() != 0) return started.set_value("cannot start libre");
        auto* s = new Stack();
        s->config = c;
        std::string e;
        if (!Listen(*s, e)) {
            // Nothing of the stack outlives a failed start.
            mem_deref(s->reg);
            mem_deref(s->sock);
            mem_deref(s->checks);
            mem_deref(s->queue);
            if (s->sip) sip_close(s->sip, true);
            mem_deref(s->sip);
            delete s;
            libre_close();
            return started.set_value(e);
        }
        gStack = s;
        started.set_value("");
        // Packets leave on time on a busy machine when this thread goes
        // first; where the system does not allow it, it runs as it is.
        sched_param priority{};
        priority.sched_priority = 10;
        if (pthread_setschedparam(pthread_self(), SCHED_RR, &priority) != 0)
            fputs("marlune: SIP line: no real-time priority for the SIP thread; packets may leave late on a busy machine\n",
                  stderr);
        re_main(nullptr);
        gStopped->set_value();
    }).detach();
    error = result.get();
    if (!error.empty()) return false;
    // At exit the SIP thread ends its call and stops before the process's
    // statics go (a second at most).
    atexit([] {
        std::future<void> stopped = gStopped->get_future();
        Ask(kQuit, {});
        stopped.wait_for(std::chrono::seconds(1));
    });
    return true;
}

void Ask(Command cmd, CommandData data) {
    if (!gStack) return;
    auto* d = new CommandData(std::move(data));
    if (mqueue_push(gStack->queue, cmd, d) != 0) delete d;
}

}  // namespace sipline
