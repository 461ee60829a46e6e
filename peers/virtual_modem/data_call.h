// Control API of the virtual modem's data calls: a call whose media mode is
// the data modem gets a real pseudo-terminal as its "comm/datamodem" port.
// The control writes to the port; what it writes arrives at the caller's
// end, which the modem reads and keeps (or writes to a capture file).
#pragma once

#include "peers/virtual_modem/virtual_modem.h"

#ifdef __cplusplus
extern "C" {
#endif

// Offers an incoming data call (LINEMEDIAMODE_DATAMODEM) on the device's
// open line, as vmodem_Offer does; returns its handle or 0.
VMODEM_API uint32_t vmodem_OfferData(uint32_t device, const char* callerId);
// The media mode the far end answers later outgoing calls with:
// LINEMEDIAMODE_DATAMODEM makes them data calls (default: voice).
VMODEM_API int vmodem_SetOutgoingMedia(uint32_t device, uint32_t mediaMode);
// The call's media mode as the modem reports it (0 for an unknown call).
VMODEM_API uint32_t vmodem_CallMediaMode(uint32_t hCall);

// What arrived at the caller's end of the device's data calls and was not
// read yet: up to `size` bytes are moved into `buffer`; returns how many.
VMODEM_API size_t vmodem_DataRead(uint32_t device, void* buffer, size_t size);
VMODEM_API size_t vmodem_DataPending(uint32_t device);
// Every byte that arrived on the device since the reset.
VMODEM_API uint64_t vmodem_DataReceived(uint32_t device);
// From now on arriving bytes are appended to the file at `path` instead of
// being kept (null: kept again). -1 when the file cannot be opened.
VMODEM_API int vmodem_DataCapture(uint32_t device, const char* path);
// The provider closes the port of the device's current data call; the call
// stays. -1 without a data call whose port is open.
VMODEM_API int vmodem_DataClosePort(uint32_t device);
// The caller hangs up as soon as `bytes` more bytes have arrived (0: never).
VMODEM_API int vmodem_DataHangUpAfter(uint32_t device, uint64_t bytes);
// Port handles lent for the device's current data call so far.
VMODEM_API int vmodem_DataPortsLent(uint32_t device);

#ifdef __cplusplus
}
#endif
