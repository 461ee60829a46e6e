// The data link: the port of the current data call, its configuration and
// the writes.
#include "datalink/data_link.h"

#include <cstring>
#include <memory>

#include "telephony/tapi_records.h"

namespace {

constexpr char kIdPrefix[] = "lineGetID: ";
constexpr char kDeviceClass[] = "comm/datamodem";
// The most one WriteFile is asked to take.
constexpr DWORD kMaxWrite = 0x7FFFFFFF;

bool Usable(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// The port handle at the string offset of a filled-in identifier record,
// or null when the record does not hold one.
HANDLE PortIn(const VARSTRING* id) {
    DWORD used = id->dwUsedSize < id->dwTotalSize ? id->dwUsedSize : id->dwTotalSize;
    if (id->dwStringSize < sizeof(DWORD) || id->dwStringOffset > used || used - id->dwStringOffset < sizeof(DWORD))
        return nullptr;
    DWORD value;
    std::memcpy(&value, reinterpret_cast<const BYTE*>(id) + id->dwStringOffset, sizeof value);
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
}

}  // namespace

LPVARSTRING DataLink::AllocIdBuffer(LPVARSTRING existing, DWORD minSize, const char* prefix) {
    if (existing) {
        SIZE_T size = LocalSize(existing);
        if (size == 0) {
            LocalFree(existing);
            return nullptr;
        }
        if (size >= minSize) {
            std::memset(existing, 0, size);
            existing->dwTotalSize = static_cast<DWORD>(size);
            return existing;
        }
        OutputDebugStringA(prefix);
        OutputDebugStringA("Reallocating structure\n");
        LocalFree(existing);
    }
    // A record larger than any the service fills in counts as no memory.
    if (minSize < sizeof(VARSTRING) || minSize > kMaxTapiRecordSize) return nullptr;
    auto* buffer = static_cast<LPVARSTRING>(LocalAlloc(LPTR, minSize));
    if (!buffer) return nullptr;
    buffer->dwTotalSize = minSize;
    return buffer;
}

int DataLink::TakeCommHandle(HANDLE port) {
    if (GetFileType(port) != FILE_TYPE_CHAR) {
        MessageBoxA(nullptr, "err", "1", MB_OK);
        OutputDebugStringA("File handle is not a comm handle.\n");
        return 0;
    }
    if (CommHandle) {
        OutputDebugStringA("Already have a comm file open\n");
        MessageBoxA(nullptr, "err", "2", MB_OK);
        return 0;
    }
    CommHandle = port;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    COMMTIMEOUTS timeouts{};
    GetCommState(CommHandle, &dcb);
    GetCommTimeouts(CommHandle, &timeouts);
    timeouts.ReadIntervalTimeout = 250;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(CommHandle, &timeouts);
    dcb.fAbortOnError = 0;
    SetCommState(CommHandle, &dcb);
    return 1;
}

LONG DataLink::OpenPort() {
    LPVARSTRING id = AllocIdBuffer(nullptr, kIdBufferSize, kIdPrefix);
    if (!id) return -1;
    for (;;) {
        if (line_.tapi.lineGetIDA(0, 0, line_.hCall, LINECALLSELECT_CALL, id, kDeviceClass) != 0) {
            LocalFree(id);
            return -2;
        }
        if (id->dwNeededSize <= id->dwTotalSize) break;
        id = AllocIdBuffer(id, id->dwNeededSize, kIdPrefix);
        if (!id) return -1;
    }
    OutputDebugStringA("Connected!  Starting communications!\n");
    HANDLE port = PortIn(id);
    LocalFree(id);
    if (!TakeCommHandle(port)) {
        // The lent handle is ours to close, unless it is the one held.
        if (Usable(port) && port != CommHandle) CloseHandle(port);
        return -4;
    }
    return 0;
}

LONG DataLink::WriteFailed(DWORD error) {
    if (error == ERROR_INVALID_HANDLE) {
        OutputDebugStringA("ERROR_INVALID_HANDLE, Likely that the Service Provider has closed the port.\n");
        return -5;
    }
    OutputDebugStringA("Closing TAPI\n");
    return -6;
}

LONG DataLink::WriteAll(OVERLAPPED& record, const char* bytes, size_t count) {
    while (count > 0) {
        DWORD want = count > kMaxWrite ? kMaxWrite : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(CommHandle, bytes, want, &written, &record)) {
            DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) return WriteFailed(error);
            // Complete before anything else is written.
            written = 0;
            if (!GetOverlappedResult(CommHandle, &record, &written, TRUE)) return WriteFailed(GetLastError());
        }
        // A write that takes nothing would be repeated for ever.
        if (written == 0) return WriteFailed(0);
        if (written > want) written = want;
        bytes += written;
        count -= written;
    }
    return 0;
}

void DataLink::ReleasePort() {
    if (CommHandle) CloseHandle(CommHandle);
    CommHandle = nullptr;
}

LONG DataLink::SendData(const std::string& SendStr) {
    LONG r = OpenPort();
    if (r != 0) return r;
    OVERLAPPED record{};
    record.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    r = WriteAll(record, SendStr.c_str(), std::strlen(SendStr.c_str()));
    if (record.hEvent) CloseHandle(record.hEvent);
    ReleasePort();
    return r;
}

LONG DataLink::SendFile(const std::string& FileName) {
    HANDLE file = CreateFileA(FileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    std::unique_ptr<char[]> piece(new char[kFilePieceSize]);

    // Reads the next piece; false on a read error. `length` stops at the
    // first zero byte, which ends the data like the end of the file.
    DWORD length = 0;
    bool last = false;
    auto readPiece = [&]() {
        DWORD got = 0;
        if (!ReadFile(file, piece.get(), kFilePieceSize, &got, nullptr)) return false;
        const void* zero = std::memchr(piece.get(), 0, got);
        length = zero ? static_cast<DWORD>(static_cast<const char*>(zero) - piece.get()) : got;
        last = zero != nullptr || got == 0;
        return true;
    };

    // The first piece is read before the port is taken: a file that cannot
    // be read sends nothing.
    if (!readPiece()) {
        CloseHandle(file);
        return -2;
    }
    LONG sent = OpenPort();
    bool readError = false;
    if (sent == 0) {
        OVERLAPPED record{};
        record.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        for (;;) {
            sent = WriteAll(record, piece.get(), length);
            if (sent != 0 || last) break;
            if (!readPiece()) {
                readError = true;
                break;
            }
        }
        if (record.hEvent) CloseHandle(record.hEvent);
        ReleasePort();
    }
    CloseHandle(file);
    if (sent != 0) {
        OutputDebugStringA(("SendData failed: " + std::to_string(sent) + "\n").c_str());
        return -3;
    }
    return readError ? -2 : 0;
}
