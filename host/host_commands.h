// Commands of the `marlune host` JSON-lines protocol beyond calls,
// properties and the clock: the caller's side of the virtual modem, the
// wave devices and so on. Each file under host/ registers its own with a
// static HostCommandRegistrar; the host dispatches on the request's "cmd".
//
//   request : {"id":7,"cmd":"offer","caller":"5551234"}
//   answer  : {"id":7,"result":<whatever the command returns>}
//             {"id":7,"error":{"kind":"command","message":"..."}}   (HostCommandError)
//
// A command registered with its fields has its request checked before it
// runs: a field it does not know, or one of the wrong type, is refused as a
// request error and the command does not run.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct Module;
class CMarluneCtrl;

struct HostContext {
    Module& module;
    CMarluneCtrl* ctrl;  // the control the request names ("ctl") or the default one; null when none
    // Writes one line to the host's output (an event, a box, a notice).
    std::function<void(const nlohmann::json&)> emit;
};

// Thrown by a command for a bad request; becomes {"error":{"message":...}}.
struct HostCommandError : std::runtime_error {
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
};

struct HostField {
    const char* name;
    FieldKind kind;
    bool required = false;
};

struct HostCommandInfo {
    HostCommand run;
    std::string usage;  // one line for `marlune help`
    // The fields besides "id", "ctl" and "cmd"; unset: not checked by the host.
    std::optional<std::vector<HostField>> fields;
};

std::map<std::string, HostCommandInfo>& HostCommands();

struct HostCommandRegistrar {
    HostCommandRegistrar(const std::string& name, const std::string& usage, HostCommand run) {
        HostCommands()[name] = HostCommandInfo{std::move(run), usage, std::nullopt};
    }
    HostCommandRegistrar(const std::string& name, const std::string& usage, std::vector<HostField> fields,
                         HostCommand run) {
        HostCommands()[name] = HostCommandInfo{std::move(run), usage, std::move(fields)};
    }
};

// Text at the host's edge: JSON is UTF-8, the control's text is GBK.
std::string Utf8ToAnsi(const std::string& utf8);
std::string AnsiToUtf8(const std::string& ansi);
// Bytes as lower-case hexadecimal, two digits each.
std::string Hex(const std::string& bytes);

// Reads a required field of the request, with a clear error when missing.
const nlohmann::json& Field(const nlohmann::json& request, const char* name);
