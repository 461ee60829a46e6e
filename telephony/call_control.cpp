// Call control: answering, dialling, hanging up and the caller number.

#include <cstdlib>
#include <cstring>
#include <string>

#include "telephony/line.h"
#include "telephony/tapi_records.h"

namespace {

constexpr DWORD kTranslateOutputSize = 40;
constexpr DWORD kTranslateCapsSize = 44;
constexpr DWORD kCallParamsFixedSize = offsetof(LINECALLPARAMS, dwAddressType);  // TAPI 2.x fixed part
constexpr DWORD kCallParamsAddressId = 7788;
constexpr char kCalledParty[] = "0";
constexpr size_t kMaxNumberLength = kNumberBufferSize - 1;

void ErrorBox(const char* caption) { MessageBoxA(nullptr, "err", caption, MB_OK); }

// Fetches the translation of `address` into `out`, grown to the needed
// size. 0 on success, the service's negative result, or 1 when the record
// could not be allocated.
LONG TranslateInto(Line& line, DWORD deviceId, const char* address, TapiRecord& out) {
    DWORD size = kTranslateOutputSize;
    while (out.Allocate(size)) {
        LONG r = line.tapi.lineTranslateAddress(line.hLineApp, deviceId, line.dwAPIVersion, address, 0, 0,
                                            out.as<LINETRANSLATEOUTPUT>());
        if (r < 0) return r;
        if (!out.TooSmall()) return 0;
        size = out.neededSize();
    }
    return 1;
}

// The city code of the current location; false when the service does not
// report one (after an error box when it cannot be asked).
bool CurrentCityCode(Line& line, std::string& city) {
    TapiRecord caps;
    DWORD size = kTranslateCapsSize;
    for (;;) {
        if (!caps.Allocate(size)) {
            ErrorBox("0");
            return false;
        }
        if (line.tapi.lineGetTranslateCapsA(line.hLineApp, line.dwAPIVersion,
                                        caps.as<LINETRANSLATECAPS>()) != 0) {
            ErrorBox("2");
            return false;
        }
        if (!caps.TooSmall()) break;
        size = caps.neededSize();
    }
    const LINETRANSLATECAPS* tc = caps.as<LINETRANSLATECAPS>();
    // The list, and every entry read from it, must lie inside the record.
    if (!caps.Contains(tc->dwLocationListOffset, tc->dwLocationListSize)) return false;
    const DWORD entries = tc->dwLocationListSize / sizeof(LINELOCATIONENTRY);
    for (DWORD i = 0; i < tc->dwNumLocations && i < entries; ++i) {
        DWORD at = tc->dwLocationListOffset + i * static_cast<DWORD>(sizeof(LINELOCATIONENTRY));
        LINELOCATIONENTRY entry;
        std::memcpy(&entry, caps.At(at), sizeof entry);
        if (entry.dwPermanentLocationID == tc->dwCurrentLocationID) {
            city = caps.Text(entry.dwCityCodeOffset, entry.dwCityCodeSize);
            return !city.empty();
        }
    }
    return false;
}

int WriteCanonical(const std::string& canonical, char* output) {
    if (canonical.size() > kMaxNumberLength) return kCanonicalTooLong;
    std::memcpy(output, canonical.c_str(), canonical.size() + 1);
    return kCanonicalWritten;
}

}  // namespace

int Line::BuildCanonicalNumber(const char* number, char* output) {
    TapiRecord out;
    LONG r = TranslateInto(*this, 0, number, out);
    if (r == 1) return kCanonicalNoMemory;
    if (r < 0) {
        ErrorBox("lineTranslateAddress");
        return kNotCanonical;
    }
    const LINETRANSLATEOUTPUT* to = out.as<LINETRANSLATEOUTPUT>();
    if (to->dwTranslateResults & LINETRANSLATERESULT_CANONICAL) return kNotCanonical;
    if (to->dwCurrentCountry != 1) return kNotCanonical;

    const char* bar = std::strchr(number, '|');
    std::string prefix = bar ? std::string(number, bar) : std::string(number);
    if (prefix.find_first_not_of(" 0123456789()-.") != std::string::npos) return kNotCanonical;
    std::string digits;
    for (char c : prefix)
        if (c >= '0' && c <= '9') digits += c;

    auto isZeroOrOne = [](char c) { return c == '0' || c == '1'; };
    if (digits.size() == 7) {
        if (isZeroOrOne(digits[0])) return kNotCanonical;
        std::string city;
        if (!CurrentCityCode(*this, city)) return kNotCanonical;
        std::string canonical = "+1 (" + city + ") " + digits;
        if (bar) canonical += bar;
        return WriteCanonical(canonical, output);
    }
    if (digits.size() == 10) {
        if (isZeroOrOne(digits[0]) || isZeroOrOne(digits[3])) return kNotCanonical;
        return WriteCanonical("+1 (" + digits.substr(0, 3) + ") " + digits.substr(3), output);
    }
    return kNotCanonical;
}

LONG Line::AnswerTp() {
    WriteLog("Begin 接收呼叫");
    LONG r = tapi.lineAnswer(hCall, nullptr, 0);
    // A request the service refuses at once (a stale call) is a failure too.
    if (hCall != 0 && r >= 0) {
        WriteLog("接收呼叫 ok");
        return 0;
    }
    WriteLog("接收呼叫 bad");
    return -1;
}

LONG Line::HandUp() {
    tapi.lineDrop(hCall, nullptr, 0);
    DtmfDigits.clear();
    if (tapi.lineMonitorDigits(hCall, 0) == 0) WriteLog("挂机后取消监视DTMF");
    return 0;
}

LONG Line::CallOut(LONG Index, const std::string& szNumber) {
    const std::string number(szNumber.c_str());  // the text up to its first zero
    if (number.size() > kMaxNumberLength) {
        WriteLog("number too long");
        return -2;
    }

    TapiRecord out;
    DWORD size = kTranslateOutputSize;
    for (;;) {
        if (!out.Allocate(size)) {
            WriteLog("呼叫内存开辟失败");
            return -1;
        }
        WriteLog("呼叫内存开辟ok");
        char canonical[kNumberBufferSize];
        int built = BuildCanonicalNumber(number.c_str(), canonical);
        // The number is not dialled untranslated for want of memory.
        if (built == kCanonicalNoMemory) {
            WriteLog("呼叫内存开辟失败");
            return -1;
        }
        if (built == kCanonicalTooLong) {
            WriteLog("number too long");
            return -2;
        }
        const char* address = built == kCanonicalWritten ? canonical : number.c_str();
        LONG r = tapi.lineTranslateAddress(hLineApp, static_cast<DWORD>(Index), dwAPIVersion, address, 0, 0,
                                            out.as<LINETRANSLATEOUTPUT>());
        if (r < 0) {
            WriteLog("lineTranslateAddress err");
            return -2;
        }
        if (!out.TooSmall()) break;
        size = out.neededSize();
    }

    const LINETRANSLATEOUTPUT* to = out.as<LINETRANSLATEOUTPUT>();
    std::string dialable = out.Text(to->dwDialableStringOffset, to->dwDialableStringSize);
    DWORD displayableSize =
        out.Contains(to->dwDisplayableStringOffset, to->dwDisplayableStringSize) ? to->dwDisplayableStringSize : 0;

    DWORD total = kCallParamsFixedSize + sizeof kCalledParty + displayableSize;
    auto* block = static_cast<BYTE*>(std::calloc(1, total));
    if (!block) return -3;
    auto* params = reinterpret_cast<LINECALLPARAMS*>(block);
    params->dwTotalSize = total;
    params->dwBearerMode = LINEBEARERMODE_VOICE;
    params->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    params->dwCallParamFlags = LINECALLPARAMFLAGS_IDLE;
    params->dwAddressMode = LINEADDRESSMODE_ADDRESSID;
    params->dwAddressID = kCallParamsAddressId;
    params->dwCalledPartySize = sizeof kCalledParty;
    params->dwCalledPartyOffset = kCallParamsFixedSize;
    std::memcpy(block + kCallParamsFixedSize, kCalledParty, sizeof kCalledParty);
    params->dwDisplayableAddressSize = displayableSize;
    params->dwDisplayableAddressOffset = kCallParamsFixedSize + sizeof kCalledParty;
    if (displayableSize)
        std::memcpy(block + params->dwDisplayableAddressOffset, out.At(to->dwDisplayableStringOffset), displayableSize);

    HCALL call = 0;  // the call's handle reaches LineState when it connects
    LONG r = tapi.lineMakeCallA(hLine, &call, dialable.c_str(), 0, params);
    std::free(block);
    if (r < 0) {
        WriteLog("出中继 err");
        return -5;
    }
    WriteLog("出中继 ok");
    return 0;
}
