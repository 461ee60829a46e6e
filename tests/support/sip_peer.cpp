#include "tests/support/sip_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/sim/g711.h"

namespace siptest {

namespace {

bool Bindable(int type, unsigned port, unsigned& chosen) {
    int fd = socket(AF_INET, type, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    socklen_t len = sizeof a;
    if (ok && getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) chosen = ntohs(a.sin_port);
    close(fd);
    return ok;
}

void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

}  // namespace

double Seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

unsigned FreePort() {
    static std::set<unsigned> given;
    for (int tries = 0; tries < 200; ++tries) {
        unsigned port = 0, same = 0;
        if (!Bindable(SOCK_DGRAM, 0, port) || given.count(port) || port < 1024) continue;
        if (!Bindable(SOCK_STREAM, port, same)) continue;
        given.insert(port);
        return port;
    }
    return 0;
}

void WaitTaken(unsigned port, double seconds) {
    const double until = Seconds() + seconds;
    unsigned same = 0;
    while (Bindable(SOCK_DGRAM, port, same) && Seconds() < until) usleep(20000);
}

bool Child::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log,
                  const std::string& dir) {
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        setpgid(0, 0);
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        if (out >= 0) dup2(out, 1), dup2(out, 2);
        if (in >= 0) dup2(in, 0);
        if (chdir(dir.c_str()) != 0) _exit(126);
        for (const auto& e : env) putenv(strdup(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return true;
}

int Child::Wait(double seconds) {
    if (pid_ < 0) return -1;
    const double end = Seconds() + seconds;
    int status = 0;
    while (Seconds() < end) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        usleep(20000);
    }
    Stop();
    return -1;
}

int Child::Terminate(double seconds) {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return Wait(seconds);
}

void Child::Stop() {
    if (pid_ < 0) return;
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

RawSip::RawSip(unsigned line) : line_(line) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    timeval tv{0, 20000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

RawSip::~RawSip() { close(fd_); }

void RawSip::Send(const std::string& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(line_));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

std::vector<int> RawSip::Statuses(double seconds) {
    std::vector<int> out;
    const double end = Seconds() + seconds;
    char buf[65536];
    while (Seconds() < end) {
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n <= 12 || std::string(buf, 8) != "SIP/2.0 ") continue;
        const std::string r(buf, static_cast<size_t>(n));
        out.push_back(std::atoi(buf + 8));
        if (out.back() >= 300 && r.find(" INVITE\r\n") != std::string::npos) Ack(r);
    }
    return out;
}

std::string RawSip::Await(int status, double seconds) {
    const double end = Seconds() + seconds;
    char buf[65536];
    while (Seconds() < end) {
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n > 12 && std::string(buf, 8) == "SIP/2.0 " && std::atoi(buf + 8) == status)
            return std::string(buf, static_cast<size_t>(n));
    }
    return "";
}

std::string RawSip::Header(const std::string& message, const std::string& name) {
    size_t at = message.find("\r\n" + name + ":");
    return at == std::string::npos ? std::string() : message.substr(at + 2, message.find("\r\n", at + 2) - at);
}

void RawSip::Ack(const std::string& response) {
    std::string cseq = Header(response, "CSeq");
    cseq = cseq.substr(0, cseq.find("INVITE")) + "ACK\r\n";
    Send("ACK sip:service@127.0.0.1:" + std::to_string(line_) + " SIP/2.0\r\n" + Header(response, "Via") +
         Header(response, "From") + Header(response, "To") + Header(response, "Call-ID") + cseq +
         "Content-Length: 0\r\n\r\n");
}

std::string RawSip::Invite(const std::string& callId, const std::string& formats, const std::string& cseq,
                           unsigned mediaPort) const {
    const std::string sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio " +
                            std::to_string(mediaPort) + " RTP/AVP " + formats + "\r\n";
    return Request("INVITE", callId, cseq) + "Content-Type: application/sdp\r\nContent-Length: " +
           std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
}

std::string RawSip::Request(const std::string& method, const std::string& callId, const std::string& cseq,
                            const std::string& toTag) const {
    const std::string me = "127.0.0.1:" + std::to_string(port_);
    // CANCEL shares the INVITE's branch; every other request has its own.
    const std::string branch = method == "INVITE" || method == "CANCEL" ? callId : callId + "-" + method;
    return method + " sip:service@127.0.0.1:" + std::to_string(line_) + " SIP/2.0\r\nVia: SIP/2.0/UDP " + me +
           ";branch=z9hG4bK" + branch + "\r\nFrom: <sip:5550100@127.0.0.1>;tag=f" + callId +
           "\r\nTo: <sip:service@127.0.0.1>" + toTag + "\r\nCall-ID: " + callId + "\r\nCSeq: " + cseq +
           "\r\nContact: <sip:5550100@" + me + ">\r\nMax-Forwards: 70\r\n";
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string DataFile(const std::string& name) { return std::string(SIP_TEST_DIR) + "/" + name; }

void WriteWav(const std::string& path, const std::vector<int16_t>& samples, bool muLaw) {
    std::string data;
    for (int16_t v : samples) {
        if (muLaw) data += static_cast<char>(sim::MuLawEncode(v));
        else Put16(data, static_cast<uint16_t>(v));
    }
    const uint16_t bytes = muLaw ? 1 : 2;
    std::string h = "RIFF";
    Put32(h, static_cast<uint32_t>(36 + data.size()));
    h += "WAVEfmt ";
    Put32(h, 16);
    Put16(h, muLaw ? 7 : 1);
    Put16(h, 1);
    Put32(h, 8000);
    Put32(h, 8000 * bytes);
    Put16(h, bytes);
    Put16(h, static_cast<uint16_t>(8 * bytes));
    h += "data";
    Put32(h, static_cast<uint32_t>(data.size()));
    std::ofstream(path, std::ios::binary) << h << data;
}

std::vector<int16_t> ReadWav(const std::string& path) {
    const std::string d = Read(path);
    std::vector<int16_t> out;
    size_t fmt = d.find("fmt "), data = d.find("data");
    if (fmt == std::string::npos || data == std::string::npos || d.size() < fmt + 24) return out;
    auto u16 = [&d](size_t at) { return static_cast<unsigned>(static_cast<uint8_t>(d[at]) | static_cast<uint8_t>(d[at + 1]) << 8); };
    const unsigned tag = u16(fmt + 8), bits = u16(fmt + 22);
    for (size_t i = data + 8; i < d.size();) {
        if (tag == 7 && bits == 8) {
            out.push_back(sim::MuLawDecode(static_cast<uint8_t>(d[i++])));
        } else if (tag == 1 && bits == 16 && i + 1 < d.size()) {
            out.push_back(static_cast<int16_t>(u16(i)));
            i += 2;
        } else {
            break;
        }
    }
    return out;
}

std::vector<int16_t> Tone(double hz, double seconds, double amplitude) {
    std::vector<int16_t> s(static_cast<size_t>(seconds * 8000));
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * hz * i / 8000));
    return s;
}

std::vector<int16_t> Dtmf(char key, double seconds) {
    static const char* rows[] = {"123A", "456B", "789C", "*0#D"};
    static const double low[] = {697, 770, 852, 941}, high[] = {1209, 1336, 1477, 1633};
    double f1 = 0, f2 = 0;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (rows[r][c] == key) f1 = low[r], f2 = high[c];
    std::vector<int16_t> a = Tone(f1, seconds, 7000), b = Tone(f2, seconds, 7000);
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<int16_t>(a[i] + b[i]);
    return a;
}

double Level(const std::vector<int16_t>& s, double hz, size_t from, size_t to) {
    to = std::min(to, s.size());
    if (from >= to) return 0;
    const double k = 2 * std::cos(2 * M_PI * hz / 8000);
    double q1 = 0, q2 = 0;
    for (size_t i = from; i < to; ++i) {
        double q0 = k * q1 - q2 + s[i] / 32768.0;
        q2 = q1;
        q1 = q0;
    }
    const double power = q1 * q1 + q2 * q2 - k * q1 * q2;
    return 2 * std::sqrt(std::max(0.0, power)) / static_cast<double>(to - from);
}

}  // namespace siptest
