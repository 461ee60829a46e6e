// The far ends of the SIP line's tests: `marlune run` with the line under
// test, SIPp scenarios and baresip as child processes on loopback, free
// ports for each, and the sound files they exchange.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace siptest {

// The monotonic clock, in seconds.
double Seconds();

// A port free on 127.0.0.1 for both UDP and TCP, not handed out before by
// this process.
unsigned FreePort();
// Waits until something (a far end starting) has taken UDP `port`, at most `seconds`.
void WaitTaken(unsigned port, double seconds);

class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { Stop(); }
    // Runs argv[0] (found on PATH) with `env` added, output to `log`, in `dir`.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log,
               const std::string& dir = ".");
    // The exit status (or -1 when it had to be killed after `seconds`).
    int Wait(double seconds);
    void Stop();
    int Pid() const { return pid_; }
    // SIGTERM, then Wait.
    int Terminate(double seconds);

private:
    int pid_ = -1;
};

// A caller of its own: requests as datagrams from a socket of the test's
// (or benchmark's) own, to the line on `line`.
class RawSip {
public:
    explicit RawSip(unsigned line);
    ~RawSip();
    RawSip(const RawSip&) = delete;
    RawSip& operator=(const RawSip&) = delete;
    void Send(const std::string& bytes);
    // The status codes of what comes back within `seconds`; a final answer
    // refusing an INVITE is acknowledged.
    std::vector<int> Statuses(double seconds);
    // The first response with `status` within `seconds` ("" when none came).
    std::string Await(int status, double seconds);
    // The ACK of a final answer refusing an INVITE (it is sent again until then).
    void Ack(const std::string& response);
    // An INVITE offering `formats` with its sound to `mediaPort`.
    std::string Invite(const std::string& callId, const std::string& formats = "0 8 101",
                       const std::string& cseq = "1 INVITE", unsigned mediaPort = 40000) const;
    // The start of a request, up to its end of headers (without Content-Length).
    std::string Request(const std::string& method, const std::string& callId, const std::string& cseq,
                        const std::string& toTag = "") const;
    // A header line of a message, with its CR LF ("" when absent).
    static std::string Header(const std::string& message, const std::string& name);

private:
    int fd_ = -1;
    unsigned line_;
    unsigned port_ = 0;
};

// Text of a file, "" when missing.
std::string Read(const std::string& path);
// A test data file of this folder.
std::string DataFile(const std::string& name);

// 8 kHz mono WAV files: 16-bit PCM, or mu-law (as SIPp streams it).
void WriteWav(const std::string& path, const std::vector<int16_t>& samples, bool muLaw);
// Any 8 kHz mono WAV the line writes (16-bit PCM or mu-law) as samples.
std::vector<int16_t> ReadWav(const std::string& path);
// A sine of `hz` for `seconds` at `amplitude`, and the DTMF pair of `key`.
std::vector<int16_t> Tone(double hz, double seconds, double amplitude);
std::vector<int16_t> Dtmf(char key, double seconds);
// The strength of `hz` in samples [from, to) (a Goertzel filter), 0..1 of full scale.
double Level(const std::vector<int16_t>& s, double hz, size_t from, size_t to);

}  // namespace siptest
