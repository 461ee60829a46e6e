// The caller commands on a modem simulator: the control talks AT commands
// to it over a pseudo-terminal through libtapi32_at.so, and the host's
// requests script the caller as they script the virtual modem.
#include <cstdlib>
#include <memory>

#include "host/caller_side.h"
#include "host/host_commands.h"
#include "peers/modem_sim/modem_sim.h"
#include "platform/sim/sim.h"
#include "platform/sim/wave_devices.h"

using nlohmann::json;

namespace {

class SimulatedModem : public CallerSide {
public:
    bool Start(std::string& error) {
        if (!modem_.Start()) {
            error = "cannot open a pseudo-terminal for the modem simulator";
            return false;
        }
        return true;
    }
    std::string Path() const { return modem_.Path(); }
    void Stop() { modem_.Stop(); }

    json Offer(uint32_t device, const std::optional<std::string>& callerId) override {
        One(device);
        offered_ = true;
        callerId_ = callerId.value_or("");
        return json{{"offered", true}};
    }
    json Ring(uint32_t device, int64_t count, double interval) override {
        One(device);
        if (!offered_) throw HostCommandError("no offered call to ring");
        // The modem first answers what the control has already sent it (a
        // line opened at this same instant is set up before the phone rings).
        sim::RunFor(0);
        // The caller id follows the first ring of an offer only.
        modem_.Ring(static_cast<int>(count), interval, callerId_);
        callerId_.clear();
        return json{{"ring", ++rings_}};
    }
    json CallerId(uint32_t, const std::string&) override {
        throw HostCommandError("the modem sends the caller id after the first ring: give \"caller\" to offer");
    }
    json Keys(uint32_t device, const std::string& keys, double interval) override {
        One(device);
        if (keys.find_first_not_of("0123456789*#ABCD") != std::string::npos)
            throw HostCommandError("no connected call, or a bad key");
        modem_.Keys(keys, interval);
        return 0;
    }
    json HangUp(uint32_t device, const std::string& how) override {
        One(device);
        offered_ = false;
        rings_ = 0;
        modemsim::HangUp h = how == "silence"    ? modemsim::HangUp::Silence
                             : how == "dialtone" ? modemsim::HangUp::DialTone
                             : how == "nocarrier" ? modemsim::HangUp::NoCarrier
                                                 : modemsim::HangUp::BusyTone;
        modem_.HangUp(h);
        return 0;
    }
    json Outgoing(uint32_t device, const std::string& mode, double after) override {
        One(device);
        modemsim::Outgoing o = mode == "manual"   ? modemsim::Outgoing::Manual
                               : mode == "busy"     ? modemsim::Outgoing::Busy
                               : mode == "noanswer" ? modemsim::Outgoing::NoAnswer
                                                    : modemsim::Outgoing::Answer;
        // Busy at once, as the virtual modem reports it; the others after `after`.
        modem_.SetOutgoing(o, o == modemsim::Outgoing::Busy ? 0 : after);
        return 0;
    }
    json AnswerOutgoing(uint32_t device) override {
        One(device);
        modem_.AnswerOutgoing();
        return 0;
    }
    json RefuseOutgoing(uint32_t, bool) override {
        throw HostCommandError("the modem simulator answers an outgoing call as \"outgoing\" sets: busy or noanswer");
    }
    void Voice(const std::string& wavPath) override {
        std::vector<int16_t> samples;
        DWORD rate = 0;
        if (!sim::LoadWav(wavPath, samples, rate)) throw HostCommandError("cannot read the WAV file " + wavPath);
        if (rate != 8000 && rate) {
            std::vector<int16_t> at8k(samples.size() * 8000 / rate);
            for (size_t i = 0; i < at8k.size(); ++i) at8k[i] = samples[i * rate / 8000];
            samples.swap(at8k);
        }
        modem_.Voice(std::move(samples));
    }

private:
    static void One(uint32_t device) {
        if (device != 0) throw HostCommandError("the modem simulator has one line: device 0");
    }
    modemsim::ModemSim modem_;
    bool offered_ = false;
    std::string callerId_;
    int rings_ = 0;
};

std::unique_ptr<SimulatedModem>& Simulated() {
    static std::unique_ptr<SimulatedModem> s;
    return s;
}

}  // namespace

CallerSide* SimulatedModemSide() { return Simulated().get(); }

bool UseSimulatedModem(std::string& error) {
    auto modem = std::make_unique<SimulatedModem>();
    if (!modem->Start(error)) return false;
    setenv("MARLUNE_MODEM", modem->Path().c_str(), 1);
    setenv("MARLUNE_DLL_MAP", "TAPI32.DLL=libtapi32_at.so", 1);
    Simulated() = std::move(modem);
    return true;
}

void StopSimulatedModem() {
    if (Simulated()) Simulated()->Stop();
    Simulated().reset();
}
