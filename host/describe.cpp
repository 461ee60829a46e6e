// `marlune describe`: the automation surface as a type-library viewer shows it.
// `marlune describe --reference`: the same members as the Markdown tables of
// docs/members.md (a test keeps the document equal to this output).
#include <cctype>
#include <cstdio>
#include <string>

#include "control/front/automation.h"
#include "host/json_host.h"

namespace {

std::string Params(const std::vector<ParamInfo>& params) {
    std::string s;
    for (size_t i = 0; i < params.size(); ++i) {
        if (i) s += ", ";
        s += std::string("[in] ") + automation::TypeName(params[i].type) + " " + params[i].name;
    }
    return s;
}

// The heading's link target, as Markdown renderers make it.
std::string Anchor(const char* name) {
    std::string s = name;
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The type a Lua script (or any script host) passes or gets.
const char* ScriptType(ParamType type) {
    switch (type) {
        case ParamType::Long: return "integer";
        case ParamType::Bool: return "boolean";
        case ParamType::String: return "string";
        case ParamType::Void: return "nothing";
    }
    return "?";
}

std::string Arguments(const std::vector<ParamInfo>& params) {
    if (params.empty()) return "none";
    std::string s;
    for (size_t i = 0; i < params.size(); ++i)
        s += std::string(i ? ", " : "") + std::to_string(i + 1) + ". `" + params[i].name + "`: " +
             automation::TypeName(params[i].type) + " (" + ScriptType(params[i].type) + ")";
    return s;
}

}  // namespace

int DescribeReference() {
    printf("| DISPID | member | kind | arguments, in order: name: type (script type) | result |\n");
    printf("|---|---|---|---|---|\n");
    for (auto& m : automation::Members())
        printf("| %d | [`%s`](#%s) | %s | %s | %s (%s) |\n", static_cast<int>(m.dispid), m.name,
               Anchor(m.name).c_str(), m.kind == MemberKind::Property ? "property, read and write" : "method",
               m.kind == MemberKind::Property ? "none" : Arguments(m.params).c_str(), automation::TypeName(m.result),
               ScriptType(m.result));
    printf("\n| DISPID | event | arguments, in order: name: type (script type) |\n");
    printf("|---|---|---|\n");
    for (auto& e : automation::Events())
        printf("| %d | [`%s`](#%s) | %s |\n", static_cast<int>(e.dispid), e.name, Anchor(e.name).c_str(),
               Arguments(e.params).c_str());
    return 0;
}

int Describe() {
    int properties = 0, methods = 0;
    printf("[version(1.0), lcid(0x409), helpstring(\"Marlune ActiveX Control module\"), helpfile(\"Marlune.hlp\"), control]\n");
    printf("library %s\n{\n", automation::kLibraryName);
    printf("    importlib(\"stdole2.tlb\");\n\n");
    printf("    [hidden, helpstring(\"Dispatch interface for Marlune Control\")]\n");
    printf("    dispinterface %s\n    {\n    properties:\n", automation::kDispatchName);
    for (auto& m : automation::Members()) {
        if (m.kind != MemberKind::Property) continue;
        printf("        [id(%d)] %s %s;\n", static_cast<int>(m.dispid), automation::TypeName(m.result), m.name);
        ++properties;
    }
    printf("    methods:\n");
    for (auto& m : automation::Members()) {
        if (m.kind != MemberKind::Method) continue;
        printf("        [id(%d)] %s %s(%s);\n", static_cast<int>(m.dispid), automation::TypeName(m.result), m.name,
               Params(m.params).c_str());
        ++methods;
    }
    printf("    };\n\n");
    printf("    [helpstring(\"Event interface for Marlune Control\")]\n");
    printf("    dispinterface %s\n    {\n    properties:\n    methods:\n", automation::kEventsName);
    for (auto& e : automation::Events())
        printf("        [id(%d)] void %s(%s);\n", static_cast<int>(e.dispid), e.name, Params(e.params).c_str());
    printf("    };\n\n");
    printf("    [helpstring(\"Marlune Control\"), control]\n");
    printf("    coclass %s\n    {\n", automation::kCoclassName);
    printf("        [default] dispinterface %s;\n", automation::kDispatchName);
    printf("        [default, source] dispinterface %s;\n", automation::kEventsName);
    printf("    };\n};\n\n");
    printf("// %s: %d properties, %d methods; %s: %zu events\n", automation::kDispatchName, properties, methods,
           automation::kEventsName, automation::Events().size());
    return 0;
}
