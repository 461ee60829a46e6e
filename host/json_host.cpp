#include "host/json_host.h"

#include <cstdio>
#include <iostream>
#include <sstream>

#include "control/automation.h"
#include "platform/sim/sim.h"

using nlohmann::json;

// ---- text at the edge -------------------------------------------------------

namespace {

std::string Utf16ToUtf8(const std::u16string& w) {
    if (w.empty()) return std::string();
    auto src = reinterpret_cast<LPCWSTR>(w.data());
    int m = WideCharToMultiByte(CP_UTF8, 0, src, static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(m), '\0');
    WideCharToMultiByte(CP_UTF8, 0, src, static_cast<int>(w.size()), out.data(), m, nullptr, nullptr);
    return out;
}

std::u16string Utf8ToUtf16(const std::string& s) {
    if (s.empty()) return std::u16string();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::u16string out(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), reinterpret_cast<LPWSTR>(out.data()), n);
    return out;
}

json ToJson(const Variant& v) {
    switch (v.vt) {
        case VarType::I4: return v.lVal;
        case VarType::Bool: return v.lVal != 0;
        case VarType::BStr: return Utf16ToUtf8(v.bstrVal);
        case VarType::Empty: return nullptr;
    }
    return nullptr;
}

bool FromJson(const json& j, Variant& out) {
    if (j.is_boolean()) {
        out = Variant::Bool(j.get<bool>());
    } else if (j.is_number_integer()) {
        long long v = j.get<long long>();
        if (v < INT32_MIN || v > UINT32_MAX) return false;
        out = Variant::Long(static_cast<LONG>(static_cast<uint32_t>(v)));
    } else if (j.is_string()) {
        out = Variant::String(Utf8ToUtf16(j.get<std::string>()));
    } else {
        return false;
    }
    return true;
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string HResultText(HRESULT hr) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

}  // namespace

std::string Utf8ToAnsi(const std::string& utf8) { return sim::ConvertCodePage(utf8, CP_UTF8, CP_ACP); }
std::string AnsiToUtf8(const std::string& ansi) { return sim::ConvertCodePage(ansi, CP_ACP, CP_UTF8); }

std::map<std::string, HostCommandInfo>& HostCommands() {
    static std::map<std::string, HostCommandInfo> commands;
    return commands;
}

const json& Field(const json& request, const char* name) {
    auto it = request.find(name);
    if (it == request.end()) throw HostCommandError(std::string("missing field \"") + name + "\"");
    return *it;
}

// The answer every later message box gets (OK unless the host says so).
HostCommandRegistrar gMessageBoxAnswer(
    "messagebox_answer", "{\"answer\":\"ok\"|\"cancel\"|\"yes\"|\"no\"|N}: how later message boxes are answered",
    [](HostContext&, const json& request) -> json {
        const json& a = Field(request, "answer");
        int answer = IDOK;
        if (a.is_number_integer()) {
            answer = a.get<int>();
        } else if (a.is_string()) {
            static const std::map<std::string, int> names{{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}};
            auto it = names.find(a.get<std::string>());
            if (it == names.end()) throw HostCommandError("\"answer\" is ok, cancel, yes, no or a number");
            answer = it->second;
        } else {
            throw HostCommandError("\"answer\" is ok, cancel, yes, no or a number");
        }
        sim::SetMessageBoxPolicy([answer](const sim::MessageBoxRecord&) { return answer; });
        return answer;
    });

// ---- host -------------------------------------------------------------------

class JsonHost::Sink : public IEventSink {
public:
    explicit Sink(JsonHost& host) : host_(host) {}
    HRESULT Invoke(DISPID dispid, const std::vector<Variant>& args) override {
        const EventInfo* e = automation::FindEvent(dispid);
        json a = json::array();
        for (auto& v : args) a.push_back(ToJson(v));
        host_.Emit(json{{"event", e ? e->name : std::to_string(dispid)}, {"args", a}});
        return S_OK;
    }

private:
    JsonHost& host_;
};

JsonHost::JsonHost(Output out) : out_(std::move(out)), module_(Module::Current()) {
    sim::SetMessageBoxObserver([this](const sim::MessageBoxRecord& box) {
        Emit(json{{"messagebox",
                   {{"caption", AnsiToUtf8(box.caption)},
                    {"text", AnsiToUtf8(box.text)},
                    {"caption_big5", sim::ConvertCodePage(box.caption, 950, CP_UTF8)},
                    {"text_big5", sim::ConvertCodePage(box.text, 950, CP_UTF8)},
                    {"caption_bytes", Hex(box.caption)},
                    {"text_bytes", Hex(box.text)},
                    {"answer", box.answer}}}});
    });
    sim::SetDebugOutputObserver([this](const std::string& text) { Emit(json{{"debug", AnsiToUtf8(text)}}); });
}

JsonHost::~JsonHost() {
    DestroyControl();
    sim::SetMessageBoxObserver(nullptr);
    sim::SetDebugOutputObserver(nullptr);
}

double JsonHost::Seconds() const { return static_cast<double>(sim::Now()) / sim::kSecond; }

void JsonHost::Emit(json j) {
    if (!j.contains("id")) j["t"] = Seconds();
    out_(j);
}

void JsonHost::CreateControl() {
    if (ctrl_) return;
    ctrl_ = std::make_unique<CMarluneCtrl>(module_);
    sink_ = std::make_unique<Sink>(*this);
    ctrl_->Advise(sink_.get());
    ctrl_->CreateControlWindow(nullptr, RECT{0, 0, 100, 50});
}

void JsonHost::DestroyControl() {
    // The destruction notice is answered (OK) by the message-box policy and
    // reported through the observer.
    ctrl_.reset();
    sink_.reset();
}

json JsonHost::Error(HRESULT hr, const std::string& description) const {
    return json{{"hresult", HResultText(hr)}, {"description", description}};
}

json JsonHost::Call(const json& request) {
    if (!ctrl_) return json{{"error", Error(E_UNEXPECTED, "no control: send {\"control\":\"create\"}")}};
    std::string name;
    WORD flags = DISPATCH_METHOD;
    std::vector<Variant> args;
    if (request.contains("call")) {
        name = request["call"].get<std::string>();
        if (request.contains("args")) {
            if (!request["args"].is_array()) return json{{"error", Error(E_INVALIDARG, "\"args\" must be an array")}};
            for (auto& a : request["args"]) {
                Variant v;
                if (!FromJson(a, v))
                    return json{{"error", Error(DISP_E_TYPEMISMATCH, "arguments are numbers, booleans or strings")}};
                args.push_back(v);
            }
        }
    } else if (request.contains("get")) {
        name = request["get"].get<std::string>();
        flags = DISPATCH_PROPERTYGET;
    } else {
        name = request["put"].get<std::string>();
        flags = DISPATCH_PROPERTYPUT;
        Variant v;
        if (!request.contains("value") || !FromJson(request["value"], v))
            return json{{"error", Error(DISP_E_TYPEMISMATCH, "\"value\" must be a number, boolean or string")}};
        args.push_back(v);
    }
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT hr = automation::GetIDOfName(Utf8ToUtf16(name), &dispid);
    if (FAILED(hr)) return json{{"error", Error(hr, "unknown name: " + name)}};
    Variant result;
    ExcepInfo excep;
    UINT argErr = 0;
    hr = automation::Invoke(*ctrl_, dispid, flags, args, &result, &excep, &argErr);
    switch (hr) {
        case S_OK: return json{{"result", ToJson(result)}};
        case DISP_E_EXCEPTION: {
            json e = Error(hr, Utf16ToUtf8(excep.description));
            e["scode"] = HResultText(excep.scode);
            return json{{"error", e}};
        }
        case DISP_E_BADPARAMCOUNT: return json{{"error", Error(hr, "wrong number of arguments for " + name)}};
        case DISP_E_TYPEMISMATCH: {
            json e = Error(hr, "type mismatch for " + name);
            e["argErr"] = argErr;
            return json{{"error", e}};
        }
        default: return json{{"error", Error(hr, "cannot invoke " + name)}};
    }
}

void JsonHost::HandleLine(const std::string& line) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) return;
    json request;
    try {
        request = json::parse(line);
    } catch (const json::exception& e) {
        Emit(json{{"id", nullptr}, {"error", Error(E_INVALIDARG, std::string("bad JSON: ") + e.what())}});
        return;
    }
    Handle(request);
}

void JsonHost::Handle(const json& request) {
    json id = request.is_object() && request.contains("id") ? request["id"] : json(nullptr);
    json answer;
    try {
        if (!request.is_object()) throw HostCommandError("a request is a JSON object");
        if (request.contains("call") || request.contains("get") || request.contains("put")) {
            answer = Call(request);
        } else if (request.contains("run")) {
            const json& r = request["run"];
            if (!r.is_number() || r.get<double>() < 0) throw HostCommandError("\"run\" takes a number of seconds >= 0");
            sim::RunFor(static_cast<sim::Micros>(r.get<double>() * sim::kSecond));
            answer = json{{"result", {{"t", Seconds()}}}};
        } else if (request.contains("control")) {
            std::string what = request["control"].get<std::string>();
            if (what == "create") {
                CreateControl();
                answer = json{{"result", "created"}};
            } else if (what == "destroy") {
                DestroyControl();
                answer = json{{"result", "destroyed"}};
            } else {
                throw HostCommandError("\"control\" is \"create\" or \"destroy\"");
            }
        } else if (request.contains("cmd")) {
            std::string name = request["cmd"].get<std::string>();
            auto it = HostCommands().find(name);
            if (it == HostCommands().end()) throw HostCommandError("unknown command: " + name);
            HostContext ctx{module_, ctrl_.get(), [this](const json& j) { Emit(j); }};
            answer = json{{"result", it->second.run(ctx, request)}};
        } else {
            throw HostCommandError("a request has \"call\", \"get\", \"put\", \"run\", \"control\" or \"cmd\"");
        }
    } catch (const HostCommandError& e) {
        answer = json{{"error", {{"message", e.what()}}}};
    } catch (const json::exception& e) {
        answer = json{{"error", {{"message", std::string("bad request: ") + e.what()}}}};
    }
    answer["id"] = id;
    out_(answer);
}

// ---- entry points -----------------------------------------------------------

int RunHost(bool realTime) {
    sim::SetRealTime(realTime);
    JsonHost host([](const json& j) {
        std::cout << j.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
        std::cout.flush();
    });
    host.CreateControl();
    std::string line;
    while (std::getline(std::cin, line)) host.HandleLine(line);
    return 0;
}
