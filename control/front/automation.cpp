#include "control/front/automation.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "control/core/automation_error.h"
#include "control/front/marlune_ctrl.h"

namespace {

using Args = std::vector<Variant>;

LONG L(const Args& a, size_t i) { return a[i].lVal; }
std::string S(const Args& a, size_t i) { return ToAnsi(a[i].bstrVal); }
Variant R(LONG v) { return Variant::Long(v); }
Variant R(const std::string& ansi) { return Variant::String(FromAnsi(ansi)); }

constexpr ParamType Lg = ParamType::Long;
constexpr ParamType St = ParamType::String;

#define METHOD(id, name, params, result, body)                                                     \
    MemberInfo {                                                                                   \
        id, #name, MemberKind::Method, params, result,                                             \
            [](CMarluneCtrl& c, const Args& a) -> Variant {                                        \
                (void)a;                                                                           \
                return R(body);                                                                    \
            },                                                                                     \
            nullptr, nullptr                                                                       \
    }

std::vector<MemberInfo> BuildMembers() {
    using P = std::vector<ParamInfo>;
    std::vector<MemberInfo> m;
    m.push_back(MemberInfo{1, "MonitorDtmf", MemberKind::Property, {}, ParamType::Bool, nullptr,
                           [](CMarluneCtrl& c) { return Variant::Bool(c.m_monitorDtmf != FALSE); },
                           [](CMarluneCtrl& c, const Variant& v) { c.m_monitorDtmf = v.lVal != 0; }});
    m.push_back(MemberInfo{2, "OutID", MemberKind::Property, {}, ParamType::Long, nullptr,
                           [](CMarluneCtrl& c) { return Variant::Long(c.m_outID); },
                           [](CMarluneCtrl& c, const Variant& v) { c.m_outID = v.lVal; }});
    m.push_back(METHOD(3, InitLine, (P{{"Index", Lg}}), St, c.InitLine(L(a, 0))));
    m.push_back(METHOD(4, OpenLine, (P{{"Index", Lg}}), Lg, c.OpenLine(L(a, 0))));
    m.push_back(METHOD(5, AnswerTp, P{}, Lg, c.AnswerTp()));
    m.push_back(METHOD(6, GetTPNO, P{}, St, c.GetTPNO()));
    m.push_back(METHOD(7, GetDtmf, P{}, St, c.GetDtmf()));
    m.push_back(METHOD(8, HandUp, P{}, Lg, c.HandUp()));
    m.push_back(METHOD(9, BeginMonitorDtmf, (P{{"Index", Lg}}), Lg, c.BeginMonitorDtmf(L(a, 0))));
    m.push_back(METHOD(10, CancelMonitor, (P{{"Index", Lg}}), Lg, c.CancelMonitor(L(a, 0))));
    m.push_back(METHOD(11, CallOut, (P{{"Index", Lg}, {"szNumber", St}}), Lg, c.CallOut(L(a, 0), S(a, 1))));
    m.push_back(METHOD(12, ClearDTMF, (P{{"Index", Lg}}), Lg, c.ClearDTMF(L(a, 0))));
    m.push_back(METHOD(13, PlayWav, (P{{"FileName", St}, {"Dev", Lg}}), Lg, c.PlayWav(S(a, 0), L(a, 1))));
    m.push_back(METHOD(14, RecordWav, (P{{"Dev", Lg}, {"FileName", St}, {"Time", Lg}}), Lg,
                       c.RecordWav(L(a, 0), S(a, 1), L(a, 2))));
    m.push_back(METHOD(15, CloseLine, P{}, Lg, c.CloseLine()));
    m.push_back(METHOD(16, StopPlayWav, P{}, Lg, c.StopPlayWav()));
    m.push_back(METHOD(17, PlayStr, (P{{"PlayStr", St}, {"Dev", Lg}}), Lg, c.PlayStr(S(a, 0), L(a, 1))));
    m.push_back(METHOD(18, PlayTxtFile, (P{{"FileName", St}, {"Dev", Lg}}), Lg, c.PlayTxtFile(S(a, 0), L(a, 1))));
    m.push_back(METHOD(19, GetOutID, (P{{"Dev", Lg}}), Lg, c.GetOutID(L(a, 0))));
    m.push_back(METHOD(20, Test, P{}, Lg, c.Test()));
    m.push_back(METHOD(21, PlayAllisEnglish, (P{{"Str", St}, {"Dev", Lg}}), Lg,
                       c.PlayAllisEnglish(S(a, 0), L(a, 1))));
    m.push_back(METHOD(23, SendData, (P{{"SendStr", St}}), Lg, c.SendData(S(a, 0))));
    m.push_back(METHOD(24, SendFile, (P{{"FileName", St}}), Lg, c.SendFile(S(a, 0))));
    m.push_back(METHOD(25, ChangeCall, (P{{"Index", Lg}, {"TpNumber", St}}), Lg, c.ChangeCall(L(a, 0), S(a, 1))));
    m.push_back(METHOD(26, InitSetCard, (P{{"DevName", St}}), Lg, c.InitSetCard(S(a, 0))));
    m.push_back(METHOD(27, GetDialogicVbus, P{}, Lg, c.GetDialogicVbus()));
    m.push_back(METHOD(28, GetDialogicNbus, P{}, Lg, c.GetDialogicNbus()));
    m.push_back(METHOD(29, MakeParty, (P{{"cannel", Lg}}), Lg, c.MakeParty(L(a, 0))));
    m.push_back(METHOD(30, listen, (P{{"BusChannnel1", Lg}, {"BusChannnel2", Lg}}), Lg, c.listen(L(a, 0), L(a, 1))));
    m.push_back(METHOD(31, StopRecord, P{}, Lg, c.StopRecord()));
    return m;
}

#undef METHOD

std::vector<EventInfo> BuildEvents() {
    return {
        {1, "EndRecord", {}},
        {2, "EndPlay", {}},
        {3, "RecordDevOpen", {{"Index", Lg}}},
        {4, "DtmfIn", {{"Index", Lg}, {"DTMF", St}}},
        {5, "DisConnected", {{"Index", Lg}}},
        {6, "IsConnect", {{"Index", Lg}}},
        {7, "TextAll", {}},
        {8, "LineIsFree", {{"Index", Lg}}},
        {9, "Ring", {{"RingNumber", Lg}}},
        {10, "EndPlayAll", {}},
        {11, "CallIDIn", {}},
    };
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// VT_R8 -> VT_I4 as VariantChangeType does it: to the nearest integer,
// halves to the even one (2.5 -> 2, 3.5 -> 4); outside the long range
// (after rounding), or not a number, is an overflow.
HRESULT LongFromDouble(double d, LONG& out) {
    if (!(d >= -2147483648.5 && d < 2147483647.5)) return DISP_E_OVERFLOW;
    double whole = std::floor(d);
    double rest = d - whole;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0)) whole += 1;
    if (whole < INT32_MIN || whole > INT32_MAX) return DISP_E_OVERFLOW;
    out = static_cast<LONG>(whole);
    return S_OK;
}

// A decimal number in a string: surrounding blanks, a sign, digits with an
// optional fraction and exponent ("12", " -3 ", "2.5", "1e3").
bool ParseNumber(const std::string& s, double& out) {
    size_t b = s.find_first_not_of(" \t");
    size_t e = s.find_last_not_of(" \t");
    if (b == std::string::npos) return false;
    std::string t = s.substr(b, e - b + 1);
    size_t i = 0;
    if (t[i] == '+' || t[i] == '-') ++i;
    size_t digits = 0;
    while (i < t.size() && isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        size_t expDigits = 0;
        while (i < t.size() && isdigit(static_cast<unsigned char>(t[i]))) ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != t.size()) return false;
    out = strtod(t.c_str(), nullptr);  // an exponent too large gives HUGE_VAL: an overflow below
    return true;
}

// VT_R8 -> VT_BSTR: up to 15 significant digits, "1E+300" for large ones;
// VT_R4 -> VT_BSTR: up to 7 ("0.1" for the float nearest 0.1).
std::u16string DoubleText(double d, int digits) {
    char buf[40];
    snprintf(buf, sizeof buf, "%.*G", digits, d);
    std::string s(buf);
    return std::u16string(s.begin(), s.end());
}

std::string Lowered(const std::u16string& w) {
    std::string s;
    for (char16_t c : w) s += c < 0x80 ? static_cast<char>(std::tolower(static_cast<int>(c))) : '\x7f';
    return s;
}

// Converts an argument to the parameter's type as VariantChangeType does
// for the kinds this interface uses. Answers S_OK, DISP_E_TYPEMISMATCH,
// DISP_E_OVERFLOW or DISP_E_PARAMNOTOPTIONAL.
HRESULT Coerce(const Variant& in, ParamType type, Variant& out) {
    switch (in.vt) {
        case VarType::Error:
            // An omitted argument; no parameter of this interface is optional.
            return in.lVal == DISP_E_PARAMNOTFOUND ? DISP_E_PARAMNOTOPTIONAL : DISP_E_TYPEMISMATCH;
        case VarType::Null:
        case VarType::Object:
        case VarType::Array:
            return DISP_E_TYPEMISMATCH;
        default:
            break;
    }
    const bool real = in.vt == VarType::R8 || in.vt == VarType::R4;
    switch (type) {
        case ParamType::Long: {
            LONG v = 0;
            if (in.vt == VarType::I4 || in.vt == VarType::Bool) {
                v = in.lVal;  // True is -1
            } else if (real) {
                HRESULT hr = LongFromDouble(in.dblVal, v);
                if (FAILED(hr)) return hr;
            } else if (in.vt == VarType::BStr) {
                double d = 0;
                if (!ParseNumber(ToAnsi(in.bstrVal), d)) return DISP_E_TYPEMISMATCH;
                HRESULT hr = LongFromDouble(d, v);
                if (FAILED(hr)) return hr;
            }
            out = Variant::Long(v);
            return S_OK;
        }
        case ParamType::Bool:
            if (in.vt == VarType::I4 || in.vt == VarType::Bool) {
                out = Variant::Bool(in.lVal != 0);
            } else if (real) {
                out = Variant::Bool(in.dblVal != 0);
            } else if (in.vt == VarType::BStr) {
                std::string s = Lowered(in.bstrVal);
                double d = 0;
                if (s == "true") out = Variant::Bool(true);
                else if (s == "false") out = Variant::Bool(false);
                else if (ParseNumber(s, d)) out = Variant::Bool(d != 0);
                else return DISP_E_TYPEMISMATCH;
            } else {
                out = Variant::Bool(false);
            }
            return S_OK;
        case ParamType::String:
            if (in.vt == VarType::BStr) {
                out = in;
            } else if (in.vt == VarType::I4) {
                std::string s = std::to_string(in.lVal);
                out = Variant::String(std::u16string(s.begin(), s.end()));
            } else if (real) {
                out = Variant::String(DoubleText(in.dblVal, in.vt == VarType::R4 ? 7 : 15));
            } else if (in.vt == VarType::Bool) {
                out = Variant::String(in.lVal ? u"True" : u"False");
            } else {
                out = Variant::String(u"");
            }
            return S_OK;
        case ParamType::Void: return DISP_E_TYPEMISMATCH;
    }
    return DISP_E_TYPEMISMATCH;
}

}  // namespace

namespace automation {

const std::vector<MemberInfo>& Members() {
    static const std::vector<MemberInfo> members = BuildMembers();
    return members;
}

const std::vector<EventInfo>& Events() {
    static const std::vector<EventInfo> events = BuildEvents();
    return events;
}

const MemberInfo* FindMember(DISPID dispid) {
    for (auto& m : Members())
        if (m.dispid == dispid) return &m;
    return nullptr;
}

const EventInfo* FindEvent(DISPID dispid) {
    for (auto& e : Events())
        if (e.dispid == dispid) return &e;
    return nullptr;
}

const char* TypeName(ParamType type) {
    switch (type) {
        case ParamType::Long: return "long";
        case ParamType::Bool: return "BOOL";
        case ParamType::String: return "BSTR";
        case ParamType::Void: return "void";
    }
    return "?";
}

HRESULT GetIDOfName(const std::string& name, DISPID* dispid) {
    std::string key = Lower(name);
    for (auto& m : Members()) {
        if (Lower(m.name) == key) {
            if (dispid) *dispid = m.dispid;
            return S_OK;
        }
    }
    if (dispid) *dispid = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT GetIDOfName(const std::u16string& name, DISPID* dispid) {
    std::string ascii;
    for (char16_t c : name) {
        if (c > 0x7F) {
            if (dispid) *dispid = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        ascii += static_cast<char>(c);
    }
    return GetIDOfName(ascii, dispid);
}

HRESULT Invoke(CMarluneCtrl& ctrl, DISPID dispid, WORD flags, const std::vector<Variant>& args, Variant* result,
               ExcepInfo* excep, UINT* argErr) {
    const MemberInfo* m = FindMember(dispid);
    if (!m) return DISP_E_MEMBERNOTFOUND;
    Variant ignored;
    Variant& out = result ? *result : ignored;
    out = Variant();

    if (m->kind == MemberKind::Property) {
        if (flags & DISPATCH_PROPERTYGET) {
            if (!args.empty()) return DISP_E_BADPARAMCOUNT;
            out = m->get(ctrl);
            return S_OK;
        }
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
            Variant v;
            HRESULT hr = Coerce(args[0], m->result, v);
            if (FAILED(hr)) {
                if (argErr) *argErr = 0;
                return hr;
            }
            m->put(ctrl, v);
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    if (!(flags & DISPATCH_METHOD)) {
        // A method without parameters may be read as a property.
        if (!((flags & DISPATCH_PROPERTYGET) && m->params.empty())) return DISP_E_MEMBERNOTFOUND;
    }
    if (args.size() != m->params.size()) return DISP_E_BADPARAMCOUNT;
    std::vector<Variant> converted(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
        HRESULT hr = Coerce(args[i], m->params[i].type, converted[i]);
        if (FAILED(hr)) {
            if (argErr) *argErr = static_cast<UINT>(args.size() - 1 - i);
            return hr;
        }
    }
    try {
        out = m->invoke(ctrl, converted);
    } catch (const AutomationError& e) {
        if (excep) {
            excep->scode = e.code();
            excep->source = u"MARLUNE.MarluneCtrl.1";
            excep->description = FromAnsi(e.what());
        }
        return DISP_E_EXCEPTION;
    }
    return S_OK;
}

ParamInfo ParameterAt(const MemberInfo& member, size_t argCount, UINT argErr) {
    if (member.kind == MemberKind::Property) return ParamInfo{member.name, member.result};
    if (argErr >= argCount || argCount != member.params.size()) return ParamInfo{"?", ParamType::Void};
    return member.params[argCount - 1 - argErr];
}

}  // namespace automation
