// Host commands for the far end of a data call: offer one or answer the
// control's outgoing calls as a data modem, read what arrived at the
// caller's end of the port, close the port from the provider's side, hang
// up part-way through a send, and inject write faults on the port.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "host/host_commands.h"
#include "peers/virtual_modem/data_call.h"
#include "platform/platform.h"
#include "platform/sim/comm_port.h"

using nlohmann::json;

namespace {

uint32_t DeviceOf(const json& r) { return r.value("device", uint32_t{0}); }

std::string Base64(const std::string& bytes) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += {digits[v >> 18], digits[(v >> 12) & 63], digits[(v >> 6) & 63], digits[v & 63]};
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += rest == 2 ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

const HostCommandRegistrar kDataOffer(
    "data_offer", R"({"cmd":"data_offer","caller":"5551234"} -- an incoming data call (media mode datamodem))",
    {{"device", FieldKind::Count}, {"caller", FieldKind::String}},
    [](HostContext&, const json& r) -> json {
        std::string caller = r.contains("caller") ? Utf8ToAnsi(r["caller"].get<std::string>()) : std::string();
        uint32_t call = vmodem_OfferData(DeviceOf(r), r.contains("caller") ? caller.c_str() : nullptr);
        if (!call) throw HostCommandError("no open line on that device, or a call is already on it");
        return json{{"hCall", call}, {"media", vmodem_CallMediaMode(call)}};
    });

const HostCommandRegistrar kDataOutgoing(
    "data_outgoing", R"({"cmd":"data_outgoing","media":"data"} -- later outgoing calls are answered as data|voice)",
    {{"device", FieldKind::Count}, {"media", FieldKind::String, true}},
    [](HostContext&, const json& r) -> json {
        std::string media = Field(r, "media").get<std::string>();
        if (media != "data" && media != "voice") throw HostCommandError("\"media\" is data or voice");
        DWORD mode = media == "data" ? LINEMEDIAMODE_DATAMODEM : LINEMEDIAMODE_AUTOMATEDVOICE;
        if (vmodem_SetOutgoingMedia(DeviceOf(r), mode) != 0) throw HostCommandError("no such device");
        return media;
    });

const HostCommandRegistrar kDataRead(
    "data_read",
    R"({"cmd":"data_read","encoding":"base64","max":65536} -- bytes that arrived at the caller's end (base64|hex))",
    {{"device", FieldKind::Count}, {"encoding", FieldKind::String}, {"max", FieldKind::Count}},
    [](HostContext&, const json& r) -> json {
        std::string encoding = r.value("encoding", "base64");
        if (encoding != "base64" && encoding != "hex") throw HostCommandError("\"encoding\" is base64 or hex");
        uint32_t device = DeviceOf(r);
        // No more than has arrived: a read never takes more, and "max" is
        // not an allocation size.
        size_t pending = vmodem_DataPending(device);
        size_t max = std::min<size_t>(r.value("max", pending), pending);
        std::string bytes(max, '\0');
        bytes.resize(vmodem_DataRead(device, bytes.data(), bytes.size()));
        return json{{"count", bytes.size()},
                    {encoding, encoding == "hex" ? Hex(bytes) : Base64(bytes)},
                    {"left", vmodem_DataPending(device)},
                    {"received", vmodem_DataReceived(device)}};
    });

const HostCommandRegistrar kDataCapture(
    "data_capture", R"({"cmd":"data_capture","path":"far_end.bin"} -- arriving bytes go to a file; null: kept)",
    {{"device", FieldKind::Count}, {"path", FieldKind::StringOrNull, true}},
    [](HostContext&, const json& r) -> json {
        const json& path = Field(r, "path");
        std::string p = path.is_null() ? std::string() : path.get<std::string>();
        if (vmodem_DataCapture(DeviceOf(r), path.is_null() ? nullptr : p.c_str()) != 0)
            throw HostCommandError("cannot open " + p);
        return path;
    });

const HostCommandRegistrar kDataClosePort(
    "data_close_port", R"({"cmd":"data_close_port"} -- the provider closes the data call's port)",
    {{"device", FieldKind::Count}},
    [](HostContext&, const json& r) -> json {
        if (vmodem_DataClosePort(DeviceOf(r)) != 0) throw HostCommandError("no data call with an open port");
        return 0;
    });

const HostCommandRegistrar kDataHangUpAfter(
    "data_hangup_after", R"({"cmd":"data_hangup_after","bytes":1000} -- the caller hangs up after so many bytes)",
    {{"device", FieldKind::Count}, {"bytes", FieldKind::Count, true}},
    [](HostContext&, const json& r) -> json {
        uint64_t bytes = Field(r, "bytes").get<uint64_t>();
        if (vmodem_DataHangUpAfter(DeviceOf(r), bytes) != 0) throw HostCommandError("no such device");
        return bytes;
    });

const HostCommandRegistrar kCommFault(
    "comm_fault",
    R"({"cmd":"comm_fault","kind":"partial","value":10,"count":1} -- next port writes: partial|pending|error|pending_error)",
    {{"clear", FieldKind::Bool}, {"kind", FieldKind::String}, {"value", FieldKind::Count}, {"count", FieldKind::Int}},
    [](HostContext&, const json& r) -> json {
        if (r.value("clear", false)) {
            sim::ClearCommFaults();
            return "cleared";
        }
        static const std::map<std::string, sim::CommFault> kinds{{"partial", sim::CommFault::Partial},
                                                                  {"pending", sim::CommFault::Pending},
                                                                  {"error", sim::CommFault::Error},
                                                                  {"pending_error", sim::CommFault::PendingError}};
        auto kind = kinds.find(Field(r, "kind").get<std::string>());
        if (kind == kinds.end()) throw HostCommandError("\"kind\" is partial, pending, error or pending_error");
        int count = r.value("count", 1);
        sim::InjectCommWrite(kind->second, Field(r, "value").get<DWORD>(), count);
        return count;
    });

}  // namespace
