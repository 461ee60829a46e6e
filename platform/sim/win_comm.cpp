// Serial ports over descriptors, event objects and overlapped completion.
// One loop thread is assumed; the far end takes the bytes synchronously
// from inside the write (see comm_port.h).
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

#include "call_hook.h"
#include "comm_objects.h"
#include "comm_port.h"
#include "sim.h"
#include "win32/win_user.h"

namespace {

constexpr uintptr_t kFirstHandle = 0x40000000;
constexpr size_t kPiece = 4096;       // bytes written to the descriptor at a time
constexpr int kWritableWaitMs = 2000;  // how long a full port may stay full
constexpr ULONG_PTR kInFlight = 0x103;  // OVERLAPPED.Internal while a write is pending

struct PendingWrite {
    LPOVERLAPPED overlapped;
    const char* buffer;
    DWORD count;
    DWORD error;  // completes with this error instead (0: delivers)
};

struct Object {
    bool port = false;
    // port
    int fd = -1;
    bool revoked = false;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    std::function<void(size_t)> delivered;
    std::optional<PendingWrite> pending;
    // event
    bool manualReset = false;
    bool signalled = false;
};

struct Fault {
    sim::CommFault kind;
    DWORD value;
};

struct CommState {
    std::recursive_mutex lock;
    std::map<uintptr_t, Object> objects;
    uintptr_t next = kFirstHandle;
    std::deque<Fault> faults;
    int writeCalls = 0;
};

void CloseDescriptor(Object& o) {
    if (o.fd >= 0) close(o.fd);
    o.fd = -1;
}

CommState& CommPorts() {
    static CommState* s = [] {
        auto* st = new CommState();
        sim::AddResetHook([st] {
            std::lock_guard<std::recursive_mutex> g(st->lock);
            for (auto& [h, o] : st->objects) CloseDescriptor(o);
            st->objects.clear();
            st->faults.clear();
            st->writeCalls = 0;
        });
        return st;
    }();
    return *s;
}

Object* Find(HANDLE h) {
    auto it = CommPorts().objects.find(reinterpret_cast<uintptr_t>(h));
    return it == CommPorts().objects.end() ? nullptr : &it->second;
}

// An open, not revoked port, or null with ERROR_INVALID_HANDLE set.
Object* LivePort(HANDLE h) {
    Object* o = Find(h);
    if (!o || !o->port || o->revoked) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return o;
}

Object* Event(HANDLE h) {
    Object* o = Find(h);
    return o && !o->port ? o : nullptr;
}

void Signal(HANDLE event, bool on) {
    if (Object* e = Event(event)) e->signalled = on;
}

DCB InitialDcb(int fd) {
    DCB d{};
    d.DCBlength = sizeof d;
    d.BaudRate = CBR_115200;
    termios t{};
    if (tcgetattr(fd, &t) == 0 && cfgetospeed(&t) == B9600) d.BaudRate = CBR_9600;
    d.fBinary = 1;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.fTXContinueOnXoff = 1;
    d.fAbortOnError = 1;
    d.XonLim = 2048;
    d.XoffLim = 512;
    d.ByteSize = 8;
    d.Parity = NOPARITY;
    d.StopBits = ONESTOPBIT;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    return d;
}

// Writes `count` bytes to the port's descriptor, piece by piece, handing
// each piece to the far end. Returns 0 or the error that stopped it;
// `done` says how many bytes went.
DWORD Deliver(HANDLE h, const char* p, DWORD count, DWORD* done) {
    *done = 0;
    while (*done < count) {
        Object* o = Find(h);
        if (!o || o->revoked || o->fd < 0) return ERROR_INVALID_HANDLE;
        size_t piece = std::min<size_t>(kPiece, count - *done);
        ssize_t n = write(o->fd, p + *done, piece);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd pf{o->fd, POLLOUT, 0};
            if (poll(&pf, 1, kWritableWaitMs) <= 0) return ERROR_WRITE_FAULT;
            continue;
        }
        if (n < 0) return errno == EBADF || errno == EIO ? ERROR_INVALID_HANDLE : ERROR_WRITE_FAULT;
        *done += static_cast<DWORD>(n);
        auto delivered = o->delivered;  // the far end may revoke the port
        if (delivered) delivered(static_cast<size_t>(n));
    }
    return 0;
}

void Complete(LPOVERLAPPED ov, DWORD error, DWORD done) {
    if (!ov) return;
    ov->Internal = error;
    ov->InternalHigh = done;
    Signal(ov->hEvent, true);
}

}  // namespace

// ---- the kernel subset's side ---------------------------------------------------

namespace simcomm {

bool Owns(HANDLE h) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    return Find(h) != nullptr;
}

bool IsPort(HANDLE h) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    Object* o = Find(h);
    return o && o->port;
}

BOOL Write(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED ov) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    if (written) *written = 0;
    Object* o = LivePort(h);
    if (!o) return FALSE;
    ++CommPorts().writeCalls;
    // One write in flight per port.
    if (o->pending) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sim::NoteCall("CommWrite");
    std::optional<Fault> fault;
    if (!CommPorts().faults.empty()) {
        fault = CommPorts().faults.front();
        CommPorts().faults.pop_front();
    }
    const char* bytes = static_cast<const char*>(buffer);
    DWORD take = count;
    if (fault && fault->kind != sim::CommFault::Error && fault->kind != sim::CommFault::PendingError)
        take = std::min(count, fault->value);
    if (fault && fault->kind == sim::CommFault::Error) {
        Complete(ov, fault->value, 0);
        SetLastError(fault->value);
        return FALSE;
    }
    bool pending = fault && (fault->kind == sim::CommFault::Pending || fault->kind == sim::CommFault::PendingError);
    if (pending && ov) {
        DWORD error = fault->kind == sim::CommFault::PendingError ? fault->value : 0;
        o->pending = PendingWrite{ov, bytes, take, error};
        ov->Internal = kInFlight;
        ov->InternalHigh = 0;
        Signal(ov->hEvent, false);
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    DWORD done = 0;
    DWORD error = Deliver(h, bytes, take, &done);
    Complete(ov, error, done);
    if (written) *written = done;
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

bool Close(HANDLE h) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    auto it = CommPorts().objects.find(reinterpret_cast<uintptr_t>(h));
    if (it == CommPorts().objects.end()) return false;
    CloseDescriptor(it->second);  // a write still in flight is dropped
    CommPorts().objects.erase(it);
    return true;
}

}  // namespace simcomm

// ---- control surface ------------------------------------------------------------

namespace sim {

HANDLE OpenCommPort(int fd, std::function<void(size_t)> delivered) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    uintptr_t h = CommPorts().next;
    CommPorts().next += 4;
    Object o;
    o.port = true;
    o.fd = fd;
    o.dcb = InitialDcb(fd);
    o.timeouts = COMMTIMEOUTS{0, 0, 1000, 10, 5000};
    o.delivered = std::move(delivered);
    CommPorts().objects[h] = std::move(o);
    return reinterpret_cast<HANDLE>(h);
}

void RevokeCommPort(HANDLE port) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    Object* o = Find(port);
    if (!o || !o->port || o->revoked) return;
    o->revoked = true;
    CloseDescriptor(*o);
    o->delivered = nullptr;
    if (o->pending) {
        Complete(o->pending->overlapped, ERROR_INVALID_HANDLE, 0);
        o->pending.reset();
    }
}

bool CommPortSettings(HANDLE port, DCB* dcb, COMMTIMEOUTS* timeouts) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    Object* o = Find(port);
    if (!o || !o->port) return false;
    if (dcb) *dcb = o->dcb;
    if (timeouts) *timeouts = o->timeouts;
    return true;
}

void InjectCommWrite(CommFault kind, DWORD value, int count) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    for (int i = 0; i < count; ++i) CommPorts().faults.push_back(Fault{kind, value});
}

void ClearCommFaults() {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    CommPorts().faults.clear();
}

int OpenCommPorts() {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    return static_cast<int>(std::count_if(CommPorts().objects.begin(), CommPorts().objects.end(),
                                          [](const auto& e) { return e.second.port; }));
}

int LiveEvents() {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    return static_cast<int>(std::count_if(CommPorts().objects.begin(), CommPorts().objects.end(),
                                          [](const auto& e) { return !e.second.port; }));
}

int CommWriteCalls() { return CommPorts().writeCalls; }

}  // namespace sim

// ---- the Win32 functions ----------------------------------------------------------

extern "C" {

BOOL WINAPI GetCommState(HANDLE file, LPDCB dcb) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    Object* o = LivePort(file);
    if (!o) return FALSE;
    if (!dcb) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *dcb = o->dcb;
    return TRUE;
}

BOOL WINAPI SetCommState(HANDLE file, LPDCB dcb) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    Object* o = LivePort(file);
    if (!o) return FALSE;
    if (!dcb || dcb->ByteSize < 5 || dcb->ByteSize > 8 || dcb->BaudRate == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    o->dcb = *dcb;
    o->dcb.DCBlength = sizeof(DCB);
    return TRUE;
}

BOOL WINAPI GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    Object* o = LivePort(file);
    if (!o) return FALSE;
    if (!timeouts) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *timeouts = o->timeouts;
    return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    Object* o = LivePort(file);
    if (!o) return FALSE;
    if (!timeouts) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    o->timeouts = *timeouts;
    return TRUE;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    if (name) {  // named events are not part of this subset
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    uintptr_t h = CommPorts().next;
    CommPorts().next += 4;
    Object o;
    o.manualReset = manualReset != FALSE;
    o.signalled = initialState != FALSE;
    CommPorts().objects[h] = std::move(o);
    return reinterpret_cast<HANDLE>(h);
}

BOOL WINAPI SetEvent(HANDLE event) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    if (!Event(event)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Signal(event, true);
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE event) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    if (!Event(event)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Signal(event, false);
    return TRUE;
}

// A pending write completes here (when asked to wait): its bytes go to the
// far end now, from the buffer the writer still holds.
BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait) {
    std::lock_guard<std::recursive_mutex> g(CommPorts().lock);
    if (transferred) *transferred = 0;
    if (!ov) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Object* o = Find(file);
    if (o && o->port && o->pending && o->pending->overlapped == ov) {
        if (!wait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        PendingWrite w = *o->pending;
        o->pending.reset();
        DWORD done = 0;
        DWORD error = w.error ? w.error : Deliver(file, w.buffer, w.count, &done);
        Complete(ov, error, done);
    }
    if (ov->Internal == kInFlight) {  // not a write on this handle
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (transferred) *transferred = static_cast<DWORD>(ov->InternalHigh);
    if (ov->Internal != 0) {
        SetLastError(static_cast<DWORD>(ov->Internal));
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
