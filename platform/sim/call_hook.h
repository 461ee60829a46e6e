// Observer of the platform functions that take injected failures: the hook
// sees every call (the function's name) before the function looks at its
// injected faults, so a test can count the calls a run makes and arm a
// failure for exactly the N-th one.
#pragma once

#include <functional>
#include <string>

namespace sim {

// Names as in the fault functions: kernel ("GlobalAlloc", "CreateFileA",
// "WriteFile", "calloc", ...), wave ("waveOutOpen", "waveInQuery", ...), mmio
// ("mmioOpen", ...) and "CommWrite" for a write on a serial port. A call made
// inside a CallerScope is named "WHO:function".
using CallHook = std::function<void(const std::string& function)>;
// Empty: no hook. Reset() removes it.
void SetCallHook(CallHook hook);
// Called by the platform functions.
void NoteCall(const char* function);

// Marks the calls a component makes on its own (its device, its timers) as
// its own, so that they are told from the control's. Scopes nest; the
// innermost names the caller.
class CallerScope {
public:
    explicit CallerScope(const char* who);
    ~CallerScope();
    CallerScope(const CallerScope&) = delete;
    CallerScope& operator=(const CallerScope&) = delete;

private:
    const char* previous_;
};

}  // namespace sim
