#include "peers/at_modem/voice_format.h"

#include <cctype>
#include <cstdlib>

#include "platform/peer.h"

namespace atmodem {

namespace {

std::string Upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Splits at commas outside quotes and parentheses.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out(1);
    int depth = 0;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        if (!quoted && c == '(') ++depth;
        if (!quoted && c == ')') --depth;
        if (!quoted && depth == 0 && c == ',') {
            out.emplace_back();
            continue;
        }
        out.back() += c;
    }
    return out;
}

bool Number(const std::string& s, int& value) {
    size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
    if (a == std::string::npos) return false;
    std::string t = s.substr(a, b - a + 1);
    if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos || t.size() > 6) return false;
    value = std::atoi(t.c_str());
    return true;
}

// "(7200,8000,11025)", "(7200-8000)" or "8000".
std::vector<int> Rates(std::string s) {
    std::vector<int> rates;
    for (char& c : s)
        if (c == '(' || c == ')') c = ' ';
    for (const std::string& part : Fields(s)) {
        size_t dash = part.find('-');
        int lo, hi;
        if (dash != std::string::npos && Number(part.substr(0, dash), lo) && Number(part.substr(dash + 1), hi)) {
            rates.push_back(lo);
            rates.push_back(hi);
            if (lo <= 8000 && 8000 <= hi) rates.push_back(8000);
        } else if (Number(part, lo)) {
            rates.push_back(lo);
        }
    }
    return rates;
}

std::vector<int> IntelRates() { return {4800, 7200, 8000, 11025}; }

}  // namespace

bool ParseMethods(const std::vector<std::string>& lines, std::vector<Method>& out) {
    out.clear();
    for (std::string line : lines) {
        if (line.rfind("+VSM:", 0) == 0) line = line.substr(5);
        std::vector<std::string> f = Fields(line);
        Method m;
        if (f.size() < 3 || !Number(f[0], m.code) || !Number(f[2], m.bits)) continue;
        std::string name = f[1];
        size_t a = name.find('"'), b = name.rfind('"');
        if (a == std::string::npos || b == a) continue;
        m.name = name.substr(a + 1, b - a - 1);
        if (f.size() >= 5) m.rates = Rates(f[4]);
        out.push_back(m);
    }
    return !out.empty();
}

Coding CodingOf(const Method& m) {
    const std::string n = Upper(m.name);
    auto has = [&n](const char* w) { return n.find(w) != std::string::npos; };
    // Intel's names: LIN1 8-bit two's complement, LIN2 16-bit unsigned (not
    // carried here), CL1 A-law, AD3/AD4 ADPCM.
    if (n == "LIN1") return m.bits == 8 ? Coding::Signed8 : Coding::None;
    if (n == "LIN2") return Coding::None;
    if (n == "CL1") return m.bits == 8 ? Coding::ALaw : Coding::None;
    const bool adpcm = n.size() == 3 && n[0] == 'A' && n[1] == 'D' && std::isdigit(static_cast<unsigned char>(n[2]));
    if (adpcm || has("ADPCM") || has("CELP") || has("GSM")) return Coding::None;
    // A width in the name that is not the listed one: the list contradicts itself.
    for (int named : {8, 16})
        for (const char* sep : {"-BIT", " BIT"})
            if (has((std::to_string(named) + sep).c_str()) && m.bits != named) return Coding::None;
    if (has("ULAW") || has("U-LAW") || has("MU-LAW")) return m.bits == 8 ? Coding::MuLaw : Coding::None;
    if (has("ALAW") || has("A-LAW")) return m.bits == 8 ? Coding::ALaw : Coding::None;
    if (has("LAW")) return Coding::None;  // which law is not said
    if (has("LIN") || has("PCM")) {
        if (m.bits == 16) return has("UNSIGNED") ? Coding::None : Coding::Linear16;
        if (m.bits == 8) return has("UNSIGNED") ? Coding::Unsigned8 : Coding::Signed8;
    }
    return Coding::None;
}

bool ChooseFormat(const std::vector<Method>& methods, VoiceFormat& chosen) {
    for (Coding want : {Coding::MuLaw, Coding::ALaw, Coding::Linear16, Coding::Signed8, Coding::Unsigned8})
        for (const Method& m : methods) {
            // A line without rates does not rule 8000 out (+VSM= then says).
            bool at8000 = m.rates.empty();
            for (int r : m.rates) at8000 = at8000 || r == 8000;
            if (at8000 && CodingOf(m) == want) {
                chosen = {m.code, want, m.name};
                return true;
            }
        }
    return false;
}

std::vector<Method> DocumentedMethods(const std::string& identification) {
    const std::string id = Upper(identification);
    auto has = [&id](const char* w) { return id.find(w) != std::string::npos; };
    // Host-processed soft modems: 128 signed linear, 130 unsigned, 131
    // mu-law, 132 A-law, 133 16-bit linear.
    if (has("HSF") || has("SOFTK56") || has("SOFTMODEM") || has("SOFT MODEM"))
        return {{128, "8-BIT LINEAR", 8, {7200, 8000}}, {130, "UNSIGNED PCM", 8, {7200, 8000}},
                {131, "ULAW", 8, {7200, 8000}},         {132, "ALAW", 8, {7200, 8000}},
                {133, "LINEAR", 16, {7200, 8000}}};
    // Controller-based data/fax/voice chipsets: 8-bit unsigned PCM only.
    if (has("ROCKWELL") || has("CONEXANT") || has("RC56") || has("RC336") || has("RCV56"))
        return {{1, "UNSIGNED PCM", 8, {7200, 8000, 11025}}, {130, "UNSIGNED PCM", 8, {7200, 8000, 11025}}};
    // Intel's chipsets: 0/128 LIN1, 1/129 LIN2 (16-bit unsigned), 2/132 AD4,
    // 140 CL1 (A-law, their default), 141 AD3.
    if (has("INTEL") || has("536EP") || has("537EP") || has("536EX") || has("537EX") || has("MD566"))
        return {{0, "LIN1", 8, IntelRates()},   {1, "LIN2", 16, IntelRates()}, {2, "AD4", 4, IntelRates()},
                {128, "LIN1", 8, IntelRates()}, {129, "LIN2", 16, IntelRates()}, {132, "AD4", 4, IntelRates()},
                {140, "CL1", 8, IntelRates()},  {141, "AD3", 3, IntelRates()}};
    return {};
}

const char* CodingName(Coding c) {
    switch (c) {
        case Coding::MuLaw: return "mu-law";
        case Coding::ALaw: return "A-law";
        case Coding::Linear16: return "16-bit linear";
        case Coding::Signed8: return "8-bit signed linear";
        case Coding::Unsigned8: return "8-bit unsigned linear";
        default: return "none";
    }
}

std::string EncodeSamples(Coding c, const int16_t* samples, size_t n) {
    std::string out;
    out.reserve(n * BytesPerSample(c));
    for (size_t i = 0; i < n; ++i) {
        const int16_t v = samples[i];
        switch (c) {
            case Coding::MuLaw: out += static_cast<char>(peer::MuLawEncode(v)); break;
            case Coding::ALaw: out += static_cast<char>(peer::ALawEncode(v)); break;
            case Coding::Linear16:
                out += static_cast<char>(v & 0xFF);
                out += static_cast<char>((v >> 8) & 0xFF);
                break;
            case Coding::Signed8: out += static_cast<char>(v >> 8); break;
            default: out += static_cast<char>((v >> 8) + 128); break;
        }
    }
    return out;
}

void DecodeBytes(Coding c, const std::string& bytes, std::string& carry, std::vector<int16_t>& out) {
    if (c == Coding::Linear16) {
        std::string all = carry + bytes;
        size_t whole = all.size() / 2 * 2;
        for (size_t i = 0; i < whole; i += 2)
            out.push_back(static_cast<int16_t>(static_cast<uint8_t>(all[i]) | static_cast<uint8_t>(all[i + 1]) << 8));
        carry = all.substr(whole);
        return;
    }
    for (char ch : bytes) {
        const uint8_t b = static_cast<uint8_t>(ch);
        switch (c) {
            case Coding::MuLaw: out.push_back(peer::MuLawDecode(b)); break;
            case Coding::ALaw: out.push_back(peer::ALawDecode(b)); break;
            case Coding::Signed8: out.push_back(static_cast<int16_t>(static_cast<int8_t>(b) * 256)); break;
            default: out.push_back(static_cast<int16_t>((static_cast<int>(b) - 128) * 256)); break;
        }
    }
}

}  // namespace atmodem
