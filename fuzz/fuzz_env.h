// Fuzz target support: a fresh platform and Module per input, with a
// control whose window exists, in the current directory (scripts/fuzz.sh
// runs every target in a scratch directory). The day's log file is removed
// after each input so that it does not grow without end.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "control/core/automation_error.h"
#include "control/core/event_log.h"
#include "control/front/marlune_ctrl.h"
#include "control/front/module.h"
#include "platform/sim/sim.h"

namespace fuzzenv {

// 2004-03-05 09:00:00 UTC.
constexpr time_t kEpoch = 1078477200;

inline void WriteFile(const char* path, const void* data, size_t size) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

class Session {
public:
    Session() {
        sim::Reset();
        sim::SetEpoch(kEpoch);
        module = std::make_unique<Module>();
        module->MakeCurrent();
        ctrl = std::make_unique<CMarluneCtrl>(*module);
        ctrl->CreateControlWindow(nullptr, RECT{0, 0, 100, 50});
    }
    ~Session() {
        ctrl.reset();
        module.reset();
        const std::string log = EventLog::FileNameFor(sim::WallTime());
        sim::Reset();
        unlink(log.c_str());
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::unique_ptr<Module> module;
    std::unique_ptr<CMarluneCtrl> ctrl;
};

}  // namespace fuzzenv
