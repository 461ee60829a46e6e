#include "host/line_options.h"

#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "peers/sip_line/sip_config.h"

bool TakeLineOption(int argc, char** argv, int& i, LineOptions& o, std::string& error) {
    struct Option {
        const char* name;
        std::string LineOptions::*field;
    } const kOptions[] = {{"--modem", &LineOptions::modem},           {"--sip", &LineOptions::sip},
                          {"--sip-proxy", &LineOptions::sipProxy},     {"--sip-register", &LineOptions::sipRegister},
                          {"--sip-auth-file", &LineOptions::sipAuthFile}, {"--rtp-ports", &LineOptions::rtpPorts}};
    for (const Option& opt : kOptions) {
        if (strcmp(argv[i], opt.name) != 0) continue;
        if (i + 1 >= argc) {
            error = std::string(opt.name) + " needs a value";
            return false;
        }
        o.*opt.field = argv[++i];
        return true;
    }
    return false;
}

bool UseLine(const LineOptions& o, std::string& error) {
    const bool sipOptions = !o.sipProxy.empty() || !o.sipRegister.empty() || !o.sipAuthFile.empty() || !o.rtpPorts.empty();
    if (!o.modem.empty() && (!o.sip.empty() || sipOptions)) {
        error = "--modem and --sip choose different lines: give one";
        return false;
    }
    if (o.sip.empty() && sipOptions) {
        error = "--sip-proxy, --sip-register, --sip-auth-file and --rtp-ports need --sip ADDRESS:PORT";
        return false;
    }
    if (!o.modem.empty()) {
        setenv("MARLUNE_MODEM", o.modem.c_str(), 1);
        setenv("MARLUNE_DLL_MAP", "TAPI32.DLL=libtapi32_at.so", 1);
        return true;
    }
    if (o.sip.empty()) return true;
    // The library reads the file later, from wherever the run has gone.
    std::string authFile = o.sipAuthFile;
    if (!authFile.empty() && authFile[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) authFile = std::string(cwd) + "/" + authFile;
    }
    const struct {
        const char* name;
        const std::string& value;
    } vars[] = {{"MARLUNE_SIP", o.sip},
                {"MARLUNE_SIP_PROXY", o.sipProxy},
                {"MARLUNE_SIP_REGISTER", o.sipRegister},
                {"MARLUNE_SIP_AUTH_FILE", authFile},
                {"MARLUNE_RTP_PORTS", o.rtpPorts}};
    for (auto& v : vars) {
        if (v.value.empty()) unsetenv(v.name);
        else setenv(v.name, v.value.c_str(), 1);
    }
    sipline::Config c;
    if (!sipline::ConfigFromEnvironment(c, error)) return false;
    setenv("MARLUNE_DLL_MAP", "TAPI32.DLL=libtapi32_sip.so", 1);
    return true;
}
