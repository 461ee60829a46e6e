// Scratch folders for the benchmarks' files (WAVs, logs, taps): made under
// /tmp, and removed when the run ends.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

inline std::vector<std::string>& ScratchFolders() {
    static std::vector<std::string> folders;
    return folders;
}

// A new folder "/tmp/marlune-<tag>-XXXXXX", removed by RunAndClean.
inline std::string MakeScratch(const char* tag) {
    std::string tmpl = std::string("/tmp/marlune-") + tag + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) return std::string();
    ScratchFolders().push_back(buf.data());
    return buf.data();
}

// Runs the benchmarks in a scratch folder of their own, so that what a
// control writes into its current folder (the daily log) lands there too,
// then removes every scratch folder made.
inline int RunAndClean(int argc, char** argv, const char* tag) {
    char cwd[4096];
    const std::string home = getcwd(cwd, sizeof cwd) ? cwd : "/";
    const std::string dir = MakeScratch(tag);
    if (dir.empty() || chdir(dir.c_str()) != 0) return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (chdir(home.c_str()) != 0) return 1;
    bool clean = true;
    for (const auto& f : ScratchFolders()) {
        std::error_code ec;
        std::filesystem::remove_all(f, ec);
        clean = clean && !ec;
    }
    return clean ? 0 : 1;
}

}  // namespace bench
