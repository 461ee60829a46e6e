#include "host/lua_host.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "control/front/automation.h"
#include "control/front/destruction_notice.h"
#include "host/call_store.h"
#include "host/caller_side.h"
#include "host/edit_distance.h"
#include "host/line_options.h"
#include "host/lua_session.h"
#include "host/paths.h"
#include "host/sound_card.h"
#include "host/terminal_text.h"
#include "host/timeline.h"
#include "platform/code_page.h"
#include "host/usage.h"
#include "platform/sim/sim.h"
#include "platform/sim/wave_devices.h"

using nlohmann::json;

namespace {

// The signal that asked the session to stop (SIGINT, SIGTERM), or 0.
volatile std::sig_atomic_t gSignal = 0;

// Raised as the error that unwinds Lua code when the session stops for a
// reason that is not the script's fault (a signal, the time limit).
char kStopSentinel;

// Instructions between two looks at the clock and the stop request.
constexpr int kHookInstructions = 2000;

void OnSignal(int sig) { gSignal = sig; }

std::string Dir(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool ReadText(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

std::string Args(const json& args) {
    std::string s;
    for (auto& a : args) s += (s.empty() ? "" : ", ") + a.dump(-1, ' ', false, json::error_handler_t::replace);
    return s;
}

}  // namespace

// ---- the session's inside ------------------------------------------------------

double LuaHost::Impl::Now() const { return static_cast<double>(sim::Now()) / sim::kSecond; }

json LuaHost::Impl::Request(json request) {
    request["id"] = nextId++;
    answer = json();
    host->Handle(request);
    return answer;
}

void LuaHost::Impl::Fail(const std::string& message) {
    if (failure.empty()) failure = message;
}

std::string LuaHost::Impl::Enter(std::string what) {
    std::swap(running, what);
    runningSince = std::chrono::steady_clock::now();
    return what;
}

void LuaHost::Impl::Leave(std::string previous) {
    if (refusedSize != 0 && !running.empty()) FailForMemory();  // the code ended on a refusal it caught
    refusedSize = 0;
    running = std::move(previous);
    runningSince = std::chrono::steady_clock::now();
}

void RaiseStop(lua_State* L) {
    lua_pushlightuserdata(L, &kStopSentinel);
    lua_error(L);
    abort();  // lua_error does not return
}

bool IsStop(lua_State* L, int index) {
    return lua_islightuserdata(L, index) && lua_touserdata(L, index) == &kStopSentinel;
}

void LuaHost::Impl::CheckStop(lua_State* from) {
    if (Halted()) RaiseStop(from);
}

bool LuaHost::Impl::Halted() const { return Failed() || gSignal || timeUp; }

namespace {

// Every few thousand instructions: the stop request, then the time the
// running code has had. Once it must stop, the hook runs at every
// instruction of that thread, so a pcall in a loop cannot hold it.
void BudgetHook(lua_State* L, lua_Debug* ar) {
    LuaHost::Impl& s = LuaHost::Impl::Of(L);
    bool callFails = false;  // a call's function ran over: that call fails, the service goes on
    if (!s.Halted() && !s.running.empty()) {
        std::chrono::duration<double> ran = std::chrono::steady_clock::now() - s.runningSince;
        if (ran.count() > s.opt.handlerLimit) {
            lua_getinfo(L, "Sl", ar);
            char limit[32];
            snprintf(limit, sizeof limit, "%g", s.opt.handlerLimit);
            std::string where = ar->currentline > 0 ? std::string(ar->short_src) + ":" + std::to_string(ar->currentline) + ": "
                                                    : std::string();
            if (s.guarded.count(L)) {
                callFails = true;
                s.doomed.insert(L);
                s.runningSince = std::chrono::steady_clock::now();
                lua_pushstring(L, (where + "the call's function ran longer than the handler limit of " + limit +
                                   " s (--handler-limit SECONDS); stopped")
                                      .c_str());
            } else {
                s.Fail(where + s.running + " ran longer than the handler limit of " + limit +
                       " s (--handler-limit SECONDS); stopped");
            }
        }
    }
    if (!callFails && !s.Halted() && s.doomed.count(L)) {
        // Raised again at each instruction until the function has ended:
        // a pcall in it cannot hold it.
        callFails = true;
        lua_pushstring(L, "the call's function was stopped");
    }
    if (callFails) {
        lua_sethook(L, BudgetHook, LUA_MASKCOUNT, 1);
        lua_error(L);
    }
    if (s.Halted()) {
        lua_sethook(L, BudgetHook, LUA_MASKCOUNT, 1);
        s.CheckStop(L);
    }
}

}  // namespace

void LuaHost::Impl::Deliver() {
    while (!events.empty()) {
        json e = std::move(events.front());
        events.pop_front();
        const std::string name = e["event"].get<std::string>();
        const json& args = e["args"];
        if (opt.trace) printf("%8.3f  %s(%s)\n", e.value("t", Now()), name.c_str(), Args(args).c_str());
        tracker.Event(e.value("t", Now()), name, args);
        // A session that is stopping still records the call's last events,
        // but runs no more of the application.
        if (Halted()) continue;
        lua_pushcfunction(L, LuaMessage);
        int status = LUA_OK;
        if (lua_getglobal(L, name.c_str()) == LUA_TFUNCTION) {
            for (auto& a : args) PushJson(L, a);
            inHandler = true;
            std::string outer = Enter("the " + name + " handler");
            status = lua_pcall(L, static_cast<int>(args.size()), 0, -static_cast<int>(args.size()) - 2);
            Leave(std::move(outer));
            inHandler = false;
        } else {
            lua_pop(L, 1);
        }
        if (status != LUA_OK && !IsStop(L, -1))
            Fail(std::string(lua_tostring(L, -1)) + " (in the " + name + " handler)");
        lua_pop(L, status != LUA_OK ? 2 : 1);
        // Then the call-script module, which runs the calls' functions.
        if (listener != LUA_NOREF && !Halted()) {
            lua_pushcfunction(L, LuaMessage);
            lua_rawgeti(L, LUA_REGISTRYINDEX, listener);
            lua_pushstring(L, name.c_str());
            for (auto& a : args) PushJson(L, a);
            inHandler = true;
            std::string outer = Enter("marlune.ivr on " + name);
            status = lua_pcall(L, 1 + static_cast<int>(args.size()), 0, -static_cast<int>(args.size()) - 3);
            Leave(std::move(outer));
            inHandler = false;
            if (status != LUA_OK && !IsStop(L, -1))
                Fail(std::string(lua_tostring(L, -1)) + " (in marlune.ivr on " + name + ")");
            lua_pop(L, status != LUA_OK ? 2 : 1);
        }
        // Tasks waiting for this event go on, in the order they began waiting.
        std::vector<Waiter> due;
        for (size_t i = 0; i < waiters.size();) {
            if (waiters[i].event == name) {
                due.push_back(waiters[i]);
                waiters.erase(waiters.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        for (auto& w : due) {
            sim::Cancel(w.timeout);
            lua_pushboolean(w.co, 1);
            for (auto& a : args) PushJson(w.co, a);
            Resume(w.co, w.ref, 1 + static_cast<int>(args.size()));
        }
    }
}

void LuaHost::Impl::RunClock(double seconds) {
    // Nothing runs past the time limit, whoever asks for the clock.
    const sim::Micros limit = static_cast<sim::Micros>(opt.maxSeconds * sim::kSecond);
    const sim::Micros deadline = std::min(limit, sim::Now() + static_cast<sim::Micros>(seconds * sim::kSecond));
    for (;;) {
        Deliver();
        if (Halted() || stopped) return;
        if (sim::Now() >= limit) {
            timeUp = true;
            return;
        }
        sim::Micros left = deadline - sim::Now();
        if (left <= 0) return;
        // On the wall clock, wake often enough to notice a signal at once.
        if (opt.realTime) left = std::min<sim::Micros>(left, 20 * sim::kMilli);
        sim::RunUntil([this] { return !events.empty() || stopped || Halted(); }, left);
    }
}

// Each task runs as a coroutine: wait(s) yields the seconds, and the task
// goes on when they have passed; wait_event(name, timeout) yields both and
// goes on after the event's handler (true and the event's arguments) or at
// the timeout (false).
void LuaHost::Impl::ScheduleTask(lua_State* from, double at) {
    lua_State* co = lua_newthread(from);
    lua_insert(from, -2);
    lua_xmove(from, co, 1);  // the function
    int ref = luaL_ref(from, LUA_REGISTRYINDEX);  // keeps the thread alive
    ++tasks;
    // The task is named by where its function was written.
    lua_Debug ar;
    lua_pushvalue(co, 1);
    lua_getinfo(co, ">S", &ar);
    taskNames[co] = "the task of " + std::string(ar.short_src) + ":" + std::to_string(ar.linedefined);
    sim::Micros when = std::max<sim::Micros>(sim::Now(), static_cast<sim::Micros>(at * sim::kSecond));
    scheduled.push_back(sim::Schedule(when, [this, co, ref] { Resume(co, ref, 0); }));
}

void LuaHost::Impl::Resume(lua_State* co, int ref, int nargs) {
    if (Halted() || stopped) return;
    int results = 0;
    std::string outer = Enter(taskNames[co]);
    int status = lua_resume(co, L, nargs, &results);
    Leave(std::move(outer));
    if (status == LUA_YIELD) {
        if (results >= 2 && lua_type(co, -results) == LUA_TSTRING) {
            std::string event = lua_tostring(co, -results);
            double timeout = lua_tonumber(co, -results + 1);
            lua_pop(co, results);
            uint64_t id = sim::ScheduleAfter(static_cast<sim::Micros>(timeout * sim::kSecond), [this, co, ref] {
                for (size_t i = 0; i < waiters.size(); ++i)
                    if (waiters[i].co == co) {
                        waiters.erase(waiters.begin() + static_cast<long>(i));
                        lua_pushboolean(co, 0);
                        Resume(co, ref, 1);
                        return;
                    }
            });
            scheduled.push_back(id);
            waiters.push_back(Waiter{event, co, ref, id});
            return;
        }
        double dt = results > 0 ? lua_tonumber(co, -1) : 0;
        lua_pop(co, results);
        scheduled.push_back(sim::ScheduleAfter(static_cast<sim::Micros>(dt * sim::kSecond),
                                               [this, co, ref] { Resume(co, ref, 0); }));
        return;
    }
    --tasks;
    taskNames.erase(co);
    if (status != LUA_OK && !IsStop(co, -1)) {
        luaL_traceback(L, co, luaL_tolstring(co, -1, nullptr), 0);
        std::string message = lua_tostring(L, -1);
        lua_pop(L, 1);
        Fail(opt.trace ? message : message.substr(0, message.find('\n')));
    }
    luaL_unref(L, LUA_REGISTRYINDEX, ref);
}

// The application stopped with a call up: the call ends as a service ends
// it (prompt stopped, recording closed and saved, line dropped), its last
// events recorded but handled by nobody.
void LuaHost::Impl::HangUp() {
    if (!tracker.Active()) return;
    tracker.SessionStopped();
    const CallRecord& call = tracker.calls().back();
    bool recording = false;
    for (auto& r : call.recordings) recording = recording || (r.start >= 0 && r.end < 0);
    Request(json{{"call", "StopPlayWav"}, {"args", json::array()}});
    if (recording) Request(json{{"call", "StopRecord"}, {"args", json::array()}});
    Request(json{{"call", "HandUp"}, {"args", json::array()}});
    // Long enough on the virtual modem for the drop to be reported; on the
    // wall clock a stop request must not wait for a slow line.
    const sim::Micros limit = opt.realTime ? 50 * sim::kMilli : 2 * sim::kSecond;
    const sim::Micros end = sim::Now() + limit;
    while (tracker.Active() && sim::Now() < end) {
        sim::RunUntil([this] { return !events.empty(); }, end - sim::Now());
        Deliver();
    }
}

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

void LuaHost::Impl::WarnHandlerNames() {
    std::vector<std::string> names;
    lua_pushglobaltable(L);
    lua_pushnil(L);
    while (lua_next(L, -2)) {
        if (lua_type(L, -2) == LUA_TSTRING && lua_isfunction(L, -1) && !lua_iscfunction(L, -1))
            names.push_back(lua_tostring(L, -2));
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    for (const std::string& name : names) {
        if (warnedNames.count(name)) continue;
        const std::string lower = Lower(name);
        std::string event, why;
        size_t nearest = 3;
        for (const EventInfo& e : automation::Events()) {
            const std::string candidate = Lower(e.name);
            if (name == e.name) {
                event.clear();
                why.clear();
                break;
            }
            const size_t d = lower.compare(0, 2, "on") == 0 && lower.substr(2) == candidate ? 0 : EditDistance(lower, candidate);
            if (d < nearest && d <= (candidate.size() <= 4 ? 1u : 2u)) {
                nearest = d;
                event = e.name;
                why = lower == candidate ? "handler names are matched with their case" : "it looks like a handler";
            }
        }
        if (why.empty() && name.size() > 2 && name.compare(0, 2, "On") == 0 && isupper(static_cast<unsigned char>(name[2])))
            why = "it looks like a handler";
        if (why.empty()) continue;
        warnedNames.insert(name);
        fprintf(stderr, "marlune run: function %s is not an event and is never called by one (%s%s)\n", name.c_str(),
                why.c_str(), event.empty() ? "; `marlune describe` lists the events" : ("; the event is " + event).c_str());
    }
}

// ---- the session ---------------------------------------------------------------------

LuaHost::LuaHost(LuaRunOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
LuaHost::~LuaHost() = default;
int LuaHost::callCount() const { return impl_->tracker.count(); }

int LuaHost::Run() {
    Impl& s = *impl_;
    const std::string home = paths::Cwd();
    const std::string out = paths::Absolute(s.opt.outDir, home);
    auto fail = [&](const std::string& message) {
        error_ = message;
        fprintf(stderr, "marlune run: %s\n", message.c_str());
        return 1;
    };
    std::string appText, callersText;
    if (!ReadText(paths::Absolute(s.opt.app, home), appText)) return fail("cannot read " + s.opt.app);
    if (!s.opt.callers.empty() && !ReadText(paths::Absolute(s.opt.callers, home), callersText))
        return fail("cannot read " + s.opt.callers);
    if (!paths::MakeDirs(out) || chdir(out.c_str()) != 0) return fail("cannot use the output folder " + out);
    s.tracker = CallTracker(out);
    if (s.opt.summaries)
        s.tracker.onFinished = [](const CallRecord& call) { std::cout << CallTracker::Summary(call) << std::endl; };
    std::string historyError;
    if (s.opt.history && !AttachCallHistory(s.tracker, out, historyError))
        fprintf(stderr, "marlune run: no call history: %s\n", historyError.c_str());
    paths::VoicePackLinks links;
    std::string packMessage;
    if (!links.Make(out, &packMessage)) fprintf(stderr, "marlune run: %s; PlayStr will not find its sounds\n",
                                                packMessage.c_str());

    sim::SetRealTime(s.opt.realTime);
    SetUpSoundCard(s.opt.sound, s.opt.listen);
    gSignal = 0;
    auto previousInt = std::signal(SIGINT, OnSignal);
    auto previousTerm = std::signal(SIGTERM, OnSignal);
    s.host = std::make_unique<JsonHost>([&s](const json& j) {
        if (j.contains("event")) {
            s.events.push_back(j);
        } else if (j.contains("id")) {
            s.answer = j;
        } else if (s.opt.trace && j.contains("messagebox")) {
            // As the box shows it: the destruction notice is Big5, the
            // other boxes are in the system's code page.
            const json& box = j["messagebox"];
            const bool big5 = box.value("text_big5", "") == codepage::Convert(kNoticeText, 950, CP_UTF8);
            printf("%8.3f  message box \"%s\": %s\n", j.value("t", 0.0),
                   box.value(big5 ? "caption_big5" : "caption", "").c_str(),
                   box.value(big5 ? "text_big5" : "text", "").c_str());
        } else if (j.contains("debug") && j["debug"].is_string() &&
                   j["debug"].get<std::string>().rfind("recording ", 0) == 0) {
            // The control's account of a recording's file that failed.
            std::string text = j["debug"].get<std::string>();
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            fprintf(stderr, "marlune run: %s\n", TerminalText(text).c_str());
        } else if (s.opt.trace && j.contains("debug")) {
            printf("%8.3f  debug: %s", j.value("t", 0.0), j.value("debug", "").c_str());
        }
    });
    s.host->CreateControl();
    // The run's own tap: an earlier run's is kept.
    lineTap_ = paths::CreateNew(out, "line_tap.wav");
    if (!lineTap_.empty()) s.Request(json{{"cmd", "tap"}, {"device", sim::kLineDevice}, {"path", lineTap_}});

    s.L = s.NewState();
    *static_cast<Impl**>(lua_getextraspace(s.L)) = &s;
    luaL_openlibs(s.L);
    lua_sethook(s.L, BudgetHook, LUA_MASKCOUNT, kHookInstructions);  // threads made later inherit it
    s.OpenBindings();
    lua_pushstring(s.L, out.c_str());
    lua_setglobal(s.L, "out_dir");
    lua_pushstring(s.L, Dir(paths::Absolute(s.opt.app, home)).c_str());
    lua_setglobal(s.L, "script_dir");

    // The application first (it sets the line up and defines its handlers),
    // then the callers.
    auto runChunk = [&](const std::string& text, const std::string& name) {
        if (s.Halted() || s.stopped) return;
        lua_pushcfunction(s.L, LuaMessage);
        std::string outer = s.Enter("the main chunk of " + name);
        if ((luaL_loadbuffer(s.L, text.data(), text.size(), ("@" + name).c_str()) != LUA_OK ||
             lua_pcall(s.L, 0, 0, -2) != LUA_OK) &&
            !IsStop(s.L, -1))
            s.Fail(lua_tostring(s.L, -1));
        s.Leave(std::move(outer));
        lua_settop(s.L, 0);
        s.Deliver();
    };
    runChunk(appText, s.opt.app);
    s.WarnHandlerNames();
    if (!callersText.empty()) runChunk(callersText, s.opt.callers);

    // A service with nobody scripted to call waits on the wall clock for
    // calls; otherwise the session ends a second after it falls idle.
    const bool serve = s.opt.realTime && s.opt.callers.empty();
    while (!s.Halted() && !s.stopped) {
        bool idle = s.tasks == 0 && !s.tracker.Active();
        s.RunClock(1.0);
        if (idle && !serve && s.tasks == 0 && !s.tracker.Active()) break;
    }
    s.Deliver();
    for (uint64_t id : s.scheduled) sim::Cancel(id);
    if (s.Halted()) s.HangUp();
    s.tracker.Finish(s.Now());

    s.host.reset();  // destroys the control
    FinishSoundCard();
    sim::WriteTaps();
    lua_close(s.L);
    s.L = nullptr;
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    links.Remove();
    ReleaseTimelineCaches();
    if (chdir(home.c_str()) != 0) return fail("cannot return to " + home);
    if (gSignal) {
        fprintf(stderr, "marlune run: stopped by %s at %.1f s; what was recorded is kept\n",
                gSignal == SIGINT ? "SIGINT" : "SIGTERM", s.Now());
        return 128 + gSignal;
    }
    if (s.Failed()) return fail(s.failure);
    if (s.timeUp)
        printf("time limit: the run ended at %g s (--for SECONDS; %g s unless given)\n", s.opt.maxSeconds,
               LuaRunOptions::kDefaultMaxSeconds);
    if (const int lost = s.tracker.LostRecordings()) {
        fprintf(stderr, "marlune run: %d recorded message(s) lost (see the calls' summaries)\n", lost);
        return kLostMessages;
    }
    return 0;
}

// ---- marlune run -----------------------------------------------------------------------

int RunScriptCommand(int argc, char** argv) {
    LuaRunOptions o;
    std::vector<std::string> files;
    LineOptions line;
    std::string error;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (TakeLineOption(argc, argv, i, line, error)) {
            o.realTime = true;
        } else if (!error.empty()) {
            fprintf(stderr, "marlune run: %s\n", error.c_str());
            return 2;
        } else if (a == "--real-time") {
            o.realTime = true;
        } else if (a == "--no-sound") {
            o.sound = false;
        } else if (a == "--listen") {
            o.listen = true;
        } else if (a == "--trace") {
            o.trace = true;
        } else if (a == "--modem-sim") {
            o.modemSim = true;
        } else if (a == "--no-history") {
            o.history = false;
        } else if (a == "--on-error" && i + 1 < argc) {
            std::string how = argv[++i];
            if (how != "stop" && how != "continue") {
                fprintf(stderr, "marlune run: --on-error takes stop or continue, not '%s'\n", how.c_str());
                return 2;
            }
            o.stopOnError = how == "stop";
        } else if (a == "--out" && i + 1 < argc) {
            o.outDir = argv[++i];
        } else if ((a == "--for" || a == "--handler-limit" || a == "--memory-limit") && i + 1 < argc) {
            char* end = nullptr;
            double v = strtod(argv[++i], &end);
            const bool memory = a == "--memory-limit";
            if (*end || !(v > 0) || v > (memory ? 1e6 : 1e9)) {
                fprintf(stderr, "marlune run: %s takes a number of %s above 0, not '%s'\n", a.c_str(),
                        memory ? "megabytes" : "seconds", argv[i]);
                return 2;
            }
            (a == "--for" ? o.maxSeconds : memory ? o.memoryLimit : o.handlerLimit) = v;
        } else if (a.rfind("--", 0) == 0) {
            files.clear();
            break;
        } else {
            files.push_back(a);
        }
    }
    if (files.empty() || files.size() > 2) {
        fputs(VerbUsage("run").c_str(), stderr);
        return 2;
    }
    o.app = files[0];
    if (files.size() > 1) o.callers = files[1];
    if ((o.modemSim && line.Chosen()) || !UseLine(line, error)) {
        fprintf(stderr, "marlune run: %s\n", o.modemSim ? "--modem-sim takes no other line" : error.c_str());
        return 2;
    }
    if (o.modemSim && !UseSimulatedModem(error)) {
        fprintf(stderr, "marlune: %s\n", error.c_str());
        return 1;
    }
    LuaHost host(o);
    int rc = host.Run();
    if (o.modemSim) StopSimulatedModem();
    if (rc == 0) printf("%d call(s); outputs in %s\n", host.callCount(), paths::Absolute(o.outDir, paths::Cwd()).c_str());
    return rc;
}

// The lua module's entry point (host/modules.h).
extern "C" int marlune_run(int argc, char** argv) { return RunScriptCommand(argc, argv); }
