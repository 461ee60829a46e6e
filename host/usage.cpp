#include "host/usage.h"

#include "host/host_commands.h"

namespace {

struct Verb {
    const char* name;
    const char* synopsis;
    const char* what;
};

#ifdef _WIN32
// marlune.exe: the JSON host over the registered MARLUNE.OCX.
const Verb kVerbs[] = {
    {"host", "marlune host", "JSON lines on stdin, answers and events on stdout"},
    {"help", "marlune help", "usage and the list of host commands"},
};
#else
const Verb kVerbs[] = {
    {"run",
     "marlune run APP.lua [CALLERS.lua] [--out DIR] [--real-time] [--no-sound] [--listen] [--for SECONDS] "
     "[--handler-limit SECONDS] [--memory-limit MB] [--on-error stop] [--trace] [--modem-sim | --modem DEVICE | --sip ADDRESS:PORT [--sip-proxy ADDRESS:PORT] "
     "[--sip-register sip:USER@HOST[:PORT] --sip-auth-file FILE] [--rtp-ports LOW-HIGH]] [--no-history]",
     "a voice application in Lua"},
    {"host",
     "marlune host [--real-time] [--no-sound] [--modem DEVICE | --modem-sim | --sip ADDRESS:PORT [--sip-proxy "
     "ADDRESS:PORT] [--sip-register sip:USER@HOST[:PORT] --sip-auth-file FILE] [--rtp-ports LOW-HIGH]]",
     "JSON lines on stdin, answers and events on stdout"},
    {"demo", "marlune demo [--out DIR] [--real-time] [--no-sound] [--listen] [--no-history] [--json]",
     "the demonstration (--json: one call as JSON lines)"},
    {"calls", "marlune calls DIR [--number N] [--from DATE] [--to DATE] [--recorded yes|no] [--ended HOW] [--limit N] [--json] [--rebuild]",
     "the call history of an output folder"},
    {"serve", "marlune serve DIR [--port N] [--bind ADDRESS]", "the call history as web pages"},
    {"describe", "marlune describe [--reference]", "the automation surface, as a type-library viewer shows it"},
    {"number", "marlune number RUN", "the Chinese reading of a number run"},
    {"say", "marlune say TEXT [--out FILE] [--line]", "speak a text, write what was heard"},
    {"help", "marlune help", "usage and the list of host commands"},
};
#endif

constexpr size_t kWhatColumn = 29;

const char* KindName(FieldKind kind) {
    switch (kind) {
        case FieldKind::String: return "string";
        case FieldKind::Bool: return "true|false";
        case FieldKind::Count: return "count";
        case FieldKind::Seconds: return "seconds";
        case FieldKind::Array: return "array";
        case FieldKind::CountOrString: return "count|string";
        case FieldKind::CodeOrString: return "code|string";
        case FieldKind::StringOrNull: return "string|null";
        case FieldKind::Int: return "integer";
    }
    return "?";
}

std::string Commands(CommandSet set) {
    std::string out;
    for (auto& [name, info] : HostCommands()) {
        if (info.set != set) continue;
        std::string line = "    " + name;
        line += std::string(line.size() < 22 ? 22 - line.size() : 1, ' ') + info.usage + "\n";
        std::string fields;
        for (auto& f : info.fields)
            fields += std::string(fields.empty() ? "" : ", ") + f.name + ": " + KindName(f.kind) +
                      (f.required ? " (required)" : "");
        out += line + "      fields: " + (fields.empty() ? "none" : fields) + "\n";
    }
    return out;
}

#ifdef _WIN32
const char* const kSimulatorHeading = "  the stand-in TAPI32.DLL's commands (the caller's side of the line):\n";

std::string NotHere() {
    std::string names;
    for (auto& n : SimulatedPlatformCommands()) names += (names.empty() ? "" : ", ") + n;
    return "  not on Windows (the simulated platform's): " + names + "\n";
}
#else
const char* const kSimulatorHeading = "  the simulator's commands (the caller's side, the virtual devices, faults):\n";

std::string NotHere() { return {}; }
#endif

}  // namespace

std::string Synopsis() {
    std::string out;
    for (auto& v : kVerbs) {
        std::string line = v.synopsis;
        if (line.size() < kWhatColumn)
            line += std::string(kWhatColumn - line.size(), ' ');
        else
            line += "\n" + std::string(kWhatColumn, ' ');
        out += line + "# " + v.what + "\n";
    }
    return out;
}

std::string VerbUsage(const std::string& verb) {
    for (auto& v : kVerbs)
        if (verb == v.name) return std::string("usage: ") + v.synopsis + "\n";
    return "usage:\n" + Synopsis();
}

std::string Usage() {
    return "usage:\n" + Synopsis() +
           "\nhost requests (one JSON object per line):\n"
           "  {\"id\":1,\"call\":\"InitLine\",\"args\":[0]}   call a method\n"
           "  {\"id\":2,\"get\":\"OutID\"}  {\"id\":3,\"put\":\"MonitorDtmf\",\"value\":true}\n"
           "  {\"id\":4,\"run\":30}                       advance the clock 30 s, delivering what is due\n"
           "  {\"id\":5,\"control\":\"create\"}             another control; answers {\"ctl\":N}\n"
           "  {\"id\":6,\"control\":\"destroy\",\"ctl\":N}\n"
           "  {\"id\":7,\"cmd\":NAME,...}                 a host command:\n" +
           Commands(CommandSet::Host) + kSimulatorHeading + Commands(CommandSet::Simulator) + NotHere() +
           "\n\"ctl\":N sends call, get, put, destroy or cmd to control N (default: the lowest alive).\n"
           "failures: {\"id\":1,\"error\":{\"kind\":\"automation\"|\"request\"|\"command\",\"message\":...,\n"
           "           \"hresult\":\"0x...\",\"argErr\":N}} (hresult and argErr for automation only)\n";
}
