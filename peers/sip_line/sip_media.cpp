// A call's sound on the SIP thread: every 20 ms on the monotonic clock one
// G.711 packet goes out (what the output device gave, else silence) and one
// frame comes out of the jitter buffer into the line's input. Keys arrive
// as RFC 4733 events (each once, by its timestamp) or in band (spandsp's
// DTMF receiver, while the far end sends no events).
#include <chrono>
#include <cstring>
#include <thread>

extern "C" {
#include <re.h>
#include <spandsp.h>
}

#include "peers/sip_line/sip_line.h"
#include "peers/sip_line/sip_message.h"

namespace sipline {

struct MediaLeg {
    unsigned call = 0;
    struct rtp_sock* rtp = nullptr;
    struct sa remote;
    int pt = kPcmu;
    int telephoneEvent = -1;
    struct jbuf* jitter = nullptr;
    struct tmr tick;
    struct mbuf* packet = nullptr;
    std::chrono::steady_clock::time_point next;
    uint32_t ts = 0;
    bool first = true;
    bool eventSeen = false;
    uint32_t lastEventTs = 0;
    dtmf_rx_state_t* dtmf = nullptr;
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPeriod = std::chrono::milliseconds(20);
// Further behind than this (the thread was held up): the schedule restarts
// rather than sending a burst.
constexpr auto kGiveUp = std::chrono::milliseconds(200);
// libre's timers wake to the millisecond at best: the thread wakes this much
// early and sleeps the rest to the packet's time on the clock itself.
constexpr auto kEarly = std::chrono::milliseconds(2);

void KeyHeard(MediaLeg* m, char key) { Emit({EventKind::Key, m->call, "", EndHow::Normal, 0, 0, key}); }

void InBandKeys(void* arg, const char* digits, int len) {
    auto* m = static_cast<MediaLeg*>(arg);
    if (m->eventSeen) return;
    for (int i = 0; i < len; ++i) KeyHeard(m, digits[i]);
}

void SendFrame(MediaLeg* m) {
    int16_t frame[kFrame] = {0};
    {
        Media& media = TheMedia();
        std::lock_guard<std::mutex> g(media.lock);
        const size_t n = std::min(kFrame, media.tx.size());
        std::copy(media.tx.begin(), media.tx.begin() + static_cast<std::ptrdiff_t>(n), frame);
        media.tx.erase(media.tx.begin(), media.tx.begin() + static_cast<std::ptrdiff_t>(n));
        media.txSent += n;
    }
    struct mbuf* mb = m->packet;
    mb->pos = mb->end = RTP_HEADER_SIZE;
    for (int16_t v : frame) (void)mbuf_write_u8(mb, m->pt == kPcma ? peer::ALawEncode(v) : peer::MuLawEncode(v));
    mb->pos = RTP_HEADER_SIZE;
    (void)rtp_send(m->rtp, &m->remote, false, m->first, static_cast<uint8_t>(m->pt), m->ts, mb);
    m->first = false;
    m->ts += kFrame;
}

void HearFrame(MediaLeg* m) {
    int16_t frame[kFrame] = {0};
    struct rtp_header hdr;
    void* mem = nullptr;
    int err = jbuf_get(m->jitter, &hdr, &mem);
    if ((err == 0 || err == EAGAIN) && mem) {
        struct mbuf* mb = static_cast<struct mbuf*>(mem);
        const size_t n = std::min(kFrame, mbuf_get_left(mb));
        const uint8_t* p = mbuf_buf(mb);
        for (size_t i = 0; i < n; ++i) frame[i] = hdr.pt == kPcma ? peer::ALawDecode(p[i]) : peer::MuLawDecode(p[i]);
        mem_deref(mem);
    }
    if (!m->eventSeen) dtmf_rx(m->dtmf, frame, static_cast<int>(kFrame));
    Media& media = TheMedia();
    std::lock_guard<std::mutex> g(media.lock);
    if (!media.rxOpen) return;
    if (media.rxStart < 0) media.rxStart = peer::Now() - kFrameTime;
    media.rx.insert(media.rx.end(), frame, frame + kFrame);
}

void Tick(void* arg) {
    auto* m = static_cast<MediaLeg*>(arg);
    auto now = Clock::now();
    // Not worth a timer (it would fire at once, again and again): sleep.
    if (m->next > now && m->next - now < kEarly + std::chrono::milliseconds(1)) {
        std::this_thread::sleep_until(m->next);
        now = Clock::now();
    }
    if (now - m->next > kGiveUp) m->next = now;
    while (m->next <= now) {
        SendFrame(m);
        HearFrame(m);
        m->next += kPeriod;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(m->next - kEarly - Clock::now());
    tmr_start(&m->tick, static_cast<uint64_t>(std::max<int64_t>(0, wait.count())), Tick, m);
}

void SetTarget(MediaLeg* m, const std::string& address, unsigned port, int pt, int telephoneEvent) {
    sa_set_str(&m->remote, address.c_str(), static_cast<uint16_t>(port));
    m->pt = pt;
    m->telephoneEvent = telephoneEvent;
}

}  // namespace

MediaLeg* StartMedia(void* rtp, const std::string& address, unsigned port, int pt, int telephoneEvent, unsigned call) {
    auto* m = new MediaLeg();
    m->call = call;
    m->rtp = static_cast<struct rtp_sock*>(rtp);
    SetTarget(m, address, port, pt, telephoneEvent);
    tmr_init(&m->tick);
    m->packet = mbuf_alloc(RTP_HEADER_SIZE + kFrame);
    (void)jbuf_alloc(&m->jitter, 2, 10);
    m->dtmf = dtmf_rx_init(nullptr, InBandKeys, m);
    m->ts = rand_u32();
    {
        Media& media = TheMedia();
        std::lock_guard<std::mutex> g(media.lock);
        media.flowing = true;
        media.rx.clear();
        media.rxStart = -1;
    }
    m->next = Clock::now();
    Tick(m);
    return m;
}

void RetargetMedia(MediaLeg* m, const std::string& address, unsigned port, int pt, int telephoneEvent) {
    SetTarget(m, address, port, pt, telephoneEvent);
}

void StopMedia(MediaLeg* m) {
    tmr_cancel(&m->tick);
    {
        Media& media = TheMedia();
        std::lock_guard<std::mutex> g(media.lock);
        media.flowing = false;
        media.tx.clear();
        media.txSent = media.txQueued;
    }
    mem_deref(m->packet);
    mem_deref(m->jitter);
    dtmf_rx_free(m->dtmf);
    delete m;
}

void MediaReceived(MediaLeg* m, uint8_t pt, uint32_t ts, uint16_t seq, void* data) {
    auto* mb = static_cast<struct mbuf*>(data);
    if (m->telephoneEvent >= 0 && pt == m->telephoneEvent) {
        const char key = EventKey(mbuf_buf(mb), mbuf_get_left(mb));
        // One event, one timestamp: its repeats and end packets share it.
        if (key && (!m->eventSeen || ts != m->lastEventTs)) KeyHeard(m, key);
        m->eventSeen = true;
        m->lastEventTs = ts;
        return;
    }
    if (pt != kPcmu && pt != kPcma) return;
    struct rtp_header hdr;
    memset(&hdr, 0, sizeof hdr);
    hdr.pt = pt;
    hdr.ts = ts;
    hdr.seq = seq;
    (void)jbuf_put(m->jitter, &hdr, mb);
}

}  // namespace sipline
