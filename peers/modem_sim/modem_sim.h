// A voice modem's side of a serial line, on a pseudo-terminal, for tests:
// the AT command set for voice (+FCLASS=8, +VLS, +VSM, +VTX, +VRX, +VTS,
// +VCID, +VIT, +VRA/+VRN) or the older #CLS set, result codes, caller-id
// lines and the DLE-shielded voice stream, with a scriptable caller and
// faults. It behaves as the command references of its family say: echo on
// at power-up until ATE0, the family's own +VSM=? list and code meanings,
// and a voice buffer of a real modem's size that plays at 8000 samples a
// second: what the host sends beyond it waits (flow control), DLE CAN
// empties it and DLE ETX is answered once it has played. Commands are answered by the simulator's own reader thread, as a
// modem answers on its own; what the caller does runs on the platform's
// clock (call from the loop thread).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace modemsim {

enum class Dialect {
    V253,      // +FCLASS=8 and the +V commands
    Rockwell,  // #CLS=8 and the # commands
};

// NoDialtone: the line is dead; the modem listens for a dial tone after
// ATD and answers NO DIALTONE.
enum class Outgoing { Answer, Busy, NoAnswer, Manual, NoDialtone };

// How the far end hangs up a connected call, as the modem reports it.
enum class HangUp {
    BusyTone,   // DLE b
    Silence,    // DLE s, then DLE q
    DialTone,   // DLE d
    NoCarrier,  // the NO CARRIER result code
};

// Command-set families: their identification, +VSM=? list and codes.
enum class Family {
    HostSoft,    // host-processed: 128 8-bit signed, 130 unsigned, 131 mu-law, 132 A-law, 133 16-bit
    Controller,  // controller-based: 1 and 130 8-bit unsigned PCM, ADPCM; no mu-law
    ALawLinear,  // 128 8-bit signed linear, 132 A-law, 133 16-bit linear; no mu-law
    Intel,       // 0/128 LIN1 8-bit signed, 1/129 LIN2 16-bit unsigned, ADPCM, 140 CL1 A-law (the
                 // default); named by ATI only (no +FMI/+FMM), VCON answers +VLS=1
};

struct Options {
    Dialect dialect = Dialect::V253;
    Family family = Family::HostSoft;
    // Empty: the family's own identification.
    std::string manufacturer;
    std::string model;
    // Lines answering +VSM=? in place of the family's list (a modem whose
    // list does not read).
    std::vector<std::string> vsmList;
    // The voice buffer: bytes the modem holds ahead of what it plays.
    size_t voiceBuffer = 2048;
    // +VRN: seconds of ringback before NO ANSWER when the far end never picks up.
    double ringbackSeconds = 10;
    // +VTR, voice both ways at once (answers AT+VTR=? with OK); without it
    // +VTR and +VTR=? are ERROR.
    bool fullDuplex = false;
};

class ModemSim {
public:
    ModemSim();
    ~ModemSim();
    ModemSim(const ModemSim&) = delete;
    ModemSim& operator=(const ModemSim&) = delete;

    // Opens the pseudo-terminal and starts answering; false on failure.
    bool Start(const Options& options = Options());
    void Stop();
    // The device name the provider opens (the terminal's slave side).
    std::string Path() const;

    // ---- the caller (loop thread, platform clock) ----------------------
    // `count` rings `interval` seconds apart, the first now; the caller id
    // (when not empty) follows the first ring.
    void Ring(int count, double interval, const std::string& callerId);
    // The same with the full caller-id block after the first ring: DATE,
    // TIME, NMBR (when `callerId` is not empty; "P" private, "O" out of
    // area) and NAME (when `name` is not empty).
    void Ring(int count, double interval, const std::string& callerId, const std::string& name);
    // A line the modem writes as is (CR LF around it), e.g. a caller-id
    // line in an order of its own.
    void SendLine(const std::string& text);
    // DTMF keys, `interval` seconds apart (0: all at once).
    void Keys(const std::string& keys, double interval = 0);
    // What the caller says: 16-bit samples at 8 kHz, sample 0 heard now.
    void Voice(std::vector<int16_t> samples);
    // A DLE event the modem reports on its own ('h' the local handset, ...).
    void Dle(char code);
    void HangUp(HangUp how);
    // What the dialled party does with an outgoing call, after `delay` s
    // (NoAnswer with no delay: Options::ringbackSeconds of ringback).
    void SetOutgoing(Outgoing what, double delay);
    void AnswerOutgoing();

    // ---- faults ---------------------------------------------------------
    // The next `count` commands starting with `prefix` (after "AT", e.g.
    // "+VLS") are answered ERROR.
    void FailCommand(const std::string& prefix, int count = 1);
    // Commands are read and never answered (until set false).
    void StopAnswering(bool stop);
    // The next `count` commands starting with `prefix` are read and never
    // answered (a modem that hangs on one question).
    void IgnoreCommand(const std::string& prefix, int count = 1);
    // The device goes away: the terminal is closed under the provider.
    void Unplug();
    // Garbage and line noise are written before every result code.
    void Noise(bool on);
    // Every write is split into pieces of at most `bytes` (0: whole), each
    // read by the far end before the next is written.
    void SplitWrites(size_t bytes);

    // ---- what the modem saw ---------------------------------------------
    std::vector<std::string> Commands() const;
    // What was played to the caller through +VTX (or +VTR), decoded to 16-bit.
    std::vector<int16_t> Heard() const;
    bool OffHook() const;
    std::string Dialled() const;
    int VoiceFormat() const;  // the +VSM compression method in use
    // When each command line was read (clock time), in the order of Commands().
    std::vector<sim::Micros> CommandTimes() const;
    // Clock time the last sample of what was played has played (or will).
    sim::Micros PlayedUntil() const;
    // The most voice bytes the host had sent beyond the buffer at once
    // (waiting behind flow control).
    size_t MostHeldBack() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace modemsim
