// The sound-card output device through ALSA in real-time mode. The device
// (control thread) hands every queued buffer, converted to 16-bit samples,
// to a writer thread with the wall-clock time it starts playing; the writer
// owns the PCM (opened non-blocking) and gives ALSA each sample a little
// before it is due, so ALSA holds no more than that lead. Nothing here
// changes the device's clock or its buffer-done timing.
#include "alsa_output.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <type_traits>
#include <vector>

#include "resampler.h"
#include "wave_model.h"

namespace wavesim {

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kLatencyMicros = 120000;     // ALSA's buffer
constexpr auto kLead = std::chrono::milliseconds(40);  // fed this far ahead of due
constexpr auto kTick = std::chrono::milliseconds(10);
constexpr auto kDrainLimit = std::chrono::seconds(1);

struct Stream {
    uint64_t id = 0;
    std::string device;
    unsigned rate = 8000;
    unsigned channels = 1;
};
using StreamRef = std::shared_ptr<const Stream>;

struct Chunk {
    StreamRef stream;
    Clock::time_point due;  // when the first frame plays
    std::shared_ptr<const std::vector<int16_t>> samples;  // interleaved, at the PCM's rate once converted
    bool converted = false;
};

// The PCM the writer holds: at the stream's rate, or at a rate it takes as
// it is with a converter in front.
struct Pcm {
    snd_pcm_t* pcm = nullptr;
    unsigned rate = 0;
    std::unique_ptr<sim::Resampler> resampler;
};

std::shared_ptr<const std::vector<int16_t>> Samples16(const std::vector<float>& v) {
    auto out = std::make_shared<std::vector<int16_t>>(v.size());
    for (size_t i = 0; i < v.size(); ++i) (*out)[i] = ToS16(v[i]);
    return out;
}

struct Feed {
    std::mutex m;
    std::condition_variable cv;
    bool started = false;
    bool audible = true;
    std::atomic<UINT> heard{sim::kSoundCardDevice};  // the output device played through ALSA
    std::function<void(const std::string&)> notice;
    std::set<std::string> reported;
    // From the device.
    StreamRef open;  // the open stream, null when closed
    uint64_t nextId = 1;
    uint64_t dropGeneration = 0;
    std::deque<Chunk> chunks;
    // From the writer.
    uint64_t failed = 0;  // stream that could not be opened or failed
    bool holding = false;  // a PCM is open
    sim::SoundCardFeed state;
};

Feed& AlsaWriter() {
    static Feed* f = [] {
        auto* feed = new Feed();  // never destroyed: the writer may outlive main
        sim::AddResetHook([feed] {
            std::lock_guard<std::mutex> g(feed->m);
            feed->open.reset();
            feed->chunks.clear();
            ++feed->dropGeneration;
            feed->audible = true;
            feed->heard = sim::kSoundCardDevice;
            feed->notice = nullptr;
            feed->reported.clear();
            feed->state = sim::SoundCardFeed{};
            feed->cv.notify_all();
        });
        return feed;
    }();
    return *f;
}

void Quiet(const char*, int, const char*, int, const char*, ...) {}

// libasound is loaded by the writer when it first opens a PCM, so that a
// program that never plays through ALSA does not load it. The pointers
// carry the functions' own names: the writer's calls read as calls of the
// library.
#define MARLUNE_ALSA_FUNCTIONS(X)                                                                             \
    X(snd_lib_error_set_handler) X(snd_strerror) X(snd_pcm_open) X(snd_pcm_close) X(snd_pcm_drain)             \
    X(snd_pcm_drop) X(snd_pcm_prepare) X(snd_pcm_recover) X(snd_pcm_state) X(snd_pcm_writei)                  \
    X(snd_pcm_set_params) X(snd_pcm_hw_params_malloc) X(snd_pcm_hw_params_free) X(snd_pcm_hw_params_any)      \
    X(snd_pcm_hw_params_set_rate_resample) X(snd_pcm_hw_params_test_rate) X(snd_pcm_sw_params_malloc)         \
    X(snd_pcm_sw_params_free) X(snd_pcm_sw_params_current) X(snd_pcm_sw_params_set_start_threshold)           \
    X(snd_pcm_sw_params)
#define MARLUNE_ALSA_POINTER(name) decltype(&::name) name = nullptr;
MARLUNE_ALSA_FUNCTIONS(MARLUNE_ALSA_POINTER)
#undef MARLUNE_ALSA_POINTER

// "" once the library is loaded, else why it cannot be.
const std::string& LoadAlsa() {
    static const std::string failure = [] {
        void* lib = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
        if (!lib) return std::string(dlerror());
#define MARLUNE_ALSA_BIND(name)                                                         \
    name = reinterpret_cast<std::remove_reference_t<decltype(name)>>(dlsym(lib, #name)); \
    if (!name) return std::string(dlerror());
        MARLUNE_ALSA_FUNCTIONS(MARLUNE_ALSA_BIND)
#undef MARLUNE_ALSA_BIND
        snd_lib_error_set_handler(Quiet);  // the reason is reported once, in one line
        return std::string();
    }();
    return failure;
}

std::string Describe(const std::string& what, int err) { return "sound-card output is not audible: " + what + ": " + snd_strerror(err); }

// Reports a reason once (outside the lock).
void Report(std::unique_lock<std::mutex>& lk, uint64_t stream, const std::string& reason) {
    Feed& f = AlsaWriter();
    f.failed = stream;
    f.state.problem = reason;
    if (!f.reported.insert(reason).second || !f.notice) return;
    auto notice = f.notice;
    lk.unlock();
    notice(reason);
    lk.lock();
}

// The stream's rate when the PCM takes it without ALSA's resampling, else
// 48 or 44.1 kHz when it takes one of those; 0 when it takes none of them.
unsigned NativeRate(snd_pcm_t* pcm, unsigned wanted) {
    snd_pcm_hw_params_t* hw = nullptr;
    if (snd_pcm_hw_params_malloc(&hw) != 0) return 0;
    unsigned chosen = 0;
    if (snd_pcm_hw_params_any(pcm, hw) >= 0 && snd_pcm_hw_params_set_rate_resample(pcm, hw, 0) == 0) {
        for (unsigned rate : {wanted, 48000u, 44100u})
            if (snd_pcm_hw_params_test_rate(pcm, hw, rate, 0) == 0) {
                chosen = rate;
                break;
            }
    }
    snd_pcm_hw_params_free(hw);
    return chosen;
}

bool OpenPcm(const Stream& s, Pcm& out, std::string& reason) {
    if (const std::string& failure = LoadAlsa(); !failure.empty()) {
        reason = "sound-card output is not audible: cannot load libasound.so.2: " + failure;
        return false;
    }
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, s.device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        reason = Describe("cannot open ALSA device \"" + s.device + "\"", err);
        return false;
    }
    // ALSA's own resampling only when the PCM takes no usual rate as it is.
    const unsigned native = NativeRate(pcm, s.rate);
    const unsigned rate = native ? native : s.rate;
    err = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, s.channels, rate, native ? 0 : 1,
                             kLatencyMicros);
    if (err < 0) {
        reason = Describe("ALSA device \"" + s.device + "\" does not take 16-bit PCM at " + std::to_string(s.rate) +
                              " Hz, " + std::to_string(s.channels) + " channel(s)",
                          err);
        snd_pcm_close(pcm);
        return false;
    }
    // Start with the first samples rather than a full buffer.
    snd_pcm_sw_params_t* sw = nullptr;
    if (snd_pcm_sw_params_malloc(&sw) == 0) {
        if (snd_pcm_sw_params_current(pcm, sw) == 0 && snd_pcm_sw_params_set_start_threshold(pcm, sw, 1) == 0)
            snd_pcm_sw_params(pcm, sw);
        snd_pcm_sw_params_free(sw);
    }
    out.pcm = pcm;
    out.rate = rate;
    out.resampler.reset(rate != s.rate ? new sim::Resampler(s.rate, rate, s.channels) : nullptr);
    return true;
}

// Lets ALSA play out what it holds (at most the lead and its buffer), then
// closes.
void DrainAndClose(snd_pcm_t* pcm) {
    if (snd_pcm_drain(pcm) == -EAGAIN) {
        const auto limit = Clock::now() + kDrainLimit;
        while (snd_pcm_state(pcm) == SND_PCM_STATE_DRAINING && Clock::now() < limit) std::this_thread::sleep_for(kTick / 2);
    }
    snd_pcm_drop(pcm);
    snd_pcm_close(pcm);
}

// The stream the writer should be playing: the oldest with samples waiting,
// else the open one.
StreamRef Target(const Feed& f) { return f.chunks.empty() ? f.open : f.chunks.front().stream; }

void Writer() {
    Feed& f = AlsaWriter();
    Pcm out;
    snd_pcm_t*& pcm = out.pcm;
    StreamRef cur;
    size_t pos = 0;  // frames of the head chunk handed to ALSA
    uint64_t seenDrop = 0;
    std::unique_lock<std::mutex> lk(f.m);
    for (;;) {
        if (f.dropGeneration != seenDrop) {
            seenDrop = f.dropGeneration;
            pos = 0;
            if (pcm) {
                lk.unlock();
                snd_pcm_drop(pcm);
                snd_pcm_prepare(pcm);
                if (out.resampler) out.resampler.reset(new sim::Resampler(cur->rate, out.rate, cur->channels));
                lk.lock();
            }
            continue;
        }
        StreamRef target = Target(f);
        if (pcm && target != cur) {
            lk.unlock();
            if (out.resampler) {
                // What the converter holds back: the stream's last few milliseconds.
                std::vector<float> tail;
                out.resampler->Flush(tail);
                const auto samples = Samples16(tail);
                if (!samples->empty()) snd_pcm_writei(pcm, samples->data(), samples->size() / cur->channels);
            }
            DrainAndClose(pcm);
            lk.lock();
            out = Pcm{};
            cur.reset();
            f.holding = false;
            f.cv.notify_all();
            continue;
        }
        if (!target) {
            f.cv.notify_all();
            f.cv.wait(lk);
            continue;
        }
        if (!pcm && f.failed == target->id) {
            // Not audible: its samples are dropped, the device plays on virtually.
            while (!f.chunks.empty() && f.chunks.front().stream == target) f.chunks.pop_front();
            pos = 0;
            if (f.chunks.empty()) {
                f.cv.notify_all();
                f.cv.wait(lk);
            }
            continue;
        }
        if (!pcm) {
            std::string reason;
            f.holding = true;
            lk.unlock();
            Pcm opened;
            const bool ok = OpenPcm(*target, opened, reason);
            lk.lock();
            if (!ok) {
                Report(lk, target->id, reason);
                f.holding = false;
                continue;
            }
            out = std::move(opened);
            cur = target;
            pos = 0;
            ++f.state.streams;
            f.state.rate = out.rate;
            continue;
        }
        if (f.chunks.empty()) {
            f.cv.notify_all();
            f.cv.wait(lk);
            continue;
        }
        if (out.resampler && !f.chunks.front().converted) {
            // To the PCM's rate, through the stream's one converter (outside
            // the lock: the device may queue or reset meanwhile).
            const auto samples = f.chunks.front().samples;
            const uint64_t generation = f.dropGeneration;
            lk.unlock();
            std::vector<float> in(samples->begin(), samples->end()), converted;
            out.resampler->Process(in.data(), in.size() / cur->channels, converted);
            auto result = Samples16(converted);
            lk.lock();
            if (generation == f.dropGeneration && !f.chunks.empty() && f.chunks.front().samples == samples) {
                f.chunks.front().samples = std::move(result);
                f.chunks.front().converted = true;
            }
            continue;
        }
        // Feed the head chunk up to what is due a lead from now.
        const unsigned rate = out.rate;
        const Chunk chunk = f.chunks.front();
        const size_t total = chunk.samples->size() / cur->channels;
        const auto ahead = Clock::now() + kLead - chunk.due;
        const int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(ahead).count();
        const size_t due = micros <= 0 ? 0 : std::min<size_t>(total, static_cast<uint64_t>(micros) * rate / 1000000 + 1);
        if (pos >= total) {
            f.chunks.pop_front();
            pos = 0;
            continue;
        }
        if (due <= pos) {
            const auto next = chunk.due - kLead + std::chrono::microseconds(pos * 1000000 / rate);
            f.cv.wait_until(lk, std::min<Clock::time_point>(Clock::now() + kTick, next));
            continue;
        }
        const uint64_t generation = f.dropGeneration;
        lk.unlock();
        snd_pcm_sframes_t n = snd_pcm_writei(pcm, chunk.samples->data() + pos * cur->channels, due - pos);
        // An underrun (a gap between buffers, or the writer was late): start again.
        const bool recovered = (n == -EPIPE || n == -ESTRPIPE) && snd_pcm_recover(pcm, static_cast<int>(n), 1) == 0;
        lk.lock();
        if (recovered) continue;
        if (n > 0) f.state.frames += static_cast<uint64_t>(n);
        if (n == -EAGAIN || n == 0) {
            f.cv.wait_until(lk, Clock::now() + kTick);
            continue;
        }
        if (n < 0) {
            const StreamRef failed = cur;
            lk.unlock();
            snd_pcm_drop(pcm);
            snd_pcm_close(pcm);
            lk.lock();
            out = Pcm{};
            cur.reset();
            Report(lk, failed->id, Describe("ALSA device \"" + failed->device + "\" failed while playing", static_cast<int>(n)));
            f.holding = false;
            continue;
        }
        if (generation == f.dropGeneration) pos += static_cast<size_t>(n);
    }
}

// The buffer as interleaved samples on the 16-bit scale.
std::shared_ptr<const std::vector<int16_t>> BufferS16(const Layout& l, const WAVEHDR& h) {
    const DWORD frame = l.FrameBytes();
    const size_t frames = frame ? h.dwBufferLength / frame : 0;
    std::vector<float> decoded(frames * l.channels);
    Decode(l, reinterpret_cast<const uint8_t*>(h.lpData), 0, frames, decoded.data());
    return Samples16(decoded);
}

}  // namespace

void CardStream(UINT device, const Layout& format, bool on) {    Feed& f = AlsaWriter();
    if (device != f.heard.load()) return;
    std::lock_guard<std::mutex> g(f.m);
    if (!on) {
        f.open.reset();
        f.cv.notify_all();
        return;
    }
    if (!sim::RealTime() || !f.audible) return;
    auto s = std::make_shared<Stream>();
    s->id = f.nextId++;
    const char* name = getenv("MARLUNE_ALSA_DEVICE");
    s->device = name && *name ? name : "default";
    s->rate = format.rate;
    s->channels = format.channels;
    f.open = s;
    if (!f.started) {
        f.started = true;
        std::thread(Writer).detach();
    }
    f.cv.notify_all();
}

void CardPlay(UINT device, const Layout& format, const WAVEHDR& h, sim::Micros start) {
    Feed& f = AlsaWriter();
    if (device != f.heard.load()) return;
    {
        std::lock_guard<std::mutex> g(f.m);
        if (!f.open) return;
    }
    Chunk c;
    c.due = Clock::now() + std::chrono::microseconds(start - sim::Now());
    c.samples = BufferS16(format, h);
    std::lock_guard<std::mutex> g(f.m);
    if (!f.open) return;
    c.stream = f.open;
    f.chunks.push_back(std::move(c));
    f.cv.notify_all();
}

void CardFlush(UINT device) {
    Feed& f = AlsaWriter();
    if (device != f.heard.load()) return;
    std::lock_guard<std::mutex> g(f.m);
    f.chunks.clear();
    ++f.dropGeneration;
    f.cv.notify_all();
}

}  // namespace wavesim

namespace sim {

using wavesim::AlsaWriter;


void SetSoundCardAudible(bool on) {
    std::lock_guard<std::mutex> g(AlsaWriter().m);
    AlsaWriter().audible = on;
}

void SetAudibleDevice(UINT device) { AlsaWriter().heard = device; }

bool SoundCardAudible() {
    std::lock_guard<std::mutex> g(AlsaWriter().m);
    return AlsaWriter().audible;
}

void SetSoundCardNotice(std::function<void(const std::string&)> notice) {
    std::lock_guard<std::mutex> g(AlsaWriter().m);
    AlsaWriter().notice = std::move(notice);
}

SoundCardFeed SoundCardFeedState() {
    std::lock_guard<std::mutex> g(AlsaWriter().m);
    return AlsaWriter().state;
}

bool WaitSoundCardIdle(Micros limit) {
    auto& f = AlsaWriter();
    std::unique_lock<std::mutex> lk(f.m);
    return f.cv.wait_for(lk, std::chrono::microseconds(limit),
                         [&f] { return !f.open && f.chunks.empty() && !f.holding; });
}

}  // namespace sim
