// The automation surface of the control, as one member table: every member
// of _DMarlune and every event of _DMarluneEvents with its DISPID, kind,
// parameters and result. Dispatch by DISPID or by name goes through here,
// and so does everything that describes the interface (type library,
// host listing).
#pragma once

#include <string>
#include <vector>

#include "control/variant.h"
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
// DISP_E_MEMBERNOTFOUND, DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH (argErr
// = the argument's position, counted from the last as IDispatch does) or
// DISP_E_EXCEPTION (excep filled from the member's error).
HRESULT Invoke(CMarluneCtrl& ctrl, DISPID dispid, WORD flags, const std::vector<Variant>& args, Variant* result,
               ExcepInfo* excep, UINT* argErr);

}  // namespace automation
