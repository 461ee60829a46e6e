// Module-wide state: every record the subsystems share, once per loaded
// module. Production code has one (Module::Current()); a test makes a fresh
// one and makes it current.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio/playback_state.h"
#include "audio/record_state.h"
#include "audio/wave_sound.h"
#include "control/event_log.h"
#include "prompts/play_list_state.h"
#include "telephony/line_state.h"
#include "telephony/tapi_binding.h"

class CMarluneCtrl;
class CTextToSpeech;

struct Module {
    Module();
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    LineState line;
    TapiBinding tapi;
    WaveSound sound;
    PlaybackState playback;
    RecordState record;
    PlayList playList;
    std::vector<std::string> DigitWords;
    EventLog log;
    HANDLE CommHandle = nullptr;
    std::unique_ptr<CTextToSpeech> speech;
    CMarluneCtrl* ActiveControl = nullptr;
    HINSTANCE instance = nullptr;

    // Writes one log entry (nothing until a control has been constructed).
    void WriteLog(const char* text) const { log.Write(text); }
    void WriteLog(const std::string& text) const { log.Write(text); }

    // The module the control code serves; set by the constructor of the
    // first Module and by MakeCurrent.
    static Module& Current();
    static Module* CurrentOrNull();
    void MakeCurrent();
};
