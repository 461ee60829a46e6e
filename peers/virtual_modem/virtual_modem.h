// Control API of the virtual voice modem: the caller's side of the line,
// the modem's configuration, fault injection and what tests read back. The
// control never calls these; tests and the host do.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VMODEM_API __attribute__((visibility("default")))

// How the far end treats an outgoing call once it rings back.
enum VmodemOutgoing {
    VMODEM_OUTGOING_MANUAL = 0,    // waits for vmodem_AnswerOutgoing / vmodem_RejectOutgoing
    VMODEM_OUTGOING_ANSWER = 1,    // answers after the delay
    VMODEM_OUTGOING_BUSY = 2,      // the called line is busy
    VMODEM_OUTGOING_NOANSWER = 3,  // rings until the delay, then gives up
};

// Records the modem hands back with damaged offsets and sizes.
enum VmodemHostile {
    VMODEM_HOSTILE_NONE = 0,
    VMODEM_HOSTILE_OFFSET = 1,  // variable fields start past the used part
    VMODEM_HOSTILE_SIZE = 2,    // variable fields run past the used part
    VMODEM_HOSTILE_WRAP = 3,    // offset + size wraps around 32 bits
    VMODEM_HOSTILE_USED = 4,    // used size beyond the record, fields beyond the record
    VMODEM_HOSTILE_NEEDED = 5,  // an impossible needed size, never enough
};

// Back to the default configuration: device 0 "Marlune Voice Modem"
// (TAPI 1.3 to 2.2), device 1 "Marlune Voice Modem (TAPI 2.0+)" (2.0 to
// 2.2), one location (id 1, country 1, city code 425), no faults.
// Also done by sim::Reset().
VMODEM_API void vmodem_Reset(void);

// ---- devices ---------------------------------------------------------------
VMODEM_API uint32_t vmodem_DeviceCount(void);
// Adds a line device; returns its identifier.
VMODEM_API uint32_t vmodem_AddDevice(const char* name, uint32_t lowVersion, uint32_t highVersion);
VMODEM_API int vmodem_SetDeviceName(uint32_t device, const char* name);
VMODEM_API int vmodem_SetDeviceVersions(uint32_t device, uint32_t lowVersion, uint32_t highVersion);
// Wave device identifiers of the line's calls (default 1 and 1).
VMODEM_API int vmodem_SetWaveIds(uint32_t device, uint32_t waveOut, uint32_t waveIn);
// The handle and port name answered for "comm/datamodem".
VMODEM_API int vmodem_SetDataPort(uint32_t device, void* handle, const char* portName);
// Whether the modem also reports LINEDEVSTATE_CONNECTED / _DISCONNECTED.
VMODEM_API int vmodem_SetReportsLineConnect(uint32_t device, int reports);
VMODEM_API int vmodem_SetOutgoing(uint32_t device, int behaviour, uint32_t delayMs);

// ---- address translation ------------------------------------------------------
VMODEM_API void vmodem_ClearLocations(void);
VMODEM_API void vmodem_AddLocation(uint32_t id, const char* name, uint32_t countryCode, const char* cityCode);
VMODEM_API int vmodem_SetCurrentLocation(uint32_t id);

// ---- the caller's side -------------------------------------------------------
// Offers an incoming call on the device's open line; callerId null for a
// call without caller id. Returns the call handle, 0 when the line is not
// open.
VMODEM_API uint32_t vmodem_Offer(uint32_t device, const char* callerId);
// One ring of the offered call; the caller id follows the first ring.
VMODEM_API int vmodem_Ring(uint32_t device);
// Sends (or replaces) the caller id of the current call at once.
VMODEM_API int vmodem_SendCallerId(uint32_t device, const char* callerId);
// Keys pressed by the caller on the connected call (0-9 * # A-D), reported
// as DTMF digits while monitoring is on for that call.
VMODEM_API int vmodem_PressKeys(uint32_t device, const char* keys);
// Digits dialled by pulse (0-9), reported while pulse monitoring is on.
VMODEM_API int vmodem_PulseDigits(uint32_t device, const char* digits);
// The far end hangs up the current call.
VMODEM_API int vmodem_HangUp(uint32_t device);
// The called party answers / does not answer / is busy (outgoing call).
VMODEM_API int vmodem_AnswerOutgoing(uint32_t device);
VMODEM_API int vmodem_RejectOutgoing(uint32_t device);
VMODEM_API int vmodem_BusyOutgoing(uint32_t device);
// The provider closes the device's open line (LINE_CLOSE).
VMODEM_API int vmodem_CloseLine(uint32_t device);
// Any message kind, delivered to the line's application as it is.
VMODEM_API int vmodem_Notify(uint32_t device, uint32_t hDevice, uint32_t message, uintptr_t param1,
                             uintptr_t param2, uintptr_t param3);

// ---- faults -------------------------------------------------------------------
// Every later call of the named function answers `error` (0 stops it).
VMODEM_API void vmodem_Refuse(const char* function, int32_t error);
VMODEM_API void vmodem_SetHostile(int kind);
// Records handed back from now on take their contents after the total size
// from this byte stream (copied): each record reads a 16-bit little-endian
// length n, then overwrites up to n of its bytes from offset 4 on (never
// beyond the caller's total size) with the stream's next bytes. Records
// after the stream's end are left as written. Null or 0 bytes stops it.
VMODEM_API void vmodem_SetRecordBytes(const void* bytes, size_t size);
// Hides one export, or the whole library, from the next binding.
VMODEM_API void vmodem_HideExport(const char* function, int hidden);
VMODEM_API void vmodem_HideLibrary(int hidden);

// ---- read back ----------------------------------------------------------------
VMODEM_API int vmodem_CallCount(const char* function);
VMODEM_API uint32_t vmodem_OpenLine(uint32_t device);     // open line handle or 0
VMODEM_API uint32_t vmodem_CurrentCall(uint32_t device);  // newest call not idle, or 0
VMODEM_API uint32_t vmodem_CallState(uint32_t hCall);     // 0 for an unknown handle
VMODEM_API uint32_t vmodem_MonitorModes(uint32_t hCall);
VMODEM_API uint32_t vmodem_StatusMask(uint32_t device);   // line states asked for
// The last dialled destination and the call parameters it came with.
VMODEM_API const char* vmodem_LastDialed(void);
VMODEM_API size_t vmodem_LastCallParams(void* buffer, size_t size);

#ifdef __cplusplus
}
#endif
