// Automation values as they cross the dispatch interface: 32-bit integers,
// doubles, booleans, UTF-16 strings and null, with the VT_ numbers of the
// platform. Members take longs, booleans and strings; doubles and null only
// arrive from a caller and are converted (or refused) at dispatch.
#pragma once

#include <string>

#include "platform/platform.h"

enum class VarType : unsigned short { Empty = 0, Null = 1, I4 = 3, R8 = 5, BStr = 8, Bool = 11 };

struct Variant {
    VarType vt = VarType::Empty;
    LONG lVal = 0;            // I4; Bool as VARIANT_BOOL (-1 true, 0 false)
    double dblVal = 0;        // R8
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
