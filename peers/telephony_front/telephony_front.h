// The telephony front both Linux providers share (and the Windows stand-in
// modem): the fourteen functions the control binds, with their argument,
// size and version checks, the record layouts and the fault hooks. What is
// the modem's own (devices, lines, calls, their actions and notifications)
// is a backend's, behind the narrow interface below; each library defines
// TheBackend().
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/tapi_record.h"

#ifdef _WIN32
#define TAPI_EXPORT extern "C" LONG WINAPI
#else
#define TAPI_EXPORT extern "C" __attribute__((visibility("default"))) LONG WINAPI
#endif

namespace tfront {

inline constexpr DWORD kServiceVersion = 0x00020002;
inline constexpr DWORD kMinTranslateVersion = 0x00010004;
inline constexpr DWORD kSupportedLineStates = 0x01FFFFFF;
inline constexpr DWORD kSupportedAddressStates = 0x000001FF;
inline constexpr DWORD kDigitModes = LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND;

inline LONG Err(DWORD code) { return static_cast<LONG>(code); }

// A line device as LINEDEVCAPS and the version checks see it.
struct DeviceFacts {
    std::string name;
    std::string providerInfo;
    DWORD lowVersion = 0, highVersion = 0;
    DWORD permanentLineId = 0;
    DWORD maxRate = 0;
    DWORD mediaModes = 0;
    DWORD digitModes = 0;
};

// A call as LINECALLINFO and the state checks see it.
struct CallFacts {
    HLINE line = 0;
    DWORD device = 0;
    DWORD state = 0;
    bool incoming = false;
    DWORD mediaMode = 0;
    DWORD monitorModes = 0;
    DWORD callerIdFlags = 0;  // LINECALLPARTYID_*: 0 while no caller id came
    std::string callerId, callerName, dialed;
};

struct Location {
    DWORD id = 0;
    std::string name;
    DWORD country = 0;
    std::string city;
};

struct Translation {
    std::string dialable, displayable;
    DWORD currentCountry = 0, destCountry = 0, results = 0;
};

class Backend {
public:
    virtual ~Backend() = default;
    // ---- the application and its hidden window
    virtual const char* WindowClass() const = 0;
    virtual WNDPROC WindowProc() const = 0;
    // A new application whose notifications go through `window`; how many devices it sees.
    virtual HLINEAPP AddApp(LINECALLBACK callback, HWND window, DWORD& devices) = 0;
    virtual bool KnownApp(HLINEAPP app) const = 0;
    // ---- devices and lines
    virtual bool Device(DWORD id, DeviceFacts& facts) const = 0;
    // After the checks: 0 and the line, or the modem's own refusal.
    virtual LONG OpenLine(HLINEAPP app, DWORD device, DWORD version, DWORD_PTR instance, DWORD privileges,
                          DWORD mediaModes, HLINE& line) = 0;
    virtual bool LineDevice(HLINE line, DWORD& device) const = 0;
    virtual void SetStatusMessages(HLINE line, DWORD lineStates, DWORD addressStates) = 0;
    virtual void CloseLine(HLINE line) = 0;
    // ---- calls: actions answer a request id (LINE_REPLY follows) or an error
    virtual bool Call(HCALL call, CallFacts& facts) const = 0;
    virtual LONG Answer(HCALL call) = 0;
    virtual LONG Drop(HCALL call) = 0;
    virtual void MonitorDigits(HCALL call, DWORD modes) = 0;
    // `dest` null for a call without a number; params checked.
    virtual LONG MakeCall(HLINE line, const char* dest, LPLINECALLPARAMS params, HCALL& call) = 0;
    // ---- device ids: wave/in and wave/out, and any class of the modem's
    // own (comm/datamodem); `room` is the bytes the record holds for it.
    virtual void WaveIds(DWORD device, DWORD& waveOut, DWORD& waveIn) const = 0;
    virtual LONG OtherDeviceId(DWORD device, HCALL call, bool forCall, const std::string& cls, DWORD room,
                               std::string& value) {
        return Err(LINEERR_INVALDEVICECLASS);
    }
    // ---- dialling rules
    virtual std::vector<Location> Locations(DWORD& current) const = 0;
    // False when the address cannot be translated.
    virtual bool Translate(const std::string& address, Translation& t) const = 0;
};

Backend& TheBackend();

// What an address may hold.
bool ValidAddress(const std::string& a);

// ---- fault hooks -----------------------------------------------------------
// Records handed back with damaged offsets and sizes.
enum Hostile { kHostileNone, kHostileOffset, kHostileSize, kHostileWrap, kHostileUsed, kHostileNeeded };
struct Faults {
    std::map<std::string, LONG> refusals;
    std::map<std::string, int> callCounts;
    int hostile = kHostileNone;
    std::string recordBytes;  // the stream overwriting records, and where it is read
    size_t recordPos = 0;
};
Faults& FaultHooks();
// Counts the call and applies an injected refusal (non-zero result).
LONG Enter(const char* function);
void Refuse(const char* function, LONG error);  // 0 stops it
int CallCount(const char* function);
void SetRecordBytes(const void* bytes, size_t size);
// Back to no faults and no counts.
void ResetFaults();

// The record layout with the hostile modes: Finish bends the offsets and
// sizes as the hostile mode says, then overwrites the record from the
// record-byte stream.
class RecordWriter : public tapirec::RecordLayout {
public:
    using RecordLayout::RecordLayout;
    void Finish();

private:
    void Overwrite();
};

}  // namespace tfront
