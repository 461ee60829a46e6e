// CTextToSpeech: the wrapper of the outside speech-synthesis control,
// hosted as an invisible child of the control's window. Three dispatch
// members are used: put 8 (output device id), invoke 2 (speak text) and
// get 10 (non-zero while speaking).
#pragma once

#include <memory>
#include <string>

#include "platform/child_control.h"
#include "platform/platform.h"

class CTextToSpeech {
public:
    static constexpr const char* kClsid = "{2398E32F-5C6E-11D1-8C65-0060081841DE}";
    static constexpr DWORD kStyle = 0x58000000;  // child, visible, disabled
    static constexpr UINT kChildId = 1000;
    static constexpr DISPID kDispDevice = 8;
    static constexpr DISPID kDispSpeak = 2;
    static constexpr DISPID kDispStatus = 10;

    // Creates the child control; the outcome is for callers that care.
    bool Create(HWND parent);
    bool IsCreated() const { return control_ != nullptr; }
    HWND GetSafeHwnd() const { return control_ ? control_->hwnd() : nullptr; }

    // Without a child control these do nothing and the status reads 0.
    // An error the component reports is raised as AutomationError.
    void SetDevice(LONG deviceId);
    void Speak(const std::string& ansiText);
    // Ends what is being spoken: an empty text to speak.
    void Stop();
    LONG GetStatus();

private:
    void Check(HRESULT hr) const;
    std::unique_ptr<ChildControl> control_;
};
