// The host's edge: every command in the registry (as `marlune help` lists
// it, with its declared fields) refuses a request with a field missing,
// unknown, misspelled or of the wrong type before it runs, as a request
// error; no library's own text reaches the user; the README shows the
// usage that `marlune help` prints.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "tests/host/host_fixture.h"

using nlohmann::json;

namespace {

struct Command {
    std::string name;
    std::vector<std::string> fields;
    std::vector<std::string> required;
};

// The commands and their fields, from the help text.
std::vector<Command> Registry(const std::vector<std::string>& help) {
    std::vector<Command> out;
    const std::regex command(R"(^    ([a-z_0-9]+) +\S.*)");
    const std::regex field(R"(([a-z_]+): [a-z|]+( \(required\))?)");
    std::smatch m;
    for (auto& line : help) {
        if (std::regex_match(line, m, command)) {
            out.push_back({m[1], {}, {}});
        } else if (line.rfind("      fields: ", 0) == 0 && !out.empty()) {
            std::string list = line.substr(14);
            for (std::sregex_iterator it(list.begin(), list.end(), field), end; it != end; ++it) {
                out.back().fields.push_back((*it)[1]);
                if ((*it)[2].matched) out.back().required.push_back((*it)[1]);
            }
        }
    }
    return out;
}

bool LibraryText(const std::string& message) {
    for (const char* s : {"json.exception", "basic_string", "_M_", "std::", "bad_alloc", "type must be"})
        if (message.find(s) != std::string::npos) return true;
    return false;
}

class HostEdgeTest : public HostTest {};

TEST_F(HostEdgeTest, EveryCommandRefusesBadFieldsBeforeItRuns) {
    auto help = Run("help");
    auto commands = Registry(help);
    ASSERT_GE(commands.size(), 30u);

    struct Case {
        std::string command;
        json request;
        std::string message;  // what the refusal says
    };
    std::vector<Case> cases;
    for (auto& c : commands) {
        json base{{"cmd", c.name}};
        if (!c.required.empty())
            cases.push_back({c.name, base, "\"" + c.name + "\" needs \"" + c.required[0] + "\""});
        // every field with a value no kind takes, the required ones given
        // (likewise wrong): the first of them in the declaration is named
        for (auto& f : c.fields) {
            json r = base;
            std::string first;
            for (auto& g : c.fields) {
                bool required = std::find(c.required.begin(), c.required.end(), g) != c.required.end();
                if (g != f && !required) continue;
                r[g] = json::object();
                if (first.empty()) first = g;
            }
            cases.push_back({c.name, r, "\"" + first + "\" of " + c.name + " is "});
        }
        if (c.required.empty()) {
            json r = base;
            r["zzz"] = 1;
            cases.push_back({c.name, r, "unknown field \"zzz\" in the \"" + c.name + "\" command"});
            if (!c.fields.empty()) {
                json m = base;
                std::string f = c.fields[0];
                std::string misspelt = f.substr(0, f.size() - 1) + (f.back() == 'x' ? "y" : "x");
                m[misspelt] = 1;
                cases.push_back({c.name, m, "(did you mean \"" + f + "\"?)"});
            }
        }
    }
    std::string input;
    for (size_t i = 0; i < cases.size(); ++i) {
        json r = cases[i].request;
        r["id"] = i + 1;
        input += r.dump() + "\n";
    }
    auto out = Parse(Run("host --no-sound", input));
    for (size_t i = 0; i < cases.size(); ++i) {
        const json* a = Answer(out, static_cast<int>(i + 1));
        ASSERT_NE(a, nullptr) << cases[i].request.dump();
        ASSERT_TRUE(a->contains("error")) << cases[i].request.dump() << " ran: " << a->dump();
        EXPECT_EQ((*a)["error"]["kind"], "request") << cases[i].request.dump();
        std::string message = (*a)["error"]["message"];
        EXPECT_NE(message.find(cases[i].message), std::string::npos) << cases[i].request.dump() << ": " << message;
    }
    for (auto& j : out) EXPECT_FALSE(j.contains("event")) << j.dump();  // nothing ran
}

TEST_F(HostEdgeTest, ValuesACommandCannotTakeAreRefusedInItsOwnWords) {
    auto out = Parse(Run("host --no-sound", R"({"id":1,"cmd":"data_read","max":-1}
{"id":2,"cmd":"wave_fault","function":"waveOutOpen","result":4,"count":"x"}
{"id":3,"cmd":"tap","devise":5}
{"id":4,"cmd":"wave_formats","formats":[{"tag":"pcm","rate":-8000}]}
{"id":5,"cmd":"wave_formats","formats":[7]}
{"id":6,"cmd":"comm_fault","kind":"partial","value":1,"count":4294967295}
{"id":7,"cmd":"data_read","max":4294967295}
{"id":8,"cmd":"sound_card_input","wav":5}
{"id":9,
{"id":10,"cmd":"wave_formats","formats":[{"tag":{}}]}
)"));
    struct Expect {
        int id;
        const char* kind;
        const char* message;
    };
    const Expect expected[] = {
        {1, "request", "\"max\" of data_read is a whole number from 0 to 4294967295, not -1"},
        {2, "request", "\"count\" of wave_fault is a whole number from -1 to 2147483647, not \"x\""},
        {3, "request", "unknown field \"devise\" in the \"tap\" command (did you mean \"device\"?)"},
        {4, "request", "\"rate\" of a format is a whole number, not -8000"},
        {5, "request", "each of \"formats\" is an object {\"tag\",\"channels\",\"rate\",\"bits\"}"},
        {6, "request", "\"count\" of comm_fault is a whole number from -1 to 2147483647, not 4294967295"},
        {8, "request", "\"wav\" of sound_card_input is a string or null, not 5"},
        {10, "request", "tag must be \"pcm\", \"mulaw\" or a number"},
    };
    for (auto& e : expected) {
        const json* a = Answer(out, e.id);
        ASSERT_NE(a, nullptr) << e.id;
        EXPECT_EQ((*a)["error"]["kind"], e.kind) << e.id;
        EXPECT_EQ((*a)["error"]["message"], e.message) << e.id;
    }
    // A read larger than what arrived takes what arrived (nothing here).
    EXPECT_EQ((*Answer(out, 7))["result"]["count"], 0);
    int badJson = 0;
    for (auto& j : out) {
        if (j.contains("error")) {
            EXPECT_FALSE(LibraryText(j["error"]["message"])) << j.dump();
        }
        if (j.contains("error") && j["id"].is_null()) {
            EXPECT_EQ(j["error"]["message"].get<std::string>().rfind("bad JSON at byte ", 0), 0u) << j.dump();
            ++badJson;
        }
    }
    EXPECT_EQ(badJson, 1);
}

TEST_F(HostEdgeTest, RequestsNestedTooDeepAreRefusedAndTheHostGoesOn) {
    auto nested = [](int depth, const std::string& inside) {
        return std::string(static_cast<size_t>(depth), '[') + inside + std::string(static_cast<size_t>(depth), ']');
    };
    const std::string input = nested(70000, "") + "\n" +                                    //
                              "{\"id\":" + nested(70000, "") + "}\n" +                         //
                              "{\"id\":2,\"cmd\":\"wave_formats\",\"formats\":" + nested(40, "1") + "}\n" +  //
                              "{\"id\":3,\"cmd\":\"wave_formats\",\"formats\":" + nested(2, "7") + "}\n" +   //
                              "{\"id\":4,\"cmd\":\"data_read\",\"max\":0}\n";
    auto out = Parse(Run("host --no-sound", input));
    EXPECT_EQ(status, 0);
    int refused = 0;
    for (auto& j : out)
        if (j.contains("error") && j["id"].is_null()) {
            EXPECT_EQ(j["error"]["message"], "bad JSON: nested deeper than 32 levels") << j.dump();
            ++refused;
        }
    EXPECT_EQ(refused, 3);
    ASSERT_NE(Answer(out, 3), nullptr);
    EXPECT_EQ((*Answer(out, 3))["error"]["kind"], "request");
    ASSERT_NE(Answer(out, 4), nullptr);
    EXPECT_EQ((*Answer(out, 4))["result"]["count"], 0);
}

TEST_F(HostEdgeTest, TheReadmeShowsTheUsageThatHelpPrints) {
    auto help = Run("help");
    ASSERT_FALSE(help.empty());
    ASSERT_EQ(help[0], "usage:");
    std::string printed;
    for (size_t i = 1; i < help.size() && !help[i].empty(); ++i) printed += help[i] + "\n";

    std::string readme = testenv::ReadFile(MARLUNE_README);
    size_t section = readme.find("## The host: `marlune`");
    ASSERT_NE(section, std::string::npos);
    size_t start = readme.find("```sh\n", section);
    ASSERT_NE(start, std::string::npos);
    start += 6;
    size_t end = readme.find("```\n", start);
    EXPECT_EQ(readme.substr(start, end - start), printed);

    // A wrong command line of `run` prints its line of the same text.
    Run("run");
    std::string err = testenv::ReadFile("stderr.txt");
    EXPECT_EQ(err, "usage: " + help[1] + "\n");
}

}  // namespace
