// The SIP line under a real `marlune run --sip` on loopback, answered by
// tests/sip/line_app.lua (a 1 s tone, then the line's silence) and called
// by a caller of the benchmark's own:
//   jitter_p99_ms   p99 deviation of the RTP packets' sending from the 20 ms
//                   schedule over a 10 s call (the kernel's arrival stamps:
//                   on loopback, the time of sending)
//   cpu_percent     the marlune process's CPU time during that call (2 s
//                   to 9 s of it), as a share of one core
//                   (cpu_s_per_call_minute the same, per minute of call)
//   rss_kb_20 / rss_kb_200 / rss_ratio   resident memory after 20 and after
//                   200 calls in a row (each answered, then hung up by the caller)
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/scratch.h"
#include "tests/support/sip_peer.h"

using namespace siptest;

namespace {

// The process's CPU seconds (user and system) and resident kB.
double CpuSeconds(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream rest(all.substr(all.rfind(')') + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stod(field);
        if (i == 15) stime = std::stod(field);
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long RssKb(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// A UDP socket on a free port of 127.0.0.1 for the caller's RTP.
int RtpSocket(unsigned& port) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    timeval tv{0, 50000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    // The kernel's time of arrival: on loopback the sender's own sending
    // time, whenever this process gets to read it.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    return fd;
}

// A packet's kernel time of arrival (seconds), or -1 when none came.
double Receive(int fd) {
    char buf[2048], control[256];
    iovec iov{buf, sizeof buf};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    if (recvmsg(fd, &msg, 0) < 12) return -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec t;
            memcpy(&t, CMSG_DATA(c), sizeof t);
            return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
        }
    return -1;
}

// The line's CPU time over the call's middle (2 s to 9 s of its sound):
// the start and the end of a call (the application's set-up, the call's
// record written) are not the line's steady cost.
struct CpuWindow {
    int pid = 0;
    double cpu[2] = {0, 0}, at[2] = {0, 0};
};

// One call: INVITE, 200, ACK, `seconds` of the line's sound (arrival
// times into `arrivals` when given), BYE. False when the line did not answer.
bool Call(RawSip& sip, const std::string& id, unsigned mediaPort, int rtp, double seconds, std::vector<double>* arrivals,
          CpuWindow* window = nullptr) {
    sip.Send(sip.Invite(id, "0 101", "1 INVITE", mediaPort));
    const std::string ok = sip.Await(200, 5);
    if (ok.empty()) return false;
    std::string to = RawSip::Header(ok, "To");
    const std::string tag = to.substr(to.find(";tag="), to.find("\r\n") - to.find(";tag="));
    sip.Send(sip.Request("ACK", id, "1 ACK", tag) + "Content-Length: 0\r\n\r\n");
    const double end = Seconds() + seconds;
    while (Seconds() < end) {
        const double arrived = Receive(rtp);
        if (arrived < 0 || !arrivals) continue;
        arrivals->push_back(arrived);
        for (int k = 0; k < 2 && window; ++k)
            if (arrivals->size() == (k == 0 ? 100u : 450u)) {
                window->cpu[k] = CpuSeconds(window->pid);
                window->at[k] = Seconds();
            }
    }
    sip.Send(sip.Request("BYE", id, "2 BYE", tag) + "Content-Length: 0\r\n\r\n");
    return !sip.Await(200, 5).empty();
}

void BM_SipLine(benchmark::State& state) {
    for (auto _ : state) {
        const unsigned port = FreePort(), rtpLow = FreePort() & ~1u;
        Child line;
        if (!line.Start({MARLUNE_BIN, "run", std::string(MARLUNE_SOURCE_DIR) + "/tests/sip/line_app.lua", "--sip",
                         "127.0.0.1:" + std::to_string(port), "--rtp-ports",
                         std::to_string(rtpLow) + "-" + std::to_string(rtpLow + 40), "--no-history", "--out", "out",
                         "--for", "600"},
                        {"SIP_MODE=answer"}, "line.txt")) {
            state.SkipWithError("marlune did not start");
            return;
        }
        for (int i = 0; i < 200 && Read("line.txt").find("line: SIP") == std::string::npos; ++i) usleep(20000);
        RawSip sip(port);
        unsigned mediaPort = 0;
        const int rtp = RtpSocket(mediaPort);
        std::vector<double> arrivals;
        CpuWindow window;
        window.pid = line.Pid();
        if (!Call(sip, "jitter", mediaPort, rtp, 10, &arrivals, &window) || arrivals.size() < 450) {
            state.SkipWithError("the call was not answered or carried no sound");
            return;
        }
        const double cpu = window.cpu[1] - window.cpu[0], wall = window.at[1] - window.at[0];
        // Deviation from the 20 ms schedule, anchored where it fits best (the median).
        std::vector<double> offset;
        for (size_t i = 0; i < arrivals.size(); ++i) offset.push_back(arrivals[i] - 0.020 * static_cast<double>(i));
        std::vector<double> sorted = offset;
        std::sort(sorted.begin(), sorted.end());
        const double anchor = sorted[sorted.size() / 2];
        std::vector<double> deviation;
        for (double o : offset) deviation.push_back(std::fabs(o - anchor));
        std::sort(deviation.begin(), deviation.end());
        state.counters["jitter_p99_ms"] = deviation[deviation.size() * 99 / 100] * 1000;
        state.counters["packets"] = static_cast<double>(arrivals.size());
        state.counters["cpu_percent"] = 100 * cpu / wall;
        state.counters["cpu_s_per_call_minute"] = cpu / wall * 60;

        long rss20 = 0, rss200 = 0;
        for (int n = 1; n <= 200; ++n) {
            usleep(250000);  // the line is free again
            if (!Call(sip, "c" + std::to_string(n), mediaPort, rtp, 0.1, nullptr)) {
                state.SkipWithError(("call " + std::to_string(n) + " was not answered").c_str());
                return;
            }
            if (n == 20) rss20 = RssKb(line.Pid());
            if (n == 200) rss200 = RssKb(line.Pid());
        }
        state.counters["rss_kb_20"] = static_cast<double>(rss20);
        state.counters["rss_kb_200"] = static_cast<double>(rss200);
        state.counters["rss_ratio"] = rss20 ? static_cast<double>(rss200) / static_cast<double>(rss20) : 0;
        close(rtp);
        line.Terminate(10);
    }
}

BENCHMARK(BM_SipLine)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return bench::RunAndClean(argc, argv, "sip-bench"); }
