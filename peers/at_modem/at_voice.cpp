// The line's wave devices over the modem's voice stream. The modem carries
// one stream at a time: +VTX for the output device (mu-law or 8-bit
// linear, DLE-shielded, ended by DLE ETX), +VRX for the input device
// (un-shielded and placed on the clock from its CONNECT, ended by DLE !),
// or, on a modem that offers it, +VTR both ways at once (ended by DLE ^).
// Without +VTR, recording takes the line from a playback that is still
// open: what is played meanwhile is not heard, and +VTX resumes after.
#include "peers/at_modem/at_provider.h"
#include "platform/sim/g711.h"
#include "platform/sim/sim.h"
#include "platform/sim/wave_devices.h"

namespace atmodem {

namespace {

constexpr char kDle = 0x10, kEtx = 0x03;

uint8_t Encode(int16_t v) {
    return P().voice.format == 130 ? sim::MuLawEncode(v) : static_cast<uint8_t>((v >> 8) + 128);
}
int16_t Decode(uint8_t b) {
    return P().voice.format == 130 ? sim::MuLawDecode(b) : static_cast<int16_t>((static_cast<int>(b) - 128) << 8);
}

bool Sends(Stream s) { return s == Stream::Tx || s == Stream::Duplex; }
bool Receives(Stream s) { return s == Stream::Rx || s == Stream::Duplex; }

// The stream the open devices need.
Stream Wanted() {
    const Voice& v = P().voice;
    if (v.txWanted && v.rxWanted) return v.fullDuplex ? Stream::Duplex : Stream::Rx;
    if (v.rxWanted) return Stream::Rx;
    if (v.txWanted) return Stream::Tx;
    return Stream::None;
}

// Keeps what is received from now on for the input device.
void KeepReceived() {
    Voice& v = P().voice;
    v.rx.clear();
    v.rxActive = v.active;
    v.rxStart = v.streamStart + static_cast<sim::Micros>(v.rxSeen) * sim::kSecond / 8000;
}

void Retune();

// The output's samples so far are with the link (or dropped): taken once
// the device has taken the link's bytes up to here.
void Handed() {
    Voice& v = P().voice;
    v.txMarks.emplace_back(v.txSamples, P().link.Queued());
}

void DropPending() {
    P().voice.txPending.clear();
    Handed();
}

bool Taken(uint64_t upTo) {
    Provider& p = P();
    if (!p.linkOpen) return true;
    auto& marks = p.voice.txMarks;
    while (!marks.empty() && marks.front().first < upTo) marks.pop_front();
    return !marks.empty() && p.link.Written() >= marks.front().second;
}

void StartStream(Stream s) {
    Voice& v = P().voice;
    v.stream = s;
    v.active = false;
    if (!Sends(s)) DropPending();
    unsigned session = ++v.session;
    const std::string command = s == Stream::Tx   ? Cmd("+VTX", "#VTX")
                                : s == Stream::Rx ? Cmd("+VRX", "#VRX")
                                                  : "+VTR";
    Enqueue({command, false, kCommandMs, Receives(s), [session](Outcome o, const std::vector<std::string>&) {
                 Voice& voice = P().voice;
                 if (voice.session != session) return;
                 if (o == Outcome::Error && voice.stream == Stream::Duplex) {
                     // +VTR=? promised more than the modem does: half duplex from now on.
                     voice.fullDuplex = false;
                     voice.stream = Stream::None;
                     return Retune();
                 }
                 if (o != Outcome::Connect) return;
                 voice.active = true;
                 voice.streamStart = sim::Now();
                 voice.rxSeen = 0;
                 if (Receives(voice.stream) && voice.rxWanted) KeepReceived();
                 if (!voice.txPending.empty()) P().link.Send(voice.txPending);
                 DropPending();
             }});
}

void EndStream() {
    Voice& v = P().voice;
    Stream s = v.stream;
    v.stream = Stream::None;
    v.active = false;
    DropPending();
    ++v.session;
    // Sent after the start's CONNECT when that is still on its way. DLE ETX
    // ends +VTX once the modem has played what it holds; DLE ! and DLE ^
    // make the modem end its data with DLE ETX; OK follows each.
    const char code = s == Stream::Tx ? kEtx : s == Stream::Rx ? '!' : '^';
    Enqueue({std::string{kDle, code}, true, kCommandMs, false, nullptr});
}

// Brings the modem's stream in line with the open devices.
void Retune() {
    Voice& v = P().voice;
    if (v.retune) sim::Cancel(v.retune);
    v.retune = 0;
    Stream want = Wanted();
    if (want == v.stream) return;
    // A duplex stream carries either direction alone as well: no switch.
    if (v.stream == Stream::Duplex && want != Stream::None) return;
    // Bytes not yet sent go on with a stream that sends too.
    std::string pending = Sends(want) ? std::move(v.txPending) : std::string();
    v.txPending.clear();
    if (v.stream != Stream::None) EndStream();
    if (want != Stream::None) StartStream(want);
    v.txPending = pending + v.txPending;
    if (v.txPending.empty()) Handed();
}

void Hear(int64_t start, int16_t* out, size_t n) {
    const Voice& v = P().voice;
    int64_t first = (start - v.rxStart) * 8000 / sim::kSecond;
    for (size_t i = 0; i < n; ++i) {
        int64_t k = first + static_cast<int64_t>(i);
        out[i] = v.rxActive || !v.rx.empty() ? (k >= 0 && k < static_cast<int64_t>(v.rx.size()) ? v.rx[k] : 0) : 0;
    }
}

void Play(const int16_t* samples, size_t n) {
    Voice& v = P().voice;
    v.txSamples += n;
    // On a half-duplex modem that is receiving, nobody hears it.
    if (!v.txWanted || !Sends(v.retune ? Wanted() : v.stream)) return Handed();
    std::string bytes;
    bytes.reserve(n + n / 64);
    for (size_t i = 0; i < n; ++i) {
        char b = static_cast<char>(Encode(samples[i]));
        bytes += b;
        if (b == kDle) bytes += kDle;  // a literal DLE is doubled
    }
    if (v.active) {
        P().link.Send(bytes);
        Handed();
    } else {
        v.txPending += bytes;
    }
}

}  // namespace

void AttachWave() {
    sim::LineBackend b;
    b.stream = [](bool output, bool on) {
        if (!P().linkOpen) return;
        Voice& v = P().voice;
        (output ? v.txWanted : v.rxWanted) = on;
        if (output && on) v.txSamples = 0, v.txMarks.clear();
        if (!output && on) {
            v.rx.clear();
            v.rxActive = false;
            if (v.stream == Stream::Duplex && v.active) KeepReceived();
        }
        // Devices opened one after the other by the same call of the
        // application share one stream: the modem is asked after it.
        if (!v.retune)
            v.retune = sim::ScheduleAfter(0, [] {
                P().voice.retune = 0;
                Retune();
            });
    };
    b.play = Play;
    b.flush = DropPending;
    b.hear = Hear;
    b.taken = Taken;
    sim::SetLineBackend(sim::kLineDevice, b);
}

void DetachWave() { sim::SetLineBackend(sim::kLineDevice, sim::LineBackend{}); }

void EndStreams() {
    Voice& v = P().voice;
    v.txWanted = v.rxWanted = false;
    Retune();
}

void OnVoiceData(const std::string& bytes) {
    Voice& v = P().voice;
    if (!v.active || !Receives(v.stream)) return;
    v.rxSeen += bytes.size();
    if (!v.rxActive) return;
    for (char b : bytes) v.rx.push_back(Decode(static_cast<uint8_t>(b)));
}

void OnReceiveEnd() {
    Voice& v = P().voice;
    v.rxActive = false;
    // The modem ended the stream itself: there is nothing left to end.
    if (v.active && Receives(v.stream)) v.stream = Stream::None, v.active = false, ++v.session;
}

void StreamCut() {
    Voice& v = P().voice;
    v.stream = Stream::None;
    v.active = v.rxActive = false;
    DropPending();
    ++v.session;
}

}  // namespace atmodem
