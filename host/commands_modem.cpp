// Host commands for the caller's side of the line: offer a call, ring, send
// the caller id, press keys, hang up, answer or refuse an outgoing call (on
// either far end, host/caller_side.h), and configure or break the virtual
// voice modem.
#include <cstdlib>
#include <string>

#include "host/caller_side.h"
#include "host/host_commands.h"
#include "host/host_target.h"
#include "peers/virtual_modem/virtual_modem.h"

using nlohmann::json;

namespace {

uint32_t DeviceOf(const json& r) { return r.value("device", 0u); }

// A command answering the modem's status code: 0 (or more) is success.
json Checked(int code, const char* what) {
    if (code < 0) throw HostCommandError(std::string(what));
    return code;
}

std::string Text(const json& r, const char* name) { return Utf8ToAnsi(Field(r, name).get<std::string>()); }

class VirtualModem : public CallerSide {
public:
    json Offer(uint32_t device, const std::optional<std::string>& callerId) override {
        std::string caller = callerId ? Utf8ToAnsi(*callerId) : std::string();
        uint32_t call = vmodem_Offer(device, callerId ? caller.c_str() : nullptr);
        if (!call) throw HostCommandError("no open line on that device, or a call is already on it");
        return json{{"hCall", call}};
    }
    json Ring(uint32_t device, int64_t count, double interval) override {
        int first = vmodem_Ring(device);
        if (first < 0) throw HostCommandError("no offered call to ring");
        for (int64_t i = 1; i < count; ++i)
            HostAfter(interval * static_cast<double>(i), [device] { vmodem_Ring(device); });
        return json{{"ring", first}};
    }
    json CallerId(uint32_t device, const std::string& callerId) override {
        std::string caller = Utf8ToAnsi(callerId);
        return Checked(vmodem_SendCallerId(device, caller.c_str()), "no incoming call");
    }
    json Keys(uint32_t device, const std::string& keys, double interval) override {
        if (interval <= 0) return Checked(vmodem_PressKeys(device, keys.c_str()), "no connected call, or a bad key");
        for (size_t i = 0; i < keys.size(); ++i) {
            std::string key(1, keys[i]);
            HostAfter(interval * static_cast<double>(i), [device, key] { vmodem_PressKeys(device, key.c_str()); });
        }
        return 0;
    }
    json HangUp(uint32_t device, const std::string&) override {
        return Checked(vmodem_HangUp(device), "no call to hang up");
    }
    json Outgoing(uint32_t device, const std::string& mode, double after) override {
        int behaviour = mode == "manual"   ? VMODEM_OUTGOING_MANUAL
                        : mode == "busy"     ? VMODEM_OUTGOING_BUSY
                        : mode == "noanswer" ? VMODEM_OUTGOING_NOANSWER
                                             : VMODEM_OUTGOING_ANSWER;
        return Checked(vmodem_SetOutgoing(device, behaviour, static_cast<uint32_t>(after * 1000)), "no such device");
    }
    json AnswerOutgoing(uint32_t device) override {
        return Checked(vmodem_AnswerOutgoing(device), "no outgoing call ringing");
    }
    json RefuseOutgoing(uint32_t device, bool busy) override {
        return Checked(busy ? vmodem_BusyOutgoing(device) : vmodem_RejectOutgoing(device), "no outgoing call ringing");
    }
    void Voice(const std::string& wavPath) override {
        if (!HostCallerVoice(wavPath))
            throw HostCommandError("cannot read the WAV file " + AnsiToUtf8(wavPath));
    }
    bool Virtual() const override { return true; }
};

// A command that configures or breaks the virtual modem itself.
void RequireVirtual() {
    if (!Caller().Virtual()) throw HostCommandError("only the virtual modem has this command");
}


const HostCommandRegistrar kOffer(
    "offer", R"({"cmd":"offer","caller":"5551234"} -- an incoming call; omit "caller" for none)",
    {{"device", FieldKind::Count}, {"caller", FieldKind::String}},
    [](HostContext&, const json& r) -> json {
        std::optional<std::string> caller;
        if (r.contains("caller")) caller = r["caller"].get<std::string>();
        return Caller().Offer(DeviceOf(r), caller);
    });

const HostCommandRegistrar kRing(
    "ring", R"({"cmd":"ring","count":3,"interval":4} -- rings of the offered call, "interval" seconds apart)",
    {{"device", FieldKind::Count}, {"count", FieldKind::Count}, {"interval", FieldKind::Seconds}},
    [](HostContext&, const json& r) -> json {
        int64_t count = r.value("count", int64_t{1});
        if (count > 1000) throw HostCommandError("\"count\" is at most 1000 rings");
        return Caller().Ring(DeviceOf(r), count, r.value("interval", 4.0));
    });

const HostCommandRegistrar kCallerId("callerid", R"({"cmd":"callerid","caller":"5551234"} -- caller id now)",
                                     {{"device", FieldKind::Count}, {"caller", FieldKind::String, true}},
    [](HostContext&, const json& r) -> json {
                                         return Caller().CallerId(DeviceOf(r), Field(r, "caller").get<std::string>());
                                     });

const HostCommandRegistrar kKeys(
    "keys", R"({"cmd":"keys","keys":"1#","interval":0.5} -- DTMF keys pressed by the caller)",
    {{"device", FieldKind::Count}, {"keys", FieldKind::String, true}, {"interval", FieldKind::Seconds}},
    [](HostContext&, const json& r) -> json {
        return Caller().Keys(DeviceOf(r), Field(r, "keys").get<std::string>(), r.value("interval", 0.0));
    });

const HostCommandRegistrar kPulse("pulse", R"({"cmd":"pulse","digits":"42"} -- digits dialled by pulse)",
                                  {{"device", FieldKind::Count}, {"digits", FieldKind::String, true}},
    [](HostContext&, const json& r) -> json {
                                      RequireVirtual();
                                      std::string digits = Field(r, "digits").get<std::string>();
                                      return Checked(vmodem_PulseDigits(DeviceOf(r), digits.c_str()),
                                                     "no connected call, or a bad digit");
                                  });

const HostCommandRegistrar kHangUp(
    "hangup", R"({"cmd":"hangup","how":"busy"} -- the caller hangs up; "how" (modem simulator): busy|silence|dialtone|nocarrier)",
    {{"device", FieldKind::Count}, {"how", FieldKind::String}},
    [](HostContext&, const json& r) -> json {
        std::string how = r.value("how", std::string("busy"));
        if (how != "busy" && how != "silence" && how != "dialtone" && how != "nocarrier")
            throw HostCommandError("how is busy, silence, dialtone or nocarrier");
        return Caller().HangUp(DeviceOf(r), how);
    });

const HostCommandRegistrar kAnswer("answer", R"({"cmd":"answer"} -- the called party answers the outgoing call)",
                                   {{"device", FieldKind::Count}},
    [](HostContext&, const json& r) -> json { return Caller().AnswerOutgoing(DeviceOf(r)); });

const HostCommandRegistrar kReject("reject", R"({"cmd":"reject"} -- the outgoing call is not answered)",
                                   {{"device", FieldKind::Count}},
    [](HostContext&, const json& r) -> json { return Caller().RefuseOutgoing(DeviceOf(r), false); });

const HostCommandRegistrar kBusy("busy", R"({"cmd":"busy"} -- the called party is busy)",
                                 {{"device", FieldKind::Count}},
    [](HostContext&, const json& r) -> json { return Caller().RefuseOutgoing(DeviceOf(r), true); });

const HostCommandRegistrar kOutgoing(
    "outgoing", R"({"cmd":"outgoing","mode":"answer","after":5} -- later outgoing calls: manual|answer|busy|noanswer)",
    {{"device", FieldKind::Count}, {"mode", FieldKind::String, true}, {"after", FieldKind::Seconds}},
    [](HostContext&, const json& r) -> json {
        std::string mode = Field(r, "mode").get<std::string>();
        if (mode != "manual" && mode != "answer" && mode != "busy" && mode != "noanswer")
            throw HostCommandError("mode is manual, answer, busy or noanswer");
        return Caller().Outgoing(DeviceOf(r), mode, r.value("after", 5.0));
    });
const HostCommandRegistrar kCloseLine("close_line", R"({"cmd":"close_line"} -- the provider closes the open line)",
                                      {{"device", FieldKind::Count}},
    [](HostContext&, const json& r) -> json {
        RequireVirtual();
                                          return Checked(vmodem_CloseLine(DeviceOf(r)), "no open line");
                                      });

const HostCommandRegistrar kAddDevice(
    "add_device", R"({"cmd":"add_device","name":"Fax","low":65539,"high":131074} -- another line device)",
    {{"name", FieldKind::String, true}, {"low", FieldKind::Count}, {"high", FieldKind::Count}},
    [](HostContext&, const json& r) -> json {
        RequireVirtual();
        std::string name = Text(r, "name");
        return json{{"device", vmodem_AddDevice(name.c_str(), r.value("low", 0x00010003u), r.value("high", 0x00020002u))}};
    });

const HostCommandRegistrar kDevice(
    "device", R"({"cmd":"device","device":0,"name":"...","wave_out":1,"wave_in":1,"line_connect":false})",
    {{"device", FieldKind::Count}, {"name", FieldKind::String}, {"low", FieldKind::Count}, {"high", FieldKind::Count}, {"wave_out", FieldKind::Count}, {"wave_in", FieldKind::Count}, {"line_connect", FieldKind::Bool}},
    [](HostContext&, const json& r) -> json {
        RequireVirtual();
        uint32_t device = DeviceOf(r);
        if (device >= vmodem_DeviceCount()) throw HostCommandError("no such device");
        if (r.contains("low") != r.contains("high")) throw HostCommandError("\"low\" and \"high\" go together");
        if (r.contains("name")) vmodem_SetDeviceName(device, Text(r, "name").c_str());
        if (r.contains("low") || r.contains("high"))
            vmodem_SetDeviceVersions(device, Field(r, "low").get<uint32_t>(), Field(r, "high").get<uint32_t>());
        if (r.contains("wave_out") || r.contains("wave_in"))
            vmodem_SetWaveIds(device, r.value("wave_out", 1u), r.value("wave_in", 1u));
        if (r.contains("line_connect")) vmodem_SetReportsLineConnect(device, r["line_connect"].get<bool>());
        return 0;
    });

const HostCommandRegistrar kLocations(
    "locations",
    R"({"cmd":"locations","list":[{"id":1,"name":"Home","country":1,"city":"425"}],"current":1} -- dialling locations)",
    {{"list", FieldKind::Array}, {"current", FieldKind::Count}},
    [](HostContext&, const json& r) -> json {
        RequireVirtual();
        // Every entry is checked before the list is replaced.
        if (r.contains("list"))
            for (auto& l : r["list"]) {
                if (!l.is_object()) throw HostCommandError("a location is an object {\"id\",\"name\",\"country\",\"city\"}");
                Field(l, "id").get<uint32_t>();
                Field(l, "country").get<uint32_t>();
                l.value("name", std::string());
                l.value("city", std::string());
            }
        if (r.contains("list")) {
            vmodem_ClearLocations();
            for (auto& l : r["list"]) {
                std::string name = Utf8ToAnsi(l.value("name", std::string()));
                std::string city = Utf8ToAnsi(l.value("city", std::string()));
                vmodem_AddLocation(Field(l, "id").get<uint32_t>(), name.c_str(), Field(l, "country").get<uint32_t>(),
                                   city.c_str());
            }
        }
        if (r.contains("current"))
            Checked(vmodem_SetCurrentLocation(r["current"].get<uint32_t>()), "no location with that id");
        return 0;
    });

const HostCommandRegistrar kRefuse(
    "refuse", R"({"cmd":"refuse","function":"lineOpenA","error":"0x80000048"} -- error 0 stops refusing)",
    {{"function", FieldKind::String, true}, {"error", FieldKind::CodeOrString, true}},
    [](HostContext&, const json& r) -> json {
        RequireVirtual();
        std::string function = Field(r, "function").get<std::string>();
        const json& e = Field(r, "error");
        int64_t code = 0;
        if (e.is_string()) {
            const std::string text = e.get<std::string>();
            char* end = nullptr;
            code = strtoll(text.c_str(), &end, 0);
            if (text.empty() || *end != '\0' || code < INT32_MIN || code > UINT32_MAX)
                throw HostCommandError("\"error\" is a number such as \"0x80000048\", not \"" + text + "\"");
        } else {
            code = e.get<int64_t>();
        }
        vmodem_Refuse(function.c_str(), static_cast<int32_t>(static_cast<uint32_t>(code)));
        return 0;
    });

const HostCommandRegistrar kHostile(
    "hostile", R"({"cmd":"hostile","kind":"offset"} -- records with bad offsets: none|offset|size|wrap|used|needed)",
    {{"kind", FieldKind::String, true}},
    [](HostContext&, const json& r) -> json {
        RequireVirtual();
        std::string kind = Field(r, "kind").get<std::string>();
        const char* kinds[] = {"none", "offset", "size", "wrap", "used", "needed"};
        for (int i = 0; i < 6; ++i)
            if (kind == kinds[i]) {
                vmodem_SetHostile(i);
                return 0;
            }
        throw HostCommandError("kind is none, offset, size, wrap, used or needed");
    });

#ifndef _WIN32
// The loader's hiding is the simulated platform's (the Windows host refuses it).
const HostCommandRegistrar kHideExport(
    "hide_export", R"({"cmd":"hide_export","function":"lineMonitorDigits","hidden":true} -- before its first use)",
    {{"function", FieldKind::String, true}, {"hidden", FieldKind::Bool}},
    [](HostContext&, const json& r) -> json {
        RequireVirtual();
        vmodem_HideExport(Field(r, "function").get<std::string>().c_str(), r.value("hidden", true));
        return 0;
    });

const HostCommandRegistrar kHideLibrary("hide_library",
                                        R"({"cmd":"hide_library","hidden":true} -- TAPI32.DLL cannot be loaded)",
                                        {{"hidden", FieldKind::Bool}},
    [](HostContext&, const json& r) -> json {
        RequireVirtual();
                                            vmodem_HideLibrary(r.value("hidden", true));
                                            return 0;
                                        });
#endif

const HostCommandRegistrar kModemState(
    "modem_state", R"({"cmd":"modem_state"} -- the open line, the current call and its state)",
    {{"device", FieldKind::Count}},
    [](HostContext&, const json& r) -> json {
        RequireVirtual();
        uint32_t device = DeviceOf(r);
        uint32_t call = vmodem_CurrentCall(device);
        return json{{"hLine", vmodem_OpenLine(device)},
                    {"hCall", call},
                    {"callState", vmodem_CallState(call)},
                    {"monitorModes", vmodem_MonitorModes(call)},
                    {"lastDialed", AnsiToUtf8(vmodem_LastDialed())}};
    });

}  // namespace

CallerSide& Caller() {
    static VirtualModem virtualModem;
    if (CallerSide* simulated = SimulatedModemSide()) return *simulated;
    return virtualModem;
}
