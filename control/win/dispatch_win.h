// The control's values at the COM boundary: VARIANT <-> Variant (strings
// through the ANSI code page by the core's conversion), DISPPARAMS in
// declaration order, EXCEPINFO from a member's error.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "control/core/variant.h"

namespace ocx {

// By-reference arguments are read through; numbers become I4. A value of
// another kind comes back Empty, which the member table reports as a type
// mismatch.
Variant FromVariant(const VARIANT& in);
void ToVariant(const Variant& in, VARIANT* out);
// The positional arguments of `params` (last first) in declaration order.
std::vector<Variant> Arguments(const DISPPARAMS& params);
void FillExcepInfo(const ExcepInfo& in, EXCEPINFO* out);

}  // namespace ocx
