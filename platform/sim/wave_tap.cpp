// The output devices' taps: what each open output plays, its buffers back to
// back converted to the tap's rate as one stream, written to the tap file as
// it plays.
#include <algorithm>

#include "wave_model.h"

namespace wavesim {

namespace {

uint64_t TapIndex(DWORD rate, Micros at) {
    return at <= 0 ? 0 : static_cast<uint64_t>(at) * rate / sim::kSecond;
}

constexpr size_t kFeedFrames = 4096;  // input frames converted at a time

uint64_t BufferFrames(const Open& o, const Queued& q) {
    const DWORD frame = o.layout.FrameBytes();
    return frame ? q.header->dwBufferLength / frame : 0;
}

Queued* NextUnfed(Open& o) {
    for (auto& q : o.queue)
        if (q.fed < BufferFrames(o, q)) return &q;
    return nullptr;
}

void StartStream(const Tap& t, const Open& o, TapStream& s, Micros start) {
    s = TapStream{};
    s.on = true;
    s.at = TapIndex(t.rate, start);
    if (o.layout.rate != t.rate) s.resampler = std::make_shared<sim::Resampler>(o.layout.rate, t.rate, 1);
}

void Produce(TapStream& s, const std::vector<float>& out) {
    s.pending.reserve(s.pending.size() + out.size());
    for (float v : out) s.pending.push_back(ToS16(v));
}

// Gives the stream the next frames of a queued buffer.
void Feed(Open& o, TapStream& s, Queued& q) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kFeedFrames, BufferFrames(o, q) - q.fed));
    float mono[kFeedFrames];
    MixMono(o.layout, reinterpret_cast<const uint8_t*>(q.header->lpData), q.fed, n, mono);
    q.fed += n;
    s.frames += n;
    if (!s.resampler) {
        for (size_t i = 0; i < n; ++i) s.pending.push_back(ToS16(mono[i]));
        return;
    }
    std::vector<float> out;
    s.resampler->Process(mono, n, out);
    Produce(s, out);
}

// Writes what the stream has produced below tap index `limit`.
void WritePending(Tap& t, TapStream& s, uint64_t limit) {
    const uint64_t upTo = limit > s.at ? limit - s.at : 0;
    if (s.written >= upTo || s.pending.empty()) return;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(s.pending.size(), upTo - s.written));
    t.file.Put(s.at + s.written, s.pending.data(), n);
    s.written += n;
    s.pending.erase(s.pending.begin(), s.pending.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace

// Writes what has played on the open output up to `upTo` to its tap,
// converting as much of the queued buffers as that takes.
void AdvanceTap(Open& o, Micros upTo) {
    Tap& t = WaveDevices().taps[o.device];
    TapStream& s = o.tap;
    if (!t.file.IsOpen() || (!s.on && o.queue.empty())) return;
    if (!s.on) StartStream(t, o, s, o.queue.front().start);
    const uint64_t limit = TapIndex(t.rate, upTo);
    for (;;) {
        WritePending(t, s, limit);
        if (s.at + s.written + s.pending.size() >= limit) return;
        Queued* q = NextUnfed(o);
        if (!q) return;
        Feed(o, s, *q);
    }
}

// The stream has ended (its last buffer played, or a gap follows): all of
// it to the tap, as long as its buffers last at the tap's rate.
void FinishTap(Open& o) {
    Tap& t = WaveDevices().taps[o.device];
    TapStream& s = o.tap;
    if (t.file.IsOpen() && (s.on || !o.queue.empty())) {
        if (!s.on) StartStream(t, o, s, o.queue.front().start);
        while (Queued* q = NextUnfed(o)) Feed(o, s, *q);
        uint64_t total = s.frames;
        if (s.resampler) {
            std::vector<float> out;
            s.resampler->Flush(out);
            Produce(s, out);
            total = s.frames * t.rate / o.layout.rate;
        }
        s.pending.resize(static_cast<size_t>(total > s.written ? total - s.written : 0), 0);
        WritePending(t, s, UINT64_MAX);
    }
    s = TapStream{};
}

// A reset: the tap up to `upTo` and no further; the stream ends there.
void CutTap(Open& o, Micros upTo) {
    Tap& t = WaveDevices().taps[o.device];
    TapStream& s = o.tap;
    AdvanceTap(o, upTo);
    if (t.file.IsOpen() && s.on && s.resampler) {
        std::vector<float> out;
        s.resampler->Flush(out);
        Produce(s, out);
        WritePending(t, s, TapIndex(t.rate, upTo));
    }
    s = TapStream{};
}

void TapBufferDone(Open& o) {
    if (o.queue.size() == 1) {
        FinishTap(o);
    } else if (WaveDevices().taps[o.device].file.IsOpen()) {
        AdvanceTap(o, o.queue.front().end);
        while (o.tap.on && o.queue.front().fed < BufferFrames(o, o.queue.front())) Feed(o, o.tap, o.queue.front());
    }
}

void FlushTap(UINT device) {
    for (auto& [h, o] : WaveDevices().opens)
        if (o.output && o.device == device) AdvanceTap(o, sim::Now());
    WaveDevices().taps[device].file.Flush();
}

}  // namespace wavesim
