// An error a member raises instead of returning a result; the dispatch
// layer turns it into DISP_E_EXCEPTION with this code and description.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/platform.h"

class AutomationError : public std::runtime_error {
public:
    AutomationError(SCODE code, const std::string& ansiDescription)
        : std::runtime_error(ansiDescription), code_(code) {}
    SCODE code() const { return code_; }

private:
    SCODE code_;
};
