#include "win32/win_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "sim.h"
#include "win32/win_user.h"

namespace {

struct LibState {
    std::set<std::string> hiddenLibs;
    std::set<std::pair<std::string, std::string>> hiddenExports;
    std::map<std::string, int> attempts;
    std::map<void*, std::string> loaded;  // dlopen handle -> upper-case dll name
    std::map<std::string, std::string> mapped;  // upper-case dll name -> shared object
    std::set<std::string> provided;  // upper-case dll names the program carries
    bool hooked = false;
};

LibState& Libraries() {
    static LibState* s = new LibState();
    if (!s->hooked) {
        s->hooked = true;
        sim::AddResetHook([] {
            Libraries().hiddenLibs.clear();
            Libraries().hiddenExports.clear();
            Libraries().attempts.clear();
        });
    }
    return *s;
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

std::string ProgramDir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string p(buf, n);
    auto slash = p.rfind('/');
    return slash == std::string::npos ? "." : p.substr(0, slash);
}

}  // namespace

namespace sim {

std::string SharedObjectName(const std::string& dllName) {
    std::string base = dllName;
    auto slash = base.find_last_of("/\\");
    if (slash != std::string::npos) base = base.substr(slash + 1);
    std::string lower = base;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".dll") == 0) lower.resize(lower.size() - 4);
    return "lib" + lower + ".so";
}

void MapLibrary(const std::string& dllName, const std::string& soName) {
    if (soName.empty())
        Libraries().mapped.erase(Upper(dllName));
    else
        Libraries().mapped[Upper(dllName)] = soName;
}

void HideLibrary(const std::string& dllName, bool hidden) {
    if (hidden)
        Libraries().hiddenLibs.insert(Upper(dllName));
    else
        Libraries().hiddenLibs.erase(Upper(dllName));
}

void HideExport(const std::string& dllName, const std::string& exportName, bool hidden) {
    auto key = std::make_pair(Upper(dllName), exportName);
    if (hidden)
        Libraries().hiddenExports.insert(key);
    else
        Libraries().hiddenExports.erase(key);
}

void ProvideLibrary(const std::string& dllName, bool provided) {
    if (provided)
        Libraries().provided.insert(Upper(dllName));
    else
        Libraries().provided.erase(Upper(dllName));
}

int LoadAttempts(const std::string& dllName) {
    auto it = Libraries().attempts.find(Upper(dllName));
    return it == Libraries().attempts.end() ? 0 : it->second;
}

}  // namespace sim

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string key = Upper(name);
    Libraries().attempts[key]++;
    if (Libraries().hiddenLibs.count(key)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::string so = sim::SharedObjectName(name);
    bool mapped = false;
    if (const char* map = getenv("MARLUNE_DLL_MAP")) {
        std::stringstream ss(map);
        std::string pair;
        while (std::getline(ss, pair, ':')) {
            auto eq = pair.find('=');
            if (eq != std::string::npos && Upper(pair.substr(0, eq)) == key) {
                so = pair.substr(eq + 1);
                mapped = true;
            }
        }
    }
    if (auto it = Libraries().mapped.find(key); it != Libraries().mapped.end()) {
        so = it->second;
        mapped = true;
    }
    if (!mapped && Libraries().provided.count(key)) {
        if (void* h = dlopen(nullptr, RTLD_NOW)) {
            Libraries().loaded[h] = key;
            return reinterpret_cast<HMODULE>(h);
        }
    }
    std::vector<std::string> candidates;
    if (const char* path = getenv("MARLUNE_DLL_PATH")) {
        std::stringstream ss(path);
        std::string dir;
        while (std::getline(ss, dir, ':'))
            if (!dir.empty()) candidates.push_back(dir + "/" + so);
    }
    candidates.push_back(ProgramDir() + "/" + so);
    candidates.push_back(so);
    for (auto& c : candidates) {
        if (void* h = dlopen(c.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            Libraries().loaded[h] = key;
            return reinterpret_cast<HMODULE>(h);
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (!module || !name) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto it = Libraries().loaded.find(module);
    if (it != Libraries().loaded.end() && Libraries().hiddenExports.count({it->second, name})) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* p = dlsym(module, name);
    if (!p) SetLastError(ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<FARPROC>(p);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    if (!module) return FALSE;
    Libraries().loaded.erase(module);
    return dlclose(module) == 0;
}

}  // extern "C"
