// `marlune demo`: the sample balance line (examples/balance.lua) serving
// four scripted callers (examples/balance_callers.lua), a summary of each
// call printed as it ends, then where the outputs are.
//
// `marlune demo --json`: one incoming call scripted through the host
// protocol and printed as its JSON lines: the line rings with a caller id,
// the control answers, plays a greeting, collects two keys, records the
// caller's message, and the call ends. It closes with where the log and the
// sound files went.
#include <unistd.h>

#include <cstdio>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "control/core/event_log.h"
#include "host/json_host.h"
#include "host/lua_host.h"
#include "host/paths.h"
#include "platform/riff_wave.h"
#include "platform/sim/sim.h"

namespace {

// Writes 8 kHz 16-bit mono PCM: each note (Hz, seconds) in turn.
void WriteTones(const std::string& path, const std::vector<std::pair<double, double>>& notes) {
    std::vector<int16_t> samples;
    for (auto [hz, seconds] : notes) {
        int n = static_cast<int>(seconds * 8000);
        for (int i = 0; i < n; ++i) {
            double fade = std::min(1.0, std::min(i, n - i) / 200.0);
            samples.push_back(static_cast<int16_t>(
                hz > 0 ? 8000 * fade * std::sin(2 * M_PI * hz * i / 8000.0) : 0));
        }
    }
    riff::WriteFile(path, riff::Pcm16Format(8000), 16, samples.data(), static_cast<DWORD>(samples.size() * 2));
}

const std::vector<std::string> kScript = {
    R"({"id":1,"cmd":"tap","device":1,"path":"line_tap.wav"})",
    R"({"id":2,"call":"InitLine","args":[0]})",
    R"({"id":3,"call":"OpenLine","args":[0]})",
    R"({"id":4,"cmd":"offer","caller":"13800138000"})",
    R"({"id":5,"cmd":"ring","count":2,"interval":4})",
    R"({"id":6,"run":6})",
    R"({"id":7,"call":"GetTPNO"})",
    R"({"id":8,"call":"AnswerTp"})",
    R"({"id":9,"run":0.5})",
    R"({"id":10,"call":"BeginMonitorDtmf","args":[0]})",
    R"({"id":11,"call":"PlayWav","args":["greeting.wav",0]})",
    R"({"id":12,"run":2})",
    R"({"id":13,"cmd":"keys","keys":"1#","interval":0.4})",
    R"({"id":14,"run":1})",
    R"({"id":15,"call":"GetDtmf"})",
    R"({"id":16,"cmd":"caller_voice","wav":"caller.wav"})",
    R"({"id":17,"call":"RecordWav","args":[0,"message.wav",3]})",
    R"({"id":18,"run":4})",
    R"({"id":19,"call":"HandUp"})",
    R"({"id":20,"call":"CloseLine"})",
    R"({"id":21,"cmd":"tap","device":1})",
    R"({"id":22,"control":"destroy"})",
};

}  // namespace

int RunJsonDemo() {
    // The greeting is a short chime; the caller "speaks" a lower melody.
    WriteTones("greeting.wav", {{660, 0.3}, {880, 0.3}, {990, 0.6}});
    WriteTones("caller.wav", {{330, 0.5}, {0, 0.2}, {392, 0.5}, {0, 0.2}, {440, 1.0}});
    auto print = [](const nlohmann::json& j) {
        std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    };
    {
        JsonHost host(print);
        host.CreateControl();
        for (auto& line : kScript) {
            std::cout << "> " << line << '\n';
            host.HandleLine(line);
        }
    }
    char cwd[4096];
    std::string dir = getcwd(cwd, sizeof cwd) ? cwd : ".";
    std::cout << "sounds: " << dir << "/greeting.wav (played), " << dir << "/message.wav (recorded), " << dir
              << "/line_tap.wav (what the line heard)\n";
    std::cout << "log: " << dir << "/" << EventLog::FileNameFor(sim::WallTime()) << '\n';
    return 0;
}

int RunDemo(int argc, char** argv) {
    LuaRunOptions o;
    bool json = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--json") {
            json = true;
        } else if (a == "--real-time") {
            o.realTime = true;
        } else if (a == "--no-sound") {
            o.sound = false;
        } else if (a == "--listen") {
            o.listen = true;
        } else if (a == "--no-history") {
            o.history = false;
        } else if (a == "--out" && i + 1 < argc) {
            o.outDir = argv[++i];
        } else {
            fprintf(stderr, "usage: marlune demo [--out DIR] [--real-time] [--no-sound] [--listen] [--no-history] [--json]\n");
            return 2;
        }
    }
    if (json) return RunJsonDemo();
    const std::string examples = paths::ExamplesDir();
    o.app = examples + "/balance.lua";
    o.callers = examples + "/balance_callers.lua";
    std::cout << "The balance line (" << o.app << ") answers four simulated callers:\n\n";
    LuaHost host(o);
    if (int rc = host.Run(); rc != 0) return rc;
    const std::string dir = paths::Absolute(o.outDir, paths::Cwd());
    std::cout << "outputs: " << dir << "/call-N/ for each call: log.txt (the log of the call), heard.wav (what the\n"
              << "         caller heard), the recording, timeline.svg and timeline.png (the call on a time axis)\n"
              << "         " << host.lineTap() << ": the whole session as the line played it\n";
    std::cout << "log: " << dir << "/" << EventLog::FileNameFor(sim::WallTime()) << '\n';
    return 0;
}

extern "C" int marlune_demo(int argc, char** argv) { return RunDemo(argc, argv); }
