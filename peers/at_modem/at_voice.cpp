// The line's wave devices over the modem's voice stream: the output device
// streams its buffers to +VTX (mu-law or 8-bit linear, DLE-shielded) and
// ends with DLE ETX; the input device is filled from +VRX, un-shielded and
// placed on the clock from the CONNECT that starts it, until DLE ! ends it.
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

void StartTransmit() {
    Voice& v = P().voice;
    v.txWanted = true;
    Enqueue({Cmd("+VTX", "#VTX"), false, kCommandMs, false, [](Outcome o, const std::vector<std::string>&) {
                 Voice& voice = P().voice;
                 if (o != Outcome::Connect || !voice.txWanted) return;
                 voice.txActive = true;
                 if (!voice.txPending.empty()) P().link.Send(voice.txPending);
                 voice.txPending.clear();
             }});
}

void EndTransmit() {
    Voice& v = P().voice;
    if (!v.txWanted) return;
    v.txWanted = false;
    v.txPending.clear();
    // DLE ETX ends the stream once the modem has played what it holds; OK follows.
    Command end{std::string{kDle, kEtx}, true, kCommandMs, false, nullptr};
    if (v.txActive) {
        v.txActive = false;
        Enqueue(end);
    } else {
        // +VTX is still on its way: end the stream right after its CONNECT.
        Enqueue(end);
    }
}

void StartReceive() {
    Voice& v = P().voice;
    v.rxWanted = true;
    v.rx.clear();
    Enqueue({Cmd("+VRX", "#VRX"), false, kCommandMs, true, [](Outcome o, const std::vector<std::string>&) {
                 Voice& voice = P().voice;
                 if (o != Outcome::Connect) return;
                 voice.rxActive = true;
                 voice.rxStart = sim::Now();
                 if (!voice.rxWanted) P().link.Send(std::string{kDle, '!'});
             }});
}

void EndReceive() {
    Voice& v = P().voice;
    if (!v.rxWanted) return;
    v.rxWanted = false;
    if (v.rxActive)
        // DLE ! stops receiving: the modem ends the data with DLE ETX, then OK.
        Enqueue({std::string{kDle, '!'}, true, kCommandMs, false, nullptr});
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
    if (!v.txWanted) return;
    std::string bytes;
    bytes.reserve(n + n / 64);
    for (size_t i = 0; i < n; ++i) {
        char b = static_cast<char>(Encode(samples[i]));
        bytes += b;
        if (b == kDle) bytes += kDle;  // a literal DLE is doubled
    }
    if (v.txActive)
        P().link.Send(bytes);
    else
        v.txPending += bytes;
}

}  // namespace

void AttachWave() {
    sim::LineBackend b;
    b.stream = [](bool output, bool on) {
        if (!P().linkOpen) return;
        if (output) on ? StartTransmit() : EndTransmit();
        else on ? StartReceive() : EndReceive();
    };
    b.play = Play;
    b.flush = [] { P().voice.txPending.clear(); };
    b.hear = Hear;
    sim::SetLineBackend(sim::kLineDevice, b);
}

void DetachWave() { sim::SetLineBackend(sim::kLineDevice, sim::LineBackend{}); }

void EndStreams() {
    EndTransmit();
    EndReceive();
}

void OnVoiceData(const std::string& bytes) {
    Voice& v = P().voice;
    if (!v.rxActive) return;
    for (char b : bytes) v.rx.push_back(Decode(static_cast<uint8_t>(b)));
}

void OnReceiveEnd() { P().voice.rxActive = false; }

}  // namespace atmodem
