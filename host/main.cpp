// marlune: the host of the control. Its verbs and their options:
// host/usage.cpp (`marlune help`). marlune.exe, the Windows build, has the
// JSON host over MARLUNE.OCX only.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/caller_side.h"
#include "host/host_commands.h"
#include "host/json_host.h"
#include "host/line_options.h"
#include "host/usage.h"
#ifndef _WIN32
#include "host/modules.h"
#include "platform/platform.h"
#endif

int NumberCommand(int argc, char** argv);
int SayCommand(int argc, char** argv);

namespace {

int Help() {
    fputs(Usage().c_str(), stdout);
    return 0;
}

}  // namespace

#ifdef _WIN32
int main(int argc, char** argv) {
    std::string verb = argc > 1 ? argv[1] : "help";
    if (verb == "host") {
        // Always on the wall clock, with Windows' own sound devices.
        for (int i = 2; i < argc; ++i)
            if (strcmp(argv[i], "--real-time") != 0 && strcmp(argv[i], "--no-sound") != 0) {
                fprintf(stderr, "marlune: unknown host option '%s'\n", argv[i]);
                return 2;
            }
        return RunHost(true);
    }
    if (verb == "help" || verb == "--help" || verb == "-h") return Help();
    fprintf(stderr, "marlune: unknown command '%s' (marlune.exe has \"host\" only)\n", verb.c_str());
    return 2;
}
#else
int main(int argc, char** argv) {
    // The virtual modem is part of this program: the control's "TAPI32.DLL"
    // is the program itself unless mapped to another library (--modem).
    sim::ProvideLibrary("TAPI32.DLL");
    std::string verb = argc > 1 ? argv[1] : "help";
    if (verb == "host") {
        bool realTime = false, sound = true, simulated = false;
        LineOptions line;
        std::string error;
        for (int i = 2; i < argc; ++i) {
            if (strcmp(argv[i], "--real-time") == 0) {
                realTime = true;
            } else if (strcmp(argv[i], "--no-sound") == 0) {
                sound = false;
            } else if (TakeLineOption(argc, argv, i, line, error)) {
                // A voice modem on a serial device or a SIP line: its
                // telephony library is loaded as "TAPI32.DLL", on the wall clock.
                realTime = true;
            } else if (!error.empty()) {
                fprintf(stderr, "marlune: %s\n", error.c_str());
                return 2;
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
        if ((simulated && line.Chosen()) || !UseLine(line, error)) {
            fprintf(stderr, "marlune: %s\n", simulated ? "--modem-sim takes no other line" : error.c_str());
            return 2;
        }
        int status = RunHost(realTime, sound);
        if (simulated) StopSimulatedModem();
        return status;
    }
    if (verb == "run") return RunModuleVerb("lua", "marlune_run", argc, argv);
    if (verb == "demo") return RunModuleVerb("lua", "marlune_demo", argc, argv);
    if (verb == "describe") return argc > 2 && strcmp(argv[2], "--reference") == 0 ? DescribeReference() : Describe();
    if (verb == "number") return NumberCommand(argc, argv);
    if (verb == "say") return SayCommand(argc, argv);
    if (verb == "calls") return RunModuleVerb("calls", "marlune_calls", argc, argv);
    if (verb == "serve") return RunModuleVerb("calls", "marlune_serve", argc, argv);
    if (verb == "help" || verb == "--help" || verb == "-h") return Help();
    fprintf(stderr, "marlune: unknown command '%s'\n", verb.c_str());
    Help();
    return 2;
}
#endif
