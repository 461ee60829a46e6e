// A caller for programs that cannot drive the stand-in themselves (scripts,
// the samples): with MARLUNE_VMODEM_CALLER set to a caller id, once the
// first line device is open a call is offered and rings every second until
// it is answered; MARLUNE_VMODEM_CALLS (default 1) calls, one after the
// other, each once the previous one has ended. Scheduled on the thread
// that loads the library, whose message loop runs it.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "peers/virtual_modem/virtual_modem.h"
#include "platform/peer.h"

namespace {

constexpr DWORD kLineStateOffering = 0x00000002;  // LINECALLSTATE_OFFERING

struct Caller {
    std::string id;
    int callsLeft = 0;
    uint32_t call = 0;

    void Step() {
        if (call && vmodem_CallState(call) == kLineStateOffering) {
            vmodem_Ring(0);
        } else if (!call || vmodem_CurrentCall(0) == 0) {
            // No call yet, or the last one has ended: offer the next.
            call = 0;
            if (callsLeft == 0) return;
            if (vmodem_OpenLine(0) != 0 && (call = vmodem_Offer(0, id.c_str())) != 0) --callsLeft;
        }
        peer::After(peer::kSecond, [this] { Step(); });
    }
};

Caller* gCaller = nullptr;

struct Start {
    Start() {
        const char* id = std::getenv("MARLUNE_VMODEM_CALLER");
        if (!id || !*id) return;
        const char* calls = std::getenv("MARLUNE_VMODEM_CALLS");
        gCaller = new Caller{id, calls ? std::atoi(calls) : 1};
        peer::After(peer::kSecond, [] { gCaller->Step(); });
    }
} gStart;

}  // namespace
