// The registered type library enumerated through ITypeLib/ITypeInfo and
// compared with the member table, member for member; and the module's
// resources (toolbox bitmap, icon, strings, dialog, version block).
// Usage: typelib_test.exe PATH\MARLUNE.OCX (registered)
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "control/front/automation.h"
#include "control/front/class_ids.h"
#include "tests/wine/com_support.h"
#include "tests/wine/wine_check.h"

namespace {

std::wstring W(const char* s) {
    wchar_t w[256];
    MultiByteToWideChar(CP_ACP, 0, s, -1, w, 256);
    return w;
}

VARTYPE Vt(ParamType t) {
    switch (t) {
        case ParamType::Long: return VT_I4;
        case ParamType::Bool: return VT_BOOL;
        case ParamType::String: return VT_BSTR;
        case ParamType::Void: return VT_VOID;
    }
    return VT_EMPTY;
}

struct Doc {
    std::wstring name, text, helpFile;
    DWORD context = 99;
};

Doc Documentation(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr, text = nullptr, file = nullptr;
    Doc d;
    info->GetDocumentation(id, &name, &text, &d.context, &file);
    d.name = name ? name : L"";
    d.text = text ? text : L"";
    d.helpFile = file ? file : L"";
    SysFreeString(name);
    SysFreeString(text);
    SysFreeString(file);
    return d;
}

// The function's name and parameter names, and its types.
void CheckFunction(ITypeInfo* info, UINT index, DISPID dispid, const char* name, const std::vector<ParamInfo>& params,
                   ParamType result) {
    FUNCDESC* f = nullptr;
    if (FAILED(info->GetFuncDesc(index, &f))) {
        CHECK(!"GetFuncDesc");
        return;
    }
    CHECK_EQ(f->memid, dispid);
    CHECK_EQ(f->invkind, INVOKE_FUNC);
    CHECK_EQ(f->funckind, FUNC_DISPATCH);
    CHECK_EQ(static_cast<int>(f->cParams), static_cast<int>(params.size()));
    CHECK_EQ(f->elemdescFunc.tdesc.vt, Vt(result));
    BSTR names[8] = {};
    UINT n = 0;
    info->GetNames(f->memid, names, 8, &n);
    CHECK_EQ(n, params.size() + 1);
    if (n >= 1) CHECK_EQ(std::wstring(names[0]), W(name));
    for (size_t i = 0; i < params.size() && i < static_cast<size_t>(f->cParams); ++i) {
        if (i + 1 < n) CHECK_EQ(std::wstring(names[i + 1]), W(params[i].name));
        CHECK_EQ(f->lprgelemdescParam[i].tdesc.vt, Vt(params[i].type));
    }
    for (UINT i = 0; i < n; ++i) SysFreeString(names[i]);
    info->ReleaseFuncDesc(f);
}

void DispatchInterface(ITypeInfo* info) {
    TYPEATTR* a = nullptr;
    info->GetTypeAttr(&a);
    CHECK_EQ(a->typekind, TKIND_DISPATCH);
    CHECK_EQ(a->guid, Guid(class_ids::kDispatchIid));
    CHECK_EQ(a->wTypeFlags & (TYPEFLAG_FHIDDEN | TYPEFLAG_FDISPATCHABLE),
             static_cast<WORD>(TYPEFLAG_FHIDDEN | TYPEFLAG_FDISPATCHABLE));
    CHECK_EQ(static_cast<int>(a->cVars), 2);
    CHECK_EQ(static_cast<int>(a->cFuncs), 28);
    UINT funcs = a->cFuncs, vars = a->cVars;
    info->ReleaseTypeAttr(a);
    Doc d = Documentation(info, MEMBERID_NIL);
    CHECK_EQ(d.name, std::wstring(L"_DMarlune"));
    CHECK_EQ(d.text, std::wstring(L"Dispatch interface for Marlune Control"));
    CHECK_EQ(d.context, 0ul);

    UINT v = 0, f = 0;
    for (const MemberInfo& m : automation::Members()) {
        if (m.kind == MemberKind::Property) {
            VARDESC* vd = nullptr;
            if (v >= vars || FAILED(info->GetVarDesc(v++, &vd))) {
                CHECK(!"GetVarDesc");
                continue;
            }
            CHECK_EQ(vd->memid, m.dispid);
            CHECK_EQ(vd->varkind, VAR_DISPATCH);
            CHECK_EQ(vd->elemdescVar.tdesc.vt, Vt(m.result));
            CHECK_EQ(Documentation(info, vd->memid).name, W(m.name));
            info->ReleaseVarDesc(vd);
        } else if (f < funcs) {
            CheckFunction(info, f++, m.dispid, m.name, m.params, m.result);
        }
    }
    CHECK_EQ(v, 2u);
    CHECK_EQ(f, 28u);
}

void EventInterface(ITypeInfo* info) {
    TYPEATTR* a = nullptr;
    info->GetTypeAttr(&a);
    CHECK_EQ(a->typekind, TKIND_DISPATCH);
    CHECK_EQ(a->guid, Guid(class_ids::kEventsIid));
    CHECK_EQ(a->wTypeFlags & (TYPEFLAG_FHIDDEN | TYPEFLAG_FDISPATCHABLE), static_cast<WORD>(TYPEFLAG_FDISPATCHABLE));
    CHECK_EQ(static_cast<int>(a->cFuncs), 11);
    UINT funcs = a->cFuncs;
    info->ReleaseTypeAttr(a);
    CHECK_EQ(Documentation(info, MEMBERID_NIL).text, std::wstring(L"Event interface for Marlune Control"));
    UINT i = 0;
    for (const EventInfo& e : automation::Events())
        if (i < funcs) CheckFunction(info, i++, e.dispid, e.name, e.params, ParamType::Void);
}

void Coclass(ITypeInfo* info) {
    TYPEATTR* a = nullptr;
    info->GetTypeAttr(&a);
    CHECK_EQ(a->typekind, TKIND_COCLASS);
    CHECK_EQ(a->guid, Guid(class_ids::kControlClsid));
    CHECK_EQ(a->wTypeFlags & (TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL),
             static_cast<WORD>(TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL));
    CHECK_EQ(static_cast<int>(a->cImplTypes), 2);
    info->ReleaseTypeAttr(a);
    CHECK_EQ(Documentation(info, MEMBERID_NIL).text, std::wstring(L"Marlune Control"));
    const int flags[2] = {IMPLTYPEFLAG_FDEFAULT, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE};
    const char* iids[2] = {class_ids::kDispatchIid, class_ids::kEventsIid};
    for (UINT i = 0; i < 2; ++i) {
        INT f = 0;
        info->GetImplTypeFlags(i, &f);
        CHECK_EQ(f, flags[i]);
        HREFTYPE ref = 0;
        ITypeInfo* impl = nullptr;
        if (SUCCEEDED(info->GetRefTypeOfImplType(i, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, &impl))) {
            TYPEATTR* ia = nullptr;
            impl->GetTypeAttr(&ia);
            CHECK_EQ(ia->guid, Guid(iids[i]));
            impl->ReleaseTypeAttr(ia);
            impl->Release();
        } else {
            CHECK(!"implemented type");
        }
    }
}

void TypeLibrary() {
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadRegTypeLib(Guid(class_ids::kLibId), 1, 0, 0x409, &lib);
    CHECK_EQ(hr, S_OK);
    if (!lib) return;
    TLIBATTR* a = nullptr;
    lib->GetLibAttr(&a);
    CHECK_EQ(a->lcid, 0x409ul);
    CHECK_EQ(a->wMajorVerNum, 1);
    CHECK_EQ(a->wMinorVerNum, 0);
#ifdef _WIN64
    CHECK_EQ(a->syskind, SYS_WIN64);
#else
    CHECK_EQ(a->syskind, SYS_WIN32);
#endif
    CHECK(a->wLibFlags & LIBFLAG_FCONTROL);
    lib->ReleaseTLibAttr(a);
    BSTR name = nullptr, text = nullptr, file = nullptr;
    DWORD context = 99;
    lib->GetDocumentation(-1, &name, &text, &context, &file);
    CHECK_EQ(std::wstring(name ? name : L""), std::wstring(L"MARLUNELib"));
    CHECK_EQ(std::wstring(text ? text : L""), std::wstring(L"Marlune ActiveX Control module"));
    std::wstring help = file ? file : L"";
    CHECK(help.size() >= 11 && help.substr(help.size() - 11) == L"Marlune.hlp");
    CHECK_EQ(context, 0ul);
    SysFreeString(name);
    SysFreeString(text);
    SysFreeString(file);

    CHECK_EQ(lib->GetTypeInfoCount(), 3u);
    void (*checks[3])(ITypeInfo*) = {DispatchInterface, EventInterface, Coclass};
    for (UINT i = 0; i < 3 && i < lib->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        lib->GetTypeInfo(i, &info);
        checks[i](info);
        info->Release();
    }
    lib->Release();
}

std::string VersionString(const void* block, const char* name) {
    char path[128];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\040904B0\\%s", name);
    char* value = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(block, path, reinterpret_cast<void**>(&value), &len)) return "(missing)";
    return len ? std::string(value, strnlen(value, len)) : std::string();
}

void Resources(const char* path) {
    HMODULE m = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    CHECK(m != nullptr);
    if (!m) return;
    CHECK(FindResourceA(m, MAKEINTRESOURCEA(1), "TYPELIB") != nullptr);
    HRSRC bmp = FindResourceA(m, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(2));  // RT_BITMAP
    CHECK(bmp != nullptr);
    if (bmp) {
        auto* bih = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(m, bmp)));
        CHECK_EQ(bih->biWidth, 16);
        CHECK_EQ(bih->biHeight, 15);
        CHECK_EQ(bih->biBitCount, 4);
    }
    HRSRC icon = FindResourceA(m, MAKEINTRESOURCEA(201), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    CHECK(icon != nullptr);
    if (icon) {
        auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(m, icon)));
        CHECK_EQ(dir[4], 1);   // one image
        CHECK_EQ(dir[6], 32);  // width
        CHECK_EQ(dir[7], 32);  // height
        CHECK_EQ(dir[8], 16);  // colours
    }
    char s[64];
    CHECK(LoadStringA(m, 1, s, sizeof s) > 0 && std::string(s) == "Marlune Control");
    CHECK(LoadStringA(m, 2, s, sizeof s) > 0 && std::string(s) == "Marlune Property Page");
    CHECK(LoadStringA(m, 200, s, sizeof s) > 0 && std::string(s) == "General");
    HRSRC dlg = FindResourceA(m, MAKEINTRESOURCEA(200), MAKEINTRESOURCEA(5));  // RT_DIALOG
    CHECK(dlg != nullptr);
    if (dlg) {
        auto* t = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(m, dlg)));
        CHECK_EQ(t->cx, 250);
        CHECK_EQ(t->cy, 62);
        CHECK_EQ(t->cdit, 1);
        CHECK(t->style & WS_CHILD);
        CHECK(t->style & DS_SETFONT);
        // menu, class and title (each an empty string here), then the font.
        auto* w = reinterpret_cast<const WCHAR*>(t + 1);
        for (int i = 0; i < 3; ++i) w += wcslen(w) + 1;
        CHECK_EQ(static_cast<int>(*w), 8);
        CHECK_EQ(std::wstring(w + 1), std::wstring(L"MS Sans Serif"));
    }
    FreeLibrary(m);

    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    CHECK(size > 0);
    std::string block(size, '\0');
    CHECK(GetFileVersionInfoA(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    CHECK(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    if (fixed) {
        CHECK_EQ(fixed->dwFileVersionMS, 0x00010000ul);
        CHECK_EQ(fixed->dwFileVersionLS, 0x00000001ul);
        CHECK_EQ(fixed->dwProductVersionMS, 0x00010000ul);
        CHECK_EQ(fixed->dwProductVersionLS, 0x00000001ul);
        CHECK_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
        CHECK_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    }
    CHECK_EQ(VersionString(block.data(), "FileVersion"), std::string("1, 0, 0, 1"));
    CHECK_EQ(VersionString(block.data(), "ProductVersion"), std::string("1, 0, 0, 1"));
    CHECK_EQ(VersionString(block.data(), "FileDescription"), std::string("Marlune ActiveX Control Module"));
    CHECK_EQ(VersionString(block.data(), "ProductName"), std::string("Marlune ActiveX Control Module"));
    CHECK_EQ(VersionString(block.data(), "InternalName"), std::string("Marlune"));
    CHECK_EQ(VersionString(block.data(), "OriginalFilename"), std::string("Marlune.OCX"));
    for (const char* empty : {"Comments", "CompanyName", "LegalTrademarks", "PrivateBuild", "SpecialBuild",
                              "OLESelfRegister"})
        CHECK_EQ(VersionString(block.data(), empty), std::string());
    WORD* translation = nullptr;
    CHECK(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &len));
    if (translation && len >= 4) {
        CHECK_EQ(translation[0], 0x0409);
        CHECK_EQ(translation[1], 0x04B0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    CoInitialize(nullptr);
    TypeLibrary();
    Resources(argv[1]);
    CoUninitialize();
    std::printf("typelib_test: %s\n", FailureCount() ? "FAILED" : "ok");
    return Failures();
}
