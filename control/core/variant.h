// Automation values as they cross the dispatch interface: 32-bit integers,
// floats and doubles, booleans, UTF-16 strings, null, error codes (an
// omitted argument is DISP_E_PARAMNOTFOUND), objects and arrays, with the
// VT_ numbers of the platform. Members take longs, booleans and strings;
// the other kinds only arrive from a caller and are converted (or refused)
// at dispatch, by one set of rules on every target.
#pragma once

#include <string>

#include "platform/platform.h"

enum class VarType : unsigned short {
    Empty = 0,
    Null = 1,
    I4 = 3,
    R4 = 4,
    R8 = 5,
    BStr = 8,
    Object = 9,  // an object, or a value of a kind no parameter converts from
    Error = 10,
    Bool = 11,
    Array = 0x2000,
};

struct Variant {
    VarType vt = VarType::Empty;
    LONG lVal = 0;            // I4; Bool as VARIANT_BOOL (-1 true, 0 false); Error's SCODE
    double dblVal = 0;        // R8, R4
    std::u16string bstrVal;   // BStr

    static Variant Long(LONG v) {
        Variant r;
        r.vt = VarType::I4;
        r.lVal = v;
        return r;
    }
    static Variant Double(double v) {
        Variant r;
        r.vt = VarType::R8;
        r.dblVal = v;
        return r;
    }
    static Variant Float(float v) {
        Variant r;
        r.vt = VarType::R4;
        r.dblVal = v;
        return r;
    }
    static Variant Error(SCODE code) {
        Variant r;
        r.vt = VarType::Error;
        r.lVal = code;
        return r;
    }
    // An argument the caller left out.
    static Variant Missing() { return Error(DISP_E_PARAMNOTFOUND); }
    static Variant Of(VarType vt) {
        Variant r;
        r.vt = vt;
        return r;
    }
    static Variant Null() {
        Variant r;
        r.vt = VarType::Null;
        return r;
    }
    static Variant Bool(bool v) {
        Variant r;
        r.vt = VarType::Bool;
        r.lVal = v ? -1 : 0;
        return r;
    }
    static Variant String(std::u16string v) {
        Variant r;
        r.vt = VarType::BStr;
        r.bstrVal = std::move(v);
        return r;
    }
    bool operator==(const Variant& o) const {
        return vt == o.vt && lVal == o.lVal && dblVal == o.dblVal && bstrVal == o.bstrVal;
    }
};

// Filled when a member ends with DISP_E_EXCEPTION.
struct ExcepInfo {
    SCODE scode = 0;
    std::u16string source;
    std::u16string description;
};

// Text conversion at the automation boundary: UTF-16 <-> the ANSI code page.
std::string ToAnsi(const std::u16string& wide);
std::u16string FromAnsi(const std::string& ansi);
