#include "call_hook.h"

#include "sim.h"

namespace {

sim::CallHook& Hook() {
    static sim::CallHook* h = [] {
        auto* hook = new sim::CallHook();
        sim::AddResetHook([hook] { *hook = nullptr; });
        return hook;
    }();
    return *h;
}

thread_local const char* gCaller = nullptr;

}  // namespace

namespace sim {

void SetCallHook(CallHook hook) { Hook() = std::move(hook); }

void NoteCall(const char* function) {
    // A copy: the hook may replace itself.
    if (CallHook hook = Hook()) hook(gCaller ? std::string(gCaller) + ":" + function : std::string(function));
}

CallerScope::CallerScope(const char* who) : previous_(gCaller) { gCaller = who; }
CallerScope::~CallerScope() { gCaller = previous_; }

}  // namespace sim
