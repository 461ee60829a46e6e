// The control's core: the module-wide records that belong to no subsystem
// (the event log and its flag, the control that events go to, the speech
// engine control, the module instance). Subsystems receive it explicitly.
#pragma once

#include <memory>
#include <string>

#include "control/core/control_site.h"
#include "control/core/event_log.h"
#include "control/core/text_to_speech.h"
#include "platform/platform.h"

struct Core {
    EventLog log;
    // The control whose window was created last; notifications that arrive
    // outside a method fire their events through it. Null when none.
    ControlSite* ActiveControl = nullptr;
    std::unique_ptr<CTextToSpeech> speech = std::make_unique<CTextToSpeech>();
    HINSTANCE instance = nullptr;

    void WriteLog(const char* text) const { log.Write(text); }
    void WriteLog(const std::string& text) const { log.Write(text); }
    // Fires on ActiveControl, when there is one.
    void FireActive(DISPID dispid, const std::vector<Variant>& args = {}) const {
        if (ActiveControl) ActiveControl->FireEvent(dispid, args);
    }
};
