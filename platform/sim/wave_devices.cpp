// Virtual waveOut/waveIn devices: a table of two devices (sound card and
// the modem's line), buffers that play and fill in real duration on the
// platform clock, window notifications, taps streamed to their files and
// input sources.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "alsa_output.h"
#include "call_hook.h"
#include "g711.h"
#include "wave_model.h"

namespace wavesim {

namespace {

using sim::WaveFormatSpec;

// How often a buffer the line has not taken yet is looked at again.
constexpr Micros kLineRetry = 10 * sim::kMilli;
// How often an input buffer waits for the line's next piece, and how long
// past its end at most (a modem's pieces, and at another rate the
// converter's look-ahead: libsoxr gives its output in blocks of about
// 0.1 s, which take up to 0.12 s of input more).
constexpr Micros kLineHeardRetry = 2 * sim::kMilli;
constexpr Micros kLineHeardLate = 250 * sim::kMilli;

// What the sound card's input takes, and what its output took before it
// took the wide formats.
std::vector<WaveFormatSpec> ClassicCardFormats() {
    std::vector<WaveFormatSpec> v;
    for (DWORD rate : {8000u, 11025u, 16000u, 22050u, 44100u, 48000u})
        for (WORD ch : {1, 2})
            for (WORD bits : {8, 16}) v.push_back({WAVE_FORMAT_PCM, ch, rate, bits});
    return v;
}

// A stereo card's output: integer PCM of 8 to 32 bits and 32-bit float at
// the usual rates, one or two channels. The mapper takes the rest of the
// wide set (more channels, other rates) and converts it.
std::vector<WaveFormatSpec> SoundCardFormats() {
    std::vector<WaveFormatSpec> v;
    for (DWORD rate : {8000u, 11025u, 16000u, 22050u, 32000u, 44100u, 48000u, 88200u, 96000u, 176400u, 192000u})
        for (WORD ch : {1, 2}) {
            for (WORD bits : {8, 16, 24, 32}) v.push_back({WAVE_FORMAT_PCM, ch, rate, bits});
            v.push_back({WAVE_FORMAT_IEEE_FLOAT, ch, rate, 32});
        }
    return v;
}

std::vector<WaveFormatSpec> LineFormats() {
    return {{WAVE_FORMAT_PCM, 1, 8000, 8}, {WAVE_FORMAT_PCM, 1, 8000, 16}, {WAVE_FORMAT_MULAW, 1, 8000, 8}};
}

void Defaults(WaveDeviceTable& s) {
    for (UINT i = 0; i < sim::kWaveDeviceCount; ++i) {
        s.out[i] = Device{};
        s.in[i] = Device{};
        s.sources[i] = Source{};
        s.taps[i].file.Close();
        s.taps[i].path.clear();
    }
    s.out[sim::kSoundCardDevice].formats = SoundCardFormats();
    s.out[sim::kSoundCardDevice].modern = true;
    s.in[sim::kSoundCardDevice].formats = ClassicCardFormats();
    s.out[sim::kLineDevice].formats = s.in[sim::kLineDevice].formats = LineFormats();
    s.taps[sim::kSoundCardDevice].rate = 22050;
    s.taps[sim::kLineDevice].rate = 8000;
    s.opens.clear();
    s.faults.clear();
}

// Beyond the 8/16-bit mono and stereo records every device has always
// taken as they came: these must be self-consistent.
bool Wide(const Layout& l) {
    return l.extensible || l.bits > 16 || l.kind == SampleKind::Float || l.channels > 2;
}

bool Native(const Device& d, const WAVEFORMATEX& f) {
    Layout l;
    if (!ReadLayout(f, l) || (l.extensible && !d.modern) || (Wide(l) && !Consistent(f, l))) return false;
    for (auto& s : d.formats)
        if (s.tag == l.tag && s.channels == l.channels && s.rate == l.rate && s.bits == l.bits) return true;
    return false;
}

DWORD BytesPerSecond(const WAVEFORMATEX& f) { return f.nSamplesPerSec * FrameBytes(f); }

void OutputDone(uintptr_t handle, WAVEHDR* header) {
    Open* o = FindOpen(handle, true);
    if (!o || o->queue.empty() || o->queue.front().header != header) return;
    if (!BackendTaken(o->device, o->queue.front().lineMark)) {
        // The line has not taken the whole buffer yet: it and the buffers
        // after it wait for the line.
        for (auto& q : o->queue) sim::Cancel(q.timer), q.timer = 0;
        o->queue.front().timer =
            sim::ScheduleAfter(kLineRetry, [handle, header] { OutputDone(handle, header); });
        return;
    }
    TapBufferDone(*o);
    o->queue.pop_front();
    Complete(header);
    ++WaveDevices().out[o->device].completed;
    // A buffer held back behind one the line was late to take plays on now.
    if (!o->queue.empty() && !o->queue.front().timer) {
        Queued& next = o->queue.front();
        WAVEHDR* h = next.header;
        next.timer = sim::Schedule(std::max(next.end, sim::Now()), [handle, h] { OutputDone(handle, h); });
    }
    Notify(*o, handle, MM_WOM_DONE, header);
}

// ---- input --------------------------------------------------------------------

// The mu-law code of every 16-bit sample, indexed by the sample's bits.
const uint8_t* MuLawCodes() {
    static const auto* codes = [] {
        auto* t = new uint8_t[65536];
        for (int v = -32768; v <= 32767; ++v) t[static_cast<uint16_t>(v)] = sim::MuLawEncode(static_cast<int16_t>(v));
        return t;
    }();
    return codes;
}

// The source at `rate` up to frame `upTo` at least (or its end): converted
// band-limited as one stream, so that a recording's buffers join without a
// seam, and only as far as recordings reach.
const std::vector<int16_t>& SourceAt(Source& s, DWORD rate, size_t upTo) {
    auto& c = s.converted;
    if (!c || c->rate != rate || c->from != s.samples) {
        c = std::make_shared<Source::Converted>();
        c->from = s.samples;
        c->rate = rate;
        c->resampler = std::make_shared<sim::Resampler>(s.rate, rate, 1);
    }
    const std::vector<int16_t>& in = *c->from;
    std::vector<float> chunk, out;
    while (c->samples.size() < upTo && c->resampler) {
        const size_t n = std::min<size_t>(4096, in.size() - c->fed);
        out.clear();
        if (n) {
            chunk.assign(in.begin() + static_cast<std::ptrdiff_t>(c->fed), in.begin() + static_cast<std::ptrdiff_t>(c->fed + n));
            c->resampler->Process(chunk.data(), n, out);
            c->fed += n;
        } else {
            c->resampler->Flush(out);
            c->resampler.reset();
        }
        for (float v : out) c->samples.push_back(ToS16(v));
    }
    return c->samples;
}

// Fills the first `bytes` of the header from the device's source, from the
// clock time `start` on, in the open format. Source sample k is heard at
// source.start + k / source.rate, the source taken at the open rate first;
// output frame i takes the sample heard at start + i / rate, in integer
// arithmetic.
void Fill(UINT device, const WAVEFORMATEX& f, WAVEHDR& h, Micros start, DWORD bytes) {
    Source& source = WaveDevices().sources[device];
    Source s = source;
    const DWORD frame = FrameBytes(f);
    const DWORD frames = bytes / frame;
    std::vector<int16_t> heard;
    if (BackendHear(device, start, f.nSamplesPerSec, frames, heard)) {
        // The backend's samples are already at the open rate, from `start`.
        s.samples = std::make_shared<const std::vector<int16_t>>(std::move(heard));
        s.rate = f.nSamplesPerSec ? f.nSamplesPerSec : 1;
        s.start = start;
    }
    const int16_t* src = s.samples ? s.samples->data() : nullptr;
    int64_t count = s.samples ? static_cast<int64_t>(s.samples->size()) : 0;
    if (s.samples && f.nSamplesPerSec && s.rate != f.nSamplesPerSec) {
        // Heard at the open rate from the source's start on: frame i of the
        // buffer is at most (start - source.start) * rate + i.
        const int64_t last = std::max<int64_t>(0, (start - s.start) * f.nSamplesPerSec / sim::kSecond + frames + 1);
        const auto& converted = SourceAt(source, f.nSamplesPerSec, static_cast<size_t>(last));
        src = converted.data();
        count = static_cast<int64_t>(converted.size());
        s.rate = f.nSamplesPerSec;
    }
    const int64_t rate = f.nSamplesPerSec ? f.nSamplesPerSec : 1;
    const int64_t den = sim::kSecond * rate;
    const int64_t step = static_cast<int64_t>(s.rate) * sim::kSecond;
    const __int128 base = static_cast<__int128>(start - s.start) * s.rate * rate;
    int64_t k = static_cast<int64_t>(base / den);
    int64_t rem = static_cast<int64_t>(base % den);
    if (rem < 0) {
        --k;
        rem += den;
    }
    const int64_t stepK = step / den, stepRem = step % den;
    auto* out = reinterpret_cast<uint8_t*>(h.lpData);
    const WORD channels = f.nChannels;
    const bool mulaw = f.wFormatTag == WAVE_FORMAT_MULAW, eight = f.wBitsPerSample == 8;
    const uint8_t* mulawCodes = mulaw ? MuLawCodes() : nullptr;
    for (DWORD i = 0; i < frames; ++i, out += frame) {
        const int16_t v = k >= 0 && k < count ? src[k] : 0;
        k += stepK;
        rem += stepRem;
        if (rem >= den) {
            ++k;
            rem -= den;
        }
        if (mulaw || eight) {
            const uint8_t code = mulaw ? mulawCodes[static_cast<uint16_t>(v)] : static_cast<uint8_t>((v >> 8) + 128);
            for (WORD c = 0; c < channels; ++c) out[c] = code;
        } else {
            for (WORD c = 0; c < channels; ++c) {
                out[2 * c] = static_cast<uint8_t>(v & 0xFF);
                out[2 * c + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
            }
        }
    }
    h.dwBytesRecorded = bytes;
}

// `again`: how often the buffer was looked at at its end's very time.
void InputFull(uintptr_t handle, int again = 0) {
    Open* o = FindOpen(handle, false);
    if (!o || o->queue.empty()) return;
    WAVEHDR* h = o->queue.front().header;
    const DWORD frame = FrameBytes(o->format);
    const DWORD bytes = h->dwBufferLength - h->dwBufferLength % frame;
    const Micros end = o->bufferStart + Duration(o->format, h->dwBufferLength);
    // The line's piece that holds the buffer's end may still be on its way.
    if (sim::Now() < end + kLineHeardLate &&
        !BackendReady(o->device, o->bufferStart, o->format.nSamplesPerSec, bytes / frame)) {
        // What the line sends at this very time (work due now, or on its
        // way from the reader) comes first; then it is looked at in steps.
        const uint64_t seen = sim::WakeGeneration();
        const bool inFlight = sim::OutsideWorkPending();
        if (sim::Now() == end && (again == 0 || inFlight)) {
            if (inFlight) sim::WaitForWake(seen, sim::kMilli);
            o->queue.front().timer = sim::ScheduleAfter(0, [handle, again] { InputFull(handle, again + 1); });
        } else {
            o->queue.front().timer = sim::ScheduleAfter(kLineHeardRetry, [handle] { InputFull(handle); });
        }
        return;
    }
    o->queue.pop_front();
    Fill(o->device, o->format, *h, o->bufferStart, bytes);
    Complete(h);
    ++WaveDevices().in[o->device].completed;
    Notify(*o, handle, MM_WIM_DATA, h);
    StartHeadBuffer(handle, end);
}

}  // namespace

WaveDeviceTable& WaveDevices() {
    static WaveDeviceTable* s = [] {
        auto* st = new WaveDeviceTable();
        Defaults(*st);
        sim::AddResetHook([st] { Defaults(*st); });
        return st;
    }();
    return *s;
}

bool Injected(const std::string& fn, UINT device, MMRESULT& result) {
    sim::NoteCall(fn.c_str());
    auto it = WaveDevices().faults.find(fn);
    if (it == WaveDevices().faults.end()) return false;
    for (auto& f : it->second) {
        if (f.count == 0) continue;
        if (f.device != sim::kAnyDevice && static_cast<UINT>(f.device) != device) continue;
        if (f.count > 0) --f.count;
        result = f.result;
        return true;
    }
    return false;
}

bool Convertible(const WAVEFORMATEX& f, bool modern) {
    const bool classic = f.nChannels >= 1 && f.nChannels <= 2 && f.nSamplesPerSec >= 1000 && f.nSamplesPerSec <= 192000 &&
                         ((f.wFormatTag == WAVE_FORMAT_PCM && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16)) ||
                          (f.wFormatTag == WAVE_FORMAT_MULAW && f.wBitsPerSample == 8));
    if (classic || !modern) return classic;
    Layout l;
    return ReadLayout(f, l) && (!Wide(l) || Consistent(f, l)) && l.channels <= 8 && l.rate >= 8000 && l.rate <= 192000;
}

void MonoS16(const Layout& l, const uint8_t* data, uint64_t from, size_t n, int16_t* out) {
    constexpr size_t kChunk = 4096;
    float mono[kChunk];
    while (n > 0) {
        const size_t k = std::min(n, kChunk);
        MixMono(l, data, from, k, mono);
        for (size_t i = 0; i < k; ++i) out[i] = ToS16(mono[i]);
        from += k;
        out += k;
        n -= k;
    }
}

DWORD FrameBytes(const WAVEFORMATEX& f) { return f.nChannels * std::max<WORD>(1, f.wBitsPerSample / 8); }

Micros Duration(const WAVEFORMATEX& f, DWORD bytes) {
    DWORD bps = BytesPerSecond(f);
    return bps ? static_cast<Micros>(bytes) * sim::kSecond / bps : 0;
}

Open* FindOpen(uintptr_t h, bool output) {
    auto it = WaveDevices().opens.find(h);
    if (it == WaveDevices().opens.end() || it->second.output != output) return nullptr;
    return &it->second;
}

void Notify(const Open& o, uintptr_t handle, UINT msg, WAVEHDR* header) {
    if ((o.flags & CALLBACK_FUNCTION) == CALLBACK_WINDOW && o.window)
        PostMessageA(o.window, msg, static_cast<WPARAM>(handle), reinterpret_cast<LPARAM>(header));
}

void Complete(WAVEHDR* h) {
    h->dwFlags &= ~static_cast<DWORD>(WHDR_INQUEUE);
    h->dwFlags |= WHDR_DONE;
}

bool InQueue(const Open& o, const WAVEHDR* h) {
    return std::any_of(o.queue.begin(), o.queue.end(), [h](const Queued& q) { return q.header == h; });
}

void QueueOutput(uintptr_t handle, Open& o, WAVEHDR* header) {
    Queued q{header, 0};
    q.start = std::max(sim::Now(), o.busyUntil);
    // Sound that does not follow on from what is queued starts a new stream.
    if (q.start > o.busyUntil && !o.queue.empty()) FinishTap(o);
    q.end = q.start + Duration(o.format, header->dwBufferLength);
    o.busyUntil = q.end;
    q.timer = sim::Schedule(q.end, [handle, header] { OutputDone(handle, header); });
    o.lineSamples += BackendPlay(o.device, o.layout, *header);
    q.lineMark = o.lineSamples;
    o.queue.push_back(q);
    CardPlay(o.device, o.layout, *header, q.start);
}

void ResetOutput(uintptr_t handle, Open& o) {
    const Micros now = sim::Now();
    CutTap(o, now);
    while (!o.queue.empty()) {
        Queued q = o.queue.front();
        o.queue.pop_front();
        sim::Cancel(q.timer);
        Complete(q.header);
        ++WaveDevices().out[o.device].completed;
        Notify(o, handle, MM_WOM_DONE, q.header);
    }
    o.busyUntil = now;
    BackendFlush(o.device);
    CardFlush(o.device);
}

void StartHeadBuffer(uintptr_t handle) { StartHeadBuffer(handle, sim::Now()); }

void StartHeadBuffer(uintptr_t handle, Micros start) {
    Open* o = FindOpen(handle, false);
    if (!o || !o->started || o->queue.empty() || o->queue.front().timer) return;
    o->bufferStart = start;
    WAVEHDR* h = o->queue.front().header;
    o->queue.front().timer =
        sim::Schedule(o->bufferStart + Duration(o->format, h->dwBufferLength), [handle] { InputFull(handle); });
}

void ReturnBuffers(uintptr_t handle, Open& o, bool all) {
    Micros now = sim::Now();
    bool head = true;
    while (!o.queue.empty()) {
        Queued q = o.queue.front();
        if (!head && !all) break;
        o.queue.pop_front();
        if (q.timer) sim::Cancel(q.timer);
        DWORD bytes = 0;
        if (head && q.timer) {
            DWORD frame = FrameBytes(o.format);
            Micros elapsed = now - o.bufferStart;
            bytes = static_cast<DWORD>(elapsed * static_cast<Micros>(BytesPerSecond(o.format)) / sim::kSecond);
            bytes = std::min(bytes - bytes % frame, q.header->dwBufferLength - q.header->dwBufferLength % frame);
        }
        Fill(o.device, o.format, *q.header, o.bufferStart, bytes);
        Complete(q.header);
        ++WaveDevices().in[o.device].completed;
        Notify(o, handle, MM_WIM_DATA, q.header);
        head = false;
    }
}

MMRESULT OpenDevice(bool output, uintptr_t* handleOut, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                    DWORD flags) {
    const char* fn = output ? "waveOutOpen" : "waveInOpen";
    const char* queryFn = output ? "waveOutQuery" : "waveInQuery";
    const bool query = flags & WAVE_FORMAT_QUERY;
    bool mapped = (flags & WAVE_MAPPED) != 0;
    UINT device = deviceId;
    if (deviceId == WAVE_MAPPER) {
        device = sim::kSoundCardDevice;
        mapped = true;
    }
    MMRESULT injected;
    if (Injected(query ? queryFn : fn, device, injected)) return injected;
    if (!query && !handleOut) return MMSYSERR_INVALPARAM;
    Device* table = output ? WaveDevices().out : WaveDevices().in;
    if (device >= sim::kWaveDeviceCount || !table[device].present) return MMSYSERR_BADDEVICEID;
    if (!format) return MMSYSERR_INVALPARAM;
    if (!Native(table[device], *format) && !(mapped && Convertible(*format, table[device].modern)))
        return WAVERR_BADFORMAT;
    if (query) return MMSYSERR_NOERROR;
    if (table[device].openHandle) return MMSYSERR_ALLOCATED;
    uintptr_t h = WaveDevices().nextHandle++;
    Open o;
    o.output = output;
    o.device = device;
    ReadLayout(*format, o.layout);
    memcpy(&o.format, format, 16);  // the layout keeps what an extensible record adds
    o.format.cbSize = 0;
    o.flags = flags;
    o.window = reinterpret_cast<HWND>(callback);
    o.busyUntil = sim::Now();
    WaveDevices().opens[h] = o;
    table[device].openHandle = h;
    *handleOut = h;
    BackendStream(device, output, true);
    if (output) CardStream(device, o.layout, true);
    Notify(o, h, output ? MM_WOM_OPEN : MM_WIM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT CloseDevice(bool output, uintptr_t h) {
    Open* o = FindOpen(h, output);
    MMRESULT injected;
    if (Injected(output ? "waveOutClose" : "waveInClose", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    if (!o->queue.empty()) return WAVERR_STILLPLAYING;
    Open copy = *o;
    (output ? WaveDevices().out : WaveDevices().in)[copy.device].openHandle = 0;
    WaveDevices().opens.erase(h);
    BackendStream(copy.device, output, false);
    if (output) CardStream(copy.device, copy.layout, false);
    Notify(copy, h, output ? MM_WOM_CLOSE : MM_WIM_CLOSE, nullptr);
    if (output) WaveDevices().taps[copy.device].file.Flush();
    return MMSYSERR_NOERROR;
}

MMRESULT Prepare(bool output, uintptr_t h, LPWAVEHDR header, UINT size, bool prepare) {
    Open* o = FindOpen(h, output);
    const char* fn = output ? (prepare ? "waveOutPrepareHeader" : "waveOutUnprepareHeader")
                            : (prepare ? "waveInPrepareHeader" : "waveInUnprepareHeader");
    MMRESULT injected;
    if (Injected(fn, o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    if (!header || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if ((header->dwFlags & WHDR_INQUEUE) || InQueue(*o, header)) return WAVERR_STILLPLAYING;
    if (prepare)
        header->dwFlags |= WHDR_PREPARED;
    else
        header->dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

}  // namespace wavesim

// ---- control surface ----------------------------------------------------------

namespace sim {

using namespace wavesim;

void SetDeviceFormats(bool output, UINT device, std::vector<WaveFormatSpec> formats) {
    if (device < kWaveDeviceCount) (output ? WaveDevices().out : WaveDevices().in)[device].formats = std::move(formats);
}
std::vector<WaveFormatSpec> DeviceFormats(bool output, UINT device) {
    return device < kWaveDeviceCount ? (output ? WaveDevices().out : WaveDevices().in)[device].formats : std::vector<WaveFormatSpec>{};
}
void SetDevicePresent(bool output, UINT device, bool present) {
    if (device < kWaveDeviceCount) (output ? WaveDevices().out : WaveDevices().in)[device].present = present;
}

void FailWave(const std::string& function, MMRESULT result, int count, int device) {
    WaveDevices().faults[function].push_back(Fault{result, count, device});
}
void ClearWaveFaults() { WaveDevices().faults.clear(); }

DWORD TapRate(UINT device) { return device < kWaveDeviceCount ? WaveDevices().taps[device].rate : 0; }

uint64_t TapLength(UINT device) {
    if (device >= kWaveDeviceCount) return 0;
    FlushTap(device);
    return WaveDevices().taps[device].file.Written();
}

std::vector<int16_t> TapSamples(UINT device) {
    std::vector<int16_t> samples;
    if (device >= kWaveDeviceCount || !WaveDevices().taps[device].file.IsOpen()) return samples;
    FlushTap(device);
    DWORD rate = 0;
    LoadWav(WaveDevices().taps[device].path, samples, rate);
    return samples;
}

std::vector<int16_t> TapSpan(UINT device, uint64_t from, size_t count) {
    std::vector<int16_t> samples(count, 0);
    if (device >= kWaveDeviceCount || !WaveDevices().taps[device].file.IsOpen()) return samples;
    FlushTap(device);
    WaveDevices().taps[device].file.Read(from, samples.data(), count);
    return samples;
}

bool SetTapPath(UINT device, const std::string& path) {
    if (device >= kWaveDeviceCount) return false;
    Tap& t = WaveDevices().taps[device];
    FlushTap(device);
    t.file.Close();
    // A new file: the buffers still queued are written to it from their start.
    for (auto& [h, o] : WaveDevices().opens) {
        if (!o.output || o.device != device) continue;
        o.tap = TapStream{};
        for (auto& q : o.queue) q.fed = 0;
    }
    t.path = path;
    if (path.empty()) return true;
    if (t.file.Open(path, t.rate)) return true;
    t.path.clear();
    return false;
}

std::string TapPath(UINT device) { return device < kWaveDeviceCount ? WaveDevices().taps[device].path : std::string(); }

void WriteTaps() {
    for (UINT i = 0; i < kWaveDeviceCount; ++i) FlushTap(i);
}

namespace {
void SetInputSound(UINT device, std::shared_ptr<const std::vector<int16_t>> samples, DWORD rate, bool anchorAtStart) {
    if (device >= kWaveDeviceCount) return;
    Source& s = WaveDevices().sources[device];
    s.samples = std::move(samples);
    s.rate = rate ? rate : 8000;
    s.anchorAtStart = anchorAtStart;
    s.start = Now();
}
}  // namespace

void SetInputSamples(UINT device, std::vector<int16_t> samples, DWORD rate, bool anchorAtStart) {
    SetInputSound(device, std::make_shared<const std::vector<int16_t>>(std::move(samples)), rate, anchorAtStart);
}

bool SetInputWav(UINT device, const std::string& path, bool anchorAtStart) {
    // The last file named is kept decoded while it is unchanged on disk.
    static struct {
        std::string path;
        off_t size = -1;
        struct timespec mtime {};
        std::shared_ptr<const std::vector<int16_t>> samples;
        DWORD rate = 0;
    } cache;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    const bool same = cache.samples && cache.path == path && cache.size == st.st_size &&
                      cache.mtime.tv_sec == st.st_mtim.tv_sec && cache.mtime.tv_nsec == st.st_mtim.tv_nsec;
    if (!same) {
        std::vector<int16_t> samples;
        DWORD rate = 0;
        if (!LoadWav(path, samples, rate)) return false;
        cache.path = path;
        cache.size = st.st_size;
        cache.mtime = st.st_mtim;
        cache.samples = std::make_shared<const std::vector<int16_t>>(std::move(samples));
        cache.rate = rate;
    }
    SetInputSound(device, cache.samples, cache.rate, anchorAtStart);
    return true;
}

void ClearInput(UINT device) {
    if (device < kWaveDeviceCount) WaveDevices().sources[device] = Source{};
}

int OpenWaveHandles(bool output) {
    return static_cast<int>(
        std::count_if(WaveDevices().opens.begin(), WaveDevices().opens.end(), [output](auto& p) { return p.second.output == output; }));
}
bool DeviceBusy(bool output, UINT device) {
    return device < kWaveDeviceCount && (output ? WaveDevices().out : WaveDevices().in)[device].openHandle != 0;
}
int CompletedBuffers(bool output, UINT device) {
    return device < kWaveDeviceCount ? (output ? WaveDevices().out : WaveDevices().in)[device].completed : 0;
}

}  // namespace sim
