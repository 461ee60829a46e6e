// The inside of LuaHost, shared by the session (lua_host.cpp) and the
// bindings (lua_bindings.cpp).
#pragma once

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/call_record.h"
#include "host/json_host.h"
#include "host/lua_host.h"

struct LuaHost::Impl {
    explicit Impl(LuaRunOptions o) : opt(std::move(o)), tracker(".") {}

    LuaRunOptions opt;
    lua_State* L = nullptr;
    std::unique_ptr<JsonHost> host;
    CallTracker tracker;
    std::deque<nlohmann::json> events;  // fired, not yet delivered
    nlohmann::json answer;              // the answer to the request in flight
    int nextId = 1;
    int tasks = 0;                      // scheduled functions and waiting coroutines
    std::vector<uint64_t> scheduled;    // their clock entries, cancelled at the end
    bool stopped = false;
    bool inHandler = false;
    std::string failure;

    static Impl& Of(lua_State* L) { return **static_cast<Impl**>(lua_getextraspace(L)); }

    // Sends one request to the host; answers its answer ({"result"} or {"error"}).
    nlohmann::json Request(nlohmann::json request);
    double Now() const;
    // Delivers the fired events to their handlers, in order.
    void Deliver();
    // Runs the clock `seconds` on, delivering events between messages.
    void RunClock(double seconds);
    // Runs fn (at the top of the stack, popped) as a task at clock time `at`.
    void ScheduleTask(double at);
    // Resumes a task with `nargs` values pushed on its stack; sees what it
    // yields: wait(s) -> seconds, wait_event(name, timeout) -> name, timeout.
    void Resume(lua_State* co, int ref, int nargs);
    // Tasks waiting for an event (resumed after its handler) or their timeout.
    struct Waiter {
        std::string event;
        lua_State* co;
        int ref;
        uint64_t timeout;
    };
    std::vector<Waiter> waiters;
    void Fail(const std::string& message);
    bool Failed() const { return !failure.empty(); }

    // lua_bindings.cpp
    void OpenBindings();
};

// Lua <-> JSON values (tables: arrays when they are sequences, else objects).
nlohmann::json LuaToJson(lua_State* L, int index, int depth = 0);
void PushJson(lua_State* L, const nlohmann::json& j);
// The message handler for protected calls: the error as text.
int LuaMessage(lua_State* L);
