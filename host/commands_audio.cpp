// Host commands for the virtual wave devices: what the caller says into the
// line, what the sound card hears, the devices' formats and faults, and
// where each device's tap is written.
#include <algorithm>
#include <string>
#include <vector>

#include "host/caller_side.h"
#include "host/host_commands.h"
#include "platform/sim/kernel_faults.h"
#include "platform/sim/wave_devices.h"

using nlohmann::json;

namespace {

UINT Device(const json& request, UINT fallback) {
    auto d = request.value("device", uint64_t{fallback});
    if (d >= sim::kWaveDeviceCount) throw HostCommandError("device must be 0 (sound card) or 1 (line)");
    return static_cast<UINT>(d);
}

bool Output(const json& request) {
    std::string dir = request.value("direction", std::string("out"));
    if (dir != "out" && dir != "in") throw HostCommandError("direction must be \"out\" or \"in\"");
    return dir == "out";
}

WORD Tag(const json& j) {
    if (j.is_number_unsigned() && j.get<uint64_t>() <= 0xFFFF) return j.get<WORD>();
    std::string t = j.is_string() ? j.get<std::string>() : std::string();
    if (t == "pcm") return WAVE_FORMAT_PCM;
    if (t == "mulaw") return WAVE_FORMAT_MULAW;
    throw HostRequestError("tag must be \"pcm\", \"mulaw\" or a number");
}

// One entry of "formats": {"tag":..,"channels":..,"rate":..,"bits":..}.
sim::WaveFormatSpec FormatOf(const json& f) {
    static const char* const kFields[] = {"tag", "channels", "rate", "bits"};
    if (!f.is_object()) throw HostRequestError("each of \"formats\" is an object {\"tag\",\"channels\",\"rate\",\"bits\"}");
    for (auto& [key, value] : f.items()) {
        if (std::find(std::begin(kFields), std::end(kFields), key) == std::end(kFields))
            throw HostRequestError("unknown field \"" + key + "\" in a format of \"formats\"");
        if (key != "tag" && !(value.is_number_unsigned() && value.get<uint64_t>() <= (key == "rate" ? 0xFFFFFFFFu : 0xFFFFu)))
            throw HostRequestError("\"" + key + "\" of a format is a whole number, not " + value.dump());
    }
    sim::WaveFormatSpec s;
    s.tag = Tag(f.value("tag", json("pcm")));
    s.channels = f.value("channels", WORD{1});
    s.rate = f.value("rate", DWORD{8000});
    s.bits = f.value("bits", static_cast<WORD>(s.tag == WAVE_FORMAT_PCM ? 16 : 8));
    return s;
}

json FormatsJson(const std::vector<sim::WaveFormatSpec>& formats) {
    json a = json::array();
    for (auto& f : formats) {
        json tag = f.tag == WAVE_FORMAT_PCM ? json("pcm") : f.tag == WAVE_FORMAT_MULAW ? json("mulaw") : json(f.tag);
        a.push_back({{"tag", tag}, {"channels", f.channels}, {"rate", f.rate}, {"bits", f.bits}});
    }
    return a;
}

json TapJson(UINT device) {
    return {{"device", device},
            {"path", sim::TapPath(device)},
            {"rate", sim::TapRate(device)},
            {"seconds", static_cast<double>(sim::TapLength(device)) / sim::TapRate(device)}};
}

HostCommandRegistrar callerVoice(
    "caller_voice", R"({"cmd":"caller_voice","wav":"answer.wav"}: the caller starts saying this into the line now)",
    {{"wav", FieldKind::String, true}},
    [](HostContext&, const json& request) -> json {
        Caller().Voice(Utf8ToAnsi(Field(request, "wav").get<std::string>()));
        return {{"device", sim::kLineDevice}};
    });

HostCommandRegistrar soundCardInput(
    "sound_card_input",
    R"({"cmd":"sound_card_input","wav":"mic.wav"|null,"from":"record"|"now"}: what the sound card's input hears)",
    {{"wav", FieldKind::StringOrNull, true}, {"from", FieldKind::String}},
    [](HostContext&, const json& request) -> json {
        const json& wav = Field(request, "wav");
        if (wav.is_null()) {
            sim::ClearInput(sim::kSoundCardDevice);
            return {{"silence", true}};
        }
        bool atRecord = request.value("from", std::string("record")) == "record";
        if (!sim::SetInputWav(sim::kSoundCardDevice, Utf8ToAnsi(wav.get<std::string>()), atRecord))
            throw HostCommandError("cannot read the WAV file " + wav.get<std::string>());
        return {{"silence", false}, {"from", atRecord ? "record" : "now"}};
    });

HostCommandRegistrar waveFormats(
    "wave_formats",
    R"({"cmd":"wave_formats","direction":"out","device":1,"formats":[{"tag":"mulaw","rate":8000,"bits":8}]}: a device's native formats (without "formats": read them))",
    {{"direction", FieldKind::String}, {"device", FieldKind::Count}, {"formats", FieldKind::Array}},
    [](HostContext&, const json& request) -> json {
        bool out = Output(request);
        UINT device = Device(request, sim::kLineDevice);
        if (request.contains("formats")) {
            std::vector<sim::WaveFormatSpec> formats;
            for (auto& f : request["formats"]) formats.push_back(FormatOf(f));
            sim::SetDeviceFormats(out, device, formats);
        }
        return FormatsJson(sim::DeviceFormats(out, device));
    });

HostCommandRegistrar waveDevice(
    "wave_device", R"({"cmd":"wave_device","direction":"in","device":1,"present":false}: remove or restore a device)",
    {{"direction", FieldKind::String}, {"device", FieldKind::Count}, {"present", FieldKind::Bool, true}},
    [](HostContext&, const json& request) -> json {
        bool out = Output(request);
        UINT device = Device(request, sim::kLineDevice);
        bool present = Field(request, "present").get<bool>();
        sim::SetDevicePresent(out, device, present);
        return {{"present", present}};
    });

HostCommandRegistrar waveFault(
    "wave_fault",
    R"({"cmd":"wave_fault","function":"waveOutOpen","result":4,"count":1,"device":1} or {"cmd":"wave_fault","clear":true})",
    {{"clear", FieldKind::Bool}, {"function", FieldKind::String}, {"result", FieldKind::Count},
     {"count", FieldKind::Int}, {"device", FieldKind::Int}},
    [](HostContext&, const json& request) -> json {
        if (request.value("clear", false)) {
            sim::ClearWaveFaults();
            return {{"cleared", true}};
        }
        std::string fn = Field(request, "function").get<std::string>();
        MMRESULT result = Field(request, "result").get<MMRESULT>();
        sim::FailWave(fn, result, request.value("count", 1), request.value("device", sim::kAnyDevice));
        return {{"function", fn}, {"result", result}};
    });

HostCommandRegistrar fileFault(
    "file_fault",
    R"({"cmd":"file_fault","function":"CreateFileA"|"WriteFile"|"GlobalAlloc"|"mmioOpen"|"mmioRead"|...,"count":1})",
    {{"function", FieldKind::String, true}, {"count", FieldKind::Int}},
    [](HostContext&, const json& request) -> json {
        std::string fn = Field(request, "function").get<std::string>();
        int count = request.value("count", 1);
        if (fn.rfind("mmio", 0) == 0)
            sim::FailMmio(fn, count);
        else
            sim::FailKernel(fn, count);
        return {{"function", fn}, {"count", count}};
    });

HostCommandRegistrar tap(
    "tap",
    R"({"cmd":"tap","device":1,"path":"line.wav"}: where a device's tap is written (on each close); without "path": write it now)",
    {{"device", FieldKind::Count}, {"path", FieldKind::String}},
    [](HostContext&, const json& request) -> json {
        UINT device = Device(request, sim::kLineDevice);
        if (request.contains("path")) {
            if (!sim::SetTapPath(device, Utf8ToAnsi(request["path"].get<std::string>())))
                throw HostCommandError("cannot create the tap file " + request["path"].get<std::string>());
        } else if (sim::TapPath(device).empty()) {
            throw HostCommandError("no path set for this device's tap");
        } else {
            sim::WriteTaps();
        }
        return TapJson(device);
    });

}  // namespace
