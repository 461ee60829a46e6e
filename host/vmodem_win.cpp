// The caller's side of the line on Windows: the stand-in TAPI32.DLL (the
// virtual voice modem built for Windows) exports its control API beside the
// telephony functions. The host calls it in the same module the control
// binds, found by the same name; a function the library lacks answers as
// the modem does for a request it cannot carry out.
#include <windows.h>

#include "peers/virtual_modem/virtual_modem.h"

namespace {

template <typename F>
F Export(const char* name) {
    static HMODULE dll = LoadLibraryA("TAPI32.DLL");
    return dll ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name))) : nullptr;
}

}  // namespace

// Forwards vmodem_NAME to the library; `fallback` when it has none.
#define FORWARD(result, name, fallback, params, args)                      \
    result name params {                                                   \
        static auto fn_ = Export<result(*) params>(#name); \
        return fn_ ? fn_ args : fallback;                                      \
    }
#define FORWARD_VOID(name, params, args)                                   \
    void name params {                                                     \
        static auto fn_ = Export<void(*) params>(#name); \
        if (fn_) fn_ args;                                                   \
    }

extern "C" {
FORWARD(uint32_t, vmodem_DeviceCount, 0, (void), ())
FORWARD(uint32_t, vmodem_AddDevice, 0, (const char* n, uint32_t lo, uint32_t hi), (n, lo, hi))
FORWARD(int, vmodem_SetDeviceName, -1, (uint32_t d, const char* n), (d, n))
FORWARD(int, vmodem_SetDeviceVersions, -1, (uint32_t d, uint32_t lo, uint32_t hi), (d, lo, hi))
FORWARD(int, vmodem_SetWaveIds, -1, (uint32_t d, uint32_t o, uint32_t i), (d, o, i))
FORWARD(int, vmodem_SetReportsLineConnect, -1, (uint32_t d, int r), (d, r))
FORWARD(int, vmodem_SetOutgoing, -1, (uint32_t d, int b, uint32_t ms), (d, b, ms))
FORWARD_VOID(vmodem_ClearLocations, (void), ())
FORWARD_VOID(vmodem_AddLocation, (uint32_t id, const char* n, uint32_t c, const char* city), (id, n, c, city))
FORWARD(int, vmodem_SetCurrentLocation, -1, (uint32_t id), (id))
FORWARD(uint32_t, vmodem_Offer, 0, (uint32_t d, const char* caller), (d, caller))
FORWARD(int, vmodem_Ring, -1, (uint32_t d), (d))
FORWARD(int, vmodem_SendCallerId, -1, (uint32_t d, const char* caller), (d, caller))
FORWARD(int, vmodem_PressKeys, -1, (uint32_t d, const char* k), (d, k))
FORWARD(int, vmodem_PulseDigits, -1, (uint32_t d, const char* k), (d, k))
FORWARD(int, vmodem_HangUp, -1, (uint32_t d), (d))
FORWARD(int, vmodem_AnswerOutgoing, -1, (uint32_t d), (d))
FORWARD(int, vmodem_RejectOutgoing, -1, (uint32_t d), (d))
FORWARD(int, vmodem_BusyOutgoing, -1, (uint32_t d), (d))
FORWARD(int, vmodem_CloseLine, -1, (uint32_t d), (d))
FORWARD_VOID(vmodem_Refuse, (const char* f, int32_t e), (f, e))
FORWARD_VOID(vmodem_SetHostile, (int k), (k))
FORWARD_VOID(vmodem_HideExport, (const char* f, int h), (f, h))
FORWARD_VOID(vmodem_HideLibrary, (int h), (h))
FORWARD(uint32_t, vmodem_OpenLine, 0, (uint32_t d), (d))
FORWARD(uint32_t, vmodem_CurrentCall, 0, (uint32_t d), (d))
FORWARD(uint32_t, vmodem_CallState, 0, (uint32_t c), (c))
FORWARD(uint32_t, vmodem_MonitorModes, 0, (uint32_t c), (c))
FORWARD(const char*, vmodem_LastDialed, "", (void), ())
}

#include "host/caller_side.h"

// Windows has no modem simulator: the caller commands drive the stand-in.
CallerSide* SimulatedModemSide() { return nullptr; }
