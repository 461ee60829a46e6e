// marlune: the Linux host of the control.
//   marlune host [--real-time] [--no-sound] [--modem DEVICE | --modem-sim]   JSON lines on stdin/stdout
//   marlune run APP.lua [CALLERS.lua] [--out DIR] [--real-time] [--no-sound] [--listen] [--for S] [--trace]
//                                [--handler-limit S] [--modem-sim] [--no-history]
//                                a voice application in Lua
//   marlune demo                 four callers on the sample balance line
//   marlune calls DIR [filters] [--json]   the call history of an output folder
//   marlune serve DIR [--port N] [--bind ADDRESS]   the call history as web pages
//   marlune describe [--reference]  the automation surface (as Markdown tables)
//   marlune number RUN           the Chinese reading of a number run
//   marlune say TEXT [--out FILE] [--line]   speak a text, write what was heard
//   marlune help                 this text and the host's commands
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/caller_side.h"
#include "host/host_commands.h"
#include "host/json_host.h"
#include "host/lua_host.h"

int NumberCommand(int argc, char** argv);
int SayCommand(int argc, char** argv);
int CallsCommand(int argc, char** argv);
int ServeCommand(int argc, char** argv);

namespace {

int Help() {
    printf("usage: marlune host [--real-time] [--no-sound] [--modem DEVICE | --modem-sim] | run APP.lua [CALLERS.lua]\n"
           "       [--out DIR] [--real-time] [--no-sound] [--listen] [--for SECONDS] [--handler-limit SECONDS] [--trace]\n"
           "       [--modem-sim] [--no-history]\n"
           "       | demo [--out DIR] [--real-time] [--no-sound] [--listen] [--no-history] [--json] | describe [--reference] | number RUN | say TEXT [--out FILE] [--line] | help\n"
           "       | calls DIR [--number N] [--from DATE] [--to DATE] [--recorded yes|no] [--ended HOW] [--limit N] [--json]\n"
           "       | serve DIR [--port N] [--bind ADDRESS]\n\n");
    printf("host requests (one JSON object per line):\n");
    printf("  {\"id\":1,\"call\":\"InitLine\",\"args\":[0]}   call a method\n");
    printf("  {\"id\":2,\"get\":\"OutID\"}  {\"id\":3,\"put\":\"MonitorDtmf\",\"value\":true}\n");
    printf("  {\"id\":4,\"run\":30}                       advance the clock 30 s, delivering what is due\n");
    printf("  {\"id\":5,\"control\":\"create\"}             another control; answers {\"ctl\":N}\n");
    printf("  {\"id\":6,\"control\":\"destroy\",\"ctl\":N}\n");
    printf("  {\"id\":7,\"cmd\":NAME,...}                 one of:\n");
    for (auto& [name, info] : HostCommands()) printf("      %-14s %s\n", name.c_str(), info.usage.c_str());
    printf("\n\"ctl\":N sends call, get, put, destroy or cmd to control N (default: the lowest alive).\n");
    printf("failures: {\"id\":1,\"error\":{\"kind\":\"automation\"|\"request\"|\"command\",\"message\":...,\n");
    printf("           \"hresult\":\"0x...\",\"argErr\":N}} (hresult and argErr for automation only)\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string verb = argc > 1 ? argv[1] : "help";
    if (verb == "host") {
        bool realTime = false, sound = true, simulated = false;
        for (int i = 2; i < argc; ++i) {
            if (strcmp(argv[i], "--real-time") == 0) {
                realTime = true;
            } else if (strcmp(argv[i], "--no-sound") == 0) {
                sound = false;
            } else if (strcmp(argv[i], "--modem") == 0 && i + 1 < argc) {
                // A voice modem on a serial device: the AT telephony library
                // is loaded as "TAPI32.DLL", on the wall clock.
                setenv("MARLUNE_MODEM", argv[++i], 1);
                setenv("MARLUNE_DLL_MAP", "TAPI32.DLL=libtapi32_at.so", 1);
                realTime = true;
            } else if (strcmp(argv[i], "--modem-sim") == 0) {
                // The AT telephony library over a modem simulator that the
                // caller commands script, on the virtual clock.
                std::string error;
                if (!UseSimulatedModem(error)) {
                    fprintf(stderr, "marlune: %s\n", error.c_str());
                    return 1;
                }
                simulated = true;
            } else {
                fprintf(stderr, "marlune: unknown host option '%s'\n", argv[i]);
                return 2;
            }
        }
        int status = RunHost(realTime, sound);
        if (simulated) StopSimulatedModem();
        return status;
    }
    if (verb == "run") return RunScriptCommand(argc, argv);
    if (verb == "demo") return RunDemo(argc, argv);
    if (verb == "describe") return argc > 2 && strcmp(argv[2], "--reference") == 0 ? DescribeReference() : Describe();
    if (verb == "number") return NumberCommand(argc, argv);
    if (verb == "say") return SayCommand(argc, argv);
    if (verb == "calls") return CallsCommand(argc, argv);
    if (verb == "serve") return ServeCommand(argc, argv);
    if (verb == "help" || verb == "--help" || verb == "-h") return Help();
    fprintf(stderr, "marlune: unknown command '%s'\n", verb.c_str());
    Help();
    return 2;
}
