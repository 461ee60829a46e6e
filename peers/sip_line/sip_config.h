// The SIP line's settings: where it listens, the proxy its calls go
// through, the account it registers and the RTP ports it takes. The host
// passes them in the environment (MARLUNE_SIP, MARLUNE_SIP_PROXY,
// MARLUNE_SIP_REGISTER, MARLUNE_SIP_AUTH_FILE, MARLUNE_RTP_PORTS).
#pragma once

#include <string>

namespace sipline {

struct HostPort {
    std::string host;
    unsigned port = 0;
    std::string Text() const { return host + ":" + std::to_string(port); }
};

struct Config {
    HostPort listen;
    HostPort proxy;            // port 0: none
    std::string registerUri;   // sip:USER@HOST[:PORT]; empty: no registration
    std::string user, password;
    unsigned rtpLow = 16384, rtpHigh = 32767;
};

// "ADDRESS:PORT" with a numeric IPv4 address and a port 1-65535.
bool ParseHostPort(const std::string& text, HostPort& out);
// "LOW-HIGH", 1024 <= LOW <= HIGH <= 65535.
bool ParsePortRange(const std::string& text, unsigned& low, unsigned& high);
// sip:USER@HOST[:PORT]: its user and where REGISTER goes (port 5060 unless given).
bool ParseRegisterUri(const std::string& uri, std::string& user, HostPort& registrar);
// One line "user:password" from a file only its owner may read.
bool ReadAuthFile(const std::string& path, std::string& user, std::string& password, std::string& error);

// From the environment; false with the reason when a setting is wrong.
bool ConfigFromEnvironment(Config& c, std::string& error);

}  // namespace sipline
