// The Linux host: drives one control through automation from JSON lines.
//
//   {"id":1,"call":"InitLine","args":[0]}      -> {"id":1,"result":"..."}
//   {"id":2,"get":"OutID"}                     -> {"id":2,"result":-1}
//   {"id":3,"put":"MonitorDtmf","value":true}  -> {"id":3,"result":null}
//   {"id":4,"run":30}                          -> events..., {"id":4,"result":{"t":30.0}}
//   {"id":5,"control":"create"|"destroy"}      -> {"id":5,"result":...}
//   {"id":6,"cmd":"<registered command>",...}  -> see host_commands.h
//   failures: {"id":1,"error":{"hresult":"0x80020009","description":"..."}}
//
// Everything the control does on its own is written as it happens:
//   {"event":"Ring","args":[1],"t":1.5}
//   {"messagebox":{"caption":"...","text":"...","answer":1},"t":2.0}
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "control/marlune_ctrl.h"
#include "host/host_commands.h"

class JsonHost {
public:
    using Output = std::function<void(const nlohmann::json&)>;

    explicit JsonHost(Output out);
    ~JsonHost();

    // Handles one request line; every answer and event goes to the output.
    void HandleLine(const std::string& line);
    void Handle(const nlohmann::json& request);

    void CreateControl();
    void DestroyControl();
    CMarluneCtrl* control() { return ctrl_.get(); }
    Module& module() { return module_; }
    double Seconds() const;

private:
    class Sink;
    nlohmann::json Call(const nlohmann::json& request);
    nlohmann::json Error(HRESULT hr, const std::string& description) const;
    void Emit(nlohmann::json j);

    Output out_;
    Module& module_;
    std::unique_ptr<CMarluneCtrl> ctrl_;
    std::unique_ptr<Sink> sink_;
};

// Runs the host on stdin/stdout until end of input.
int RunHost(bool realTime);
// Runs the built-in demonstration script, printing what happens.
int RunDemo();
// Prints the automation surface as a type-library viewer would.
int Describe();
