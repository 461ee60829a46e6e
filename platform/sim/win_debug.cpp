// Debugger output: every text kept in order for the host and the tests.
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "sim.h"
#include "win32/win_user.h"

namespace {

struct DebugState {
    std::mutex lock;
    std::vector<std::string> texts;
    std::function<void(const std::string&)> observer;
};

DebugState& DebugChannel() {
    static DebugState* s = [] {
        auto* st = new DebugState();
        sim::AddResetHook([st] {
            std::lock_guard<std::mutex> g(st->lock);
            st->texts.clear();
            st->observer = nullptr;
        });
        return st;
    }();
    return *s;
}

}  // namespace

namespace sim {
const std::vector<std::string>& DebugOutput() { return DebugChannel().texts; }
void SetDebugOutputObserver(std::function<void(const std::string&)> observer) {
    std::lock_guard<std::mutex> g(DebugChannel().lock);
    DebugChannel().observer = std::move(observer);
}
}  // namespace sim

extern "C" void WINAPI OutputDebugStringA(LPCSTR text) {
    std::string t = text ? text : "";
    std::function<void(const std::string&)> observer;
    {
        std::lock_guard<std::mutex> g(DebugChannel().lock);
        DebugChannel().texts.push_back(t);
        observer = DebugChannel().observer;
    }
    if (getenv("MARLUNE_DEBUG_OUTPUT")) fprintf(stderr, "%s", t.c_str());
    if (observer) observer(t);
}
