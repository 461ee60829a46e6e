// `marlune number RUN` and `marlune say TEXT [--out FILE] [--line]`: the
// control's number reading, and a text spoken through PlayStr with the
// default voice pack, written to a WAV file of what was heard.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "control/core/event_log.h"
#include "host/json_host.h"
#include "host/paths.h"
#include "platform/code_page.h"
#include "platform/sim/sim.h"
#include "platform/sim/wave_devices.h"
#include "prompts/number_reading.h"

namespace {

constexpr UINT kGbk = 936;

using paths::Absolute;
using paths::Exists;
using paths::VoicePackDir;

// Appends the scratch folder's log to the caller's daily log.
void KeepLog(const std::string& scratchDir, const std::string& home) {
    const std::string name = EventLog::FileNameFor(sim::WallTime());
    std::ifstream in(scratchDir + "/" + name, std::ios::binary);
    if (!in) return;
    std::ofstream(home + "/" + name, std::ios::binary | std::ios::app) << in.rdbuf();
}

}  // namespace

int NumberCommand(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: marlune number RUN   (a run of digits, '.' and '/')\n");
        return 2;
    }
    Core core;  // no control: nothing is logged
    std::vector<std::string> words;
    std::cout << codepage::Convert(NumberToChinese(core, words, argv[2]), kGbk, CP_UTF8) << '\n';
    return 0;
}

int SayCommand(int argc, char** argv) {
    std::string text, out = "say.wav";
    bool line = false, haveText = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--line") {
            line = true;
        } else if (a == "--out" && i + 1 < argc) {
            out = argv[++i];
        } else if (!haveText) {
            text = a;
            haveText = true;
        } else {
            haveText = false;
            break;
        }
    }
    if (!haveText) {
        fprintf(stderr, "usage: marlune say TEXT [--out FILE] [--line]\n");
        return 2;
    }
    char cwd[PATH_MAX];
    const std::string home = getcwd(cwd, sizeof cwd) ? cwd : ".";
    out = Absolute(out, home);

    // The control reads "hanzi.dat", "wav\..." and "wu2.wav" from its
    // working directory: the caller's, when it holds a pack, else a scratch
    // folder that links the default pack.
    std::string work = home;
    if (!Exists(home + "/hanzi.dat")) {
        const std::string pack = VoicePackDir();
        if (!Exists(pack + "/hanzi.dat")) {
            std::vector<std::string> searched{home};
            for (auto& f : paths::VoicePackFolders()) searched.push_back(f);
            fprintf(stderr, "marlune say: %s\n", paths::NoVoicePack(searched).c_str());
            return 1;
        }
        char tmpl[] = "/tmp/marlune-say-XXXXXX";
        if (!mkdtemp(tmpl)) return 1;
        work = tmpl;
        for (const char* f : {"hanzi.dat", "wav", "wu2.wav"})
            if (symlink((pack + "/" + f).c_str(), (work + "/" + f).c_str()) != 0 && Exists(pack + "/" + f)) return 1;
    }
    if (chdir(work.c_str()) != 0) return 1;

    bool ended = false;
    std::string failure;
    JsonHost host([&](const nlohmann::json& j) {
        if (j.contains("event") && j["event"] == "EndPlayAll") ended = true;
        if (j.contains("error")) failure = j["error"].value("message", j["error"].dump());
    });
    host.CreateControl();
    const UINT device = line ? sim::kLineDevice : sim::kSoundCardDevice;
    std::vector<nlohmann::json> script;
    script.push_back({{"cmd", "tap"}, {"device", device}, {"path", out}});
    if (line) {
        script.push_back({{"call", "InitLine"}, {"args", {0}}});
        script.push_back({{"call", "OpenLine"}, {"args", {0}}});
        script.push_back({{"cmd", "offer"}, {"caller", "10086"}});
        script.push_back({{"run", 0.5}});
        script.push_back({{"call", "AnswerTp"}});
        script.push_back({{"run", 0.5}});
    }
    script.push_back({{"call", "PlayStr"}, {"args", {text, line ? 0 : 1}}});
    int id = 1;
    for (auto& r : script) {
        r["id"] = id++;
        host.Handle(r);
        if (!failure.empty()) break;
    }
    for (int s = 0; failure.empty() && !ended && s < 3600; ++s) host.Handle({{"id", id++}, {"run", 1}});
    if (line) host.Handle({{"id", id++}, {"call", "HandUp"}});
    host.Handle({{"id", id++}, {"cmd", "tap"}, {"device", device}});
    const double seconds = host.Seconds();
    while (host.Controls()) host.DestroyControl(1);
    if (chdir(home.c_str()) != 0) return 1;
    if (work != home) {
        KeepLog(work, home);
        // The scratch folder holds only the links and the log.
        for (const char* f : {"hanzi.dat", "wav", "wu2.wav"}) unlink((work + "/" + f).c_str());
        unlink((work + "/" + EventLog::FileNameFor(sim::WallTime())).c_str());
        rmdir(work.c_str());
    }
    if (!failure.empty()) {
        fprintf(stderr, "marlune say: %s\n", failure.c_str());
        return 1;
    }
    if (!ended) {
        fprintf(stderr, "marlune say: the text did not end within an hour\n");
        return 1;
    }
    printf("%s (%.1f s, %s)\n", out.c_str(), seconds, line ? "the line" : "the sound card");
    return 0;
}
