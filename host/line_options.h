// The options that choose the line the control takes, the same for
// `marlune run` and `marlune host`: --modem DEVICE (the AT library) or
// --sip ADDRESS:PORT with --sip-proxy, --sip-register, --sip-auth-file and
// --rtp-ports (the SIP library). Either implies real time.
#pragma once

#include <string>

struct LineOptions {
    std::string modem;
    std::string sip, sipProxy, sipRegister, sipAuthFile, rtpPorts;
    bool Chosen() const { return !modem.empty() || !sip.empty(); }
};

// argv[i] is one of them: taken with its value (i moves on), true. False
// when it is none; `error` set when it is one without its value.
bool TakeLineOption(int argc, char** argv, int& i, LineOptions& o, std::string& error);

// Checks the options and maps "TAPI32.DLL" to the chosen library (settings
// in the environment); false with the reason when they do not hold.
bool UseLine(const LineOptions& o, std::string& error);
