#include "control/core/text_to_speech.h"

#include "control/core/automation_error.h"

bool CTextToSpeech::Create(HWND parent) {
    control_ = CreateChildControl(kClsid, parent, "1", kStyle, RECT{0, 0, 0, 0}, kChildId);
    return control_ != nullptr;
}

void CTextToSpeech::Check(HRESULT hr) const {
    if (FAILED(hr)) throw AutomationError(hr, control_->LastErrorDescription());
}

void CTextToSpeech::SetDevice(LONG deviceId) {
    if (control_) Check(control_->PutLong(kDispDevice, deviceId));
}

void CTextToSpeech::Speak(const std::string& ansiText) {
    if (control_) Check(control_->CallWithString(kDispSpeak, ansiText));
}

void CTextToSpeech::Stop() {
    if (control_ && GetStatus() != 0) Speak(std::string());
}

LONG CTextToSpeech::GetStatus() {
    if (!control_) return 0;
    LONG status = 0;
    Check(control_->GetLong(kDispStatus, &status));
    return status;
}
