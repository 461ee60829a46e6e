// The simulated voice modem: the terminal, the reader thread that answers
// commands, the voice streams and the caller's script.
#include "peers/modem_sim/modem_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "peers/modem_sim/sim_families.h"

namespace modemsim {

namespace {
constexpr char kDle = 0x10, kEtx = 0x03;
constexpr sim::Micros kChunk = 20 * sim::kMilli;  // one +VRX piece: 160 samples
constexpr size_t kChunkSamples = 160;
enum class Mode { Command, Transmit, Receive, Duplex };
}  // namespace

struct ModemSim::Impl {
    Options options;
    int master = -1;
    int wake[2] = {-1, -1};
    std::string path;
    uint64_t toModem = 0, fromModem = 0;  // transit keys
    std::thread reader;
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(false);
    mutable std::recursive_mutex lock;
    std::mutex writeLock;

    // modem state
    bool voice = false, offHook = false, callerIdOn = false, echo = true;
    int format = 128;
    Coding coding = Coding::Unsigned8;
    // The voice buffer: what the host sent and the modem has not taken in
    // yet (flow control holds it), when what is buffered has played, and
    // whether DLE ETX came (the stream ends once the buffer has played).
    std::string backlog;
    sim::Micros playedUntil = 0;
    bool ending = false, drainDue = false;
    size_t mostHeldBack = 0;
    std::string halfSample;
    Mode mode = Mode::Command;
    std::string line;
    bool dle = false;
    // the call
    bool offered = false, connected = false, dialling = false;
    uint64_t offers = 0;  // ring sequences started
    std::string dialled;
    Outgoing outgoing = Outgoing::Answer;
    double outgoingDelay = 3;
    std::vector<int16_t> callerVoice;
    sim::Micros voiceStart = 0, rxStart = 0;
    uint64_t rxChunks = 0;
    // faults and records
    std::map<std::string, int> failures, ignored;
    bool silent = false, noise = false;
    size_t split = 0;
    std::vector<std::string> commands;
    std::vector<sim::Micros> commandTimes;
    std::vector<int16_t> heard;

    // ---- writing --------------------------------------------------------
    void Write(const std::string& bytes) {
        std::lock_guard<std::mutex> g(writeLock);
        if (master < 0) return;
        size_t piece = split ? split : bytes.size();
        for (size_t at = 0; at < bytes.size(); at += piece) {
            size_t n = std::min(piece, bytes.size() - at);
            sim::SerialSent(fromModem, n);
            if (::write(master, bytes.data() + at, n) != static_cast<ssize_t>(n)) {
                sim::SerialForget(fromModem);
                return;
            }
            // A split piece is read on its own before the next is written.
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            // Waits without spinning: the reader needs the processor more.
            while (split && sim::SerialInTransit(fromModem) > 0 && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    }
    void Result(const std::string& code) {
        if (noise) Write(std::string("\r\n\x7f~#\xff", 6) + "+++noise\r\n\x01");
        Write("\r\n" + code + "\r\n");
    }
    void Event(char code) { Write(std::string{kDle, code}); }

    const Profile& profile() const { return ProfileOf(options.family); }
    void SetFormat(const Listed& m) { format = m.code, coding = m.coding; }
    int BytesPerSample() const { return coding == Coding::Linear16 || coding == Coding::Unsigned16 ? 2 : 1; }
    // ---- the voice buffer --------------------------------------------------
    size_t Buffered() const {
        sim::Micros left = std::max<sim::Micros>(0, playedUntil - sim::Now());
        return static_cast<size_t>(left * 8000 / sim::kSecond) * BytesPerSample();
    }
    // A voice byte into the buffer: a whole sample plays after the ones before.
    void PlayByte(char b) {
        halfSample += b;
        if (static_cast<int>(halfSample.size()) < BytesPerSample()) return;
        heard.push_back(DecodeSample(coding, halfSample));
        halfSample.clear();
        playedUntil = std::max(playedUntil, sim::Now()) + sim::kSecond / 8000;
    }
    // DLE CAN: what is buffered and not played is dropped.
    void ClearBuffer() {
        size_t unplayed = Buffered() / BytesPerSample();
        heard.resize(heard.size() - std::min(unplayed, heard.size()));
        playedUntil = std::min(playedUntil, sim::Now());
        halfSample.clear();
    }
    // DLE ETX (or DLE ^): the stream ends, and OK comes, once the buffer has played.
    void EndAfterPlaying(bool etxFirst) {
        ending = true;
        sim::Micros left = std::max<sim::Micros>(0, playedUntil - sim::Now());
        Later(left / double(sim::kSecond), [this, etxFirst] {
            ending = false;
            mode = Mode::Command;
            if (etxFirst) Write(std::string{kDle, kEtx});
            Result("OK");
            TakeBacklog();
        });
    }
    // Takes in what the host sent, as far as the buffer has room.
    void TakeBacklog() {
        size_t at = 0;
        while (at < backlog.size() && !ending) {
            char b = backlog[at];
            bool voiceByte = (mode == Mode::Transmit || mode == Mode::Duplex) && !dle && b != kDle;
            if (voiceByte && Buffered() + BytesPerSample() > options.voiceBuffer) {
                // Full: the rest waits until a 20 ms piece has played.
                if (!drainDue) {
                    drainDue = true;
                    Later(kChunk / double(sim::kSecond), [this] {
                        drainDue = false;
                        TakeBacklog();
                    });
                }
                break;
            }
            Take(b);
            ++at;
        }
        backlog.erase(0, at);
    }

    // ---- the call -------------------------------------------------------
    // Rings of a caller not yet answered go on: hanging up is the caller's.
    void GoOnHook() {
        offHook = connected = dialling = false;
        ClearBuffer();
        if (mode == Mode::Receive || mode == Mode::Duplex) Write(std::string{kDle, kEtx});
        mode = Mode::Command;
    }

    void ConnectOutgoing() {
        if (!dialling) return;
        dialling = false;
        connected = true;
        Result("VCON");
    }

    void EndOutgoing(const char* code) {
        if (!dialling) return;
        dialling = false;
        offHook = false;
        Result(code);
    }

    template <typename Fn>
    void Later(double seconds, Fn fn) {
        auto token = alive;
        sim::ScheduleAfter(static_cast<sim::Micros>(seconds * sim::kSecond), [this, token, fn] {
            if (!*token) return;
            std::lock_guard<std::recursive_mutex> g(lock);
            fn();
        });
    }

    // The next 20 ms of what the caller says, shielded, while receiving.
    void ReceiveChunk() {
        if (mode != Mode::Receive && mode != Mode::Duplex) return;
        std::string out;
        for (size_t i = 0; i < kChunkSamples; ++i) {
            uint64_t index = rxChunks * kChunkSamples + i;
            sim::Micros at = rxStart + static_cast<sim::Micros>(index) * sim::kSecond / 8000;
            int64_t k = (at - voiceStart) * 8000 / sim::kSecond;
            int16_t v = connected && k >= 0 && k < static_cast<int64_t>(callerVoice.size()) ? callerVoice[k] : 0;
            for (char b : EncodeSample(coding, v)) {
                out += b;
                if (b == kDle) out += kDle;
            }
        }
        ++rxChunks;
        Write(out);
        Later(kChunk / double(sim::kSecond), [this] { ReceiveChunk(); });
    }

    // ---- commands -------------------------------------------------------
    bool Is(const std::string& c, const char* v253, const char* rockwell) const {
        return c == (options.dialect == Dialect::V253 ? v253 : rockwell);
    }
    bool Starts(const std::string& c, const char* v253, const char* rockwell) const {
        std::string p = options.dialect == Dialect::V253 ? v253 : rockwell;
        return c.compare(0, p.size(), p) == 0;
    }

    void Command(const std::string& raw) {
        std::string text;
        for (char ch : raw)
            if (ch != ' ') text += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        commands.push_back(raw);
        commandTimes.push_back(sim::Now());
        if (silent) return;
        if (echo) Write(raw + "\r");
        if (text.compare(0, 2, "AT") != 0) return;  // not a command: a modem ignores it
        std::string c = text.substr(2);
        for (auto& [prefix, count] : ignored)
            if (count > 0 && c.compare(0, prefix.size(), prefix) == 0) return void(--count);
        for (auto& [prefix, count] : failures)
            if (count > 0 && c.compare(0, prefix.size(), prefix) == 0) {
                --count;
                return Result("ERROR");
            }
        std::string code = Handle(c);
        if (!code.empty()) Result(code);
    }

    // Answers one command; the final result code.
    std::string Handle(const std::string& c) {
        if (c.empty()) return "OK";
        if (c == "I" || (c.size() == 2 && c[0] == 'I' && std::isdigit(static_cast<unsigned char>(c[1])))) {
            Write("\r\n" + options.manufacturer + " " + options.model + "\r\n");
            return "OK";
        }
        if ((c == "+FMI?" || c == "+GMI" || c == "+FMM?" || c == "+GMM") && !profile().identifies) return "ERROR";
        if (c == "+FMI?" || c == "+GMI") return Write("\r\n" + options.manufacturer + "\r\n"), "OK";
        if (c == "+FMM?" || c == "+GMM") return Write("\r\n" + options.model + "\r\n"), "OK";
        if (c == "Z" || c == "&F" || c == "E0" || c == "E1" || c == "V1" || c == "Q0" || c == "X4") {
            if (c == "Z" || c == "&F") {
                GoOnHook();
                voice = callerIdOn = false;
            }
            if (c == "E0" || c == "E1") echo = c == "E1";
            if (c == "Z" || c == "&F") echo = true;
            return "OK";
        }
        if (c == "H" || c == "H0") return GoOnHook(), "OK";
        if (Is(c, "+FCLASS=8", "#CLS=8")) return voice = true, "OK";
        if (Is(c, "+FCLASS=0", "#CLS=0")) return voice = false, GoOnHook(), "OK";
        if (Is(c, "+FCLASS?", "#CLS?")) return Write(voice ? "\r\n8\r\n" : "\r\n0\r\n"), "OK";
        if (Is(c, "+VCID=1", "#CID=1")) return callerIdOn = true, "OK";
        if (Is(c, "+VCID=0", "#CID=0")) return callerIdOn = false, "OK";
        if (!voice) return "ERROR";
        if (options.dialect == Dialect::V253 && c == "+VSM=?") return Write(MethodList(options)), "OK";
        if (options.dialect == Dialect::V253 && Starts(c, "+VSM=", "")) {
            int cml = std::atoi(c.c_str() + 5);
            auto comma = c.find(',');
            int rate = comma == std::string::npos ? 8000 : std::atoi(c.c_str() + comma + 1);
            const Listed* m = FindMethod(options.family, cml);
            if (!m || m->coding == Coding::Adpcm || rate != 8000) return "ERROR";
            return SetFormat(*m), "OK";
        }
        if (options.dialect == Dialect::Rockwell && c == "#VBS=8")
            return format = 128, coding = Coding::Unsigned8, "OK";
        if (options.dialect == Dialect::Rockwell && c == "#VSR=8000") return "OK";
        if (Starts(c, "+VIT=", "#VTD=") || Starts(c, "+VRA=", "#VRA=") || Starts(c, "+VRN=", "#VRN=")) return "OK";
        if (options.dialect == Dialect::V253 && Starts(c, "+VLS=", "")) {
            if (std::atoi(c.c_str() + 5) == 0) return GoOnHook(), "OK";
            offHook = true;
            if (offered) connected = true, offered = false;
            return profile().vlsConnects ? "VCON" : "OK";
        }
        if (options.dialect == Dialect::Rockwell && c == "#VLS=0") return "OK";
        if (options.dialect == Dialect::Rockwell && c == "A") {
            if (!offered) return "NO CARRIER";
            offHook = connected = true;
            offered = false;
            return "VCON";
        }
        if (c[0] == 'D') return Dial(c.substr(1));
        if (Is(c, "+VTX", "#VTX")) {
            if (!offHook) return "ERROR";
            mode = Mode::Transmit;
            halfSample.clear();
            return "CONNECT";
        }
        if (options.dialect == Dialect::V253 && c == "+VTR=?") return options.fullDuplex ? "OK" : "ERROR";
        bool duplex = options.dialect == Dialect::V253 && c == "+VTR";
        if (Is(c, "+VRX", "#VRX") || duplex) {
            if (!offHook || (duplex && !options.fullDuplex)) return "ERROR";
            Result("CONNECT");
            mode = duplex ? Mode::Duplex : Mode::Receive;
            halfSample.clear();
            rxStart = sim::Now();
            rxChunks = 0;
            Later(kChunk / double(sim::kSecond), [this] { ReceiveChunk(); });
            return "";
        }
        if (Starts(c, "+VTS=", "#VTS=")) return offHook ? "OK" : "ERROR";
        return "ERROR";
    }

    std::string Dial(std::string number) {
        if (!number.empty() && number.back() == ';') number.pop_back();
        if (offered || connected || dialling) return "ERROR";
        dialled = number;
        offHook = dialling = true;
        switch (outgoing) {
            case Outgoing::Answer: Later(outgoingDelay, [this] { ConnectOutgoing(); }); break;
            case Outgoing::Busy: Later(outgoingDelay, [this] { EndOutgoing("BUSY"); }); break;
            case Outgoing::NoAnswer:
                Later(outgoingDelay > 0 ? outgoingDelay : options.ringbackSeconds,
                      [this] { EndOutgoing("NO ANSWER"); });
                break;
            case Outgoing::NoDialtone: Later(outgoingDelay, [this] { EndOutgoing("NO DIALTONE"); }); break;
            case Outgoing::Manual: break;
        }
        return "";  // the outcome is the result code
    }

    // ---- reading ----------------------------------------------------------
    void Take(char b) {
        if (mode == Mode::Command) {
            if (b == '\r') {
                std::string l = line;
                line.clear();
                Command(l);
            } else if (b >= 0x20 && b < 0x7f && line.size() < 256) {
                line += b;  // control bytes (a late DLE pair, noise) are not part of a command
            }
            return;
        }
        if (dle) {
            dle = false;
            if (mode == Mode::Duplex || mode == Mode::Transmit) {
                if (b == kDle) PlayByte(kDle);
                if (b == 0x18) ClearBuffer();  // DLE CAN: the buffer is dropped, the stream goes on
                if (mode == Mode::Duplex && b == '^') EndAfterPlaying(true);  // both directions end
                if (mode == Mode::Transmit && b == kEtx) EndAfterPlaying(false);
            } else if (b == '!') {
                mode = Mode::Command;
                Write(std::string{kDle, kEtx});
                Result("OK");
            }
            return;
        }
        if (b == kDle) {
            dle = true;
            return;
        }
        if (mode == Mode::Transmit || mode == Mode::Duplex) PlayByte(b);
    }

    void Run() {
        char buf[4096];
        for (;;) {
            pollfd fds[2] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
            if (fds[1].revents) return;
            if (!(fds[0].revents & POLLIN)) {
                if (fds[0].revents & (POLLHUP | POLLERR)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) continue;
            {
                std::lock_guard<std::recursive_mutex> g(lock);
                backlog.append(buf, static_cast<size_t>(n));
                TakeBacklog();
                mostHeldBack = std::max(mostHeldBack, backlog.size());
            }
            sim::SerialTaken(toModem, static_cast<size_t>(n));
        }
    }

    // `unplugged`: the far end is still to notice the hang-up; the clock waits for it.
    void Close(bool unplugged = false) {
        if (unplugged && master >= 0) sim::SerialSent(fromModem, 1);
        if (wake[1] >= 0) {
            char x = 0;
            (void)!::write(wake[1], &x, 1);
        }
        if (reader.joinable()) reader.join();
        for (int* fd : {&wake[0], &wake[1]})
            if (*fd >= 0) ::close(*fd), *fd = -1;
        std::lock_guard<std::mutex> g(writeLock);
        if (master >= 0) ::close(master);
        master = -1;
        *alive = false;
        sim::SerialForget(toModem);
        if (!unplugged) sim::SerialForget(fromModem);
    }
};

ModemSim::ModemSim() : impl_(std::make_unique<Impl>()) {}
ModemSim::~ModemSim() { Stop(); }

bool ModemSim::Start(const Options& options) {
    Stop();
    impl_ = std::make_unique<Impl>();
    Impl& s = *impl_;
    s.options = options;
    if (const Listed* m = FindMethod(options.family, ProfileOf(options.family).defaultMethod)) s.SetFormat(*m);
    if (s.options.manufacturer.empty()) s.options.manufacturer = ProfileOf(options.family).manufacturer;
    if (s.options.model.empty()) s.options.model = ProfileOf(options.family).model;
    s.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (s.master < 0 || grantpt(s.master) != 0 || unlockpt(s.master) != 0) return false;
    s.path = ptsname(s.master);
    // The slave side stays raw while nobody holds it open.
    int slave = ::open(s.path.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0) return false;
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    struct stat st {};
    fstat(slave, &st);
    ::close(slave);
    s.toModem = sim::SerialKey(st.st_rdev, true);
    s.fromModem = sim::SerialKey(st.st_rdev, false);
    sim::SerialWatch(s.toModem);
    sim::SerialWatch(s.fromModem);
    if (pipe(s.wake) != 0) return false;
    *s.alive = true;
    s.reader = std::thread([&s] { s.Run(); });
    return true;
}

void ModemSim::Stop() {
    if (impl_) impl_->Close();
}

std::string ModemSim::Path() const { return impl_->path; }

void ModemSim::Ring(int count, double interval, const std::string& callerId) { Ring(count, interval, callerId, ""); }

void ModemSim::Ring(int count, double interval, const std::string& callerId, const std::string& name) {
    Impl& s = *impl_;
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (s.connected || s.dialling) return;
    s.offered = true;
    std::string block;
    if (!callerId.empty() || !name.empty()) {
        block = "\r\nDATE = 1207\r\nTIME = 1020\r\n";
        if (!callerId.empty()) block += "NMBR = " + callerId + "\r\n";
        if (!name.empty()) block += "NAME = " + name + "\r\n";
    }
    const uint64_t offer = ++s.offers;
    for (int i = 0; i < count; ++i)
        s.Later(interval * i, [&s, i, block] {
            if (!s.offered || s.offHook) return;
            s.Result("RING");
            if (i == 0 && s.callerIdOn && !block.empty()) s.Write(block);
        });
    // A caller nobody answers gives up when the next ring would have come.
    s.Later(interval * count, [&s, offer] {
        if (s.offers == offer && !s.offHook) s.offered = false;
    });
}

void ModemSim::SendLine(const std::string& text) {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    impl_->Write("\r\n" + text + "\r\n");
}

void ModemSim::Keys(const std::string& keys, double interval) {
    Impl& s = *impl_;
    for (size_t i = 0; i < keys.size(); ++i) {
        char key = keys[i];
        s.Later(interval * static_cast<double>(i), [&s, key] {
            if (s.connected) s.Event(key);
        });
    }
}

void ModemSim::Dle(char code) {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    impl_->Event(code);
}

void ModemSim::Voice(std::vector<int16_t> samples) {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    impl_->callerVoice = std::move(samples);
    impl_->voiceStart = sim::Now();
}

void ModemSim::HangUp(enum HangUp how) {
    Impl& s = *impl_;
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (!s.connected) {
        s.offered = false;  // a caller giving up while it rings: the rings stop
        return;
    }
    s.connected = false;
    switch (how) {
        case HangUp::BusyTone: s.Event('b'); break;
        case HangUp::Silence: s.Event('s'), s.Event('q'); break;
        case HangUp::DialTone: s.Event('d'); break;
        case HangUp::NoCarrier:
            if (s.mode == Mode::Receive || s.mode == Mode::Duplex) s.Write(std::string{kDle, kEtx});
            s.mode = Mode::Command;
            s.offHook = false;
            s.ClearBuffer();
            s.backlog.clear();
            s.ending = false;
            s.Result("NO CARRIER");
            break;
    }
}

void ModemSim::SetOutgoing(Outgoing what, double delay) {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    impl_->outgoing = what;
    impl_->outgoingDelay = delay;
}

void ModemSim::AnswerOutgoing() {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    impl_->ConnectOutgoing();
}

void ModemSim::FailCommand(const std::string& prefix, int count) {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    impl_->failures[prefix] += count;
}

void ModemSim::IgnoreCommand(const std::string& prefix, int count) {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    impl_->ignored[prefix] += count;
}

void ModemSim::StopAnswering(bool stop) {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    impl_->silent = stop;
}

void ModemSim::Unplug() { impl_->Close(true); }

void ModemSim::Noise(bool on) {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    impl_->noise = on;
}

void ModemSim::SplitWrites(size_t bytes) {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    impl_->split = bytes;
}

std::vector<std::string> ModemSim::Commands() const {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    return impl_->commands;
}

std::vector<int16_t> ModemSim::Heard() const {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    return impl_->heard;
}

bool ModemSim::OffHook() const {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    return impl_->offHook;
}

std::string ModemSim::Dialled() const {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    return impl_->dialled;
}

std::vector<sim::Micros> ModemSim::CommandTimes() const {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    return impl_->commandTimes;
}

sim::Micros ModemSim::PlayedUntil() const {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    return impl_->playedUntil;
}

size_t ModemSim::MostHeldBack() const {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    return impl_->mostHeldBack;
}

int ModemSim::VoiceFormat() const {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    return impl_->format;
}

}  // namespace modemsim
