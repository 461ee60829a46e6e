// The automation surface of the control, as one member table: every member
// of _DMarlune and every event of _DMarluneEvents with its DISPID, kind,
// parameters and result. Dispatch by DISPID or by name goes through here,
// and so does everything that describes the interface (type library,
// host listing).
#pragma once

#include <string>
#include <vector>

#include "control/core/variant.h"
#include "platform/platform.h"

class CMarluneCtrl;

enum class ParamType { Long, Bool, String, Void };

struct ParamInfo {
    const char* name;
    ParamType type;
};

enum class MemberKind { Property, Method };

struct MemberInfo {
    DISPID dispid;
    const char* name;
    MemberKind kind;
    std::vector<ParamInfo> params;
    ParamType result;  // a property's type, or a method's result
    // Methods: called with arguments already converted to their types.
    Variant (*invoke)(CMarluneCtrl& ctrl, const std::vector<Variant>& args);
    // Properties.
    Variant (*get)(CMarluneCtrl& ctrl);
    void (*put)(CMarluneCtrl& ctrl, const Variant& value);
};

struct EventInfo {
    DISPID dispid;
    const char* name;
    std::vector<ParamInfo> params;
};

namespace automation {

constexpr const char* kLibraryName = "MARLUNELib";
constexpr const char* kDispatchName = "_DMarlune";
constexpr const char* kEventsName = "_DMarluneEvents";
constexpr const char* kCoclassName = "Marlune";

const std::vector<MemberInfo>& Members();
const std::vector<EventInfo>& Events();
const MemberInfo* FindMember(DISPID dispid);
const EventInfo* FindEvent(DISPID dispid);
const char* TypeName(ParamType type);

// Name lookup, without regard to case as automation does.
HRESULT GetIDOfName(const std::u16string& name, DISPID* dispid);
HRESULT GetIDOfName(const std::string& name, DISPID* dispid);

// Calls a member. `args` are in declaration order. Answers S_OK,
// DISP_E_MEMBERNOTFOUND, DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH,
// DISP_E_OVERFLOW or DISP_E_PARAMNOTOPTIONAL (argErr = the argument's
// position, counted from the last as IDispatch does; the member does not
// run) or DISP_E_EXCEPTION (excep filled from the member's error).
//
// Arguments are converted as VariantChangeType converts them:
//   to long:   a boolean is -1 or 0; a double or a decimal string rounds to
//              the nearest integer, halves to even (2.5 -> 2, 3.5 -> 4,
//              "7.5" -> 8); beyond -2147483648..2147483647 after rounding is
//              DISP_E_OVERFLOW; any other string or null is a mismatch.
//   to BOOL:   a number is true when not zero; "True"/"False" (any case) or
//              a numeric string; anything else is a mismatch.
//   to BSTR:   a long in decimal, a double with up to 15 digits ("2.5",
//              "1E+300"), a float with up to 7, a boolean as "True"/"False".
//   Empty converts to 0, false and "". Null, objects, arrays and error
//   values are a mismatch for every type, except an omitted argument (the
//   error DISP_E_PARAMNOTFOUND): DISP_E_PARAMNOTOPTIONAL.
HRESULT Invoke(CMarluneCtrl& ctrl, DISPID dispid, WORD flags, const std::vector<Variant>& args, Variant* result,
               ExcepInfo* excep, UINT* argErr);

// The parameter an argErr from Invoke points at, given the number of
// arguments passed: its name and type in the member table (a property's
// own name and type for a put).
ParamInfo ParameterAt(const MemberInfo& member, size_t argCount, UINT argErr);

}  // namespace automation
