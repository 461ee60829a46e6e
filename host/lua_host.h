// `marlune run APP.lua [CALLERS.lua]`: a voice application in Lua 5.4 on
// one control.
//
//   ctl:InitLine(0)                 members by name, late bound as a script
//   ctl.MonitorDtmf = true          host binds them (names without regard to
//   local n = ctl.OutID             case; arguments converted as automation
//                                   converts them)
//   function Ring(n) ... end        events call global functions of their
//                                   names, on the control's thread, between
//                                   messages; a handler may call the control
//   caller.offer{caller = "138..."} the caller's side: every host command
//   caller.keys{keys = "1#"}        of `marlune host`, by name, fields as a
//   caller.hangup()                 table; answers its result
//   at(5, fn)  after(2, fn)         run fn (as a coroutine) at clock time 5 s,
//   wait(1.5)                       or 2 s from now; wait() inside one goes on
//                                   1.5 s later, in the main chunk it runs
//                                   the clock for 1.5 s
//   now()  stop()  out_dir  script_dir
//   call_id()                       the call in progress: N of its folder
//                                   "call-N", which no run uses twice
//
// An automation error is raised as a table {description, code (the
// HRESULT), hresult ("0x8002000E"), argErr, scode, where}; tostring gives
// "app.lua:12: description (0x8002000E)". The session ends when nothing is
// scheduled and no call is up (or at --for, or stop()); every call's
// outputs go to a folder of its own under the output folder.
//
// Lua code that runs longer than the handler limit without giving the
// clock back (a handler, a task between waits, the main chunk between
// waits) is stopped with an error naming it and its line; SIGINT and
// SIGTERM stop the session wherever the script is. Lua code that needs
// more memory than the memory limit is stopped the same way. Either way a call that
// is up is hung up and what was recorded is kept.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/call_record.h"

// The exit status of a run that lost a recorded message (the rest of it
// went as it should).
inline constexpr int kLostMessages = 3;

struct LuaRunOptions {
    static constexpr double kDefaultMaxSeconds = 3600;
    static constexpr double kDefaultHandlerLimit = 5;
    static constexpr double kDefaultMemoryLimit = 256;

    std::string app;       // the application script
    std::string callers;   // the caller script (optional)
    std::string outDir = ".";
    bool realTime = false;
    bool sound = true;         // real time: the sound card plays through ALSA
    bool listen = false;       // real time: the line plays through ALSA instead
    double maxSeconds = kDefaultMaxSeconds;    // clock seconds at most (--for)
    double handlerLimit = kDefaultHandlerLimit;  // wall seconds one stretch of Lua code may run
    double memoryLimit = kDefaultMemoryLimit;    // megabytes the Lua state may hold (--memory-limit)
    bool trace = false;        // print every event as it is delivered
    bool summaries = true;     // print each call's summary as it ends
    bool modemSim = false;     // the AT library over the modem simulator
    bool history = true;       // keep the calls in the output folder's calls.db
    bool stopOnError = false;  // --on-error stop: an error in one call ends the run
};

class LuaHost {
public:
    explicit LuaHost(LuaRunOptions options);
    ~LuaHost();
    // Runs the session; 0 when it ended normally, 1 on an error (the
    // message is in error() and was printed to stderr), 128 + the signal
    // when SIGINT or SIGTERM stopped it.
    int Run();
    const std::string& error() const { return error_; }
    // The session's line tap: line_tap.wav, or line_tap-2.wav, ... beside
    // the taps of earlier runs.
    const std::string& lineTap() const { return lineTap_; }
    // Calls begun in the session.
    int callCount() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    std::string error_;
    std::string lineTap_;
};

// `marlune run ...`
int RunScriptCommand(int argc, char** argv);
