// What a subsystem sees of the control it works for: its window (the
// target of device notifications and the speech timer), its events and its
// OutID property. CMarluneCtrl implements it; notifications that arrive
// outside a method reach the module's ActiveControl.
#pragma once

#include <vector>

#include "control/core/variant.h"
#include "platform/platform.h"

// Event DISPIDs of _DMarluneEvents.
enum MarluneEvent : DISPID {
    EVENT_EndRecord = 1,
    EVENT_EndPlay = 2,
    EVENT_RecordDevOpen = 3,
    EVENT_DtmfIn = 4,
    EVENT_DisConnected = 5,
    EVENT_IsConnect = 6,
    EVENT_TextAll = 7,
    EVENT_LineIsFree = 8,
    EVENT_Ring = 9,
    EVENT_EndPlayAll = 10,
    EVENT_CallIDIn = 11,
};

// The control window's only timer.
constexpr UINT_PTR SpeechTimer = 10;
constexpr UINT SpeechTimerPeriod = 1;

class ControlSite {
public:
    virtual HWND Window() const = 0;
    // Fires an event synchronously to every connected sink; a sink's error
    // is discarded.
    virtual void FireEvent(DISPID dispid, const std::vector<Variant>& args) = 0;
    // The OutID property follows each output device choice.
    virtual void SetOutID(LONG id) = 0;

protected:
    ~ControlSite() = default;
};
