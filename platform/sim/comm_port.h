// Control surface of the serial ports (Linux platform layer): a provider
// lends a descriptor as a port handle, takes back what is written to it,
// closes it at hang-up; tests inject partial, pending and failing writes
// and read the ports' settings back.
#pragma once

#include <functional>

#include "win32/win_comm.h"

namespace sim {

// Makes `fd` (a pseudo-terminal's slave, taken over by the platform) a
// serial port handle: GetFileType answers FILE_TYPE_CHAR, the comm state
// and time-outs are kept per handle. Writes go to the descriptor in pieces;
// after each piece `delivered(n)` is called with its size, and the far end
// must have taken those n bytes when it returns. It may revoke the port.
HANDLE OpenCommPort(int fd, std::function<void(size_t)> delivered);
// The provider closes a port it lent: its descriptor is closed and every
// later call on the handle fails with ERROR_INVALID_HANDLE (a write in
// flight too); the holder still closes the handle. No-op for other handles.
void RevokeCommPort(HANDLE port);
// The settings a port holds now; false when `port` is no open port.
bool CommPortSettings(HANDLE port, DCB* dcb, COMMTIMEOUTS* timeouts);

// Faults of the next `count` writes on any port:
enum class CommFault {
    Partial,       // takes at most `value` bytes, reports success
    Pending,       // ERROR_IO_PENDING; completes in GetOverlappedResult with at most `value` bytes
    Error,         // fails at once with error `value`
    PendingError,  // ERROR_IO_PENDING, then completes with error `value`
};
void InjectCommWrite(CommFault kind, DWORD value, int count = 1);
void ClearCommFaults();

// Port handles not yet closed by their holder (revoked ones included),
// event objects not yet closed, and WriteFile calls on ports so far.
int OpenCommPorts();
int LiveEvents();
int CommWriteCalls();

}  // namespace sim
