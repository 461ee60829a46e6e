// The inside of LuaHost, shared by the session (lua_host.cpp) and the
// bindings (lua_bindings.cpp).
#pragma once

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <set>
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
    bool timeUp = false;                // the clock reached --for
    std::string failure;

    // What Lua code is running now ("the Ring handler", "the main chunk of
    // app.lua", "the task of app.lua:12"; empty while the clock runs) and
    // since when on the wall clock: the instruction-count hook stops it
    // once it has run longer than the handler limit, or when the session
    // must stop.
    std::string running;
    std::chrono::steady_clock::time_point runningSince;
    // Enters Lua code for `what`; answers what was running before, for Leave.
    std::string Enter(std::string what);
    void Leave(std::string previous);
    // Raises the stop as a Lua error when Lua must not go on (a signal, a
    // failure, the time limit); called by the hook and the clock functions.
    void CheckStop(lua_State* from);  // RaiseStop when Halted()
    // No more of the application runs: it failed, a signal came, or the
    // clock reached the time limit.
    bool Halted() const;
    std::map<lua_State*, std::string> taskNames;  // each task's name, while it lives

    static Impl& Of(lua_State* L) { return **static_cast<Impl**>(lua_getextraspace(L)); }

    // Sends one request to the host; answers its answer ({"result"} or {"error"}).
    nlohmann::json Request(nlohmann::json request);
    double Now() const;
    // Delivers the fired events to their handlers, in order.
    void Deliver();
    // Runs the clock `seconds` on, delivering events between messages.
    void RunClock(double seconds);
    // Runs fn (at the top of `from`'s stack, popped) as a task at clock
    // time `at`; `from` is the thread that asked (the main state or a task).
    void ScheduleTask(lua_State* from, double at);
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
    // Global functions that look like event handlers but are none: warned
    // once each on stderr.
    void WarnHandlerNames();
    std::set<std::string> warnedNames;
    // Ends a call that is still up when the application stops.
    void HangUp();
    bool Failed() const { return !failure.empty(); }

    // lua_bindings.cpp
    void OpenBindings();

    // The call-script module (ivr_module.cpp): package.preload["marlune.ivr"].
    void OpenIvrModule();
    int listener = LUA_NOREF;        // the module's event listener, after each handler
    std::set<std::string> called;    // the members the script has called (their own names)
    // The threads of the module's calls: one that runs over the handler
    // limit fails alone (doomed: the error is raised again at each
    // instruction until the thread has ended).
    std::set<lua_State*> guarded, doomed;
    // An error ended call N: stderr, the call's summary and history; with
    // --on-error stop, the run ends with it.
    void CallFailed(const std::string& message, int call);

    // A Lua state whose allocations count against opt.memoryLimit: past it
    // Lua code gets a memory error and the session fails naming the limit.
    lua_State* NewState();
    size_t memoryUsed = 0;  // bytes the Lua state holds
    size_t refusedSize = 0;  // the size of the last refused allocation, 0 after one that was granted
    void FailForMemory();    // the running code's refusal stood
};

// Lua <-> JSON values (tables: arrays when they are sequences, else objects).
// CheckConvertible raises a Lua error when the value at `index` nests
// deeper than JsonHost::kMaxDepth (a table inside itself does) or holds
// too many values; LuaToJson takes what passed it (deeper tables read as
// null). PushJson pushes nil in place of what nests deeper and answers
// false when it did.
void CheckConvertible(lua_State* L, int index);
nlohmann::json LuaToJson(lua_State* L, int index, int depth = 0);
bool PushJson(lua_State* L, const nlohmann::json& j, int depth = 0);
// The message handler for protected calls: the error as text (the stop
// below passes through as it is).
int LuaMessage(lua_State* L);
// The error that unwinds Lua code when the session stops (a signal, the
// time limit, stop() under a waiting main chunk, a failure already
// reported): not a fault of the script's own.
[[noreturn]] void RaiseStop(lua_State* L);
bool IsStop(lua_State* L, int index);
