#include "host/json_host.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <new>
#include <vector>

#include "control/front/automation.h"
#include "platform/code_page.h"
#include "host/sound_card.h"
#include "platform/sim/sim.h"

using nlohmann::json;

namespace {

// A request the host refuses before running anything.
using RequestError = HostRequestError;

// ---- text and values at the edge ----------------------------------------------

std::string Utf8(const std::u16string& w) { return codepage::FromWide(CP_UTF8, w); }
std::u16string Utf16(const std::string& utf8) { return codepage::ToWide(CP_UTF8, utf8); }

json ToJson(const Variant& v) {
    switch (v.vt) {
        case VarType::I4: return v.lVal;
        case VarType::R8:
        case VarType::R4: return v.dblVal;
        case VarType::Bool: return v.lVal != 0;
        case VarType::BStr: return Utf8(v.bstrVal);
        case VarType::Empty:
        case VarType::Null:
        case VarType::Error:
        case VarType::Object:
        case VarType::Array: return nullptr;
    }
    return nullptr;
}

// A JSON argument as the variant a script would pass: an integer that fits
// a long is VT_I4, any other number VT_R8 (converted, or refused as an
// overflow, by the member's parameter type), a string VT_BSTR; null, an
// array and an object arrive as VT_NULL, VT_ARRAY and VT_DISPATCH, which no
// parameter takes.
Variant FromJson(const json& j) {
    if (j.is_boolean()) return Variant::Bool(j.get<bool>());
    if (j.is_number_unsigned()) {
        auto v = j.get<uint64_t>();
        return v <= INT32_MAX ? Variant::Long(static_cast<LONG>(v)) : Variant::Double(static_cast<double>(v));
    }
    if (j.is_number_integer()) {
        auto v = j.get<int64_t>();
        return v >= INT32_MIN && v <= INT32_MAX ? Variant::Long(static_cast<LONG>(v))
                                                : Variant::Double(static_cast<double>(v));
    }
    if (j.is_number_float()) return Variant::Double(j.get<double>());
    if (j.is_string()) return Variant::String(Utf16(j.get<std::string>()));
    if (j.is_array()) return Variant::Of(VarType::Array);
    if (j.is_object()) return Variant::Of(VarType::Object);
    return Variant::Null();
}

// A value as a message shows it.
std::string Shown(const json& j) {
    if (j.is_array()) return "an array";
    if (j.is_object()) return "an object";
    std::string s = j.dump(-1, ' ', false, json::error_handler_t::replace);
    return s.size() > 40 ? s.substr(0, 37) + "..." : s;
}

std::string HResultText(HRESULT hr) {
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

// How many single-letter edits turn a into b.
size_t Edits(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

json Failure(const char* kind, const std::string& message) {
    return json{{"error", {{"kind", kind}, {"message", message}}}};
}

json AutomationFailure(HRESULT hr, const std::string& message) {
    json f = Failure("automation", message);
    f["error"]["hresult"] = HResultText(hr);
    return f;
}

const char* Wanted(ParamType type) {
    switch (type) {
        case ParamType::Long: return "a long";
        case ParamType::Bool: return "a BOOL";
        case ParamType::String: return "a BSTR (string)";
        case ParamType::Void: return "nothing";
    }
    return "?";
}

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

class JsonHost::Sink : public IEventSink {
public:
    Sink(JsonHost& host, int number) : host_(host), number_(number) {}
    HRESULT Invoke(DISPID dispid, const std::vector<Variant>& args) override {
        const EventInfo* e = automation::FindEvent(dispid);
        json a = json::array();
        for (auto& v : args) a.push_back(ToJson(v));
        host_.Emit(json{{"event", e ? e->name : std::to_string(dispid)}, {"ctl", number_}, {"args", a}});
        return S_OK;
    }

private:
    JsonHost& host_;
    int number_;
};

JsonHost::JsonHost(Output out) : out_(std::move(out)), module_(Module::Current()) {
    sim::SetMessageBoxObserver([this](const sim::MessageBoxRecord& box) {
        json j{{"messagebox",
                {{"caption", AnsiToUtf8(box.caption)},
                 {"text", AnsiToUtf8(box.text)},
                 {"caption_big5", codepage::Convert(box.caption, 950, CP_UTF8)},
                 {"text_big5", codepage::Convert(box.text, 950, CP_UTF8)},
                 {"caption_bytes", Hex(box.caption)},
                 {"text_bytes", Hex(box.text)},
                 {"answer", box.answer}}}};
        if (addressed_) j["ctl"] = addressed_;
        Emit(j);
    });
    sim::SetDebugOutputObserver([this](const std::string& text) { Emit(json{{"debug", AnsiToUtf8(text)}}); });
}

JsonHost::~JsonHost() {
    while (!controls_.empty()) DestroyControl(controls_.begin()->first);
    sim::SetMessageBoxObserver(nullptr);
    sim::SetDebugOutputObserver(nullptr);
}

double JsonHost::Seconds() const { return static_cast<double>(sim::Now()) / sim::kSecond; }

void JsonHost::Emit(json j) {
    if (!j.contains("id")) j["t"] = Seconds();
    out_(j);
}

int JsonHost::CreateControl() {
    int number = nextNumber_++;
    Live& live = controls_[number];
    live.sink = std::make_unique<Sink>(*this, number);
    live.ctrl = std::make_unique<CMarluneCtrl>(module_);
    live.ctrl->Advise(live.sink.get());
    live.ctrl->CreateControlWindow(nullptr, RECT{0, 0, 100, 50});
    return number;
}

bool JsonHost::DestroyControl(int number) {
    auto it = controls_.find(number);
    if (it == controls_.end()) return false;
    // The destruction notice is answered by the message-box policy and
    // reported through the observer, with this control's number.
    int outer = addressed_;
    addressed_ = number;
    it->second.ctrl.reset();
    it->second.sink.reset();
    controls_.erase(it);
    addressed_ = outer;
    return true;
}

CMarluneCtrl* JsonHost::control() { return controls_.empty() ? nullptr : controls_.begin()->second.ctrl.get(); }

CMarluneCtrl* JsonHost::control(int number) {
    auto it = controls_.find(number);
    return it == controls_.end() ? nullptr : it->second.ctrl.get();
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
        if (it == HostCommands().end()) throw RequestError("unknown command: " + what.get<std::string>());
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
                size_t edits = Edits(key, name);
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

json JsonHost::Call(CMarluneCtrl& ctrl, const json& r) {
    std::string name;
    WORD flags = DISPATCH_METHOD;
    std::vector<json> given;
    if (r.contains("call")) {
        name = r["call"].get<std::string>();
        if (r.contains("args"))
            for (auto& a : r["args"]) given.push_back(a);
    } else if (r.contains("get")) {
        name = r["get"].get<std::string>();
        flags = DISPATCH_PROPERTYGET;
    } else {
        name = r["put"].get<std::string>();
        flags = DISPATCH_PROPERTYPUT;
        given.push_back(r["value"]);
    }
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT hr = automation::GetIDOfName(Utf16(name), &dispid);
    if (FAILED(hr)) return AutomationFailure(hr, "unknown name: " + name);
    const MemberInfo& m = *automation::FindMember(dispid);
    std::vector<Variant> args;
    for (auto& g : given) args.push_back(FromJson(g));

    Variant result;
    ExcepInfo excep;
    UINT argErr = 0;
    hr = automation::Invoke(ctrl, dispid, flags, args, &result, &excep, &argErr);
    switch (hr) {
        case S_OK: return json{{"result", ToJson(result)}};
        case DISP_E_EXCEPTION: {
            json f = AutomationFailure(hr, Utf8(excep.description));
            f["error"]["scode"] = HResultText(excep.scode);
            return f;
        }
        case DISP_E_BADPARAMCOUNT: {
            std::string names;
            for (auto& p : m.params) names += (names.empty() ? "" : ", ") + std::string(p.name);
            size_t wanted = m.kind == MemberKind::Property ? (flags & DISPATCH_PROPERTYPUT ? 1 : 0) : m.params.size();
            return AutomationFailure(hr, "wrong number of arguments for " + std::string(m.name) + ": it takes " +
                                             std::to_string(wanted) + (names.empty() ? "" : " (" + names + ")") +
                                             ", got " + std::to_string(args.size()));
        }
        case DISP_E_TYPEMISMATCH:
        case DISP_E_OVERFLOW: {
            ParamInfo p = automation::ParameterAt(m, args.size(), argErr);
            const json& bad = given[given.size() - 1 - argErr];
            std::string which = m.kind == MemberKind::Property ? "the value of " + std::string(m.name)
                                                                : "parameter " + std::string(p.name) + " of " + m.name;
            std::string message =
                hr == DISP_E_OVERFLOW
                    ? "overflow: " + which + " is a long (-2147483648 to 2147483647), got " + Shown(bad)
                    : "type mismatch: " + which + " is " + Wanted(p.type) + ", got " + Shown(bad);
            json f = AutomationFailure(hr, message);
            f["error"]["argErr"] = argErr;
            return f;
        }
        case DISP_E_MEMBERNOTFOUND:
            return AutomationFailure(hr, std::string(m.name) + (m.kind == MemberKind::Property
                                                                    ? " is a property: use \"get\" or \"put\""
                                                                    : " is a method: use \"call\""));
        default: return AutomationFailure(hr, "cannot invoke " + name);
    }
}

void JsonHost::HandleLine(const std::string& line) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) return;
    json request;
    try {
        request = json::parse(line);
    } catch (const json::parse_error& e) {
        json answer = Failure("request", "bad JSON at byte " + std::to_string(e.byte));
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
            answer = Call(*control(ctl), request);
        } else if (request.contains("run")) {
            sim::RunFor(static_cast<sim::Micros>(request["run"].get<double>() * sim::kSecond));
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
            HostContext ctx{module_, ctl ? control(ctl) : nullptr, [this](const json& j) { Emit(j); }};
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

int RunHost(bool realTime, bool sound) {
    sim::SetRealTime(realTime);
    SetUpSoundCard(sound);
    {
        JsonHost host([](const json& j) {
            std::cout << j.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
            std::cout.flush();
        });
        host.CreateControl();
        std::string line;
        while (std::getline(std::cin, line)) host.HandleLine(line);
    }
    FinishSoundCard();
    return 0;
}
