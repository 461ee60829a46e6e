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
    // SIGTERM, then Wait.
    int Terminate(double seconds);

private:
    int pid_ = -1;
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
