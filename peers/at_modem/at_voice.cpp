// The line's wave devices over the modem's voice stream. The modem carries
// one stream at a time: +VTX for the output device (in the format chosen
// at set-up, DLE-shielded, ended by DLE ETX), +VRX for the input device
// (un-shielded and placed on the clock from its CONNECT, ended by DLE !),
// or, on a modem that offers it, +VTR both ways at once (ended by DLE ^).
// Without +VTR, recording takes the line from a playback that is still
// open: what is played meanwhile is not heard, and +VTX resumes after.
// Output is paced: the modem is given at most kVoiceLead of sound ahead of
// what it has played, so that a stop or a hang-up (DLE CAN, then the end)
// silences the line at once. Without a connected call there is no stream:
// output plays to nobody at the device's own pace.
#include "peers/at_modem/at_provider.h"
#include "platform/peer.h"

namespace atmodem {

namespace {

constexpr char kDle = 0x10, kEtx = 0x03, kCan = 0x18;
constexpr peer::Micros kSampleTime = peer::kSecond / 8000;

bool Sends(Stream s) { return s == Stream::Tx || s == Stream::Duplex; }
bool Receives(Stream s) { return s == Stream::Rx || s == Stream::Duplex; }

bool CallCarriesVoice() {
    const Call& c = AtModem().call;
    return c.handle && c.state == LINECALLSTATE_CONNECTED && !c.farEndGone && !c.dropping;
}

// The stream the call and the open devices need.
Stream Wanted() {
    const Voice& v = AtModem().voice;
    if (!CallCarriesVoice()) return Stream::None;
    if (v.txWanted && v.rxWanted) return v.fullDuplex ? Stream::Duplex : Stream::Rx;
    if (v.rxWanted) return Stream::Rx;
    if (v.txWanted) return Stream::Tx;
    return Stream::None;
}

// Keeps what is received from now on for the input device.
void KeepReceived() {
    Voice& v = AtModem().voice;
    v.rx.clear();
    v.rxCarry.clear();
    v.rxActive = v.active;
    v.rxStart = v.streamStart + static_cast<peer::Micros>(v.rxSeen) * peer::kSecond / 8000;
}

void Retune();

// Every output sample so far is with the link or dropped.
void DropUnsent() {
    Provider& p = AtModem();
    Voice& v = p.voice;
    v.txUnsent.clear();
    v.txHanded = v.txSamples;
    if (v.pacer) peer::Cancel(v.pacer);
    v.pacer = 0;
    v.txMarks.push_back({v.txSamples, p.link.Queued(), std::min(v.playEnd, peer::Now())});
}

// Gives the modem what keeps it kVoiceLead ahead of what it has played,
// counting what the device has not taken yet as not played.
void Pump() {
    Provider& p = AtModem();
    Voice& v = p.voice;
    if (v.pacer) peer::Cancel(v.pacer);
    v.pacer = 0;
    if (!v.active || !Sends(v.stream) || v.txUnsent.empty()) return;
    const peer::Micros now = peer::Now();
    const size_t bytesPerSample = static_cast<size_t>(BytesPerSample(v.format.coding));
    const uint64_t untaken = p.link.Queued() - p.link.Written();
    v.playEnd = std::max(v.playEnd, now);
    const peer::Micros lead =
        std::max(v.playEnd - now, static_cast<peer::Micros>(untaken / bytesPerSample) * kSampleTime);
    if (lead < kVoiceLead) {
        size_t n = std::min(static_cast<size_t>((kVoiceLead - lead) / kSampleTime), v.txUnsent.size() / bytesPerSample);
        std::string bytes;
        bytes.reserve(n * bytesPerSample + n / 64);
        for (size_t i = 0; i < n * bytesPerSample; ++i) {
            bytes += v.txUnsent[i];
            if (v.txUnsent[i] == kDle) bytes += kDle;  // a literal DLE is doubled
        }
        v.txUnsent.erase(0, n * bytesPerSample);
        v.txHanded += n;
        v.playEnd += static_cast<peer::Micros>(n) * kSampleTime;
        p.link.Send(bytes);
        v.txMarks.push_back({v.txHanded, p.link.Queued(), v.playEnd});
    }
    if (!v.txUnsent.empty())
        v.pacer = peer::After(kVoicePiece, [] {
            AtModem().voice.pacer = 0;
            Pump();
        });
}

// The output device was reset (StopPlayWav): what is not sent is dropped,
// and what the modem holds too (DLE CAN; the stream goes on).
void FlushOutput() {
    Provider& p = AtModem();
    Voice& v = p.voice;
    const peer::Micros now = peer::Now();
    if (v.active && Sends(v.stream) && v.playEnd > now) {
        p.link.Send(std::string{kDle, kCan});
        v.playEnd = now;
    }
    DropUnsent();
}

bool Taken(uint64_t upTo) {
    Provider& p = AtModem();
    if (!p.linkOpen) return true;
    auto& marks = p.voice.txMarks;
    while (!marks.empty() && marks.front().samples < upTo) marks.pop_front();
    if (marks.empty()) return false;
    const TxMark& m = marks.front();
    // The buffer's last sample plays before the mark's end by what follows it.
    const peer::Micros played = m.playEnd - static_cast<peer::Micros>(m.samples - upTo) * kSampleTime;
    return p.link.Written() >= m.bytes && peer::Now() >= played;
}

void StartStream(Stream s) {
    Voice& v = AtModem().voice;
    v.stream = s;
    v.active = false;
    if (!Sends(s)) DropUnsent();
    unsigned session = ++v.session;
    const std::string command = s == Stream::Tx   ? Cmd("+VTX", "#VTX")
                                : s == Stream::Rx ? Cmd("+VRX", "#VRX")
                                                  : "+VTR";
    Enqueue({command, false, kCommandMs, Receives(s), [session](Outcome o, const std::vector<std::string>&) {
                 Voice& voice = AtModem().voice;
                 if (voice.session != session) return;
                 if (o == Outcome::Error && voice.stream == Stream::Duplex) {
                     // +VTR=? promised more than the modem does: half duplex from now on.
                     voice.fullDuplex = false;
                     voice.stream = Stream::None;
                     return Retune();
                 }
                 if (o != Outcome::Connect) {
                     // No stream (the call went meanwhile): nobody hears the output.
                     voice.stream = Stream::None;
                     return DropUnsent();
                 }
                 voice.active = true;
                 voice.streamStart = peer::Now();
                 voice.playEnd = voice.streamStart;
                 voice.rxSeen = 0;
                 if (Receives(voice.stream) && voice.rxWanted) KeepReceived();
                 Pump();
             }});
}

// `keepUnsent`: output not yet sent goes on with the next stream.
void EndStream(bool keepUnsent) {
    Voice& v = AtModem().voice;
    Stream s = v.stream;
    const peer::Micros now = peer::Now();
    // When the call has gone, sound the modem still holds is dropped with
    // DLE CAN first: the line is silent at once. Otherwise (the recording
    // takes the line) it plays out before the stream ends.
    const bool playing = Sends(s) && v.active && v.playEnd > now;
    const bool abort = playing && !CallCarriesVoice();
    v.stream = Stream::None;
    v.active = false;
    if (keepUnsent) {
        if (v.pacer) peer::Cancel(v.pacer);
        v.pacer = 0;
    } else {
        DropUnsent();
    }
    ++v.session;
    std::string end = abort ? std::string{kDle, kCan} : std::string();
    // Sent after the start's CONNECT when that is still on its way. DLE ETX
    // ends +VTX once the modem has played what it holds; DLE ! and DLE ^
    // make the modem end its data with DLE ETX; OK follows each.
    end += std::string{kDle, s == Stream::Tx ? kEtx : s == Stream::Rx ? '!' : '^'};
    // A modem that keeps playing what it holds answers after it: that wait
    // is not silence.
    const peer::Micros held = playing && !abort ? v.playEnd - now : 0;
    v.playEnd = std::min(v.playEnd, now);
    Enqueue({end, true, kCommandMs + static_cast<int>(held / peer::kMilli), false, nullptr});
}

// Brings the modem's stream in line with the call and the open devices.
void Retune() {
    Voice& v = AtModem().voice;
    if (v.retune) peer::Cancel(v.retune);
    v.retune = 0;
    Stream want = Wanted();
    if (want == v.stream) return;
    // A duplex stream carries either direction alone as well: no switch.
    if (v.stream == Stream::Duplex && want != Stream::None) return;
    // Output not yet sent goes on with a stream that sends too.
    const bool keep = Sends(want);
    if (v.stream != Stream::None) EndStream(keep);
    if (!keep) DropUnsent();
    if (want != Stream::None) StartStream(want);
}

void RetuneSoon() {
    Voice& v = AtModem().voice;
    // Devices opened one after the other by the same call of the
    // application share one stream: the modem is asked after it.
    if (!v.retune)
        v.retune = peer::After(0, [] {
            AtModem().voice.retune = 0;
            Retune();
        });
}

void Hear(int64_t start, int16_t* out, size_t n) {
    const Voice& v = AtModem().voice;
    int64_t first = (start - v.rxStart) * 8000 / peer::kSecond;
    for (size_t i = 0; i < n; ++i) {
        int64_t k = first + static_cast<int64_t>(i);
        out[i] = v.rxActive || !v.rx.empty() ? (k >= 0 && k < static_cast<int64_t>(v.rx.size()) ? v.rx[k] : 0) : 0;
    }
}

// Received up to clock time `upTo`, or nothing more will come.
bool Heard(int64_t upTo) {
    const Voice& v = AtModem().voice;
    if (!v.rxActive) return true;
    return v.rxStart + static_cast<int64_t>(v.rx.size()) * peer::kSecond / 8000 >= upTo;
}

void Play(const int16_t* samples, size_t n) {
    Voice& v = AtModem().voice;
    v.txSamples += n;
    // Without a call, or on a half-duplex modem that is receiving, nobody hears it.
    if (!v.txWanted || !Sends(v.retune ? Wanted() : v.stream)) return DropUnsent();
    v.txUnsent += EncodeSamples(v.format.coding, samples, n);
    Pump();
}

}  // namespace

void AttachWave() {
    peer::LineBackend b;
    b.stream = [](bool output, bool on) {
        if (!AtModem().linkOpen) return;
        Voice& v = AtModem().voice;
        (output ? v.txWanted : v.rxWanted) = on;
        if (output && on) {
            v.txSamples = v.txHanded = 0;
            v.txUnsent.clear();
            v.txMarks.clear();
        }
        if (!output && on) {
            v.rx.clear();
            v.rxActive = false;
            if (v.stream == Stream::Duplex && v.active) KeepReceived();
        }
        RetuneSoon();
    };
    b.play = Play;
    b.flush = FlushOutput;
    b.hear = Hear;
    b.taken = Taken;
    b.heard = Heard;
    peer::SetLineBackend(b);
}

void DetachWave() { peer::ClearLineBackend(); }

void EndStreams() { Retune(); }

void VoiceFollowsCall() { RetuneSoon(); }

void OnVoiceData(const std::string& bytes) {
    Voice& v = AtModem().voice;
    if (!v.active || !Receives(v.stream)) return;
    v.rxSeen += bytes.size() / static_cast<size_t>(BytesPerSample(v.format.coding));
    if (!v.rxActive) return;
    DecodeBytes(v.format.coding, bytes, v.rxCarry, v.rx);
}

void OnReceiveEnd() {
    Voice& v = AtModem().voice;
    v.rxActive = false;
    // The modem ended the stream itself: there is nothing left to end.
    if (v.active && Receives(v.stream)) v.stream = Stream::None, v.active = false, ++v.session;
}

void StreamCut() {
    Voice& v = AtModem().voice;
    v.stream = Stream::None;
    v.active = v.rxActive = false;
    DropUnsent();
    ++v.session;
}

}  // namespace atmodem
