// Between the kernel subset and the serial ports: the file functions hand
// port and event handles over to win_comm.cpp.
#pragma once

#include "win32/win_comm.h"

namespace simcomm {
// A port (open or revoked) or an event object of win_comm.cpp.
bool Owns(HANDLE handle);
bool IsPort(HANDLE handle);
BOOL Write(HANDLE port, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
// Closes a port or an event; false when the handle is neither.
bool Close(HANDLE handle);
}  // namespace simcomm
