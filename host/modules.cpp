#include "host/modules.h"

#include <dlfcn.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "host/paths.h"

void* HostModuleEntry(const char* name, const char* symbol, std::string& error) {
    static std::mutex lock;
    static std::map<std::string, void*> loaded;
    std::lock_guard<std::mutex> g(lock);
    void*& handle = loaded[name];
    if (!handle) {
        const std::string path = paths::ProgramDir() + "/libmarlune_" + name + ".so";
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            error = "cannot load the " + std::string(name) + " module: " + (why ? why : path);
            return nullptr;
        }
    }
    void* entry = dlsym(handle, symbol);
    if (!entry) error = "the " + std::string(name) + " module has no " + symbol;
    return entry;
}

int RunModuleVerb(const char* module, const char* symbol, int argc, char** argv) {
    std::string error;
    auto* verb = reinterpret_cast<int (*)(int, char**)>(HostModuleEntry(module, symbol, error));
    if (!verb) {
        fprintf(stderr, "marlune: %s\n", error.c_str());
        return 1;
    }
    return verb(argc, argv);
}
