// Line backends: a telephony provider that carries the line's audio itself
// (over a modem's voice stream) backs a wave device id. The device keeps its
// clock and buffers; the backend is told when the device opens and closes,
// gets every output buffer as 16-bit samples at 8 kHz when it is queued,
// and supplies what input buffers are filled with.
#include <algorithm>
#include <map>

#include "wave_model.h"

namespace wavesim {

namespace {

std::map<UINT, sim::LineBackend>& Backends() {
    static auto* b = new std::map<UINT, sim::LineBackend>();
    return *b;
}

const sim::LineBackend* Find(UINT device) {
    auto it = Backends().find(device);
    return it == Backends().end() ? nullptr : &it->second;
}

}  // namespace

void BackendStream(UINT device, bool output, bool on) {
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

bool BackendHeard(UINT device, sim::Micros upTo) {
    const auto* b = Find(device);
    return !b || !b->heard || b->heard(upTo);
}

void BackendFlush(UINT device) {
    if (const auto* b = Find(device))
        if (b->flush) b->flush();
}

bool BackendHear(UINT device, sim::Micros start, DWORD rate, size_t frames, std::vector<int16_t>& out) {
    const auto* b = Find(device);
    if (!b || !b->hear) return false;
    const uint64_t r = rate ? rate : 8000;
    const size_t n = static_cast<size_t>(frames * 8000 / r) + 1;
    std::vector<int16_t> at8k(n, 0);
    b->hear(start, at8k.data(), n);
    out.resize(frames);
    if (r == 8000) {
        std::copy(at8k.begin(), at8k.begin() + static_cast<std::ptrdiff_t>(frames), out.begin());
        return true;
    }
    const std::vector<float> in(at8k.begin(), at8k.end());
    const std::vector<float> converted = sim::ResampleAll(in.data(), n, 1, 8000, static_cast<double>(r), frames);
    for (size_t i = 0; i < frames; ++i) out[i] = ToS16(converted[i]);
    return true;
}

}  // namespace wavesim

namespace sim {

void SetLineBackend(UINT device, LineBackend backend) {
    if (!backend.stream && !backend.play && !backend.flush && !backend.hear && !backend.heard)
        wavesim::Backends().erase(device);
    else
        wavesim::Backends()[device] = std::move(backend);
}

}  // namespace sim
