// The loaded module: the core's records and each subsystem, once per
// module, shared by every control object. Production code has one
// (Module::Current()); a test makes a fresh one and makes it current.
#pragma once

#include <string>
#include <vector>

#include "audio/playback.h"
#include "audio/recording.h"
#include "control/core/core.h"
#include "datalink/data_link.h"
#include "prompts/play_list.h"
#include "prompts/text_composer.h"
#include "telephony/line.h"

struct Module {
    Module();
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    Core core;
    Line line{core};
    Playback playback{core, line};
    Recorder record{core, line};
    PlaySequencer playList{core, playback};
    TextComposer composer{core, line, playback, playList};
    DataLink datalink{core, line};

    void WriteLog(const char* text) const { core.WriteLog(text); }
    void WriteLog(const std::string& text) const { core.WriteLog(text); }

    // The module the control code serves; set by the constructor of the
    // first Module and by MakeCurrent.
    static Module& Current();
    void MakeCurrent();
};
