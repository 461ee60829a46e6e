// The sound files both targets' sound card tests play (wav_corpus.txt,
// made by make_wav_corpus.sh) and what each gives. Standard C++ only: the
// native tests and the Windows test programs under Wine read the same table.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace corpus {

struct File {
    std::string name;
    std::string recipe;
    long read = 0;  // ReadWav's result
    long play = 0;  // PlayWav(name, 1)
    std::vector<std::string> log;  // UTF-8, in the order PlayWav writes them
    // The Windows control under Wine: the same unless the row says otherwise.
    long winePlay = 0;
    std::vector<std::string> wineLog;
};

inline std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

inline std::vector<std::string> Split(const std::string& s, const std::string& by) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at; (at = s.find(by, from)) != std::string::npos; from = at + by.size())
        parts.push_back(Trim(s.substr(from, at - from)));
    parts.push_back(Trim(s.substr(from)));
    return parts;
}

// The table's rows; empty when it cannot be read or a row is malformed.
inline std::vector<File> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<File> files;
    for (std::string line; std::getline(in, line);) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        const auto cols = Split(line, " | ");
        if (cols.size() != 5 && !(cols.size() == 7 && cols[5].rfind("Wine: ", 0) == 0)) return {};
        File f;
        f.name = cols[0];
        f.recipe = cols[1];
        f.read = std::strtol(cols[2].c_str(), nullptr, 10);
        f.play = std::strtol(cols[3].c_str(), nullptr, 10);
        f.log = Split(cols[4], " / ");
        f.winePlay = cols.size() == 7 ? std::strtol(cols[5].c_str() + 6, nullptr, 10) : f.play;
        f.wineLog = cols.size() == 7 ? Split(cols[6], " / ") : f.log;
        files.push_back(f);
    }
    return files;
}

}  // namespace corpus
