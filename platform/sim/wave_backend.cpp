// Line backends: a telephony provider that carries the line's audio itself
// (over a modem's voice stream) backs a wave device id. The device keeps its
// clock and buffers; the backend is told when the device opens and closes,
// gets every output buffer as 16-bit samples at 8 kHz when it is queued,
// and supplies what input buffers are filled with.
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

size_t BackendPlay(UINT device, const WAVEFORMATEX& f, const WAVEHDR& h) {
    const auto* b = Find(device);
    if (!b || !b->play) return 0;
    const DWORD frame = FrameBytes(f);
    const uint64_t frames = frame ? h.dwBufferLength / frame : 0;
    const uint64_t rate = f.nSamplesPerSec ? f.nSamplesPerSec : 8000;
    const uint64_t n = frames * 8000 / rate;
    std::vector<int16_t> out(n);
    const auto* data = reinterpret_cast<const uint8_t*>(h.lpData);
    for (uint64_t i = 0; i < n; ++i) out[i] = static_cast<int16_t>(SampleAt(f, data, std::min(frames - 1, i * rate / 8000)));
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

bool BackendHear(UINT device, sim::Micros start, DWORD rate, size_t frames, std::vector<int16_t>& out) {
    const auto* b = Find(device);
    if (!b || !b->hear) return false;
    const uint64_t r = rate ? rate : 8000;
    const size_t n = static_cast<size_t>(frames * 8000 / r) + 1;
    std::vector<int16_t> at8k(n, 0);
    b->hear(start, at8k.data(), n);
    out.resize(frames);
    for (size_t i = 0; i < frames; ++i) out[i] = at8k[std::min(n - 1, static_cast<size_t>(i * 8000 / r))];
    return true;
}

}  // namespace wavesim

namespace sim {

void SetLineBackend(UINT device, LineBackend backend) {
    if (!backend.stream && !backend.play && !backend.flush && !backend.hear)
        wavesim::Backends().erase(device);
    else
        wavesim::Backends()[device] = std::move(backend);
}

}  // namespace sim
