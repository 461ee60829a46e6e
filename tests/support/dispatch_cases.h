// Arguments as automation callers pass them, and what dispatch must answer:
// one table, run in this order on one control (refusals first, so that
// nothing has yet written what a member that ran would write) through the member table on
// Linux and through MARLUNE.OCX's IDispatch under Wine, so that both targets
// convert and refuse alike. No voice pack is present: PlayStr logs the text
// it received, then fails for want of the character index.
// Text literals are compiled to GBK, as the log is.
#pragma once

#include <vector>

#include "platform/platform.h"

namespace dispatch_cases {

enum class Kind { Long, Double, Float, String, Bool, Null, Empty, Missing, Error, Array, Object };

struct Arg {
    Kind kind;
    double number = 0;             // Long, Double, Float, Bool (non-zero is true), Error (the SCODE)
    const char16_t* text = nullptr;  // String
    bool byRef = false;            // passed as a VT_BYREF variant (Windows only; the same value elsewhere)
};

inline Arg L(LONG v) { return {Kind::Long, static_cast<double>(v)}; }
inline Arg D(double v, bool byRef = false) { return {Kind::Double, v, nullptr, byRef}; }
inline Arg F(float v) { return {Kind::Float, v}; }
inline Arg S(const char16_t* v, bool byRef = false) { return {Kind::String, 0, v, byRef}; }
inline Arg B(bool v) { return {Kind::Bool, v ? 1.0 : 0.0}; }
inline Arg Of(Kind k) { return {k}; }
inline Arg Err(SCODE code) { return {Kind::Error, static_cast<double>(code)}; }

constexpr LONG kNoResult = -999;     // the call answers no long to compare
constexpr UINT kArgErrUnset = 777;  // argErr as the caller set it: left alone on success

struct Case {
    const char* member;
    bool put;  // a property put (the property is read back into `result`)
    std::vector<Arg> args;
    HRESULT hr;
    UINT argErr;          // kArgErrUnset when hr is not a refused argument
    LONG result;          // kNoResult when not compared
    const char* logged;   // an entry the call writes, or null
    const char* notLogged;  // an entry that shows the member ran, or null
};

inline std::vector<Case> Cases() {
    const UINT none = kArgErrUnset;
    const HRESULT noVoicePack = DISP_E_EXCEPTION;
    return {
        // Values no parameter takes: refused, and the member does not run.
        {"OpenLine", false, {Of(Kind::Null)}, DISP_E_TYPEMISMATCH, 0, kNoResult, nullptr, "线路句柄为空"},
        {"PlayWav", false, {Of(Kind::Array), L(1)}, DISP_E_TYPEMISMATCH, 1, kNoResult, nullptr, "取输出设备"},
        {"PlayWav", false, {Of(Kind::Object), L(1)}, DISP_E_TYPEMISMATCH, 1, kNoResult, nullptr, "取输出设备"},
        {"PlayStr", false, {Of(Kind::Null), L(1)}, DISP_E_TYPEMISMATCH, 1, kNoResult, nullptr, nullptr},
        {"ChangeCall", false, {L(1), Of(Kind::Null)}, DISP_E_TYPEMISMATCH, 0, kNoResult, nullptr, nullptr},
        {"MakeParty", false, {Err(E_FAIL)}, DISP_E_TYPEMISMATCH, 0, kNoResult, nullptr, nullptr},
        // An omitted argument for a parameter that is not optional.
        {"CallOut", false, {Of(Kind::Missing), S(u"555")}, DISP_E_PARAMNOTOPTIONAL, 1, kNoResult, nullptr, nullptr},
        {"RecordWav", false, {L(1), S(u"x.wav"), Of(Kind::Missing)}, DISP_E_PARAMNOTOPTIONAL, 0, kNoResult, nullptr,
         nullptr},
        {"MakeParty", false, {Of(Kind::Missing)}, DISP_E_PARAMNOTOPTIONAL, 0, kNoResult, nullptr, nullptr},
        // Doubles and floats for a string parameter arrive as their text.
        {"PlayStr", false, {D(3.75), L(1)}, noVoicePack, none, kNoResult, "传入数据:3.75", "传入数据:4"},
        {"PlayStr", false, {D(12.5, true), L(1)}, noVoicePack, none, kNoResult, "传入数据:12.5", nullptr},
        {"PlayStr", false, {F(0.3f), L(1)}, noVoicePack, none, kNoResult, "传入数据:0.3", nullptr},
        {"PlayStr", false, {D(1e300), L(1)}, noVoicePack, none, kNoResult, "传入数据:1E+300", nullptr},
        // Longs: halves to the even integer; beyond the range an overflow.
        {"OutID", true, {D(2.5)}, S_OK, none, 2, nullptr, nullptr},
        {"OutID", true, {D(3.5, true)}, S_OK, none, 4, nullptr, nullptr},
        {"OutID", true, {S(u"7.5", true)}, S_OK, none, 8, nullptr, nullptr},
        {"OutID", true, {F(-2.5f)}, S_OK, none, -2, nullptr, nullptr},
        {"OutID", true, {Of(Kind::Empty)}, S_OK, none, 0, nullptr, nullptr},
        {"MakeParty", false, {D(1e300)}, DISP_E_OVERFLOW, 0, kNoResult, nullptr, nullptr},
        {"OutID", true, {D(-2147483649.0)}, DISP_E_OVERFLOW, 0, 0, nullptr, nullptr},
        // Converted arguments run the member; the last one leaves the
        // speech list busy.
        {"MakeParty", false, {D(3.4)}, S_OK, none, 0, nullptr, nullptr},
        {"MakeParty", false, {B(true)}, S_OK, none, 0, nullptr, nullptr},
        {"PlayAllisEnglish", false, {D(12.5), L(1)}, S_OK, none, 0, "12.5", nullptr},
    };
}

}  // namespace dispatch_cases
