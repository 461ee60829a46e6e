// The telephony line: registration with the telephony service, the open
// line and the current call, call control, digit collection and the line
// callback. One per module; it owns the line's state and the binding of
// the telephony library.
#pragma once

#include <string>

#include "control/core/core.h"
#include "platform/platform.h"
#include "telephony/tapi_binding.h"

// Numbers are worked on in buffers of this size: at most 79 characters.
constexpr size_t kNumberBufferSize = 80;

// BuildCanonicalNumber results.
constexpr int kCanonicalWritten = 1;
constexpr int kNotCanonical = 0;
constexpr int kCanonicalTooLong = -1;  // the canonical form would not fit
constexpr int kCanonicalNoMemory = -2;  // no memory for the translation

class Line {
public:
    explicit Line(Core& core) : core_(core) {}
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // ---- state --------------------------------------------------------
    HLINEAPP hLineApp = 0;
    HLINE hLine = 0;
    DWORD dwAPIVersion = 0;
    HCALL hCall = 0;
    LONG RingCount = 0;
    std::string CallerNumber;  // GBK/ASCII bytes
    std::string DtmfDigits;
    TapiBinding tapi;

    // ---- automation members ------------------------------------------
    std::string InitLine(LONG Index);
    LONG OpenLine(LONG Index);
    LONG CloseLine();
    LONG GetOutID(LONG Dev);
    LONG AnswerTp();
    LONG HandUp();
    std::string GetTPNO() const { return CallerNumber; }
    LONG CallOut(LONG Index, const std::string& szNumber);
    LONG BeginMonitorDtmf(LONG Index);
    LONG CancelMonitor(LONG Index);
    std::string GetDtmf() const { return DtmfDigits; }
    LONG ClearDTMF(LONG Index);

    // The identifier of the current call's device of `deviceClass`
    // ("wave/out", "wave/in") for `select` (LINECALLSELECT_CALL), or -1.
    LONG GetLineDeviceId(DWORD select, const char* deviceClass);
    // Builds the canonical address "+1 (area) subscriber" of a
    // North-American local or national number into `output`
    // (kNumberBufferSize bytes). kCanonicalWritten, or kNotCanonical /
    // kCanonicalTooLong / kCanonicalNoMemory leaving `output` untouched.
    int BuildCanonicalNumber(const char* number, char* output);

    // ---- notifications ------------------------------------------------
    // The callback registered with the service. A line's messages carry the
    // Line as their instance; the others go to the line registered last.
    static void CALLBACK LineCallback(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                      DWORD_PTR dwParam2, DWORD_PTR dwParam3);
    void OnMessage(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwParam1, DWORD_PTR dwParam2, DWORD_PTR dwParam3);
    void OnCallState(DWORD hDevice, DWORD callState, DWORD privilege);
    void OnDigit(DWORD hCall, const std::string& digit);

    Core& core() const { return core_; }
    // Messages without a line's instance go to this line from now on.
    void RegisterForCallbacks();

private:
    void WriteLog(const char* text) const { core_.WriteLog(text); }
    void WriteLog(const std::string& text) const { core_.WriteLog(text); }
    void OnCallerId();
    void OnLineDevState(DWORD hDevice, DWORD state);
    void OnMonitorDigits(DWORD hDevice, DWORD_PTR code);

    Core& core_;
};
