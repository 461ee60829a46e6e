// An error a member raises instead of returning a result; the dispatch
// layer turns it into DISP_E_EXCEPTION with this code and description.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/platform.h"

// The errors a control raises for files (FACILITY_CONTROL): "File not
// found" and "Permission denied".
constexpr SCODE kFileNotFoundError = static_cast<SCODE>(0x800A0035);
constexpr SCODE kPermissionDeniedError = static_cast<SCODE>(0x800A0046);

class AutomationError : public std::runtime_error {
public:
    AutomationError(SCODE code, const std::string& ansiDescription)
        : std::runtime_error(ansiDescription), code_(code) {}
    SCODE code() const { return code_; }

private:
    SCODE code_;
};
