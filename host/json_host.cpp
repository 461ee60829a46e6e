#include "host/json_host.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <new>
#include <vector>

#include "host/edit_distance.h"
#include "platform/code_page.h"

using nlohmann::json;

namespace {

// A request the host refuses before running anything.
using RequestError = HostRequestError;

// ---- text and values at the edge ----------------------------------------------

// A value as a message shows it.
std::string Shown(const json& j) {
    if (j.is_array()) return "an array";
    if (j.is_object()) return "an object";
    std::string s = j.dump(-1, ' ', false, json::error_handler_t::replace);
    return s.size() > 40 ? s.substr(0, 37) + "..." : s;
}

std::string HResultText(int32_t hr) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

// The request as a message names it: "the \"tap\" command", "InitLine".
std::string What(const json& r) {
    if (r.contains("cmd") && r["cmd"].is_string()) return "the \"" + r["cmd"].get<std::string>() + "\" command";
    for (const char* a : {"call", "get", "put"})
        if (r.contains(a) && r[a].is_string()) return r[a].get<std::string>();
    return "the request";
}

json Failure(const char* kind, const std::string& message) {
    return json{{"error", {{"kind", kind}, {"message", message}}}};
}

json AutomationFailure(int32_t hr, const std::string& message) {
    json f = Failure("automation", message);
    f["error"]["hresult"] = HResultText(hr);
    return f;
}

const char* Wanted(HostType type) {
    switch (type) {
        case HostType::Long: return "a long";
        case HostType::Bool: return "a BOOL";
        case HostType::String: return "a BSTR (string)";
        case HostType::Other: return "nothing";
    }
    return "?";
}

// The automation codes the host words (winerror.h / oleauto.h).
constexpr int32_t kOk = static_cast<int32_t>(0u);
constexpr int32_t kBadParamCount = static_cast<int32_t>(0x8002000Eu);
constexpr int32_t kException = static_cast<int32_t>(0x80020009u);
constexpr int32_t kTypeMismatch = static_cast<int32_t>(0x80020005u);
constexpr int32_t kOverflow = static_cast<int32_t>(0x8002000Au);
constexpr int32_t kMemberNotFound = static_cast<int32_t>(0x80020003u);

// ---- request checks ---------------------------------------------------------------

const char* const kActions[] = {"call", "get", "put", "run", "control", "cmd"};

bool IsCount(const json& j) { return j.is_number_unsigned() && j.get<uint64_t>() <= UINT32_MAX; }

bool IsSeconds(const json& j) {
    if (!j.is_number()) return false;
    double s = j.get<double>();
    return std::isfinite(s) && s >= 0 && s <= JsonHost::kMaxRunSeconds;
}

void CheckField(const json& value, const HostField& f, const std::string& command) {
    std::string where = "\"" + std::string(f.name) + "\" of " + command;
    switch (f.kind) {
        case FieldKind::String:
            if (!value.is_string()) throw RequestError(where + " is a string, not " + Shown(value));
            return;
        case FieldKind::Bool:
            if (!value.is_boolean()) throw RequestError(where + " is true or false, not " + Shown(value));
            return;
        case FieldKind::Count:
            if (!IsCount(value)) throw RequestError(where + " is a whole number from 0 to 4294967295, not " + Shown(value));
            return;
        case FieldKind::Seconds:
            if (!IsSeconds(value)) throw RequestError(where + " is a number of seconds from 0 to 86400, not " + Shown(value));
            return;
        case FieldKind::Int:
            if (!(value.is_number_integer() && (value.is_number_unsigned() ? value.get<uint64_t>() <= INT32_MAX
                                                                           : value.get<int64_t>() >= -1)))
                throw RequestError(where + " is a whole number from -1 to 2147483647, not " + Shown(value));
            return;
        case FieldKind::StringOrNull:
            if (!value.is_string() && !value.is_null()) throw RequestError(where + " is a string or null, not " + Shown(value));
            return;
        case FieldKind::Array:
            if (!value.is_array()) throw RequestError(where + " is an array, not " + Shown(value));
            return;
        case FieldKind::CountOrString:
            if (!IsCount(value) && !value.is_string())
                throw RequestError(where + " is a whole number from 0 to 4294967295 or a string, not " + Shown(value));
            return;
        case FieldKind::CodeOrString:
            if (!value.is_string() &&
                !(value.is_number_integer() && (value.is_number_unsigned() ? value.get<uint64_t>() <= UINT32_MAX
                                                                           : value.get<int64_t>() >= INT32_MIN)))
                throw RequestError(where + " is a number from -2147483648 to 4294967295 or a string, not " +
                                   Shown(value));
            return;
    }
}

}  // namespace

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Utf8ToAnsi(const std::string& utf8) { return codepage::Convert(utf8, CP_UTF8, CP_ACP); }
std::string AnsiToUtf8(const std::string& ansi) { return codepage::Convert(ansi, CP_ACP, CP_UTF8); }

const std::vector<std::string>& SimulatedPlatformCommands() {
    static const std::vector<std::string> names = {"wave_fault",   "file_fault",       "comm_fault",   "wave_device",
                                                   "wave_formats", "sound_card_input", "hide_library", "hide_export"};
    return names;
}

bool SimulatedPlatformOnly(const std::string& name) {
    for (auto& n : SimulatedPlatformCommands())
        if (n == name) return true;
    return false;
}

std::map<std::string, HostCommandInfo>& HostCommands() {
    static std::map<std::string, HostCommandInfo> commands;
    return commands;
}

const json& Field(const json& request, const char* name) {
    auto it = request.find(name);
    if (it == request.end()) throw HostRequestError(std::string("missing field \"") + name + "\"");
    return *it;
}

// ---- host ---------------------------------------------------------------------

JsonHost::JsonHost(Output out) : out_(std::move(out)), target_(MakeHostTarget()) {
    target_->Connect(
        [this](int ctl, const std::string& name, json args) {
            Emit(json{{"event", name}, {"ctl", ctl}, {"args", std::move(args)}});
        },
        [this](json notice) {
            if (notice.contains("messagebox") && addressed_) notice["ctl"] = addressed_;
            Emit(std::move(notice));
        });
}

JsonHost::~JsonHost() {
    while (!controls_.empty()) DestroyControl(controls_.begin()->first);
    target_.reset();
}

double JsonHost::Seconds() const { return target_->Seconds(); }

void JsonHost::Emit(json j) {
    if (!j.contains("id")) j["t"] = Seconds();
    out_(j);
}

int JsonHost::CreateControl() {
    int number = nextNumber_++;
    target_->Create(number);
    controls_[number] = true;
    return number;
}

bool JsonHost::DestroyControl(int number) {
    auto it = controls_.find(number);
    if (it == controls_.end()) return false;
    // The destruction notice is reported with this control's number.
    int outer = addressed_;
    addressed_ = number;
    controls_.erase(it);
    target_->Destroy(number);
    addressed_ = outer;
    return true;
}

// Checks the whole request; answers the number of the control it goes to
// (0 when it names none and there is no default), or throws RequestError.
int JsonHost::Validate(const json& r) const {
    if (!r.is_object()) throw RequestError("a request is a JSON object");
    std::vector<std::string> actions;
    for (const char* a : kActions)
        if (r.contains(a)) actions.push_back(a);
    if (actions.empty())
        throw RequestError("a request has one of \"call\", \"get\", \"put\", \"run\", \"control\" or \"cmd\"");
    if (actions.size() > 1)
        throw RequestError("a request names one action; this one has \"" + actions[0] + "\" and \"" + actions[1] +
                           "\"");
    const std::string action = actions[0];
    const json& what = r[action];

    std::vector<std::string> known{"id", action, "ctl"};
    bool takesCtl = true;
    bool needsControl = true;
    if (action == "call" || action == "get" || action == "put") {
        if (!what.is_string() || what.get<std::string>().empty())
            throw RequestError("\"" + action + "\" is a member name, not " + Shown(what));
        if (action == "call") {
            known.push_back("args");
            if (r.contains("args") && !r["args"].is_array())
                throw RequestError("\"args\" is an array of arguments, not " + Shown(r["args"]));
        }
        if (action == "put") {
            known.push_back("value");
            if (!r.contains("value")) throw RequestError("\"put\" needs a \"value\"");
        }
    } else if (action == "run") {
        if (!IsSeconds(what))
            throw RequestError("\"run\" is a number of seconds from 0 to 86400, not " + Shown(what));
        takesCtl = needsControl = false;
    } else if (action == "control") {
        if (what == "create") {
            takesCtl = needsControl = false;
        } else if (what != "destroy") {
            throw RequestError("\"control\" is \"create\" or \"destroy\", not " + Shown(what));
        }
    } else {  // cmd
        if (!what.is_string()) throw RequestError("\"cmd\" is a command name, not " + Shown(what));
        auto it = HostCommands().find(what.get<std::string>());
        if (it == HostCommands().end()) {
            if (SimulatedPlatformOnly(what.get<std::string>()))
                throw RequestError(what.get<std::string>() + ": not on Windows (a command of the simulated platform)");
            throw RequestError("unknown command: " + what.get<std::string>());
        }
        needsControl = false;
        for (auto& f : it->second.fields) {
            known.push_back(f.name);
            if (r.contains(f.name))
                CheckField(r[f.name], f, what.get<std::string>());
            else if (f.required)
                throw RequestError("\"" + what.get<std::string>() + "\" needs \"" + f.name + "\"");
        }
    }
    for (auto& [key, value] : r.items()) {
        if (std::find(known.begin(), known.end(), key) != known.end()) continue;
        std::string hint;  // the nearest field, when a letter or two away
        size_t nearest = 3;
        if (action == "cmd")
            for (auto& name : known) {
                size_t edits = EditDistance(key, name);
                if (name != "id" && name != "cmd" && name != "ctl" && edits < nearest &&
                    edits <= (name.size() > 4 ? 2u : 1u)) {
                    nearest = edits;
                    hint = " (did you mean \"" + name + "\"?)";
                }
            }
        throw RequestError("unknown field \"" + key + "\" in " +
                           (action == "cmd" ? "the \"" + what.get<std::string>() + "\" command"
                                            : "a \"" + action + "\" request") +
                           hint);
    }

    if (!r.contains("ctl")) {
        int fallback = controls_.empty() ? 0 : controls_.begin()->first;
        if (needsControl && !fallback) throw RequestError("no control: send {\"control\":\"create\"}");
        return takesCtl ? fallback : 0;
    }
    const json& ctl = r["ctl"];
    if (!takesCtl)
        throw RequestError("\"ctl\" does not apply to " +
                           std::string(action == "run" ? "\"run\"" : "\"create\" (it answers the new number)"));
    if (!IsCount(ctl) || ctl.get<uint64_t>() == 0)
        throw RequestError("\"ctl\" is a control number (1, 2, ...), not " + Shown(ctl));
    auto number = ctl.get<uint64_t>();
    if (controls_.count(static_cast<int>(number))) return static_cast<int>(number);
    if (number < static_cast<uint64_t>(nextNumber_))
        throw RequestError("control " + std::to_string(number) + " was destroyed");
    throw RequestError("no control " + std::to_string(number) + " (not created)");
}

json JsonHost::Call(int ctl, const json& r) {
    std::string name;
    CallKind kind = CallKind::Method;
    std::vector<json> given;
    if (r.contains("call")) {
        name = r["call"].get<std::string>();
        if (r.contains("args"))
            for (auto& a : r["args"]) given.push_back(a);
    } else if (r.contains("get")) {
        name = r["get"].get<std::string>();
        kind = CallKind::Get;
    } else {
        name = r["put"].get<std::string>();
        kind = CallKind::Put;
        given.push_back(r["value"]);
    }
    MemberCall m = target_->Call(ctl, name, kind, given);
    if (!m.found) return AutomationFailure(m.hr, "unknown name: " + name);
    switch (m.hr) {
        case kOk: return json{{"result", m.result}};
        case kException: {
            json f = AutomationFailure(m.hr, m.description);
            f["error"]["scode"] = HResultText(m.scode);
            return f;
        }
        case kBadParamCount: {
            std::string names;
            for (auto& p : m.params) names += (names.empty() ? "" : ", ") + p.name;
            size_t wanted = m.property ? (kind == CallKind::Put ? 1 : 0) : m.params.size();
            return AutomationFailure(m.hr, "wrong number of arguments for " + m.member + ": it takes " +
                                               std::to_string(wanted) + (names.empty() ? "" : " (" + names + ")") +
                                               ", got " + std::to_string(given.size()));
        }
        case kTypeMismatch:
        case kOverflow: {
            // argErr counts from the last argument.
            HostParam p{"?", HostType::Other};
            if (m.property)
                p = HostParam{m.member, m.type};
            else if (m.argErr < given.size() && given.size() == m.params.size())
                p = m.params[given.size() - 1 - m.argErr];
            const json bad = m.argErr < given.size() ? given[given.size() - 1 - m.argErr] : json();
            std::string which = m.property ? "the value of " + m.member : "parameter " + p.name + " of " + m.member;
            std::string message =
                m.hr == kOverflow
                    ? "overflow: " + which + " is a long (-2147483648 to 2147483647), got " + Shown(bad)
                    : "type mismatch: " + which + " is " + Wanted(p.type) + ", got " + Shown(bad);
            json f = AutomationFailure(m.hr, message);
            f["error"]["argErr"] = m.argErr;
            return f;
        }
        case kMemberNotFound:
            return AutomationFailure(m.hr, m.member + (m.property ? " is a property: use \"get\" or \"put\""
                                                                  : " is a method: use \"call\""));
        default: return AutomationFailure(m.hr, "cannot invoke " + name);
    }
}

void JsonHost::HandleLine(const std::string& line) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) return;
    json request;
    // The depth is bounded while parsing: a deeply nested value would take
    // the stack when it is copied or taken apart later.
    struct TooDeep {};
    std::string problem;
    try {
        request = json::parse(line, [](int depth, json::parse_event_t, json&) {
            if (depth > kMaxDepth) throw TooDeep{};
            return true;
        });
    } catch (const json::parse_error& e) {
        problem = "bad JSON at byte " + std::to_string(e.byte);
    } catch (const TooDeep&) {
        problem = "bad JSON: nested deeper than " + std::to_string(kMaxDepth) + " levels";
    }
    if (!problem.empty()) {
        json answer = Failure("request", problem);
        answer["id"] = nullptr;
        out_(answer);
        return;
    }
    Handle(request);
}

void JsonHost::Handle(const json& request) {
    json id = request.is_object() && request.contains("id") ? request["id"] : json(nullptr);
    json answer;
    try {
        int ctl = Validate(request);
        addressed_ = ctl;
        if (request.contains("call") || request.contains("get") || request.contains("put")) {
            answer = Call(ctl, request);
        } else if (request.contains("run")) {
            target_->RunFor(request["run"].get<double>());
            answer = json{{"result", {{"t", Seconds()}}}};
        } else if (request.contains("control")) {
            if (request["control"] == "create") {
                answer = json{{"result", {{"ctl", CreateControl()}}}};
            } else {
                DestroyControl(ctl);
                answer = json{{"result", "destroyed"}};
            }
        } else {
            auto& command = HostCommands().at(request["cmd"].get<std::string>());
            HostContext ctx{ctl, [this](const json& j) { Emit(j); }};
            answer = json{{"result", command.run(ctx, request)}};
        }
    } catch (const RequestError& e) {
        answer = Failure("request", e.what());
    } catch (const HostCommandError& e) {
        answer = Failure("command", e.what());
    } catch (const json::exception&) {
        // A value the declared fields let through but the command cannot
        // take; the library's own text means nothing to the user.
        answer = Failure("request", "bad request: " + What(request) + " cannot take a value it was given");
    } catch (const std::bad_alloc&) {
        answer = Failure("command", What(request) + " ran out of memory");
    } catch (const std::exception&) {
        answer = Failure("command", What(request) + " failed");
    }
    addressed_ = 0;
    answer["id"] = id;
    out_(answer);
}

// ---- entry points -----------------------------------------------------------

json MessageBoxNotice(const std::string& caption, const std::string& text, int answer) {
    return json{{"messagebox",
                 {{"caption", AnsiToUtf8(caption)},
                  {"text", AnsiToUtf8(text)},
                  {"caption_big5", codepage::Convert(caption, 950, CP_UTF8)},
                  {"text_big5", codepage::Convert(text, 950, CP_UTF8)},
                  {"caption_bytes", Hex(caption)},
                  {"text_bytes", Hex(text)},
                  {"answer", answer}}}};
}

void ServeLines(JsonHost& host) {
    std::string line;
    while (std::getline(std::cin, line)) host.HandleLine(line);
}
