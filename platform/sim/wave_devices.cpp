// Virtual waveOut/waveIn devices: a table of two devices (sound card and
// the modem's line), buffers that play and fill in real duration on the
// platform clock, window notifications, taps and input sources.
#include "wave_devices.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>

#include "g711.h"
#include "sim.h"

namespace {

using sim::Micros;
using sim::WaveFormatSpec;

struct Device {
    bool present = true;
    std::vector<WaveFormatSpec> formats;
    uintptr_t openHandle = 0;
    int completed = 0;
};

struct Tap {
    DWORD rate = 8000;
    std::vector<int16_t> samples;
    std::string path;
};

struct Source {
    std::vector<int16_t> samples;
    DWORD rate = 8000;
    bool anchorAtStart = false;
    Micros start = 0;
};

struct Queued {
    WAVEHDR* header;
    uint64_t timer = 0;
};

struct Open {
    bool output = true;
    UINT device = 0;
    WAVEFORMATEX format{};
    HWND window = nullptr;
    DWORD flags = 0;
    std::deque<Queued> queue;
    Micros busyUntil = 0;     // output: end of the audio queued so far
    bool started = false;     // input: recording
    Micros bufferStart = 0;   // input: when the head buffer began filling
};

struct Fault {
    MMRESULT result;
    int count;
    int device;
};

struct State {
    Device out[sim::kWaveDeviceCount];
    Device in[sim::kWaveDeviceCount];
    Tap taps[sim::kWaveDeviceCount];
    Source sources[sim::kWaveDeviceCount];
    std::map<uintptr_t, Open> opens;
    uintptr_t nextHandle = 0x7000;
    std::map<std::string, std::vector<Fault>> faults;
};

std::vector<WaveFormatSpec> SoundCardFormats() {
    std::vector<WaveFormatSpec> v;
    for (DWORD rate : {8000u, 11025u, 16000u, 22050u, 44100u, 48000u})
        for (WORD ch : {1, 2})
            for (WORD bits : {8, 16}) v.push_back({WAVE_FORMAT_PCM, ch, rate, bits});
    return v;
}

std::vector<WaveFormatSpec> LineFormats() {
    return {{WAVE_FORMAT_PCM, 1, 8000, 8}, {WAVE_FORMAT_PCM, 1, 8000, 16}, {WAVE_FORMAT_MULAW, 1, 8000, 8}};
}

void Defaults(State& s) {
    for (UINT i = 0; i < sim::kWaveDeviceCount; ++i) {
        s.out[i] = Device{};
        s.in[i] = Device{};
        s.sources[i] = Source{};
        s.taps[i] = Tap{};
    }
    s.out[sim::kSoundCardDevice].formats = s.in[sim::kSoundCardDevice].formats = SoundCardFormats();
    s.out[sim::kLineDevice].formats = s.in[sim::kLineDevice].formats = LineFormats();
    s.taps[sim::kSoundCardDevice].rate = 22050;
    s.taps[sim::kLineDevice].rate = 8000;
    s.opens.clear();
    s.faults.clear();
}

State& W() {
    static State* s = [] {
        auto* st = new State();
        Defaults(*st);
        sim::AddResetHook([st] { Defaults(*st); });
        return st;
    }();
    return *s;
}

bool Injected(const std::string& fn, UINT device, MMRESULT& result) {
    auto it = W().faults.find(fn);
    if (it == W().faults.end()) return false;
    for (auto& f : it->second) {
        if (f.count == 0) continue;
        if (f.device != sim::kAnyDevice && static_cast<UINT>(f.device) != device) continue;
        if (f.count > 0) --f.count;
        result = f.result;
        return true;
    }
    return false;
}

bool Convertible(const WAVEFORMATEX& f) {
    if (f.nChannels < 1 || f.nChannels > 2) return false;
    if (f.nSamplesPerSec < 1000 || f.nSamplesPerSec > 192000) return false;
    if (f.wFormatTag == WAVE_FORMAT_PCM) return f.wBitsPerSample == 8 || f.wBitsPerSample == 16;
    if (f.wFormatTag == WAVE_FORMAT_MULAW) return f.wBitsPerSample == 8;
    return false;
}

bool Native(const Device& d, const WAVEFORMATEX& f) {
    for (auto& s : d.formats)
        if (s.tag == f.wFormatTag && s.channels == f.nChannels && s.rate == f.nSamplesPerSec &&
            s.bits == f.wBitsPerSample)
            return true;
    return false;
}

DWORD BytesPerSecond(const WAVEFORMATEX& f) {
    return f.nSamplesPerSec * f.nChannels * std::max<WORD>(1, f.wBitsPerSample / 8);
}

DWORD FrameBytes(const WAVEFORMATEX& f) { return f.nChannels * std::max<WORD>(1, f.wBitsPerSample / 8); }

Micros Duration(const WAVEFORMATEX& f, DWORD bytes) {
    DWORD bps = BytesPerSecond(f);
    return bps ? static_cast<Micros>(bytes) * sim::kSecond / bps : 0;
}

Open* FindOpen(uintptr_t h, bool output) {
    auto it = W().opens.find(h);
    if (it == W().opens.end() || it->second.output != output) return nullptr;
    return &it->second;
}

void Notify(const Open& o, uintptr_t handle, UINT msg, WAVEHDR* header) {
    if ((o.flags & CALLBACK_FUNCTION) == CALLBACK_WINDOW && o.window)
        PostMessageA(o.window, msg, static_cast<WPARAM>(handle), reinterpret_cast<LPARAM>(header));
}

std::vector<int16_t> Resample(const std::vector<int16_t>& in, DWORD from, DWORD to) {
    if (from == to || in.empty() || from == 0) return in;
    size_t n = static_cast<size_t>(static_cast<double>(in.size()) * to / from);
    std::vector<int16_t> out(n);
    for (size_t i = 0; i < n; ++i) {
        double pos = static_cast<double>(i) * from / to;
        size_t k = static_cast<size_t>(pos);
        double frac = pos - static_cast<double>(k);
        int a = in[std::min(k, in.size() - 1)];
        int b = in[std::min(k + 1, in.size() - 1)];
        out[i] = static_cast<int16_t>(std::lround(a + (b - a) * frac));
    }
    return out;
}

size_t TapIndex(const Tap& t, Micros at) { return static_cast<size_t>(at * static_cast<Micros>(t.rate) / sim::kSecond); }

void PlaceInTap(UINT device, const WAVEFORMATEX& f, const WAVEHDR& h, Micros start) {
    Tap& t = W().taps[device];
    auto mono = Resample(sim::DecodeToMono16(f, h.lpData, h.dwBufferLength), f.nSamplesPerSec, t.rate);
    size_t at = TapIndex(t, start);
    if (t.samples.size() < at + mono.size()) t.samples.resize(at + mono.size(), 0);
    std::copy(mono.begin(), mono.end(), t.samples.begin() + static_cast<std::ptrdiff_t>(at));
}

void WriteTap(UINT device) {
    const Tap& t = W().taps[device];
    if (!t.path.empty()) sim::WriteWav16(t.path, t.samples, t.rate);
}

int16_t SourceSample(const Source& s, Micros at, DWORD rate, size_t i) {
    if (s.samples.empty()) return 0;
    double idx = static_cast<double>(at - s.start) * s.rate / sim::kSecond + static_cast<double>(i) * s.rate / rate;
    if (idx < 0) return 0;
    size_t k = static_cast<size_t>(std::floor(idx + 1e-9));
    return k < s.samples.size() ? s.samples[k] : 0;
}

// Fills the first `bytes` of the header from the device's source, from the
// clock time `start` on, in the open format.
void Fill(UINT device, const WAVEFORMATEX& f, WAVEHDR& h, Micros start, DWORD bytes) {
    const Source& s = W().sources[device];
    DWORD frame = FrameBytes(f);
    auto* out = reinterpret_cast<uint8_t*>(h.lpData);
    for (DWORD i = 0; i * frame + frame <= bytes; ++i) {
        int16_t v = SourceSample(s, start, f.nSamplesPerSec, i);
        for (WORD c = 0; c < f.nChannels; ++c) {
            uint8_t* p = out + i * frame + c * (frame / f.nChannels);
            if (f.wFormatTag == WAVE_FORMAT_MULAW) {
                *p = sim::MuLawEncode(v);
            } else if (f.wBitsPerSample == 8) {
                *p = static_cast<uint8_t>((v >> 8) + 128);
            } else {
                p[0] = static_cast<uint8_t>(v & 0xFF);
                p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
            }
        }
    }
    h.dwBytesRecorded = bytes;
}

void Complete(WAVEHDR* h) {
    h->dwFlags &= ~static_cast<DWORD>(WHDR_INQUEUE);
    h->dwFlags |= WHDR_DONE;
}

// ---- output ----------------------------------------------------------------

void OutputDone(uintptr_t handle, WAVEHDR* header) {
    Open* o = FindOpen(handle, true);
    if (!o || o->queue.empty() || o->queue.front().header != header) return;
    o->queue.pop_front();
    Complete(header);
    ++W().out[o->device].completed;
    Notify(*o, handle, MM_WOM_DONE, header);
}

// ---- input -----------------------------------------------------------------

void StartHeadBuffer(uintptr_t handle);

void InputFull(uintptr_t handle) {
    Open* o = FindOpen(handle, false);
    if (!o || o->queue.empty()) return;
    WAVEHDR* h = o->queue.front().header;
    o->queue.pop_front();
    Fill(o->device, o->format, *h, o->bufferStart, h->dwBufferLength - h->dwBufferLength % FrameBytes(o->format));
    Complete(h);
    ++W().in[o->device].completed;
    Notify(*o, handle, MM_WIM_DATA, h);
    o->bufferStart = sim::Now();
    StartHeadBuffer(handle);
}

void StartHeadBuffer(uintptr_t handle) {
    Open* o = FindOpen(handle, false);
    if (!o || !o->started || o->queue.empty() || o->queue.front().timer) return;
    o->bufferStart = sim::Now();
    WAVEHDR* h = o->queue.front().header;
    o->queue.front().timer =
        sim::Schedule(o->bufferStart + Duration(o->format, h->dwBufferLength), [handle] { InputFull(handle); });
}

// Returns the head buffer with what it holds so far; the rest come back
// empty when `all`.
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
        ++W().in[o.device].completed;
        Notify(o, handle, MM_WIM_DATA, q.header);
        head = false;
    }
}

// ---- shared ----------------------------------------------------------------

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
    Device* table = output ? W().out : W().in;
    if (device >= sim::kWaveDeviceCount || !table[device].present) return MMSYSERR_BADDEVICEID;
    if (!format) return MMSYSERR_INVALPARAM;
    if (!Native(table[device], *format) && !(mapped && Convertible(*format))) return WAVERR_BADFORMAT;
    if (query) return MMSYSERR_NOERROR;
    if (table[device].openHandle) return MMSYSERR_ALLOCATED;
    uintptr_t h = W().nextHandle++;
    Open o;
    o.output = output;
    o.device = device;
    memcpy(&o.format, format, 16);  // cbSize is not read for PCM and mu-law
    o.format.cbSize = 0;
    o.flags = flags;
    o.window = reinterpret_cast<HWND>(callback);
    o.busyUntil = sim::Now();
    W().opens[h] = o;
    table[device].openHandle = h;
    *handleOut = h;
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
    (output ? W().out : W().in)[copy.device].openHandle = 0;
    W().opens.erase(h);
    Notify(copy, h, output ? MM_WOM_CLOSE : MM_WIM_CLOSE, nullptr);
    if (output) WriteTap(copy.device);
    return MMSYSERR_NOERROR;
}

bool InQueue(const Open& o, const WAVEHDR* h) {
    return std::any_of(o.queue.begin(), o.queue.end(), [h](const Queued& q) { return q.header == h; });
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

}  // namespace

// ---- control surface ----------------------------------------------------------

namespace sim {

void SetDeviceFormats(bool output, UINT device, std::vector<WaveFormatSpec> formats) {
    if (device < kWaveDeviceCount) (output ? W().out : W().in)[device].formats = std::move(formats);
}
std::vector<WaveFormatSpec> DeviceFormats(bool output, UINT device) {
    return device < kWaveDeviceCount ? (output ? W().out : W().in)[device].formats : std::vector<WaveFormatSpec>{};
}
void SetDevicePresent(bool output, UINT device, bool present) {
    if (device < kWaveDeviceCount) (output ? W().out : W().in)[device].present = present;
}

void FailWave(const std::string& function, MMRESULT result, int count, int device) {
    W().faults[function].push_back(Fault{result, count, device});
}
void ClearWaveFaults() { W().faults.clear(); }

DWORD TapRate(UINT device) { return device < kWaveDeviceCount ? W().taps[device].rate : 0; }
const std::vector<int16_t>& TapSamples(UINT device) {
    static const std::vector<int16_t> none;
    return device < kWaveDeviceCount ? W().taps[device].samples : none;
}
void SetTapPath(UINT device, const std::string& path) {
    if (device < kWaveDeviceCount) W().taps[device].path = path;
}
std::string TapPath(UINT device) { return device < kWaveDeviceCount ? W().taps[device].path : std::string(); }
void WriteTaps() {
    for (UINT i = 0; i < kWaveDeviceCount; ++i) WriteTap(i);
}

void SetInputSamples(UINT device, std::vector<int16_t> samples, DWORD rate, bool anchorAtStart) {
    if (device >= kWaveDeviceCount) return;
    Source& s = W().sources[device];
    s.samples = std::move(samples);
    s.rate = rate ? rate : 8000;
    s.anchorAtStart = anchorAtStart;
    s.start = Now();
}
bool SetInputWav(UINT device, const std::string& path, bool anchorAtStart) {
    std::vector<int16_t> samples;
    DWORD rate = 0;
    if (!LoadWav(path, samples, rate)) return false;
    SetInputSamples(device, std::move(samples), rate, anchorAtStart);
    return true;
}
void ClearInput(UINT device) {
    if (device < kWaveDeviceCount) W().sources[device] = Source{};
}

int OpenWaveHandles(bool output) {
    return static_cast<int>(
        std::count_if(W().opens.begin(), W().opens.end(), [output](auto& p) { return p.second.output == output; }));
}
bool DeviceBusy(bool output, UINT device) {
    return device < kWaveDeviceCount && (output ? W().out : W().in)[device].openHandle != 0;
}
int CompletedBuffers(bool output, UINT device) {
    return device < kWaveDeviceCount ? (output ? W().out : W().in)[device].completed : 0;
}

std::vector<int16_t> DecodeToMono16(const WAVEFORMATEX& f, const void* bytes, size_t size) {
    std::vector<int16_t> out;
    if (!bytes || f.nChannels == 0) return out;
    const auto* p = static_cast<const uint8_t*>(bytes);
    const size_t width = f.wBitsPerSample == 16 ? 2 : 1;
    const size_t frame = width * f.nChannels;
    out.reserve(size / frame);
    for (size_t i = 0; i + frame <= size; i += frame) {
        int sum = 0;
        for (size_t c = 0; c < f.nChannels; ++c) {
            const uint8_t* s = p + i + c * width;
            if (f.wFormatTag == WAVE_FORMAT_MULAW)
                sum += MuLawDecode(*s);
            else if (width == 1)
                sum += (static_cast<int>(*s) - 128) << 8;
            else
                sum += static_cast<int16_t>(s[0] | (s[1] << 8));
        }
        out.push_back(static_cast<int16_t>(sum / f.nChannels));
    }
    return out;
}

bool LoadWav(const std::string& path, std::vector<int16_t>& samples, DWORD& rate) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](size_t at) {
        const auto* b = reinterpret_cast<const uint8_t*>(bytes.data() + at);
        return static_cast<DWORD>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<DWORD>(b[3]) << 24));
    };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) return false;
    WAVEFORMATEX f{};
    bool haveFormat = false;
    for (size_t pos = 12; pos + 8 <= bytes.size();) {
        DWORD size = u32(pos + 4);
        size_t data = pos + 8;
        size_t avail = std::min<size_t>(size, bytes.size() - data);
        if (bytes.compare(pos, 4, "fmt ") == 0 && avail >= 16) {
            memcpy(&f, bytes.data() + data, 16);
            haveFormat = true;
        } else if (bytes.compare(pos, 4, "data") == 0 && haveFormat) {
            if (!Convertible(f)) return false;
            samples = DecodeToMono16(f, bytes.data() + data, avail);
            rate = f.nSamplesPerSec;
            return true;
        }
        pos = data + size + (size & 1);
    }
    return false;
}

bool WriteWav16(const std::string& path, const std::vector<int16_t>& samples, DWORD rate) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    auto u32 = [&](DWORD v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        fwrite(b, 1, 4, f);
    };
    auto u16 = [&](WORD v) {
        uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
        fwrite(b, 1, 2, f);
    };
    DWORD dataBytes = static_cast<DWORD>(samples.size() * 2);
    fwrite("RIFF", 1, 4, f);
    u32(36 + dataBytes);
    fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(WAVE_FORMAT_PCM);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    fwrite("data", 1, 4, f);
    u32(dataBytes);
    for (int16_t s : samples) u16(static_cast<WORD>(s));
    bool ok = !ferror(f);
    return fclose(f) == 0 && ok;
}

}  // namespace sim

// ---- the platform functions -------------------------------------------------

#define HANDLE_VALUE(h) reinterpret_cast<uintptr_t>(h)

extern "C" {

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                            DWORD_PTR, DWORD flags) {
    uintptr_t h = 0;
    MMRESULT r = OpenDevice(true, handle ? &h : nullptr, deviceId, format, callback, flags);
    if (r == MMSYSERR_NOERROR && handle && !(flags & WAVE_FORMAT_QUERY)) *handle = reinterpret_cast<HWAVEOUT>(h);
    return r;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT handle) { return CloseDevice(true, HANDLE_VALUE(handle)); }

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) {
    return Prepare(true, HANDLE_VALUE(handle), header, size, true);
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) {
    return Prepare(true, HANDLE_VALUE(handle), header, size, false);
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT handle, LPWAVEHDR header, UINT size) {
    uintptr_t h = HANDLE_VALUE(handle);
    Open* o = FindOpen(h, true);
    MMRESULT injected;
    if (Injected("waveOutWrite", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    if (!header || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if ((header->dwFlags & WHDR_INQUEUE) || InQueue(*o, header)) return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(WHDR_DONE)) | WHDR_INQUEUE;
    Micros start = std::max(sim::Now(), o->busyUntil);
    Micros end = start + Duration(o->format, header->dwBufferLength);
    o->busyUntil = end;
    PlaceInTap(o->device, o->format, *header, start);
    Queued q{header, 0};
    q.timer = sim::Schedule(end, [h, header] { OutputDone(h, header); });
    o->queue.push_back(q);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT handle) {
    uintptr_t h = HANDLE_VALUE(handle);
    Open* o = FindOpen(h, true);
    MMRESULT injected;
    if (Injected("waveOutReset", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    Micros now = sim::Now();
    if (!o->queue.empty()) {
        Tap& t = W().taps[o->device];
        size_t cut = TapIndex(t, now);
        if (cut < t.samples.size()) t.samples.resize(cut);
    }
    while (!o->queue.empty()) {
        Queued q = o->queue.front();
        o->queue.pop_front();
        sim::Cancel(q.timer);
        Complete(q.header);
        ++W().out[o->device].completed;
        Notify(*o, h, MM_WOM_DONE, q.header);
    }
    o->busyUntil = now;
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutGetNumDevs() {
    UINT n = 0;
    for (auto& d : W().out) n += d.present;
    return n;
}

MMRESULT WINAPI waveInOpen(LPHWAVEIN handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR,
                           DWORD flags) {
    uintptr_t h = 0;
    MMRESULT r = OpenDevice(false, handle ? &h : nullptr, deviceId, format, callback, flags);
    if (r == MMSYSERR_NOERROR && handle && !(flags & WAVE_FORMAT_QUERY)) *handle = reinterpret_cast<HWAVEIN>(h);
    return r;
}

MMRESULT WINAPI waveInClose(HWAVEIN handle) { return CloseDevice(false, HANDLE_VALUE(handle)); }

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    return Prepare(false, HANDLE_VALUE(handle), header, size, true);
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    return Prepare(false, HANDLE_VALUE(handle), header, size, false);
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    uintptr_t h = HANDLE_VALUE(handle);
    Open* o = FindOpen(h, false);
    MMRESULT injected;
    if (Injected("waveInAddBuffer", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    if (!header || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if ((header->dwFlags & WHDR_INQUEUE) || InQueue(*o, header)) return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(WHDR_DONE)) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    o->queue.push_back(Queued{header, 0});
    StartHeadBuffer(h);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStart(HWAVEIN handle) {
    uintptr_t h = HANDLE_VALUE(handle);
    Open* o = FindOpen(h, false);
    MMRESULT injected;
    if (Injected("waveInStart", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    if (o->started) return MMSYSERR_NOERROR;
    o->started = true;
    Source& s = W().sources[o->device];
    if (s.anchorAtStart) s.start = sim::Now();
    StartHeadBuffer(h);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStop(HWAVEIN handle) {
    uintptr_t h = HANDLE_VALUE(handle);
    Open* o = FindOpen(h, false);
    MMRESULT injected;
    if (Injected("waveInStop", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    if (o->started && !o->queue.empty()) ReturnBuffers(h, *o, false);
    o->started = false;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInReset(HWAVEIN handle) {
    uintptr_t h = HANDLE_VALUE(handle);
    Open* o = FindOpen(h, false);
    MMRESULT injected;
    if (Injected("waveInReset", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    ReturnBuffers(h, *o, true);
    o->started = false;
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveInGetNumDevs() {
    UINT n = 0;
    for (auto& d : W().in) n += d.present;
    return n;
}

}  // extern "C"
