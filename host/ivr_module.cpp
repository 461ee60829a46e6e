// `require "marlune.ivr"`: the call-script module (ivr.lua, built into the
// runner) and what the runner gives it beyond a script's own reach.
#include <cstdio>
#include <string>

#include "host/lua_session.h"

using Impl = LuaHost::Impl;

namespace {

// The module's source, made from ivr.lua at build time.
#include <ivr_source.h>

// sys.listen(fn): fn(name, args...) after the handlers of every event.
int Listen(lua_State* L) {
    luaL_checktype(L, 1, LUA_TFUNCTION);
    Impl& s = Impl::Of(L);
    lua_settop(L, 1);
    if (s.listener != LUA_NOREF) luaL_unref(L, LUA_REGISTRYINDEX, s.listener);
    s.listener = luaL_ref(L, LUA_REGISTRYINDEX);
    return 0;
}

// sys.called(name): whether the script has called that member.
int Called(lua_State* L) {
    lua_pushboolean(L, Impl::Of(L).called.count(luaL_checkstring(L, 1)) > 0);
    return 1;
}

// sys.call_dir(): the folder of the call in progress (nil between calls).
int CallDir(lua_State* L) {
    const CallRecord* call = Impl::Of(L).tracker.current();
    if (call && !call->dir.empty())
        lua_pushstring(L, call->dir.c_str());
    else
        lua_pushnil(L);
    return 1;
}

// sys.guard(thread [, false]): the thread runs a call's function.
int Guard(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTHREAD);
    Impl& s = Impl::Of(L);
    lua_State* co = lua_tothread(L, 1);
    if (lua_isnoneornil(L, 2) || lua_toboolean(L, 2)) {
        s.guarded.insert(co);
    } else {
        s.guarded.erase(co);
        s.doomed.erase(co);
    }
    return 0;
}

// sys.call_failed(message, n): an error ended call n.
int CallFailedFn(lua_State* L) {
    const char* message = luaL_checkstring(L, 1);
    lua_Integer n = luaL_checkinteger(L, 2);
    Impl::Of(L).CallFailed(message, static_cast<int>(n));
    return 0;
}

int LoadModule(lua_State* L) {
    if (luaL_loadbuffer(L, kIvrSource, sizeof kIvrSource - 1, "@marlune.ivr") != LUA_OK) return lua_error(L);
    lua_newtable(L);
    const luaL_Reg sys[] = {{"listen", Listen},       {"called", Called},
                            {"call_dir", CallDir},    {"guard", Guard},
                            {"call_failed", CallFailedFn}, {nullptr, nullptr}};
    luaL_setfuncs(L, sys, 0);
    lua_call(L, 1, 1);
    return 1;
}

}  // namespace

void LuaHost::Impl::OpenIvrModule() {
    luaL_getsubtable(L, LUA_REGISTRYINDEX, LUA_PRELOAD_TABLE);
    lua_pushcfunction(L, LoadModule);
    lua_setfield(L, -2, "marlune.ivr");
    lua_pop(L, 1);
}

void LuaHost::Impl::CallFailed(const std::string& message, int call) {
    const std::string text = message + " (in call " + std::to_string(call) + ")";
    tracker.Note(call, text);
    if (opt.stopOnError)
        Fail(text);  // printed when the run ends
    else
        fprintf(stderr, "marlune run: %s\n", text.c_str());
}
