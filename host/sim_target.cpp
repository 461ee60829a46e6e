// The Linux target of the JSON host: the control in this process, called
// through its automation table, on the platform layer's clock, with message
// boxes and debug texts reported through the platform's observers.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>

#include "control/front/automation.h"
#include "control/front/marlune_ctrl.h"
#include "host/json_host.h"
#include "host/paths.h"
#include "host/sound_card.h"
#include "platform/code_page.h"
#include "platform/sim/sim.h"
#include "platform/sim/wave_devices.h"

using nlohmann::json;

namespace {

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

HostType TypeOf(ParamType t) {
    switch (t) {
        case ParamType::Long: return HostType::Long;
        case ParamType::Bool: return HostType::Bool;
        case ParamType::String: return HostType::String;
        case ParamType::Void: return HostType::Other;
    }
    return HostType::Other;
}

class Sink : public IEventSink {
public:
    Sink(const HostTarget::EventOut& out, int number) : out_(out), number_(number) {}
    HRESULT Invoke(DISPID dispid, const std::vector<Variant>& args) override {
        const EventInfo* e = automation::FindEvent(dispid);
        json a = json::array();
        for (auto& v : args) a.push_back(ToJson(v));
        out_(number_, e ? e->name : std::to_string(dispid), a);
        return S_OK;
    }

private:
    const HostTarget::EventOut& out_;
    int number_;
};

class SimTarget : public HostTarget {
public:
    SimTarget() : module_(Module::Current()) {}
    ~SimTarget() override {
        controls_.clear();
        sim::SetMessageBoxObserver(nullptr);
        sim::SetDebugOutputObserver(nullptr);
    }

    void Connect(EventOut events, NoticeOut notices) override {
        events_ = std::move(events);
        notices_ = std::move(notices);
        sim::SetMessageBoxObserver([this](const sim::MessageBoxRecord& box) {
            notices_(MessageBoxNotice(box.caption, box.text, box.answer));
        });
        sim::SetDebugOutputObserver([this](const std::string& text) { notices_(json{{"debug", AnsiToUtf8(text)}}); });
    }

    void Create(int number) override {
        Live& live = controls_[number];
        live.sink = std::make_unique<Sink>(events_, number);
        live.ctrl = std::make_unique<CMarluneCtrl>(module_);
        live.ctrl->Advise(live.sink.get());
        live.ctrl->CreateControlWindow(nullptr, RECT{0, 0, 100, 50});
    }

    void Destroy(int number) override {
        auto it = controls_.find(number);
        if (it == controls_.end()) return;
        it->second.ctrl.reset();
        it->second.sink.reset();
        controls_.erase(it);
    }

    MemberCall Call(int number, const std::string& name, CallKind kind, const std::vector<json>& given) override {
        MemberCall m;
        DISPID dispid = DISPID_UNKNOWN;
        m.hr = automation::GetIDOfName(Utf16(name), &dispid);
        if (FAILED(m.hr)) return m;
        m.found = true;
        const MemberInfo& info = *automation::FindMember(dispid);
        m.member = info.name;
        m.property = info.kind == MemberKind::Property;
        m.type = TypeOf(info.result);
        for (auto& p : info.params) m.params.push_back(HostParam{p.name, TypeOf(p.type)});

        std::vector<Variant> args;
        for (auto& g : given) args.push_back(FromJson(g));
        WORD flags = kind == CallKind::Method ? DISPATCH_METHOD
                     : kind == CallKind::Get  ? DISPATCH_PROPERTYGET
                                              : DISPATCH_PROPERTYPUT;
        Variant result;
        ExcepInfo excep;
        UINT argErr = 0;
        m.hr = automation::Invoke(*controls_.at(number).ctrl, dispid, flags, args, &result, &excep, &argErr);
        m.result = ToJson(result);
        m.description = Utf8(excep.description);
        m.scode = excep.scode;
        m.argErr = argErr;
        return m;
    }

    double Seconds() const override { return static_cast<double>(sim::Now()) / sim::kSecond; }
    void RunFor(double seconds) override { sim::RunFor(static_cast<sim::Micros>(seconds * sim::kSecond)); }

private:
    struct Live {
        std::unique_ptr<Sink> sink;
        std::unique_ptr<CMarluneCtrl> ctrl;
    };
    Module& module_;
    EventOut events_;
    NoticeOut notices_;
    std::map<int, Live> controls_;
};

}  // namespace

std::unique_ptr<HostTarget> MakeHostTarget() { return std::make_unique<SimTarget>(); }

void HostAfter(double seconds, std::function<void()> action) {
    sim::ScheduleAfter(static_cast<sim::Micros>(seconds * sim::kSecond), std::move(action));
}

bool HostCallerVoice(const std::string& wavPath) { return sim::SetInputWav(sim::kLineDevice, wavPath, false); }

int RunHost(bool realTime, bool sound) {
    // The control reads the voice pack from its working folder: linked
    // there while the host runs, as `marlune run` does.
    paths::VoicePackLinks links;
    std::string packMessage;
    if (!links.Make(paths::Cwd(), &packMessage))
        fprintf(stderr, "marlune host: %s; PlayStr will not find its sounds\n", packMessage.c_str());
    sim::SetRealTime(realTime);
    SetUpSoundCard(sound);
    {
        JsonHost host([](const json& j) {
            std::cout << j.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
            std::cout.flush();
        });
        host.CreateControl();
        ServeLines(host);
    }
    FinishSoundCard();
    return 0;
}
