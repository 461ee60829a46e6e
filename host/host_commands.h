// Commands of the `marlune host` JSON-lines protocol beyond calls,
// properties and the clock: the caller's side of the virtual modem, the
// wave devices and so on. Each file under host/ registers its own with a
// static HostCommandRegistrar; the host dispatches on the request's "cmd".
//
//   request : {"id":7,"cmd":"offer","caller":"5551234"}
//   answer  : {"id":7,"result":<whatever the command returns>}
//             {"id":7,"error":{"message":"..."}}   (HostCommandError)
#pragma once

#include <functional>
#include <map>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

struct Module;
class CMarluneCtrl;

struct HostContext {
    Module& module;
    CMarluneCtrl* ctrl;  // null while no control exists
    // Writes one line to the host's output (an event, a box, a notice).
    std::function<void(const nlohmann::json&)> emit;
};

// Thrown by a command for a bad request; becomes {"error":{"message":...}}.
struct HostCommandError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using HostCommand = std::function<nlohmann::json(HostContext&, const nlohmann::json& request)>;

struct HostCommandInfo {
    HostCommand run;
    std::string usage;  // one line for `marlune help`
};

std::map<std::string, HostCommandInfo>& HostCommands();

struct HostCommandRegistrar {
    HostCommandRegistrar(const std::string& name, const std::string& usage, HostCommand run) {
        HostCommands()[name] = HostCommandInfo{std::move(run), usage};
    }
};

// Text at the host's edge: JSON is UTF-8, the control's text is GBK.
std::string Utf8ToAnsi(const std::string& utf8);
std::string AnsiToUtf8(const std::string& ansi);

// Reads a required field of the request, with a clear error when missing.
const nlohmann::json& Field(const nlohmann::json& request, const char* name);
