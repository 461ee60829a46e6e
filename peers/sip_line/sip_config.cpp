#include "peers/sip_line/sip_config.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

namespace sipline {

namespace {

bool Number(const std::string& s, unsigned low, unsigned high, unsigned& out) {
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    unsigned long v = std::stoul(s);
    if (v < low || v > high) return false;
    out = static_cast<unsigned>(v);
    return true;
}

std::string Env(const char* name) {
    const char* v = getenv(name);
    return v ? v : "";
}

}  // namespace

bool ParseHostPort(const std::string& text, HostPort& out) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    HostPort hp;
    hp.host = text.substr(0, colon);
    in_addr a;
    if (inet_pton(AF_INET, hp.host.c_str(), &a) != 1) return false;
    if (!Number(text.substr(colon + 1), 1, 65535, hp.port)) return false;
    out = hp;
    return true;
}

bool ParsePortRange(const std::string& text, unsigned& low, unsigned& high) {
    size_t dash = text.find('-');
    unsigned l = 0, h = 0;
    if (dash == std::string::npos || !Number(text.substr(0, dash), 1024, 65535, l) ||
        !Number(text.substr(dash + 1), 1024, 65535, h) || h < l)
        return false;
    low = l;
    high = h;
    return true;
}

bool ParseRegisterUri(const std::string& uri, std::string& user, HostPort& registrar) {
    if (uri.rfind("sip:", 0) != 0) return false;
    size_t at = uri.find('@');
    if (at == std::string::npos || at == 4) return false;
    std::string u = uri.substr(4, at - 4), rest = uri.substr(at + 1);
    if (u.find_first_of(":;?<> ") != std::string::npos) return false;
    if (rest.find(':') == std::string::npos) rest += ":5060";
    if (!ParseHostPort(rest, registrar)) return false;
    user = u;
    return true;
}

bool ReadAuthFile(const std::string& path, std::string& user, std::string& password, std::string& error) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        error = "cannot read the SIP auth file " + path;
        return false;
    }
    if (st.st_mode & (S_IRWXG | S_IRWXO)) {
        error = "the SIP auth file " + path + " can be read by others: chmod 600 " + path;
        return false;
    }
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        error = "cannot read the SIP auth file " + path;
        return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) {
        error = "the SIP auth file " + path + " holds no line user:password";
        return false;
    }
    user = line.substr(0, colon);
    password = line.substr(colon + 1);
    return true;
}

bool ConfigFromEnvironment(Config& c, std::string& error) {
    c = Config();
    std::string listen = Env("MARLUNE_SIP"), proxy = Env("MARLUNE_SIP_PROXY"), reg = Env("MARLUNE_SIP_REGISTER"),
                auth = Env("MARLUNE_SIP_AUTH_FILE"), ports = Env("MARLUNE_RTP_PORTS");
    if (!ParseHostPort(listen, c.listen)) {
        error = "--sip takes ADDRESS:PORT (an IPv4 address), not '" + listen + "'";
        return false;
    }
    if (!proxy.empty() && !ParseHostPort(proxy, c.proxy)) {
        error = "--sip-proxy takes ADDRESS:PORT (an IPv4 address), not '" + proxy + "'";
        return false;
    }
    if (!ports.empty() && !ParsePortRange(ports, c.rtpLow, c.rtpHigh)) {
        error = "--rtp-ports takes LOW-HIGH (1024-65535), not '" + ports + "'";
        return false;
    }
    if (!reg.empty()) {
        std::string user;
        HostPort registrar;
        if (!ParseRegisterUri(reg, user, registrar)) {
            error = "--sip-register takes sip:USER@HOST[:PORT], not '" + reg + "'";
            return false;
        }
        if (auth.empty()) {
            error = "--sip-register needs --sip-auth-file FILE (one line user:password)";
            return false;
        }
        c.registerUri = reg;
    }
    if (!auth.empty() && !ReadAuthFile(auth, c.user, c.password, error)) return false;
    return true;
}

}  // namespace sipline
