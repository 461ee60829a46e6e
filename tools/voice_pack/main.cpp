// voice_pack: generates the default Mandarin voice pack.
//
//   voice_pack --dict terra_pinyin.dict.yaml --corrections corrections.txt --out DIR
//              [--jobs N] [--only TEXT]
//
// --only limits the pack to the GB2312 hanzi of TEXT (UTF-8; 无 is always added).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>

#include "tools/voice_pack/pack.h"
#include "tools/voice_pack/readings.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: voice_pack --dict FILE --corrections FILE --out DIR [--jobs N] [--only TEXT]\n");
    return 2;
}

std::vector<voice_pack::Hanzi> Select(const std::vector<voice_pack::Hanzi>& all, const std::string& only) {
    if (only.empty()) return all;
    std::vector<voice_pack::Hanzi> out;
    for (const auto& h : all)
        if (h.utf8 == "无" || only.find(h.utf8) != std::string::npos) out.push_back(h);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dict_path, corrections_path, out_dir, only;
    int jobs = 1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return Usage();
        if (a == "--dict") dict_path = argv[++i];
        else if (a == "--corrections") corrections_path = argv[++i];
        else if (a == "--out") out_dir = argv[++i];
        else if (a == "--jobs") jobs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--only") only = argv[++i];
        else return Usage();
    }
    if (dict_path.empty() || corrections_path.empty() || out_dir.empty()) return Usage();
    auto started = std::chrono::steady_clock::now();
    try {
        std::ifstream dict_file(dict_path), corrections_file(corrections_path);
        if (!dict_file) throw std::runtime_error("cannot open " + dict_path);
        if (!corrections_file) throw std::runtime_error("cannot open " + corrections_path);
        auto dict = voice_pack::ParseRimeDict(dict_file);
        auto corrections = voice_pack::ParseCorrections(corrections_file);
        auto hanzi = Select(voice_pack::Gb2312Hanzi(), only);
        if (!only.empty()) {
            std::set<std::string> chosen;
            for (const auto& h : hanzi) chosen.insert(h.utf8);
            std::erase_if(corrections, [&](const auto& c) { return !chosen.count(c.first); });
        }
        for (const auto& h : hanzi)
            if (voice_pack::Utf8ToGbk(h.utf8) != h.gbk) throw std::runtime_error(h.utf8 + ": GBK bytes differ");
        auto plan = voice_pack::PlanPack(hanzi, dict, corrections);
        for (const auto& e : plan.errors) std::fprintf(stderr, "voice_pack: %s\n", e.c_str());
        if (!plan.errors.empty()) return 1;
        auto problems = voice_pack::WritePack(plan, out_dir, jobs);
        for (const auto& p : problems) std::fprintf(stderr, "voice_pack: %s\n", p.c_str());
        if (!problems.empty()) return 1;
        uintmax_t bytes = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(out_dir))
            if (e.is_regular_file()) bytes += e.file_size();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("voice_pack: %zu characters, %zu sounds, %ju bytes in %s, %.1f s\n", plan.index.size(),
                    plan.sounds.size(), bytes, out_dir.c_str(), seconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "voice_pack: %s\n", e.what());
        return 1;
    }
    return 0;
}
