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

#include "platform/sim/g711.h"

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
    bool voice = false, offHook = false, callerIdOn = false;
    int format = 128;
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

    uint8_t Encode(int16_t v) const {
        return format == 130 ? sim::MuLawEncode(v) : static_cast<uint8_t>((v >> 8) + 128);
    }
    int16_t Decode(uint8_t b) const {
        return format == 130 ? sim::MuLawDecode(b) : static_cast<int16_t>((static_cast<int>(b) - 128) << 8);
    }

    // ---- the call -------------------------------------------------------
    // Rings of a caller not yet answered go on: hanging up is the caller's.
    void GoOnHook() {
        offHook = connected = dialling = false;
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
            char b = static_cast<char>(Encode(v));
            out += b;
            if (b == kDle) out += kDle;
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
        if (silent) return;
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
        if (c == "+FMI?" || c == "+GMI") return Write("\r\n" + options.manufacturer + "\r\n"), "OK";
        if (c == "+FMM?" || c == "+GMM") return Write("\r\n" + options.model + "\r\n"), "OK";
        if (c == "Z" || c == "&F" || c == "E0" || c == "E1" || c == "V1" || c == "Q0" || c == "X4") {
            if (c == "Z" || c == "&F") {
                GoOnHook();
                voice = callerIdOn = false;
            }
            return "OK";
        }
        if (c == "H" || c == "H0") return GoOnHook(), "OK";
        if (Is(c, "+FCLASS=8", "#CLS=8")) return voice = true, "OK";
        if (Is(c, "+FCLASS=0", "#CLS=0")) return voice = false, GoOnHook(), "OK";
        if (Is(c, "+FCLASS?", "#CLS?")) return Write(voice ? "\r\n8\r\n" : "\r\n0\r\n"), "OK";
        if (Is(c, "+VCID=1", "#CID=1")) return callerIdOn = true, "OK";
        if (Is(c, "+VCID=0", "#CID=0")) return callerIdOn = false, "OK";
        if (!voice) return "ERROR";
        if (options.dialect == Dialect::V253 && Starts(c, "+VSM=", "")) {
            int cml = std::atoi(c.c_str() + 5);
            auto comma = c.find(',');
            int rate = comma == std::string::npos ? 8000 : std::atoi(c.c_str() + comma + 1);
            if ((cml != 1 && cml != 128 && cml != 130) || rate != 8000) return "ERROR";
            format = cml == 130 ? 130 : 128;
            return "OK";
        }
        if (options.dialect == Dialect::Rockwell && c == "#VBS=8") return format = 128, "OK";
        if (options.dialect == Dialect::Rockwell && c == "#VSR=8000") return "OK";
        if (Starts(c, "+VIT=", "#VTD=") || Starts(c, "+VRA=", "#VRA=") || Starts(c, "+VRN=", "#VRN=")) return "OK";
        if (options.dialect == Dialect::V253 && Starts(c, "+VLS=", "")) {
            if (std::atoi(c.c_str() + 5) == 0) return GoOnHook(), "OK";
            offHook = true;
            if (offered) connected = true, offered = false;
            return "OK";
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
            return "CONNECT";
        }
        if (options.dialect == Dialect::V253 && c == "+VTR=?") return options.fullDuplex ? "OK" : "ERROR";
        bool duplex = options.dialect == Dialect::V253 && c == "+VTR";
        if (Is(c, "+VRX", "#VRX") || duplex) {
            if (!offHook || (duplex && !options.fullDuplex)) return "ERROR";
            Result("CONNECT");
            mode = duplex ? Mode::Duplex : Mode::Receive;
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
            } else if (b != '\n' && line.size() < 256) {
                line += b;
            }
            return;
        }
        if (dle) {
            dle = false;
            if (mode == Mode::Duplex) {
                if (b == kDle) heard.push_back(Decode(static_cast<uint8_t>(kDle)));
                if (b == '^') {  // both directions end
                    mode = Mode::Command;
                    Write(std::string{kDle, kEtx});
                    Result("OK");
                }
            } else if (mode == Mode::Transmit) {
                if (b == kDle) heard.push_back(Decode(static_cast<uint8_t>(kDle)));
                if (b == kEtx) mode = Mode::Command, Result("OK");
                if (b == 0x18) Result("OK"), mode = Mode::Command;  // DLE CAN: buffer dropped
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
        if (mode == Mode::Transmit || mode == Mode::Duplex) heard.push_back(Decode(static_cast<uint8_t>(b)));
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
                for (ssize_t i = 0; i < n; ++i) Take(buf[i]);
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

int ModemSim::VoiceFormat() const {
    std::lock_guard<std::recursive_mutex> g(impl_->lock);
    return impl_->format;
}

}  // namespace modemsim
