// Runs the real `marlune` program through its JSON-lines protocol.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/test_env.h"

using nlohmann::json;

class HostTest : public MarluneTest {
protected:
    // Runs `marlune <args>` in folder `cwd` with `input` on stdin; returns stdout lines.
    std::vector<std::string> Run(const std::string& args, const std::string& input = "", const std::string& cwd = ".") {
        std::ofstream(cwd + "/input.txt") << input;
        std::string cmd = "cd " + cwd + " && " + std::string(MARLUNE_BIN) + " " + args + " < input.txt 2>stderr.txt";
        FILE* p = popen(cmd.c_str(), "r");
        std::vector<std::string> lines;
        char buf[65536];
        while (p && fgets(buf, sizeof buf, p)) {
            std::string line(buf);
            if (!line.empty() && line.back() == '\n') line.pop_back();
            lines.push_back(line);
        }
        status = p ? pclose(p) : -1;
        return lines;
    }
    static std::vector<json> Parse(const std::vector<std::string>& lines) {
        std::vector<json> out;
        for (auto& l : lines) out.push_back(json::parse(l));
        return out;
    }
    static const json* Answer(const std::vector<json>& out, int id) {
        for (auto& j : out)
            if (j.contains("id") && j["id"] == id) return &j;
        return nullptr;
    }
    int status = 0;
};

// Entry texts of the log files a host run left in `dir` (one day's file).
inline std::vector<std::string> LogTextsIn(const std::string& dir) {
    std::vector<std::string> out;
    std::string cmd = "ls " + dir + " | grep 'modem.txt$'";
    FILE* p = popen(cmd.c_str(), "r");
    char name[512];
    std::string bytes;
    while (p && fgets(name, sizeof name, p)) {
        std::string n(name);
        n.pop_back();
        bytes += testenv::ReadFile(dir + "/" + n);
    }
    if (p) pclose(p);
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t e = bytes.find("\r\n\t", pos);
        if (e == std::string::npos) e = bytes.size();
        std::string entry = bytes.substr(pos, e - pos);
        size_t colon = entry.find(" :");
        out.push_back(colon == std::string::npos ? entry : entry.substr(colon + 2));
        pos = e + 3;
    }
    return out;
}

inline std::vector<json> Events(const std::vector<json>& out) {
    std::vector<json> e;
    for (auto& j : out)
        if (j.contains("event")) e.push_back(j);
    return e;
}

