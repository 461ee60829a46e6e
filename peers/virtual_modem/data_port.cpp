// Data calls of the virtual modem: each has a pseudo-terminal whose slave
// side is lent to the application as the "comm/datamodem" port (a new
// handle per request, the holder's to close) and whose master side is the
// caller's end. The provider closes the port when the call ends.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "peers/virtual_modem/data_call.h"
#include "peers/virtual_modem/data_port.h"
#include "platform/peer.h"

namespace {

constexpr int kArrivalWaitMs = 2000;  // bytes written to the slave reach the master within this

struct DataCall {
    DWORD device = 0;
    int master = -1;
    int slave = -1;
    bool closed = false;
    std::vector<HANDLE> lent;
};

struct DeviceData {
    DWORD outgoingMedia = LINEMEDIAMODE_AUTOMATEDVOICE;
    std::string received;  // arrived, not read yet
    uint64_t total = 0;
    FILE* capture = nullptr;
    uint64_t hangUpAt = 0;  // total at which the caller hangs up; 0: never
};

struct Data {
    std::map<HCALL, DataCall> calls;
    std::map<DWORD, DeviceData> devices;
};

void ClosePort(DataCall& c) {
    if (c.closed) return;
    c.closed = true;
    for (HANDLE h : c.lent) peer::RevokeCommPort(h);
    if (c.master >= 0) close(c.master);
    if (c.slave >= 0) close(c.slave);
    c.master = c.slave = -1;
}

void Clear(Data& d) {
    for (auto& [h, c] : d.calls) ClosePort(c);
    for (auto& [n, dev] : d.devices)
        if (dev.capture) fclose(dev.capture);
    d = Data();
}

Data& DataCalls() {
    static Data* d = [] {
        auto* created = new Data();
        peer::OnReset([] { vmodem_data::Reset(); });
        return created;
    }();
    return *d;
}

DataCall* Find(HCALL h) {
    auto it = DataCalls().calls.find(h);
    return it == DataCalls().calls.end() ? nullptr : &it->second;
}

DataCall* CurrentDataCall(DWORD device) {
    DataCall* c = Find(vmodem_CurrentCall(device));
    return c && !c->closed ? c : nullptr;
}

bool OpenPty(DataCall& c) {
    termios raw{};
    cfmakeraw(&raw);  // bytes pass unchanged: no CR LF mapping, no echo
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    if (openpty(&c.master, &c.slave, nullptr, &raw, nullptr) != 0) return false;
    fcntl(c.master, F_SETFD, FD_CLOEXEC);
    fcntl(c.slave, F_SETFD, FD_CLOEXEC);
    return true;
}

// The platform wrote `n` bytes to the slave of `call`: the caller's end
// takes them from the master.
void Arrived(HCALL call, size_t n) {
    DataCall* c = Find(call);
    if (!c || c->closed) return;
    DWORD device = c->device;
    DeviceData& dev = DataCalls().devices[device];
    char buf[4096];
    while (n > 0) {
        ssize_t got = read(c->master, buf, std::min(n, sizeof buf));
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd pf{c->master, POLLIN, 0};
            if (poll(&pf, 1, kArrivalWaitMs) <= 0) break;
            continue;
        }
        if (got <= 0) break;
        if (dev.capture)
            fwrite(buf, 1, static_cast<size_t>(got), dev.capture);
        else
            dev.received.append(buf, static_cast<size_t>(got));
        dev.total += static_cast<uint64_t>(got);
        n -= static_cast<size_t>(got);
    }
    if (dev.capture) fflush(dev.capture);
    if (dev.hangUpAt != 0 && dev.total >= dev.hangUpAt) {
        dev.hangUpAt = 0;
        vmodem_HangUp(device);  // the call ends: its port is closed
    }
}

}  // namespace

namespace vmodem_data {

LONG LendPort(HCALL call, DWORD device, HANDLE* port) {
    DataCall* c = Find(call);
    if (!c) return 0;
    if (c->closed) return static_cast<LONG>(LINEERR_OPERATIONFAILED);
    if (c->slave < 0 && !OpenPty(*c)) return static_cast<LONG>(LINEERR_RESOURCEUNAVAIL);
    int fd = fcntl(c->slave, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return static_cast<LONG>(LINEERR_RESOURCEUNAVAIL);
    HANDLE h = peer::OpenCommPort(fd, [call](size_t n) { Arrived(call, n); });
    c->lent.push_back(h);
    *port = h;
    return 0;
}

void CallPlaced(HCALL call, DWORD device) {
    if (DataCalls().devices[device].outgoingMedia & LINEMEDIAMODE_DATAMODEM) DataCalls().calls[call].device = device;
}

DWORD MediaMode(HCALL call) { return Find(call) ? LINEMEDIAMODE_DATAMODEM : LINEMEDIAMODE_AUTOMATEDVOICE; }

void CallEnded(HCALL call) {
    if (DataCall* c = Find(call)) ClosePort(*c);
}

void Reset() { Clear(DataCalls()); }

}  // namespace vmodem_data

extern "C" {

uint32_t vmodem_OfferData(uint32_t device, const char* callerId) {
    uint32_t h = vmodem_Offer(device, callerId);
    if (h) DataCalls().calls[h].device = device;
    return h;
}

int vmodem_SetOutgoingMedia(uint32_t device, uint32_t mediaMode) {
    if (device >= vmodem_DeviceCount() || mediaMode == 0) return -1;
    DataCalls().devices[device].outgoingMedia = mediaMode;
    return 0;
}

uint32_t vmodem_CallMediaMode(uint32_t hCall) {
    return vmodem_CallState(hCall) == 0 ? 0 : vmodem_data::MediaMode(hCall);
}

size_t vmodem_DataRead(uint32_t device, void* buffer, size_t size) {
    std::string& r = DataCalls().devices[device].received;
    size_t n = std::min(size, r.size());
    if (buffer && n) std::memcpy(buffer, r.data(), n);
    r.erase(0, n);
    return n;
}

size_t vmodem_DataPending(uint32_t device) { return DataCalls().devices[device].received.size(); }

uint64_t vmodem_DataReceived(uint32_t device) { return DataCalls().devices[device].total; }

int vmodem_DataCapture(uint32_t device, const char* path) {
    DeviceData& dev = DataCalls().devices[device];
    if (dev.capture) fclose(dev.capture);
    dev.capture = nullptr;
    if (!path) return 0;
    dev.capture = fopen(path, "ab");
    return dev.capture ? 0 : -1;
}

int vmodem_DataClosePort(uint32_t device) {
    DataCall* c = CurrentDataCall(device);
    if (!c) return -1;
    ClosePort(*c);
    return 0;
}

int vmodem_DataHangUpAfter(uint32_t device, uint64_t bytes) {
    if (device >= vmodem_DeviceCount()) return -1;
    DeviceData& dev = DataCalls().devices[device];
    dev.hangUpAt = bytes == 0 ? 0 : dev.total + bytes;
    return 0;
}

int vmodem_DataPortsLent(uint32_t device) {
    DataCall* c = Find(vmodem_CurrentCall(device));
    return c ? static_cast<int>(c->lent.size()) : 0;
}

}  // extern "C"
