// The far end of the line for the host's caller commands (offer, ring,
// callerid, keys, hangup, outgoing calls, the caller's voice): the virtual
// modem's control API by default, or a modem simulator on a
// pseudo-terminal that the control reaches through the AT telephony
// library (`marlune host --modem-sim`). The same requests drive both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

class CallerSide {
public:
    virtual ~CallerSide() = default;
    // Each throws HostCommandError when the line is not in a state for it.
    virtual nlohmann::json Offer(uint32_t device, const std::optional<std::string>& callerId) = 0;
    virtual nlohmann::json Ring(uint32_t device, int64_t count, double interval) = 0;
    virtual nlohmann::json CallerId(uint32_t device, const std::string& callerId) = 0;
    virtual nlohmann::json Keys(uint32_t device, const std::string& keys, double interval) = 0;
    virtual nlohmann::json HangUp(uint32_t device, const std::string& how) = 0;
    // "manual", "answer", "busy" or "noanswer", `after` seconds after dialling.
    virtual nlohmann::json Outgoing(uint32_t device, const std::string& mode, double after) = 0;
    virtual nlohmann::json AnswerOutgoing(uint32_t device) = 0;
    virtual nlohmann::json RefuseOutgoing(uint32_t device, bool busy) = 0;
    // The caller starts saying this WAV file into the line now.
    virtual void Voice(const std::string& wavPath) = 0;
    // True on the virtual modem, whose configuration commands need it.
    virtual bool Virtual() const { return false; }
};

// The simulator's side while the host runs one, else the virtual modem's.
CallerSide& Caller();
CallerSide* SimulatedModemSide();

// Starts a modem simulator and points the AT telephony library at it; the
// caller commands then drive it. False (with `error`) when it cannot start.
bool UseSimulatedModem(std::string& error);
void StopSimulatedModem();
