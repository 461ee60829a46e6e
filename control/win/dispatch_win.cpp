#include "control/win/dispatch_win.h"

namespace ocx {

Variant FromVariant(const VARIANT& in) {
    const VARIANT* v = &in;
    while (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
    switch (V_VT(v)) {
        case VT_BSTR: {
            BSTR b = V_BSTR(v);
            return Variant::String(std::u16string(reinterpret_cast<const char16_t*>(b), b ? SysStringLen(b) : 0));
        }
        case VT_BSTR | VT_BYREF: {
            BSTR b = V_BSTRREF(v) ? *V_BSTRREF(v) : nullptr;
            return Variant::String(std::u16string(reinterpret_cast<const char16_t*>(b), b ? SysStringLen(b) : 0));
        }
        case VT_BOOL: return Variant::Bool(V_BOOL(v) != VARIANT_FALSE);
        case VT_BOOL | VT_BYREF: return Variant::Bool(V_BOOLREF(v) && *V_BOOLREF(v) != VARIANT_FALSE);
        case VT_I4: return Variant::Long(V_I4(v));
        case VT_EMPTY:
        case VT_NULL:
        case VT_ERROR:
            return Variant();
        default: {
            VARIANT n;
            VariantInit(&n);
            Variant out;
            if (SUCCEEDED(VariantChangeType(&n, const_cast<VARIANT*>(v), 0, VT_I4))) out = Variant::Long(V_I4(&n));
            VariantClear(&n);
            return out;
        }
    }
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
        case VarType::Empty:
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
