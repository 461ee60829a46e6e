// Runs `marlune run` (or demo) as a person does, in the test's scratch
// folder, and keeps what it printed.
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_env.h"

// The tests are compiled to GBK; scripts, output and per-call logs are UTF-8.
inline std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

class LuaRunTest : public MarluneTest {
protected:
    // `marlune ARGS`; stdout in out, stderr in err, the exit status in status.
    void Marlune(const std::string& args) {
        std::string cmd = std::string(MARLUNE_BIN) + " " + args + " 2>stderr.txt";
        FILE* p = popen(cmd.c_str(), "r");
        out.clear();
        char buf[4096];
        while (p && fgets(buf, sizeof buf, p)) out += buf;
        int raw = p ? pclose(p) : -1;
        status = raw >= 0 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        err = testenv::ReadFile("stderr.txt");
    }
    // Writes a script to `name` and runs it (with callers when given).
    void RunScript(const std::string& app, const std::string& callers = "", const std::string& extra = "") {
        std::ofstream("app.lua") << app;
        std::string args = "run app.lua";
        if (!callers.empty()) {
            std::ofstream("callers.lua") << callers;
            args += " callers.lua";
        }
        Marlune(args + " --out out " + extra);
    }
    // Lines of stdout.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream s(out);
        for (std::string l; std::getline(s, l);) lines.push_back(l);
        return lines;
    }
    static bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

    std::string out, err;
    int status = -1;
};
