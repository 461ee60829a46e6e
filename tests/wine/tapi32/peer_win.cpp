// The peers' platform for the stand-in TAPI32.DLL: scheduled work runs from
// the message loop of the thread that scheduled it, on a window timer; and
// the export name the real TAPI32.DLL also has for lineTranslateAddressA.
#include <windows.h>

#include <tapi.h>

#include <map>

#include "platform/peer.h"

namespace peer {
namespace {

std::map<UINT_PTR, std::function<void()>>& Pending() {
    static std::map<UINT_PTR, std::function<void()>> pending;
    return pending;
}

void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    auto it = Pending().find(id);
    if (it == Pending().end()) return;
    auto fn = std::move(it->second);
    Pending().erase(it);
    fn();
}

}  // namespace

Micros Now() { return static_cast<Micros>(GetTickCount64()) * kMilli; }

uint64_t After(Micros delay, std::function<void()> fn) {
    UINT ms = static_cast<UINT>(delay / kMilli);
    UINT_PTR id = SetTimer(nullptr, 0, ms ? ms : USER_TIMER_MINIMUM, &Fire);
    if (id) Pending()[id] = std::move(fn);
    return id;
}

void Cancel(uint64_t id) {
    KillTimer(nullptr, static_cast<UINT_PTR>(id));
    Pending().erase(static_cast<UINT_PTR>(id));
}

// No platform reset under Wine; the real loader cannot hide exports.
void OnReset(std::function<void()>) {}
void HideLibrary(const std::string&, bool) {}
void HideExport(const std::string&, const std::string&, bool) {}

}  // namespace peer

#undef lineTranslateAddress
extern "C" LONG WINAPI lineTranslateAddress(HLINEAPP app, DWORD device, DWORD version, LPCSTR in, DWORD card,
                                            DWORD options, LPLINETRANSLATEOUTPUT out) {
    return lineTranslateAddressA(app, device, version, in, card, options, out);
}
