#include "peers/modem_sim/sim_families.h"

#include "platform/sim/g711.h"

namespace modemsim {

// The families as their command references list them.
const Profile& ProfileOf(Family f) {
    static const Profile kHostSoft{"Marlune", "SimVoice 56K", "(7200,8000)",
                                   {{1, "UNSIGNED PCM", 8, Coding::Unsigned8},
                                    {128, "8-BIT LINEAR", 8, Coding::Signed8},
                                    {129, "ADPCM", 4, Coding::Adpcm},
                                    {130, "UNSIGNED PCM", 8, Coding::Unsigned8},
                                    {131, "ULAW", 8, Coding::MuLaw},
                                    {132, "ALAW", 8, Coding::ALaw},
                                    {133, "LINEAR", 16, Coding::Linear16}}};
    static const Profile kController{"Marlune", "SimVoice RC56", "(7200,8000,11025)",
                                     {{1, "UNSIGNED PCM", 8, Coding::Unsigned8},
                                      {129, "IMA ADPCM", 4, Coding::Adpcm},
                                      {130, "UNSIGNED PCM", 8, Coding::Unsigned8},
                                      {140, "2 Bit ADPCM", 2, Coding::Adpcm},
                                      {141, "4 Bit ADPCM", 4, Coding::Adpcm}}};
    static const Profile kALawLinear{"Marlune", "SimVoice 56K EU", "(8000)",
                                     {{128, "8-BIT LINEAR", 8, Coding::Signed8},
                                      {132, "ALAW", 8, Coding::ALaw},
                                      {133, "LINEAR", 16, Coding::Linear16}}};
    static const Profile kIntel{"Marlune", "SimVoice 537EP", "(4800,7200,8000,11025)",
                                {{0, "LIN1", 8, Coding::Signed8},
                                 {1, "LIN2", 16, Coding::Unsigned16},
                                 {2, "AD4", 4, Coding::Adpcm},
                                 {128, "LIN1", 8, Coding::Signed8},
                                 {129, "LIN2", 16, Coding::Unsigned16},
                                 {132, "AD4", 4, Coding::Adpcm},
                                 {140, "CL1", 8, Coding::ALaw},
                                 {141, "AD3", 3, Coding::Adpcm}},
                                140,
                                false,
                                true};
    switch (f) {
        case Family::Controller: return kController;
        case Family::ALawLinear: return kALawLinear;
        case Family::Intel: return kIntel;
        default: return kHostSoft;
    }
}

const Listed* FindMethod(Family f, int code) {
    for (auto& m : ProfileOf(f).methods)
        if (m.code == code) return &m;
    return nullptr;
}

std::string MethodList(const Options& o) {
    std::string out;
    for (auto& l : o.vsmList) out += "\r\n" + l;
    const Profile& p = ProfileOf(o.family);
    if (o.vsmList.empty())
        for (auto& m : p.methods)
            out += "\r\n" + std::to_string(m.code) + ",\"" + m.name + "\"," + std::to_string(m.bits) + ",0," + p.rates +
                   ",(0),(0)";
    return out + "\r\n";
}

std::string EncodeSample(Coding c, int16_t v) {
    switch (c) {
        case Coding::MuLaw: return std::string(1, static_cast<char>(sim::MuLawEncode(v)));
        case Coding::ALaw: return std::string(1, static_cast<char>(sim::ALawEncode(v)));
        case Coding::Linear16: return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
        case Coding::Unsigned16: {
            const uint16_t u = static_cast<uint16_t>(v + 32768);
            return std::string{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        }
        case Coding::Signed8: return std::string(1, static_cast<char>(v >> 8));
        default: return std::string(1, static_cast<char>((v >> 8) + 128));
    }
}

int16_t DecodeSample(Coding c, const std::string& b) {
    const uint8_t lo = static_cast<uint8_t>(b[0]);
    switch (c) {
        case Coding::MuLaw: return sim::MuLawDecode(lo);
        case Coding::ALaw: return sim::ALawDecode(lo);
        case Coding::Linear16: return static_cast<int16_t>(lo | static_cast<uint8_t>(b[1]) << 8);
        case Coding::Unsigned16: return static_cast<int16_t>((lo | static_cast<uint8_t>(b[1]) << 8) - 32768);
        case Coding::Signed8: return static_cast<int16_t>(static_cast<int8_t>(lo) * 256);
        default: return static_cast<int16_t>((lo - 128) * 256);
    }
}

}  // namespace modemsim
