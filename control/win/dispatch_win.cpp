#include "control/win/dispatch_win.h"

#include <cstdint>

namespace ocx {

namespace {

Variant Integer(LONGLONG v) {
    if (v >= INT32_MIN && v <= INT32_MAX) return Variant::Long(static_cast<LONG>(v));
    return Variant::Double(static_cast<double>(v));
}

// A value that is not by reference (nor an array).
Variant FromValue(const VARIANT& v) {
    switch (V_VT(&v)) {
        case VT_EMPTY: return Variant();
        case VT_NULL: return Variant::Null();
        case VT_I1: return Variant::Long(V_I1(&v));
        case VT_UI1: return Variant::Long(V_UI1(&v));
        case VT_I2: return Variant::Long(V_I2(&v));
        case VT_UI2: return Variant::Long(V_UI2(&v));
        case VT_I4: return Variant::Long(V_I4(&v));
        case VT_INT: return Variant::Long(V_INT(&v));
        case VT_UI4: return Integer(V_UI4(&v));
        case VT_UINT: return Integer(V_UINT(&v));
        case VT_I8: return Integer(V_I8(&v));
        case VT_UI8:
            return V_UI8(&v) <= INT32_MAX ? Variant::Long(static_cast<LONG>(V_UI8(&v)))
                                           : Variant::Double(static_cast<double>(V_UI8(&v)));
        case VT_R4: return Variant::Float(V_R4(&v));
        case VT_R8: return Variant::Double(V_R8(&v));
        case VT_DATE: return Variant::Double(V_DATE(&v));
        case VT_CY: return Variant::Double(static_cast<double>(V_CY(&v).int64) / 10000.0);
        case VT_DECIMAL: {
            double d = 0;
            if (FAILED(VarR8FromDec(const_cast<DECIMAL*>(&V_DECIMAL(&v)), &d))) return Variant::Of(VarType::Object);
            return Variant::Double(d);
        }
        case VT_BSTR: {
            BSTR b = V_BSTR(&v);
            return Variant::String(std::u16string(reinterpret_cast<const char16_t*>(b), b ? SysStringLen(b) : 0));
        }
        case VT_BOOL: return Variant::Bool(V_BOOL(&v) != VARIANT_FALSE);
        case VT_ERROR: return Variant::Error(V_ERROR(&v));
        default: return Variant::Of(VarType::Object);
    }
}

}  // namespace

Variant FromVariant(const VARIANT& in) {
    const VARIANT* v = &in;
    // A variant by reference (as script hosts pass variables), to any depth.
    for (int depth = 0; V_VT(v) == (VT_BYREF | VT_VARIANT); ++depth) {
        if (!V_VARIANTREF(v) || depth > 16) return Variant::Of(VarType::Object);
        v = V_VARIANTREF(v);
    }
    if (V_VT(v) & VT_ARRAY) return Variant::Of(VarType::Array);
    if (!(V_VT(v) & VT_BYREF)) return FromValue(*v);
    if (!V_BYREF(v)) return Variant::Of(VarType::Object);
    VARIANT value;
    VariantInit(&value);
    Variant out = SUCCEEDED(VariantCopyInd(&value, const_cast<VARIANT*>(v))) ? FromValue(value)
                                                                               : Variant::Of(VarType::Object);
    VariantClear(&value);
    return out;
}

void ToVariant(const Variant& in, VARIANT* out) {
    if (!out) return;
    VariantInit(out);
    switch (in.vt) {
        case VarType::I4:
            V_VT(out) = VT_I4;
            V_I4(out) = in.lVal;
            break;
        case VarType::Bool:
            V_VT(out) = VT_BOOL;
            V_BOOL(out) = in.lVal ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VarType::BStr:
            V_VT(out) = VT_BSTR;
            V_BSTR(out) = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(in.bstrVal.data()),
                                            static_cast<UINT>(in.bstrVal.size()));
            break;
        case VarType::R8:
        case VarType::R4:
            V_VT(out) = VT_R8;
            V_R8(out) = in.dblVal;
            break;
        case VarType::Null:
            V_VT(out) = VT_NULL;
            break;
        case VarType::Error:
            V_VT(out) = VT_ERROR;
            V_ERROR(out) = in.lVal;
            break;
        case VarType::Empty:
        case VarType::Object:
        case VarType::Array:
            break;
    }
}

std::vector<Variant> Arguments(const DISPPARAMS& params) {
    std::vector<Variant> args;
    args.reserve(params.cArgs);
    for (UINT i = params.cArgs; i > 0; --i) args.push_back(FromVariant(params.rgvarg[i - 1]));
    return args;
}

void FillExcepInfo(const ExcepInfo& in, EXCEPINFO* out) {
    if (!out) return;
    *out = EXCEPINFO{};
    out->scode = in.scode;
    out->bstrSource = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(in.source.data()),
                                        static_cast<UINT>(in.source.size()));
    out->bstrDescription = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(in.description.data()),
                                             static_cast<UINT>(in.description.size()));
}

}  // namespace ocx
