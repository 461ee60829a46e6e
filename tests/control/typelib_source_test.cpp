// The type library source (resources/marlune.idl) and the member table
// agree member for member: DISPIDs, names, kinds, parameters and types,
// and the identities match control/front/class_ids.h.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "control/front/automation.h"
#include "control/front/class_ids.h"

namespace {

struct IdlMember {
    std::string type;
    std::string name;
    bool isProperty = false;
    std::vector<std::pair<std::string, std::string>> params;  // type, name
};

std::string ReadIdl() {
    std::ifstream in(std::string(MARLUNE_SOURCE_DIR) + "/resources/marlune.idl");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The text between the braces of `keyword name { ... }`.
std::string Body(const std::string& idl, const std::string& keyword, const std::string& name) {
    std::smatch m;
    std::regex head(keyword + "\\s+" + name + "\\s*\\{");
    if (!std::regex_search(idl, m, head)) return {};
    size_t start = m.position(0) + m.length(0);
    size_t end = idl.find("};", start);
    return idl.substr(start, end - start);
}

// The attribute block ([ ... ]) just before `keyword name`.
std::string Attributes(const std::string& idl, const std::string& keyword, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(idl, m, std::regex(keyword + "\\s+" + name + "\\b"))) return {};
    size_t close = idl.rfind(']', m.position(0));
    size_t open = idl.rfind('[', close);
    return idl.substr(open, close - open + 1);
}

std::map<int, IdlMember> Members(const std::string& body) {
    std::map<int, IdlMember> out;
    size_t methods = body.find("methods:");
    std::regex member(R"(\[id\((\d+)\)\]\s*(\w+)\s+(\w+)\s*(\(([^)]*)\))?\s*;)");
    for (std::sregex_iterator it(body.begin(), body.end(), member), end; it != end; ++it) {
        IdlMember m;
        m.type = (*it)[2];
        m.name = (*it)[3];
        m.isProperty = static_cast<size_t>(it->position(0)) < methods;
        std::string params = (*it)[5];
        std::regex param(R"((\w+)\s+(\w+))");
        for (std::sregex_iterator p(params.begin(), params.end(), param); p != end; ++p)
            m.params.emplace_back((*p)[1], (*p)[2]);
        EXPECT_TRUE(out.emplace(std::stoi((*it)[1]), m).second) << "DISPID twice: " << (*it)[1];
    }
    return out;
}

std::string IdlType(ParamType t) {
    switch (t) {
        case ParamType::Long: return "long";
        case ParamType::Bool: return "VARIANT_BOOL";
        case ParamType::String: return "BSTR";
        case ParamType::Void: return "void";
    }
    return "?";
}

std::string Uuid(const std::string& attributes) {
    std::smatch m;
    if (!std::regex_search(attributes, m, std::regex(R"(uuid\(([0-9A-Fa-f-]+)\))"))) return {};
    return "{" + m[1].str() + "}";
}

}  // namespace

TEST(TypeLibrarySource, DispatchInterfaceMatchesTheMemberTable) {
    auto idl = Members(Body(ReadIdl(), "dispinterface", "_DMarlune"));
    ASSERT_EQ(idl.size(), automation::Members().size());
    for (const MemberInfo& m : automation::Members()) {
        SCOPED_TRACE(m.name);
        auto it = idl.find(m.dispid);
        ASSERT_NE(it, idl.end());
        EXPECT_EQ(it->second.name, m.name);
        EXPECT_EQ(it->second.isProperty, m.kind == MemberKind::Property);
        EXPECT_EQ(it->second.type, IdlType(m.result));
        ASSERT_EQ(it->second.params.size(), m.params.size());
        for (size_t i = 0; i < m.params.size(); ++i) {
            EXPECT_EQ(it->second.params[i].first, IdlType(m.params[i].type));
            EXPECT_EQ(it->second.params[i].second, m.params[i].name);
        }
    }
    EXPECT_EQ(idl.count(22), 0u);
}

TEST(TypeLibrarySource, EventInterfaceMatchesTheEventTable) {
    auto idl = Members(Body(ReadIdl(), "dispinterface", "_DMarluneEvents"));
    ASSERT_EQ(idl.size(), automation::Events().size());
    for (const EventInfo& e : automation::Events()) {
        SCOPED_TRACE(e.name);
        auto it = idl.find(e.dispid);
        ASSERT_NE(it, idl.end());
        EXPECT_EQ(it->second.name, e.name);
        EXPECT_FALSE(it->second.isProperty);
        EXPECT_EQ(it->second.type, "void");
        ASSERT_EQ(it->second.params.size(), e.params.size());
        for (size_t i = 0; i < e.params.size(); ++i) {
            EXPECT_EQ(it->second.params[i].first, IdlType(e.params[i].type));
            EXPECT_EQ(it->second.params[i].second, e.params[i].name);
        }
    }
}

TEST(TypeLibrarySource, IdentitiesAndAttributesMatchTheModule) {
    std::string idl = ReadIdl();
    std::string lib = Attributes(idl, "library", automation::kLibraryName);
    EXPECT_EQ(Uuid(lib), class_ids::kLibId);
    EXPECT_NE(lib.find("version(1.0)"), std::string::npos);
    EXPECT_NE(lib.find("lcid(0x0409)"), std::string::npos);
    EXPECT_NE(lib.find("helpstring(\"Marlune ActiveX Control module\")"), std::string::npos);
    EXPECT_NE(lib.find("helpfile(\"Marlune.hlp\")"), std::string::npos);
    EXPECT_NE(lib.find("control"), std::string::npos);

    std::string disp = Attributes(idl, "dispinterface", automation::kDispatchName);
    EXPECT_EQ(Uuid(disp), class_ids::kDispatchIid);
    EXPECT_NE(disp.find("hidden"), std::string::npos);
    EXPECT_NE(disp.find("helpstring(\"Dispatch interface for Marlune Control\")"), std::string::npos);

    std::string events = Attributes(idl, "dispinterface", automation::kEventsName);
    EXPECT_EQ(Uuid(events), class_ids::kEventsIid);
    EXPECT_EQ(events.find("hidden"), std::string::npos);
    EXPECT_NE(events.find("helpstring(\"Event interface for Marlune Control\")"), std::string::npos);

    std::string coclass = Attributes(idl, "coclass", automation::kCoclassName);
    EXPECT_EQ(Uuid(coclass), class_ids::kControlClsid);
    EXPECT_NE(coclass.find("control"), std::string::npos);
    EXPECT_EQ(coclass.find("noncreatable"), std::string::npos);
    std::string body = Body(idl, "coclass", automation::kCoclassName);
    EXPECT_TRUE(std::regex_search(body, std::regex(R"(\[default\]\s*dispinterface\s+_DMarlune;)")));
    EXPECT_TRUE(std::regex_search(body, std::regex(R"(\[default,\s*source\]\s*dispinterface\s+_DMarluneEvents;)")));
}
