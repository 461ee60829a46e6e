// The data link: SendData and SendFile push bytes to the remote modem of a
// data call through the serial port the telephony service lends for it
// ("comm/datamodem"). One way only; its trace is debugger output and, for
// two refusals of the port, a message box. The port is taken for one send
// and closed at its end, whatever the outcome.
#pragma once

#include <cstddef>
#include <string>

#include "control/core/core.h"
#include "platform/platform.h"
#include "telephony/line.h"

// The identifier buffer's first request, in bytes.
constexpr DWORD kIdBufferSize = 1048;
// SendFile reads and sends the file in pieces of this size.
constexpr DWORD kFilePieceSize = 16384;

class DataLink {
public:
    DataLink(Core& core, Line& line) : core_(core), line_(line) {}
    ~DataLink() { ReleasePort(); }
    DataLink(const DataLink&) = delete;
    DataLink& operator=(const DataLink&) = delete;

    // The data call's serial port while a send holds it; null otherwise.
    HANDLE CommHandle = nullptr;

    // ---- automation members ------------------------------------------
    // The bytes of SendStr up to its first zero. 0 sent; -1 no buffer; -2
    // identifier query failed; -4 port refused; -5 port closed by the
    // telephony provider; -6 other write error.
    LONG SendData(const std::string& SendStr);
    // The file's bytes up to its first zero byte, read and sent in pieces.
    // 0 sent; -1 file cannot be opened; -2 file cannot be read (what was
    // sent stays sent); -3 the send failed ("SendData failed: " and its
    // code in the debug output).
    LONG SendFile(const std::string& FileName);

    // ---- steps ---------------------------------------------------------
    // A zero-filled identifier buffer of at least `minSize` bytes, from the
    // local heap, with dwTotalSize set: `existing` when it is large enough,
    // else a new one (`existing` is released, after the prefix and
    // "Reallocating structure\n" go to the debug output). Null when none can
    // be had; `existing` is then released too.
    LPVARSTRING AllocIdBuffer(LPVARSTRING existing, DWORD minSize, const char* prefix);
    // 1 when `port` is a character device and no port is held: it becomes
    // CommHandle, configured for writing (read interval 250 ms, no other
    // time-outs, errors do not abort). 0 when refused, with its box.
    int TakeCommHandle(HANDLE port);

private:
    // SendData's steps up to taking the port: 0, -1, -2 or -4.
    LONG OpenPort();
    // Writes every byte once, in order, to CommHandle: 0, -5 or -6.
    LONG WriteAll(OVERLAPPED& record, const char* bytes, size_t count);
    LONG WriteFailed(DWORD error);
    void ReleasePort();

    Core& core_;
    Line& line_;
};
