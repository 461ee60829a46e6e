// voice_pack: generates the default Mandarin voice pack.
//
//   voice_pack --unihan Unihan_Readings.txt[.bz2] --table pinyin_dict.go
//              --overrides overrides.txt --out DIR
//              [--jobs N] [--only TEXT] [--voice NAME] [--pitch N] [--range N]
//
// --only limits the pack to the GB2312 hanzi of TEXT (UTF-8; 无 is always added).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tools/voice_pack/pack.h"
#include "tools/voice_pack/readings.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: voice_pack --unihan FILE --table FILE --overrides FILE --out DIR [--jobs N] [--only TEXT]\n"
                 "                  [--voice NAME] [--pitch 0-100] [--range 0-100]\n");
    return 2;
}

std::vector<voice_pack::Hanzi> Select(const std::vector<voice_pack::Hanzi>& all, const std::string& only) {
    if (only.empty()) return all;
    std::vector<voice_pack::Hanzi> out;
    for (const auto& h : all)
        if (h.utf8 == "无" || only.find(h.utf8) != std::string::npos) out.push_back(h);
    return out;
}

// The file's text; Unihan as Debian ships it is compressed.
std::string ReadText(const std::string& path) {
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bz2") == 0) return voice_pack::ReadBzip2File(path);
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot open " + path);
    std::ostringstream text;
    text << f.rdbuf();
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    std::string unihan_path, table_path, overrides_path, out_dir, only;
    voice_pack::VoiceSettings voice;
    int jobs = 1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return Usage();
        if (a == "--unihan") unihan_path = argv[++i];
        else if (a == "--table") table_path = argv[++i];
        else if (a == "--overrides") overrides_path = argv[++i];
        else if (a == "--out") out_dir = argv[++i];
        else if (a == "--jobs") jobs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--only") only = argv[++i];
        else if (a == "--voice") voice.voice = argv[++i];
        else if (a == "--pitch") voice.pitch = std::clamp(std::atoi(argv[++i]), 0, 100);
        else if (a == "--range") voice.range = std::clamp(std::atoi(argv[++i]), 0, 100);
        else return Usage();
    }
    if (unihan_path.empty() || table_path.empty() || overrides_path.empty() || out_dir.empty()) return Usage();
    auto started = std::chrono::steady_clock::now();
    try {
        std::istringstream unihan_text(ReadText(unihan_path)), table_text(ReadText(table_path)),
            overrides_text(ReadText(overrides_path));
        auto unihan = voice_pack::ParseUnihan(unihan_text);
        auto table = voice_pack::ParsePinyinTable(table_text);
        auto overrides = voice_pack::ParseOverrides(overrides_text);
        if (unihan.empty()) throw std::runtime_error(unihan_path + ": no kMandarin readings");
        if (table.empty()) throw std::runtime_error(table_path + ": no readings");
        auto hanzi = Select(voice_pack::Gb2312Hanzi(), only);
        if (!only.empty()) {
            std::set<std::string> chosen;
            for (const auto& h : hanzi) chosen.insert(h.utf8);
            std::erase_if(overrides, [&](const auto& o) { return !chosen.count(o.first); });
        }
        for (const auto& h : hanzi)
            if (voice_pack::Utf8ToGbk(h.utf8) != h.gbk) throw std::runtime_error(h.utf8 + ": GBK bytes differ");
        auto plan = voice_pack::PlanPack(hanzi, unihan, table, overrides);
        for (const auto& e : plan.errors) std::fprintf(stderr, "voice_pack: %s\n", e.c_str());
        if (!plan.errors.empty()) return 1;
        auto problems = voice_pack::WritePack(plan, out_dir, jobs, voice);
        for (const auto& p : problems) std::fprintf(stderr, "voice_pack: %s\n", p.c_str());
        if (!problems.empty()) return 1;
        uintmax_t bytes = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(out_dir))
            if (e.is_regular_file()) bytes += e.file_size();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::string rules;
        for (const auto& [rule, count] : plan.rules)
            rules += (rules.empty() ? "" : ", ") + std::to_string(count) + " " + voice_pack::RuleName(rule);
        std::printf("voice_pack: %zu hanzi (%s), %zu index entries, %zu sounds, %ju bytes in %s, %.1f s\n",
                    hanzi.size(), rules.c_str(), plan.index.size(), plan.sounds.size(), bytes, out_dir.c_str(),
                    seconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "voice_pack: %s\n", e.what());
        return 1;
    }
    return 0;
}
