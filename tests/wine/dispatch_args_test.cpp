// Arguments through MARLUNE.OCX's IDispatch: the table the Linux build runs
// through its member table, with the same answers; then values of kinds
// only Windows callers pass (narrow, unsigned and 64-bit integers,
// currency, decimals, typed by-reference values), which must convert as the
// platform's VariantChangeType converts them.
#include <windows.h>
#include <ocidl.h>

#include <fstream>
#include <sstream>

#include "tests/support/dispatch_cases.h"
#include "tests/wine/com_support.h"
#include "tests/wine/wine_check.h"

namespace {

using namespace dispatch_cases;

bool Logged(const std::string& text) { return ReadLog().find(" :" + text + "\r\n") != std::string::npos; }

std::vector<EventRecord> gUnused;
RecordingSink gObject("argument", gUnused);  // an object passed as an argument

// Referents of by-reference arguments, freed at the end of a call.
struct Referents {
    std::vector<VARIANT*> values;
    ~Referents() {
        for (VARIANT* v : values) {
            VariantClear(v);
            delete v;
        }
    }
};

VARIANT Value(const Arg& a) {
    VARIANT v;
    VariantInit(&v);
    switch (a.kind) {
        case Kind::Long: V_VT(&v) = VT_I4; V_I4(&v) = static_cast<LONG>(a.number); break;
        case Kind::Double: V_VT(&v) = VT_R8; V_R8(&v) = a.number; break;
        case Kind::Float: V_VT(&v) = VT_R4; V_R4(&v) = static_cast<float>(a.number); break;
        case Kind::String:
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = SysAllocString(reinterpret_cast<const OLECHAR*>(a.text));
            break;
        case Kind::Bool: V_VT(&v) = VT_BOOL; V_BOOL(&v) = a.number != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
        case Kind::Null: V_VT(&v) = VT_NULL; break;
        case Kind::Empty: break;
        case Kind::Missing: V_VT(&v) = VT_ERROR; V_ERROR(&v) = DISP_E_PARAMNOTFOUND; break;
        case Kind::Error: V_VT(&v) = VT_ERROR; V_ERROR(&v) = static_cast<SCODE>(a.number); break;
        case Kind::Array:
            V_VT(&v) = VT_ARRAY | VT_VARIANT;
            V_ARRAY(&v) = SafeArrayCreateVector(VT_VARIANT, 0, 2);
            break;
        case Kind::Object:
            V_VT(&v) = VT_DISPATCH;
            V_DISPATCH(&v) = &gObject;
            gObject.AddRef();
            break;
    }
    return v;
}

// As a script host passes a variable: a variant by reference.
VARIANT Passed(const Arg& a, Referents& keep) {
    VARIANT v = Value(a);
    if (!a.byRef) return v;
    auto* target = new VARIANT(v);
    keep.values.push_back(target);
    VARIANT r;
    VariantInit(&r);
    V_VT(&r) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&r) = target;
    return r;
}

std::wstring Wide(const char* s) { return std::wstring(s, s + strlen(s)); }

void TheSharedTable(IDispatch* d) {
    int index = 0;
    for (const Case& c : Cases()) {
        std::printf("case %d: %s\n", index++, c.member);
        Referents keep;
        std::vector<VARIANT> args;
        for (const Arg& a : c.args) args.push_back(Passed(a, keep));
        UINT argErr = kArgErrUnset;
        VARIANT r;
        EXCEPINFO ex{};
        std::wstring name = Wide(c.member);
        CHECK_EQ(CallByName(d, name.c_str(), c.put ? DISPATCH_PROPERTYPUT : DISPATCH_METHOD, args, &r, &ex, &argErr),
                 c.hr);
        SysFreeString(ex.bstrSource);
        SysFreeString(ex.bstrDescription);
        CHECK_EQ(argErr, c.argErr);
        if (c.put) CHECK_EQ(CallByName(d, name.c_str(), DISPATCH_PROPERTYGET, {}, &r), S_OK);
        if (c.result != kNoResult) {
            CHECK_EQ(V_VT(&r), VT_I4);
            CHECK_EQ(V_I4(&r), c.result);
        }
        VariantClear(&r);
        if (c.logged && !Logged(c.logged)) {
            std::printf("log lacks: %s\n", ToText(c.logged).c_str());
            ++FailureCount();
        }
        if (c.notLogged) CHECK(ReadLog().find(c.notLogged) == std::string::npos);
    }
}

// ---- kinds only Windows callers pass, against VariantChangeType ----------------

VARIANT Typed(VARTYPE vt) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = vt;
    return v;
}

std::vector<VARIANT> PlatformInputs(LONG* intRef, BSTR* bstrRef, double* dblRef) {
    std::vector<VARIANT> in;
    VARIANT v;
    v = Typed(VT_I2), V_I2(&v) = -7, in.push_back(v);
    v = Typed(VT_UI1), V_UI1(&v) = 200, in.push_back(v);
    v = Typed(VT_UI4), V_UI4(&v) = 3000000000u, in.push_back(v);
    v = Typed(VT_I8), V_I8(&v) = -5, in.push_back(v);
    v = Typed(VT_I8), V_I8(&v) = 123456789012LL, in.push_back(v);
    v = Typed(VT_CY), V_CY(&v).int64 = 25000, in.push_back(v);   // 2.5
    v = Typed(VT_CY), V_CY(&v).int64 = 32500, in.push_back(v);   // 3.25
    v = Typed(VT_DECIMAL), VarDecFromR8(3.5, &V_DECIMAL(&v)), V_VT(&v) = VT_DECIMAL, in.push_back(v);
    v = Typed(VT_R4), V_R4(&v) = 2.5f, in.push_back(v);
    v = Typed(VT_R4), V_R4(&v) = 0.1f, in.push_back(v);
    v = Typed(VT_R8), V_R8(&v) = 0.2, in.push_back(v);
    v = Typed(VT_R8), V_R8(&v) = -1234567.125, in.push_back(v);
    v = Typed(VT_I4 | VT_BYREF), V_I4REF(&v) = intRef, in.push_back(v);
    v = Typed(VT_BSTR | VT_BYREF), V_BSTRREF(&v) = bstrRef, in.push_back(v);
    v = Typed(VT_R8 | VT_BYREF), V_R8REF(&v) = dblRef, in.push_back(v);
    v = Typed(VT_NULL), in.push_back(v);
    v = Typed(VT_ERROR), V_ERROR(&v) = E_FAIL, in.push_back(v);
    v = Typed(VT_BOOL), V_BOOL(&v) = VARIANT_TRUE, in.push_back(v);
    return in;
}

std::string Ansi(BSTR b) {
    int n = WideCharToMultiByte(CP_ACP, 0, b, SysStringLen(b), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    if (n) WideCharToMultiByte(CP_ACP, 0, b, SysStringLen(b), &s[0], n, nullptr, nullptr);
    return s;
}

void KindsOnlyWindowsCallersPass(IDispatch* d) {
    LONG intValue = 9;
    BSTR bstrValue = SysAllocString(L"7.5");
    double dblValue = -3.5;
    std::vector<VARIANT> inputs = PlatformInputs(&intValue, &bstrValue, &dblValue);
    int index = 0;
    for (VARIANT& in : inputs) {
        std::printf("platform case %d: vt %u\n", index++, V_VT(&in));
        // To long, through the OutID property.
        VARIANT platform;
        VariantInit(&platform);
        HRESULT expected = VariantChangeType(&platform, &in, 0, VT_I4);
        // VariantChangeType copies the bits of a VT_UI4 into a VT_I4
        // (3000000000 -> -1294967296); the control refuses it as an
        // overflow, as VarI4FromUI4 does.
        if (V_VT(&in) == VT_UI4 && V_UI4(&in) > 0x7FFFFFFFu) expected = DISP_E_OVERFLOW;
        VARIANT copy;
        VariantInit(&copy);
        VariantCopy(&copy, &in);
        UINT argErr = kArgErrUnset;
        CallByName(d, L"OutID", DISPATCH_PROPERTYPUT, {Long(-77)}, nullptr);
        CHECK_EQ(CallByName(d, L"OutID", DISPATCH_PROPERTYPUT, {copy}, nullptr, nullptr, &argErr), expected);
        VARIANT r;
        CallByName(d, L"OutID", DISPATCH_PROPERTYGET, {}, &r);
        CHECK_EQ(V_I4(&r), SUCCEEDED(expected) ? V_I4(&platform) : -77);
        if (FAILED(expected)) CHECK_EQ(argErr, 0u);
        VariantClear(&platform);

        // To string: PlayStr logs the text it received (no voice pack, so it
        // then fails; a text of letters would be spoken, so booleans stay out).
        if (V_VT(&in) == VT_BOOL) continue;
        expected = VariantChangeType(&platform, &in, 0, VT_BSTR);
        VariantInit(&copy);
        VariantCopy(&copy, &in);
        argErr = kArgErrUnset;
        HRESULT hr = CallByName(d, L"PlayStr", DISPATCH_METHOD, {copy, Long(1)}, &r, nullptr, &argErr);
        if (SUCCEEDED(expected)) {
            CHECK(hr == DISP_E_EXCEPTION || hr == S_OK);
            std::string text = "传入数据:" + Ansi(V_BSTR(&platform));
            if (!Logged(text)) {
                std::printf("log lacks: %s\n", ToText(text).c_str());
                ++FailureCount();
            }
        } else {
            CHECK_EQ(hr, expected);
            CHECK_EQ(argErr, 1u);
        }
        VariantClear(&platform);
        VariantClear(&r);
    }
    for (VARIANT& in : inputs)
        if (!(V_VT(&in) & VT_BYREF)) VariantClear(&in);
    SysFreeString(bstrValue);
}

std::string LogName() {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA("*modem.txt", &found);
    if (h == INVALID_HANDLE_VALUE) return {};
    FindClose(h);
    return found.cFileName;
}

bool Holds(const char* file, const std::string& text) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str().find(text) != std::string::npos;
}

// The log file stays open between entries and yields to others: they read
// it, move it and delete it, and the next entry goes to a file by the day's
// name again.
void TheLogFileStaysOpenAndYields(IDispatch* d) {
    VARIANT r;
    CallByName(d, L"AnswerTp", DISPATCH_METHOD, {}, &r);  // no call: "接收呼叫 bad"
    const std::string name = LogName();
    CHECK(!name.empty());
    HANDLE only = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(only == INVALID_HANDLE_VALUE);  // the control holds it open
    if (only != INVALID_HANDLE_VALUE) CloseHandle(only);
    CHECK(Logged("接收呼叫 bad"));

    struct Step {
        const char* what;
        bool (*act)(const std::string& name);
    };
    const Step steps[] = {
        {"moved", [](const std::string& n) { return MoveFileA(n.c_str(), "moved.log") != 0; }},
        {"deleted", [](const std::string& n) { return DeleteFileA(n.c_str()) != 0; }},
    };
    for (const Step& step : steps) {
        std::printf("log file %s\n", step.what);
        CHECK(step.act(name));
        Sleep(30);  // past the interval in which the open file is trusted
        CallByName(d, L"AnswerTp", DISPATCH_METHOD, {}, &r);
        CHECK(Holds(name.c_str(), " :Begin 接收呼叫\r\n"));
    }
    CHECK(Holds("moved.log", " :接收呼叫 bad\r\n"));
}

}  // namespace

int main() {
    OleInitialize(nullptr);
    HWND frame = HostFrame();
    {
        BoxCloser closer;
        HostedControl control;
        CHECK(control.Create());
        if (!control.d) return 1;
        CHECK(control.Activate(frame));
        KindsOnlyWindowsCallersPass(control.d);
        TheSharedTable(control.d);
        TheLogFileStaysOpenAndYields(control.d);
        control.Close();
    }
    DestroyWindow(frame);
    OleUninitialize();
    std::printf("dispatch_args_test: %s\n", FailureCount() ? "FAILED" : "ok");
    return Failures();
}
