// `marlune describe`: the automation surface as a type-library viewer shows it.
#include <cstdio>

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

}  // namespace

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
