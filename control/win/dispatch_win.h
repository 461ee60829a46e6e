// The control's values at the COM boundary: VARIANT <-> Variant (strings
// through the ANSI code page by the core's conversion), DISPPARAMS in
// declaration order, EXCEPINFO from a member's error.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "control/core/variant.h"

namespace ocx {

// A VARIANT as the portable value that keeps its kind, so that the member
// table converts it by the same rules on every target. By-reference
// arguments are read through. Integers of every width become I4 (R8 when
// they do not fit), currency, decimals and dates R8 (a date as its day
// number), VT_ERROR keeps its code; arrays come back Array, and objects
// and the kinds no parameter converts from come back Object.
Variant FromVariant(const VARIANT& in);
void ToVariant(const Variant& in, VARIANT* out);
// The positional arguments of `params` (last first) in declaration order.
std::vector<Variant> Arguments(const DISPPARAMS& params);
void FillExcepInfo(const ExcepInfo& in, EXCEPINFO* out);

}  // namespace ocx
