// `marlune demo`: a short scripted session with the control, printed as the
// host protocol's JSON lines, ending with where the log went.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "control/event_log.h"
#include "host/json_host.h"
#include "platform/sim/sim.h"

namespace {

const std::vector<std::string> kScript = {
    R"({"id":1,"call":"Test"})",
    R"({"id":2,"run":0.01})",
    R"({"id":3,"get":"OutID"})",
    R"({"id":4,"put":"MonitorDtmf","value":true})",
    R"({"id":5,"get":"MonitorDtmf"})",
    R"({"id":6,"call":"GetDialogicVbus"})",
    R"({"id":7,"call":"ChangeCall","args":[1,"5551234"]})",
    R"({"id":8,"call":"OpenLine","args":["not a number"]})",
    R"({"id":9,"call":"NoSuchMethod"})",
    R"({"id":10,"control":"destroy"})",
};

}  // namespace

int RunDemo() {
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
    std::cout << "log: " << dir << "/" << EventLog::FileNameFor(sim::WallTime()) << '\n';
    return 0;
}
