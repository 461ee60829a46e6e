// sim's scheduling for the stand-in TAPI32.DLL (thread timers), and the
// export name the real TAPI32.DLL also has for lineTranslateAddressA.
#include "platform/sim/sim.h"

#include <tapi.h>

#include <map>

namespace sim {
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

uint64_t ScheduleAfter(Micros delay, std::function<void()> fn) {
    UINT ms = static_cast<UINT>(delay / kMilli);
    UINT_PTR id = SetTimer(nullptr, 0, ms ? ms : USER_TIMER_MINIMUM, &Fire);
    if (id) Pending()[id] = std::move(fn);
    return id;
}

void AddResetHook(std::function<void()>) {}
void HideLibrary(const std::string&, bool) {}
void HideExport(const std::string&, const std::string&, bool) {}

}  // namespace sim

#undef lineTranslateAddress
extern "C" LONG WINAPI lineTranslateAddress(HLINEAPP app, DWORD device, DWORD version, LPCSTR in, DWORD card,
                                            DWORD options, LPLINETRANSLATEOUTPUT out) {
    return lineTranslateAddressA(app, device, version, in, card, options, out);
}
