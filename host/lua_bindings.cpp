// What a script sees: `ctl` (the control's members by name), `caller` (the
// host commands), at/after/wait/now/stop, call_id and write_tones.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "control/front/automation.h"
#include "host/host_commands.h"
#include "host/lua_session.h"
#include "platform/code_page.h"
#include "platform/riff_wave.h"

using nlohmann::json;
using Impl = LuaHost::Impl;

namespace {

constexpr const char* kControlType = "marlune.control";
constexpr const char* kErrorType = "marlune.automation_error";

// ---- values -------------------------------------------------------------------

bool IsSequence(lua_State* L, int index) {
    lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, index));
    lua_Integer count = 0;
    lua_pushnil(L);
    while (lua_next(L, index)) {
        lua_pop(L, 1);
        ++count;
    }
    return count == n;
}

// The most values (table entries, at every level) one conversion takes.
constexpr size_t kMaxValues = 1 << 20;

// Counts the values of `index` (the table walk of LuaToJson, without
// building anything); false once they nest deeper than the host takes or
// exceed kMaxValues.
bool Measure(lua_State* L, int index, int depth, size_t& values) {
    if (++values > kMaxValues) return false;
    if (lua_type(L, index) != LUA_TTABLE) return true;
    if (depth >= JsonHost::kMaxDepth || !lua_checkstack(L, 3)) return false;
    index = lua_absindex(L, index);
    lua_pushnil(L);
    while (lua_next(L, index)) {
        if (!Measure(L, -1, depth + 1, values)) {
            lua_pop(L, 2);
            return false;
        }
        lua_pop(L, 1);
    }
    return true;
}

}  // namespace

void CheckConvertible(lua_State* L, int index) {
    size_t values = 0;
    const int top = lua_gettop(L);
    if (!Measure(L, index, 0, values)) {
        lua_settop(L, top);
        if (values > kMaxValues)
            luaL_error(L, "a value of more than %d entries cannot be passed to the host", static_cast<int>(kMaxValues));
        luaL_error(L, "tables nested deeper than %d levels cannot be passed to the host", JsonHost::kMaxDepth);
    }
}

json LuaToJson(lua_State* L, int index, int depth) {
    index = lua_absindex(L, index);
    switch (lua_type(L, index)) {
        case LUA_TBOOLEAN: return lua_toboolean(L, index) != 0;
        case LUA_TNUMBER:
            if (lua_isinteger(L, index)) {
                lua_Integer i = lua_tointeger(L, index);
                if (i >= 0) return static_cast<uint64_t>(i);  // as a JSON reader would read it
                return static_cast<int64_t>(i);
            }
            return lua_tonumber(L, index);
        case LUA_TSTRING: return std::string(lua_tostring(L, index));
        case LUA_TTABLE: {
            // CheckConvertible keeps scripts' values within these bounds.
            if (depth >= JsonHost::kMaxDepth || !lua_checkstack(L, 3)) return nullptr;
            if (lua_rawlen(L, index) > 0 && IsSequence(L, index)) {
                json a = json::array();
                for (lua_Integer i = 1; i <= static_cast<lua_Integer>(lua_rawlen(L, index)); ++i) {
                    lua_rawgeti(L, index, i);
                    a.push_back(LuaToJson(L, -1, depth + 1));
                    lua_pop(L, 1);
                }
                return a;
            }
            json o = json::object();
            lua_pushnil(L);
            while (lua_next(L, index)) {
                if (lua_type(L, -2) == LUA_TSTRING) o[lua_tostring(L, -2)] = LuaToJson(L, -1, depth + 1);
                lua_pop(L, 1);
            }
            return o;
        }
        default: return nullptr;
    }
}

bool PushJson(lua_State* L, const json& j, int depth) {
    if (j.is_null()) {
        lua_pushnil(L);
    } else if (j.is_boolean()) {
        lua_pushboolean(L, j.get<bool>());
    } else if (j.is_number_integer()) {
        lua_pushinteger(L, j.get<int64_t>());
    } else if (j.is_number()) {
        lua_pushnumber(L, j.get<double>());
    } else if (j.is_string()) {
        const std::string& s = j.get_ref<const std::string&>();
        lua_pushlstring(L, s.data(), s.size());
    } else if (depth >= JsonHost::kMaxDepth || !lua_checkstack(L, 3)) {
        lua_pushnil(L);
        return false;
    } else if (j.is_array()) {
        bool whole = true;
        lua_createtable(L, static_cast<int>(j.size()), 0);
        for (size_t i = 0; i < j.size(); ++i) {
            whole = PushJson(L, j[i], depth + 1) && whole;
            lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
        }
        return whole;
    } else {
        bool whole = true;
        lua_createtable(L, 0, static_cast<int>(j.size()));
        for (auto& [k, v] : j.items()) {
            whole = PushJson(L, v, depth + 1) && whole;
            lua_setfield(L, -2, k.c_str());
        }
        return whole;
    }
    return true;
}

int LuaMessage(lua_State* L) {
    if (IsStop(L, 1)) {
        lua_settop(L, 1);
        return 1;
    }
    luaL_tolstring(L, 1, nullptr);
    return 1;
}

namespace {

// ---- errors -------------------------------------------------------------------
// Lua raises errors with longjmp, which skips C++ destructors: every
// function here builds its answer or error value in an inner scope and
// raises only once the C++ objects of that scope are gone.

// Pushes an automation failure of the host as a Lua error table.
void PushAutomationError(lua_State* L, const json& error) {
    lua_createtable(L, 0, 8);
    luaL_where(L, 1);
    lua_setfield(L, -2, "where");
    lua_pushstring(L, error.value("message", std::string("automation error")).c_str());
    lua_setfield(L, -2, "description");
    const std::string hresult = error.value("hresult", std::string());
    lua_pushstring(L, hresult.c_str());
    lua_setfield(L, -2, "hresult");
    lua_pushinteger(L, static_cast<lua_Integer>(strtoul(hresult.c_str(), nullptr, 16)));
    lua_setfield(L, -2, "code");
    if (error.contains("argErr")) {
        lua_pushinteger(L, error["argErr"].get<lua_Integer>());
        lua_setfield(L, -2, "argErr");
    }
    if (error.contains("scode")) {
        const std::string scode = error["scode"].get<std::string>();
        lua_pushinteger(L, static_cast<lua_Integer>(strtoul(scode.c_str(), nullptr, 16)));
        lua_setfield(L, -2, "scode");
    }
    luaL_setmetatable(L, kErrorType);
}

// Pushes a message with the script position, as luaL_error does.
void PushMessage(lua_State* L, const std::string& message) {
    luaL_where(L, 1);
    lua_pushstring(L, message.c_str());
    lua_concat(L, 2);
}

int ErrorToString(lua_State* L) {
    lua_getfield(L, 1, "where");
    lua_getfield(L, 1, "description");
    lua_getfield(L, 1, "hresult");
    lua_pushfstring(L, "%s%s (%s)", luaL_optstring(L, -3, ""), luaL_optstring(L, -2, "?"), luaL_optstring(L, -1, "?"));
    return 1;
}

// Pushes an answer's result (true) or its error value (false).
bool PushAnswer(lua_State* L, const json& answer, const std::string& prefix = "") {
    if (answer.contains("error")) {
        const json& e = answer["error"];
        if (e.value("kind", "") == "automation")
            PushAutomationError(L, e);
        else
            PushMessage(L, prefix + e.value("message", std::string("failed")));
        return false;
    }
    if (PushJson(L, answer.contains("result") ? answer["result"] : json())) return true;
    lua_pop(L, 1);
    PushMessage(L, prefix + "the answer is nested deeper than " + std::to_string(JsonHost::kMaxDepth) + " levels");
    return false;
}

// ---- the control --------------------------------------------------------------------

// The member of that name, or null with the automation error pushed.
const MemberInfo* Member(lua_State* L, const char* name) {
    DISPID dispid = DISPID_UNKNOWN;
    if (SUCCEEDED(automation::GetIDOfName(std::string(name), &dispid))) return automation::FindMember(dispid);
    PushAutomationError(L, json{{"message", std::string("unknown name: ") + name}, {"hresult", "0x80020006"}});
    return nullptr;
}

bool IsPlay(const std::string& name) {
    return name == "PlayWav" || name == "PlayStr" || name == "PlayTxtFile" || name == "PlayAllisEnglish";
}

// A method, bound by name: ctl:Name(...) or ctl.Name(...).
int CallMethod(lua_State* L) {
    const int first = luaL_testudata(L, 1, kControlType) ? 2 : 1;
    for (int i = first; i <= lua_gettop(L); ++i) CheckConvertible(L, i);
    bool ok;
    {
        Impl& s = LuaHost::Impl::Of(L);
        const char* name = lua_tostring(L, lua_upvalueindex(1));
        json args = json::array();
        for (int i = first; i <= lua_gettop(L); ++i) args.push_back(LuaToJson(L, i));
        json answer = s.Request(json{{"call", name}, {"args", args}});
        if (!answer.contains("error")) {
            s.tracker.Method(s.Now(), name, args);
            s.called.insert(name);
            const json& r = answer["result"];
            if (IsPlay(name) && r.is_number_integer() && r.get<int64_t>() < 0) {
                // The control empties its play list: what was queued is lost too.
                int cut = s.tracker.Refused(s.Now());
                if (cut > 0) {
                    luaL_where(L, 1);
                    fprintf(stderr, "marlune run: %s%s answered %lld because %d prompt(s) still played: %s\n",
                            lua_tostring(L, -1), name, static_cast<long long>(r.get<int64_t>()), cut,
                            "neither it nor they are heard (wait for EndPlayAll, or queue texts with PlayStr)");
                    lua_pop(L, 1);
                }
            }
        }
        ok = PushAnswer(L, answer);
    }
    return ok ? 1 : lua_error(L);
}

int ControlIndex(lua_State* L) {
    const char* key = luaL_checkstring(L, 2);
    bool ok;
    {
        const MemberInfo* m = Member(L, key);
        if (!m) {
            ok = false;
        } else if (m->kind == MemberKind::Method) {
            lua_pushstring(L, m->name);
            lua_pushcclosure(L, CallMethod, 1);
            ok = true;
        } else {
            ok = PushAnswer(L, LuaHost::Impl::Of(L).Request(json{{"get", m->name}}));
        }
    }
    return ok ? 1 : lua_error(L);
}

int ControlNewIndex(lua_State* L) {
    const char* key = luaL_checkstring(L, 2);
    CheckConvertible(L, 3);
    bool ok;
    {
        const MemberInfo* m = Member(L, key);
        ok = m && PushAnswer(L, LuaHost::Impl::Of(L).Request(json{{"put", m->name}, {"value", LuaToJson(L, 3)}}));
    }
    return ok ? 0 : lua_error(L);
}

// ---- the caller's side --------------------------------------------------------------

int CallCommand(lua_State* L) {
    if (!lua_isnoneornil(L, 1)) luaL_checktype(L, 1, LUA_TTABLE);
    CheckConvertible(L, 1);
    bool ok;
    {
        Impl& s = LuaHost::Impl::Of(L);
        const std::string name = lua_tostring(L, lua_upvalueindex(1));
        json request = json::object();
        if (!lua_isnoneornil(L, 1)) {
            request = LuaToJson(L, 1);
            if (!request.is_object()) request = json::object();  // an empty table reads as an empty array
        }
        request["cmd"] = name;
        json answer = s.Request(request);
        ok = PushAnswer(L, answer, "caller." + name + ": ");
        if (ok) s.tracker.Command(s.Now(), name, request);
    }
    return ok ? 1 : lua_error(L);
}

int CallerIndex(lua_State* L) {
    const char* name = luaL_checkstring(L, 2);
    if (!HostCommands().count(name)) return luaL_error(L, "no caller command '%s' (marlune help lists them)", name);
    lua_pushstring(L, name);
    lua_pushcclosure(L, CallCommand, 1);
    return 1;
}

// ---- time ------------------------------------------------------------------------------

int At(lua_State* L) {
    double t = luaL_checknumber(L, 1);
    luaL_checktype(L, 2, LUA_TFUNCTION);
    lua_settop(L, 2);
    LuaHost::Impl::Of(L).ScheduleTask(L, t);
    return 0;
}

int After(lua_State* L) {
    Impl& s = LuaHost::Impl::Of(L);
    double dt = luaL_checknumber(L, 1);
    luaL_argcheck(L, dt >= 0, 1, "seconds from now, not negative");
    luaL_checktype(L, 2, LUA_TFUNCTION);
    lua_settop(L, 2);
    s.ScheduleTask(L, s.Now() + dt);
    return 0;
}

int Wait(lua_State* L) {
    Impl& s = LuaHost::Impl::Of(L);
    double dt = luaL_checknumber(L, 1);
    luaL_argcheck(L, dt >= 0 && dt <= JsonHost::kMaxRunSeconds, 1, "seconds from 0 to 86400");
    if (lua_isyieldable(L)) {
        lua_settop(L, 1);
        return lua_yield(L, 1);
    }
    if (s.inHandler) return luaL_error(L, "wait() cannot run in an event handler; use after(seconds, function)");
    // The clock runs, and handlers with it; the main chunk's own time
    // starts again when it goes on.
    bool stop;
    {
        std::string outer = s.Enter("");
        s.RunClock(dt);
        s.Leave(std::move(outer));
        stop = s.Halted() || s.stopped;
    }
    if (stop) RaiseStop(L);
    return 0;
}

// wait_event(name [, timeout]) in a task: true and the event's arguments
// once it has been handled, or false after `timeout` seconds (an hour).
int WaitEvent(lua_State* L) {
    luaL_checkstring(L, 1);
    double timeout = luaL_optnumber(L, 2, 3600);
    luaL_argcheck(L, timeout >= 0 && timeout <= JsonHost::kMaxRunSeconds, 2, "seconds from 0 to 86400");
    if (!lua_isyieldable(L)) return luaL_error(L, "wait_event() runs in a task (at or after)");
    lua_settop(L, 1);
    lua_pushnumber(L, timeout);
    return lua_yield(L, 2);
}

int NowFn(lua_State* L) {
    lua_pushnumber(L, LuaHost::Impl::Of(L).Now());
    return 1;
}

// The lasting number of the call in progress (nil between calls).
int CallId(lua_State* L) {
    const CallRecord* call = LuaHost::Impl::Of(L).tracker.current();
    if (call)
        lua_pushinteger(L, call->number);
    else
        lua_pushnil(L);
    return 1;
}

int Stop(lua_State* L) {
    LuaHost::Impl::Of(L).stopped = true;
    return 0;
}

// write_tones(path, {{hz, seconds}, ...}): 8 kHz 16-bit mono, 0 Hz is silence.
int WriteTones(lua_State* L) {
    const char* path = luaL_checkstring(L, 1);
    luaL_checktype(L, 2, LUA_TTABLE);
    // Checked first: the samples are made without raising.
    for (lua_Integer i = 1; i <= static_cast<lua_Integer>(lua_rawlen(L, 2)); ++i) {
        lua_rawgeti(L, 2, i);
        luaL_argcheck(L, lua_istable(L, -1), 2, "a list of {hz, seconds}");
        lua_rawgeti(L, -1, 1);
        lua_rawgeti(L, -2, 2);
        luaL_checknumber(L, -2);
        double seconds = luaL_checknumber(L, -1);
        luaL_argcheck(L, seconds >= 0 && seconds <= 600, 2, "seconds from 0 to 600");
        lua_pop(L, 3);
    }
    bool written;
    {
    std::vector<int16_t> samples;
    for (lua_Integer i = 1; i <= static_cast<lua_Integer>(lua_rawlen(L, 2)); ++i) {
        lua_rawgeti(L, 2, i);
        lua_rawgeti(L, -1, 1);
        lua_rawgeti(L, -2, 2);
        double hz = lua_tonumber(L, -2), seconds = lua_tonumber(L, -1);
        lua_pop(L, 3);
        int n = static_cast<int>(seconds * 8000);
        for (int k = 0; k < n; ++k) {
            double fade = std::min(1.0, std::min(k, n - k) / 200.0);
            samples.push_back(static_cast<int16_t>(hz > 0 ? 8000 * fade * std::sin(2 * M_PI * hz * k / 8000.0) : 0));
        }
    }
    // Made beside and renamed over the old one, which is never written
    // into: another run on the same folder may be playing it.
    const std::string part = std::string(path) + ".part-" + std::to_string(getpid());
    written = riff::WriteFile(part, riff::Pcm16Format(8000), 16, samples.data(),
                              static_cast<DWORD>(samples.size() * 2)) &&
              rename(part.c_str(), path) == 0;
    if (!written) remove(part.c_str());
    }
    return written ? 0 : luaL_error(L, "cannot write %s", path);
}

// ---- memory ----------------------------------------------------------------------------
// Lua code is refused memory past the limit. Lua then collects its
// garbage and asks again for the same size; a refusal that stands (the
// second one, or one followed by a request of another size) stops the
// session as the handler limit does. The host's own pushes (event
// arguments, between stretches of Lua code) are never refused: they are
// not in a protected call.

void* BudgetAlloc(void* ud, void* ptr, size_t osize, size_t nsize) {
    Impl& s = *static_cast<Impl*>(ud);
    if (!ptr) osize = 0;  // a new block: osize is its type
    if (nsize == 0) {
        free(ptr);
        s.memoryUsed -= osize;
        return nullptr;
    }
    if (nsize > osize && s.refusedSize != 0 && s.refusedSize != nsize && !s.running.empty()) s.FailForMemory();
    const double limit = s.opt.memoryLimit * 1024 * 1024;
    if (nsize > osize && static_cast<double>(s.memoryUsed - osize + nsize) > limit && !s.running.empty()) {
        if (s.refusedSize == nsize) s.FailForMemory();
        s.refusedSize = nsize;
        return nullptr;
    }
    void* block = realloc(ptr, nsize);
    if (!block) return nullptr;
    s.memoryUsed = s.memoryUsed - osize + nsize;
    if (nsize > osize) s.refusedSize = 0;
    return block;
}

int Panic(lua_State* L) {
    const char* message = lua_tostring(L, -1);
    fprintf(stderr, "marlune run: PANIC: unprotected error in call to Lua API (%s)\n", message ? message : "?");
    return 0;  // Lua aborts
}

}  // namespace

void LuaHost::Impl::FailForMemory() {
    char mb[32];
    snprintf(mb, sizeof mb, "%g", opt.memoryLimit);
    Fail(running + " needed more than the memory limit of " + mb + " MB (--memory-limit MB); stopped");
}

lua_State* LuaHost::Impl::NewState() {
    lua_State* state = lua_newstate(BudgetAlloc, this);
    if (state) lua_atpanic(state, Panic);
    return state;
}

void LuaHost::Impl::OpenBindings() {
    luaL_newmetatable(L, kErrorType);
    lua_pushcfunction(L, ErrorToString);
    lua_setfield(L, -2, "__tostring");
    lua_pop(L, 1);

    luaL_newmetatable(L, kControlType);
    lua_pushcfunction(L, ControlIndex);
    lua_setfield(L, -2, "__index");
    lua_pushcfunction(L, ControlNewIndex);
    lua_setfield(L, -2, "__newindex");
    lua_pushstring(L, "the Marlune control");
    lua_setfield(L, -2, "__name");
    lua_pop(L, 1);
    lua_newuserdatauv(L, 0, 0);
    luaL_setmetatable(L, kControlType);
    lua_setglobal(L, "ctl");

    lua_newtable(L);
    lua_newtable(L);
    lua_pushcfunction(L, CallerIndex);
    lua_setfield(L, -2, "__index");
    lua_setmetatable(L, -2);
    lua_setglobal(L, "caller");

    const luaL_Reg functions[] = {{"at", At},     {"after", After}, {"wait", Wait}, {"wait_event", WaitEvent},
                                  {"now", NowFn},   {"stop", Stop},   {"write_tones", WriteTones},
                                  {"call_id", CallId},
                                  {nullptr, nullptr}};
    lua_pushglobaltable(L);
    luaL_setfuncs(L, functions, 0);
    lua_pop(L, 1);
    OpenIvrModule();
}
