// Commands of the `marlune host` JSON-lines protocol beyond calls,
// properties and the clock: the caller's side of the virtual modem, the
// wave devices and so on. Each file under host/ registers its own with a
// static HostCommandRegistrar; the host dispatches on the request's "cmd".
//
//   request : {"id":7,"cmd":"offer","caller":"5551234"}
//   answer  : {"id":7,"result":<whatever the command returns>}
//             {"id":7,"error":{"kind":"command","message":"..."}}   (HostCommandError)
//
// Every command declares its fields, and the host checks a request against
// them before the command runs: a field it does not know, one of the wrong
// type and a required one that is missing are refused as request errors, and
// the command does not run.
#pragma once

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct HostContext {
    int ctl;  // the control the request names ("ctl") or the default one; 0 when none
    // Writes one line to the host's output (an event, a box, a notice).
    std::function<void(const nlohmann::json&)> emit;
};

// Thrown by a command that cannot do what was asked; becomes
// {"error":{"kind":"command","message":...}}.
struct HostCommandError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Thrown for a request that is malformed (a field missing, unknown or of the
// wrong type); becomes {"error":{"kind":"request","message":...}}.
struct HostRequestError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using HostCommand = std::function<nlohmann::json(HostContext&, const nlohmann::json& request)>;

// What a command's field holds.
enum class FieldKind {
    String,
    Bool,
    Count,          // an integer 0 .. 4294967295
    Seconds,        // a number 0 .. the host's longest run (one day)
    Array,
    CountOrString,  // a number as above, or a string
    CodeOrString,   // a 32-bit code, -2147483648 .. 4294967295, or a string
    StringOrNull,
    Int,            // an integer -1 .. 2147483647 (a count where -1 is "every call", a device where -1 is "any")
};

struct HostField {
    const char* name;
    FieldKind kind;
    bool required = false;
};

// Whom a command is for: any host of the control, or the simulation (the
// caller's side of the virtual modem, the virtual devices and their faults).
enum class CommandSet { Host, Simulator };

struct HostCommandInfo {
    HostCommand run;
    std::string usage;  // one line for `marlune help`
    std::vector<HostField> fields;  // besides "id", "ctl" and "cmd"
    CommandSet set = CommandSet::Simulator;
};

std::map<std::string, HostCommandInfo>& HostCommands();

// The commands only the simulated platform carries out (its virtual devices,
// their faults, its loader): the Windows host has none of them and says so.
const std::vector<std::string>& SimulatedPlatformCommands();
bool SimulatedPlatformOnly(const std::string& name);

struct HostCommandRegistrar {
    HostCommandRegistrar(const std::string& name, const std::string& usage, std::vector<HostField> fields,
                         HostCommand run, CommandSet set = CommandSet::Simulator) {
        HostCommands()[name] = HostCommandInfo{std::move(run), usage, std::move(fields), set};
    }
};

// Text at the host's edge: JSON is UTF-8, the control's text is GBK.
std::string Utf8ToAnsi(const std::string& utf8);
std::string AnsiToUtf8(const std::string& ansi);
// Bytes as lower-case hexadecimal, two digits each.
std::string Hex(const std::string& bytes);

// Reads a field the request must have (a request error when it is missing).
const nlohmann::json& Field(const nlohmann::json& request, const char* name);
