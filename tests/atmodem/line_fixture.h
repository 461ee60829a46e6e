// The person on the line, on either telephony library: the virtual modem
// (libtapi32.so, its control API and the line device's input and tap) or
// the AT provider (libtapi32_at.so) over the modem simulator.
#pragma once

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "peers/modem_sim/modem_sim.h"
#include "peers/virtual_modem/virtual_modem.h"
#include "platform/riff_wave.h"
#include "platform/sim/g711.h"
#include "platform/sim/wave_devices.h"
#include "platform/sim/win32/win_library.h"
#include "tests/support/test_env.h"

extern "C" void atmodem_SetDevice(const char* path);

enum class Provider { Virtual, At };

class Caller {
public:
    virtual ~Caller() = default;
    // Offers an incoming call: `count` rings `interval` s apart, the caller id after the first.
    virtual void Call(int count, double interval, const std::string& callerId) = 0;
    virtual void Keys(const std::string& keys) = 0;
    // The caller speaks these 8 kHz samples from now on.
    virtual void Say(std::vector<int16_t> samples) = 0;
    virtual void HangUp() = 0;
    // The dialled party answers after `delay` s (busy / no answer when false).
    virtual void AnswersOutgoing(bool answers, bool busy, double delay) = 0;
    // What the caller heard from the control, without the silence around it.
    virtual std::vector<int16_t> Heard() = 0;
};

class VirtualCaller : public Caller {
public:
    VirtualCaller() {
        sim::MapLibrary("TAPI32.DLL", "");
        vmodem_Reset();
        sim::SetTapPath(sim::kLineDevice, "line_tap.wav");
    }
    void Call(int count, double interval, const std::string& callerId) override {
        vmodem_Offer(0, callerId.c_str());
        vmodem_Ring(0);
        for (int i = 1; i < count; ++i)
            sim::ScheduleAfter(static_cast<sim::Micros>(interval * i * sim::kSecond), [] { vmodem_Ring(0); });
    }
    void Keys(const std::string& keys) override { vmodem_PressKeys(0, keys.c_str()); }
    void Say(std::vector<int16_t> samples) override {
        sim::SetInputSamples(sim::kLineDevice, std::move(samples), 8000, false);
    }
    void HangUp() override { vmodem_HangUp(0); }
    void AnswersOutgoing(bool answers, bool busy, double delay) override {
        vmodem_SetOutgoing(0, answers ? VMODEM_OUTGOING_ANSWER : busy ? VMODEM_OUTGOING_BUSY : VMODEM_OUTGOING_NOANSWER,
                           static_cast<uint32_t>(delay * 1000));
    }
    std::vector<int16_t> Heard() override {
        std::vector<int16_t> tap = sim::TapSamples(sim::kLineDevice);
        auto first = std::find_if(tap.begin(), tap.end(), [](int16_t v) { return v != 0; });
        auto last = std::find_if(tap.rbegin(), tap.rend(), [](int16_t v) { return v != 0; }).base();
        return first < last ? std::vector<int16_t>(first, last) : std::vector<int16_t>();
    }
};

class AtCaller : public Caller {
public:
    explicit AtCaller(const modemsim::Options& options = modemsim::Options()) {
        EXPECT_TRUE(modem.Start(options));
        sim::MapLibrary("TAPI32.DLL", "libtapi32_at.so");
        atmodem_SetDevice(modem.Path().c_str());
    }
    ~AtCaller() override {
        modem.Stop();
        sim::MapLibrary("TAPI32.DLL", "");
    }
    void Call(int count, double interval, const std::string& callerId) override {
        modem.Ring(count, interval, callerId);
    }
    void Keys(const std::string& keys) override { modem.Keys(keys); }
    void Say(std::vector<int16_t> samples) override { modem.Voice(std::move(samples)); }
    void HangUp() override { modem.HangUp(modemsim::HangUp::BusyTone); }
    void AnswersOutgoing(bool answers, bool busy, double delay) override {
        modem.SetOutgoing(answers ? modemsim::Outgoing::Answer
                                  : busy ? modemsim::Outgoing::Busy : modemsim::Outgoing::NoAnswer,
                          delay);
    }
    std::vector<int16_t> Heard() override {
        std::vector<int16_t> h = modem.Heard();
        auto first = std::find_if(h.begin(), h.end(), [](int16_t v) { return v != 0; });
        auto last = std::find_if(h.rbegin(), h.rend(), [](int16_t v) { return v != 0; }).base();
        return first < last ? std::vector<int16_t>(first, last) : std::vector<int16_t>();
    }
    modemsim::ModemSim modem;
};

// Samples that mu-law carries unchanged (decoded codes), a recognisable ramp.
inline std::vector<int16_t> MuLawRamp(size_t n, int seed) {
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = sim::MuLawDecode(static_cast<uint8_t>((i * 7 + seed * 31) % 0x7F));
    return v;
}

inline void WritePcmWav(const std::string& path, const std::vector<int16_t>& samples) {
    std::string data;
    for (int16_t v : samples) data += std::string{char(v & 0xFF), char((v >> 8) & 0xFF)};
    auto header = riff::Header(riff::Pcm16Format(8000), 16, static_cast<DWORD>(data.size()));
    std::ofstream(path, std::ios::binary) << std::string(header.begin(), header.end()) << data;
}

class LineTest : public MarluneTest {
protected:
    std::unique_ptr<Caller> MakeCaller(Provider p) {
        if (p == Provider::Virtual) return std::make_unique<VirtualCaller>();
        modemsim::Options o;
        o.family = family;
        return std::make_unique<AtCaller>(o);
    }
    modemsim::Family family = modemsim::Family::HostSoft;
    static void Run(double seconds) { sim::RunFor(static_cast<sim::Micros>(seconds * sim::kSecond)); }
};
