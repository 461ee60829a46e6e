// Commands of any host of the control, apart from the simulator's.
#include <map>
#include <string>

#include "host/host_commands.h"
#include "platform/platform.h"
#include "platform/sim/sim.h"

using nlohmann::json;

namespace {

// The answer every later message box gets (OK unless the host says so).
HostCommandRegistrar gMessageBoxAnswer(
    "messagebox_answer", "{\"answer\":\"ok\"|\"cancel\"|\"yes\"|\"no\"|N}: how later message boxes are answered",
    {{"answer", FieldKind::CountOrString, true}}, [](HostContext&, const json& request) -> json {
        const json& a = Field(request, "answer");
        int answer = IDOK;
        if (a.is_number_integer()) {
            answer = a.get<int>();
        } else {
            static const std::map<std::string, int> names{{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}};
            auto it = names.find(a.get<std::string>());
            if (it == names.end()) throw HostCommandError("\"answer\" is ok, cancel, yes, no or a number");
            answer = it->second;
        }
        sim::SetMessageBoxPolicy([answer](const sim::MessageBoxRecord&) { return answer; });
        return answer;
    },
    CommandSet::Host);

}  // namespace
