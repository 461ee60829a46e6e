// The verbs and parts of the host that need large libraries are modules
// beside the program, loaded when they are first needed, so that `marlune
// host` starts with none of them:
//
//   libmarlune_lua.so    run, demo: Lua, the call records, the call store
//   libmarlune_draw.so   the call pictures: cairo
//   libmarlune_calls.so  calls, serve: the call store, the web server
//
// A module takes the program's own symbols (the host commands, the paths,
// the JSON host) and exports plain C entry points.
#pragma once

#include <string>

// Entry point `symbol` of module `name` (libmarlune_NAME.so in the
// program's folder), loading the module on first use; null, with `error`
// saying which file is missing or why it cannot be loaded.
void* HostModuleEntry(const char* name, const char* symbol, std::string& error);

// A verb that lives in a module: its entry point takes the command line and
// answers the exit status; a module that cannot be loaded is reported on
// stderr and answers 1.
int RunModuleVerb(const char* module, const char* symbol, int argc, char** argv);
