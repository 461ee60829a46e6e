// Line backends: a telephony provider that carries the line's audio itself
// (over a modem's voice stream) backs a wave device id. The device keeps its
// clock and buffers; the backend is told when the device opens and closes,
// gets every output buffer as 16-bit samples at 8 kHz when it is queued,
// and supplies what input buffers are filled with: at another rate through
// one conversion stream per recording, fed as the line delivers.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <map>

#include "wave_model.h"

namespace wavesim {

namespace {

constexpr Micros kLineSample = sim::kSecond / 8000;

std::map<UINT, sim::LineBackend>& Backends() {
    static auto* b = new std::map<UINT, sim::LineBackend>();
    return *b;
}

const sim::LineBackend* Find(UINT device) {
    auto it = Backends().find(device);
    return it == Backends().end() ? nullptr : &it->second;
}

Micros HeardUntil(const sim::LineBackend& b) {
    return b.heardUntil ? b.heardUntil() : std::numeric_limits<Micros>::max();
}

// A recording's conversion from the line's 8 kHz: frame i is heard at
// origin + i / rate, line sample j at origin + j / 8000.
struct InputStream {
    DWORD rate = 0;
    Micros origin = 0;
    uint64_t next = 0;     // the frame the next buffer starts at
    Micros nextStart = 0;  // its clock time
    std::unique_ptr<sim::Resampler> resampler;
    uint64_t fed = 0;    // line samples fed
    uint64_t first = 0;  // the frame of out[0]
    std::vector<int16_t> out;
};

std::map<UINT, InputStream>& Streams() {
    static auto* s = [] {
        auto* m = new std::map<UINT, InputStream>();
        sim::AddResetHook([m] { m->clear(); });
        return m;
    }();
    return *s;
}

// The device's stream for a buffer from `start`: the one running when the
// buffer follows on from the last, else a new one from `start`.
InputStream& StreamFor(UINT device, Micros start, DWORD rate) {
    InputStream& s = Streams()[device];
    const Micros halfFrame = sim::kSecond / (2 * static_cast<Micros>(rate));
    if (!s.resampler || s.rate != rate || std::abs(start - s.nextStart) > halfFrame) {
        s = InputStream();
        s.rate = rate;
        s.origin = s.nextStart = start;
        s.resampler = std::make_unique<sim::Resampler>(8000, rate, 1);
    }
    return s;
}

// Feeds the line's samples delivered before `until` (and no more than the
// frames up to `want` need).
void Advance(const sim::LineBackend& b, InputStream& s, Micros until, uint64_t want) {
    const uint64_t limit = until == std::numeric_limits<Micros>::max()
                               ? std::numeric_limits<uint64_t>::max()
                               : static_cast<uint64_t>(std::max<Micros>(0, until - s.origin) / kLineSample);
    std::vector<int16_t> piece;
    std::vector<float> in, out;
    while (s.first + s.out.size() < want && s.fed < limit) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(160, limit - s.fed));
        piece.assign(n, 0);
        b.hear(s.origin + static_cast<Micros>(s.fed) * kLineSample, piece.data(), n);
        in.assign(piece.begin(), piece.end());
        out.clear();
        s.resampler->Process(in.data(), n, out);
        s.fed += n;
        for (float v : out) s.out.push_back(ToS16(v));
    }
}

}  // namespace

void BackendStream(UINT device, bool output, bool on) {
    if (!output) Streams().erase(device);
    if (const auto* b = Find(device))
        if (b->stream) b->stream(output, on);
}

size_t BackendPlay(UINT device, const Layout& l, const WAVEHDR& h) {
    const auto* b = Find(device);
    if (!b || !b->play) return 0;
    const DWORD frame = l.FrameBytes();
    const uint64_t frames = frame ? h.dwBufferLength / frame : 0;
    const uint64_t rate = l.rate ? l.rate : 8000;
    const uint64_t n = frames * 8000 / rate;
    std::vector<float> mono(frames);
    MixMono(l, reinterpret_cast<const uint8_t*>(h.lpData), 0, frames, mono.data());
    const std::vector<float> at8k = sim::ResampleAll(mono.data(), frames, 1, static_cast<double>(rate), 8000, n);
    std::vector<int16_t> out(n);
    for (uint64_t i = 0; i < n; ++i) out[i] = ToS16(at8k[i]);
    b->play(out.data(), out.size());
    return out.size();
}

bool BackendTaken(UINT device, uint64_t upTo) {
    const auto* b = Find(device);
    return !b || !b->taken || b->taken(upTo);
}

void BackendFlush(UINT device) {
    if (const auto* b = Find(device))
        if (b->flush) b->flush();
}

bool BackendReady(UINT device, sim::Micros start, DWORD rate, size_t frames) {
    const auto* b = Find(device);
    if (!b || !b->hear) return true;
    const DWORD r = rate ? rate : 8000;
    if (r == 8000) return HeardUntil(*b) >= start + static_cast<Micros>(frames) * kLineSample;
    // The converter holds back its filter's reach: ready once its output
    // covers the buffer from what the line has delivered.
    InputStream& s = StreamFor(device, start, r);
    Advance(*b, s, HeardUntil(*b), s.next + frames);
    return s.first + s.out.size() >= s.next + frames;
}

bool BackendHear(UINT device, sim::Micros start, DWORD rate, size_t frames, std::vector<int16_t>& out) {
    const auto* b = Find(device);
    if (!b || !b->hear) return false;
    const DWORD r = rate ? rate : 8000;
    out.assign(frames, 0);
    if (r == 8000) {
        b->hear(start, out.data(), frames);
        return true;
    }
    // What the line has not delivered by now is silence.
    InputStream& s = StreamFor(device, start, r);
    Advance(*b, s, std::numeric_limits<Micros>::max(), s.next + frames);
    for (size_t i = 0; i < frames; ++i) {
        const uint64_t k = s.next + i - s.first;
        if (k < s.out.size()) out[i] = s.out[k];
    }
    s.next += frames;
    s.nextStart = start + static_cast<Micros>(frames) * sim::kSecond / static_cast<Micros>(r);
    const size_t used = static_cast<size_t>(std::min<uint64_t>(s.next - s.first, s.out.size()));
    s.out.erase(s.out.begin(), s.out.begin() + static_cast<std::ptrdiff_t>(used));
    s.first += used;
    return true;
}

}  // namespace wavesim

namespace sim {

void SetLineBackend(UINT device, LineBackend backend) {
    if (!backend.stream && !backend.play && !backend.flush && !backend.hear && !backend.heardUntil)
        wavesim::Backends().erase(device);
    else
        wavesim::Backends()[device] = std::move(backend);
}

}  // namespace sim
