// The virtual modem's internals, shared by its parts: the state (devices,
// applications, lines, calls, locations), notifications to the
// application, lookups, address translation and the caller-side helpers.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "peers/telephony_front/telephony_front.h"
#include "peers/virtual_modem/virtual_modem.h"
#include "platform/platform.h"

namespace vmodem_impl {

inline constexpr char kDllName[] = "TAPI32.DLL";
inline constexpr char kHiddenClass[] = "MarluneTapiNotify";
inline constexpr UINT kNotifyMessage = WM_USER + 0x100;
using tfront::kDigitModes;
using tfront::kServiceVersion;
inline constexpr DWORD kLineMediaModes =
    LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE | LINEMEDIAMODE_DATAMODEM;
inline constexpr DWORD kDefaultAnswerDelayMs = 5000;

using tfront::Err;

struct Device {
    std::string name;
    DWORD lowVersion = 0;
    DWORD highVersion = 0;
    DWORD waveOut = 1;
    DWORD waveIn = 1;
    HANDLE dataHandle = nullptr;
    std::string dataPort;
    bool reportsLineConnect = false;
    int outgoing = VMODEM_OUTGOING_ANSWER;
    DWORD outgoingDelayMs = kDefaultAnswerDelayMs;
};

struct App {
    LINECALLBACK callback = nullptr;
    HWND window = nullptr;
};

struct Line {
    HLINEAPP app = 0;
    DWORD device = 0;
    DWORD version = 0;
    DWORD_PTR instance = 0;
    DWORD privileges = 0;
    DWORD mediaModes = 0;
    DWORD lineStates = 0;
    DWORD addressStates = 0;
};

struct Call {
    HLINE line = 0;
    DWORD state = 0;
    bool incoming = false;
    bool hasCallerId = false;
    bool callerIdSent = false;
    std::string callerId;
    std::string dialed;
    DWORD rings = 0;
    DWORD monitorModes = 0;
};

using tfront::Location;

struct Notification {
    HLINEAPP app;
    DWORD hDevice;
    DWORD message;
    DWORD_PTR instance, p1, p2, p3;
};

struct Modem {
    std::vector<Device> devices;
    std::vector<Location> locations;
    DWORD currentLocation = 0;
    std::map<HLINEAPP, App> apps;
    std::map<HLINE, Line> lines;
    std::map<HCALL, Call> calls;
    std::map<uint64_t, Notification> pending;
    HLINEAPP nextApp = 0x00010001;
    HLINE nextLine = 0x00020001;
    HCALL nextCall = 0x00030001;
    LONG nextRequest = 1;
    uint64_t nextNotification = 1;
    std::string lastDialed;
    std::vector<BYTE> lastCallParams;
};

Modem& VirtualModem();
void Defaults(Modem& m);

// ---- notifications (through the hidden window of the initialising thread)
void Post(HLINEAPP appHandle, DWORD hDevice, DWORD message, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2,
          DWORD_PTR p3);
void PostToLine(HLINE hLine, DWORD hDevice, DWORD message, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3);
void PostLineDevState(HLINE hLine, DWORD state, DWORD_PTR p2, DWORD_PTR p3);
// Moves a call to `state` and tells the application.
void SetCallState(HCALL hCall, DWORD state, DWORD mode, DWORD privilege = 0);
// A request id, answered by LINE_REPLY with `result`.
LONG Reply(HLINE hLine, LONG result = 0);
LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---- lookups
Line* FindLine(HLINE h);
Call* FindCall(HCALL h);
HLINE OpenLineOf(DWORD device);
HCALL CurrentCallOf(DWORD device);
// The device's outgoing call while it is ringing back (answer, reject or
// busy apply only then), or 0.
HCALL RingingOutgoingCall(DWORD device);
const Location* CurrentLocation();

// ---- address translation
using tfront::Translation;
bool Translate(const std::string& in, Translation& t);

// ---- caller side
void ConnectOutgoing(HCALL hCall);
void EndOutgoing(HCALL hCall, bool busy);
int SendDigits(uint32_t device, const char* keys, DWORD mode, const std::string& allowed);

}  // namespace vmodem_impl
