// The JSON-lines host: drives controls through automation, on either target
// (host/host_target.h).
//
//   {"id":1,"call":"InitLine","args":[0]}      -> {"id":1,"result":"..."}
//   {"id":2,"get":"OutID"}                     -> {"id":2,"result":-1}
//   {"id":3,"put":"MonitorDtmf","value":true}  -> {"id":3,"result":null}
//   {"id":4,"run":30}                          -> events..., {"id":4,"result":{"t":30.0}}
//   {"id":5,"control":"create"}                -> {"id":5,"result":{"ctl":2}}
//   {"id":6,"control":"destroy","ctl":2}       -> {"id":6,"result":"destroyed"}
//   {"id":7,"cmd":"<registered command>",...}  -> see host_commands.h
//
// call, get, put, destroy and cmd go to the control "ctl" names, or without
// it to the default control (the lowest-numbered one alive). Numbers count
// from 1 and are never reused.
//
// Every failure has one shape:
//   {"id":1,"error":{"kind":"automation"|"request"|"command","message":"...",
//                    "hresult":"0x80020005","argErr":0,"scode":"0x..."}}
// hresult only for automation, argErr for a type mismatch or overflow,
// scode for an error the member raised. A request is checked whole before
// anything runs; a refused one runs nothing.
//
// Everything the controls do on their own is written as it happens:
//   {"event":"Ring","ctl":1,"args":[1],"t":1.5}
//   {"messagebox":{"caption":"...","text":"...","answer":1},"ctl":1,"t":2.0}
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "host/host_commands.h"
#include "host/host_target.h"

class JsonHost {
public:
    using Output = std::function<void(const nlohmann::json&)>;

    // The longest {"run":N} (and command interval): one day of clock time.
    static constexpr double kMaxRunSeconds = 86400;
    // The deepest nesting of arrays and objects a request (or a value a
    // script passes) may have.
    static constexpr int kMaxDepth = 32;

    explicit JsonHost(Output out);
    ~JsonHost();

    // Handles one request line; every answer and event goes to the output.
    void HandleLine(const std::string& line);
    void Handle(const nlohmann::json& request);

    // Creates a control with its window created and its events connected;
    // answers its number.
    int CreateControl();
    // Destroys control `number`; false when no live control has it.
    bool DestroyControl(int number);
    // How many controls are alive.
    size_t Controls() const { return controls_.size(); }
    double Seconds() const;

private:
    int Validate(const nlohmann::json& request) const;
    nlohmann::json Call(int ctl, const nlohmann::json& request);
    void Emit(nlohmann::json j);

    Output out_;
    std::unique_ptr<HostTarget> target_;
    std::map<int, bool> controls_;  // the live ones
    int nextNumber_ = 1;
    int addressed_ = 0;  // the control a running request named, for message boxes
};

// A message box as the host reports it: its ANSI caption and text read in
// the system's code page and as Big5, their bytes, and the answer it got.
nlohmann::json MessageBoxNotice(const std::string& caption, const std::string& text, int answer);
// Handles request lines from stdin until its end, writing to stdout.
void ServeLines(JsonHost& host);
// Runs the host on stdin/stdout until end of input.
int RunHost(bool realTime, bool sound = true);
// `marlune demo [--out DIR] [--json]`: four callers on the sample balance
// line (--json: the request-by-request demonstration of the JSON host).
int RunDemo(int argc, char** argv);
// Prints the automation surface as a type-library viewer would.
int Describe();
int DescribeReference();
