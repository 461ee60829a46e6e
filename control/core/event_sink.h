// A connected event sink: receives each event as a method call by DISPID,
// with the arguments in declaration order.
#pragma once

#include <vector>

#include "control/core/variant.h"

class IEventSink {
public:
    virtual ~IEventSink() = default;
    virtual HRESULT Invoke(DISPID dispid, const std::vector<Variant>& args) = 0;
};
